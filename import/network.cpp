#include "import/network.hpp"

#include <charconv>
#include <cstdint>
#include <numeric>
#include <unordered_map>
#include <unordered_set>

namespace umbrascope::import {

namespace {

// Pairs of coordinate buses joined so far, each once and in the order first joined. Buses without
// coordinates are gathered into groups joined among themselves; each group knows the coordinate
// buses it touches, and every two of those are joined through it.
class Joiner {
public:
    Joiner(int coordinate_buses, int other_buses)
        : parent_(static_cast<std::size_t>(other_buses)), touching_(static_cast<std::size_t>(other_buses)),
          stamp_(static_cast<std::size_t>(coordinate_buses), -1)
    {
        std::iota(parent_.begin(), parent_.end(), 0);
    }

    // Bus ids: coordinate buses are 0..n-1 and the others are n + group.
    void join(int a, bool a_placed, int b, bool b_placed)
    {
        if (a_placed && b_placed)
            pair(a, b);
        else if (a_placed)
            touch(a, root(b));
        else if (b_placed)
            touch(b, root(a));
        else
            merge(root(a), root(b));
    }

    std::vector<std::pair<int, int>> connections;

private:
    int root(int group)
    {
        while (parent_[static_cast<std::size_t>(group)] != group) {
            int& up = parent_[static_cast<std::size_t>(group)];
            up = parent_[static_cast<std::size_t>(up)];
            group = up;
        }
        return group;
    }

    void pair(int a, int b)
    {
        if (a == b)
            return;
        const auto key = (static_cast<std::uint64_t>(std::min(a, b)) << 32) | static_cast<std::uint32_t>(std::max(a, b));
        if (!joined_.insert(key).second)
            return;
        if (connections.size() >= static_cast<std::size_t>(most_network_entries))
            throw ImportError("the circuit joins more than " + std::to_string(most_network_entries) +
                              " pairs of buses with coordinates, more connections than Umbrascope takes");
        connections.emplace_back(a, b);
    }

    void touch(int bus, int group)
    {
        std::vector<int>& buses = touching_[static_cast<std::size_t>(group)];
        for (const int other : buses)
            if (other == bus)
                return;
        for (const int other : buses)
            pair(other, bus);
        buses.push_back(bus);
    }

    void merge(int a, int b)
    {
        if (a == b)
            return;
        std::vector<int>* big = &touching_[static_cast<std::size_t>(a)];
        std::vector<int>* small = &touching_[static_cast<std::size_t>(b)];
        if (big->size() < small->size()) {
            std::swap(a, b);
            std::swap(big, small);
        }
        ++round_;
        for (const int bus : *big)
            stamp_[static_cast<std::size_t>(bus)] = round_;
        for (const int bus : *small)
            for (const int other : *big)
                pair(other, bus);
        for (const int bus : *small)
            if (stamp_[static_cast<std::size_t>(bus)] != round_)
                big->push_back(bus);
        small->clear();
        small->shrink_to_fit();
        parent_[static_cast<std::size_t>(b)] = a;
    }

    std::vector<int> parent_;
    std::vector<std::vector<int>> touching_;
    std::vector<int> stamp_;
    int round_ = 0;
    std::unordered_set<std::uint64_t> joined_;
};

int count_parts(int buses, const std::vector<std::pair<int, int>>& connections)
{
    std::vector<int> parent(static_cast<std::size_t>(buses));
    std::iota(parent.begin(), parent.end(), 0);
    const auto root = [&](int i) {
        while (parent[static_cast<std::size_t>(i)] != i)
            i = parent[static_cast<std::size_t>(i)] = parent[static_cast<std::size_t>(parent[static_cast<std::size_t>(i)])];
        return i;
    };
    int parts = buses;
    for (const auto& [a, b] : connections) {
        const int ra = root(a), rb = root(b);
        if (ra != rb) {
            parent[static_cast<std::size_t>(ra)] = rb;
            --parts;
        }
    }
    return parts;
}

// The shortest text that reads back as the same double, without an exponent.
void append_number(std::string& out, double value)
{
    char buffer[400];
    if (value == 0)
        value = 0;  // no "-0"
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    out.append(buffer, error == std::errc() ? end : buffer);
}

std::string plural(long n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

Network join_network(CoordinateTable table, const Circuit& circuit)
{
    Network network;
    network.buses = std::move(table.buses);
    if (network.buses.size() > static_cast<std::size_t>(most_network_entries))
        throw ImportError("the coordinates give " + std::to_string(network.buses.size()) +
                          " buses, more than the " + std::to_string(most_network_entries) + " Umbrascope takes");

    // Each circuit bus is either a coordinate bus or one of the others, numbered apart.
    std::unordered_map<std::string, int> placed;
    for (std::size_t i = 0; i < network.buses.size(); ++i)
        placed.try_emplace(network.buses[i].key, static_cast<int>(i));
    std::vector<int> id(circuit.buses.size());
    std::vector<bool> is_placed(circuit.buses.size());
    std::vector<bool> named(network.buses.size());
    int others = 0;
    for (std::size_t i = 0; i < circuit.buses.size(); ++i) {
        const auto found = placed.find(circuit.buses[i]);
        is_placed[i] = found != placed.end();
        id[i] = is_placed[i] ? found->second : others++;
        if (!is_placed[i] && network.unplaced.size() < 5)
            network.unplaced.push_back(circuit.buses[i]);
        if (is_placed[i])
            named[static_cast<std::size_t>(found->second)] = true;
    }

    Joiner joiner(static_cast<int>(network.buses.size()), others);
    for (const std::vector<int>& element : circuit.elements) {
        for (std::size_t i = 0; i < element.size(); ++i)
            for (std::size_t j = i + 1; j < element.size(); ++j) {
                const auto a = static_cast<std::size_t>(element[i]);
                const auto b = static_cast<std::size_t>(element[j]);
                joiner.join(id[a], is_placed[a], id[b], is_placed[b]);
            }
    }
    network.connections = std::move(joiner.connections);
    network.elements = static_cast<int>(circuit.elements.size());
    network.bridged = others;
    network.parts = count_parts(static_cast<int>(network.buses.size()), network.connections);
    for (const bool n : named)
        network.not_in_circuit += n ? 0 : 1;
    return network;
}

std::string network_file_text(const Network& network, const std::string& origin)
{
    constexpr std::size_t longest_name = 30000;  // a line holds at most 32767 characters
    std::string out = "bus_coordinates (number,name,x,y), imported from " + origin + "\n";
    out.reserve(out.size() + network.buses.size() * 40 + network.connections.size() * 12);
    for (std::size_t i = 0; i < network.buses.size(); ++i) {
        const Bus& bus = network.buses[i];
        const auto refuse = [&](const std::string& why) {
            throw ImportError((bus.site.file.empty() ? "" : bus.site.text() + ": ") + "bus name '" + bus.name +
                              "' cannot stand in the network file: " + why);
        };
        if (bus.name.find(',') != std::string::npos)
            refuse("it holds a comma, which separates the fields");
        if (bus.name.find("bus_coordinates") != std::string::npos || bus.name.find("bus_connections") != std::string::npos)
            refuse("it holds a word that marks a section of the file");
        if (bus.name.size() > longest_name)
            refuse("it is longer than " + std::to_string(longest_name) + " characters");
        for (const char c : bus.name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                refuse("it holds a control character");
        out += std::to_string(i + 1);
        out += ',';
        out += bus.name;
        out += ',';
        append_number(out, bus.x);
        out += ',';
        append_number(out, bus.y);
        out += '\n';
    }
    out += "bus_connections (from bus index,to bus index)\n";
    for (const auto& [from, to] : network.connections) {
        out += std::to_string(from + 1);
        out += ',';
        out += std::to_string(to + 1);
        out += '\n';
    }
    return out;
}

std::string summary(const Network& network, const Circuit& circuit, const CoordinateTable& table, bool branch_table)
{
    // Each line is added with its line end first, in two steps: a text added before a fresh string
    // makes GCC 12 warn of a copy that cannot happen.
    const auto line = [](std::string& to, const std::string& text) {
        to += '\n';
        to += text;
    };
    std::string text = plural(static_cast<long>(network.buses.size()), "bus", "buses") + ", " +
                       plural(static_cast<long>(network.connections.size()), "connection", "connections") + " from " +
                       plural(network.elements, "element", "elements") + "; " +
                       plural(network.bridged, "bus without coordinates bridged", "buses without coordinates bridged") +
                       "; " + plural(network.parts, "separate part", "separate parts");
    if (circuit.left_out > 0)
        line(text, plural(circuit.left_out, "open switch or disabled element", "open switches or disabled elements") +
                   " left out: the network is the circuit as switched");
    if (network.not_in_circuit > 0)
        line(text, plural(network.not_in_circuit, "bus", "buses") +
                   (branch_table ? " of the bus table on no branch" : " of the coordinates that no element in service names") +
                   ": each is drawn on its own, a separate part");
    if (branch_table && network.bridged > 0) {
        line(text, plural(network.bridged, "name", "names") + " of the branch table not in the bus table, joined through: ");
        for (std::size_t i = 0; i < network.unplaced.size(); ++i)
            text += (i > 0 ? ", " : "") + network.unplaced[i];
        if (network.bridged > static_cast<int>(network.unplaced.size()))
            text += ", ...";
    }
    if (table.repeated > 0)
        line(text, plural(table.repeated, "coordinate line", "coordinate lines") +
                   " naming a bus already given, in some letter case, the first at " + table.first_repeated->text() +
                   ": the first of each name kept");
    if (table.skipped > 0)
        line(text, plural(table.skipped, "line", "lines") + " of the coordinate file with numbers but not \"name, x, y\", " +
                   "the first at " + table.first_skipped->text() + ": passed over");
    if (circuit.skipped > 0)
        line(text, plural(circuit.skipped, "command", "commands") + " not understood and skipped, the first at " +
                   circuit.first_skipped->text());
    return text;
}

}  // namespace umbrascope::import

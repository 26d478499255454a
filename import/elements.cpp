#include "import/elements.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <queue>
#include <unordered_map>

#include "core/csv.hpp"

namespace umbrascope::import {

namespace {

constexpr int unreached = -1;

}  // namespace

std::vector<int> nearest_drawn(const Circuit& circuit, const Network& network)
{
    const std::size_t buses = circuit.buses.size();
    // Each circuit bus's drawn bus, by its index in the coordinate file; unreached for the others.
    std::unordered_map<std::string, int> drawn_index;
    for (std::size_t i = 0; i < network.buses.size(); ++i)
        drawn_index.try_emplace(network.buses[i].key, static_cast<int>(i));
    std::vector<int> drawn(buses, unreached);
    for (std::size_t b = 0; b < buses; ++b)
        if (const auto found = drawn_index.find(circuit.buses[b]); found != drawn_index.end())
            drawn[b] = found->second;

    // The elements at each bus, packed.
    std::vector<std::size_t> first(buses + 1, 0);
    for (const std::vector<int>& element : circuit.elements)
        for (const int bus : element)
            ++first[static_cast<std::size_t>(bus) + 1];
    for (std::size_t b = 0; b < buses; ++b)
        first[b + 1] += first[b];
    std::vector<std::size_t> at_bus(first.back());
    std::vector<std::size_t> filled(first.begin(), first.end() - 1);
    for (std::size_t e = 0; e < circuit.elements.size(); ++e)
        for (const int bus : circuit.elements[e])
            at_bus[filled[static_cast<std::size_t>(bus)]++] = e;

    // Outward from every drawn bus at once, one hop a round, through buses that are not drawn; a
    // bus reached by several in the same round takes the earliest in the coordinate file.
    std::vector<int> nearest = drawn;
    std::vector<int> hops(buses, unreached);
    std::vector<int> round;
    for (std::size_t b = 0; b < buses; ++b)
        if (drawn[b] != unreached) {
            hops[b] = 0;
            round.push_back(static_cast<int>(b));
        }
    std::vector<int> next;
    for (int hop = 1; !round.empty(); ++hop) {
        next.clear();
        for (const int from : round) {
            const auto f = static_cast<std::size_t>(from);
            for (std::size_t k = first[f]; k < first[f + 1]; ++k)
                for (const int to : circuit.elements[at_bus[k]]) {
                    const auto t = static_cast<std::size_t>(to);
                    if (drawn[t] != unreached)
                        continue;
                    if (hops[t] == unreached) {
                        hops[t] = hop;
                        nearest[t] = nearest[f];
                        next.push_back(to);
                    } else if (hops[t] == hop) {
                        nearest[t] = std::min(nearest[t], nearest[f]);
                    }
                }
        }
        round.swap(next);
    }
    return nearest;
}

std::vector<StandIn> stand_ins(const Circuit& circuit, const Network& network)
{
    const std::vector<int> nearest = nearest_drawn(circuit, network);
    std::vector<StandIn> out;
    out.reserve(circuit.power_elements.size());
    for (const PowerElement& element : circuit.power_elements) {
        StandIn row{element.name, {}, {}};
        if (element.bus >= 0) {
            const auto b = static_cast<std::size_t>(element.bus);
            row.bus = circuit.buses[b];
            if (nearest[b] >= 0)
                row.drawn_bus = network.buses[static_cast<std::size_t>(nearest[b])].name;
        }
        out.push_back(std::move(row));
    }
    return out;
}

CircuitRecord circuit_record(const Circuit& circuit, const Network& network, const std::filesystem::path& entry)
{
    CircuitRecord out;
    out.entry = entry;
    out.circuit = circuit.name;
    out.source_bus = circuit.source_bus;
    out.control_mode = circuit.control_mode;
    for (const Span& span : circuit.spans)
        out.lines_without_units += span.unitless ? 1 : 0;
    const std::vector<int> nearest = nearest_drawn(circuit, network);
    for (std::size_t b = 0; b < circuit.buses.size(); ++b)
        if (circuit.buses[b] == circuit.source_bus && nearest[b] >= 0)
            out.source_drawn_bus = network.buses[static_cast<std::size_t>(nearest[b])].name;
    // What one network unit is by the lengths of the lines between drawn buses: the median of
    // their length over the straight distance (a line runs as far as its buses lie apart, or
    // further along a street).
    std::unordered_map<std::string, std::size_t> placed;
    for (std::size_t i = 0; i < network.buses.size(); ++i)
        placed.emplace(network.buses[i].key, i);
    std::vector<double> ratios;
    for (const LineLength& line : circuit.lengths) {
        const auto a = placed.find(circuit.buses[static_cast<std::size_t>(line.from)]);
        const auto b = placed.find(circuit.buses[static_cast<std::size_t>(line.to)]);
        if (a == placed.end() || b == placed.end())
            continue;
        const Bus& p = network.buses[a->second];
        const Bus& q = network.buses[b->second];
        const double apart = std::hypot(p.x - q.x, p.y - q.y);
        if (apart > 0)
            ratios.push_back(line.metres / apart);
    }
    if (ratios.size() >= 3) {
        std::nth_element(ratios.begin(), ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2), ratios.end());
        out.metres_per_unit_by_lines = ratios[ratios.size() / 2];
    }
    return out;
}

std::vector<DrawnDistance> distances_along_lines(const Circuit& circuit, const Network& network)
{
    const std::size_t buses = circuit.buses.size();
    std::vector<std::vector<std::pair<int, double>>> next(buses);
    for (const Span& span : circuit.spans) {
        next[static_cast<std::size_t>(span.from)].emplace_back(span.to, span.metres);
        next[static_cast<std::size_t>(span.to)].emplace_back(span.from, span.metres);
    }
    std::vector<double> metres(buses, -1);
    std::unordered_map<std::string, int> index;
    for (std::size_t b = 0; b < buses; ++b)
        index.emplace(circuit.buses[b], static_cast<int>(b));
    if (const auto source = index.find(circuit.source_bus); source != index.end()) {
        using Reached = std::pair<double, int>;
        std::priority_queue<Reached, std::vector<Reached>, std::greater<>> queue;
        metres[static_cast<std::size_t>(source->second)] = 0;
        queue.emplace(0, source->second);
        while (!queue.empty()) {
            const auto [d, at] = queue.top();
            queue.pop();
            if (d > metres[static_cast<std::size_t>(at)])
                continue;
            for (const auto& [to, length] : next[static_cast<std::size_t>(at)]) {
                double& best = metres[static_cast<std::size_t>(to)];
                if (best < 0 || d + length < best) {
                    best = d + length;
                    queue.emplace(best, to);
                }
            }
        }
    }
    std::vector<DrawnDistance> out;
    out.reserve(network.buses.size());
    for (const Bus& bus : network.buses) {
        DrawnDistance row{bus.name, std::nullopt};
        if (const auto found = index.find(bus.key); found != index.end() && metres[static_cast<std::size_t>(found->second)] >= 0)
            row.km = metres[static_cast<std::size_t>(found->second)] / 1000;
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace umbrascope::import

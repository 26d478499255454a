// The importer on any bytes: a circuit of several files (the input's parts between NUL bytes are
// m.dss, f1.dss, f2.dss, ...), the coordinate readers on the last part, the network file made
// from them, and the drawn bus standing for each element that makes or takes power.

#include <string_view>

#include "fuzz/harness.hpp"
#include "import/elements.hpp"
#include "import/network.hpp"

using namespace umbrascope;
using namespace umbrascope::import;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    MemoryFiles files;
    std::string_view last;
    for (int part = 0;; ++part) {
        const std::size_t end = input.find('\0');
        last = input.substr(0, end);
        files.add(part == 0 ? "m.dss" : "f" + std::to_string(part) + ".dss", std::string(last));
        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    try {
        const Circuit circuit = read_circuit("m.dss", files);
        for (const std::vector<int>& element : circuit.elements)
            for (const int bus : element)
                fuzz::require(bus >= 0 && static_cast<std::size_t>(bus) < circuit.buses.size());
        fuzz::require(circuit.skipped == 0 || circuit.first_skipped.has_value());
        const bool latlong = circuit.coordinates && circuit.coordinates->latlong;
        const Network network = join_network(read_coordinates(last, "c.csv", latlong ? Degrees::latitude_first : Degrees::none), circuit);
        fuzz::require(network.connections.size() <= static_cast<std::size_t>(most_network_entries));
        for (const auto& [a, b] : network.connections)
            fuzz::require(a != b && a >= 0 && b >= 0 && static_cast<std::size_t>(std::max(a, b)) < network.buses.size());
        (void)network_file_text(network, "m.dss");
        const std::vector<StandIn> elements = stand_ins(circuit, network);
        fuzz::require(elements.size() == circuit.power_elements.size());
        for (const StandIn& element : elements) {
            bool drawn = element.drawn_bus.empty();
            for (const Bus& bus : network.buses)
                drawn = drawn || bus.name == element.drawn_bus;
            fuzz::require(drawn);
        }
        (void)elements_file_text(elements);
    } catch (const ImportError&) {
    }
    try {
        (void)read_coordinates(last, "c.csv", Degrees::longitude_first);
    } catch (const ImportError&) {
    }
    try {
        const CoordinateTable table = read_bus_table(last, "b.csv");
        std::vector<std::string> known;
        for (const Bus& bus : table.buses)
            known.push_back(bus.key);
        std::string why;
        (void)join_network(table, read_branch_table(files.read("m.dss", why).value_or(""), "r.csv", known));
    } catch (const ImportError&) {
    }
    return 0;
}

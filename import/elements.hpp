#pragma once
// The feeder's elements that make or take power where the sun falls (Loads, PVSystems, Generators
// and Storage), each with the drawn bus that stands for it: its own bus when that is drawn, else
// the drawn bus nearest by hops through elements in service, walking only through buses that are
// not drawn (such as a service transformer's secondary), the earlier in the coordinate file on a
// tie. So each PV system can take the sunlight of the bus the picture shows for it.

#include <filesystem>
#include <string>
#include <vector>

#include "import/network.hpp"

namespace umbrascope::import {

inline constexpr const char* elements_file_name = "feeder_elements.csv";
inline constexpr const char* circuit_record_name = "feeder_circuit.txt";

struct StandIn {
    std::string element;    // "PVSystem.pv_12", as spelt after New
    std::string bus;        // its bus1, lower case, without node suffix; empty when it names none
    std::string drawn_bus;  // the network file's name of the drawn bus for it; empty when none
};

// Each circuit bus's drawn bus, as an index into the network's buses; -1 where none is reached.
[[nodiscard]] std::vector<int> nearest_drawn(const Circuit& circuit, const Network& network);

[[nodiscard]] std::vector<StandIn> stand_ins(const Circuit& circuit, const Network& network);

// The file: "element,bus,drawn_bus", then a line for each, fields quoted where they must be.
[[nodiscard]] std::string elements_file_text(const std::vector<StandIn>& elements);

// The record of where a network came from, which a study of it needs: "key=value" lines giving
// the circuit's entry file, its name, its source bus and the drawn bus that stands for it.
[[nodiscard]] std::string circuit_record_text(const Circuit& circuit, const Network& network,
                                              const std::filesystem::path& entry);
// The same record for a network of two tables, which has no circuit to study.
[[nodiscard]] std::string tables_record_text(const std::string& origin);

}  // namespace umbrascope::import

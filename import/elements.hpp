#pragma once
// The feeder's elements that make or take power where the sun falls (Loads, PVSystems, Generators
// and Storage), each with the drawn bus that stands for it: its own bus when that is drawn, else
// the drawn bus nearest by hops through elements in service, walking only through buses that are
// not drawn (such as a service transformer's secondary), the earlier in the coordinate file on a
// tie. So each PV system can take the sunlight of the bus the picture shows for it.

#include <string>
#include <vector>

#include "import/network.hpp"

namespace umbrascope::import {

inline constexpr const char* elements_file_name = "feeder_elements.csv";

struct StandIn {
    std::string element;    // "PVSystem.pv_12", as spelt after New
    std::string bus;        // its bus1, lower case, without node suffix; empty when it names none
    std::string drawn_bus;  // the network file's name of the drawn bus for it; empty when none
};

[[nodiscard]] std::vector<StandIn> stand_ins(const Circuit& circuit, const Network& network);

// The file: "element,bus,drawn_bus", then a line for each, fields quoted where they must be.
[[nodiscard]] std::string elements_file_text(const std::vector<StandIn>& elements);

}  // namespace umbrascope::import

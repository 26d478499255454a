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
#include "model/circuit_record.hpp"
#include "model/distances.hpp"
#include "model/element_map.hpp"

namespace umbrascope::import {

using umbrascope::StandIn;

// Each circuit bus's drawn bus, as an index into the network's buses; -1 where none is reached.
[[nodiscard]] std::vector<int> nearest_drawn(const Circuit& circuit, const Network& network);

[[nodiscard]] std::vector<StandIn> stand_ins(const Circuit& circuit, const Network& network);

// The record of where a network came from, which a study of it needs: the circuit's entry file,
// its name, its source bus and the drawn bus that stands for it, what a network unit is by its
// line lengths, and the control mode it sets.
[[nodiscard]] CircuitRecord circuit_record(const Circuit& circuit, const Network& network,
                                           const std::filesystem::path& entry);

// Each drawn bus's distance from the circuit's source along its spans (lines in their units,
// other elements 0), the shortest way, as OpenDSS measures a bus's distance from a meter at the
// feeder's head; nothing where no span leads to it.
[[nodiscard]] std::vector<DrawnDistance> distances_along_lines(const Circuit& circuit, const Network& network);

}  // namespace umbrascope::import

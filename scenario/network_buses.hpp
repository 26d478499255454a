#pragma once
// The buses of a folder's network file, read as the picture reads them, so that the sun table's
// columns are the picture's bus indexes.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "scenario/sun_model.hpp"

namespace umbrascope::scenario {

struct NetworkBuses {
    std::vector<Place> places;       // by bus index, from 0
    std::vector<std::string> names;  // UTF-8
    int connections = 0;
    std::vector<std::pair<int, int>> joined;  // each connection's two buses, by index from 0
};

// Throws ScenarioError with the reader's message.
[[nodiscard]] NetworkBuses read_network_buses(const std::filesystem::path& folder);

}  // namespace umbrascope::scenario

#pragma once

#include <optional>

#include "core/run_state.hpp"

namespace umbrascope {

// Every pass: draws the network for row i_time over the clouds, in three complete layers: a
// marker circle at every bus, a line for every connection, and a shaded disc at every bus whose
// colour is the class of its sun intensity.
void draw_network(Pass& pass);

struct PlotPosition {
    int x;
    int y;
};

// Where bus k's marker stands, in plot units, as draw_network places it; nothing when it cannot be
// placed (an index outside the tables, a mapping that fails). For labels and tooltips: it reads the
// run state and changes nothing.
[[nodiscard]] std::optional<PlotPosition> bus_marker_position(const RunState& st, int k);

}  // namespace umbrascope

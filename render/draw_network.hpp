#pragma once

#include "core/run_state.hpp"

namespace umbrascope {

// Every pass: draws the network for row i_time over the clouds, in three complete layers: a
// marker circle at every bus, a line for every connection, and a shaded disc at every bus whose
// colour is the class of its sun intensity.
void draw_network(Pass& pass);

}  // namespace umbrascope

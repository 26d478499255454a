#pragma once

#include "core/run_state.hpp"

namespace umbrascope {

// First pass: the extent of the buses (echoed), the plot area inside the plot frame, the one
// scale for both axes, and the vertical centring of a network wider than it is high.
void compute_plot_geometry(Pass& pass);

// Every pass: paints the plot frame and a 20-unit border around it white.
void clear_plot_frame(Pass& pass);

}  // namespace umbrascope

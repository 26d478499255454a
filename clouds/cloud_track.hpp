#pragma once

#include "core/run_state.hpp"

namespace umbrascope {

// First pass: opens the track file, reads its parameter line (line 4) and turns the cloud shape
// into plot-unit constants. The file stays open, positioned at its first cloud record.
void read_cloud_parameters(Pass& pass);

// Every pass: reads on in the track file and draws each accepted cloud of step i_time as a dotted
// turned square with two dotted circles. Stops after the first record of a later step, which the
// input slot holds for the next pass to read first. Leaves the line style solid.
void draw_step_clouds(Pass& pass);

}  // namespace umbrascope

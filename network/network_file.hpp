#pragma once

#include "core/run_state.hpp"

namespace umbrascope {

// Reads the buses and connections of the network file into the run state, echoing every line as
// read into Coordinates_Listbox and every stored record, rebuilt, into Coordinates_Repeated_Listbox.
void read_network_file(Pass& pass);

}  // namespace umbrascope

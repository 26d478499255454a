#pragma once

#include "core/run_state.hpp"

namespace umbrascope {

// First pass: loads the whole sun table into time_val and sun_table, echoes its six header lines,
// its first row as read, its last row as read and the last row rebuilt from the stored cells into
// Info_Listbox, then sets n_time to the number of data rows and i_time to 1.
void read_sun_table(Pass& pass);

}  // namespace umbrascope

#pragma once

#include "core/run_state.hpp"

namespace umbrascope {

// First pass: loads the whole sun table into time_val and sun_table, echoes its six header lines,
// its first row as read, its last row as read and the last row rebuilt from the stored cells into
// Info_Listbox, then sets n_time to the number of data rows and i_time to 1.
// The data rows are read many at a time, the usual rows converted on two threads, or one at a time;
// both store the same cells, echo the same lines and fail with the same error.
enum class RowReading { in_blocks, one_by_one };
void read_sun_table(Pass& pass, RowReading reading = RowReading::in_blocks);

}  // namespace umbrascope

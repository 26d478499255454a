#pragma once
// What a first pass read that is allowed but most likely not meant: sun-table rows with more or
// fewer values than the network has buses, a network without buses, a network so small that it
// is drawn as a dot. Warnings only: the run goes on exactly as it would, and the trace has none.

#include <string>
#include <vector>

#include "core/run_state.hpp"

namespace umbrascope {

// The warnings about the files a successful first pass read, one line each.
[[nodiscard]] std::vector<std::string> first_pass_warnings(const RunState& st);

}  // namespace umbrascope

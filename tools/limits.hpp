#pragma once
// Input files at the system's limits: 25 buses, 100 connections, a sun table of 2000 rows by 26
// fields, and a track of 4 clouds per step over 2000 steps. For benchmarks and soak runs. The large
// feeder, for runs with large inputs: 2500 buses on a 50 x 50 grid, 5000 connections, a sun table
// of 8000 rows by 2501 fields (about 120 MB), and 4 clouds per step over 8000 steps.

#include <filesystem>

namespace umbrascope::tools {

struct LimitOptions {
    bool bad_record_every_tenth_step = false;  // each tenth step holds a record whose x is not a number
    bool large = false;                        // the large feeder
};

// Writes the three input files into `folder`, which must exist; false when they cannot be written.
bool write_limit_inputs(const std::filesystem::path& folder, const LimitOptions& options = {});

}  // namespace umbrascope::tools

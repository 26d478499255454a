#pragma once
// Input files at the system's limits: 25 buses, 100 connections, a sun table of 2000 rows by 26
// fields, and a track of 4 clouds per step over 2000 steps. For benchmarks and soak runs.

#include <filesystem>

namespace umbrascope::tools {

struct LimitOptions {
    bool bad_record_every_tenth_step = false;  // each tenth step holds a record whose x is not a number
};

// Writes the three input files into `folder`; false when they cannot be written.
bool write_limit_inputs(const std::filesystem::path& folder, const LimitOptions& options = {});

}  // namespace umbrascope::tools

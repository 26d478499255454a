#pragma once
// Reading a study split in time: a slice the sweep's worker ran, checked whole; and every slice's
// own rows stitched into the whole run's tables, with what each boundary says of the overlap.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "study/controls.hpp"
#include "study/plan.hpp"
#include "study/slices.hpp"
#include "study/study.hpp"
#include "study/voltages.hpp"

namespace umbrascope::study {

// A slice the sweep's worker ran: whole, and of the slicing the study records, or refused.
[[nodiscard]] ReadResult check_slice(const std::filesystem::path& folder, const std::filesystem::path& out,
                                     const std::string& mark, const std::string& run, const std::string& circuit);

struct SlicesRead {
    FromMonitors first;                    // the whole run's tables, and what the first slice told
    std::optional<ControlsRead> controls;
    std::optional<VoltageTables> clear;
    std::vector<std::string> summary;
    std::string report;                    // slices_report.csv
};

// Every slice's own rows into the whole run's tables, the overlap of each dropped and the control
// counts added up, and what each boundary says of the overlap. Refuses a slice not run whole, or
// run for another slicing, naming it and the command that runs it.
[[nodiscard]] SlicesRead read_slices(const std::filesystem::path& folder, const Slicing& slicing,
                                     const std::string& circuit, const std::string& run,
                                     const std::vector<Monitor>& monitors, const std::vector<ControlWatch>& watches,
                                     const Drawn& drawn, const Sky& sky, bool twin_voltages);

}  // namespace umbrascope::study

#pragma once
// What a sweep's cases were planned from: its circuit's files and each sky's sun table and
// loadshapes, fingerprinted at planning and compared again before any case runs or is gathered,
// so that an input edited since is named instead of run or stated.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "sweep/cases.hpp"

namespace umbrascope::sweep {

// The circuit's files as the import reads them now: all together, and each file's own.
struct CircuitPrints {
    std::string all;
    std::vector<std::pair<std::filesystem::path, std::string>> files;
};
// Throws SweepError where the circuit cannot be read.
[[nodiscard]] CircuitPrints circuit_prints(const std::filesystem::path& entry);

// The sky's sun table and loadshapes now, fingerprinted into `sky`. Throws SweepError.
void fingerprint_sky(Sky& sky);

// What differs between a sky as planned (`before`) and as it is now (`now`): "" where nothing does.
[[nodiscard]] std::string sky_change(const Sky& before, const Sky& now);
// What differs between the circuit's files as planned and now: "" where nothing does.
[[nodiscard]] std::string circuit_change(const Record& record, const CircuitPrints& now);

// Refuses, in one line naming the file and giving the command that plans the sweep again, a
// sweep whose circuit or skies changed since it was planned. A study's slices are not a planned
// sweep's cases, and pass. Throws SweepError.
void refuse_changed_inputs(const std::filesystem::path& sweep);

}  // namespace umbrascope::sweep

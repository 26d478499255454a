#pragma once
// A study split in time runs through the sweep's runner: its slices are the cases of a sweep
// folder beside them (FOLDER/slices), run in the same local pool or Slurm array, each one the
// engine on its script and a check that its exports are whole; read stitches them.

#include <filesystem>
#include <optional>

namespace umbrascope::sweep {

// Makes FOLDER/slices the sweep of the slices `umbrascope-study write FOLDER --slices` wrote:
// its cases, its one sky, and each slice's planned fingerprint. A slice whose script changed
// loses its status, so that it runs again. Throws SweepError.
void adopt_slices(const std::filesystem::path& folder, const std::filesystem::path& shapes);

// The sweep folder of a study's slices, where `folder` is a study written with --slices and not
// itself a sweep; nothing otherwise.
[[nodiscard]] std::optional<std::filesystem::path> slices_sweep(const std::filesystem::path& folder);

}  // namespace umbrascope::sweep

#pragma once
// A study split in time runs through the sweep's runner: its slices are the cases of a sweep
// folder beside them (FOLDER/slices), run in the same local pool or Slurm array, each one the
// engine on its script and a check that its exports are whole; read stitches them.

#include <filesystem>
#include <optional>
#include <vector>

namespace umbrascope::sweep {

// Makes FOLDER/slices the sweep of the slices `umbrascope-study write FOLDER --slices` wrote:
// its cases, its one sky, and each slice's planned fingerprint. A slice whose script changed
// loses its status, so that it runs again. Throws SweepError.
void adopt_slices(const std::filesystem::path& folder, const std::filesystem::path& shapes);

// The sweep folder of a study's slices, where `folder` is a study written with --slices and not
// itself a sweep; nothing otherwise.
[[nodiscard]] std::optional<std::filesystem::path> slices_sweep(const std::filesystem::path& folder);

// A round of handing on, after the slices ran: the study written again with --hand-on, as it was
// written (its loadshapes, twin, slices and overlap), its slices adopted again. `anew` are the
// slices handed on anew, which run again; none once every slice follows the slice before's run, or
// has no row left to be handed from. Throws SweepError.
struct HandOnRound {
    std::vector<int> anew;
    std::vector<int> unfollowed;
};
[[nodiscard]] HandOnRound hand_on_round(const std::filesystem::path& folder);

}  // namespace umbrascope::sweep

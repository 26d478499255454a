#pragma once
// Any row at once: the run as it stands at the start of any pass, so that one pass draws that row
// exactly as a straight run from the first pass draws it, without the passes before it.

#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/run_state.hpp"

namespace umbrascope {

// Where the track file stands at the start of each row's pass: the byte and line after which the
// pass reads on, records of earlier steps passed over as the straight run passes over them.
class TrackIndex {
public:
    // Reads the track file in `folder` once, records from line 5 on, as the passes read them, for
    // rows 1 to st.n_time. A record whose step is not a number ends the index before the row
    // whose pass would fail on it.
    TrackIndex(const std::filesystem::path& folder, const RunState& st);

    // Whether the pass of `row` can be run on its own.
    [[nodiscard]] bool reaches(int row) const { return row >= 1 && row <= static_cast<int>(starts_.size()); }

    struct Start {
        std::uint64_t offset;
        long line;
    };
    [[nodiscard]] const Start& start(int row) const { return starts_.at(static_cast<std::size_t>(row - 1)); }

private:
    std::vector<Start> starts_;
};

// Runs the pass that draws `row` (from 1 to n_time) as pass number `row` of a straight run would,
// after a first pass has read the files: the counter shows the row, the track file is taken up
// where that pass finds it, and the picture, i_time and Timer1 end as they would. Throws PassError.
void jump_to_row(Pass& pass, const TrackIndex& index, int row);

}  // namespace umbrascope

#include "run/row_jump.hpp"

#include <optional>

#include "run/pass_driver.hpp"
#include "core/scan.hpp"

namespace umbrascope {

TrackIndex::TrackIndex(const std::filesystem::path& folder, const RunState& st)
{
    InputSlot input(folder);
    try {
        input.open(track_file_name);
        Text line;
        for (int skipped = 1; skipped <= 4; ++skipped)
            input.read_line(line, track_file_name);
        Start next{input.offset(), input.line_number()};
        // The record that stopped the last pass: the next pass reads it first.
        std::optional<Integer> held;
        for (int row = 1; row <= st.n_time.value(); ++row) {
            starts_.push_back(next);
            if (held && *held > row)
                continue;  // it stops this pass too
            held.reset();
            next = Start{input.offset(), input.line_number()};
            // The pass of this row reads records until one of a later step, which opens the next.
            while (!input.at_end(track_file_name)) {
                const Start record{input.offset(), input.line_number()};
                input.read_line(line, track_file_name);
                Site site{input.file_name(), input.line_number(), 1};
                const Integer pos = find_delim(line, Integer{0}, st.delim, site);
                const Integer step = text_to_integer(cut_field(line, Integer{0}, pos, site, "\",\" before the cloud's x"), site);
                if (step > row) {
                    next = record;
                    held = step;
                    break;
                }
                next = Start{input.offset(), input.line_number()};
            }
        }
    } catch (const PassError&) {
        // The straight run fails at this record too; rows from the one that meets it are run in
        // order instead.
    }
}

void jump_to_row(Pass& pass, const TrackIndex& index, int row)
{
    RunState& st = pass.st;
    const TrackIndex::Start& start = index.start(row);
    pass.input.close();
    pass.input.open_at(track_file_name, start.offset, start.line);
    st.num_pass = Integer(static_cast<std::int16_t>(row));
    pass.controls.set_pass_text(integer_text(st.num_pass));
    st.i_time = Integer(static_cast<std::int16_t>(row));
    draw_row(pass);
}

}  // namespace umbrascope

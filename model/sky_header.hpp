#pragma once
// What a sun table's header says, where umbrascope-clouds wrote it: that its time column is in
// seconds, the clock time of its first row, and the buses it was made for. A table of another
// making says none of it, and runs as it always has.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace umbrascope {

struct SkyHeader {
    bool seconds = false;            // the time column counts seconds
    std::optional<double> interval;  // seconds a row
    std::optional<double> start;     // the clock time of the first row, seconds after midnight
    std::string units;               // what one network unit is ("ft", "m", "km"), "" when not told
    std::vector<std::string> names;  // the buses it was made for; empty where it does not name them
    // Where the folder is a part of a longer sky (cloud_rows_part.txt): its first row's number in
    // the whole sky less one, and the whole sky's rows; 0 and 0 otherwise.
    long row_offset = 0;
    long rows_total = 0;
    // A row of the run as the whole sky numbers it.
    [[nodiscard]] long sky_row(int row) const { return row + row_offset; }
};

// What the six header lines of a sun table say.
[[nodiscard]] SkyHeader sky_header_of(const std::vector<std::string>& lines);
// Reads the header of the sun table in `folder`; nothing is known where there is none.
[[nodiscard]] SkyHeader read_sky_header(const std::filesystem::path& folder);

// How a row's time reads: "10:14:20" with a clock, "t = 860 s" in seconds, else "time 860" as the
// table has it. `time` is the row's time field as the run read it ("" for an empty cell).
[[nodiscard]] std::string time_label(const SkyHeader& sky, const std::string& time);

// Why the sun table of `folder` cannot be run with its network: its header names other buses than
// the network file's. Nothing where they agree, or where the header names none.
[[nodiscard]] std::optional<std::string> sun_table_mismatch(const std::filesystem::path& folder);

}  // namespace umbrascope

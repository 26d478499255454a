#pragma once
// A part of a sky too long for one run. The passes count rows in 16 bits, so a run holds at most
// 32,766 rows; a day at one second has 43,200. A part is a folder of its own holding rows FIRST to
// LAST of a folder's sky as a sky of that many rows: the network, the sun table's header and those
// rows, the cloud track's records of those steps (renumbered from 1), and the study's voltage
// tables, controls table and measured sky's field cut to the same rows, each naming the part's
// sun table as the sky it was made for. Each row keeps its time, so the band and the page say the
// day's clock; cloud_rows_part.txt says which rows of which folder it holds, so that they are
// numbered as the day's.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

inline constexpr int most_rows_in_a_run = 32766;
inline constexpr std::string_view part_file_name = "cloud_rows_part.txt";

// A part that cannot be made: the message names the file and the reason.
class PartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The data rows of the sun table in `folder`: its lines after the six of its header. Throws
// PartError where it cannot be read.
[[nodiscard]] long sun_table_rows(const std::filesystem::path& folder);

// Rows `first` to `last` of `folder`'s sky, in a new folder under the system's temporary folder,
// removed with this. Throws PartError for rows out of the sky or more than a run holds, a file
// that cannot be read and one that cannot be written (a full disk), leaving nothing behind.
class RowPart {
public:
    RowPart(const std::filesystem::path& folder, long first, long last);
    RowPart(const RowPart&) = delete;
    RowPart& operator=(const RowPart&) = delete;
    ~RowPart();

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] long first() const { return first_; }
    [[nodiscard]] long last() const { return last_; }
    [[nodiscard]] long rows() const { return rows_; }  // of the whole sky
    // A message about the part's files with their lines as the folder's own files number them
    // ("cloud_sun_intensity_table.txt line 68" in the part is line 32767 of the whole table).
    [[nodiscard]] std::string whole_lines(std::string message) const;

private:
    std::filesystem::path path_;
    long first_ = 1, last_ = 0, rows_ = 0;
    std::vector<long> track_lines_;  // each line of the part's track (index line - 1): its line in the folder's
};

// What cloud_rows_part.txt in `folder` says: the first row's number in the whole sky less one,
// and the whole sky's rows; {0, 0} where the folder is no part.
struct PartRows {
    long offset = 0;
    long rows = 0;
};
[[nodiscard]] PartRows read_part_rows(const std::filesystem::path& folder);

}  // namespace umbrascope

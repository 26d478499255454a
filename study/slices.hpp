#pragma once
// A study split in time: slice k solves rows first..last, settling at `first` and running the
// overlap before its own rows from `own`, so that its regulators and capacitors have come to
// where the whole run would have them. Each slice is a script of its own in a folder of its own,
// run side by side; read stitches their own rows into the same tables as the whole run's.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "study/controls.hpp"
#include "study/voltages.hpp"

namespace umbrascope::study {

inline constexpr std::string_view slices_folder_name = "slices";
inline constexpr std::string_view slicing_name = "slicing.csv";
// What read says of each boundary between slices, beside the study's reports.
inline constexpr std::string_view slices_report_name = "slices_report.csv";
// The line a slice's script carries: "! A slice of the study of FOLDER: ...".
inline constexpr std::string_view slice_mark = "! A slice of the study of ";
// Beside a handed slice's script: the states it was handed, which writing it again hands again.
inline constexpr std::string_view handed_file_name = "handed.csv";

struct Slice {
    int number = 1;     // from 1
    int first = 1;      // the row its settle and series begin at
    int own = 1;        // its own first row: rows first..own-1 are the overlap
    int last = 1;       // its last row
    // Handed on: its regulators and capacitors begin at `first` where the slice before's run had
    // them in that row, instead of settling there; the fingerprint of the states handed, "" for a
    // slice that settles.
    std::string handed;
    // The first row whose voltages it records: the overlap's last, which the boundary compares
    // with the slice before; the rows before are solved for the controls alone.
    [[nodiscard]] int recorded() const { return own - first > 1 ? own - 1 : first; }
};

struct Slicing {
    std::string run;           // of the whole study the slices cut
    int rows = 0;              // of the whole study
    double overlap_s = 0;
    std::vector<Slice> slices;
};

// N slices of `rows`, as even as whole rows make them, each but the first starting `overlap`
// rows before its own (not before row 1). Throws StudyError, in one line, for more slices than
// rows, or an overlap longer than the shortest slice.
[[nodiscard]] std::vector<Slice> plan_slices(int rows, int count, int overlap);

// "slice 3", "slices 3 and 5", "slices 3, 5 and 9".
[[nodiscard]] std::string slices_named(const std::vector<int>& numbers);

// The slice's folder under the study's: FOLDER/slices/cases/slice03, numbered with as many digits
// as the count needs, at least two.
[[nodiscard]] std::string slice_name(int number, int count);
[[nodiscard]] std::filesystem::path slice_folder(const std::filesystem::path& folder, int number, int count);
// The export a slice's script makes last but its end: which rows it ran.
[[nodiscard]] std::string slice_export_name(const std::string& run, const Slice& slice);

[[nodiscard]] std::string slicing_text(const Slicing& slicing);
// FOLDER/slices/slicing.csv; nothing where there is none. Throws StudyError for one that is not
// whole, or whose slices overlap or leave rows out.
[[nodiscard]] std::optional<Slicing> read_slicing(const std::filesystem::path& folder);

// Where a slice's overlap (its run `mine`, from row `first`) had its controls elsewhere than the slice
// before's run (`before`, its own rows from `before_own`): the first and last such rows, and the
// control first elsewhere; nothing where they were the same in every row.
struct OverlapDifference {
    int first = 0, last = 0;
    std::string control;
};
[[nodiscard]] std::optional<OverlapDifference> overlap_difference(const ControlsRun& before, int before_own,
                                                                  const ControlsRun& mine, int first);
// Whether a slice from `first` to its own row `own` followed the slice before: no difference, or
// none in the second half of its overlap.
[[nodiscard]] bool followed(const std::optional<OverlapDifference>& difference, int first, int own);

// What a boundary between two slices says of the overlap: at the last row of the slice before,
// the largest difference of a bus's voltage, and the controls whose states differ there; and
// where over the overlap the slice's controls were elsewhere than the slice before's.
struct Boundary {
    int row = 0;                   // the slice before's last row, the overlap's last
    double volts = 0;              // pu, the largest difference of the lowest or highest voltage
    std::string bus;               // where
    std::vector<std::string> controls;  // "reg1 7 against 8": the slice's own, then the slice before's
    std::vector<std::string> clear_controls;  // the same under the clear-sky twin
    int first = 0;                 // the slice's first row
    std::optional<OverlapDifference> difference, clear_difference;
};

// The controls whose state where a slice's overlap ends (`mine`) differs from the slice before's
// in its last row: "reg1 7 against 8", the slice's own, then the slice before's.
[[nodiscard]] std::vector<std::string> controls_differing(const ControlsRun& before, const ControlsRun& mine);

// Stitching, slice by slice in order: each slice's own rows into the whole run's tables.
class Stitch {
public:
    Stitch(const Slicing& slicing, int buses);
    // Slice k's tables, of its rows recorded()..last; gives the boundary with the slice before
    // (none for the first). `clear` for the twin's.
    void add_voltages(const Slice& slice, const VoltageTables& part, bool clear, const std::vector<std::string>& names,
                      std::vector<Boundary>& boundaries);
    // Slice k's controls, read with its overlap skipped: counts add up, rows and powers follow on.
    void add_controls(const Slice& slice, ControlsRead part, std::vector<Boundary>& boundaries);
    [[nodiscard]] VoltageTables& voltages(bool clear) { return clear ? clear_ : sky_; }
    [[nodiscard]] ControlsRead& controls() { return controls_; }

private:
    VoltageTables sky_, clear_;
    ControlsRead controls_;
    bool any_controls_ = false;
};

}  // namespace umbrascope::study

#include "study/sliced_read.hpp"

#include <algorithm>
#include <cmath>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "study/exports.hpp"
#include "study/folder.hpp"
#include "study/hand_on.hpp"
#include "study/script_files.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

ReadResult check_slice(const fs::path& folder, const fs::path& out, const std::string& mark, const std::string& run,
                       const std::string& circuit)
{
    const std::size_t at = mark.find(": slice ");
    const std::optional<double> number =
        at == std::string::npos ? std::nullopt : number_of(mark.substr(at + 8, mark.find(' ', at + 8) - at - 8));
    const std::optional<Slicing> slicing = read_slicing(folder);
    if (!number || !slicing || *number < 1 || *number > static_cast<double>(slicing->slices.size()) ||
        slicing->run != run)
        throw StudyError((out / script_name).string() + " is not a slice of the study " + folder.string() +
                         " records now: write the study again with --slices, then run its slices");
    const Slice& slice = slicing->slices[static_cast<std::size_t>(*number) - 1];
    const ResultsFolder results(out / results_name, circuit);
    refuse_unless_whole(results, run, circuit, out, false);
    if (!results.named(slice_export_name(run, slice)))
        throw StudyError(results.folder().string() + " holds the exports of another slicing of the study, not of rows " +
                         std::to_string(slice.first) + " to " + std::to_string(slice.last) + ": run the slice again");
    ReadResult result;
    result.summary.push_back("Slice " + std::to_string(slice.number) + " of " + std::to_string(slicing->slices.size()) +
                             ": rows " + std::to_string(slice.first) + " to " + std::to_string(slice.last) +
                             " exported whole; umbrascope-study read " + folder.string() + " stitches the slices");
    return result;
}

namespace {

// "08:50:00, 08:47:12 and 08:52:30".
std::string study_rows(const std::vector<std::string>& times) { return first_names(times, times.size()); }

// The command that writes the slices again, handing the controls on: the study's own write, its
// loadshapes as its script redirects them after the circuit.
std::string hand_on_command(const fs::path& folder, const Slicing& slicing, bool twin)
{
    std::string shapes = "SHAPES";
    std::error_code error;
    if (fs::exists(folder / script_name, error)) {
        bool compiled = false;
        each_line(read_text(folder / script_name, "study script"), [&](std::string_view line, long) {
            if (line.rfind("Compile ", 0) == 0)
                compiled = true;
            else if (compiled && line.rfind("Redirect ", 0) == 0 && line.size() > 11 && shapes == "SHAPES")
                shapes = std::string(line.substr(10, line.size() - 11));
        });
    }
    return "umbrascope-study write " + folder.string() + " --loadshapes " + shapes + (twin ? "" : " --no-twin") +
           " --slices " + std::to_string(slicing.slices.size()) + " --overlap " + decimal_text(slicing.overlap_s, 6) +
           " --hand-on";
}

}  // namespace

SlicesRead read_slices(const fs::path& folder, const Slicing& slicing, const std::string& circuit,
                       const std::string& run, const std::vector<Monitor>& monitors,
                       const std::vector<ControlWatch>& watches, const Drawn& drawn, const Sky& sky, bool twin_voltages)
{
    const int count = static_cast<int>(slicing.slices.size());
    if (slicing.rows != sky.rows)
        throw StudyError((folder / slices_folder_name / slicing_name).string() + " slices " +
                         std::to_string(slicing.rows) + " rows, the sun table has " + std::to_string(sky.rows) +
                         ": write the study again with --slices, then run its slices");
    Stitch stitch(slicing, static_cast<int>(drawn.names.size()));
    std::vector<Boundary> boundaries;
    SlicesRead out;
    const std::string run_them = "umbrascope-study sweep run " + folder.string();
    // "slice 2 of 12" and what is wrong with it, then the command that runs the slices.
    const auto refused = [&](const Slice& slice, std::initializer_list<std::string_view> what) {
        std::string text = "slice " + std::to_string(slice.number) + " of " + std::to_string(count);
        for (const std::string_view part : what)
            text += part;
        text += run_them;
        return StudyError(text);
    };
    for (const Slice& slice : slicing.slices) {
        const fs::path at = slice_folder(folder, slice.number, count);
        std::error_code error;
        if (!fs::is_directory(at / results_name, error))
            throw refused(slice, {" has no results (", (at / results_name).string(), "): run the slices, "});
        const ResultsFolder results(at / results_name, circuit);
        try {
            refuse_unless_whole(results, run, circuit, at, false);
        } catch (const StudyError& failure) {
            throw refused(slice, {" is not whole: ", failure.what(), "; or run the slices, "});
        }
        if (!results.named(slice_export_name(run, slice)))
            throw refused(slice, {" (", results.folder().string(),
                                  ") holds the exports of another slicing of the study, not of its rows ",
                                  std::to_string(slice.first), " to ", std::to_string(slice.last),
                                  ": run the slices again, "});
        const std::optional<fs::path> voltages = results.named(voltages_export_name(run));
        if (!voltages)
            throw refused(slice, {" holds no ", voltages_export_name(run), ": run the slices again, "});
        Sky part = sky;
        part.rows = slice.last - slice.first + 1;
        part.first_row = slice.first;
        // The voltages from the overlap's last row on; the controls and powers over all of it.
        Sky recorded = sky;
        recorded.rows = slice.last - slice.recorded() + 1;
        recorded.first_row = slice.recorded();
        FromMonitors read = tables_from_monitors(results, monitors, drawn, recorded, *voltages);
        stitch.add_voltages(slice, read.tables, false, drawn.names, boundaries);
        if (slice.number == 1) {
            read.tables = {};
            out.first = std::move(read);
        }
        stitch.add_controls(slice, read_controls(results, run, watches, part, slice.own - slice.first), boundaries);
        if (twin_voltages) {
            std::vector<Monitor> clear = monitors;
            for (Monitor& monitor : clear)
                monitor.name = clear_voltage_monitor(monitor.name);
            stitch.add_voltages(slice, tables_from_monitors(results, clear, drawn, recorded, *voltages).tables, true,
                                drawn.names, boundaries);
        }
    }
    out.first.tables = std::move(stitch.voltages(false));
    if (twin_voltages)
        out.clear = std::move(stitch.voltages(true));
    out.controls = std::move(stitch.controls());
    std::sort(boundaries.begin(), boundaries.end(), [](const Boundary& a, const Boundary& b) { return a.row < b.row; });
    out.report = "boundary_row,time,largest_difference_pu,bus,controls_differing,clear_controls_differing,"
                 "overlap_followed,clear_overlap_followed\n";
    // Whether a slice's controls were where the slice before's run had them through its overlap.
    const auto followed_text = [&](const Boundary& b, const std::optional<OverlapDifference>& difference) {
        if (!difference)
            return std::string("yes");
        const std::string from = "from row " + std::to_string(difference->first) + " (" +
                                 row_time(sky, difference->first) + ", " + difference->control + ")";
        return followed(difference, b.first, b.row + 1) ? "yes, after differing " + from + " to row " +
                                                             std::to_string(difference->last)
                                                       : "no, " + from;
    };
    std::vector<int> unfollowing;  // slices whose overlap did not follow the slice before's run
    double largest = 0;
    std::string where;
    int taps = 0, clear_taps = 0;
    const auto listed = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names)
            text += (text.empty() ? "" : "; ") + name;
        return text;
    };
    for (const Boundary& b : boundaries) {
        append_csv_row(out.report, {std::to_string(b.row), row_time(sky, b.row), decimal_text(b.volts, 4), b.bus,
                                    listed(b.controls), listed(b.clear_controls), followed_text(b, b.difference),
                                    followed_text(b, b.clear_difference)});
        if (!followed(b.difference, b.first, b.row + 1) || !followed(b.clear_difference, b.first, b.row + 1)) {
            const auto slice = std::find_if(slicing.slices.begin(), slicing.slices.end(),
                                            [&](const Slice& one) { return one.own == b.row + 1; });
            if (slice != slicing.slices.end())
                unfollowing.push_back(slice->number);
        }
        clear_taps += b.clear_controls.empty() ? 0 : 1;
        if (b.volts > largest || where.empty()) {
            largest = b.volts;
            where = "bus " + b.bus + " at row " + std::to_string(b.row) + " (" + row_time(sky, b.row) + ")";
        }
        taps += b.controls.empty() ? 0 : 1;
    }
    std::vector<std::string> handed;
    for (const Slice& slice : slicing.slices)
        if (!slice.handed.empty())
            handed.push_back(std::to_string(slice.number));
    std::string line = "Stitched " + std::to_string(count) + (count == 1 ? " slice" : " slices") + " of the run, " +
                       decimal_text(slicing.overlap_s, 3) + " s of overlap before each";
    if (!handed.empty()) {
        line += handed.size() == 1 ? " but slice " : " but slices ";
        for (std::size_t k = 0; k < handed.size(); ++k)
            line += (k == 0 ? std::string() : k + 1 == handed.size() ? std::string(" and ") : std::string(", ")) + handed[k];
        line += handed.size() == 1 ? ", handed on: its overlap begins" : ", handed on: each one's overlap begins";
        line += " with the controls where the slice before's run had them";
    }
    if (!boundaries.empty())
        line += ": where an overlap ends, it differed from the slice before by at most " + decimal_text(largest, 4) +
                " pu (" + where + "), and " +
                (taps == 0 ? std::string("every regulator's tap and capacitor's steps were the same")
                           : "the controls differed at " + std::to_string(taps) + " of the " +
                                 std::to_string(boundaries.size()) + " boundaries") +
                (clear_taps == 0 ? std::string()
                 : taps == 0     ? "; under the clear sky they differed at " + std::to_string(clear_taps) + " of the " +
                                   std::to_string(boundaries.size())
                                 : " (under the clear sky at " + std::to_string(clear_taps) + ")") +
                "; " + std::string(slices_report_name) + " says at each";
    if (!unfollowing.empty()) {
        line += "; the overlap of " + slices_named(unfollowing) + " did not follow the slice before's run";
        // What handing on would do now: offered only where it would write a slice anew.
        const int overlap_rows = static_cast<int>(std::ceil(slicing.overlap_s / sky.interval - 1e-9));
        const HandOn would = hand_on(folder, plan_slices(slicing.rows, count, overlap_rows), slicing.overlap_s, run,
                                     circuit, watches, sky);
        std::vector<int> anew;
        for (std::size_t k = 0; k < would.handed.size(); ++k) {
            const Slice& now = slicing.slices[k];
            const std::optional<Handed>& next = would.handed[k];
            if (next ? handed_print(*next) != now.handed || next->first != now.first : !now.handed.empty())
                anew.push_back(now.number);
        }
        if (!anew.empty())
            line += ". To begin " + slices_named(anew) + " where the slice before's run had its controls: " +
                    hand_on_command(folder, slicing, out.controls && out.controls->clear) +
                    ", then run the slices again (only those it writes anew run) and read; or umbrascope-study sweep "
                    "run " + folder.string() + " --hand-on, which goes round by round until every slice follows";
        for (const int number : would.unfollowed) {
            const std::optional<Handed>& last = would.handed[static_cast<std::size_t>(number) - 1];
            std::vector<std::string> rows;
            if (last)
                for (const int row : last->tried)
                    rows.push_back(row_time(sky, row));
            line += ". Slice " + std::to_string(number) + " was handed on from " +
                    (rows.empty() ? std::string("its first row") : study_rows(rows)) +
                    " and followed slice " + std::to_string(number - 1) +
                    "'s run from none: at each, a regulator or capacitor there was part-way through its time delay, "
                    "which no state handed on carries (the controls' delays run on the engine's clock); its stitched "
                    "rows may differ from the whole run's after " + row_time(sky, slicing.slices[static_cast<std::size_t>(number) - 1].own - 1) +
                    ": give another --overlap, or read the whole run (read --whole)";
        }
    }
    out.summary.push_back(line + ".");
    return out;
}

}  // namespace umbrascope::study

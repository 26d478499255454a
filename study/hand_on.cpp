#include "study/hand_on.hpp"

#include <algorithm>
#include <cmath>

#include "core/csv.hpp"
#include "core/fingerprint.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "study/controls.hpp"
#include "study/exports.hpp"
#include "study/folder.hpp"
#include "study/script_files.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

// Where each control of a run was in its own row `row` (from 0): what a slice after it is handed.
std::vector<HandedState> states_at(const ControlsRun& run, std::size_t row)
{
    std::vector<HandedState> out;
    // The row is one of the run's own: the slicing keeps each overlap within the slice before's.
    for (std::size_t i = 0; i < run.controls.size(); ++i) {
        const ControlSeries& series = run.controls[i];
        out.push_back({series.kind, series.name, series.element, series.rows.at(row),
                       series.regulator() ? std::string() : run.steps.at(i).at(row)});
    }
    return out;
}

}  // namespace

std::string handed_print(const Handed& handed)
{
    Fingerprint print;
    for (const std::vector<HandedState>* states : {&handed.sky, &handed.clear})
        for (const HandedState& state : *states)
            print.add(state.name + "=" + std::to_string(state.position) + "/" + state.steps + ";");
    return print.text().substr(0, 8);
}

namespace {

// The states a slice was handed, beside its script, so that writing the same study again hands
// them again without the slices' runs.
constexpr std::string_view handed_header = "under,kind,name,element,tap,steps";

}  // namespace

std::string handed_text(const Handed& handed)
{
    std::string out = std::string(handed_header) + "\n";
    for (const bool clear : {false, true})
        for (const HandedState& state : clear ? handed.clear : handed.sky)
            append_csv_row(out, {clear ? "clear" : "sky", state.kind, state.name, state.element,
                                 std::to_string(state.position), state.steps});
    return out;
}

namespace {

// What handed.csv in `at` records, where it is whole and its fingerprint is `print`; else nothing.
std::optional<Handed> read_handed(const fs::path& at, const std::string& print, int from_slice)
{
    std::error_code error;
    if (!fs::is_regular_file(at / handed_file_name, error))
        return std::nullopt;
    Handed handed;
    handed.from_slice = from_slice;
    bool whole = true;
    each_line(read_text(at / handed_file_name, "slice's handed states"), [&](std::string_view line, long number) {
        if (number == 1) {
            whole = whole && line == handed_header;
            return;
        }
        const std::optional<std::vector<std::string>> cells = csv_fields(line);
        const std::optional<double> tap = cells && cells->size() == 6 ? number_of((*cells)[4]) : std::nullopt;
        if (!tap || *tap != std::round(*tap) || std::fabs(*tap) > 1e6 ||
            ((*cells)[0] != "sky" && (*cells)[0] != "clear")) {
            whole = false;
            return;
        }
        const std::vector<std::string>& c = *cells;
        ((c[0] == "clear") ? handed.clear : handed.sky).push_back({c[1], c[2], c[3], static_cast<int>(*tap), c[5]});
    });
    if (!whole || handed_print(handed) != print)
        return std::nullopt;
    return handed;
}

}  // namespace

void hold_handed(const fs::path& folder, const std::vector<Slice>& planned, WriteResult& result,
                 std::vector<std::optional<Handed>>& handed)
{
    std::optional<Slicing> ran;
    try {
        ran = read_slicing(folder);
    } catch (const StudyError&) {
        return;  // a slicing that does not read is written anew, as is every slice of it
    }
    if (!ran || ran->run != result.run || ran->slices.size() != planned.size())
        return;
    const int count = static_cast<int>(planned.size());
    for (std::size_t k = 0; k < planned.size(); ++k) {
        const Slice& was = ran->slices[k];
        if (was.handed.empty() || was.first != planned[k].first || was.own != planned[k].own ||
            was.last != planned[k].last)
            continue;
        handed[k] = read_handed(slice_folder(folder, was.number, count), was.handed, was.number - 1);
        if (!handed[k])
            result.handed_lost.push_back(was.number);
    }
}

std::vector<std::optional<Handed>> hand_on(const fs::path& folder, const std::vector<Slice>& planned,
                                           const std::string& run, const std::string& circuit,
                                           std::vector<ControlWatch> watches, const Sky& sky)
{
    // The monitors by the names the run gave them.
    for (ControlWatch& watch : watches) {
        watch.monitor = replaced(watch.monitor, run_placeholder, run);
        watch.clear_monitor = replaced(watch.clear_monitor, run_placeholder, run);
    }
    const int count = static_cast<int>(planned.size());
    const std::string run_them = "run the slices (umbrascope-study sweep run " + folder.string() +
                                 "), then write the study again with --hand-on";
    const std::optional<Slicing> ran = read_slicing(folder);
    const bool same = ran && ran->run == run && ran->slices.size() == planned.size() &&
                      std::equal(planned.begin(), planned.end(), ran->slices.begin(), [](const Slice& a, const Slice& b) {
                          return a.own == b.own && a.last == b.last;
                      });
    if (!same)
        throw StudyError("--hand-on hands the controls on from the slices' own runs, and " + folder.string() +
                         " holds no run of these " + std::to_string(count) +
                         " slices of this study: write it with --slices " + std::to_string(count) + " first, " +
                         run_them);
    std::vector<ControlsRead> reads;
    for (const Slice& slice : ran->slices) {
        const fs::path at = slice_folder(folder, slice.number, count);
        // "slice 2 of 12", what is wrong with it, and what to do.
        const auto refused = [&](const std::string& what) {
            std::string text = "slice " + std::to_string(slice.number) + " of " + std::to_string(count);
            text += what;
            text += run_them;
            return StudyError(text);
        };
        std::error_code error;
        if (!fs::is_directory(at / results_name, error))
            throw refused(" has not run: ");
        const ResultsFolder results(at / results_name, circuit);
        try {
            refuse_unless_whole(results, run, circuit, at, false);
        } catch (const StudyError& failure) {
            throw refused(std::string(" is not whole (") + failure.what() + "): ");
        }
        if (!results.named(slice_export_name(run, slice)))
            throw refused(" (" + results.folder().string() + ") holds the run of its script before: ");
        Sky part = sky;
        part.rows = slice.last - slice.first + 1;
        part.first_row = slice.first;
        reads.push_back(read_controls(results, run, watches, part, slice.own - slice.first));
    }
    std::vector<std::optional<Handed>> out(planned.size());
    for (std::size_t k = 1; k < reads.size(); ++k) {
        const ControlsRead& before = reads[k - 1];
        const ControlsRead& mine = reads[k];
        const bool elsewhere = !controls_differing(before.sky, mine.sky).empty() ||
                               (before.clear && mine.clear && !controls_differing(*before.clear, *mine.clear).empty());
        if ((!elsewhere && ran->slices[k].handed.empty()) || planned[k].first >= planned[k].own)
            continue;
        // The slice's first row is one of the slice before's own.
        const auto row = static_cast<std::size_t>(planned[k].first - ran->slices[k - 1].own);
        Handed handed;
        handed.from_slice = static_cast<int>(k);
        handed.sky = states_at(before.sky, row);
        if (before.clear)
            handed.clear = states_at(*before.clear, row);
        out[k] = std::move(handed);
    }
    return out;
}

}  // namespace umbrascope::study

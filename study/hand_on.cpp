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

bool same_states(const std::vector<HandedState>& a, const std::vector<HandedState>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const HandedState& x, const HandedState& y) {
        return x.name == y.name && x.position == y.position && x.steps == y.steps;
    });
}

// The rows of a run's own (from `own`) in which any of its controls changed state.
std::vector<int> change_rows(const ControlsRun& run, int own)
{
    std::vector<int> out;
    for (std::size_t i = 0; i < run.controls.size(); ++i) {
        const std::vector<int>& rows = run.controls[i].rows;
        const std::vector<std::string>* steps = i < run.steps.size() ? &run.steps[i] : nullptr;
        for (std::size_t j = 0; j < rows.size(); ++j) {
            const bool moved = j == 0 ? i < run.before_own.size() && rows[0] != run.before_own[i]
                                      : rows[j] != rows[j - 1] ||
                                            (steps && j < steps->size() && !steps->empty() && (*steps)[j] != (*steps)[j - 1]);
            if (moved)
                out.push_back(own + static_cast<int>(j));
        }
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// The row of [lo, hi] farthest from every change of the slice before's controls, where a handed
// slice begins with no control of it part-way through its delay; the nearest `planned` of equals.
// Nothing where every row of it was tried.
std::optional<int> quietest_row(const std::vector<int>& changes, int lo, int hi, int planned, const std::vector<int>& tried)
{
    std::optional<int> best;
    long best_quiet = -1;
    for (int r = lo; r <= hi; ++r) {
        if (std::find(tried.begin(), tried.end(), r) != tried.end())
            continue;
        long quiet = 1L << 40;
        const auto after = std::lower_bound(changes.begin(), changes.end(), r);
        if (after != changes.end())
            quiet = std::min<long>(quiet, *after - r);
        if (after != changes.begin())
            quiet = std::min<long>(quiet, r - *(after - 1));
        if (quiet > best_quiet || (quiet == best_quiet && std::abs(r - planned) < std::abs(*best - planned))) {
            best = r;
            best_quiet = quiet;
        }
    }
    return best;
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
// them again without the slices' runs; and the rows it was handed from before, which did not serve.
constexpr std::string_view handed_header = "under,kind,name,element,tap,steps";

}  // namespace

std::string handed_text(const Handed& handed)
{
    std::string out = std::string(handed_header) + "\n";
    for (const bool clear : {false, true})
        for (const HandedState& state : clear ? handed.clear : handed.sky)
            append_csv_row(out, {clear ? "clear" : "sky", state.kind, state.name, state.element,
                                 std::to_string(state.position), state.steps});
    for (const int row : handed.tried)
        append_csv_row(out, {"tried", "", "", "", std::to_string(row), ""});
    return out;
}

namespace {

// What handed.csv in `at` records, where it is whole and its fingerprint is `print`; else nothing.
std::optional<Handed> read_handed(const fs::path& at, const std::string& print, int from_slice, int first)
{
    std::error_code error;
    if (!fs::is_regular_file(at / handed_file_name, error))
        return std::nullopt;
    Handed handed;
    handed.from_slice = from_slice;
    handed.first = first;
    bool whole = true;
    each_line(read_text(at / handed_file_name, "slice's handed states"), [&](std::string_view line, long number) {
        if (number == 1) {
            whole = whole && line == handed_header;
            return;
        }
        const std::optional<std::vector<std::string>> cells = csv_fields(line);
        const std::optional<double> tap = cells && cells->size() == 6 ? number_of((*cells)[4]) : std::nullopt;
        if (!tap || *tap != std::round(*tap) || std::fabs(*tap) > 2e9 ||
            ((*cells)[0] != "sky" && (*cells)[0] != "clear" && (*cells)[0] != "tried")) {
            whole = false;
            return;
        }
        const std::vector<std::string>& c = *cells;
        if (c[0] == "tried")
            handed.tried.push_back(static_cast<int>(*tap));
        else
            ((c[0] == "clear") ? handed.clear : handed.sky).push_back({c[1], c[2], c[3], static_cast<int>(*tap), c[5]});
    });
    if (!whole || handed_print(handed) != print)
        return std::nullopt;
    return handed;
}

}  // namespace

void hold_handed(const fs::path& folder, const std::vector<Slice>& planned, double overlap_s, WriteResult& result,
                 std::vector<std::optional<Handed>>& handed)
{
    std::optional<Slicing> ran;
    try {
        ran = read_slicing(folder);
    } catch (const StudyError&) {
        return;  // a slicing that does not read is written anew, as is every slice of it
    }
    // Another overlap is another slicing: its slices settle, each from its planned first row.
    if (!ran || ran->run != result.run || ran->slices.size() != planned.size() ||
        std::fabs(ran->overlap_s - overlap_s) > 1e-9)
        return;
    const int count = static_cast<int>(planned.size());
    for (std::size_t k = 0; k < planned.size(); ++k) {
        const Slice& was = ran->slices[k];
        if (was.handed.empty() || was.own != planned[k].own || was.last != planned[k].last)
            continue;
        handed[k] = read_handed(slice_folder(folder, was.number, count), was.handed, was.number - 1, was.first);
        if (!handed[k])
            result.handed_lost.push_back(was.number);
    }
}

HandOn hand_on(const fs::path& folder, const std::vector<Slice>& planned, double overlap_s, const std::string& run,
               const std::string& circuit, std::vector<ControlWatch> watches, const Sky& sky)
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
                      std::fabs(ran->overlap_s - overlap_s) < 1e-9 &&
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
    HandOn out;
    out.handed.resize(planned.size());
    const int overlap_rows = planned.size() > 1 ? planned[1].own - planned[1].first : 0;
    for (std::size_t k = 1; k < reads.size(); ++k) {
        const ControlsRead& before = reads[k - 1];
        const ControlsRead& mine = reads[k];
        const Slice& was_before = ran->slices[k - 1];
        const Slice& was = ran->slices[k];
        if (planned[k].first >= planned[k].own)
            continue;  // no overlap: nothing to hand
        // Whether the slice's overlap followed the slice before's run row by row, under the sky and
        // the twin: then it ends where the whole run would be, and stays as it is.
        const bool follows =
            followed(overlap_difference(before.sky, was_before.own, mine.sky, was.first), was.first, was.own) &&
            (!before.clear || !mine.clear ||
             followed(overlap_difference(*before.clear, was_before.own, *mine.clear, was.first), was.first, was.own));
        std::optional<Handed> prior;
        if (!was.handed.empty())
            prior = read_handed(slice_folder(folder, was.number, count), was.handed, was.number - 1, was.first);
        const auto handed_from = [&](int row, std::vector<int> tried) {
            Handed handed;
            handed.from_slice = static_cast<int>(k);
            handed.first = row;
            const auto at = static_cast<std::size_t>(row - was_before.own);
            handed.sky = states_at(before.sky, at);
            if (before.clear)
                handed.clear = states_at(*before.clear, at);
            handed.tried = std::move(tried);
            return handed;
        };
        if (follows) {
            if (!was.handed.empty())
                out.handed[k] = handed_from(was.first, prior ? prior->tried : std::vector<int>{});
            continue;
        }
        // Handed the slice before's run's states at its first row and still not following: a
        // control of it was part-way through its delay there, which no state handed carries. It
        // begins again at another row, the quietest near the planned first.
        std::vector<int> tried = prior ? prior->tried : std::vector<int>{};
        std::optional<int> row;
        if (prior) {
            const Handed again = handed_from(was.first, tried);
            if (same_states(again.sky, prior->sky) && same_states(again.clear, prior->clear))
                tried.push_back(was.first);
            else
                row = was.first;  // the slice before ran anew: the same row, its new states
        }
        if (!row && tried.empty()) {
            row = planned[k].first;  // handed on first from its planned first row
        } else if (!row) {
            std::vector<int> changes = change_rows(before.sky, was_before.own);
            if (before.clear) {
                const std::vector<int> more = change_rows(*before.clear, was_before.own);
                changes.insert(changes.end(), more.begin(), more.end());
                std::sort(changes.begin(), changes.end());
            }
            const int lo = std::max(was_before.own, planned[k].first - overlap_rows / 2);
            const int hi = std::min(planned[k].own - 1 - overlap_rows / 2, planned[k].first + overlap_rows / 2);
            row = tried.size() >= max_hand_tries ? std::nullopt
                                                 : quietest_row(changes, lo, std::max(lo, hi), planned[k].first, tried);
        }
        if (!row) {
            out.unfollowed.push_back(static_cast<int>(k) + 1);
            if (prior) {
                out.handed[k] = *prior;
                out.handed[k]->tried = std::move(tried);
            }
            continue;
        }
        out.handed[k] = handed_from(*row, std::move(tried));
    }
    return out;
}

}  // namespace umbrascope::study

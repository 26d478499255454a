#include "study/slices.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "core/lines.hpp"
#include "core/words.hpp"
#include "study/exports.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

std::vector<Slice> plan_slices(int rows, int count, int overlap)
{
    if (count < 1 || count > rows)
        throw StudyError("--slices " + std::to_string(count) + ": the study has " + std::to_string(rows) +
                         (rows == 1 ? " row" : " rows") + ", so from 1 to " + std::to_string(rows) + " slices");
    std::vector<Slice> out;
    for (int k = 0; k < count; ++k) {
        Slice slice;
        slice.number = k + 1;
        slice.own = 1 + static_cast<int>(static_cast<long long>(k) * rows / count);
        slice.last = static_cast<int>(static_cast<long long>(k + 1) * rows / count);
        slice.first = std::max(1, slice.own - overlap);
        out.push_back(slice);
    }
    const auto shortest = std::min_element(out.begin(), out.end(), [](const Slice& a, const Slice& b) {
        return a.last - a.own < b.last - b.own;
    });
    const int length = shortest->last - shortest->own + 1;
    if (count > 1 && overlap > length)
        throw StudyError("an overlap of " + std::to_string(overlap) + " rows is longer than a slice: " +
                         std::to_string(count) + " slices of the study's " + std::to_string(rows) + " rows are " +
                         std::to_string(length) + " rows at the shortest; give fewer slices or a shorter --overlap");
    return out;
}

std::string slices_named(const std::vector<int>& numbers)
{
    std::string text = numbers.size() == 1 ? "slice " : "slices ";
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        text += k == 0 ? "" : k + 1 == numbers.size() ? " and " : ", ";
        text += std::to_string(numbers[k]);
    }
    return text;
}

std::string slice_name(int number, int count)
{
    const int digits = std::max(2, static_cast<int>(std::to_string(count).size()));
    char text[32];
    std::snprintf(text, sizeof text, "slice%0*d", digits, number);
    return text;
}

fs::path slice_folder(const fs::path& folder, int number, int count)
{
    return folder / slices_folder_name / "cases" / slice_name(number, count);
}

std::string slice_export_name(const std::string& run, const Slice& slice)
{
    return run + "_rows_" + std::to_string(slice.first) + "_" + std::to_string(slice.own) + "_" +
           std::to_string(slice.last) + "_v" + std::to_string(slice.recorded()) +
           (slice.handed.empty() ? std::string() : "_h" + slice.handed) + ".csv";
}

std::string slicing_text(const Slicing& slicing)
{
    std::string out = "slice,first_row,own_row,last_row,rows,overlap_s,run,start\n";
    for (const Slice& slice : slicing.slices)
        out += std::to_string(slice.number) + "," + std::to_string(slice.first) + "," + std::to_string(slice.own) + "," +
               std::to_string(slice.last) + "," + std::to_string(slicing.rows) + "," +
               decimal_text(slicing.overlap_s, 6) + "," + slicing.run + "," +
               (slice.handed.empty() ? std::string("settle") : "handed " + slice.handed) + "\n";
    return out;
}

std::optional<Slicing> read_slicing(const fs::path& folder)
{
    const fs::path path = folder / slices_folder_name / slicing_name;
    std::error_code missing;
    if (!fs::exists(path, missing))
        return std::nullopt;
    const std::string text = read_text(path, "slicing");
    Slicing out;
    const auto bad = [&](long number, const std::string& why) {
        return StudyError(path.string() + ":" + std::to_string(number) + ": " + why +
                          "; write the study again with --slices, then run its slices");
    };
    each_line(text, [&](std::string_view line, long number) {
        if (number == 1 || trim_blanks(line).empty())
            return;
        std::vector<std::string> cells(1);
        for (const char c : line) {
            if (c == ',')
                cells.emplace_back();
            else
                cells.back() += c;
        }
        // A slicing written before slices were handed on has no start: each settles.
        if (cells.size() == 7)
            cells.emplace_back("settle");
        const bool handed = cells.size() == 8 && cells[7].rfind("handed ", 0) == 0 && cells[7].size() > 7 &&
                            std::all_of(cells[7].begin() + 7, cells[7].end(),
                                        [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
        if (cells.size() != 8 || (cells[7] != "settle" && !handed))
            throw bad(number, "a line is slice,first_row,own_row,last_row,rows,overlap_s,run,start (settle, or handed "
                              "and the fingerprint of the states handed)");
        std::vector<int> values;
        for (int i = 0; i < 5; ++i) {
            const std::optional<double> value = number_of(cells[static_cast<std::size_t>(i)]);
            if (!value || *value != std::floor(*value) || *value < 1 || *value > 2e9)
                throw bad(number, "'" + cells[static_cast<std::size_t>(i)] + "' is not a row");
            values.push_back(static_cast<int>(*value));
        }
        const std::optional<double> overlap = number_of(cells[5]);
        if (!overlap || *overlap < 0)
            throw bad(number, "'" + cells[5] + "' is not an overlap in seconds");
        if (!out.slices.empty() && (values[4] != out.rows || cells[6] != out.run))
            throw bad(number, "the slices are of two studies");
        out.rows = values[4];
        out.overlap_s = *overlap;
        out.run = cells[6];
        const Slice slice{values[0], values[1], values[2], values[3], handed ? cells[7].substr(7) : std::string()};
        if (slice.number != static_cast<int>(out.slices.size()) + 1 || slice.first > slice.own || slice.own > slice.last)
            throw bad(number, "slice " + cells[0] + " is not the next, or its rows are out of order");
        // Handed on, a slice begins in the slice before's own rows, where that run had the states.
        if (handed && (out.slices.empty() || slice.first < out.slices.back().own || slice.first >= slice.own))
            throw bad(number, "slice " + cells[0] + " is handed on, so begins within the slice before's own rows and "
                              "before its own");
        // Each slice's own rows follow on from the last one's: none twice, none left out.
        const int expected = out.slices.empty() ? 1 : out.slices.back().last + 1;
        if (slice.own != expected)
            throw bad(number, slice.own < expected ? "slice " + cells[0] + "'s own rows overlap the slice before's"
                                                   : "slice " + cells[0] + " leaves rows " + std::to_string(expected) +
                                                         " to " + std::to_string(slice.own - 1) + " out");
        out.slices.push_back(slice);
    });
    if (out.slices.empty())
        throw bad(1, "no slice");
    if (out.slices.back().last != out.rows)
        throw bad(static_cast<long>(out.slices.size()) + 1,
                  "the slices end at row " + std::to_string(out.slices.back().last) + " of " + std::to_string(out.rows));
    return out;
}

Stitch::Stitch(const Slicing& slicing, int buses)
{
    for (VoltageTables* tables : {&sky_, &clear_}) {
        tables->rows = slicing.rows;
        tables->buses = buses;
    }
}

void Stitch::add_voltages(const Slice& slice, const VoltageTables& part, bool clear, const std::vector<std::string>& names,
                          std::vector<Boundary>& boundaries)
{
    VoltageTables& whole = clear ? clear_ : sky_;
    if (whole.lowest.empty()) {
        const std::size_t cells = static_cast<std::size_t>(whole.rows) * static_cast<std::size_t>(whole.buses);
        whole.lowest.assign(cells, no_voltage);
        whole.highest.assign(cells, no_voltage);
        whole.outside.assign(cells, 0);
    }
    if (part.buses != whole.buses || part.rows != slice.last - slice.recorded() + 1)
        throw StudyError("slice " + std::to_string(slice.number) + "'s tables are not of its rows");
    const auto skip = static_cast<std::size_t>(slice.own) - static_cast<std::size_t>(slice.recorded());
    const auto own_rows = static_cast<std::size_t>(slice.last) + 1 - static_cast<std::size_t>(slice.own);
    // The overlap's last row against the slice before's last, already in the whole run's tables.
    if (slice.own > 1 && skip > 0 && !clear) {
        Boundary boundary;
        boundary.row = slice.own - 1;
        for (int bus = 0; bus < whole.buses; ++bus) {
            const std::size_t mine = part.at(static_cast<int>(skip) - 1, bus);
            const std::size_t before = whole.at(slice.own - 2, bus);
            for (const auto table : {&VoltageTables::lowest, &VoltageTables::highest}) {
                const PerUnit a = (part.*table)[mine], b = (whole.*table)[before];
                if (a == no_voltage || b == no_voltage)
                    continue;
                const double difference = std::abs(a - b) / 10000.0;
                if (boundary.bus.empty() || difference > boundary.volts) {
                    boundary.volts = difference;
                    boundary.bus = names[static_cast<std::size_t>(bus)];
                }
            }
        }
        boundaries.push_back(std::move(boundary));
    }
    for (int bus = 0; bus < whole.buses; ++bus) {
        const std::size_t from = part.at(static_cast<int>(skip), bus);
        const std::size_t to = whole.at(slice.own - 1, bus);
        std::copy_n(part.lowest.begin() + static_cast<std::ptrdiff_t>(from), own_rows,
                    whole.lowest.begin() + static_cast<std::ptrdiff_t>(to));
        std::copy_n(part.highest.begin() + static_cast<std::ptrdiff_t>(from), own_rows,
                    whole.highest.begin() + static_cast<std::ptrdiff_t>(to));
        std::copy_n(part.outside.begin() + static_cast<std::ptrdiff_t>(from), own_rows,
                    whole.outside.begin() + static_cast<std::ptrdiff_t>(to));
    }
}

namespace {

void follow_on(ControlsRun& whole, ControlsRun& part)
{
    for (std::size_t i = 0; i < whole.controls.size() && i < part.controls.size(); ++i) {
        std::vector<int>& rows = whole.controls[i].rows;
        rows.insert(rows.end(), part.controls[i].rows.begin(), part.controls[i].rows.end());
        ControlCounts& counts = whole.counts[i];
        const ControlCounts& more = part.counts[i];
        counts.changes += more.changes;
        counts.steps_changed += more.steps_changed;
        counts.min = std::min(counts.min, more.min);
        counts.max = std::max(counts.max, more.max);
        if (counts.rows_at_limit && more.rows_at_limit)
            *counts.rows_at_limit += *more.rows_at_limit;
    }
    for (std::size_t i = 0; i < whole.powers.size() && i < part.powers.size(); ++i)
        whole.powers[i].values.insert(whole.powers[i].values.end(), part.powers[i].values.begin(),
                                      part.powers[i].values.end());
    for (std::size_t i = 0; i < whole.flows.size() && i < part.flows.size(); ++i)
        whole.flows[i].values.insert(whole.flows[i].values.end(), part.flows[i].values.begin(), part.flows[i].values.end());
    whole.pv_kvar.insert(whole.pv_kvar.end(), part.pv_kvar.begin(), part.pv_kvar.end());
    // What the PV systems could give is known for the whole run only where every slice recorded it.
    if (whole.pv_available_kw.empty() || part.pv_available_kw.empty())
        whole.pv_available_kw.clear();
    else
        whole.pv_available_kw.insert(whole.pv_available_kw.end(), part.pv_available_kw.begin(),
                                     part.pv_available_kw.end());
}

}  // namespace

std::optional<OverlapDifference> overlap_difference(const ControlsRun& before, int before_own, const ControlsRun& mine,
                                                   int first)
{
    std::optional<OverlapDifference> out;
    for (std::size_t i = 0; i < mine.overlap.size() && i < before.controls.size(); ++i) {
        const std::vector<int>& overlap = mine.overlap[i];
        const std::vector<int>& theirs = before.controls[i].rows;
        for (std::size_t j = 0; j < overlap.size(); ++j) {
            const long at = first + static_cast<long>(j) - before_own;
            if (at < 0 || at >= static_cast<long>(theirs.size()))
                continue;
            const auto k = static_cast<std::size_t>(at);
            const bool steps_differ = i < mine.overlap_steps.size() && j < mine.overlap_steps[i].size() &&
                                      i < before.steps.size() && k < before.steps[i].size() &&
                                      mine.overlap_steps[i][j] != before.steps[i][k];
            if (overlap[j] == theirs[k] && !steps_differ)
                continue;
            const int row = first + static_cast<int>(j);
            if (!out)
                out = OverlapDifference{row, row, mine.controls[i].name};
            if (row < out->first) {
                out->first = row;
                out->control = mine.controls[i].name;
            }
            out->last = std::max(out->last, row);
        }
    }
    return out;
}

bool followed(const std::optional<OverlapDifference>& difference, int first, int own)
{
    // Differing only early on, the two came together with half the overlap to spare: every delay
    // part-way at the slice's start has run out since.
    return !difference || own - 1 - difference->last >= (own - first) / 2;
}

std::vector<std::string> controls_differing(const ControlsRun& before, const ControlsRun& mine)
{
    std::vector<std::string> out;
    for (std::size_t i = 0; i < before.controls.size() && i < mine.before_own.size(); ++i) {
        const ControlSeries& series = before.controls[i];
        const int theirs = series.rows.empty() ? series.settle : series.rows.back();
        if (mine.before_own[i] != theirs)
            out.push_back(series.name + " " + std::to_string(mine.before_own[i]) + " against " + std::to_string(theirs));
    }
    return out;
}

void Stitch::add_controls(const Slice& slice, ControlsRead part, std::vector<Boundary>& boundaries)
{
    if (!any_controls_) {
        controls_ = std::move(part);
        any_controls_ = true;
        return;
    }
    // The states where the overlap ends, against the slice before's last.
    if (slice.own > slice.first) {
        auto boundary = std::find_if(boundaries.begin(), boundaries.end(),
                                     [&](const Boundary& b) { return b.row == slice.own - 1; });
        if (boundary == boundaries.end()) {
            boundaries.push_back({slice.own - 1, 0, {}, {}});
            boundary = boundaries.end() - 1;
        }
        boundary->controls = controls_differing(controls_.sky, part.sky);
        boundary->first = slice.first;
        boundary->difference = overlap_difference(controls_.sky, 1, part.sky, slice.first);
        if (controls_.clear && part.clear) {
            boundary->clear_controls = controls_differing(*controls_.clear, *part.clear);
            boundary->clear_difference = overlap_difference(*controls_.clear, 1, *part.clear, slice.first);
        }
    }
    follow_on(controls_.sky, part.sky);
    if (controls_.clear && part.clear)
        follow_on(*controls_.clear, *part.clear);
}

}  // namespace umbrascope::study

#include "study/controls.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <unordered_map>

#include "core/csv.hpp"
#include "core/parallel.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "study/study.hpp"
#include "study/voltages.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

// A regulator's tap after the settle, as the engine's Export Taps gives it.
struct TapRecord {
    double tap = 0;
    double step = 0;
    int position = 0;  // whole steps from the middle of the range: the engine's TapNum
    std::optional<int> lowest, highest;  // the range's ends, in the same steps
};

// "Name, RegControl, Tap, Min, Max, Step, Position, Winding, ...": each RegControl by its lower-case name.
std::unordered_map<std::string, TapRecord> read_taps(const fs::path& file)
{
    std::unordered_map<std::string, TapRecord> taps;
    std::vector<std::string> names;
    each_line(read_text(file, "taps export"), [&](std::string_view line, long number) {
        std::vector<std::string> fields;
        for (std::size_t at = 0;;) {
            const std::size_t comma = line.find(',', at);
            fields.emplace_back(trim_blanks(line.substr(at, comma - at)));
            if (comma == std::string_view::npos)
                break;
            at = comma + 1;
        }
        const auto bad = [&] {
            return StudyError(file.string() + ":" + std::to_string(number) +
                              ": not a line of Export Taps (Name, RegControl, Tap, Min, Max, Step, Position, ...)");
        };
        if (number == 1) {
            for (std::string& field : fields)
                field = lower(field);
            names = fields;
            return;
        }
        if (trim_blanks(line).empty())
            return;
        const auto column = [&](std::string_view name) -> std::optional<std::size_t> {
            const auto found = std::find(names.begin(), names.end(), name);
            if (found == names.end() || static_cast<std::size_t>(found - names.begin()) >= fields.size())
                return std::nullopt;
            return static_cast<std::size_t>(found - names.begin());
        };
        const std::optional<std::size_t> control = column("regcontrol"), tap = column("tap"), step = column("step"),
                                         position = column("position");
        if (!control || !tap || !step || !position)
            throw bad();
        const std::optional<double> t = number_of(fields[*tap]), s = number_of(fields[*step]),
                                    p = number_of(fields[*position]);
        if (!t || !s || !p || !(*s > 0))
            throw bad();
        TapRecord record{*t, *s, static_cast<int>(std::lround(*p)), std::nullopt, std::nullopt};
        // The range's ends, as positions counted from the tap and position given.
        const std::optional<std::size_t> low = column("min"), high = column("max");
        if (low && high)
            if (const std::optional<double> l = number_of(fields[*low]), h = number_of(fields[*high]); l && h) {
                record.lowest = record.position + static_cast<int>(std::lround((*l - *t) / *s));
                record.highest = record.position + static_cast<int>(std::lround((*h - *t) / *s));
            }
        taps[lower(fields[*control])] = record;
    });
    return taps;
}

// The engine's summary of the settle's last solve: its status and control iterations.
void read_settle_summary(const fs::path& file, ControlsRun& run)
{
    std::vector<std::string> names;
    std::vector<std::string> last;
    each_line(read_text(file, "settle summary"), [&](std::string_view line, long number) {
        std::vector<std::string> fields;
        for (std::size_t at = 0;;) {
            const std::size_t comma = line.find(',', at);
            std::string_view field = trim_blanks(line.substr(at, comma - at));
            if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
                field = field.substr(1, field.size() - 2);
            fields.emplace_back(field);
            if (comma == std::string_view::npos)
                break;
            at = comma + 1;
        }
        if (number == 1) {
            for (std::string& field : fields)
                field = lower(field);
            names = std::move(fields);
        } else if (!trim_blanks(line).empty()) {
            last = std::move(fields);  // each run of the script adds a line
        }
    });
    const auto field = [&](std::string_view name) {
        const auto found = std::find(names.begin(), names.end(), name);
        const auto at = static_cast<std::size_t>(found - names.begin());
        return found == names.end() || at >= last.size() ? std::string() : last[at];
    };
    run.settle_status = field("status");
    // A count no engine writes (a summary edited or garbled) is held within what a count can be.
    const double iterations = number_of(field("controliterations")).value_or(0);
    run.settle_iterations = std::isfinite(iterations) ? static_cast<int>(std::clamp(iterations, 0.0, 1e9)) : 0;
}

// The rows of a control's monitor: the settle's solves, all at the first step's time, then the
// series, one step apart.
int settle_rows(const fs::path& file, const MonitorColumns& columns, const Sky& sky, bool with_settle)
{
    const auto rows = static_cast<int>(columns.times.size());
    const int settle = with_settle ? settle_solves : 0;
    if (rows != settle + sky.rows)
        throw StudyError(file.string() + " holds " + std::to_string(rows) + (rows == 1 ? " row" : " rows") + " where " +
                         (with_settle ? "the settle's " + std::to_string(settle) + " solves and " : std::string("the ")) +
                         std::to_string(sky.rows) + " steps of the study make " + std::to_string(settle + sky.rows) +
                         ": the file was cut short, its run stopped before the end; run the study in OpenDSS again");
    for (int i = 0; i < rows; ++i) {
        const double expected = ((i < settle ? 1 : i - settle + 1) + sky.first_row - 1) * sky.interval;
        if (std::fabs(columns.times[static_cast<std::size_t>(i)] - expected) > 1e-3 + 1e-7 * expected)
            throw StudyError(file.string() + ": row " + std::to_string(i + 1) + " is at " +
                             decimal_text(columns.times[static_cast<std::size_t>(i)], 6) + " s where the study puts it at " +
                             decimal_text(expected, 6) + " s: the study was run for another sky; write it and run it again");
    }
    return settle;
}

std::vector<std::size_t> columns_named(const MonitorColumns& columns, std::string_view start, std::string_view end = {})
{
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < columns.names.size(); ++i) {
        const std::string name = lower(columns.names[i]);
        if (name.rfind(start, 0) == 0 && (end.empty() || ends_with(name, end)))
            found.push_back(i);
    }
    return found;
}

// The columns of a watch's monitor that its series are made of: a regulator's tap, a capacitor's
// steps, the head's P and Q, a PV system's P.
std::function<bool(const std::string&)> wanted_columns(const std::string& kind)
{
    const auto named = [](const std::string& name, std::string_view start, std::string_view end) {
        return name.rfind(start, 0) == 0 && ends_with(name, end);
    };
    if (kind == "regcontrol")
        return [](const std::string& name) { return name.rfind("tap", 0) == 0; };
    if (kind == "capcontrol")
        return [](const std::string& name) { return name.rfind("step_", 0) == 0; };
    if (kind == "head")
        return [named](const std::string& name) { return named(name, "p", "(kw)") || named(name, "q", "(kvar)"); };
    if (kind == "pvstate")
        return [](const std::string& name) { return name == "panelkw" || name == "efficiency"; };
    return [named](const std::string& name) { return named(name, "p", "(kw)") || named(name, "q", "(kvar)"); };
}

// The monitors' exports read on every core, a file at a time; a file that cannot be read throws
// as it would read alone, the first in the list where several cannot.
std::vector<MonitorColumns> read_all_columns(const std::vector<fs::path>& files,
                                             const std::vector<ControlWatch>& watches)
{
    std::vector<MonitorColumns> read(files.size());
    share_out(files.size(), threads_for(files.size()), [&](std::size_t, std::size_t k) {
        read[k] = read_monitor_columns(files[k], wanted_columns(watches[k].kind));
    });
    return read;
}

ControlsRun read_run(const ResultsFolder& results, const std::string& run, const std::vector<ControlWatch>& watches,
                     const Sky& sky, bool clear, int skip)
{
    ControlsRun out;
    const auto own = [&](const std::string& name, const char* what) {
        const std::optional<fs::path> file = results.named(name);
        if (!file)
            throw StudyError(results.folder().string() + " holds no " + name + " (" + what +
                             "): the run of the study did not finish; run it again in OpenDSS");
        return *file;
    };
    read_settle_summary(own(settle_summary_name(run, clear), "the engine's summary of the settle"), out);
    std::unordered_map<std::string, TapRecord> taps;
    if (std::any_of(watches.begin(), watches.end(), [](const ControlWatch& w) { return w.kind == "regcontrol"; }))
        taps = read_taps(own(taps_export_name(run, clear), "the regulators' taps after the settle"));
    std::vector<fs::path> files;
    for (const ControlWatch& watch : watches) {
        const std::string& monitor = clear ? watch.clear_monitor : watch.monitor;
        const std::optional<fs::path> file = results.monitor(monitor);
        if (!file) {
            std::string why = results.folder().string();
            why += " holds no export of the monitor " + monitor;
            why += " (" + watch.element + "): expected <circuit>_Mon_" + monitor;
            why += "_1.csv; run the whole study in OpenDSS";
            throw StudyError(why);
        }
        files.push_back(*file);
    }
    const std::vector<MonitorColumns> read = read_all_columns(files, watches);
    PowerSeries head_kw{"head_kw", {}}, head_kvar{"head_kvar", {}}, pv_kw{"pv_kw", {}};
    bool any_pv = false;
    bool all_states = true;  // every PV system's state recorded
    for (std::size_t w = 0; w < watches.size(); ++w) {
        const ControlWatch& watch = watches[w];
        const fs::path* const file = &files[w];
        const MonitorColumns& columns = read[w];
        const bool control = watch.kind == "regcontrol" || watch.kind == "capcontrol";
        const int settle = settle_rows(*file, columns, sky, control);
        if (sky.rows <= skip)
            throw StudyError(file->string() + " holds no row after the overlap's " + std::to_string(skip));
        if (control) {
            // The run's own rows, after the settle and the overlap.
            const auto own_from = static_cast<std::size_t>(settle) + static_cast<std::size_t>(skip);
            std::vector<int> states(columns.rows());
            ControlCounts counts;
            if (watch.kind == "regcontrol") {
                const std::vector<std::size_t> tap = columns_named(columns, "tap");
                const auto record = taps.find(lower(watch.name));
                if (tap.size() != 1)
                    throw StudyError(file->string() + " holds no \"Tap (pu)\": its monitor is not of mode 2; write the study again");
                if (record == taps.end())
                    throw StudyError(results.folder().string() + "'s export of the taps names no RegControl " + watch.name +
                                     ": write the study again, run it, then read it");
                const TapRecord& r = record->second;
                const double settled = columns.at(static_cast<std::size_t>(settle - 1), tap.front());
                if (std::fabs(settled - r.tap) > r.step / 4)
                    throw StudyError(file->string() + " ends its settle at tap " + decimal_text(settled, 6) +
                                     " where the engine's export of the taps says " + decimal_text(r.tap, 6) +
                                     ": they are of different runs; run the study again");
                for (std::size_t i = 0; i < states.size(); ++i)
                    states[i] = r.position + static_cast<int>(std::lround((columns.at(i, tap.front()) - r.tap) / r.step));
                if (r.lowest && r.highest) {
                    int at_limit = 0;
                    for (std::size_t i = own_from; i < states.size(); ++i)
                        at_limit += states[i] <= *r.lowest || states[i] >= *r.highest ? 1 : 0;
                    counts.rows_at_limit = at_limit;
                }
            } else {
                const std::vector<std::size_t> steps = columns_named(columns, "step_");
                if (steps.empty())
                    throw StudyError(file->string() + " holds no \"Step_1\": its monitor is not of mode 6; write the study again");
                for (std::size_t i = 0; i < states.size(); ++i)
                    for (const std::size_t s : steps)
                        states[i] += static_cast<int>(std::lround(columns.at(i, s)));
                // Each capacitor step that switches counts, however many switch at once.
                for (std::size_t i = own_from; i < states.size(); ++i) {
                    int switched = 0;
                    for (const std::size_t s : steps)
                        switched += static_cast<int>(std::lround(std::fabs(columns.at(i, s) - columns.at(i - 1, s))));
                    counts.changes += switched;
                    counts.steps_changed += switched > 0 ? 1 : 0;
                }
            }
            std::vector<std::string> steps, overlap_steps;
            if (watch.kind == "capcontrol") {
                const std::vector<std::size_t> step_columns = columns_named(columns, "step_");
                for (std::size_t i = static_cast<std::size_t>(settle); i < columns.rows(); ++i) {
                    std::string& row = (i < own_from ? overlap_steps : steps).emplace_back();
                    for (const std::size_t s : step_columns)
                        row += std::lround(columns.at(i, s)) != 0 ? '1' : '0';
                }
            }
            out.steps.push_back(std::move(steps));
            out.overlap_steps.push_back(std::move(overlap_steps));
            out.overlap.emplace_back(states.begin() + settle, states.begin() + static_cast<std::ptrdiff_t>(own_from));
            ControlSeries series{watch.kind, watch.name, watch.element, watch.drawn_bus,
                                 states[static_cast<std::size_t>(settle - 1)], {}, std::nullopt, {}};
            series.rows.assign(states.begin() + static_cast<std::ptrdiff_t>(own_from), states.end());
            counts.start = series.settle;
            // Over the state the settle came to and every step; the settle's own solves on the way
            // there are the solver's, not the run's. A slice's overlap is the slice before's.
            const auto from = states.begin() + static_cast<std::ptrdiff_t>(skip == 0 ? own_from - 1 : own_from);
            counts.min = *std::min_element(from, states.end());
            counts.max = *std::max_element(from, states.end());
            out.before_own.push_back(states[own_from - 1]);
            if (watch.kind == "regcontrol")
                for (std::size_t i = own_from; i < states.size(); ++i)
                    if (states[i] != states[i - 1]) {
                        ++counts.steps_changed;
                        counts.changes += std::abs(states[i] - states[i - 1]);
                    }
            out.counts.push_back(counts);
            if (settle >= 2 && states[static_cast<std::size_t>(settle - 1)] != states[static_cast<std::size_t>(settle - 2)])
                out.moving.push_back(watch.name);
            out.controls.push_back(std::move(series));
            continue;
        }
        const std::vector<std::size_t> p = columns_named(columns, "p", "(kw)");
        const std::vector<std::size_t> q = columns_named(columns, "q", "(kvar)");
        if (p.empty() || q.empty())
            throw StudyError(file->string() + " holds no \"P1 (kW)\" and \"Q1 (kvar)\": its monitor is not of mode 1 with "
                             "ppolar=no; write the study again");
        // The engine gives the power flowing into the element's terminal: the source gives, the PV
        // systems make, both negative.
        const auto sum = [&](std::size_t row, const std::vector<std::size_t>& which) {
            double total = 0;
            for (const std::size_t i : which)
                total += columns.at(row, i);
            return -total;
        };
        const auto first = static_cast<std::size_t>(skip);
        if (watch.kind == "regflow") {
            // Watched where the power comes in from the source's side: what goes in flows on.
            PowerSeries flow{watch.name, {}};
            for (std::size_t i = first; i < columns.rows(); ++i)
                flow.values.push_back(-sum(i, p));
            out.flows.push_back(std::move(flow));
        } else if (watch.kind == "head") {
            for (std::size_t i = first; i < columns.rows(); ++i) {
                head_kw.values.push_back(sum(i, p));
                head_kvar.values.push_back(sum(i, q));
            }
        } else {
            pv_kw.values.resize(columns.rows() - first, 0.0);
            out.pv_kvar.resize(columns.rows() - first, 0.0);
            for (std::size_t i = first; i < columns.rows(); ++i) {
                pv_kw.values[i - first] += sum(i, p);
                out.pv_kvar[i - first] += sum(i, q);
            }
            any_pv = true;
            // What it could have given, where the study recorded its state (one written before did not).
            const std::optional<fs::path> state =
                all_states ? results.monitor(pv_state_monitor(clear ? watch.clear_monitor : watch.monitor)) : std::nullopt;
            if (!state) {
                all_states = false;
                continue;
            }
            const MonitorColumns panel = read_monitor_columns(*state, wanted_columns("pvstate"));
            const auto column = [&](const char* name) {
                const auto found = std::find_if(panel.names.begin(), panel.names.end(),
                                                [&](const std::string& c) { return lower(c) == name; });
                if (found == panel.names.end())
                    throw StudyError(state->string() + " holds no \"" + name + "\": its monitor is not of mode 3; "
                                     "write the study again");
                return static_cast<std::size_t>(found - panel.names.begin());
            };
            const std::size_t kw = column("panelkw"), efficiency = column("efficiency");
            if (panel.rows() != columns.rows())
                throw StudyError(state->string() + " holds " + std::to_string(panel.rows()) + " rows, " +
                                 file->filename().string() + " " + std::to_string(columns.rows()) + ": run the study again");
            out.pv_available_kw.resize(columns.rows() - first, 0.0);
            for (std::size_t i = first; i < columns.rows(); ++i)
                out.pv_available_kw[i - first] += panel.at(i, kw) * panel.at(i, efficiency);
        }
    }
    if (!head_kw.values.empty()) {
        out.powers.push_back(std::move(head_kw));
        out.powers.push_back(std::move(head_kvar));
    }
    if (any_pv)
        out.powers.push_back(std::move(pv_kw));
    if (!all_states)
        out.pv_available_kw.clear();
    return out;
}

}  // namespace

ControlsRead read_controls(const ResultsFolder& results, const std::string& run, const std::vector<ControlWatch>& watches,
                           const Sky& sky, int skip)
{
    ControlsRead read;
    read.sky = read_run(results, run, watches, sky, false, skip);
    const bool twin = !watches.empty() && !watches.front().clear_monitor.empty();
    if (twin)
        read.clear = read_run(results, run, watches, sky, true, skip);
    return read;
}

namespace {

// A series' largest one-step change, signed, per second, and the row it ends in (the first of
// equal ones); nothing for a single row.
struct Ramp {
    double per_s = 0;
    int row = 0;
};

std::optional<Ramp> largest_ramp(const std::vector<double>& values, double interval)
{
    std::optional<Ramp> largest;
    for (std::size_t k = 1; k < values.size(); ++k) {
        const double per_s = (values[k] - values[k - 1]) / interval;
        if (!largest || std::fabs(per_s) > std::fabs(largest->per_s))
            largest = Ramp{per_s, static_cast<int>(k) + 1};
    }
    return largest;
}

// The PV systems' Pmpp together, where every one gives it.
std::optional<double> pv_nameplate(const std::vector<ControlWatch>& watches)
{
    double kw = 0;
    bool any = false;
    for (const ControlWatch& watch : watches) {
        if (watch.kind != "pv")
            continue;
        if (watch.pmpp_kw <= 0)
            return std::nullopt;
        kw += watch.pmpp_kw;
        any = true;
    }
    return any ? std::optional<double>(kw) : std::nullopt;
}

// A series' largest change over one minute, signed, in per cent of `rated` a minute: the rows a
// minute apart (one where a step is a minute or more). Nothing where the run is shorter.
std::optional<double> minute_ramp_pct(const std::vector<double>& values, double interval, double rated)
{
    const std::size_t apart = static_cast<std::size_t>(std::max(1.0, std::round(60 / interval)));
    std::optional<double> largest;
    for (std::size_t k = apart; k < values.size(); ++k) {
        const double change = values[k] - values[k - apart];
        if (!largest || std::fabs(change) > std::fabs(*largest))
            largest = change;
    }
    if (!largest)
        return std::nullopt;
    return *largest / rated * 100 * 60 / (static_cast<double>(apart) * interval);
}

// The rows in which power flowed back toward the source.
int back_rows(const std::vector<double>& kw)
{
    return static_cast<int>(std::count_if(kw.begin(), kw.end(), [](double value) { return value < 0; }));
}

const PowerSeries* flow_of(const ControlsRun& run, const std::string& regulator)
{
    const auto found = std::find_if(run.flows.begin(), run.flows.end(),
                                    [&](const PowerSeries& flow) { return flow.name == regulator; });
    return found == run.flows.end() ? nullptr : &*found;
}

std::string three(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    return std::string_view(text) == "-0.000" ? "0.000" : text;
}

int total_changes(const ControlsRun& run, std::string_view kind)
{
    int total = 0;
    for (std::size_t i = 0; i < run.controls.size(); ++i)
        total += run.controls[i].kind == kind ? run.counts[i].changes : 0;
    return total;
}

int rows_with_changes(const ControlsRun& run, std::string_view kind)
{
    int rows = 0;
    const std::size_t n = run.controls.empty() ? 0 : run.controls.front().rows.size();
    for (std::size_t row = 1; row <= n; ++row)
        rows += std::any_of(run.controls.begin(), run.controls.end(),
                            [&](const ControlSeries& c) { return c.kind == kind && c.acts(static_cast<int>(row)); })
                    ? 1
                    : 0;
    return rows;
}

}  // namespace

std::optional<Curtailment> curtailment(const ControlsRun& run, double interval)
{
    const auto pv = std::find_if(run.powers.begin(), run.powers.end(), [](const PowerSeries& p) { return p.name == "pv_kw"; });
    if (pv == run.powers.end() || run.pv_available_kw.size() != pv->values.size())
        return std::nullopt;
    Curtailment out;
    for (std::size_t i = 0; i < pv->values.size(); ++i) {
        // Less than it could give; never below 0 where the engine's rounding has it give a little more.
        out.kwh += std::max(0.0, run.pv_available_kw[i] - pv->values[i]) * interval / 3600;
        out.available_kwh += run.pv_available_kw[i] * interval / 3600;
    }
    return out;
}

static_assert(std::count(controls_report_header.begin(), controls_report_header.end(), ',') + 1 ==
              static_cast<std::ptrdiff_t>(controls_report_columns));

std::string controls_report_text(const ControlsRead& read, const std::vector<ControlWatch>& watches, const Sky& sky)
{
    std::string out = std::string(controls_report_header) + "\n";
    const double hours = sky.rows * sky.interval / 3600;
    const std::optional<double> nameplate = pv_nameplate(watches);
    const auto rows = [&](const ControlsRun& run, const char* which) {
        std::size_t c = 0;
        for (const ControlWatch& watch : watches) {
            if (watch.kind != "regcontrol" && watch.kind != "capcontrol")
                continue;
            const ControlSeries& series = run.controls[c];
            const ControlCounts& counts = run.counts[c++];
            out += which;
            out += ',';
            out += series.kind;
            out += ',';
            append_csv(out, series.name);
            out += ',';
            append_csv(out, series.element);
            out += ',';
            if (series.regulator())
                out += std::to_string(watch.terminal);
            for (const int value : {counts.start, counts.changes, counts.steps_changed, counts.min, counts.max}) {
                out += ',';
                out += std::to_string(value);
            }
            out += ",,,,";
            // How often it acts, as maintenance counts it.
            if (hours > 0)
                out += three(counts.changes / hours);
            out += ',';
            if (const PowerSeries* flow = flow_of(run, series.name); flow && series.regulator())
                out += decimal_text(back_rows(flow->values) * sky.interval, 3);
            out += ',';
            if (counts.rows_at_limit)
                out += decimal_text(*counts.rows_at_limit * sky.interval, 3);
            out += ",,,,,\n";
        }
        for (const PowerSeries& power : run.powers) {
            out += which;
            out += ",ramp,";
            out += power.name;
            out += ',';
            if (power.name != "pv_kw")
                out += "Vsource.source";
            out += ",,";
            out += three(power.values.front());
            out += ",,,";
            out += three(*std::min_element(power.values.begin(), power.values.end()));
            out += ',';
            out += three(*std::max_element(power.values.begin(), power.values.end()));
            out += ',';
            if (const std::optional<Ramp> ramp = largest_ramp(power.values, sky.interval)) {
                out += three(ramp->per_s);
                out += ',';
                out += std::to_string(ramp->row);
            } else {
                out += ',';
            }
            out += ',';
            if (power.name != "head_kvar") {
                // The energy over the run: each row's power held for its step.
                double kwh = 0;
                for (const double value : power.values)
                    kwh += value;
                out += three(kwh * sky.interval / 3600);
            }
            out += ",,";
            if (power.name == "head_kw") {
                // The seconds the head carried power back toward the source.
                out += decimal_text(back_rows(power.values) * sky.interval, 3);
            }
            out += ",,";
            // As grid codes limit a plant's ramps: in per cent of its rating a minute.
            if (power.name == "pv_kw" && nameplate)
                if (const std::optional<double> pct = minute_ramp_pct(power.values, sky.interval, *nameplate))
                    out += three(*pct);
            out += ',';
            if (power.name == "pv_kw") {
                const std::optional<Curtailment> cut = curtailment(run, sky.interval);
                if (cut)
                    out += three(cut->kwh) + "," + (cut->available_kwh > 0 ? three(100 * cut->kwh / cut->available_kwh) : "");
                else
                    out += ",";
                const double to_kvarh = sky.interval / 3600;
                double absorbed = 0, supplied = 0;
                for (const double kvar : run.pv_kvar)
                    (kvar < 0 ? absorbed : supplied) += std::fabs(kvar) * to_kvarh;
                out += "," + three(absorbed) + "," + three(supplied);
            } else {
                out += ",,,";
            }
            out += '\n';
        }
    };
    rows(read.sky, "sky");
    if (read.clear)
        rows(*read.clear, "clear");
    return out;
}

ControlsTable controls_table(const ControlsRead& read, const Sky& sky, const std::string& made_from)
{
    std::vector<ControlSeries> controls = read.sky.controls;
    if (read.clear)
        for (std::size_t i = 0; i < controls.size(); ++i) {
            controls[i].clear_settle = read.clear->controls[i].settle;
            controls[i].clear_rows = read.clear->controls[i].rows;
        }
    return ControlsTable(std::move(controls), sky.rows, made_from);
}

std::string controls_summary(const ControlsRead& read, const std::vector<ControlWatch>& watches, const Sky& sky)
{
    const ControlsRun& run = read.sky;
    const auto count_of = [](std::string_view kind, const ControlsRun& r) {
        return std::count_if(r.controls.begin(), r.controls.end(), [&](const ControlSeries& c) { return c.kind == kind; });
    };
    std::string text = "Regulators: ";
    if (count_of("regcontrol", run) == 0) {
        text += "none in the circuit";
    } else {
        const int changes = total_changes(run, "regcontrol");
        const int steps = rows_with_changes(run, "regcontrol");
        text += std::to_string(changes) + (changes == 1 ? " tap change" : " tap changes") + " in " + std::to_string(steps) +
                (steps == 1 ? " step" : " steps") + " under this sky";
        if (read.clear)
            text += ", " + std::to_string(total_changes(*read.clear, "regcontrol")) + " under a clear sky";
        // The regulators that moved most.
        std::vector<std::pair<int, std::string>> moved;
        for (std::size_t i = 0; i < run.controls.size(); ++i)
            if (run.controls[i].regulator() && run.counts[i].changes > 0)
                moved.emplace_back(run.counts[i].changes, run.controls[i].name);
        std::stable_sort(moved.begin(), moved.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        if (!moved.empty()) {
            text += " (";
            for (std::size_t i = 0; i < moved.size() && i < 5; ++i)
                text += (i == 0 ? "" : ", ") + moved[i].second + " " + std::to_string(moved[i].first);
            text += moved.size() > 5 ? ", ...)" : ")";
        }
        // A regulator pinned at the end of its range regulates no more.
        std::string pinned;
        for (std::size_t i = 0; i < run.controls.size(); ++i)
            if (run.controls[i].regulator() && run.counts[i].rows_at_limit && *run.counts[i].rows_at_limit > 0) {
                if (!pinned.empty())
                    pinned += ", ";
                pinned += run.controls[i].name;
                pinned += " ";
                pinned += decimal_text(*run.counts[i].rows_at_limit * sky.interval, 1);
                pinned += " s";
            }
        if (!pinned.empty())
            text += "; at the end of its tap range, where it regulates no more: " + pinned;
        // Power back through a regulator: with reverse settings it regulates by them then; without,
        // as if the power still came from the source. Which it has is the circuit's to say.
        std::vector<std::string> back;
        for (const PowerSeries& flow : run.flows)
            if (const int rows = back_rows(flow.values); rows > 0) {
                const auto watch = std::find_if(watches.begin(), watches.end(), [&](const ControlWatch& w) {
                    return w.kind == "regflow" && w.name == flow.name;
                });
                back.push_back(flow.name + " " + decimal_text(rows * sky.interval, 1) + " s" +
                               (watch != watches.end() && watch->reversible ? " (reversible=yes)" : " (reversible=no)"));
            }
        if (!back.empty())
            text += "; power flowed back toward the source through " + first_names(back);
    }
    text += "; capacitors: ";
    if (count_of("capcontrol", run) == 0) {
        text += "none controlled";
    } else {
        const int switched = total_changes(run, "capcontrol");
        text += switched == 0 ? std::string("no switching")
                              : std::to_string(switched) + (switched == 1 ? " step switched" : " steps switched") + " in " +
                                    std::to_string(rows_with_changes(run, "capcontrol")) +
                                    (rows_with_changes(run, "capcontrol") == 1 ? " row" : " rows");
        if (read.clear)
            text += " under this sky, " + std::to_string(total_changes(*read.clear, "capcontrol")) + " under a clear sky";
    }
    const auto head = std::find_if(run.powers.begin(), run.powers.end(), [](const PowerSeries& p) { return p.name == "head_kw"; });
    if (head != run.powers.end())
        if (const std::optional<Ramp> ramp = largest_ramp(head->values, sky.interval)) {
            text += "; the head's largest ramp " + decimal_text(ramp->per_s, 1) + " kW/s at row " + std::to_string(ramp->row) +
                    " (" + row_time(sky, ramp->row) + ")";
            if (read.clear) {
                const auto twin = std::find_if(read.clear->powers.begin(), read.clear->powers.end(),
                                               [](const PowerSeries& p) { return p.name == "head_kw"; });
                if (twin != read.clear->powers.end())
                    if (const std::optional<Ramp> calm = largest_ramp(twin->values, sky.interval))
                        text += ", " + decimal_text(calm->per_s, 2) + " kW/s under a clear sky";
            }
        }
    text += ".";
    if (read.clear && !run.controls.empty()) {
        const int taps = total_changes(run, "regcontrol") - total_changes(*read.clear, "regcontrol");
        const int caps = total_changes(run, "capcontrol") - total_changes(*read.clear, "capcontrol");
        text += " The cloud's own cost: " + std::to_string(taps) + (std::abs(taps) == 1 ? " tap change" : " tap changes") +
                " and " + std::to_string(caps) + (std::abs(caps) == 1 ? " capacitor switching" : " capacitor switchings") +
                " more than under a clear sky.";
    } else if (!read.clear) {
        text += " No clear-sky twin was run (the study was written with --no-twin): the report has no clear rows.";
    }
    return text;
}

std::vector<std::string> controls_warnings(const ControlsRead& read, const std::vector<ControlWatch>& watches)
{
    std::vector<std::string> warnings;
    std::vector<std::string> unrated, unrecorded;
    for (const ControlWatch& watch : watches)
        if (watch.kind == "pv" && watch.pmpp_kw <= 0)
            (watch.pmpp_kw < 0 ? unrecorded : unrated).push_back(watch.element);
    if (!unrated.empty())
        warnings.push_back(first_names(unrated) + (unrated.size() == 1 ? " gives" : " give") +
                           " no Pmpp, so the engine took its default, 500 kW: controls_report.csv leaves "
                           "ramp_pct_per_min blank");
    if (!unrecorded.empty())
        warnings.push_back("the study was written before the PV systems' Pmpp was recorded: controls_report.csv leaves "
                           "ramp_pct_per_min blank (write the study again and run it to have it)");
    const auto settle = [&](const ControlsRun& run, const char* which) {
        if (!run.moving.empty())
            warnings.push_back(std::to_string(run.moving.size()) + (run.moving.size() == 1 ? " control was" : " controls were") +
                               " still moving at the end of the settle" + which + ": " + first_names(run.moving) +
                               "; their first rows are moves of the settle, not of the sky (raise the circuit's "
                               "MaxControlIter, or look at their settings)");
        else if (!run.settle_status.empty() && lower(run.settle_status) != "solved")
            warnings.push_back(std::string("the settle") + which + " ended " + run.settle_status +
                               " in the engine's summary: its first rows may be moves of the settle, not of the sky");
        else if (run.settle_iterations > 1)
            warnings.push_back(std::string("the settle's last solve") + which + " still took " +
                               std::to_string(run.settle_iterations) + " control iterations: a control may not be at rest");
    };
    settle(read.sky, "");
    if (read.clear)
        settle(*read.clear, " under a clear sky");
    return warnings;
}

}  // namespace umbrascope::study

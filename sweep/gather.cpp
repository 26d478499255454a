#include "sweep/gather.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/csv.hpp"
#include "core/parallel.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "output/output_file.hpp"
#include "study/folder.hpp"
#include "study/study.hpp"
#include "study/voltages.hpp"
#include "sweep/inputs.hpp"
#include "sweep/cases_picture.hpp"
#include "sweep/picture.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

namespace {

std::string read_all(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw SweepError("cannot read " + path.string());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::optional<double> optional_number(const std::string& text)
{
    return text.empty() ? std::nullopt : number_of(text);
}

double number_or_zero(const std::string& text) { return number_of(text).value_or(0); }

// Per unit as the voltage reports write it, four decimals.
std::string four(const std::optional<double>& value)
{
    if (!value)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", *value);
    return text;
}

std::string grouped(double value)
{
    const long long whole = std::llround(value);
    const std::string digits = std::to_string(whole < 0 ? -whole : whole);
    std::string out = whole < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

struct ControlsFigures {
    int taps_sky = 0, taps_clear = 0, switchings_sky = 0, switchings_clear = 0;
    std::string most_taps;
    int most = -1;
    std::optional<double> ramp;
    int ramp_row = 0;
    double pv_kwh = 0;
    std::optional<double> pv_peak, clear_pv_peak, head_min, head_max;
    double reverse_head = 0, clear_reverse_head = 0;
    std::optional<double> curtailed_pct, clear_curtailed_pct;  // pv_kw's, where the report gives it
    // Each regulator's seconds of power flowing back through it, under the sky and the clear sky.
    std::vector<std::pair<std::string, double>> reverse, clear_reverse;
};

ControlsFigures read_controls_report(const fs::path& path)
{
    ControlsFigures out;
    const std::string text = read_all(path);
    std::vector<std::string> header;
    each_line(text, [&](std::string_view line, long number) {
        if (line.empty())
            return;
        std::optional<std::vector<std::string>> cells = csv_fields(line);
        if (!cells)
            throw SweepError(path.string() + ":" + std::to_string(number) + ": not a CSV line");
        if (number == 1) {
            header = *cells;
            if (header.size() < 13 || header[0] != "sky" || header[6] != "changes" || header[12] != "kwh")
                throw SweepError(path.string() + " is not a controls report of this umbrascope-study: run the case again");
            return;
        }
        if (cells->size() != header.size())
            throw SweepError(path.string() + ":" + std::to_string(number) + ": not " + std::to_string(header.size()) +
                             " fields");
        const std::vector<std::string>& c = *cells;
        const bool sky = c[0] == "sky";
        // Seconds of power flowing back, where the report has them.
        const double reverse_s = header.size() > 14 && header[14] == "reverse_s" ? number_or_zero(c[14]) : 0;
        if (c[1] == "regcontrol")
            (sky ? out.reverse : out.clear_reverse).emplace_back(c[2], reverse_s);
        if (c[1] == "ramp" && c[2] == "head_kw")
            (sky ? out.reverse_head : out.clear_reverse_head) = reverse_s;
        if (c[1] == "ramp" && c[2] == "pv_kw" && header.size() > 18 && header[18] == "curtailed_pct")
            (sky ? out.curtailed_pct : out.clear_curtailed_pct) = optional_number(c[18]);
        if (c[1] == "regcontrol") {
            const int changes = static_cast<int>(number_or_zero(c[6]));
            (sky ? out.taps_sky : out.taps_clear) += changes;
            if (sky && changes > out.most) {
                out.most = changes;
                out.most_taps = c[2];
            }
        } else if (c[1] == "capcontrol") {
            (sky ? out.switchings_sky : out.switchings_clear) += static_cast<int>(number_or_zero(c[6]));
        } else if (c[1] == "ramp" && sky && c[2] == "head_kw") {
            out.ramp = optional_number(c[10]);
            out.ramp_row = static_cast<int>(number_or_zero(c[11]));
            out.head_min = optional_number(c[8]);
            out.head_max = optional_number(c[9]);
        } else if (c[1] == "ramp" && c[2] == "pv_kw") {
            if (sky) {
                out.pv_kwh = number_or_zero(c[12]);
                out.pv_peak = optional_number(c[9]);
            } else {
                out.clear_pv_peak = optional_number(c[9]);
            }
        }
    });
    return out;
}

std::vector<std::string> outside(const std::vector<BusVoltage>& buses, bool range_a)
{
    std::vector<std::string> out;
    for (const BusVoltage& bus : buses)
        if ((range_a ? bus.below_a + bus.above_a : bus.below_b + bus.above_b) > 0)
            out.push_back(bus.bus);
    return out;
}

const char* criterion_words(const std::string& criterion)
{
    if (criterion == "max_seconds_outside_a")
        return "seconds outside range A";
    if (criterion == "max_seconds_outside_b")
        return "seconds outside range B";
    if (criterion == "min_voltage")
        return "the lowest voltage";
    if (criterion == "max_voltage")
        return "the highest voltage";
    if (criterion == "max_switching_increase")
        return "capacitor switchings";
    if (criterion == "max_tap_changes_per_hour_increase")
        return "tap changes an hour";
    if (criterion == "max_loading_pct")
        return "the loading, on its moving average";
    if (criterion == "max_emergency_pct")
        return "the loading against the emergency rating";
    if (criterion == "max_reverse_s_head")
        return "seconds of power flowing back through the head";
    if (criterion == "max_reverse_s_regulator")
        return "seconds of power flowing back through a regulator";
    if (criterion == "max_curtailment_pct")
        return "the energy the inverters held back";
    return "tap changes";
}

}  // namespace

std::vector<BusVoltage> read_voltage_report(const fs::path& path)
{
    std::vector<BusVoltage> out;
    const std::string text = read_all(path);
    std::vector<std::string_view> c;
    std::vector<std::string> quoted;
    const auto number = [](std::string_view field) {
        double value = 0;
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
        return error == std::errc() && end == field.data() + field.size() ? std::optional<double>(value) : std::nullopt;
    };
    each_line(text, [&](std::string_view line, long row) {
        if (line.empty())
            return;
        // Plain fields split where they stand; a line with quotes as CSV reads it.
        c.clear();
        if (line.find('"') == std::string_view::npos) {
            std::size_t start = 0;
            for (;;) {
                const std::size_t comma = line.find(',', start);
                c.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
                if (comma == std::string_view::npos)
                    break;
                start = comma + 1;
            }
        } else if (std::optional<std::vector<std::string>> cells = csv_fields(line)) {
            quoted = std::move(*cells);
            for (const std::string& cell : quoted)
                c.emplace_back(cell);
        }
        if (c.size() != 10)
            throw SweepError(path.string() + ":" + std::to_string(row) + ": not a line of a voltage report");
        if (row == 1) {
            if (c[0] != "bus" || c[6] != "seconds_below_a")
                throw SweepError(path.string() + " is not a voltage report of this umbrascope-study: run the case again");
            return;
        }
        BusVoltage bus;
        bus.bus = std::string(c[0]);
        bus.lowest = number(c[2]);
        bus.lowest_row = static_cast<int>(number(c[3]).value_or(0));
        bus.highest = number(c[4]);
        bus.highest_row = static_cast<int>(number(c[5]).value_or(0));
        bus.below_a = number(c[6]).value_or(0);
        bus.above_a = number(c[7]).value_or(0);
        bus.below_b = number(c[8]).value_or(0);
        bus.above_b = number(c[9]).value_or(0);
        out.push_back(std::move(bus));
    });
    return out;
}

VoltageFigures range_figures(const std::vector<BusVoltage>& buses, bool range_a, const std::vector<std::string>& set_aside)
{
    VoltageFigures out;
    const std::set<std::string> aside(set_aside.begin(), set_aside.end());
    for (const BusVoltage& bus : buses) {
        if (aside.count(bus.bus) != 0)
            continue;
        const double below = range_a ? bus.below_a : bus.below_b;
        const double above = range_a ? bus.above_a : bus.above_b;
        if (below + above > 0) {
            ++out.buses_outside;
            if (below + above > out.most_seconds) {
                out.most_seconds = below + above;
                out.most_bus = bus.bus;
                out.most_row = below >= above ? bus.lowest_row : bus.highest_row;
            }
        }
        if (bus.lowest && (!out.v_min || *bus.lowest < *out.v_min)) {
            out.v_min = bus.lowest;
            out.v_min_bus = bus.bus;
            out.v_min_row = bus.lowest_row;
        }
        if (bus.highest && (!out.v_max || *bus.highest > *out.v_max)) {
            out.v_max = bus.highest;
            out.v_max_bus = bus.bus;
            out.v_max_row = bus.highest_row;
        }
    }
    return out;
}

BaseCase read_base_case(const fs::path& folder, const Criteria& criteria)
{
    BaseCase base;
    const std::vector<BusVoltage> buses = read_voltage_report(folder / study::report_name);
    const ControlsFigures controls = read_controls_report(folder / "controls_report.csv");
    if (criteria.exclude_base_violations) {
        base.aside_a = outside(buses, true);
        base.aside_b = outside(buses, false);
    }
    base.taps = controls.taps_sky;
    base.switchings = controls.switchings_sky;
    base.loading = read_loading_report(folder / "loading_report.csv");
    return base;
}

CaseFigures case_figures(const fs::path& folder, const BaseCase& base, const Criteria& criteria, double hours)
{
    CaseFigures f;
    const std::vector<BusVoltage> buses = read_voltage_report(folder / study::report_name);
    f.a = range_figures(buses, true, base.aside_a);
    f.b = range_figures(buses, false, base.aside_b);
    std::error_code error;
    if (fs::exists(folder / study::clear_report_name, error)) {
        const std::vector<BusVoltage> clear = read_voltage_report(folder / study::clear_report_name);
        f.clear_a = range_figures(clear, true, base.aside_a);
        f.clear_b = range_figures(clear, false, base.aside_b);
        f.clear_voltages = true;
    } else {
        f.clear_a = f.a;
        f.clear_b = f.b;
    }
    f.set_aside_a = static_cast<int>(base.aside_a.size());
    f.set_aside_b = static_cast<int>(base.aside_b.size());
    const ControlsFigures controls = read_controls_report(folder / "controls_report.csv");
    f.taps_sky = controls.taps_sky;
    f.taps_clear = controls.taps_clear;
    f.taps_base = base.taps;
    f.switchings_sky = controls.switchings_sky;
    f.switchings_clear = controls.switchings_clear;
    f.switchings_base = base.switchings;
    f.most_taps = controls.most_taps;
    f.ramp = controls.ramp;
    f.ramp_row = controls.ramp_row;
    f.pv_kwh = controls.pv_kwh;
    f.pv_peak = controls.pv_peak;
    f.clear_pv_peak = controls.clear_pv_peak;
    f.head_kw_min = controls.head_min;
    f.head_kw_max = controls.head_max;
    f.hours = hours;
    const LoadingReport loading = read_loading_report(folder / "loading_report.csv");
    f.loading = loading_figures(loading.sky, &base.loading.sky, criteria);
    f.clear_loading = loading_figures(loading.clear, &base.loading.clear, criteria);
    f.curtailed_pct = controls.curtailed_pct;
    f.clear_curtailed_pct = controls.clear_curtailed_pct;
    f.reverse_s_head = controls.reverse_head;
    f.clear_reverse_s_head = controls.clear_reverse_head;
    for (const auto& [name, seconds] : controls.reverse) {
        if (seconds > 0)
            f.reversed.push_back(name);
        if (seconds > f.reverse_s_regulator) {
            f.reverse_s_regulator = seconds;
            f.reverse_regulator = name;
        }
    }
    for (const auto& [name, seconds] : controls.clear_reverse)
        if (seconds > f.clear_reverse_s_regulator) {
            f.clear_reverse_s_regulator = seconds;
            f.clear_reverse_regulator = name;
        }
    return f;
}

std::optional<Failure> judge(const CaseFigures& f, const Criteria& criteria, bool clear)
{
    const VoltageFigures& a = clear ? f.clear_a : f.a;
    const VoltageFigures& b = clear ? f.clear_b : f.b;
    if (a.most_seconds > criteria.max_seconds_outside_a)
        return Failure{"max_seconds_outside_a", 'A', a.most_bus, a.most_row, decimal_text(a.most_seconds, 0), 0,
                       a.most_seconds};
    if (b.most_seconds > criteria.max_seconds_outside_b)
        return Failure{"max_seconds_outside_b", 'B', b.most_bus, b.most_row, decimal_text(b.most_seconds, 0), 1,
                       b.most_seconds};
    if (a.v_min && *a.v_min < criteria.min_voltage)
        return Failure{"min_voltage", 'L', a.v_min_bus, a.v_min_row, four(a.v_min), 2, -*a.v_min};
    if (a.v_max && *a.v_max > criteria.max_voltage)
        return Failure{"max_voltage", 'H', a.v_max_bus, a.v_max_row, four(a.v_max), 3, *a.v_max};
    const int taps = clear ? f.taps_clear : f.taps_sky;
    const int increase = taps - f.taps_base;
    if (criteria.max_tap_increase && increase > *criteria.max_tap_increase)
        return Failure{"max_tap_increase", 'T', f.most_taps, 0, std::to_string(taps), 4, static_cast<double>(taps)};
    if (criteria.max_tap_increase_pct &&
        100.0 * increase / std::max(f.taps_base, 1) > *criteria.max_tap_increase_pct)
        return Failure{"max_tap_increase_pct", 'P', f.most_taps, 0, std::to_string(taps), 5, static_cast<double>(taps)};
    const int switchings = clear ? f.switchings_clear : f.switchings_sky;
    if (criteria.max_switching_increase && switchings - f.switchings_base > *criteria.max_switching_increase)
        return Failure{"max_switching_increase", 'S', "", 0, std::to_string(switchings), 6,
                       static_cast<double>(switchings)};
    if (criteria.max_tap_changes_per_hour_increase && f.hours > 0 &&
        increase / f.hours > *criteria.max_tap_changes_per_hour_increase)
        return Failure{"max_tap_changes_per_hour_increase", 'T', f.most_taps, 0, decimal_text(increase / f.hours, 3), 7,
                       increase / f.hours};
    const LoadingFigures& loading = clear ? f.clear_loading : f.loading;
    if (loading.over_normal)
        return Failure{"max_loading_pct", 'O', loading.over_normal->element, loading.over_normal->row,
                       decimal_text(loading.over_normal->value, 3), 8, loading.over_normal->value};
    if (loading.over_emergency)
        return Failure{"max_emergency_pct", 'E', loading.over_emergency->element, loading.over_emergency->row,
                       decimal_text(loading.over_emergency->value, 3), 9, loading.over_emergency->value};
    const double head = clear ? f.clear_reverse_s_head : f.reverse_s_head;
    if (criteria.max_reverse_s_head && head > *criteria.max_reverse_s_head)
        return Failure{"max_reverse_s_head", 'R', "the head", 0, decimal_text(head, 0), 10, head};
    const double regulator = clear ? f.clear_reverse_s_regulator : f.reverse_s_regulator;
    if (criteria.max_reverse_s_regulator && regulator > *criteria.max_reverse_s_regulator)
        return Failure{"max_reverse_s_regulator", 'R', clear ? f.clear_reverse_regulator : f.reverse_regulator, 0,
                       decimal_text(regulator, 0), 11, regulator};
    const std::optional<double>& curtailed = clear ? f.clear_curtailed_pct : f.curtailed_pct;
    if (criteria.max_curtailment_pct && curtailed && *curtailed > *criteria.max_curtailment_pct)
        return Failure{"max_curtailment_pct", 'C', "the PV systems", 0, decimal_text(*curtailed, 3), 12, *curtailed};
    return std::nullopt;
}

Capacity hosting_capacity(const std::vector<std::vector<Step>>& series)
{
    Capacity out;
    std::vector<double> answers;
    bool all_censored = !series.empty();
    for (std::vector<Step> steps : series) {
        std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.level < b.level; });
        for (const Step& step : steps) {
            out.partial = out.partial || step.state == Step::missing;
            if (step.state == Step::passes && (!out.max || step.level > *out.max))
                out.max = step.level;
        }
        const bool based = !steps.empty() && steps.front().level == 0;
        if (!based || steps.front().state == Step::missing) {
            out.unanswered = true;
            all_censored = false;
            continue;
        }
        std::optional<double> hc;
        bool stopped = false;
        for (const Step& step : steps) {
            if (step.state != Step::passes) {
                stopped = true;
                break;
            }
            hc = step.level;
        }
        all_censored = all_censored && !stopped;
        if (!hc) {
            all_censored = false;
            answers.push_back(-1);  // the base fails: no capacity, whatever the others say
            continue;
        }
        answers.push_back(*hc);
    }
    if (out.unanswered || answers.empty())
        return out;
    std::sort(answers.begin(), answers.end());
    if (answers.front() < 0)
        return out;
    out.min = answers.front();
    const std::size_t n = answers.size();
    out.median = n % 2 == 1 ? answers[n / 2] : (answers[n / 2 - 1] + answers[n / 2]) / 2;
    out.censored = all_censored;
    return out;
}

GatherResult gather_sweep(const GatherOptions& options)
{
    const fs::path& sweep = options.sweep;
    refuse_changed_inputs(sweep);
    const Record record = read_record(sweep);
    const std::vector<Sky> skies = read_skies(sweep);
    // A search's cases by bus have an answer of their own (locational_hc.csv).
    std::vector<Case> cases = read_cases(sweep);
    std::erase_if(cases, [](const Case& c) { return c.placement == plant_placement; });
    const fs::path criteria_path = sweep / criteria_name;
    const Criteria criteria = parse_criteria(read_all(criteria_path), criteria_path.string());
    // Each case's loading was read over the window planned; the criteria cannot judge another.
    if (std::fabs(criteria.loading_window_s - record.loading_window_s) > 1e-9)
        throw SweepError(criteria_path.string() + " gives loading_window_s = " + decimal_text(criteria.loading_window_s, 3) +
                         ", but the cases were planned to read their loading over " +
                         decimal_text(record.loading_window_s, 3) + " s: plan the sweep again (umbrascope-study sweep "
                         "plan " + sweep.string() + " --criteria " + criteria_path.string() +
                         " ... as planned), which runs its cases again");

    GatherResult result;
    // Which cases are there to read.
    std::vector<bool> there(cases.size(), false);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const fs::path folder = case_folder(sweep, cases[i].id);
        std::optional<Status> status;
        std::string why;
        try {
            status = read_status(folder);
        } catch (const SweepError& error) {
            why = error.what();
        }
        if (status && status->done && planned_fingerprint(folder) == status->files) {
            there[i] = true;
            continue;
        }
        if (status && status->done)
            why = "planned again since it ran";
        else if (status)
            why = "failed: " + status->reason;
        else if (why.empty())
            why = state_of(folder) == State::running ? "started, not finished" : "not run";
        result.missing.push_back(cases[i].id + " (" + why + ")");
    }

    // Each sky's times and its base case's buses outside the ranges.
    std::map<std::string, study::Sky> times;
    for (const Sky& sky : skies) {
        try {
            times[sky.name] = study::read_sky(sky.folder);
        } catch (const study::StudyError& error) {
            throw SweepError(error.what());
        }
    }
    const auto time_of = [&](const std::string& sky, int row) {
        const study::Sky& t = times[sky];
        return row >= 1 && row <= t.rows ? study::row_time(t, row) : std::string();
    };
    struct Base : BaseCase {
        bool there = false;
        std::string id;
    };
    std::map<std::string, Base> bases;
    for (const Sky& sky : skies)
        bases[sky.name] = Base{};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (cases[i].level_pct != 0)
            continue;
        bases[cases[i].sky].id = cases[i].id;
        if (!there[i])
            continue;
        Base& base = bases[cases[i].sky];
        static_cast<BaseCase&>(base) = read_base_case(case_folder(sweep, cases[i].id), criteria);
        base.there = true;
    }

    // Every case there: its row of the report and its judgement.
    std::vector<std::optional<CaseFigures>> figures(cases.size());
    std::vector<std::optional<Failure>> failed(cases.size()), failed_clear(cases.size());
    std::string report = "case,level_pct,placement,seed,sky,pv_systems,added_pv_kw,existing_pv_kw,buses_outside_a,"
                         "most_s_outside_a,buses_outside_b,most_s_outside_b,v_min,v_min_bus,v_min_row,v_min_time,v_max,"
                         "v_max_bus,v_max_row,v_max_time,taps_sky,taps_clear,taps_base,switchings_sky,switchings_clear,"
                         "switchings_base,head_ramp_kw_per_s,head_ramp_row,all_pv_kwh,pv_peak_kw,clear_pv_peak_kw,"
                         "head_kw_min,head_kw_max,load_mult,set_aside_a,set_aside_b,inverter,max_loading_pct,loading_element,"
                         "loading_s_over,window_loading_pct,emergency_s_over,reverse_s_head,reverse_s_regulators,"
                         "curtailed_pct\n";
    // Each case's figures from its own reports, the cases shared among the cores.
    share_out(cases.size(), threads_for(cases.size()), [&](std::size_t, std::size_t i) {
        if (!there[i])
            return;
        const Case& c = cases[i];
        const fs::path folder = case_folder(sweep, c.id);
        const Base& base = bases.at(c.sky);
        if (!base.there)
            return;  // without its sky's base the case cannot be judged; the base is missing already
        const study::Sky& sky_times = times.at(c.sky);
        const CaseFigures f = case_figures(folder, base, criteria, sky_times.rows * sky_times.interval / 3600);
        failed[i] = judge(f, criteria, false);
        failed_clear[i] = judge(f, criteria, true);
        figures[i] = f;
    });
    const auto kw_or_empty = [](const std::optional<double>& kw) { return kw ? decimal_text(*kw, 3) : std::string(); };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        if (!figures[i])
            continue;
        const Case& c = cases[i];
        const CaseFigures& f = *figures[i];
        const auto row_text = [](int row) { return row > 0 ? std::to_string(row) : std::string(); };
        append_csv_row(report, {c.id, level_text(c.level_pct), c.placement, std::to_string(c.seed), c.sky,
                                std::to_string(c.pv_systems), decimal_text(c.pv_kw, 3),
                                decimal_text(record.without_circuit_pv ? 0 : record.existing_pv_kw, 3),
                                std::to_string(f.a.buses_outside), decimal_text(f.a.most_seconds, 0),
                                std::to_string(f.b.buses_outside), decimal_text(f.b.most_seconds, 0), four(f.a.v_min),
                                f.a.v_min_bus, row_text(f.a.v_min_row), time_of(c.sky, f.a.v_min_row), four(f.a.v_max),
                                f.a.v_max_bus, row_text(f.a.v_max_row), time_of(c.sky, f.a.v_max_row),
                                std::to_string(f.taps_sky), std::to_string(f.taps_clear), std::to_string(f.taps_base),
                                std::to_string(f.switchings_sky), std::to_string(f.switchings_clear),
                                std::to_string(f.switchings_base), f.ramp ? decimal_text(*f.ramp, 3) : std::string(),
                                row_text(f.ramp_row), decimal_text(f.pv_kwh, 3), kw_or_empty(f.pv_peak),
                                kw_or_empty(f.clear_pv_peak), kw_or_empty(f.head_kw_min), kw_or_empty(f.head_kw_max),
                                decimal_text(record.load_mult, 6), std::to_string(f.set_aside_a),
                                std::to_string(f.set_aside_b), c.inverter,
                                f.loading.max_pct ? decimal_text(*f.loading.max_pct, 3) : std::string(),
                                f.loading.element, decimal_text(f.loading.s_over, 3),
                                f.loading.window_pct ? decimal_text(*f.loading.window_pct, 3) : std::string(),
                                decimal_text(f.loading.emergency_s_over, 3), decimal_text(f.reverse_s_head, 3),
                                decimal_text(f.reverse_s_regulator, 3),
                                f.curtailed_pct ? decimal_text(*f.curtailed_pct, 3) : std::string()});
    }

    std::vector<OutputFile> files;
    const auto add_file = [&](std::string_view name, std::string_view bytes) {
        try {
            files.emplace_back(sweep / name);
            files.back().write(bytes);
            files.back().finish();
        } catch (const WriteError& error) {
            throw SweepError(error.what());
        }
        result.written.push_back(sweep / name);
    };
    add_file(report_file_name, report);

    // The series: each placement and seed under each sky, its cases by level after its sky's base.
    std::vector<std::string> placements;
    for (const Case& c : cases)
        if (c.placement != "none" && std::find(placements.begin(), placements.end(), c.placement) == placements.end())
            placements.push_back(c.placement);
    struct Series {
        std::string sky, placement;
        int seed = 0;
        std::string inverter = "unity";
        std::vector<std::size_t> cases;  // the sky's base first
    };
    std::vector<Series> series;
    std::map<std::string, std::size_t> base_of;
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (cases[i].level_pct == 0)
            base_of[cases[i].sky] = i;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        if (c.level_pct == 0)
            continue;
        auto at = std::find_if(series.begin(), series.end(), [&](const Series& one) {
            return one.sky == c.sky && one.placement == c.placement && one.seed == c.seed && one.inverter == c.inverter;
        });
        if (at == series.end()) {
            series.push_back({c.sky, c.placement, c.seed, c.inverter, {}});
            if (const auto base = base_of.find(c.sky); base != base_of.end())
                series.back().cases.push_back(base->second);
            at = series.end() - 1;
        }
        at->cases.push_back(i);
    }
    // A sky planned with its base alone is a series of its base.
    for (const auto& [name, base] : base_of) {
        const std::string& sky = name;
        if (std::none_of(series.begin(), series.end(), [&](const Series& one) { return one.sky == sky; }))
            series.push_back({sky, "none", 0, "unity", {base}});
    }
    const double top_level = cases.empty() ? 0
                                           : std::max_element(cases.begin(), cases.end(), [](const Case& a, const Case& b) {
                                                 return a.level_pct < b.level_pct;
                                             })->level_pct;

    // The inverter modes, each with an answer of its own.
    std::vector<std::string> modes;
    for (const Case& c : cases)
        if (c.level_pct != 0 && std::find(modes.begin(), modes.end(), c.inverter) == modes.end())
            modes.push_back(c.inverter);
    if (modes.empty())
        modes.emplace_back("unity");
    const bool by_mode = modes.size() > 1;

    std::vector<std::optional<double>> mode_answer(modes.size());  // over every sky and placement

    const bool whole = result.missing.empty();
    if (whole || options.partial) {
        std::string capacity =
            "sky,placement,inverter,hc_min_pct,hc_min_kw,hc_median_pct,hc_max_pct,hc_max_kw,clear_hc_min_pct,clear_hc_min_kw,"
            "clear_hc_max_pct,clear_hc_max_kw,answer_pct,answer_kw,limited_by,partial,censored,first_failing_case,"
            "criterion,where,row,time,value,clear_first_failing_case,clear_criterion,clear_where,clear_value\n";
        Picture picture;
        picture.partial = !whole;
        const auto kw_of = [&](double level) { return level / 100 * record.feeder_kw; };
        const auto pct = [](const std::optional<double>& level) { return level ? level_text(*level) : std::string(); };
        const auto kw = [&](const std::optional<double>& level) {
            return level ? decimal_text(kw_of(*level), 1) : std::string();
        };
        const auto amount = [&](double level) {
            return grouped(kw_of(level)) + " kW (" + level_text(level) + " %)";
        };
        // The first failing case of a group: at its lowest failing level, the worst there, the first
        // in cases.csv of those alike.
        const auto first_failing = [&](const std::vector<std::size_t>& members,
                                       const std::vector<std::optional<Failure>>& judged) {
            std::optional<std::size_t> first;
            for (const std::size_t i : members) {
                if (!judged[i])
                    continue;
                if (!first) {
                    first = i;
                    continue;
                }
                const Failure& a = *judged[i];
                const Failure& b = *judged[*first];
                const double la = cases[i].level_pct, lb = cases[*first].level_pct;
                if (la < lb || (la == lb && (a.order < b.order || (a.order == b.order && a.severity > b.severity))))
                    first = i;
            }
            return first;
        };
        const auto case_words = [&](std::size_t i) {
            const Case& c = cases[i];
            std::string text = "case " + c.id + " at " + level_text(c.level_pct) + " %";
            if (c.placement != "none")
                text += " (" + c.placement + (c.placement == "random" ? " seed " + std::to_string(c.seed) : "") + ")";
            else
                text += " (the base)";
            return text;
        };
        const auto failure_words = [&](std::size_t i, const Failure& failure, bool clear) {
            const CaseFigures& f = *figures[i];
            if (failure.letter == 'O' || failure.letter == 'E')
                return failure.bus + "'s loading " +
                       (failure.letter == 'O' ? std::string("on its moving average, ") + failure.value +
                                                    " % of its normal rating (over the window ending in row "
                                              : "at any second, " + failure.value +
                                                    " % of its emergency rating (in row ") +
                       grouped(failure.row) + ", " + time_of(cases[i].sky, failure.row) + "), in " + case_words(i);
            std::string text = criterion_words(failure.criterion);
            if (!failure.bus.empty())
                text += " at " + failure.bus;
            if (failure.letter == 'T' || failure.letter == 'P')
                text += ", " + std::to_string(clear ? f.taps_clear : f.taps_sky) + " against " +
                        std::to_string(f.taps_base) + " without added PV";
            else if (failure.letter == 'S')
                text += ", " + std::to_string(clear ? f.switchings_clear : f.switchings_sky) + " against " +
                        std::to_string(f.switchings_base) + " without added PV";
            else if (failure.criterion == "max_tap_changes_per_hour_increase")
                text += ", " + failure.value + " more an hour than without added PV";
            else if (failure.letter == 'R')
                text += ", " + failure.value + " s";
            else if (failure.letter == 'C')
                text += ", " + failure.value + " % of what their panels could give";
            else
                text += ", " + failure.value + (failure.letter == 'A' || failure.letter == 'B' ? " s" : " pu");
            if (failure.row > 0)
                text += " (row " + grouped(failure.row) + ", " + time_of(cases[i].sky, failure.row) + ")";
            return text + ", in " + case_words(i);
        };

        std::vector<std::string> sky_groups;
        sky_groups.reserve(skies.size() + 1);
        for (const Sky& sky : skies)
            sky_groups.push_back(sky.name);
        sky_groups.emplace_back("all");
        std::vector<std::string> placement_groups = placements;
        placement_groups.emplace_back("all");
        for (const std::string& mode : modes)
        for (const std::string& group : sky_groups) {
            std::vector<std::string> by_placement;  // the summary's line of each placement's answer
            const std::string with = by_mode ? "With " + mode + " inverters: " : std::string();
            for (const std::string& placement : placement_groups) {
                std::vector<std::vector<Step>> steps, clear_steps;
                std::vector<std::size_t> members;
                std::set<std::size_t> seen;
                int seeds = 0;
                std::vector<double> answers;  // each series' own, the lower of the sky's and the clear sky's
                for (const Series& one : series) {
                    if ((group != "all" && one.sky != group) ||
                        (placement != "all" && one.placement != placement && one.placement != "none") ||
                        one.inverter != mode)
                        continue;
                    ++seeds;
                    std::vector<Step> own, clear;
                    for (const std::size_t i : one.cases) {
                        const Step::State sky_state = !figures[i] ? Step::missing : failed[i] ? Step::fails : Step::passes;
                        const Step::State clear_state =
                            !figures[i] ? Step::missing : failed_clear[i] ? Step::fails : Step::passes;
                        own.push_back({cases[i].level_pct, sky_state});
                        clear.push_back({cases[i].level_pct, clear_state});
                        if (seen.insert(i).second)
                            members.push_back(i);
                    }
                    const Capacity own_hc = hosting_capacity({own});
                    const Capacity own_clear = hosting_capacity({clear});
                    if (own_hc.min && own_clear.min)
                        answers.push_back(std::min(*own_hc.min, *own_clear.min));
                    steps.push_back(std::move(own));
                    clear_steps.push_back(std::move(clear));
                }
                // A sky without its base in the plan: its cases alone, unanswered.
                if (steps.empty())
                    continue;
                const Capacity hc = hosting_capacity(steps);
                const Capacity clear = hosting_capacity(clear_steps);
                const std::optional<std::size_t> first = first_failing(members, failed);
                const std::optional<std::size_t> clear_first = first_failing(members, failed_clear);
                const bool partial = hc.partial || !whole;
                std::optional<double> answer;
                std::string limited_by;
                if (!hc.unanswered && !clear.unanswered && hc.min && clear.min) {
                    answer = std::min(*hc.min, *clear.min);
                    limited_by = hc.censored && clear.censored ? "none"
                                 : *hc.min < *clear.min        ? "sky"
                                 : *clear.min < *hc.min        ? "clear sky"
                                                               : "both";
                } else if (!hc.unanswered && !clear.unanswered) {
                    limited_by = "the base";  // the feeder without added PV fails already
                }
                const bool censored = answer && hc.censored && clear.censored;
                if (group == "all" && placement == "all")
                    mode_answer[static_cast<std::size_t>(std::find(modes.begin(), modes.end(), mode) - modes.begin())] =
                        answer;
                std::vector<std::string> row{group, placement, mode, pct(hc.min), kw(hc.min), pct(hc.median), pct(hc.max),
                                             kw(hc.max), pct(clear.min), kw(clear.min), pct(clear.max), kw(clear.max),
                                             pct(answer), kw(answer), limited_by, partial ? "yes" : "no",
                                             censored ? "yes" : "no"};
                if (first) {
                    const Failure& failure = *failed[*first];
                    row.insert(row.end(), {cases[*first].id, failure.criterion, failure.bus,
                                           failure.row > 0 ? std::to_string(failure.row) : std::string(),
                                           time_of(cases[*first].sky, failure.row), failure.value});
                } else {
                    row.insert(row.end(), {"", "", "", "", "", ""});
                }
                if (clear_first) {
                    const Failure& failure = *failed_clear[*clear_first];
                    row.insert(row.end(), {cases[*clear_first].id, failure.criterion, failure.bus, failure.value});
                } else {
                    row.insert(row.end(), {"", "", "", ""});
                }
                std::string line;
                for (std::size_t k = 0; k < row.size(); ++k) {
                    if (k > 0)
                        line += ',';
                    append_csv(line, row[k]);
                }
                capacity += line + "\n";
                if (placement != "all") {
                    std::string said = placement + " ";
                    if (!answer)
                        said += hc.unanswered || clear.unanswered ? "no answer" : "none";
                    else if (placement == "random" && seeds > 1 && !answers.empty()) {
                        std::sort(answers.begin(), answers.end());
                        const std::size_t n = answers.size();
                        const double median = n % 2 == 1 ? answers[n / 2] : (answers[n / 2 - 1] + answers[n / 2]) / 2;
                        if (answers.back() == *answer)
                            said += (censored ? "at least " : "") + amount(*answer) + " under each of " +
                                    std::to_string(seeds) + " seeds";
                        else
                            said += grouped(kw_of(*answer)) + " to " + grouped(kw_of(answers.back())) + " kW (" +
                                    level_text(*answer) + " to " + level_text(answers.back()) + " %) over " +
                                    std::to_string(seeds) + " seeds, the median " + amount(median);
                    }
                    else
                        said += (censored ? "at least " : "") + amount(*answer);
                    by_placement.push_back(said);
                    continue;
                }
                if (group != "all")
                    picture.skies.push_back({group, by_mode ? mode : std::string(), hc.min, clear.min});

                // The summary's lines of the group: the answer, what limits it, under the sky and
                // under a clear sky.
                const std::string where = group == "all" ? std::string("under every sky") : "under the sky " + group;
                std::string text = partial ? "Partial: " : "";
                text += with;
                text += "Hosting capacity " + where + ": ";
                if (hc.unanswered || clear.unanswered) {
                    std::vector<std::string> unrun;
                    for (const auto& [sky, one] : bases)
                        if ((group == "all" || sky == group) && !one.there)
                            unrun.push_back(one.id.empty() ? sky : one.id);
                    text += "no answer: the base case without added PV (" + study::first_names(unrun, 4) +
                            ") has not run, and every level is judged against it";
                    result.summary.push_back(text);
                    continue;
                }
                if (!answer) {
                    // The feeder without added PV fails already.
                    const std::optional<std::size_t> why = first ? first : clear_first;
                    text += "none: the feeder without added PV fails already";
                    if (why)
                        text += ", by " + failure_words(*why, first ? *failed[*why] : *failed_clear[*why], !first);
                    result.summary.push_back(text);
                    continue;
                }
                if (censored) {
                    text += "at least " + amount(*answer) + ", the highest level planned: no case fails, under the sky "
                            "or a clear sky; plan higher levels for the limit";
                    result.summary.push_back(text);
                    continue;
                }
                text += amount(*answer) + ", limited by " +
                        (limited_by == "sky"         ? std::string("the sky's cloud")
                         : limited_by == "clear sky" ? std::string("a clear sky")
                                                     : std::string("the sky and a clear sky alike")) +
                        ".";
                const auto side = [&](bool clear_side) {
                    const Capacity& one = clear_side ? clear : hc;
                    const std::optional<std::size_t>& at = clear_side ? clear_first : first;
                    std::string said = clear_side ? " Under a clear sky " : " Under the sky ";
                    if (one.censored || !at)
                        return said + "at least " + amount(top_level) + ": no case fails.";
                    said += amount(*one.min) + ": ";
                    said += failure_words(*at, clear_side ? *failed_clear[*at] : *failed[*at], clear_side);
                    if (one.min && cases[*at].level_pct > *one.min + 1e-9 &&
                        std::any_of(members.begin(), members.end(), [&](std::size_t i) {
                            return cases[i].level_pct > *one.min && cases[i].level_pct < cases[*at].level_pct &&
                                   !figures[i];
                        }))
                        said += "; missing cases below it end the answer sooner";
                    return said + ".";
                };
                text += side(false) + side(true);
                result.summary.push_back(text);
            }
            if (!by_placement.empty() && placements.size() > 1)
                result.summary.push_back("  " + with + "By placement " +
                                         (group == "all" ? std::string("under every sky") : "under the sky " + group) +
                                         ": " + study::first_names(by_placement, by_placement.size()) + ".");
            else if (!by_placement.empty() && placements.size() == 1 && placements.front() == "random" &&
                     by_placement.front().find("median") != std::string::npos)
                result.summary.push_back("  Placed at random under " +
                                         (group == "all" ? std::string("every sky") : "the sky " + group) + ": " +
                                         by_placement.front().substr(7) + ".");
        }
        for (std::size_t i = 0; i < cases.size(); ++i) {
            Cell cell;
            cell.level = cases[i].level_pct;
            cell.sky = cases[i].sky;
            cell.placement = cases[i].placement;
            if (by_mode && cases[i].level_pct != 0)
                cell.inverter = cases[i].inverter;
            cell.seed = cases[i].seed;
            cell.state = !figures[i] ? Cell::missing : failed[i] ? Cell::fails : Cell::passes;
            cell.letter = failed[i] ? failed[i]->letter : ' ';
            cell.clear_fails = failed_clear[i].has_value();
            picture.cells.push_back(cell);
        }
        add_file(capacity_file_name, capacity);
        add_file("hosting_capacity.svg", picture_svg(picture));
        // The criteria's panels: the highest voltage always; the others where they decided or came near.
        CasesPicture panels;
        panels.inverters = modes;
        panels.capacity = mode_answer;
        Panel voltage{"Highest voltage", "pu", {}, criteria.max_voltage};
        Panel loading{"Loading, moving average", "% of normal", {}, criteria.max_loading_pct};
        Panel taps{"Tap changes an hour, above the base", "changes", {}, criteria.max_tap_changes_per_hour_increase};
        Panel curtailed{"Energy held back", "% of the panels'", {}, criteria.max_curtailment_pct};
        bool loading_near = false, taps_near = false, curtailed_near = false;
        const auto near_limit = [](double value, const std::optional<double>& limit, double floor) {
            return limit ? value >= 0.8 * *limit : value > floor;
        };
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (!figures[i])
                continue;
            const CaseFigures& f = *figures[i];
            const Case& c = cases[i];
            if (f.a.v_max)
                voltage.dots.push_back({c.level_pct, *f.a.v_max, c.placement, c.inverter});
            if (f.loading.window_pct) {
                loading.dots.push_back({c.level_pct, *f.loading.window_pct, c.placement, c.inverter});
                loading_near = loading_near || near_limit(*f.loading.window_pct, criteria.max_loading_pct, 80);
            }
            if (f.hours > 0) {
                const double more = (f.taps_sky - f.taps_base) / f.hours;
                taps.dots.push_back({c.level_pct, more, c.placement, c.inverter});
                taps_near = taps_near || near_limit(more, criteria.max_tap_changes_per_hour_increase, 0);
            }
            if (f.curtailed_pct) {
                curtailed.dots.push_back({c.level_pct, *f.curtailed_pct, c.placement, c.inverter});
                curtailed_near = curtailed_near || near_limit(*f.curtailed_pct, criteria.max_curtailment_pct, 0.5);
            }
        }
        panels.panels.push_back(std::move(voltage));
        if (loading_near)
            panels.panels.push_back(std::move(loading));
        if (taps_near)
            panels.panels.push_back(std::move(taps));
        if (curtailed_near)
            panels.panels.push_back(std::move(curtailed));
        add_file("hosting_capacity_cases.svg", cases_svg(panels));
        try {
            add_file("hosting_capacity_cases.png", cases_png(panels));
        } catch (const WriteError& error) {
            throw SweepError(error.what());
        }
        try {
            add_file("hosting_capacity.png", picture_png(picture));
        } catch (const WriteError& error) {
            throw SweepError(error.what());
        }
        result.answered = true;
    }
    // What the PV reached under each sky: levels are judged at that output, not at full sun.
    for (const Sky& sky : skies) {
        double most = -1;
        for (std::size_t i = 0; i < cases.size(); ++i)
            if (figures[i] && cases[i].sky == sky.name && figures[i]->pv_peak && figures[i]->clear_pv_peak &&
                *figures[i]->clear_pv_peak > 0)
                most = std::max(most, *figures[i]->pv_peak / *figures[i]->clear_pv_peak);
        if (most >= 0 && most < 0.99)
            result.summary.push_back("Under the sky " + sky.name + " the PV reached at most " +
                                     decimal_text(std::round(most * 100), 0) +
                                     " % of its clear-sky output: its cases were judged at that, not at full sun");
    }
    // Where power flowed back: through the head and each regulator, from the lowest level it did,
    // and whether the regulator's control has settings for it.
    {
        std::map<std::string, double> from;  // "the head", or a regulator's name -> lowest level
        std::map<std::string, bool> reversible;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            if (!figures[i])
                continue;
            const auto note = [&](const std::string& what) {
                const auto [at, made] = from.emplace(what, cases[i].level_pct);
                if (!made)
                    at->second = std::min(at->second, cases[i].level_pct);
            };
            if (figures[i]->reverse_s_head > 0)
                note("the head");
            for (const std::string& name : figures[i]->reversed)
                note(name);
            if (!figures[i]->reversed.empty() && reversible.empty()) {
                try {
                    for (const study::ControlWatch& watch :
                         study::read_controls_map(case_folder(sweep, cases[i].id) / study::controls_map_name))
                        if (watch.kind == "regflow")
                            reversible[watch.name] = watch.reversible;
                } catch (const study::StudyError&) {
                }
            }
        }
        if (!from.empty()) {
            std::vector<std::string> said, forward_only, both_ways;
            for (const auto& [what, level] : from) {
                said.push_back((what == "the head" ? what : "RegControl." + what) + " from " + level_text(level) + " %");
                if (what != "the head" && reversible.count(what) != 0)
                    (reversible.at(what) ? both_ways : forward_only).push_back("RegControl." + what);
            }
            std::string text = "Power flowed back under the sky through " + study::first_names(said, said.size()) +
                               (criteria.max_reverse_s_head || criteria.max_reverse_s_regulator
                                    ? std::string(".")
                                    : " (not judged: max_reverse_s_head and max_reverse_s_regulator are off).");
            if (!forward_only.empty())
                text += " " + study::first_names(forward_only, forward_only.size()) +
                        (forward_only.size() == 1 ? " has no reverse settings (reversible=no): it regulates"
                                                  : " have no reverse settings (reversible=no): they regulate") +
                        " as if the power still flowed forward.";
            if (!both_ways.empty())
                text += " " + study::first_names(both_ways, both_ways.size()) +
                        (both_ways.size() == 1 ? " is" : " are") + " reversible.";
            result.summary.push_back(text);
        }
    }
    // Lines and transformers the engine's defaults rate, reported and not judged.
    if (!criteria.judge_default_ratings) {
        std::optional<Excess> most;
        std::size_t most_case = 0;
        int over = 0;
        for (std::size_t i = 0; i < cases.size(); ++i)
            if (figures[i] && figures[i]->loading.unrated_most) {
                over = std::max(over, figures[i]->loading.unrated_over);
                if (!most || figures[i]->loading.unrated_most->value > most->value) {
                    most = figures[i]->loading.unrated_most;
                    most_case = i;
                }
            }
        if (most)
            result.summary.push_back(
                "Not judged: up to " + std::to_string(over) + (over == 1 ? " line or transformer" : " lines and transformers") +
                " rated only by the engine's defaults (the circuit gives no rating) went over that rating in a case, "
                "the most " + most->element + " at " + decimal_text(most->value, 1) + " % in case " + cases[most_case].id +
                (cases[most_case].level_pct == 0 ? std::string(" (the base, without added PV)")
                                                 : " (" + level_text(cases[most_case].level_pct) + " %)") +
                "; judge_default_ratings = yes judges them");
    }
    // The load and the existing PV every case was judged with.
    {
        std::string load = "Judged at the loads ";
        load += record.load_at.empty() ? "as the circuit gives them" : "held at their shapes' value at " + record.load_at;
        load += ", LoadMult " + decimal_text(record.load_mult, 3);
        std::vector<std::string> heads;
        for (const auto& [sky, index] : base_of)
            if (figures[index] && figures[index]->head_kw_min && figures[index]->head_kw_max)
                heads.push_back(grouped(*figures[index]->head_kw_min) + " to " + grouped(*figures[index]->head_kw_max) +
                                " kW under the sky " + sky);
        if (!heads.empty())
            load += "; without added PV the head took " + study::first_names(heads, heads.size());
        result.summary.push_back(load);
        if (record.existing_pv > 0)
            result.summary.push_back(
                "The circuit's own PV, " + std::to_string(record.existing_pv) +
                (record.existing_pv == 1 ? " system, " : " systems, ") + grouped(record.existing_pv_kw) + " kW together, " +
                (record.without_circuit_pv ? std::string("was out of service in every case (--without-circuit-pv)")
                                           : "was in every case, the base included: the levels are PV added to it"));
    }
    for (const auto& [sky, base] : bases)
        if (!base.aside_a.empty() || !base.aside_b.empty())
            result.summary.push_back("Set aside under the sky " + sky + ", outside the range without added PV already: " +
                                     (base.aside_a.empty() ? std::string() : "range A " + study::first_names(base.aside_a, 4)) +
                                     (!base.aside_a.empty() && !base.aside_b.empty() ? "; " : "") +
                                     (base.aside_b.empty() ? std::string() : "range B " + study::first_names(base.aside_b, 4)));
    std::string used = "Criteria (" + criteria_path.string() + "):";
    each_line(criteria_text(criteria), [&](std::string_view line, long) {
        if (!line.empty() && line.front() != '#')
            used += " " + std::string(line) + ";";
    });
    used.pop_back();
    result.summary.push_back(used);
    std::string summary;
    for (const std::string& line : result.summary)
        summary += line + "\n";
    if (!result.missing.empty()) {
        summary += std::to_string(result.missing.size()) + " of " + std::to_string(cases.size()) +
                   (cases.size() == 1 ? " case is" : " cases are") + " missing or failed:\n";
        for (const std::string& missing : result.missing)
            summary += "  " + missing + "\n";
    }
    add_file("sweep_summary.txt", summary);
    try {
        for (OutputFile& file : files)
            file.commit();
    } catch (const WriteError& error) {
        throw SweepError(error.what());
    }
    return result;
}

}  // namespace umbrascope::sweep

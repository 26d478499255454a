#pragma once
// The answer of a sweep: each case's figures from its own reports, judged by the criteria, and the
// hosting capacity they give under each sky, all skies together, and under a clear sky: what a
// study without the cloud would conclude.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sweep/cases.hpp"
#include "sweep/criteria.hpp"
#include "sweep/loading_figures.hpp"

namespace umbrascope::sweep {

inline constexpr std::string_view report_file_name = "sweep_report.csv";
inline constexpr std::string_view capacity_file_name = "hosting_capacity.csv";

// What a case's voltage report gives, with the buses set aside.
struct VoltageFigures {
    int buses_outside = 0;       // buses that left the range
    double most_seconds = 0;     // the most seconds one bus spent outside it
    std::string most_bus;        // that bus
    int most_row = 0;            // the row of its extreme value
    std::optional<double> v_min, v_max;
    std::string v_min_bus, v_max_bus;
    int v_min_row = 0, v_max_row = 0;
};

// One bus of a voltage report.
struct BusVoltage {
    std::string bus;
    std::optional<double> lowest, highest;
    int lowest_row = 0, highest_row = 0;
    double below_a = 0, above_a = 0, below_b = 0, above_b = 0;  // seconds
};

// Reads voltage_report.csv (or the twin's). Throws SweepError.
[[nodiscard]] std::vector<BusVoltage> read_voltage_report(const std::filesystem::path& path);

// A range's figures over the buses not in `set_aside`; the lowest and highest over the buses not
// in `set_aside_v` (range A's set aside also leaves the lowest and highest).
[[nodiscard]] VoltageFigures range_figures(const std::vector<BusVoltage>& buses, bool range_a,
                                           const std::vector<std::string>& set_aside);

// A case's figures, as a row of sweep_report.csv and its judgement.
struct CaseFigures {
    VoltageFigures a, b;               // under the sky
    VoltageFigures clear_a, clear_b;   // under the clear sky, where the twin recorded voltages
    bool clear_voltages = false;
    int set_aside_a = 0, set_aside_b = 0;
    int taps_sky = 0, taps_clear = 0, taps_base = 0;
    int switchings_sky = 0, switchings_clear = 0, switchings_base = 0;
    std::string most_taps;             // the regulator that moved most under the sky
    std::optional<double> ramp;
    int ramp_row = 0;
    double pv_kwh = 0;                 // of every PV system: the circuit's own and the case's added
    // The most the PV systems gave together under the sky and under the clear sky, kW.
    std::optional<double> pv_peak, clear_pv_peak;
    // The least and most the head took from the source under the sky, kW: the load judged at.
    std::optional<double> head_kw_min, head_kw_max;
    double hours = 0;                  // the run's
    LoadingFigures loading, clear_loading;
    // Seconds power flowed back through the head, and through the regulator it flowed back
    // through longest, under the sky and under the clear sky.
    double reverse_s_head = 0, clear_reverse_s_head = 0;
    double reverse_s_regulator = 0, clear_reverse_s_regulator = 0;
    std::string reverse_regulator, clear_reverse_regulator;
    std::vector<std::string> reversed;  // the regulators power flowed back through under the sky
    // The PV systems' energy held back, in per cent of what their panels could give; nothing where
    // the case's study recorded no PV system's state.
    std::optional<double> curtailed_pct, clear_curtailed_pct;
};

// A sky's case without added PV, as the other cases of its sky are judged against it: the buses
// outside each range there (where base violations are set aside), its wear and its loading.
struct BaseCase {
    std::vector<std::string> aside_a, aside_b;
    int taps = 0, switchings = 0;
    LoadingReport loading;
};
// From a done base case's reports. Throws SweepError naming a report that cannot be read.
[[nodiscard]] BaseCase read_base_case(const std::filesystem::path& folder, const Criteria& criteria);

// A done case's figures from its own reports, against its sky's base; `hours` is the run's.
// Throws SweepError naming a report that cannot be read.
[[nodiscard]] CaseFigures case_figures(const std::filesystem::path& folder, const BaseCase& base,
                                       const Criteria& criteria, double hours);

// The criterion a case fails by, first in the criteria's order, with what failed it.
struct Failure {
    std::string criterion;  // "max_seconds_outside_a", ...
    char letter = '?';      // A, B, L, H, T, P, S, O (loading), E (emergency), R (reverse flow) or C (curtailment)
    std::string bus;        // the bus, or the regulator, capacitor, line or transformer
    int row = 0;            // 0 where the criterion has no row
    std::string value;
    int order = 0;          // of the criterion, in the criteria's order
    double severity = 0;    // how far it fails, larger the worse, for cases of one criterion
};

// Whether the figures meet the criteria; under the clear sky where `clear`.
[[nodiscard]] std::optional<Failure> judge(const CaseFigures& figures, const Criteria& criteria, bool clear);

// A case of a series of cases (a placement and seed under one sky, the sky's base first), judged.
struct Step {
    enum State { passes, fails, missing };
    double level = 0;
    State state = missing;  // missing: not run, failed to run, or not judged
};

// The hosting capacity of series of cases. Each series passes up to the level below its first
// failing case, or below its first missing one, above which nothing is known; a series whose base
// fails hosts nothing, and one whose base is missing has no answer.
//   min: the highest level at which every series passes, at it and below;
//   median: the median of the series' own;
//   max: the highest level at which some case passes, whatever fails below it.
struct Capacity {
    std::optional<double> min, median, max;
    bool unanswered = false;  // a series' base is missing: nothing is stated
    bool partial = false;     // a case is missing
    bool censored = false;    // no case fails up to the highest level planned: the answer is "at least"
};
// Each series sorted by level or not, its base (level 0) among its steps.
[[nodiscard]] Capacity hosting_capacity(const std::vector<std::vector<Step>>& series);

struct GatherOptions {
    std::filesystem::path sweep;
    bool partial = false;
};

struct GatherResult {
    std::vector<std::filesystem::path> written;
    std::vector<std::string> summary;
    std::vector<std::string> missing;  // cases without a done status: "id (reason)"
    bool answered = false;             // hosting_capacity.csv written
};

// Throws SweepError; writes its files whole, all or none.
[[nodiscard]] GatherResult gather_sweep(const GatherOptions& options);

}  // namespace umbrascope::sweep

#pragma once
// What the cloud costs the feeder's equipment, from the engine's own record of the run: each
// regulator's tap and each capacitor's steps through the settle and the series, the power the
// circuit takes from its source and the PV systems' output, under the sky and under its clear-sky
// twin; counted into controls_report.csv, the controls table the window shows, and a summary.

#include <optional>
#include <string>
#include <vector>

#include "model/controls.hpp"
#include "study/exports.hpp"
#include "study/folder.hpp"
#include "study/plan.hpp"

namespace umbrascope::study {

inline constexpr std::string_view controls_report_name = "controls_report.csv";

// A series of values in the engine's rows: kW or kvar of the head or the PV systems.
struct PowerSeries {
    std::string name;            // "head_kw", "head_kvar", "pv_kw"
    std::vector<double> values;  // in each row, index row - 1
};

// A control's count over the run: its state after the settle, the steps (taps, or capacitor steps
// switched) it moved in the series, the rows in which it moved, and its least and most over the
// settled state and the series.
struct ControlCounts {
    int start = 0, changes = 0, steps_changed = 0, min = 0, max = 0;
    // A regulator's rows at its lowest or highest tap, where the engine's export of the taps gives
    // its range; nothing for a capacitor.
    std::optional<int> rows_at_limit;
};

struct ControlsRun {
    std::vector<ControlSeries> controls;  // a RegControl's tap positions, a CapControl's steps in service
    std::vector<ControlCounts> counts;    // of each control
    std::vector<PowerSeries> powers;
    // The kW through each regulator, away from the source (below 0 when it flows back), a row
    // each; named as the RegControl.
    std::vector<PowerSeries> flows;
    // The PV systems together, a row each: the kW they could give (each panel's kW times its
    // efficiency), and the kvar they gave (below 0 absorbed). The first is empty where the study
    // recorded no PV system's state.
    std::vector<double> pv_available_kw, pv_kvar;
    // Each control's count: the settle's last solve moved it, and the engine's summary of that solve.
    std::vector<std::string> moving;      // controls still moving at the settle's end
    std::string settle_status;            // "SOLVED", "UnSolved", ... from the engine's summary
    int settle_iterations = 0;            // control iterations of the settle's last solve
    std::vector<int> before_own;          // each control's state in the row before the run's own rows
    // A slice's: each control's states in the rows of its overlap, before its own (its capacitor
    // steps too, as `steps` gives them); none where it has no overlap.
    std::vector<std::vector<int>> overlap;
    std::vector<std::vector<std::string>> overlap_steps;
    // Each control's capacitor steps in each of the run's own rows, "1" in service and "0" not for
    // each step in turn ("101"), as the engine recorded them; none for a regulator, whose tap
    // position is its state.
    std::vector<std::vector<std::string>> steps;
};

struct ControlsRead {
    ControlsRun sky;
    std::optional<ControlsRun> clear;     // where the study ran its twin
};

// Reads what the run recorded. Throws StudyError for an export that is missing, cut short, of
// another run's rows, or that disagrees with the engine's export of the taps.
// A slice of a run solves `skip` rows of its overlap before its own: they settle its controls
// and are left out of its rows and counts.
[[nodiscard]] ControlsRead read_controls(const ResultsFolder& results, const std::string& run,
                                         const std::vector<ControlWatch>& watches, const Sky& sky, int skip = 0);

// controls_report.csv: "sky,kind,name,element,winding,start,changes,steps_changed,min,max,ramp_per_s,ramp_row,kwh,
// changes_per_hour,reverse_s,seconds_at_limit,ramp_pct_per_min" (kwh: the energy of head_kw and pv_kw
// over the run; changes_per_hour: a control's changes over the run's hours; reverse_s: the seconds the
// head's kW was below 0; ramp_pct_per_min: pv_kw's largest change over a minute in per cent of the
// PV systems' Pmpp together, blank where one gives none; and pv_kw's curtailed_kwh, what the PV
// systems could have given and did not, curtailed_pct that in per cent of what they could have
// given, and kvarh_absorbed and kvarh_supplied).
inline constexpr std::string_view controls_report_header =
    "sky,kind,name,element,winding,start,changes,steps_changed,min,max,ramp_per_s,ramp_row,kwh,changes_per_hour,reverse_s,"
    "seconds_at_limit,ramp_pct_per_min,curtailed_kwh,curtailed_pct,kvarh_absorbed,kvarh_supplied";
inline constexpr std::size_t controls_report_columns = 21;

// What the PV systems could have given over the run and did not, kWh, and what they could have
// given; nothing where the study recorded no PV system's state.
struct Curtailment {
    double kwh = 0;
    double available_kwh = 0;
};
[[nodiscard]] std::optional<Curtailment> curtailment(const ControlsRun& run, double interval);
[[nodiscard]] std::string controls_report_text(const ControlsRead& read, const std::vector<ControlWatch>& watches,
                                               const Sky& sky);

// The table the window and the exporter show.
[[nodiscard]] ControlsTable controls_table(const ControlsRead& read, const Sky& sky, const std::string& made_from);

// The summary's line of the cloud's cost, and the warnings of a settle that did not come to rest.
[[nodiscard]] std::string controls_summary(const ControlsRead& read, const std::vector<ControlWatch>& watches,
                                           const Sky& sky);
[[nodiscard]] std::vector<std::string> controls_warnings(const ControlsRead& read,
                                                        const std::vector<ControlWatch>& watches);

}  // namespace umbrascope::study

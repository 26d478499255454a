#pragma once
// The study script: which element terminals to watch so that every phase node of every drawn bus,
// and of every customer's bus a drawn bus stands for, is seen by a monitor; the OpenDSS script
// that runs the sky's time series and exports what they saw; and the map of each monitor column to
// its bus and node.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "import/circuit.hpp"
#include "study/folder.hpp"
#include "study/loading.hpp"

namespace umbrascope::study {

struct Monitor {
    std::string name;       // "study_v1"
    std::string element;    // "Line.650632", as the circuit spells it
    int terminal = 1;
    std::string bus;        // the terminal's bus, lower case
    std::string drawn_bus;  // the drawn bus it counts for, as the network file names it
    std::vector<int> nodes; // each conductor's node, conductor k at nodes[k - 1]; 0 is ground
};

struct Plan {
    std::vector<Monitor> monitors;  // by drawn bus, in the network's order
    int drawn = 0;                  // drawn buses watched
    int customers = 0;              // other buses watched for them
    int nodes = 0;                  // phase nodes seen
    std::vector<std::string> unseen;  // drawn buses no element in service reaches
};

// Chooses the terminals: at each bus, the fewest that see all its phase nodes (1, 2, 3) as the
// elements in service name them; among as many, the line feeding the bus, then a line's or
// transformer's first terminal not watched yet (whose currents give their loading), then loads and
// other customers' elements, then lines.
// The monitors are named `prefix` and "v1", "v2", ...
[[nodiscard]] Plan plan_monitors(const import::Circuit& circuit, const Drawn& drawn,
                                 const std::vector<StandIn>& stand_ins, const std::string& prefix = "study_");

// What the study records of the feeder's equipment beside the voltages: each RegControl's tap
// (a mode 2 monitor on the winding it taps), each CapControl's capacitor steps (mode 6), the power
// the circuit takes from its source (mode 1 on the source, P and Q) and each PV system's output.
struct ControlWatch {
    std::string kind;           // "regcontrol", "capcontrol", "head", "pv" or "regflow"
    std::string name;           // the control's or PV system's name, "VREG2_A"; "source" for the head
    std::string element;        // what the monitor watches: "Transformer.VREG2_A", "Capacitor.C1", ...
    int terminal = 1;           // the tapped winding, or the terminal watched
    std::string monitor;        // its monitor under the sky
    std::string clear_monitor;  // under the clear sky; "" where the study runs no twin
    std::string bus;            // that terminal's bus, lower case
    std::string drawn_bus;      // the drawn bus that stands for it; "" where none does
    double pmpp_kw = 0;         // a PV system's Pmpp as the circuit gives it; 0 where it gives none, -1
                                // where the study was written before Pmpp was recorded
    bool reversible = false;    // a regulator's flow: its RegControl has reverse settings
};

// The controls, the head and the PV systems, their monitors named `prefix` and "tap1", "cap1",
// "head", "pv1", ..., and with `twin` `prefix` and "clear_tap1", ...; and the power through each
// regulator ("flow1", ...), watched at its transformer's terminal nearest the source, where it
// takes power in when the power flows away from the source.
[[nodiscard]] std::vector<ControlWatch> plan_controls(const import::Circuit& circuit, const Drawn& drawn,
                                                      const std::string& prefix, bool twin);

// The monitor of a PV system's state (mode 3: its panel's kW and its efficiency, whose product is
// the power it could give) beside its output's monitor: "..._pvstate3" for "..._pv3".
[[nodiscard]] std::string pv_state_monitor(const std::string& pv_monitor);

// The map of them: "kind,name,element,terminal,monitor,clear_monitor,bus,drawn_bus,pmpp_kw,reversible"
// (a map written before the last two were recorded reads as one without them).
[[nodiscard]] std::string controls_map_text(const std::vector<ControlWatch>& watches);
// Reads it back. Throws StudyError.
[[nodiscard]] std::vector<ControlWatch> read_controls_map(const std::filesystem::path& path);

// The map file: "monitor,element,terminal,conductor,bus,node,drawn_bus", a line a conductor.
[[nodiscard]] std::string map_text(const Plan& plan);
// Reads it back. Throws StudyError.
[[nodiscard]] std::vector<Monitor> read_map(const std::filesystem::path& path);

// Solves of the settle: enough for the published feeders' regulators and capacitors to rest.
inline constexpr int settle_solves = 10;

// A regulator's or capacitor's state handed on to a slice from where the slice before left it.
struct HandedState {
    std::string kind;        // "regcontrol" or "capcontrol"
    std::string name;        // the RegControl's, or the CapControl's
    std::string element;     // a capacitor's: "Capacitor.C1"
    int position = 0;        // a regulator's tap, whole steps from the middle of its range: the engine's TapNum
    std::string steps;       // a capacitor's steps, "1" in service and "0" not for each in turn
};

struct Handed {
    int from_slice = 0;             // the slice before, in whose own rows the slice begins
    int first = 0;                  // the row it begins at, one of the slice before's own
    std::vector<HandedState> sky;   // where its run left each control
    std::vector<HandedState> clear; // the same under the clear-sky twin
    // The rows it was handed on from before, whose runs did not follow the slice before's over the
    // overlap, most recent last.
    std::vector<int> tried;
};

struct ScriptFacts {
    std::filesystem::path circuit;   // the entry file, absolute
    std::string circuit_name;
    std::filesystem::path shapes;    // the loadshapes, absolute
    std::filesystem::path folder;    // the scenario's folder, absolute
    std::filesystem::path results;   // where the exports go, absolute
    int rows = 0;
    double interval = 0;
    std::string sky_fingerprint;  // of the sun table the study is written for
    std::string circuit_fingerprint;  // of the circuit's files as read
    std::string run;              // what names every export of this script: "study_<sky>_<script>"
    std::string control_mode;     // the circuit's own Set ControlMode, lower case; "" for none
    bool twin = true;             // run the series again under a clear sky
    std::string clear_shape;      // a New Loadshape line for clear_sky, where the loadshapes hold none
    bool pv_systems = false;      // the circuit has PV systems
    std::string after_shapes;     // lines after the loadshapes' Redirect (a case's PV systems' duty)
    bool twin_voltages = false;   // the clear-sky twin records the voltages too
    std::filesystem::path shared; // where the voltage monitors' files are, shared by a sweep's cases; "" inline
    int first_row = 1;            // the sun-table row the series begins at: 1 but in a slice of the run
    std::string slice_mark;       // the line that names a slice of the run, and what it is; "" for a whole run
    std::string slice_export;     // a slice's export of which rows it ran, last but the end's
    int unrecorded = 0;           // the series' first rows solved before the voltage monitors record
    std::filesystem::path study_folder;  // the study a slice is of, which read takes
    std::optional<Handed> handed;        // a slice that begins where the slice before left its controls
};

// The lines that make the voltage monitors, or export them, under the sky or its clear twin.
[[nodiscard]] std::string voltage_monitor_lines(const Plan& plan, bool clear);
[[nodiscard]] std::string voltage_export_lines(const Plan& plan, bool clear);
// The line a script carries where its voltage monitors are in files shared with other cases.
inline constexpr std::string_view shared_monitors_mark = "! Its voltage monitors and their map are in ";

// The monitor of the clear-sky twin that sees what the voltage monitor `name` sees: "..._clear_v3".
[[nodiscard]] std::string clear_voltage_monitor(const std::string& name);
// The line a script carries where its twin records voltages.
inline constexpr std::string_view twin_voltages_mark = "! Its clear-sky twin records the voltages too.";

// The OpenDSS script. Throws StudyError for a path no OpenDSS command can name.
// `branches` are the lines and transformers whose loading it records, with the engine's dump of
// their ratings.
[[nodiscard]] std::string script_text(const ScriptFacts& facts, const Plan& plan,
                                      const std::vector<ControlWatch>& watches,
                                      const std::vector<Branch>& branches = {});

// The names of a run's own exports, in its results folder.
[[nodiscard]] std::string settle_summary_name(const std::string& run, bool clear);
[[nodiscard]] std::string voltages_export_name(const std::string& run);
[[nodiscard]] std::string taps_export_name(const std::string& run, bool clear);
[[nodiscard]] std::string end_marker_name(const std::string& run);
[[nodiscard]] std::string begin_marker_name(const std::string& run);

}  // namespace umbrascope::study

#pragma once
// Smart inverters on PV systems, as the engine's InvControl runs them: a fixed power factor, or
// volt-var, volt-watt or both, by default with the IEEE 1547-2018 Category B settings, the
// inverter's kVA a ratio of its Pmpp so that it has reactive power left at full sun.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace umbrascope::study {

// A curve of per-unit voltage against a per-unit output: reactive power of the inverter's kVA
// (volt-var, positive supplied), or active power of its Pmpp (volt-watt).
using Curve = std::vector<std::pair<double, double>>;

struct Inverters {
    std::string mode = "unity";  // unity, pf=X, volt-var, volt-watt or volt-var+volt-watt
    double pf = 1;               // the fixed power factor, absorbing reactive power
    double kva_ratio = 1.1;      // each inverter's kVA over its Pmpp
    // Seconds to answer a step of voltage (an open-loop response time; the engine's LPFTau is a
    // fifth of it): 5 s for volt-var, 10 s for volt-watt by default.
    double var_response_s = 5;
    double watt_response_s = 10;
    Curve volt_var{{0.92, 0.44}, {0.98, 0}, {1.02, 0}, {1.08, -0.44}};
    Curve volt_watt{{1.06, 1}, {1.10, 0.2}};
    [[nodiscard]] bool controlled() const { return mode != "unity"; }
};

// Reads a mode as --inverter gives it. Throws StudyError for an unknown mode or a power factor
// outside (0, 1].
[[nodiscard]] Inverters inverter_mode(std::string_view text);

// Reads a curve file: "voltage,value" lines, # a comment. Throws StudyError naming the file and
// line for a line that is not two numbers, fewer than two points, voltages that do not rise, or
// values that rise with the voltage (a curve must not push the voltage further the higher it is).
[[nodiscard]] Curve read_curve(const std::string& text, const std::string& file);

// A PV system under control.
struct ControlledPv {
    std::string name;  // without its class
    double pmpp_kw = 0;
    // Connected phase to phase (conn=delta): the engine's InvControl reads its voltage line to
    // neutral against its line-to-line rating (0.58 pu on a sound feeder), and would hold its output
    // back to supply reactive power for a sag that is not there; it keeps unity.
    bool phase_to_phase = false;
};

// The engine's lines for the PV systems: each one's kVA, and its power factor or one InvControl
// over them all (but those connected phase to phase) with its curves, and the control iterations
// raised for the inverters and the regulators to settle together. Nothing for unity.
[[nodiscard]] std::string inverter_lines(const Inverters& inverters, const std::vector<ControlledPv>& pv);
// The PV systems that volt-var or volt-watt leaves at unity, connected phase to phase.
[[nodiscard]] std::vector<std::string> left_at_unity(const Inverters& inverters, const std::vector<ControlledPv>& pv);

}  // namespace umbrascope::study

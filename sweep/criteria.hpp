#pragma once
// What a case must keep to for its PV level to be hosted: `name = value` lines, `#` beginning a
// comment. Voltage ranges and the seconds outside them, and the lines' and transformers' loading,
// decide unless turned off; the cloud's wear on the regulators and capacitors and the power
// flowing back decide where a limit is given for them.

#include <optional>
#include <string>
#include <string_view>

namespace umbrascope::sweep {

struct Criteria {
    double max_seconds_outside_a = 0;  // judged on most_s_outside_a
    double max_seconds_outside_b = 0;
    double min_voltage = 0.95;
    double max_voltage = 1.05;
    std::optional<double> max_tap_increase;      // tap changes above the same sky's level-0 case
    std::optional<double> max_tap_increase_pct;  // the same, in per cent of max(base, 1)
    std::optional<double> max_switching_increase;
    // Tap changes an hour above the same sky's level-0 case: a short sky and a day judged alike.
    std::optional<double> max_tap_changes_per_hour_increase;
    bool exclude_base_violations = true;
    // The most loaded line or transformer: its moving average over loading_window_s in per cent of
    // its normal rating, and its current at any second in per cent of its emergency rating. An
    // element over a rating in the same sky's base is the feeder's own, and fails a case only where
    // the case's PV makes its figure worse by more than one percentage point. Elements the circuit
    // gives no rating (the engine's defaults rate them) are reported, not judged, unless
    // judge_default_ratings.
    std::optional<double> max_loading_pct = 100;
    std::optional<double> max_emergency_pct = 100;
    double loading_window_s = 900;
    bool judge_default_ratings = false;
    // Seconds in which power flowed back through the head, or through any one regulator.
    std::optional<double> max_reverse_s_head;
    std::optional<double> max_reverse_s_regulator;
    // The energy the PV systems' inverters held back, in per cent of what the panels could give.
    std::optional<double> max_curtailment_pct;
};

// Throws SweepError naming `file` and the line for an unknown name, a name given twice or a bad value.
[[nodiscard]] Criteria parse_criteria(std::string_view text, const std::string& file);

// Every criterion with its value, "off" for a limit not given: the file a sweep keeps, and what
// a report says it used.
[[nodiscard]] std::string criteria_text(const Criteria& criteria);

}  // namespace umbrascope::sweep

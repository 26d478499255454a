#pragma once
// What a case must keep to for its PV level to be hosted: `name = value` lines, `#` beginning a
// comment. Voltage ranges and the seconds outside them always decide; the cloud's wear on the
// regulators and capacitors decides where a limit is given for it.

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
    bool exclude_base_violations = true;
};

// Throws SweepError naming `file` and the line for an unknown name, a name given twice or a bad value.
[[nodiscard]] Criteria parse_criteria(std::string_view text, const std::string& file);

// Every criterion with its value, "off" for a limit not given: the file a sweep keeps, and what
// a report says it used.
[[nodiscard]] std::string criteria_text(const Criteria& criteria);

}  // namespace umbrascope::sweep

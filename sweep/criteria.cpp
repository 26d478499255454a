#include "sweep/criteria.hpp"

#include <cmath>
#include <set>

#include "core/lines.hpp"
#include "core/words.hpp"
#include "sweep/cases.hpp"

namespace umbrascope::sweep {

namespace {

std::string number_text(double value) { return decimal_text(value, 6); }

}  // namespace

Criteria parse_criteria(std::string_view text, const std::string& file)
{
    Criteria out;
    std::set<std::string> seen;
    each_line(text, [&](std::string_view line, long number) {
        const std::string where = file + ":" + std::to_string(number) + ": ";
        line = line.substr(0, line.find('#'));
        line = trim_blanks(line);
        if (line.empty())
            return;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            throw SweepError(where + "'" + std::string(line) + "' is not a name = value line");
        const std::string name = lower(trim_blanks(line.substr(0, equals)));
        const std::string_view value = trim_blanks(line.substr(equals + 1));
        if (!seen.insert(name).second)
            throw SweepError(where + name + " is given twice");
        if (name == "exclude_base_violations" || name == "judge_default_ratings") {
            const std::string word = lower(value);
            bool& flag = name == "exclude_base_violations" ? out.exclude_base_violations : out.judge_default_ratings;
            if (word == "yes" || word == "true" || word == "1")
                flag = true;
            else if (word == "no" || word == "false" || word == "0")
                flag = false;
            else
                throw SweepError(where + name + " takes yes or no, not '" + std::string(value) + "'");
            return;
        }
        std::optional<double>* const limit = name == "max_tap_increase"                    ? &out.max_tap_increase
                                             : name == "max_tap_increase_pct"              ? &out.max_tap_increase_pct
                                             : name == "max_switching_increase"            ? &out.max_switching_increase
                                             : name == "max_tap_changes_per_hour_increase" ? &out.max_tap_changes_per_hour_increase
                                             : name == "max_loading_pct"                   ? &out.max_loading_pct
                                             : name == "max_emergency_pct"                 ? &out.max_emergency_pct
                                             : name == "max_reverse_s_head"                ? &out.max_reverse_s_head
                                             : name == "max_reverse_s_regulator"           ? &out.max_reverse_s_regulator
                                             : name == "max_curtailment_pct"               ? &out.max_curtailment_pct
                                                                                           : nullptr;
        if (limit != nullptr && lower(value) == "off") {
            *limit = std::nullopt;
            return;
        }
        const std::optional<double> parsed = number_of(value);
        const bool voltage = name == "min_voltage" || name == "max_voltage";
        const bool window = name == "loading_window_s";
        if (!parsed || !std::isfinite(*parsed) || *parsed < 0 || (voltage && (*parsed <= 0 || *parsed > 10)) ||
            (window && (*parsed <= 0 || *parsed > 86400)))
            throw SweepError(where + name + " takes " +
                             (voltage  ? "a per-unit voltage above 0"
                              : window ? "seconds above 0, at most a day (86400)"
                                       : "a number of 0 or more") +
                             (limit != nullptr ? " (or off)" : "") + ", not '" + std::string(value) + "'");
        if (limit != nullptr)
            *limit = *parsed;
        else if (window)
            out.loading_window_s = *parsed;
        else if (name == "max_seconds_outside_a")
            out.max_seconds_outside_a = *parsed;
        else if (name == "max_seconds_outside_b")
            out.max_seconds_outside_b = *parsed;
        else if (name == "min_voltage")
            out.min_voltage = *parsed;
        else if (name == "max_voltage")
            out.max_voltage = *parsed;
        else
            throw SweepError(where + "no criterion is named '" + name +
                             "': the names are max_seconds_outside_a, max_seconds_outside_b, min_voltage, max_voltage, "
                             "max_tap_increase, max_tap_increase_pct, max_switching_increase, "
                             "max_tap_changes_per_hour_increase, max_loading_pct, max_emergency_pct, loading_window_s, "
                             "judge_default_ratings, max_reverse_s_head, max_reverse_s_regulator, max_curtailment_pct "
                             "and exclude_base_violations");
    });
    if (out.min_voltage >= out.max_voltage)
        throw SweepError(file + ": min_voltage " + number_text(out.min_voltage) + " is not below max_voltage " +
                         number_text(out.max_voltage));
    return out;
}

std::string criteria_text(const Criteria& c)
{
    const auto limit = [](const std::optional<double>& value) { return value ? number_text(*value) : std::string("off"); };
    std::string out = "# The criteria a sweep's case must meet for its PV level to be hosted.\n";
    out += "max_seconds_outside_a = " + number_text(c.max_seconds_outside_a) + "\n";
    out += "max_seconds_outside_b = " + number_text(c.max_seconds_outside_b) + "\n";
    out += "min_voltage = " + number_text(c.min_voltage) + "\n";
    out += "max_voltage = " + number_text(c.max_voltage) + "\n";
    out += "max_tap_increase = " + limit(c.max_tap_increase) + "\n";
    out += "max_tap_increase_pct = " + limit(c.max_tap_increase_pct) + "\n";
    out += "max_switching_increase = " + limit(c.max_switching_increase) + "\n";
    out += "max_tap_changes_per_hour_increase = " + limit(c.max_tap_changes_per_hour_increase) + "\n";
    out += std::string("exclude_base_violations = ") + (c.exclude_base_violations ? "yes" : "no") + "\n";
    out += "max_loading_pct = " + limit(c.max_loading_pct) + "\n";
    out += "max_emergency_pct = " + limit(c.max_emergency_pct) + "\n";
    out += "loading_window_s = " + number_text(c.loading_window_s) + "\n";
    out += std::string("judge_default_ratings = ") + (c.judge_default_ratings ? "yes" : "no") + "\n";
    out += "max_reverse_s_head = " + limit(c.max_reverse_s_head) + "\n";
    out += "max_reverse_s_regulator = " + limit(c.max_reverse_s_regulator) + "\n";
    out += "max_curtailment_pct = " + limit(c.max_curtailment_pct) + "\n";
    return out;
}

}  // namespace umbrascope::sweep

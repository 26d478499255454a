#pragma once
// Clock time of day as the tables, the window and the reports tell it.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace umbrascope {

// "10:00:00", or "10:00:00.5" for a time between whole seconds; past midnight the clock goes round.
[[nodiscard]] inline std::string clock_text(double seconds_after_midnight)
{
    constexpr double day = 86400;
    double t = std::fmod(seconds_after_midnight, day);
    if (t < 0)
        t += day;
    // Tenths where the time falls between whole seconds, rounded so that 59.96 s is the next minute.
    const std::int64_t tenths = std::llround(t * 10) % static_cast<std::int64_t>(day * 10);
    const std::int64_t seconds = tenths / 10;
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(seconds / 3600),
                                     static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    std::string out(text, static_cast<std::size_t>(length));
    if (tenths % 10 != 0) {
        out += '.';
        out += static_cast<char>('0' + tenths % 10);
    }
    return out;
}

// "10:00:00" or "9:00:00.5" as seconds after midnight: hours 0 to 23, minutes and seconds of two
// digits; nothing for other text.
[[nodiscard]] inline std::optional<double> clock_seconds(std::string_view text)
{
    const auto number = [](std::string_view part) -> std::optional<double> {
        double value = 0;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), value);
        if (part.empty() || error != std::errc() || end != part.data() + part.size() || !std::isfinite(value))
            return std::nullopt;
        return value;
    };
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const std::string_view minutes_text = text.substr(first + 1, second - first - 1);
    const std::optional<double> hours = number(text.substr(0, first));
    const std::optional<double> minutes = number(minutes_text);
    const std::optional<double> seconds = number(text.substr(second + 1));
    const bool whole = hours && minutes && *hours == std::floor(*hours) && *minutes == std::floor(*minutes) &&
                       minutes_text.size() == 2 && text.substr(second + 1, 2).size() == 2;
    if (!whole || *hours < 0 || *hours > 23 || *minutes < 0 || *minutes > 59 || !seconds || *seconds < 0 || *seconds >= 60)
        return std::nullopt;
    return *hours * 3600 + *minutes * 60 + *seconds;
}

}  // namespace umbrascope

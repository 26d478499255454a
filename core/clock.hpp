#pragma once
// Clock time of day as the tables, the window and the reports tell it.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

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
    if (tenths % 10 != 0)
        out += "." + std::to_string(tenths % 10);
    return out;
}

}  // namespace umbrascope

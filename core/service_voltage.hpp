#pragma once
// Service voltage as ANSI C84.1 ranges it, per unit on each bus's base: range A is 0.95 to 1.05
// (114 to 126 V on 120 V), range B 110/120 to 127/120. A bus is classed from the lowest and the
// highest voltage among its phase nodes in a row, as the study's tables give them.

#include <array>
#include <cstdint>
#include <limits>
#include <string_view>

#include "core/world.hpp"

namespace umbrascope {

// Per-unit voltages as the tables write them, in ten-thousandths: 9500 is 0.95 pu.
using PerUnit = std::int32_t;
inline constexpr PerUnit no_voltage = std::numeric_limits<PerUnit>::min();

// Each test is made on the value as written.
[[nodiscard]] constexpr bool below_a(PerUnit v) { return v != no_voltage && v < 9500; }
[[nodiscard]] constexpr bool above_a(PerUnit v) { return v != no_voltage && v > 10500; }
[[nodiscard]] constexpr bool below_b(PerUnit v) { return v != no_voltage && std::int64_t{v} * 120 < 1'100'000; }
[[nodiscard]] constexpr bool above_b(PerUnit v) { return v != no_voltage && std::int64_t{v} * 120 > 1'270'000; }

enum class VoltageClass : std::uint8_t { below_b, low_in_b, range_a, high_in_b, above_b, none };
inline constexpr int voltage_classes = 6;

// A bus whose lowest is under range A or whose highest is over it is classed by the larger of the
// two departures, a tie going low; below or above range B past its limits.
[[nodiscard]] constexpr VoltageClass classify(PerUnit lowest, PerUnit highest)
{
    if (lowest == no_voltage || highest == no_voltage)
        return VoltageClass::none;
    const std::int64_t low = below_a(lowest) ? 9500 - std::int64_t{lowest} : 0;
    const std::int64_t high = above_a(highest) ? std::int64_t{highest} - 10500 : 0;
    if (low == 0 && high == 0)
        return VoltageClass::range_a;
    if (low >= high)
        return below_b(lowest) ? VoltageClass::below_b : VoltageClass::low_in_b;
    return above_b(highest) ? VoltageClass::above_b : VoltageClass::high_in_b;
}

// A diverging scheme that colour-blind eyes tell apart: blues low, a quiet sand for range A,
// orange and red high, a mid grey for none.
[[nodiscard]] constexpr Colour class_colour(VoltageClass c)
{
    constexpr std::array<Colour, voltage_classes> colours{{
        {33, 102, 172},   // below range B
        {103, 169, 207},  // low, in range B
        {216, 206, 168},  // range A
        {244, 165, 90},   // high, in range B
        {202, 0, 32},     // above range B
        {120, 120, 120},  // no voltage
    }};
    return colours[static_cast<std::size_t>(c)];
}

// Its name as the window, the legend and the charts say it.
[[nodiscard]] constexpr std::string_view class_name(VoltageClass c)
{
    constexpr std::array<std::string_view, voltage_classes> names{
        "below range B", "low, in range B", "range A", "high, in range B", "above range B", "no voltage"};
    return names[static_cast<std::size_t>(c)];
}

// Its limits, short, for a legend: "<0.917", "0.95-1.05", ...
[[nodiscard]] constexpr std::string_view class_limits(VoltageClass c)
{
    constexpr std::array<std::string_view, voltage_classes> limits{"<0.917", "0.917-0.95", "0.95-1.05",
                                                                   "1.05-1.058", ">1.058", "none"};
    return limits[static_cast<std::size_t>(c)];
}

}  // namespace umbrascope

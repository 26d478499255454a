#pragma once
// The sun under the clouds of a track. A bus at distance d from a cloud's centre gets
//   0.25 + 0.25 d / r1                    inside radius 1 (the dense core),
//   0.5 + 0.45 (d - r1) / (r2 - r1)       out to radius 2 (the thin edge),
//   1                                     beyond;
// the least value over the clouds of its step, times the row's clear-sky factor, to three decimals.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scenario/track.hpp"

namespace umbrascope::scenario {

struct Place {
    double x = 0;
    double y = 0;
};

// Under one cloud of radii r1 < r2.
[[nodiscard]] double intensity(double d, double r1, double r2);

// `value` to three decimals, rounded as printf("%.3f") rounds it, in thousandths.
[[nodiscard]] std::int64_t thousandths(double value);

struct SunTable {
    int rows = 0;
    int buses = 0;
    std::vector<std::int64_t> thousandths;  // row by row: 443 is written 0.443
    [[nodiscard]] std::int64_t at(int row, int bus) const
    {
        return thousandths[static_cast<std::size_t>(row) * static_cast<std::size_t>(buses) + static_cast<std::size_t>(bus)];
    }
};

// Row r (from 1) takes the records of step r. `clear_sky`, when given, holds at least `rows` factors.
[[nodiscard]] SunTable sun_under(const std::vector<Place>& buses, const Track& track, int rows,
                                 const std::vector<double>* clear_sky);

struct SunHeader {
    std::string made_from;        // "the clouds of cloud_centers_plot.txt"
    std::string clear_sky;        // "" for a clear sky, or the factors' file
    double interval = 10;         // seconds a row
    std::vector<std::string> names;  // of the buses, for the column line
};

// The sun table file's text: six header lines, then "time,i1,i2,..." per row, the time being
// (row - 1) x interval. Throws ScenarioError for a row longer than a line may be.
[[nodiscard]] std::string sun_table_text(const SunTable& table, const SunHeader& header);

// One OpenDSS loadshape a bus, its multipliers the bus's intensities.
[[nodiscard]] std::string loadshapes_text(const SunTable& table, const SunHeader& header);

// Clear-sky factors, one number a line (an optional header line first). Throws ScenarioError.
[[nodiscard]] std::vector<double> read_clear_sky(std::string_view text, const std::string& file);

}  // namespace umbrascope::scenario

#pragma once
// cloud_sky_field.txt, which umbrascope-clouds writes beside a measured sky's sun table: the one
// series of the clear-sky index the sky was made from and the wind that carries it over the
// feeder as a frozen cloud field, so that pictures can shade every point of the map as the sun
// table gives each bus, not the buses alone.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

inline constexpr std::string_view sky_field_name = "cloud_sky_field.txt";

struct SkyField {
    double at_x = 0;             // the sensor, in network units
    double at_y = 0;
    double metres_per_unit = 1;
    double speed = 1;            // of the wind, metres a second
    double from = 270;           // compass degrees the wind blows from
    double interval = 1;         // seconds between the series' samples
    double first = 0;            // seconds from the series' start to the first row
    double row_interval = 1;     // seconds between the sun table's rows
    // The series as the sun table was made from it, sample k at k x interval, and what it is
    // divided by to be the clear-sky index; then each row's clear sky the index is divided by, or
    // none. Written with every digit, so that a reader makes the sun table's own numbers from them.
    std::vector<double> series;
    double scale = 1;
    std::vector<double> row_clear;
    std::string sky_fingerprint;    // of the sun table made with it

    // Seconds after the sensor a point of the network (x, y) sees the same sky.
    [[nodiscard]] double lag(double x, double y) const;
    // The index at `t` seconds from the series' start: linearly between samples, held beyond its
    // ends, over the scale.
    [[nodiscard]] double series_at(double t) const;
    // The index at the point (x, y) in row `row` (from 1), as the sun table gives a bus there
    // (before its rounding to three decimals).
    [[nodiscard]] double index_at(double x, double y, int row) const;
    // The seconds of row `row`'s time from the series' start.
    [[nodiscard]] double row_time(int row) const { return first + (row - 1) * row_interval; }
    // The divisor of row `row`: its clear sky, or 1 where the field has none.
    [[nodiscard]] double row_divisor(int row) const;
};

[[nodiscard]] std::string sky_field_text(const SkyField& field);
// Throws FolderError, naming `file`.
[[nodiscard]] SkyField read_sky_field_text(std::string_view text, const std::string& file);
// The folder's field, where it has one made with the sun table there now; nothing otherwise.
// Throws FolderError for one that cannot be read.
[[nodiscard]] std::optional<SkyField> read_sky_field(const std::filesystem::path& folder);

}  // namespace umbrascope

#pragma once
// The sun under the clouds of a track, as the clear-sky index: what the clouds let through, 1 in
// full sun. A bus at distance d from a cloud's centre gets
//   0.25 + 0.25 d / r1                    inside radius 1 (the dense core),
//   0.5 + 0.45 (d - r1) / (r2 - r1)       out to radius 2 (the thin edge),
//   1                                     beyond;
// the least value over the clouds of its step, to three decimals. The power a PV panel makes is
// the index times the clear-sky factor of the row (the sun's own course over the day), which goes
// into the loadshapes, not into the table the picture classes.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.hpp"
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

// Thousandths as a table holds them: a day at one second for thousands of buses stays well under
// the size of the file it writes.
using Stored = std::int32_t;
[[nodiscard]] Stored stored(std::int64_t thousandths);  // saturated to the stored range

struct SunTable {
    int rows = 0;
    int buses = 0;
    std::vector<Stored> thousandths;  // row by row: 443 is written 0.443
    [[nodiscard]] std::int64_t at(int row, int bus) const
    {
        return thousandths[static_cast<std::size_t>(row) * static_cast<std::size_t>(buses) + static_cast<std::size_t>(bus)];
    }
};

// Row r (from 1) takes the records of step r.
[[nodiscard]] SunTable sun_under(const std::vector<Place>& buses, const Track& track, int rows);

struct SunHeader {
    std::string made_from;        // "the clouds of cloud_centers_plot.txt"
    std::string clear_sky;        // "" for a clear sky, or the factors' file, which the loadshapes take
    double interval = 10;         // seconds a row
    std::vector<std::string> names;  // of the buses, for the column line
    std::optional<double> start;  // the clock time of the first row, in seconds after midnight
    std::string units;            // what one network unit is ("ft", "m", "km"), "" when not told
    std::string sky_fingerprint;  // of the sun table's file, which the loadshapes name; "" for none
};

// Where a writer's text goes, piece by piece, so that a large table never stands whole in memory.
using TextSink = std::function<void(std::string_view)>;

// The sun table file's text: six header lines, then "time,i1,i2,..." per row, the time being
// (row - 1) x interval. Throws ScenarioError for a row longer than a line may be.
void write_sun_table(const SunTable& table, const SunHeader& header, const TextSink& sink);
[[nodiscard]] std::string sun_table_text(const SunTable& table, const SunHeader& header);

// A PV system of the circuit and the drawn bus whose sunlight it takes ("" for none).
struct PvSystem {
    std::string element;    // "PVSystem.pv_12"
    std::string drawn_bus;
};

// The loadshape of a drawn bus: "sky_" and its name, which no circuit's own shape is likely to have.
[[nodiscard]] std::string shape_name(const std::string& bus);

// OpenDSS loadshapes, their multipliers a bus's clear-sky index times the row's factor (`factors`,
// when given, holds at least one a row). Where `pv` is given (the circuit's elements are known) and
// holds PV systems, one for each drawn bus a PV system takes, unless `all_buses`, and an Edit giving
// each PV system its drawn bus's loadshape as daily= and duty=; else one for every bus, with a note
// on how to attach them where the circuit has no PV systems. Names that OpenDSS would read as more
// than one word are quoted. Gives the number of loadshapes. Throws ScenarioError for a name no
// quoting can hold, or a PV system at a bus the table does not hold.
int write_loadshapes(const SunTable& table, const SunHeader& header, const std::vector<double>* factors,
                     const std::vector<PvSystem>* pv, bool all_buses, const TextSink& sink);
[[nodiscard]] std::string loadshapes_text(const SunTable& table, const SunHeader& header,
                                          const std::vector<double>* factors, const std::vector<PvSystem>* pv,
                                          bool all_buses = false);

// A name as one word of an OpenDSS command: quoted where a blank, a separator, a bracket or a
// comment sign would split it. Throws ScenarioError for a name holding both kinds of quote.
[[nodiscard]] std::string dss_word(const std::string& name);

using umbrascope::clock_text;

// The PV systems of a feeder_elements.csv ("element,bus,drawn_bus"). Throws ScenarioError.
[[nodiscard]] std::vector<PvSystem> read_pv_systems(std::string_view text, const std::string& file);

// The largest fall of the index from one row to the next, at a single bus and in the mean over
// all buses: the feeder's spread smooths the second.
struct Drops {
    double single = 0;  // at a single bus
    int single_row = 0; // the row it falls into
    double mean = 0;    // of the mean over the buses
    int mean_row = 0;
};
[[nodiscard]] Drops largest_drops(const SunTable& table);
// The same with the mean over the buses `only` marks (a PV study's buses), at least one.
[[nodiscard]] Drops largest_drops(const SunTable& table, const std::vector<bool>& only);

// Clear-sky factors, one number a line (an optional header line first). Throws ScenarioError.
[[nodiscard]] std::vector<double> read_clear_sky(std::string_view text, const std::string& file);

}  // namespace umbrascope::scenario

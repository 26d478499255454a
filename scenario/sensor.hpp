#pragma once
// A measured sky spread over the feeder: one series of the clear-sky index (a pyranometer or a PV
// plant, sampled every few seconds) at one place, carried by the wind as a frozen cloud field. A
// bus downwind of the sensor sees what the sensor saw, later by its distance along the wind over
// the wind's speed; a bus upwind saw it earlier.

#include <string>
#include <string_view>
#include <vector>

#include "model/sky_field.hpp"
#include "scenario/sun_model.hpp"

namespace umbrascope::scenario {

struct SensorSeries {
    std::vector<double> values;  // sample k at k x interval seconds
    int passed_over = 0;         // lines before the first number (headers), and blank lines after the last
    int interpolated = 0;        // samples of lines that are not a number, between two that are
    std::vector<std::string> gaps;  // where those are: "line 17", "lines 230-231"
    std::string file;
};

// One value a line; of a line with commas, its last field. Lines before the first number are
// headers, passed over and counted. After it, a line that is not a number (blank, NaN, 1e400)
// keeps its place in time: a gap of up to `max_gap` seconds (samples `interval` apart) is filled
// along the line between the numbers on either side of it, a longer one refused, naming its lines.
// Throws ScenarioError, also when no line holds a number.
[[nodiscard]] SensorSeries read_sensor(std::string_view text, const std::string& file, double interval = 1,
                                       double max_gap = 60);

struct SensorSky {
    double interval = 1;            // seconds between the series' samples
    double scale = 1;               // a value divided by this is the clear-sky index
    Place at;                       // the sensor, in network units
    double metres_per_unit = 1;
    double speed = 0;               // of the wind, metres a second; above 0
    double from = 270;              // compass degrees the wind blows from: 0 north, 90 east
    double row_interval = 1;        // seconds between the table's rows
    double first = 0;               // seconds from the series' start to the first row
    int rows = 0;
};

// How many seconds after the sensor the bus at `bus` sees the same sky (before it: below 0).
[[nodiscard]] double lag_seconds(const Place& bus, const SensorSky& sky);

// Row r (from 1), at t = first + (r - 1) x row_interval, gives each bus the series linearly interpolated at
// t - lag, held at the series' first and last samples beyond its ends, divided by the scale, to
// three decimals. Values above 1 (a cloud's bright edge) are kept.
[[nodiscard]] SunTable sensor_sun(const std::vector<Place>& buses, const SensorSeries& series, const SensorSky& sky);

// The field the sky is spread from, for pictures to shade the map by (no clear sky of its rows).
[[nodiscard]] SkyField sky_field(const SensorSeries& series, const SensorSky& sky);

}  // namespace umbrascope::scenario

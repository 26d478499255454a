#include "scenario/sensor.hpp"

#include <charconv>
#include <cmath>
#include <numbers>

#include "core/lines.hpp"

namespace umbrascope::scenario {

SensorSeries read_sensor(std::string_view text, const std::string& file)
{
    SensorSeries series;
    series.file = file;
    each_line(text, [&](std::string_view line, long) {
        if (const std::size_t comma = line.rfind(','); comma != std::string_view::npos)
            line.remove_prefix(comma + 1);
        line = trim_blanks(line);
        if (!line.empty() && line.front() == '+')
            line.remove_prefix(1);
        double value = 0;
        const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (line.empty() || error != std::errc() || end != line.data() + line.size() || !std::isfinite(value)) {
            ++series.passed_over;
            return;
        }
        series.values.push_back(value);
    });
    if (series.values.empty())
        throw ScenarioError(file + ": no sensor values: no line holds a number");
    return series;
}

double lag_seconds(const Place& bus, const SensorSky& sky)
{
    // The shade moves the way the wind blows: toward (-sin FROM, -cos FROM), x east and y north.
    const double from = sky.from * std::numbers::pi / 180;
    const double along = -(bus.x - sky.at.x) * std::sin(from) - (bus.y - sky.at.y) * std::cos(from);
    return along * sky.metres_per_unit / sky.speed;
}

SunTable sensor_sun(const std::vector<Place>& buses, const SensorSeries& series, const SensorSky& sky)
{
    SunTable table;
    table.rows = sky.rows;
    table.buses = static_cast<int>(buses.size());
    table.thousandths.resize(static_cast<std::size_t>(table.rows) * buses.size());
    const std::vector<double>& v = series.values;
    const std::size_t last = v.size() - 1;
    const double end = static_cast<double>(last) * sky.interval;
    std::vector<double> lags(buses.size());
    for (std::size_t bus = 0; bus < buses.size(); ++bus)
        lags[bus] = lag_seconds(buses[bus], sky);
    Stored* out = table.thousandths.data();
    for (int row = 0; row < table.rows; ++row) {
        const double row_time = sky.first + row * sky.row_interval;
        for (const double lag : lags) {
            const double t = row_time - lag;
            double value = 0;
            if (!(t > 0)) {
                value = v.front();
            } else if (t >= end) {
                value = v.back();
            } else {
                const double at = t / sky.interval;
                const auto k = std::min(static_cast<std::size_t>(at), last - 1);
                const double part = at - static_cast<double>(k);
                value = v[k] + (v[k + 1] - v[k]) * part;
            }
            *out++ = stored(thousandths(value / sky.scale));
        }
    }
    return table;
}

SkyField sky_field(const SensorSeries& series, const SensorSky& sky)
{
    SkyField field;
    field.at_x = sky.at.x;
    field.at_y = sky.at.y;
    field.metres_per_unit = sky.metres_per_unit;
    field.speed = sky.speed;
    field.from = sky.from;
    field.interval = sky.interval;
    field.first = sky.first;
    field.row_interval = sky.row_interval;
    field.series = series.values;
    field.scale = sky.scale;
    return field;
}

}  // namespace umbrascope::scenario

#include "scenario/sensor.hpp"

#include <charconv>
#include <cmath>
#include <numbers>

#include "core/lines.hpp"

namespace umbrascope::scenario {

namespace {

// A line's text for a message: at most 20 characters of it.
std::string shown(std::string_view line)
{
    line = trim_blanks(line);
    return line.size() > 20 ? std::string(line.substr(0, 20)) + "..." : std::string(line);
}

std::string lines_text(long first, long last)
{
    return first == last ? "line " + std::to_string(first) : "lines " + std::to_string(first) + "-" + std::to_string(last);
}

}  // namespace

SensorSeries read_sensor(std::string_view text, const std::string& file, double interval, double max_gap)
{
    SensorSeries series;
    series.file = file;
    std::vector<long> line_of;  // each sample's line
    std::vector<bool> missing;  // a line after the first number that holds none
    std::vector<std::string> said;
    each_line(text, [&](std::string_view whole, long number) {
        std::string_view line = whole;
        if (const std::size_t comma = line.rfind(','); comma != std::string_view::npos)
            line.remove_prefix(comma + 1);
        line = trim_blanks(line);
        if (!line.empty() && line.front() == '+')
            line.remove_prefix(1);
        double value = 0;
        const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        const bool is_number = !line.empty() && error == std::errc() && end == line.data() + line.size() && std::isfinite(value);
        if (!is_number && series.values.empty()) {
            ++series.passed_over;  // a header
            return;
        }
        series.values.push_back(is_number ? value : 0);
        line_of.push_back(number);
        missing.push_back(!is_number);
        said.push_back(is_number ? std::string() : shown(whole));
    });
    if (series.values.empty())
        throw ScenarioError(file + ": no sensor values: no line holds a number");
    // Lines after the last number close no gap: blank ones are the file's end, others are named.
    while (missing.back()) {
        if (!said.back().empty())
            throw ScenarioError(file + ":" + std::to_string(line_of.back()) + ": '" + said.back() +
                                "' is not a number, and no number follows it: end the series with a number");
        ++series.passed_over;
        series.values.pop_back();
        line_of.pop_back();
        missing.pop_back();
        said.pop_back();
    }
    // Each gap filled along the line between its two numbers, or refused.
    for (std::size_t k = 0; k < series.values.size();) {
        if (!missing[k]) {
            ++k;
            continue;
        }
        std::size_t stop = k;
        while (missing[stop])
            ++stop;
        const std::size_t samples = stop - k;
        const double seconds = static_cast<double>(samples + 1) * interval;  // from the number before to the one after
        if (seconds > max_gap + 1e-9)
            throw ScenarioError(file + ":" + std::to_string(line_of[k]) + ": " +
                                lines_text(line_of[k], line_of[stop - 1]) + (samples == 1 ? " holds" : " hold") +
                                " no number ('" + said[k] +
                                "'), a gap of " + std::to_string(static_cast<long>(std::lround(seconds))) +
                                " s between two samples, longer than --sensor-max-gap " +
                                std::to_string(static_cast<long>(std::lround(max_gap))) +
                                " s: give the missing samples, or a larger --sensor-max-gap");
        const double before = series.values[k - 1];
        const double after = series.values[stop];
        for (std::size_t j = k; j < stop; ++j)
            series.values[j] = before + (after - before) * static_cast<double>(j - k + 1) / static_cast<double>(samples + 1);
        series.interpolated += static_cast<int>(samples);
        series.gaps.push_back(lines_text(line_of[k], line_of[stop - 1]));
        k = stop;
    }
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

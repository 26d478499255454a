#include "model/sky_field.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "core/fingerprint.hpp"
#include "core/lines.hpp"
#include "core/run_state.hpp"
#include "core/words.hpp"
#include "model/folder_error.hpp"
#include "model/read_file.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

double SkyField::lag(double x, double y) const
{
    // The shade moves the way the wind blows: toward (-sin FROM, -cos FROM), x east and y north.
    const double radians = from * std::numbers::pi / 180;
    const double along = -(x - at_x) * std::sin(radians) - (y - at_y) * std::cos(radians);
    return along * metres_per_unit / speed;
}

double SkyField::series_at(double t) const
{
    if (series.empty())
        return 1;
    const std::size_t last = series.size() - 1;
    const double end = static_cast<double>(last) * interval;
    double value = 0;
    if (!(t > 0) || last == 0) {
        value = series.front();
    } else if (t >= end) {
        value = series.back();
    } else {
        const double at = t / interval;
        const auto k = std::min(static_cast<std::size_t>(at), last - 1);
        value = series[k] + (series[k + 1] - series[k]) * (at - static_cast<double>(k));
    }
    return value / scale;
}

double SkyField::row_divisor(int row) const
{
    if (row_clear.empty() || row < 1 || static_cast<std::size_t>(row) > row_clear.size())
        return 1;
    return row_clear[static_cast<std::size_t>(row - 1)];
}

double SkyField::index_at(double x, double y, int row) const
{
    const double divisor = row_divisor(row);
    return divisor > 0 ? series_at(row_time(row) - lag(x, y)) / divisor : 0;
}

std::string sky_field_text(const SkyField& field)
{
    std::string out = "# The measured sky over the feeder, made by umbrascope-clouds: the clear-sky index of one series, "
                      "carried by the wind as a frozen cloud field\n";
    out += "# For the sky of its sun table, fingerprint " + field.sky_fingerprint + "\n";
    // Every digit, so that a reader has the very numbers the sun table was made with.
    const auto exact = [](double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", value);
        return std::string(text);
    };
    const auto number = [&](const char* key, double value) {
        out += key;
        out += '=';
        out += exact(value);
        out += '\n';
    };
    number("sensor_x", field.at_x);
    number("sensor_y", field.at_y);
    number("metres_per_unit", field.metres_per_unit);
    number("speed", field.speed);
    number("from", field.from);
    number("interval", field.interval);
    number("first", field.first);
    number("row_interval", field.row_interval);
    number("scale", field.scale);
    out += "series\n";
    for (const double value : field.series)
        out += exact(value) + '\n';
    if (!field.row_clear.empty()) {
        out += "row_clear\n";
        for (const double value : field.row_clear)
            out += exact(value) + '\n';
    }
    return out;
}

SkyField read_sky_field_text(std::string_view text, const std::string& file)
{
    SkyField field;
    enum class Part { keys, series, row_clear } part = Part::keys;
    each_line(text, [&](std::string_view line, long number) {
        const auto bad = [&](const std::string& why) {
            return FolderError(file + ":" + std::to_string(number) + ": " + why +
                               "; make the sky again with umbrascope-clouds --force");
        };
        line = trim_blanks(line);
        if (line.empty() || line.front() == '#') {
            if (const std::optional<std::string> print = named_fingerprint(line))
                field.sky_fingerprint = *print;
            return;
        }
        if (line == "series" || line == "row_clear") {
            part = line == "series" ? Part::series : Part::row_clear;
            return;
        }
        if (part != Part::keys) {
            const std::optional<double> value = number_of(line);
            if (!value)
                throw bad("not a number: '" + std::string(line) + "'");
            (part == Part::series ? field.series : field.row_clear).push_back(*value);
            return;
        }
        const std::size_t equals = line.find('=');
        const std::optional<double> value = equals == std::string_view::npos ? std::nullopt : number_of(line.substr(equals + 1));
        if (!value)
            throw bad("a line is KEY=NUMBER");
        const std::string_view key = line.substr(0, equals);
        if (key == "sensor_x")
            field.at_x = *value;
        else if (key == "sensor_y")
            field.at_y = *value;
        else if (key == "metres_per_unit")
            field.metres_per_unit = *value;
        else if (key == "speed")
            field.speed = *value;
        else if (key == "from")
            field.from = *value;
        else if (key == "interval")
            field.interval = *value;
        else if (key == "first")
            field.first = *value;
        else if (key == "row_interval")
            field.row_interval = *value;
        else if (key == "scale")
            field.scale = *value;
    });
    if (field.series.empty())
        throw FolderError(file + " holds no series; make the sky again with umbrascope-clouds --force");
    if (!(field.speed > 0) || !(field.interval > 0) || !(field.metres_per_unit > 0) || !(field.row_interval > 0) ||
        !(field.scale > 0))
        throw FolderError(file + ": its speed, intervals and unit must be above 0; make the sky again with "
                          "umbrascope-clouds --force");
    return field;
}

std::optional<SkyField> read_sky_field(const fs::path& folder)
{
    const fs::path path = folder / sky_field_name;
    std::error_code missing;
    if (!fs::is_regular_file(path, missing))
        return std::nullopt;
    SkyField field = read_sky_field_text(read_whole_file(path, "sky field"), path.string());
    // A field left from an earlier sky is not this one's.
    const std::optional<std::string> sky = file_fingerprint(folder / sun_table_file_name);
    if (!sky || *sky != field.sky_fingerprint)
        return std::nullopt;
    return field;
}

}  // namespace umbrascope

#include "scenario/track.hpp"

#include <charconv>
#include <cmath>
#include <optional>

#include "core/lines.hpp"

namespace umbrascope::scenario {

namespace {

std::optional<double> number_of(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::vector<std::string_view> split(std::string_view line)
{
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t comma = line.find(',');
        fields.push_back(line.substr(0, comma));
        if (comma == std::string_view::npos)
            return fields;
        line.remove_prefix(comma + 1);
    }
}

std::string where(const std::string& file, long line) { return file + ":" + std::to_string(line); }

}  // namespace

Track read_track(std::string_view text, const std::string& file)
{
    Track track;
    long lines = 0;
    each_line(text, [&](std::string_view line, long number) {
        lines = number;
        if (number < 4)
            return;
        const std::vector<std::string_view> fields = split(line);
        if (number == 4) {
            if (fields.size() < 10)
                throw ScenarioError(where(file, number) + ": the parameter line has " + std::to_string(fields.size() - 1) +
                                    " commas; it needs nine: -,-,-,side,radius 1,radius 2,-,angle,threshold,");
            const auto field = [&](std::size_t i, const char* what) {
                const std::optional<double> value = number_of(fields[i - 1]);
                if (!value)
                    throw ScenarioError(where(file, number) + ": the " + what + " (field " + std::to_string(i) +
                                        ") is not a number: '" + std::string(fields[i - 1]) + "'");
                return *value;
            };
            track.shape = {field(4, "side"), field(5, "radius 1"), field(6, "radius 2"), field(8, "angle"),
                           field(9, "threshold")};
            if (!(track.shape.core > 0 && track.shape.edge > track.shape.core))
                throw ScenarioError(where(file, number) + ": radius 1 must be above 0 and radius 2 above radius 1");
            return;
        }
        if (fields.size() < 3)
            throw ScenarioError(where(file, number) + ": a record is step,x,y");
        const std::optional<double> step = number_of(fields[0]);
        const std::optional<double> x = number_of(fields[1]);
        // As the picture reads it, y runs to the end of the line.
        const std::optional<double> y = number_of(line.substr(fields[0].size() + fields[1].size() + 2));
        if (!step || *step != std::floor(*step) || std::fabs(*step) > 2e9)
            throw ScenarioError(where(file, number) + ": the step is not a whole number: '" + std::string(fields[0]) + "'");
        if (!x || !y)
            throw ScenarioError(where(file, number) + ": the cloud's " + (x ? "y" : "x") + " is not a number");
        const int s = static_cast<int>(*step);
        if (s < track.last_step())
            throw ScenarioError(where(file, number) + ": step " + std::to_string(s) + " after step " +
                                std::to_string(track.last_step()) + "; records go in step order");
        track.records.push_back({s, *x, *y});
    });
    if (lines < 4)
        throw ScenarioError(file + ": no parameter line: the track file has " + std::to_string(lines) + " lines");
    return track;
}

std::string track_text(const Track& track, const std::string& about, int decimals)
{
    std::string out = "Cloud centres, made by umbrascope-clouds\n" + about + "\n" +
                      "Parameters: -,-,-,side,radius 1,radius 2,-,angle,threshold; then step,x,y per cloud\n";
    out += "shape,network units,-,";
    for (const double value : {track.shape.side, track.shape.core, track.shape.edge}) {
        append_decimal(out, value, decimals);
        out += ',';
    }
    out += "degrees,";
    append_decimal(out, track.shape.angle, 3);
    out += ',';
    append_decimal(out, track.shape.threshold, 3);
    out += ",\n";
    out.reserve(out.size() + track.records.size() * 24);
    for (const CloudAt& cloud : track.records) {
        out += std::to_string(cloud.step);
        out += ',';
        append_decimal(out, cloud.x, decimals);
        out += ',';
        append_decimal(out, cloud.y, decimals);
        out += '\n';
    }
    return out;
}

}  // namespace umbrascope::scenario

#include "core/words.hpp"
#include "import/tables.hpp"

#include <charconv>
#include <cfloat>
#include <cmath>
#include <numbers>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/lines.hpp"

namespace umbrascope::import {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && is_blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The fields of a line, separated by commas (and, with `blanks`, by runs of blanks and tabs too).
// A field in double quotes may hold separators; "" inside it is one quote.
std::vector<std::string> fields_of(std::string_view line, bool blanks, const Site& site)
{
    std::vector<std::string> fields;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (true) {
        while (i < n && is_blank(line[i]))
            ++i;
        if (i >= n && (blanks || fields.empty()))
            break;
        std::string field;
        if (i < n && line[i] == '"') {
            ++i;
            while (true) {
                if (i >= n)
                    throw ImportError(site.text() + ": a quoted name is not closed on its line");
                if (line[i] == '"' && i + 1 < n && line[i + 1] == '"') {
                    field += '"';
                    i += 2;
                } else if (line[i] == '"') {
                    ++i;
                    break;
                } else {
                    field += line[i++];
                }
            }
            while (i < n && is_blank(line[i]))
                ++i;
        } else {
            const std::size_t start = i;
            while (i < n && line[i] != ',' && !(blanks && is_blank(line[i])))
                ++i;
            field = std::string(trimmed(line.substr(start, i - start)));
            while (i < n && is_blank(line[i]))
                ++i;
        }
        fields.push_back(std::move(field));
        if (i < n && line[i] == ',')
            ++i;
        else if (i >= n)
            break;
    }
    return fields;
}

// Calls `row(fields, site, header)` for each line of a comma-separated table but blank ones;
// `header` is true for the first, which may be a header line.
template <class F>
void each_table_row(std::string_view text, const std::string& file, F&& row)
{
    bool first = true;
    each_line(text, [&](std::string_view line, long number) {
        if (trimmed(line).empty())
            return;
        const Site site{file, number};
        row(fields_of(line, false, site), site, std::exchange(first, false));
    });
}

// A number as the point-decimal text of a file, or nothing.
std::optional<double> number_of(std::string_view text)
{
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

double coordinate(double value, const Site& site, const char* what)
{
    // The network's coordinates are single precision.
    if (!std::isfinite(value) || std::fabs(value) > FLT_MAX)
        throw ImportError(site.text() + ": " + what + " is not a usable number");
    return value;
}

// Adds a bus unless one of the same name, in any letter case, came first.
void add_bus(CoordinateTable& table, std::unordered_set<std::string>& seen, Bus bus)
{
    if (!seen.insert(lower(bus.name)).second) {
        if (table.repeated++ == 0)
            table.first_repeated = bus.site;
        return;
    }
    table.buses.push_back(std::move(bus));
}

// Latitude and longitude in degrees to metres east and north of the south-west corner, on the
// sphere of the Earth's mean radius with the east-west scale of the middle latitude: within a
// feeder's few kilometres this keeps its proportions.
void project(CoordinateTable& table, const std::string& file, Degrees degrees)
{
    if (degrees == Degrees::none)
        return;
    if (degrees == Degrees::longitude_first)
        for (Bus& bus : table.buses)
            std::swap(bus.x, bus.y);
    constexpr double earth_radius = 6371008.8;
    constexpr double radians = std::numbers::pi / 180;
    double south = 90, north = -90, west = 180;
    for (const Bus& bus : table.buses) {
        const double latitude = bus.x, longitude = bus.y;
        if (latitude < -90 || latitude > 90 || longitude < -180 || longitude > 180)
            throw ImportError((bus.site.file.empty() ? file : bus.site.text()) + ": bus " + bus.name +
                              " would be at latitude " + std::to_string(latitude) + ", longitude " +
                              std::to_string(longitude) + ", outside -90..90 and -180..180: not degrees " +
                              (degrees == Degrees::latitude_first ? "with the latitude first (--lonlat reads the longitude first)"
                                                                  : "with the longitude first (--latlon reads the latitude first)"));
        south = std::min(south, latitude);
        north = std::max(north, latitude);
        west = std::min(west, longitude);
    }
    const double east_scale = std::cos((south + north) / 2 * radians);
    for (Bus& bus : table.buses) {
        const double latitude = bus.x, longitude = bus.y;
        bus.x = std::round((longitude - west) * radians * earth_radius * east_scale * 100) / 100;
        bus.y = std::round((latitude - south) * radians * earth_radius * 100) / 100;
    }
}

}  // namespace

CoordinateTable read_coordinates(std::string_view text, const std::string& file, Degrees degrees)
{
    const char* x_is = degrees == Degrees::none ? "x" : degrees == Degrees::latitude_first ? "the latitude" : "the longitude";
    const char* y_is = degrees == Degrees::none ? "y" : degrees == Degrees::latitude_first ? "the longitude" : "the latitude";
    CoordinateTable table;
    std::unordered_set<std::string> seen;
    each_line(text, [&](std::string_view line, long number) {
        const Site site{file, number};
        const std::vector<std::string> fields = fields_of(line, true, site);
        const std::optional<double> x = fields.size() < 3 ? std::nullopt : number_of(fields[1]);
        const std::optional<double> y = fields.size() < 3 ? std::nullopt : number_of(fields[2]);
        if (!x || !y || fields[0].empty()) {
            // A header or a comment is passed over; a line with a number in it looks meant.
            bool numbers = false;
            for (std::size_t i = 1; i < fields.size(); ++i)
                numbers = numbers || number_of(fields[i]).has_value();
            if (numbers && table.skipped++ == 0)
                table.first_skipped = site;
            return;
        }
        add_bus(table, seen,
                Bus{fields[0], bus_key(fields[0]), coordinate(*x, site, x_is), coordinate(*y, site, y_is), site});
    });
    if (table.buses.empty())
        throw ImportError(file + ": no coordinates found: no line of the form \"name, x, y\"");
    project(table, file, degrees);
    return table;
}

CoordinateTable read_bus_table(std::string_view text, const std::string& file, Degrees degrees)
{
    CoordinateTable table;
    std::unordered_set<std::string> seen;
    each_table_row(text, file, [&](const std::vector<std::string>& fields, const Site& site, bool header) {
        const std::optional<double> x = fields.size() < 3 ? std::nullopt : number_of(fields[1]);
        const std::optional<double> y = fields.size() < 3 ? std::nullopt : number_of(fields[2]);
        if (header && (!x || !y))
            return;
        if (fields.size() != 3)
            throw ImportError(site.text() + ": " + std::to_string(fields.size()) +
                              (fields.size() == 1 ? " field" : " fields") + " where a bus has three: name,x,y");
        if (fields[0].empty())
            throw ImportError(site.text() + ": a bus without a name");
        if (!x)
            throw ImportError(site.text() + ": x is not a number: '" + fields[1] + "'");
        if (!y)
            throw ImportError(site.text() + ": y is not a number: '" + fields[2] + "'");
        add_bus(table, seen, Bus{fields[0], lower(fields[0]), coordinate(*x, site, "x"), coordinate(*y, site, "y"), site});
    });
    if (table.buses.empty())
        throw ImportError(file + ": no buses: no line of the form \"name,x,y\"");
    project(table, file, degrees);
    return table;
}

DegreesFit look_like_degrees(const CoordinateTable& table)
{
    DegreesFit fit;
    if (table.buses.empty())
        return fit;
    double x_min = table.buses[0].x, x_max = x_min, y_min = table.buses[0].y, y_max = y_min;
    bool x_latitude = true, y_latitude = true, x_longitude = true, y_longitude = true;
    for (const Bus& bus : table.buses) {
        x_latitude = x_latitude && std::fabs(bus.x) <= 90;
        y_latitude = y_latitude && std::fabs(bus.y) <= 90;
        x_longitude = x_longitude && std::fabs(bus.x) <= 180;
        y_longitude = y_longitude && std::fabs(bus.y) <= 180;
        x_min = std::min(x_min, bus.x);
        x_max = std::max(x_max, bus.x);
        y_min = std::min(y_min, bus.y);
        y_max = std::max(y_max, bus.y);
    }
    if (!(std::max(x_max - x_min, y_max - y_min) < 1))
        return fit;
    fit.longitude_first = x_longitude && y_latitude;
    fit.latitude_first = x_latitude && y_longitude;
    return fit;
}

Circuit read_branch_table(std::string_view text, const std::string& file, const std::vector<std::string>& known)
{
    const std::unordered_set<std::string> buses(known.begin(), known.end());
    Circuit circuit;
    std::unordered_map<std::string, int> index;
    const auto bus = [&](const std::string& name) {
        const auto [at, added] = index.try_emplace(lower(name), static_cast<int>(circuit.buses.size()));
        if (added)
            circuit.buses.push_back(at->first);
        return at->second;
    };
    // The first line is a header when it names neither a bus of the bus table nor a name another
    // branch uses: as a branch it would join two names nothing else knows, and change nothing.
    std::unordered_set<std::string> named_later;
    each_table_row(text, file, [&](const std::vector<std::string>& fields, const Site&, bool first) {
        if (!first)
            for (const std::string& field : fields)
                named_later.insert(lower(field));
    });
    const auto unknown = [&](const std::string& name) {
        const std::string key = lower(name);
        return buses.count(key) == 0 && named_later.count(key) == 0;
    };
    each_table_row(text, file, [&](const std::vector<std::string>& fields, const Site& site, bool header) {
        if (header && fields.size() >= 2 && unknown(fields[0]) && unknown(fields[1]))
            return;
        if (fields.size() < 2 || fields[0].empty() || fields[1].empty())
            throw ImportError(site.text() + ": a branch names two buses: from,to");
        const int from = bus(fields[0]);
        const int to = bus(fields[1]);
        circuit.elements.push_back(from == to ? std::vector<int>{from} : std::vector<int>{from, to});
    });
    circuit.files = 1;
    return circuit;
}

}  // namespace umbrascope::import

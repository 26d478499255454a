#include "scenario/sun_model.hpp"

#include <charconv>
#include <cmath>

#include "core/lines.hpp"

namespace umbrascope::scenario {

namespace {

constexpr std::size_t longest_line = 32767;  // characters a line of an input file may hold

void append_thousandths(std::string& out, std::int64_t t)
{
    char buffer[32];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, t / 1000);
    out.append(buffer, end);
    int rest = static_cast<int>(t % 1000);
    if (rest == 0)
        return;
    out += '.';
    char digits[3] = {static_cast<char>('0' + rest / 100), static_cast<char>('0' + rest / 10 % 10),
                      static_cast<char>('0' + rest % 10)};
    int n = 3;
    while (digits[n - 1] == '0')
        --n;
    out.append(digits, static_cast<std::size_t>(n));
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

double intensity(double d, double r1, double r2)
{
    if (d <= r1)
        return 0.25 + 0.25 * d / r1;
    if (d <= r2)
        return 0.5 + 0.45 * (d - r1) / (r2 - r1);
    return 1.0;
}

std::int64_t thousandths(double value)
{
    const double scaled = value * 1000;
    const double fraction = scaled - std::floor(scaled);
    if (std::fabs(fraction - 0.5) > 1e-6)
        return static_cast<std::int64_t>(std::nearbyint(scaled));
    // Near a half the product may have rounded either way: round the exact decimal value instead.
    char buffer[400];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 3);
    std::int64_t t = 0;
    bool negative = false;
    for (const char* c = buffer; error == std::errc() && c != end; ++c) {
        if (*c == '-')
            negative = true;
        else if (*c != '.')
            t = t * 10 + (*c - '0');
    }
    return negative ? -t : t;
}

SunTable sun_under(const std::vector<Place>& buses, const Track& track, int rows, const std::vector<double>* clear_sky)
{
    SunTable table;
    table.rows = rows;
    table.buses = static_cast<int>(buses.size());
    table.thousandths.resize(static_cast<std::size_t>(rows) * buses.size());
    const double r1 = track.shape.core;
    const double r2 = track.shape.edge;
    const double reach = r2 * r2 * (1 + 1e-9);  // beyond this a bus is in full sun under the cloud
    std::size_t next = 0;
    std::vector<Place> clouds;
    std::int64_t* out = table.thousandths.data();
    for (int row = 1; row <= rows; ++row) {
        while (next < track.records.size() && track.records[next].step < row)
            ++next;
        clouds.clear();
        for (; next < track.records.size() && track.records[next].step == row; ++next)
            clouds.push_back({track.records[next].x, track.records[next].y});
        const double factor = clear_sky != nullptr ? (*clear_sky)[static_cast<std::size_t>(row - 1)] : 1.0;
        for (const Place& bus : buses) {
            double value = 1.0;
            for (const Place& cloud : clouds) {
                const double dx = bus.x - cloud.x;
                const double dy = bus.y - cloud.y;
                if (dx * dx + dy * dy <= reach)
                    value = std::min(value, intensity(std::hypot(dx, dy), r1, r2));
            }
            *out++ = thousandths(value * factor);
        }
    }
    return table;
}

std::string sun_table_text(const SunTable& table, const SunHeader& header)
{
    std::string out = "Sun intensity per bus\nMade by umbrascope-clouds from " + header.made_from + "\n" +
                      "Clear-sky index: 1 in full sun" +
                      (header.clear_sky.empty() ? std::string() : ", times the factors of " + header.clear_sky) + "\n";
    out += "One row every ";
    append_decimal(out, header.interval, 6);
    out += header.interval == 1 ? " second\n" : " seconds\n";
    out += "Columns: time in seconds, then one intensity per bus index\n";
    std::string columns = "time";
    for (const std::string& name : header.names)
        columns += "," + name;
    if (columns.size() > longest_line)
        columns = "time,then buses 1 to " + std::to_string(header.names.size());
    out += columns + "\n";
    out.reserve(out.size() + table.thousandths.size() * 6 + static_cast<std::size_t>(table.rows) * 8);
    for (int row = 0; row < table.rows; ++row) {
        const std::size_t start = out.size();
        append_decimal(out, row * header.interval, 6);
        for (int bus = 0; bus < table.buses; ++bus) {
            out += ',';
            append_thousandths(out, table.at(row, bus));
        }
        if (out.size() - start > longest_line)
            throw ScenarioError("row " + std::to_string(row + 1) + " of the sun table would be " +
                                std::to_string(out.size() - start) + " characters long, past the " +
                                std::to_string(longest_line) + " a line may hold: too many buses for one row");
        out += '\n';
    }
    return out;
}

std::string loadshapes_text(const SunTable& table, const SunHeader& header)
{
    std::string out = "! Loadshapes made by umbrascope-clouds from " + header.made_from +
                      ": one per bus, its multipliers the bus's sun intensity in each row\n";
    for (int bus = 0; bus < table.buses; ++bus) {
        out += "New Loadshape." + header.names[static_cast<std::size_t>(bus)] + " npts=" + std::to_string(table.rows) +
               " sinterval=";
        append_decimal(out, header.interval, 6);
        out += " mult=[";
        for (int row = 0; row < table.rows; ++row) {
            if (row > 0)
                out += ' ';
            append_thousandths(out, table.at(row, bus));
        }
        out += "]\n";
    }
    return out;
}

std::vector<double> read_clear_sky(std::string_view text, const std::string& file)
{
    std::vector<double> factors;
    bool first = true;
    each_line(text, [&](std::string_view line, long number) {
        line = trimmed(line);
        if (line.empty())
            return;
        if (line.front() == '+')
            line.remove_prefix(1);
        double value = 0;
        const auto [stop, error] = std::from_chars(line.data(), line.data() + line.size(), value);
        const bool is_number = error == std::errc() && stop == line.data() + line.size() && std::isfinite(value);
        const bool header = first;
        first = false;
        if (!is_number && header)
            return;
        if (!is_number)
            throw ScenarioError(file + ":" + std::to_string(number) + ": not a number: '" + std::string(line) + "'");
        if (value < 0)
            throw ScenarioError(file + ":" + std::to_string(number) + ": a clear-sky factor below 0");
        factors.push_back(value);
    });
    if (factors.empty())
        throw ScenarioError(file + ": no clear-sky factors: the file holds no numbers");
    return factors;
}

}  // namespace umbrascope::scenario

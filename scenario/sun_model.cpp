#include "scenario/sun_model.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <unordered_map>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "model/element_map.hpp"
#include "model/folder_error.hpp"

namespace umbrascope::scenario {

namespace {

constexpr std::size_t longest_line = 32767;  // characters a line of an input file may hold

// Writes `t` thousandths at `at` as the shortest decimal text ("0.443", "1", "-0.02"); gives the
// end. Room for 24 characters.
char* put_thousandths(char* at, std::int64_t t)
{
    if (t < 0) {
        *at++ = '-';
        t = -t;
    }
    const std::int64_t whole = t / 1000;
    const int rest = static_cast<int>(t % 1000);
    if (whole < 10)
        *at++ = static_cast<char>('0' + whole);
    else
        at = std::to_chars(at, at + 21, whole).ptr;
    if (rest != 0) {
        *at++ = '.';
        *at++ = static_cast<char>('0' + rest / 100);
        if (rest % 100 != 0) {
            *at++ = static_cast<char>('0' + rest / 10 % 10);
            if (rest % 10 != 0)
                *at++ = static_cast<char>('0' + rest % 10);
        }
    }
    return at;
}

constexpr std::size_t widest_value = 24;  // a value and its separator, at most


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
    if (std::fabs(scaled) < 0x1p51) {
        // Adding and taking away 1.5 x 2^52 rounds to the nearest whole number, half to even, as
        // the default rounding mode does, without a library call.
        const double nearest = (scaled + 0x1.8p52) - 0x1.8p52;
        if (std::fabs(std::fabs(scaled - nearest) - 0.5) > 1e-6)
            return static_cast<std::int64_t>(nearest);
    }
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

Stored stored(std::int64_t thousandths)
{
    return static_cast<Stored>(std::clamp<std::int64_t>(thousandths, std::numeric_limits<Stored>::min(),
                                                        std::numeric_limits<Stored>::max()));
}

SunTable sun_under(const std::vector<Place>& buses, const Track& track, int rows)
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
    Stored* out = table.thousandths.data();
    for (int row = 1; row <= rows; ++row) {
        while (next < track.records.size() && track.records[next].step < row)
            ++next;
        clouds.clear();
        for (; next < track.records.size() && track.records[next].step == row; ++next)
            clouds.push_back({track.records[next].x, track.records[next].y});
        for (const Place& bus : buses) {
            double value = 1.0;
            for (const Place& cloud : clouds) {
                const double dx = bus.x - cloud.x;
                const double dy = bus.y - cloud.y;
                if (dx * dx + dy * dy <= reach)
                    value = std::min(value, intensity(std::hypot(dx, dy), r1, r2));
            }
            *out++ = stored(thousandths(value));
        }
    }
    return table;
}

void write_sun_table(const SunTable& table, const SunHeader& header, const TextSink& sink)
{
    std::string out = "Sun intensity per bus\nMade by umbrascope-clouds from " + header.made_from + "\n" +
                      "Clear-sky index: 1 in full sun" +
                      (header.clear_sky.empty() ? std::string()
                                                : "; the loadshapes take it times the factors of " + header.clear_sky) +
                      "\n";
    out += "One row every ";
    append_decimal(out, header.interval, 6);
    out += header.interval == 1 ? " second" : " seconds";
    if (header.start)
        out += ", the first at " + clock_text(*header.start);
    out += "\nColumns: time in seconds, then one intensity per bus index";
    if (!header.units.empty())
        out += "; one network unit is 1 " + header.units;
    out += "\n";
    std::string columns = "time";
    for (const std::string& name : header.names)
        columns += "," + name;
    if (columns.size() > longest_line)
        columns = "time,then buses 1 to " + std::to_string(header.names.size());
    out += columns + "\n";
    // The rows go out a few hundred kilobytes at a time.
    constexpr std::size_t piece = 1 << 18;
    out.reserve(piece + static_cast<std::size_t>(std::max(table.buses, 0)) * widest_value + 64);
    std::string time;
    std::vector<char> values(static_cast<std::size_t>(std::max(table.buses, 0)) * widest_value + 1);
    for (int row = 0; row < table.rows; ++row) {
        time.clear();
        append_decimal(time, row * header.interval, 6);
        char* at = values.data();
        for (const Stored* value = &table.thousandths[static_cast<std::size_t>(row) * static_cast<std::size_t>(table.buses)],
                          *end = value + table.buses;
             value != end; ++value) {
            *at++ = ',';
            at = put_thousandths(at, *value);
        }
        *at++ = '\n';
        const std::size_t length = time.size() + static_cast<std::size_t>(at - values.data()) - 1;
        if (length > longest_line)
            throw ScenarioError("row " + std::to_string(row + 1) + " of the sun table would be " + std::to_string(length) +
                                " characters long, past the " + std::to_string(longest_line) +
                                " a line may hold: too many buses for one row");
        out += time;
        out.append(values.data(), at);
        if (out.size() >= piece) {
            sink(out);
            out.clear();
        }
    }
    sink(out);
}

std::string sun_table_text(const SunTable& table, const SunHeader& header)
{
    std::string text;
    write_sun_table(table, header, [&](std::string_view piece) { text += piece; });
    return text;
}

std::string dss_word(const std::string& name)
{
    bool plain = !name.empty();
    for (const char c : name)
        plain = plain && (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.' ||
                          static_cast<unsigned char>(c) >= 0x80);
    if (plain)
        return name;
    const char quote = name.find('"') == std::string::npos ? '"' : '\'';
    if (name.find(quote) != std::string::npos)
        throw ScenarioError("the name '" + name + "' holds both kinds of quote, which no OpenDSS command can name");
    return quote + name + quote;
}

std::string shape_name(const std::string& bus) { return "sky_" + bus; }

int write_loadshapes(const SunTable& table, const SunHeader& header, const std::vector<double>* factors,
                     const std::vector<PvSystem>* pv, bool all_buses, const TextSink& sink)
{
    const bool for_pv = pv != nullptr && !pv->empty() && !all_buses;
    std::unordered_map<std::string, int> index;
    for (int bus = 0; bus < table.buses; ++bus)
        index.try_emplace(header.names[static_cast<std::size_t>(bus)], bus);
    if (pv != nullptr)
        for (const PvSystem& system : *pv)
            if (!system.drawn_bus.empty() && index.count(system.drawn_bus) == 0)
                throw ScenarioError(system.element + " stands at the drawn bus " + system.drawn_bus +
                                    ", which the network file does not hold: import the circuit again");
    // The buses whose shapes are used, in the network's order.
    std::vector<bool> wanted(static_cast<std::size_t>(std::max(table.buses, 0)), !for_pv);
    if (for_pv)
        for (const PvSystem& system : *pv)
            if (!system.drawn_bus.empty())
                wanted[static_cast<std::size_t>(index.at(system.drawn_bus))] = true;

    std::string out = "! Loadshapes made by umbrascope-clouds from " + header.made_from +
                      (for_pv ? ": one per drawn bus that a PV system takes" : ": one per bus") +
                      ", its multipliers the bus's clear-sky index in each row" +
                      (factors != nullptr ? " times the factor of " + header.clear_sky : std::string()) + "\n";
    if (!header.sky_fingerprint.empty())
        out += "! For the sky of its sun table, fingerprint " + header.sky_fingerprint + "\n";
    int shapes = 0;
    std::vector<char> values(static_cast<std::size_t>(std::max(table.rows, 0)) * widest_value + 1);
    for (int bus = 0; bus < table.buses; ++bus) {
        if (!wanted[static_cast<std::size_t>(bus)])
            continue;
        ++shapes;
        const std::string& name = header.names[static_cast<std::size_t>(bus)];
        out += "New " + dss_word("Loadshape." + shape_name(name)) + " npts=" + std::to_string(table.rows) + " sinterval=";
        append_decimal(out, header.interval, 6);
        out += " mult=[";
        char* at = values.data();
        for (int row = 0; row < table.rows; ++row) {
            if (row > 0)
                *at++ = ' ';
            const std::int64_t value = table.at(row, bus);
            at = put_thousandths(at, factors != nullptr
                                         ? thousandths(static_cast<double>(value) / 1000 * (*factors)[static_cast<std::size_t>(row)])
                                         : value);
        }
        out.append(values.data(), at);
        out += "]\n";
        sink(out);
        out.clear();
    }
    // The clear sky a study's twin runs under: an index of 1, times the sun's course where the
    // shapes carry it.
    out += "! The clear sky, for a study's clear-sky twin: an index of 1";
    out += factors != nullptr ? " times the factor of " + header.clear_sky + "\n" : std::string("\n");
    out += "New Loadshape.clear_sky npts=" + std::to_string(table.rows) + " sinterval=";
    append_decimal(out, header.interval, 6);
    out += " mult=[";
    {
        char* at = values.data();
        for (int row = 0; row < table.rows; ++row) {
            if (row > 0)
                *at++ = ' ';
            at = put_thousandths(at, factors != nullptr ? thousandths((*factors)[static_cast<std::size_t>(row)]) : 1000);
        }
        out.append(values.data(), at);
    }
    out += "]\n";
    if (pv != nullptr && pv->empty())
        out += "! The circuit has no PV systems. feeder_elements.csv names the drawn bus of each of its loads and "
               "generators: give an element its bus's shape with Edit CLASS.NAME daily=SHAPE duty=SHAPE, SHAPE "
               "being sky_ and the drawn bus's name\n";
    if (pv != nullptr && !pv->empty()) {
        out += "! Each PV system takes the loadshape of the drawn bus that stands for it (feeder_elements.csv)\n";
        for (const PvSystem& system : *pv) {
            if (system.drawn_bus.empty()) {
                out += "! " + system.element + " reaches no drawn bus: it keeps its own shapes\n";
                continue;
            }
            const std::string shape = dss_word(shape_name(system.drawn_bus));
            out += "Edit ";
            out += dss_word(system.element);
            out += " daily=";
            out += shape;
            out += " duty=";
            out += shape;
            out += '\n';
        }
    }
    sink(out);
    return shapes;
}

std::string loadshapes_text(const SunTable& table, const SunHeader& header, const std::vector<double>* factors,
                            const std::vector<PvSystem>* pv, bool all_buses)
{
    std::string text;
    (void)write_loadshapes(table, header, factors, pv, all_buses, [&](std::string_view piece) { text += piece; });
    return text;
}

std::vector<PvSystem> read_pv_systems(std::string_view text, const std::string& file)
{
    std::vector<StandIn> elements;
    try {
        elements = read_elements_text(text, file);
    } catch (const FolderError& error) {
        throw ScenarioError(error.what());
    }
    std::vector<PvSystem> systems;
    for (StandIn& element : elements)
        if (is_class(element.element, "pvsystem"))
            systems.push_back({std::move(element.element), std::move(element.drawn_bus)});
    return systems;
}

Drops largest_drops(const SunTable& table, const std::vector<bool>& only)
{
    Drops drops;
    int counted = 0;
    for (int bus = 0; bus < table.buses; ++bus)
        counted += only[static_cast<std::size_t>(bus)] ? 1 : 0;
    if (counted == 0)
        return drops;
    std::int64_t last_sum = 0;
    std::int64_t largest_single = 0;
    std::int64_t largest_sum = 0;
    for (int row = 0; row < table.rows; ++row) {
        std::int64_t sum = 0;
        for (int bus = 0; bus < table.buses; ++bus) {
            if (!only[static_cast<std::size_t>(bus)])
                continue;
            const std::int64_t value = table.at(row, bus);
            sum += value;
            if (row > 0 && table.at(row - 1, bus) - value > largest_single) {
                largest_single = table.at(row - 1, bus) - value;
                drops.single_row = row + 1;
            }
        }
        if (row > 0 && last_sum - sum > largest_sum) {
            largest_sum = last_sum - sum;
            drops.mean_row = row + 1;
        }
        last_sum = sum;
    }
    drops.single = static_cast<double>(largest_single) / 1000;
    drops.mean = static_cast<double>(largest_sum) / 1000 / counted;
    return drops;
}

Drops largest_drops(const SunTable& table)
{
    return largest_drops(table, std::vector<bool>(static_cast<std::size_t>(std::max(table.buses, 0)), true));
}

std::vector<double> read_clear_sky(std::string_view text, const std::string& file)
{
    std::vector<double> factors;
    bool first = true;
    each_line(text, [&](std::string_view line, long number) {
        line = trim_blanks(line);
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

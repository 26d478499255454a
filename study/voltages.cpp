#include "study/voltages.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>

#include "core/lines.hpp"
#include "core/parallel.hpp"
#include "core/words.hpp"
#include "import/source_files.hpp"
#include "scenario/track.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t longest_line = 32767;

// "0.9512" for 9512 at `at`, giving the end; nothing for no voltage. Room for 16 characters.
char* put_per_unit(char* at, PerUnit v)
{
    if (v == no_voltage)
        return at;
    if (v < 0) {
        *at++ = '-';
        v = -v;
    }
    at = std::to_chars(at, at + 10, v / 10000).ptr;
    const PerUnit rest = v % 10000;
    at[0] = '.';
    at[1] = static_cast<char>('0' + rest / 1000);
    at[2] = static_cast<char>('0' + rest / 100 % 10);
    at[3] = static_cast<char>('0' + rest / 10 % 10);
    at[4] = static_cast<char>('0' + rest % 10);
    return at + 5;
}

void append_per_unit(std::string& out, PerUnit v)
{
    char digits[16];
    out.append(digits, put_per_unit(digits, v));
}

std::string per_unit_text(PerUnit v)
{
    std::string out;
    append_per_unit(out, v);
    return out;
}

VoltageTables empty_tables(int rows, int buses)
{
    VoltageTables tables;
    tables.rows = rows;
    tables.buses = buses;
    const std::size_t cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(buses);
    tables.lowest.assign(cells, no_voltage);
    tables.highest.assign(cells, no_voltage);
    tables.outside.assign(cells, 0);
    return tables;
}

void take(VoltageTables& tables, std::size_t cell, double value)
{
    tables.outside[cell] |= outside_bits(value);
    const PerUnit v = per_unit(value);
    PerUnit& low = tables.lowest[cell];
    PerUnit& high = tables.highest[cell];
    if (low == no_voltage || v < low)
        low = v;
    if (high == no_voltage || v > high)
        high = v;
}

std::string seconds_text(double seconds)
{
    std::string out;
    append_decimal(out, seconds, 6);
    return out;
}

}  // namespace

std::uint8_t outside_bits(double v)
{
    return static_cast<std::uint8_t>((v < 0.95 ? outside_below_a : 0) | (v > 1.05 ? outside_above_a : 0) |
                                     (v * 120 < 110 ? outside_below_b : 0) | (v * 120 > 127 ? outside_above_b : 0));
}

PerUnit per_unit(double value)
{
    const double scaled = std::clamp(value * 10000, -2e9, 2e9);
    return static_cast<PerUnit>(scaled + (scaled < 0 ? -0.5 : 0.5));
}

FromMonitors tables_from_monitors(const ResultsFolder& results, const std::vector<Monitor>& monitors,
                                  const Drawn& drawn, const Sky& sky, const fs::path& voltages)
{
    const std::unordered_map<std::string, BusVoltages> solved = read_voltage_export(voltages);
    // A run with no voltages is told as what it is, never read as buses without any.
    if (solved.empty())
        throw StudyError(voltages.string() + " holds no bus: the engine solved nothing (see what it said when it "
                         "compiled the circuit), so the run has no voltages");
    if (std::none_of(solved.begin(), solved.end(), [](const auto& bus) { return bus.second.base_kv > 0; }))
        throw StudyError(voltages.string() + " gives no bus a voltage base (BasekV 0 throughout): the circuit sets "
                         "none, so no voltage can be per unit; give it Set VoltageBases=[...] and CalcVoltageBases, then "
                         "write the study again and run it");
    FromMonitors out;
    out.voltages_file = voltages.filename().string();
    out.tables = empty_tables(sky.rows, static_cast<int>(drawn.names.size()));

    // Each monitor's drawn bus, file and base, found before any file is read.
    struct Work {
        const Monitor* monitor;
        int drawn;
        fs::path file;
        double base;  // volts, line to neutral
        std::vector<int> conductors;
        std::vector<double> snapshot;  // each conductor's node as the settled snapshot solved it, volts
    };
    std::vector<Work> work;
    for (const Monitor& monitor : monitors) {
        const std::optional<int> d = drawn.find(monitor.drawn_bus);
        if (!d)
            throw StudyError("the monitor " + monitor.name + " counts for the bus " + monitor.drawn_bus +
                             ", which the network file does not hold: write the study again");
        const std::optional<fs::path> file = results.monitor(monitor.name);
        if (!file)
            throw StudyError(results.folder().string() + " holds no export of the monitor " + monitor.name + " (" +
                             monitor.element + ", terminal " + std::to_string(monitor.terminal) +
                             "): expected <circuit>_Mon_" + monitor.name +
                             "_1.csv; run the whole study in OpenDSS");
        const auto bus = solved.find(monitor.bus);
        if (bus == solved.end() || !(bus->second.base_kv > 0)) {
            if (std::find(out.no_base.begin(), out.no_base.end(), monitor.bus) == out.no_base.end())
                out.no_base.push_back(monitor.bus);
            continue;
        }
        std::vector<int> conductors;
        std::vector<double> snapshot;
        for (std::size_t k = 0; k < monitor.nodes.size(); ++k) {
            const int node = monitor.nodes[k];
            if (node < 1 || node > 3)
                continue;
            const std::optional<double> volts = bus->second.volts(node);
            if (!volts) {
                out.left_out.push_back(monitor.name + " (" + monitor.element + ") conductor " + std::to_string(k + 1));
                continue;
            }
            conductors.push_back(static_cast<int>(k) + 1);
            snapshot.push_back(*volts);
        }
        if (!conductors.empty())
            work.push_back({&monitor, *d, *file, bus->second.base_kv * 1000 / std::sqrt(3.0), std::move(conductors),
                            std::move(snapshot)});
    }
    // The files are shared out among the cores a drawn bus at a time, so that no two write the
    // same bus's rows; the left-out columns are kept in the order of the work.
    std::stable_sort(work.begin(), work.end(), [](const Work& a, const Work& b) { return a.drawn < b.drawn; });
    std::vector<std::size_t> groups;  // where each drawn bus's work starts
    for (std::size_t w = 0; w < work.size(); ++w)
        if (w == 0 || work[w].drawn != work[w - 1].drawn)
            groups.push_back(w);
    groups.push_back(work.size());
    const std::size_t threads = std::min(threads_for(groups.size() - 1), groups.size() / 4 + 1);
    std::vector<std::vector<std::string>> left_out(work.size());
    // Each thread's own buffers, used again file after file.
    std::vector<std::vector<char>> buffers(threads);
    std::vector<std::vector<double>> volts_of(threads);
    std::vector<std::vector<bool>> found_of(threads);
    share_out(groups.size() - 1, threads, [&](std::size_t thread, std::size_t g) {
        std::vector<double>& volts = volts_of[thread];
        std::vector<bool>& found = found_of[thread];
        for (std::size_t w = groups[g]; w < groups[g + 1]; ++w) {
            const Work& job = work[w];
            read_monitor(job.file, sky.rows, sky.interval, sky.first_row, job.conductors, volts, found, buffers[thread]);
            const std::size_t width = job.conductors.size();
            for (std::size_t i = 0; i < width; ++i) {
                // A conductor the export lacks, or one that never reads a tenth of what the
                // snapshot solved at its node, is not the node the map says.
                bool live = found[i];
                if (live && job.snapshot[i] > 0.5 * job.base) {
                    live = false;
                    for (int row = 0; row < sky.rows && !live; ++row)
                        live = volts[static_cast<std::size_t>(row) * width + i] > 0.1 * job.snapshot[i];
                }
                if (!live) {
                    left_out[w].push_back(job.monitor->name + " (" + job.monitor->element + ") conductor " +
                                          std::to_string(job.conductors[i]));
                    continue;
                }
                for (int row = 0; row < sky.rows; ++row)
                    take(out.tables, out.tables.at(row, job.drawn), volts[static_cast<std::size_t>(row) * width + i] / job.base);
            }
        }
    });
    for (const std::vector<std::string>& part : left_out)
        out.left_out.insert(out.left_out.end(), part.begin(), part.end());
    return out;
}

FromTable tables_from_wide(const fs::path& file, const Drawn& drawn, const Sky& sky)
{
    FromTable out;
    out.tables = empty_tables(sky.rows, static_cast<int>(drawn.names.size()));
    std::vector<int> column_bus;  // by field, from the second; -1 for a name no drawn bus has
    int row = 0;
    bool header = true;
    each_line(read_text(file, "voltage table"), [&](std::string_view line, long number) {
        if (trim_blanks(line).empty())
            return;
        const auto where = [&] { return file.string() + ":" + std::to_string(number); };
        if (header) {
            header = false;
            const std::optional<std::vector<std::string>> names = csv_fields(line);
            if (!names || names->size() < 2)
                throw StudyError(where() + ": the first line names the columns: time,BUS,BUS,...");
            std::vector<bool> taken(drawn.names.size(), false);
            for (std::size_t i = 1; i < names->size(); ++i) {
                const std::string name(trim_blanks((*names)[i]));
                const std::optional<int> d = drawn.find(name);
                if (d && taken[static_cast<std::size_t>(*d)])
                    throw StudyError(where() + ": two columns name the bus " + name);
                if (d)
                    taken[static_cast<std::size_t>(*d)] = true;
                column_bus.push_back(d.value_or(-1));
                if (d)
                    ++out.columns;
                else
                    out.unknown.push_back(name);
            }
            return;
        }
        if (row >= sky.rows)
            throw StudyError(where() + ": more rows than the sun table's " + std::to_string(sky.rows));
        std::size_t field = 0;
        std::size_t at = line.find(',');
        while (at != std::string_view::npos) {
            const std::size_t next = line.find(',', at + 1);
            const std::string_view text = trim_blanks(line.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
            if (field >= column_bus.size())
                throw StudyError(where() + ": more fields than the first line names");
            if (!text.empty() && column_bus[field] >= 0) {
                double value = 0;
                const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
                if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value < 0)
                    throw StudyError(where() + ": field " + std::to_string(field + 2) + " is not a per-unit voltage: '" +
                                     std::string(text) + "'");
                take(out.tables, out.tables.at(row, column_bus[field]), value);
            }
            ++field;
            at = next;
        }
        ++row;
    });
    if (header)
        throw StudyError(file.string() + " is empty: a voltage table is time,BUS,BUS,... then a row a sun-table row");
    if (row != sky.rows)
        throw StudyError(file.string() + " holds " + std::to_string(row) + (row == 1 ? " row" : " rows") +
                         " where the sun table has " + std::to_string(sky.rows));
    return out;
}

void write_voltage_table(const VoltageTables& tables, bool highest, const Drawn& drawn, const Sky& sky,
                         const std::string& from, const std::string& base, const scenario::TextSink& sink)
{
    std::string out = std::string(highest ? "Highest" : "Lowest") + " voltage per bus, per unit\n";
    out += "Made by umbrascope-study from " + from + "\n";
    out += base + "\n";
    out += (sky.header.size() > 3 ? sky.header[3] : std::string("One row every ") + seconds_text(sky.interval) + " seconds") + "\n";
    out += "Columns: time in seconds, then one per-unit voltage per bus index, empty where a bus has none\n";
    std::string columns = "time";
    for (const std::string& name : drawn.names)
        columns += "," + name;
    if (columns.size() > longest_line)
        columns = "time,then buses 1 to " + std::to_string(drawn.names.size());
    out += columns + "\n";
    sink(out);
    // The rows, written into one buffer a few hundred kilobytes at a time.
    const std::vector<PerUnit>& values = highest ? tables.highest : tables.lowest;
    constexpr std::size_t widest = 16;  // ",214748.3647" and more
    std::size_t longest_time = 0;
    for (const std::string& time : sky.times)
        longest_time = std::max(longest_time, time.size());
    const std::size_t row_room = longest_time + static_cast<std::size_t>(tables.buses) * widest + 1;
    std::vector<char> buffer(std::max<std::size_t>(1U << 18, row_room) + row_room);
    char* at = buffer.data();
    const std::size_t rows = static_cast<std::size_t>(tables.rows);
    const auto buses = static_cast<std::size_t>(tables.buses);
    // The values are held bus by bus: a few rows at a time are taken across, each bus's run of
    // them read at once, so that a day's table is not read a cache line a cell.
    constexpr std::size_t tile_rows = 64;
    std::vector<PerUnit> tile(tile_rows * buses);
    for (std::size_t first = 0; first < rows; first += tile_rows) {
        const std::size_t count = std::min(tile_rows, rows - first);
        for (std::size_t bus = 0; bus < buses; ++bus) {
            const PerUnit* run = &values[bus * rows + first];
            for (std::size_t k = 0; k < count; ++k)
                tile[k * buses + bus] = run[k];
        }
        for (std::size_t k = 0; k < count; ++k) {
            const std::string& time = sky.times[first + k];
            at = std::copy(time.begin(), time.end(), at);
            const PerUnit* row_values = &tile[k * buses];
            for (std::size_t bus = 0; bus < buses; ++bus) {
                *at++ = ',';
                at = put_per_unit(at, row_values[bus]);
            }
            *at++ = '\n';
            if (static_cast<std::size_t>(at - buffer.data()) + row_room > buffer.size()) {
                sink(std::string_view(buffer.data(), static_cast<std::size_t>(at - buffer.data())));
                at = buffer.data();
            }
        }
    }
    sink(std::string_view(buffer.data(), static_cast<std::size_t>(at - buffer.data())));
}

std::string report_text(const VoltageTables& tables, const Drawn& drawn, const Sky& sky,
                        const std::vector<double>& distance, bool km)
{
    std::string out = km ? "bus,distance_km" : "bus,distance_network_units";
    out += ",lowest,lowest_row,highest,highest_row,seconds_below_a,seconds_above_a,seconds_below_b,seconds_above_b\n";
    for (int bus = 0; bus < tables.buses; ++bus) {
        PerUnit lowest = no_voltage, highest = no_voltage;
        int lowest_row = 0, highest_row = 0;
        int rows_below_a = 0, rows_above_a = 0, rows_below_b = 0, rows_above_b = 0;
        for (int row = 0; row < tables.rows; ++row) {
            const PerUnit low = tables.lowest[tables.at(row, bus)];
            const PerUnit high = tables.highest[tables.at(row, bus)];
            if (low != no_voltage && (lowest == no_voltage || low < lowest)) {
                lowest = low;
                lowest_row = row + 1;
            }
            if (high != no_voltage && (highest == no_voltage || high > highest)) {
                highest = high;
                highest_row = row + 1;
            }
            // Counted on the engine's own values, not on the four decimals written.
            const std::uint8_t outside = tables.outside[tables.at(row, bus)];
            rows_below_a += (outside & outside_below_a) != 0 ? 1 : 0;
            rows_above_a += (outside & outside_above_a) != 0 ? 1 : 0;
            rows_below_b += (outside & outside_below_b) != 0 ? 1 : 0;
            rows_above_b += (outside & outside_above_b) != 0 ? 1 : 0;
        }
        append_csv(out, drawn.names[static_cast<std::size_t>(bus)]);
        out += ',';
        if (distance[static_cast<std::size_t>(bus)] >= 0)
            append_decimal(out, distance[static_cast<std::size_t>(bus)], km ? 4 : 3);
        out += ',';
        if (lowest != no_voltage) {
            append_per_unit(out, lowest);
            out += ',';
            out += std::to_string(lowest_row);
            out += ',';
            append_per_unit(out, highest);
            out += ',';
            out += std::to_string(highest_row);
            for (const int rows : {rows_below_a, rows_above_a, rows_below_b, rows_above_b}) {
                out += ',';
                out += seconds_text(rows * sky.interval);
            }
        } else {
            out += ",,,,,,,";
        }
        out += '\n';
    }
    return out;
}

std::string row_time(const Sky& sky, int row)
{
    if (sky.start)
        return scenario::clock_text(*sky.start + (row - 1) * sky.interval);
    return "t = " + seconds_text((row - 1) * sky.interval) + " s";
}

std::vector<std::string> summary(const VoltageTables& tables, const Drawn& drawn, const Sky& sky)
{
    int with_voltage = 0, left_a = 0, left_b = 0;
    int longest_a = 0, longest_bus = -1;
    PerUnit lowest = no_voltage, highest = no_voltage;
    int lowest_bus = -1, lowest_row = 0, highest_bus = -1, highest_row = 0;
    std::vector<std::string> own;  // outside range A in every row it has a voltage in
    for (int bus = 0; bus < tables.buses; ++bus) {
        bool any = false, out_a = false, out_b = false;
        int rows_out_a = 0, rows_with = 0;
        for (int row = 0; row < tables.rows; ++row) {
            const PerUnit low = tables.lowest[tables.at(row, bus)];
            const PerUnit high = tables.highest[tables.at(row, bus)];
            if (low == no_voltage)
                continue;
            any = true;
            ++rows_with;
            const std::uint8_t outside = tables.outside[tables.at(row, bus)];
            const bool a = (outside & (outside_below_a | outside_above_a)) != 0;
            rows_out_a += a ? 1 : 0;
            out_a = out_a || a;
            out_b = out_b || (outside & (outside_below_b | outside_above_b)) != 0;
            if (lowest == no_voltage || low < lowest) {
                lowest = low;
                lowest_bus = bus;
                lowest_row = row + 1;
            }
            if (highest == no_voltage || high > highest) {
                highest = high;
                highest_bus = bus;
                highest_row = row + 1;
            }
        }
        with_voltage += any ? 1 : 0;
        if (any && rows_out_a == rows_with)
            own.push_back(drawn.names[static_cast<std::size_t>(bus)]);
        left_a += out_a ? 1 : 0;
        left_b += out_b ? 1 : 0;
        if (rows_out_a > longest_a) {
            longest_a = rows_out_a;
            longest_bus = bus;
        }
    }
    const auto name = [&](int bus) { return drawn.names[static_cast<std::size_t>(bus)]; };
    const auto buses = [](int n) { return std::to_string(n) + (n == 1 ? " bus" : " buses"); };
    std::vector<std::string> lines;
    lines.push_back(buses(with_voltage) + " of " + std::to_string(tables.buses) + " have voltages over " +
                    std::to_string(tables.rows) + (tables.rows == 1 ? " row" : " rows") + " of " +
                    seconds_text(sky.interval) + " s.");
    if (with_voltage == 0)
        return lines;
    lines.push_back("ANSI range A (0.95 to 1.05 pu): " +
                    (left_a == 0 ? std::string("no bus left it")
                                 : buses(left_a) + " left it; the longest outside it: " + name(longest_bus) + ", " +
                                       seconds_text(longest_a * sky.interval) + " s" +
                                       (longest_a == tables.rows ? std::string(" (the whole run)") : std::string())) +
                    "; range B (0.9167 to 1.0583 pu): " +
                    (left_b == 0 ? std::string("no bus left it") : buses(left_b) + " left it") + ".");
    lines.push_back("Lowest " + per_unit_text(lowest) + " pu at bus " + name(lowest_bus) + " in row " +
                    std::to_string(lowest_row) + " (" + row_time(sky, lowest_row) + "); highest " +
                    per_unit_text(highest) + " pu at bus " + name(highest_bus) + " in row " + std::to_string(highest_row) +
                    " (" + row_time(sky, highest_row) + ").");
    if (!own.empty())
        lines.push_back("Outside range A in every row, so the feeder's own and not the sky's (an open switch's dead "
                        "phase, a tap set for another load): " + names_and_more(own, 8) +
                        "; the window's and the page's worst row, excursions and timeline leave " +
                        (own.size() == 1 ? "it" : "them") + " out.");
    return lines;
}

}  // namespace umbrascope::study

#include "model/voltages.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <system_error>
#include <iterator>
#include <string>

#include "core/file_bytes.hpp"
#include "core/fingerprint.hpp"
#include "core/lines.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

std::string whole_file(const fs::path& path)
{
    std::string bytes, why;
    if (!file_bytes(path, bytes, why))
        throw VoltageError("cannot read " + path.string() + ": " + why);
    return bytes;
}

// A per-unit value as the tables write it ("0.9512"), or any decimal; false for other text.
bool read_per_unit(std::string_view text, PerUnit& value)
{
    if (text.size() == 6 && text[1] == '.') {
        int v = 0;
        bool digits = text[0] >= '0' && text[0] <= '9';
        v = text[0] - '0';
        for (std::size_t i = 2; i < 6; ++i) {
            digits = digits && text[i] >= '0' && text[i] <= '9';
            v = v * 10 + (text[i] - '0');
        }
        if (digits) {
            value = v;
            return true;
        }
    }
    text = trim_blanks(text);
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(number) ||
        std::fabs(number) > 100000)
        return false;
    value = static_cast<PerUnit>(std::lround(number * 10000));
    return true;
}

// What to do about tables that do not fit.
std::string again(const fs::path& table)
{
    const std::string folder = table.parent_path().string();
    return "; make them again for this sky and network: umbrascope-study write " + folder +
           " --loadshapes SHAPES, the study in OpenDSS, then umbrascope-study read " + folder + " (or read --table FILE)";
}

struct VoltageTable {
    int rows = 0;
    int buses = -1;
    std::optional<std::string> sky;  // the sky fingerprint its header names
    std::vector<std::string> names;
    std::vector<PerUnit> values;  // row by row
};

// One table as the study writes it: six header lines, the sixth naming the buses, then
// "time,v1,...,vn" a row, an empty field for no voltage.
// Calls `line(text, number)` for each line of the file at `path` as each_line does, a block of
// lines at a time, so that a table of a day is never held as text whole.
template <class F>
void each_file_line(const fs::path& path, F&& line)
{
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        throw VoltageError("cannot read " + path.string() + ": " + (errno != 0 ? std::strerror(errno) : "it cannot be opened"));
    constexpr std::size_t block_bytes = std::size_t{8} << 20;
    std::string block;
    std::size_t held = 0;  // bytes of a line begun in the block before
    long number = 0;
    for (bool first = true;; first = false) {
        block.resize(held + block_bytes);
        const std::size_t got = std::fread(block.data() + held, 1, block_bytes, file.get());
        if (std::ferror(file.get()) != 0)
            throw VoltageError("cannot read " + path.string() + ": read error");
        std::string_view bytes(block.data(), held + got);
        if (first && bytes.substr(0, 3) == "\xEF\xBB\xBF")
            bytes.remove_prefix(3);
        const bool last = got == 0;
        const std::size_t end = last ? bytes.size() : bytes.rfind('\n');
        if (end == std::string_view::npos) {  // a line longer than the block: read on
            held = bytes.size();
            continue;
        }
        const std::size_t whole = last ? bytes.size() : end + 1;
        each_line(bytes.substr(0, whole), [&](std::string_view one, long) { line(one, ++number); });
        held = bytes.size() - whole;
        std::memmove(block.data(), bytes.data() + whole, held);
        if (last)
            return;
    }
}

VoltageTable read_table(const fs::path& path)
{
    VoltageTable table;
    each_file_line(path, [&](std::string_view line, long number) {
        const auto where = [&] { return path.string() + ":" + std::to_string(number); };
        if (number == 2)
            table.sky = named_fingerprint(line);
        if (number < 6)
            return;
        if (number == 6) {
            if (line.rfind("time,then buses 1 to ", 0) == 0)
                return;
            for (std::size_t at = line.find(','); at != std::string_view::npos;) {
                const std::size_t next = line.find(',', at + 1);
                table.names.emplace_back(line.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
                at = next;
            }
            table.buses = static_cast<int>(table.names.size());
            return;
        }
        if (table.buses < 0)
            table.buses = static_cast<int>(std::count(line.begin(), line.end(), ','));
        ++table.rows;
        const std::size_t first = table.values.size();
        table.values.resize(first + static_cast<std::size_t>(table.buses), no_voltage);
        PerUnit* out = table.values.data() + first;
        int bus = 0;
        const std::size_t start = line.find(',');
        for (std::size_t at = start; at != std::string_view::npos;) {
            if (++bus > table.buses)
                throw VoltageError(where() + ": more fields than the " + std::to_string(table.buses) + " buses of its column line" + again(path));
            // The tables' own "0.9512" at once; anything else through the general reader.
            const char* f = line.data() + at + 1;
            const std::size_t left = line.size() - at - 1;
            if (left >= 6 && f[1] == '.' && (left == 6 || f[6] == ',')) {
                const auto digit = [](char c) { return static_cast<unsigned>(c - '0') <= 9U; };
                if (digit(f[0]) && digit(f[2]) && digit(f[3]) && digit(f[4]) && digit(f[5])) {
                    out[bus - 1] = (f[0] - '0') * 10000 + (f[2] - '0') * 1000 + (f[3] - '0') * 100 + (f[4] - '0') * 10 + (f[5] - '0');
                    at = left == 6 ? std::string_view::npos : at + 7;
                    continue;
                }
            }
            const std::size_t next = line.find(',', at + 1);
            const std::string_view field = line.substr(at + 1, next == std::string_view::npos ? next : next - at - 1);
            if (!field.empty() && !read_per_unit(field, out[bus - 1]))
                throw VoltageError(where() + ": field " + std::to_string(bus + 1) + " is not a voltage: '" +
                                   std::string(field) + "'");
            at = next;
        }
        if (bus != table.buses)
            throw VoltageError(where() + ": " + std::to_string(bus) + " voltages where its column line names " +
                               std::to_string(table.buses) + " buses" + again(path));
    });
    table.buses = std::max(table.buses, 0);
    return table;
}

}  // namespace

bool has_voltage_tables(const fs::path& folder)
{
    std::error_code error;
    return fs::is_regular_file(folder / lowest_voltage_file_name, error) &&
           fs::is_regular_file(folder / highest_voltage_file_name, error);
}

RunVoltages RunVoltages::read(const fs::path& folder)
{
    RunVoltages v;
    v.folder_ = folder;
    // The two tables side by side.
    std::future<VoltageTable> highest;
    try {
        highest = std::async(std::launch::async, [&folder] { return read_table(folder / highest_voltage_file_name); });
    } catch (const std::system_error&) {  // no thread to be had: one after the other
        highest = std::async(std::launch::deferred, [&folder] { return read_table(folder / highest_voltage_file_name); });
    }
    VoltageTable low_table = read_table(folder / lowest_voltage_file_name);
    VoltageTable high_table = highest.get();
    if (low_table.rows != high_table.rows || low_table.buses != high_table.buses || low_table.names != high_table.names)
        throw VoltageError(std::string(lowest_voltage_file_name) + " and " + std::string(highest_voltage_file_name) + " in " +
                           folder.string() + " differ in their rows or buses" + again(folder / lowest_voltage_file_name));
    // Tables that name the sky they were made for must be of the sun table there now.
    if (low_table.sky) {
        const std::optional<std::string> sky = file_fingerprint(folder / sun_table_file_name);
        if (sky && *sky != *low_table.sky)
            throw VoltageError((folder / lowest_voltage_file_name).string() +
                               " was made for another sky than the sun table there now" + again(folder / lowest_voltage_file_name));
    }
    v.rows_ = low_table.rows;
    v.buses_ = low_table.buses;
    v.names_ = std::move(low_table.names);
    v.lowest_ = std::move(low_table.values);
    v.highest_ = std::move(high_table.values);

    // One pass down the rows: each cell's class, the run's extremes, and each bus's, and whether
    // it is ever in range A (the tables run to a hundred million cells a day).
    const auto buses = static_cast<std::size_t>(v.buses_);
    v.classes_.resize(v.lowest_.size());
    std::vector<PerUnit> bus_low(buses, no_voltage), bus_high(buses, no_voltage);
    std::vector<unsigned char> seen(buses, 0), in_a(buses, 0);
    for (int row = 1; row <= v.rows_; ++row) {
        const std::size_t first = v.cell(row, 1);
        for (std::size_t b = 0; b < buses; ++b) {
            const PerUnit low = v.lowest_[first + b];
            const PerUnit high = v.highest_[first + b];
            const VoltageClass k = classify(low, high);
            v.classes_[first + b] = k;
            if (k != VoltageClass::none)
                seen[b] = 1;
            if (k == VoltageClass::range_a)
                in_a[b] = 1;
            if (low != no_voltage && (bus_low[b] == no_voltage || low < bus_low[b]))
                bus_low[b] = low;
            if (high != no_voltage && (bus_high[b] == no_voltage || high > bus_high[b]))
                bus_high[b] = high;
        }
    }
    std::vector<PerUnit> lows, highs;
    for (std::size_t b = 0; b < buses; ++b) {
        if (bus_low[b] != no_voltage && (v.run_lowest_ == no_voltage || bus_low[b] < v.run_lowest_))
            v.run_lowest_ = bus_low[b];
        if (bus_high[b] != no_voltage && (v.run_highest_ == no_voltage || bus_high[b] > v.run_highest_))
            v.run_highest_ = bus_high[b];
        if (bus_low[b] != no_voltage) {
            lows.push_back(bus_low[b]);
            highs.push_back(bus_high[b]);
        }
    }
    // The feeder's own: a bus outside range A in every row it has a voltage in.
    v.set_aside_.assign(buses + 1, false);
    for (std::size_t b = 0; b < buses && v.rows_ > 0; ++b)
        if (seen[b] != 0 && in_a[b] == 0) {
            v.own_outside_.push_back(static_cast<int>(b) + 1);
            v.set_aside_[b + 1] = true;
        }
    v.count_outside();

    // Each bus's extremes over the run, the furthest half a percent of them left out.
    if (!lows.empty()) {
        const std::size_t skip = lows.size() / 200;
        std::nth_element(lows.begin(), lows.begin() + static_cast<std::ptrdiff_t>(skip), lows.end());
        std::nth_element(highs.begin(), highs.begin() + static_cast<std::ptrdiff_t>(skip), highs.end(), std::greater<>());
        v.usual_lowest_ = lows[skip];
        v.usual_highest_ = highs[skip];
    }

    // The distances of the study's report, where it is there and of this network.
    v.distances_.assign(static_cast<std::size_t>(v.buses_), -1);
    std::error_code error;
    const fs::path report = folder / voltage_report_file_name;
    if (fs::is_regular_file(report, error)) {
        const std::string text = whole_file(report);
        bool fits = true;
        int bus = 0;
        each_line(text, [&](std::string_view line, long number) {
            if (number == 1) {
                v.in_km_ = line.rfind("bus,distance_km,", 0) == 0;
                return;
            }
            if (line.empty() || !fits)
                return;
            // The name may be quoted and hold commas: the distance follows the last quote.
            const std::size_t name_end = line.front() == '"' ? line.find("\",", 1) + 1 : line.find(',');
            const std::size_t next = name_end == std::string_view::npos ? name_end : line.find(',', name_end + 1);
            if (++bus > v.buses_ || name_end == std::string_view::npos || next == std::string_view::npos) {
                fits = false;
                return;
            }
            const std::string_view field = line.substr(name_end + 1, next - name_end - 1);
            double d = -1;
            if (!field.empty() && std::from_chars(field.data(), field.data() + field.size(), d).ec != std::errc())
                d = -1;
            v.distances_[static_cast<std::size_t>(bus - 1)] = d;
        });
        if (!fits || bus != v.buses_)
            v.distances_.assign(static_cast<std::size_t>(v.buses_), -1);
    }
    return v;
}

void RunVoltages::check(const RunState& st) const
{
    const fs::path table = folder_ / lowest_voltage_file_name;
    if (rows_ != st.n_time.value())
        throw VoltageError(table.string() + " has " + std::to_string(rows_) + " rows where the sun table has " +
                           std::to_string(st.n_time.value()) + ": the tables were made for another sky" + again(table));
    if (buses_ != st.nbus.value())
        throw VoltageError(table.string() + " has " + std::to_string(buses_) + " buses where the network has " +
                           std::to_string(st.nbus.value()) + ": the tables were made for another network" + again(table));
    for (int bus = 1; bus <= buses_ && !names_.empty(); ++bus) {
        const std::string name = encode_utf8(st.bus_name(Integer(static_cast<std::int16_t>(bus))));
        if (names_[static_cast<std::size_t>(bus - 1)] != name)
            throw VoltageError(table.string() + ": bus " + std::to_string(bus) + " is '" +
                               names_[static_cast<std::size_t>(bus - 1)] + "' where the network file names it '" + name +
                               "': the tables were made for another network" + again(table));
    }
}

std::string RunVoltages::own_outside_note(const RunState& st) const
{
    if (own_outside_.empty())
        return {};
    const std::size_t named = std::min<std::size_t>(own_outside_.size(), 3);
    std::string out = own_outside_.size() == 1 ? "1 bus" : std::to_string(own_outside_.size()) + " buses";
    out += " outside range A in every row, the feeder's own (";
    for (std::size_t i = 0; i < named; ++i) {
        out += i > 0 ? ", " : "";
        const int bus = own_outside_[i];
        out += bus <= st.nbus.value() ? encode_utf8(st.bus_name(Integer(static_cast<std::int16_t>(bus))))
                                      : "bus " + std::to_string(bus);
    }
    if (own_outside_.size() > named)
        out += " and " + std::to_string(own_outside_.size() - named) + " more";
    out += own_counted_ ? "): counted" : "): left out of W and the jumps";
    return out;
}

PerUnit RunVoltages::lowest(int row, int bus) const
{
    return row >= 1 && row <= rows_ && bus >= 1 && bus <= buses_ ? lowest_[cell(row, bus)] : no_voltage;
}

PerUnit RunVoltages::highest(int row, int bus) const
{
    return row >= 1 && row <= rows_ && bus >= 1 && bus <= buses_ ? highest_[cell(row, bus)] : no_voltage;
}

VoltageClass RunVoltages::class_of(int row, int bus) const
{
    return row >= 1 && row <= rows_ && bus >= 1 && bus <= buses_ ? classes_[cell(row, bus)] : VoltageClass::none;
}

std::optional<Colour> RunVoltages::disc_colour(int row, int bus) const { return class_colour(class_of(row, bus)); }

bool RunVoltages::drawn_above(int row, int bus) const
{
    const VoltageClass c = class_of(row, bus);
    return c != VoltageClass::range_a && c != VoltageClass::none;
}

int RunVoltages::next_outside(int row) const
{
    const auto found = std::upper_bound(excursions_.begin(), excursions_.end(), row);
    return found == excursions_.end() ? 0 : *found;
}

int RunVoltages::previous_outside(int row) const
{
    const auto found = std::lower_bound(excursions_.begin(), excursions_.end(), row);
    return found == excursions_.begin() ? 0 : *(found - 1);
}

void RunVoltages::count_own_outside(bool counted)
{
    own_counted_ = counted;
    std::fill(set_aside_.begin(), set_aside_.end(), false);
    if (!counted)
        for (const int bus : own_outside_)
            set_aside_[static_cast<std::size_t>(bus)] = true;
    count_outside();
}

void RunVoltages::count_outside()
{
    shares_.assign(static_cast<std::size_t>(rows_), 0.0F);
    below_.assign(static_cast<std::size_t>(rows_), 0.0F);
    above_.assign(static_cast<std::size_t>(rows_), 0.0F);
    Jumps counted = walk(set_aside_, {shares_.data(), below_.data(), above_.data()});
    excursions_ = std::move(counted.excursions);
    worst_row_ = counted.worst_row;
}

std::int64_t RunVoltages::departure(int row, int bus) const
{
    const PerUnit low = lowest_[cell(row, bus)];
    const PerUnit high = highest_[cell(row, bus)];
    return std::max(below_a(low) ? 9500 - std::int64_t{low} : 0, above_a(high) ? std::int64_t{high} - 10500 : 0);
}

RunVoltages::Jumps RunVoltages::walk(const std::vector<bool>& aside, Shares shares) const
{
    Jumps out;
    bool outside_before = false;
    // The worst row has the most departure from range A summed over its buses, so that a node
    // that stands far out in every row does not decide it.
    std::int64_t worst = 0;
    for (int row = 1; row <= rows_; ++row) {
        int outside = 0, low_ones = 0;
        std::int64_t departures = 0;
        for (int bus = 1; bus <= buses_; ++bus) {
            if (aside[static_cast<std::size_t>(bus)])
                continue;
            const VoltageClass k = classes_[cell(row, bus)];
            if (k == VoltageClass::range_a || k == VoltageClass::none)
                continue;
            ++outside;
            low_ones += k == VoltageClass::below_b || k == VoltageClass::low_in_b ? 1 : 0;
            departures += departure(row, bus);
        }
        if (departures > worst) {
            worst = departures;
            out.worst_row = row;
        }
        if (shares.outside != nullptr) {
            const float buses = static_cast<float>(std::max(buses_, 1));
            shares.outside[row - 1] = static_cast<float>(outside) / buses;
            shares.below[row - 1] = static_cast<float>(low_ones) / buses;
            shares.above[row - 1] = static_cast<float>(outside - low_ones) / buses;
        }
        if (outside > 0 && !outside_before)
            out.excursions.push_back(row);
        outside_before = outside > 0;
    }
    return out;
}

int RunVoltages::worst_bus(int row) const { return worst_bus(row, set_aside_); }

int RunVoltages::worst_bus(int row, const std::vector<bool>& aside) const
{
    int worst = 0;
    std::int64_t most = 0;
    for (int bus = 1; bus <= buses_ && row >= 1 && row <= rows_; ++bus) {
        if (aside[static_cast<std::size_t>(bus)])
            continue;
        if (const std::int64_t d = departure(row, bus); d > most) {
            most = d;
            worst = bus;
        }
    }
    return worst;
}

RunVoltages::Jumps RunVoltages::jumps(bool own_counted) const
{
    std::vector<bool> aside(set_aside_.size(), false);
    if (!own_counted)
        for (const int bus : own_outside_)
            aside[static_cast<std::size_t>(bus)] = true;
    Jumps out = walk(aside, {});
    out.worst_bus.resize(static_cast<std::size_t>(rows_));
    for (int row = 1; row <= rows_; ++row)
        out.worst_bus[static_cast<std::size_t>(row - 1)] = worst_bus(row, aside);
    return out;
}

}  // namespace umbrascope

#include "model/voltages.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "core/fingerprint.hpp"
#include "core/lines.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

std::string whole_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw VoltageError("cannot read " + path.string() + ": " + std::strerror(errno));
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw VoltageError("cannot read " + path.string() + ": read error");
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
VoltageTable read_table(const fs::path& path)
{
    const std::string text = whole_file(path);
    VoltageTable table;
    each_line(text, [&](std::string_view line, long number) {
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
        for (std::size_t at = line.find(','); at != std::string_view::npos;) {
            const std::size_t next = line.find(',', at + 1);
            if (++bus > table.buses)
                throw VoltageError(where() + ": more fields than the " + std::to_string(table.buses) + " buses of its column line" + again(path));
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
    VoltageTable low_table = read_table(folder / lowest_voltage_file_name);
    VoltageTable high_table = read_table(folder / highest_voltage_file_name);
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

    v.classes_.resize(v.lowest_.size());
    for (int row = 1; row <= v.rows_; ++row)
        for (int bus = 1; bus <= v.buses_; ++bus) {
            const std::size_t c = v.cell(row, bus);
            const PerUnit low = v.lowest_[c];
            const PerUnit high = v.highest_[c];
            v.classes_[c] = classify(low, high);
            if (low != no_voltage && (v.run_lowest_ == no_voltage || low < v.run_lowest_))
                v.run_lowest_ = low;
            if (high != no_voltage && (v.run_highest_ == no_voltage || high > v.run_highest_))
                v.run_highest_ = high;
        }
    // The feeder's own: a bus outside range A in every row it has a voltage in.
    v.set_aside_.assign(static_cast<std::size_t>(v.buses_) + 1, false);
    for (int bus = 1; bus <= v.buses_ && v.rows_ > 0; ++bus) {
        bool any = false, always = true;
        for (int row = 1; row <= v.rows_ && always; ++row) {
            const VoltageClass k = v.classes_[v.cell(row, bus)];
            if (k == VoltageClass::none)
                continue;
            any = true;
            always = k != VoltageClass::range_a;
        }
        if (any && always) {
            v.own_outside_.push_back(bus);
            v.set_aside_[static_cast<std::size_t>(bus)] = true;
        }
    }
    v.count_outside();

    // Each bus's extremes over the run, the furthest half a percent of them left out.
    std::vector<PerUnit> lows, highs;
    for (int bus = 1; bus <= v.buses_; ++bus) {
        PerUnit low = no_voltage, high = no_voltage;
        for (int row = 1; row <= v.rows_; ++row) {
            const std::size_t c = v.cell(row, bus);
            if (v.lowest_[c] != no_voltage && (low == no_voltage || v.lowest_[c] < low))
                low = v.lowest_[c];
            if (v.highest_[c] != no_voltage && (high == no_voltage || v.highest_[c] > high))
                high = v.highest_[c];
        }
        if (low != no_voltage) {
            lows.push_back(low);
            highs.push_back(high);
        }
    }
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

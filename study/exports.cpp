#include "study/exports.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/lines.hpp"
#include "core/words.hpp"
#include "import/source_files.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view monitor_mark = "_mon_";

bool all_digits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// A header field without the blanks and quotes around it.
std::string_view bare(std::string_view field)
{
    field = trim_blanks(field);
    if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
        field = field.substr(1, field.size() - 2);
    return trim_blanks(field);
}

// The conductor whose voltage magnitude a header field holds: "V2" (mode 0) or "|V|2 (volts)"
// (mode 32); 0 for any other field.
int voltage_conductor(std::string_view field)
{
    field = bare(field);
    if (field.substr(0, 3) == "|V|")
        field.remove_prefix(3);
    else if (!field.empty() && (field.front() == 'V' || field.front() == 'v'))
        field.remove_prefix(1);
    else
        return 0;
    std::size_t digits = 0;
    while (digits < field.size() && field[digits] >= '0' && field[digits] <= '9')
        ++digits;
    const std::string_view rest = trim_blanks(field.substr(digits));
    if (digits == 0 || !(rest.empty() || lower(rest) == "(volts)"))
        return 0;
    int conductor = 0;
    std::from_chars(field.data(), field.data() + digits, conductor);
    return conductor;
}

void read_whole(const fs::path& file, std::vector<char>& buffer)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw StudyError("cannot read " + file.string() + ": " + std::strerror(errno));
    struct stat facts {};
    std::size_t size = 0;
    if (::fstat(fd, &facts) == 0)
        buffer.resize(static_cast<std::size_t>(facts.st_size) + 1);
    for (;;) {
        if (size + 1 >= buffer.size())
            buffer.resize(buffer.size() * 2 + 4096);
        const ssize_t got = ::read(fd, buffer.data() + size, buffer.size() - size - 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            throw StudyError("cannot read " + file.string() + ": " + std::strerror(error));
        }
        if (got == 0)
            break;
        size += static_cast<std::size_t>(got);
    }
    ::close(fd);
    buffer.resize(size);
}

// A number at `p`, blanks before it passed over; moves `p` past it. The plain decimals an engine
// writes ("2438.2", "1.38112E-006") are read here, as exactly as the library would read them
// (digits that fit 53 bits, scaled once by an exact power of ten); anything else by the library.
bool take_number(const char*& p, const char* end, double& value)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p < end && *p == '+')
        ++p;
    static constexpr double tens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* q = p;
    const bool negative = q < end && *q == '-';
    q += negative ? 1 : 0;
    std::uint64_t digits = 0;
    int count = 0;
    int scale = 0;
    const char* first = q;
    for (; q < end && *q >= '0' && *q <= '9'; ++q, ++count)
        digits = digits * 10 + static_cast<unsigned>(*q - '0');
    if (q < end && *q == '.')
        for (++q; q < end && *q >= '0' && *q <= '9'; ++q, ++count, --scale)
            digits = digits * 10 + static_cast<unsigned>(*q - '0');
    bool plain = count > 0 && count <= 15 && q - first > (q > first && q[-1] == '.' ? 1 : 0);
    if (plain && q < end && (*q == 'e' || *q == 'E')) {
        const char* e = q + 1;
        const bool down = e < end && *e == '-';
        e += (e < end && (*e == '-' || *e == '+')) ? 1 : 0;
        int exponent = 0;
        const char* start = e;
        for (; e < end && *e >= '0' && *e <= '9' && exponent < 1000; ++e)
            exponent = exponent * 10 + (*e - '0');
        plain = e > start;
        scale += down ? -exponent : exponent;
        q = e;
    }
    if (plain && scale >= -22 && scale <= 22) {
        const auto magnitude = static_cast<double>(digits);
        value = scale < 0 ? magnitude / tens[-scale] : magnitude * tens[scale];
        value = negative ? -value : value;
        p = q;
        return true;
    }
    const auto [stop, error] = std::from_chars(p, end, value);
    if (error != std::errc())
        return false;
    p = stop;
    return true;
}

}  // namespace

std::string run_of(std::string_view name)
{
    // "study_" then two fingerprints of eight hexadecimal digits, each followed by "_".
    constexpr std::size_t length = 6 + 8 + 1 + 8;
    if (name.size() <= length || name.substr(0, 6) != "study_" || name[14] != '_' || name[length] != '_')
        return {};
    for (std::size_t i = 6; i < length; ++i) {
        const char c = name[i];
        if (i != 14 && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return {};
    }
    return std::string(name.substr(0, length));
}

ResultsFolder::ResultsFolder(fs::path folder, const std::string& circuit) : folder_(std::move(folder))
{
    const std::string own = lower(circuit);
    std::error_code error;
    fs::directory_iterator entries(folder_, error);
    if (error)
        throw StudyError("cannot read the results folder " + folder_.string() + ": " + error.message() +
                         " (run the study in OpenDSS first, or give the folder with --results DIR)");
    const auto note = [](std::vector<std::string>& list, const std::string& item) {
        if (!item.empty() && std::find(list.begin(), list.end(), item) == list.end())
            list.push_back(item);
    };
    for (const fs::directory_entry& entry : entries) {
        const std::string name = lower(entry.path().filename().string());
        files_.try_emplace(name, entry.path());
        note(runs_, run_of(name));
        const std::size_t mark = name.rfind(monitor_mark);
        if (mark == std::string::npos || !ends_with(name, ".csv"))
            continue;
        const std::string of = name.substr(0, mark);
        note(circuits_, of);
        std::string monitor = name.substr(mark + monitor_mark.size(), name.size() - 4 - mark - monitor_mark.size());
        note(runs_, run_of(monitor));
        older_ = older_ || monitor.rfind("study_v", 0) == 0;
        if (!own.empty() && of != own)
            continue;
        // The actor's number, where the engine adds one: "study_v3_1". Both forms are kept, the
        // bare one giving way to an exact name.
        monitors_.try_emplace(monitor, entry.path());
        if (const std::size_t last = monitor.rfind('_'); last != std::string::npos && all_digits(monitor.substr(last + 1)))
            monitors_.try_emplace(monitor.substr(0, last) + "\n", entry.path());
    }
    std::sort(runs_.begin(), runs_.end());
    std::sort(circuits_.begin(), circuits_.end());
}

std::optional<fs::path> ResultsFolder::monitor(const std::string& name) const
{
    const std::string key = lower(name);
    if (const auto found = monitors_.find(key + "\n"); found != monitors_.end())
        return found->second;
    if (const auto found = monitors_.find(key); found != monitors_.end())
        return found->second;
    return std::nullopt;
}

std::optional<fs::path> ResultsFolder::named(const std::string& name) const
{
    if (const auto found = files_.find(lower(name)); found != files_.end())
        return found->second;
    return std::nullopt;
}

std::optional<double> BusVoltages::volts(int node) const
{
    for (const auto& [n, v] : nodes)
        if (n == node)
            return v;
    return std::nullopt;
}

std::unordered_map<std::string, BusVoltages> read_voltage_export(const fs::path& file)
{
    std::unordered_map<std::string, BusVoltages> buses;
    std::vector<char> buffer;
    read_whole(file, buffer);
    each_line(std::string_view(buffer.data(), buffer.size()), [&](std::string_view line, long number) {
        if (number == 1 || trim_blanks(line).empty())
            return;
        // Bus, BasekV, then Node, Magnitude, Angle, pu for each node; a node of 0 fills the rest.
        std::vector<std::string_view> fields;
        for (std::size_t at = 0;;) {
            const std::size_t comma = line.find(',', at);
            fields.push_back(line.substr(at, comma - at));
            if (comma == std::string_view::npos)
                break;
            at = comma + 1;
        }
        const auto number_at = [&](std::size_t i, double& value) {
            const char* p = fields[i].data();
            return i < fields.size() && take_number(p, fields[i].data() + fields[i].size(), value);
        };
        BusVoltages bus;
        if (fields.size() < 2 || !number_at(1, bus.base_kv))
            throw StudyError(file.string() + ":" + std::to_string(number) +
                             ": not a line of Export Voltages (Bus, BasekV, Node1, Magnitude1, ...)");
        for (std::size_t i = 2; i + 1 < fields.size(); i += 4) {
            double node = 0, volts = 0;
            // A node is a whole number from 1; a field that is none is no node.
            if (number_at(i, node) && number_at(i + 1, volts) && node >= 1 && node <= 1000 && node == std::floor(node))
                bus.nodes.emplace_back(static_cast<int>(node), volts);
        }
        buses[lower(bare(fields[0]))] = std::move(bus);
    });
    return buses;
}

MonitorColumns read_monitor_columns(const fs::path& file, const std::function<bool(const std::string&)>& wanted)
{
    std::vector<char> keep;  // of each column from the third
    std::vector<char> buffer;
    read_whole(file, buffer);
    MonitorColumns out;
    bool first = true;
    each_line(std::string_view(buffer.data(), buffer.size()), [&](std::string_view line, long number) {
        if (first) {
            first = false;
            for (std::size_t at = 0;;) {
                const std::size_t comma = line.find(',', at);
                out.names.emplace_back(bare(line.substr(at, comma - at)));
                if (comma == std::string_view::npos)
                    break;
                at = comma + 1;
            }
            if (out.names.size() < 2 || lower(out.names[0]) != "hour")
                throw StudyError(file.string() + " is not a monitor export: its first line is not \"hour,t(sec),...\"");
            out.names.erase(out.names.begin(), out.names.begin() + 2);
            for (const std::string& name : out.names)
                keep.push_back(!wanted || wanted(lower(name)) ? 1 : 0);
            return;
        }
        if (trim_blanks(line).empty())
            return;
        const char* p = line.data();
        const char* const end = p + line.size();
        const auto bad = [&](const std::string& why) {
            return StudyError(file.string() + ":" + std::to_string(number) + ": " + why);
        };
        // hour, t(sec), then the columns straight into the cells.
        const std::size_t expected = out.names.size() + 2;
        double hour = 0, seconds = 0;
        std::size_t fields = 0;
        for (;;) {
            if (fields >= 2 && fields - 2 < keep.size() && keep[fields - 2] == 0) {
                // A column not asked for: passed over, unread.
                out.cells.push_back(0);
                ++fields;
                const void* comma = std::memchr(p, ',', static_cast<std::size_t>(end - p));
                if (comma == nullptr)
                    break;
                p = static_cast<const char*>(comma) + 1;
                continue;
            }
            double value = 0;
            if (!take_number(p, end, value))
                throw bad("field " + std::to_string(fields + 1) + " is not a number");
            if (fields == 0)
                hour = value;
            else if (fields == 1)
                seconds = value;
            else
                out.cells.push_back(value);
            ++fields;
            while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
                ++p;
            if (p == end)
                break;
            if (*p != ',')
                throw bad("field " + std::to_string(fields) + " is not a number");
            ++p;
        }
        if (fields != expected)
            throw bad(std::to_string(fields) + " fields where its header names " + std::to_string(expected) +
                      (line.data() + line.size() == buffer.data() + buffer.size() ? "; the file looks cut short" : ""));
        out.times.push_back(hour * 3600 + seconds);
    });
    if (first)
        throw StudyError(file.string() + " is empty: the engine stopped before writing it; run the study in OpenDSS again");
    return out;
}

void read_monitor(const fs::path& file, int rows, double interval, int first_row, const std::vector<int>& conductors,
                  std::vector<double>& volts, std::vector<bool>& found, std::vector<char>& buffer)
{
    read_whole(file, buffer);
    const char* p = buffer.data();
    const char* const end = p + buffer.size();
    if (end - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
        p += 3;
    const auto line_end = [&](const char* from) {
        const void* newline = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
        return newline == nullptr ? end : static_cast<const char*>(newline);
    };

    if (p == end)
        throw StudyError(file.string() + " is empty: the engine stopped before writing it; run the study in OpenDSS again");
    // The header: which field holds each wanted conductor's voltage.
    const char* eol = line_end(p);
    std::string_view header(p, static_cast<std::size_t>(eol - p));
    if (!header.empty() && header.back() == '\r')
        header.remove_suffix(1);
    std::vector<int> field_of(conductors.size(), -1);
    int fields = 0;
    int voltages = 0;
    for (std::size_t at = 0;; ++fields) {
        const std::size_t comma = header.find(',', at);
        const int conductor = voltage_conductor(header.substr(at, comma - at));
        voltages += conductor > 0 ? 1 : 0;
        for (std::size_t i = 0; i < conductors.size(); ++i)
            if (conductors[i] == conductor && field_of[i] < 0)
                field_of[i] = fields;
        if (comma == std::string_view::npos)
            break;
        at = comma + 1;
    }
    ++fields;
    if (fields < 2 || lower(bare(header.substr(0, header.find(',')))) != "hour")
        throw StudyError(file.string() + " is not a monitor export: its first line is not \"hour,t(sec),...\"");
    if (voltages == 0)
        throw StudyError(file.string() + " holds no voltages (V1 or \"|V|1 (volts)\" and on): the study's monitors are "
                         "of mode 32 or 0; write the study again");
    // The fields in order, with the slot each goes to.
    std::vector<std::pair<int, std::size_t>> wanted;
    found.assign(conductors.size(), false);
    for (std::size_t i = 0; i < conductors.size(); ++i)
        if (field_of[i] >= 0) {
            wanted.emplace_back(field_of[i], i);
            found[i] = true;
        }
    std::sort(wanted.begin(), wanted.end());

    volts.assign(static_cast<std::size_t>(rows) * conductors.size(), 0);
    int row = 0;
    long line_number = 1;
    for (p = eol < end ? eol + 1 : end; p < end; p = eol < end ? eol + 1 : end) {
        eol = line_end(p);
        ++line_number;
        const char* q = p;
        while (q < eol && (*q == ' ' || *q == '\t' || *q == '\r'))
            ++q;
        if (q == eol)
            continue;
        const auto bad = [&](const std::string& why) {
            return StudyError(file.string() + ":" + std::to_string(line_number) + ": " + why);
        };
        if (row >= rows)
            throw bad("more rows than the sun table's " + std::to_string(rows) +
                      ": the study was run for another sky; write it and run it again");
        // The engine steps evenly: the first two rows and the last tell its step and its start.
        const bool timed = row < 2 || row + 1 == rows;
        double hour = 0;
        double seconds = 0;
        if (timed && (!take_number(q, eol, hour) ||
                      (q = static_cast<const char*>(std::memchr(q, ',', static_cast<std::size_t>(eol - q)))) == nullptr ||
                      !take_number(++q, eol, seconds)))
            throw bad("not a row of numbers");
        const double at = hour * 3600 + seconds;
        const double expected = (row + first_row) * interval;
        if (timed && std::fabs(at - expected) > 1e-3 + 1e-7 * expected)
            throw bad("row " + std::to_string(row + 1) + " is at " + std::to_string(at) + " s, where row " +
                      std::to_string(row + first_row) + " of the sun table is one step of " + std::to_string(interval) +
                      " s after it, at " + std::to_string(expected) +
                      " s: the study was run for another sky; write it and run it again");
        int field = timed ? 1 : 0;
        double* out = &volts[static_cast<std::size_t>(row) * conductors.size()];
        for (const auto& [want, slot] : wanted) {
            while (field < want) {
                const void* comma = std::memchr(q, ',', static_cast<std::size_t>(eol - q));
                if (comma == nullptr)
                    throw bad(std::string("fewer fields than its header names") +
                              (eol == end ? "; the file looks cut short: run the study in OpenDSS again" : ""));
                q = static_cast<const char*>(comma) + 1;
                ++field;
            }
            double value = 0;
            if (!take_number(q, eol, value))
                throw bad("field " + std::to_string(want + 1) + " is not a number");
            out[slot] = value;
        }
        ++row;
    }
    if (row < rows)
        throw StudyError(file.string() + " holds " + std::to_string(row) + (row == 1 ? " row" : " rows") +
                         " where the sun table has " + std::to_string(rows) +
                         ": the file was cut short, its run stopped before the end; run the study in OpenDSS again");
}

}  // namespace umbrascope::study

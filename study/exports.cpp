#include "study/exports.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/lines.hpp"
#include "import/source_files.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view monitor_mark = "_mon_";
constexpr std::string_view voltages_mark = "_exp_voltages.csv";

bool ends_with(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

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
    if (digits == 0 || !(rest.empty() || import::lower(rest) == "(volts)"))
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

// A number at `p`, blanks before it passed over; moves `p` past it.
bool take_number(const char*& p, const char* end, double& value)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p < end && *p == '+')
        ++p;
    const auto [stop, error] = std::from_chars(p, end, value);
    if (error != std::errc())
        return false;
    p = stop;
    return true;
}

}  // namespace

ResultsFolder::ResultsFolder(fs::path folder) : folder_(std::move(folder))
{
    std::error_code error;
    fs::directory_iterator entries(folder_, error);
    if (error)
        throw StudyError("cannot read the results folder " + folder_.string() + ": " + error.message() +
                         " (run the study in OpenDSS first, or give the folder with --results DIR)");
    for (const fs::directory_entry& entry : entries) {
        const std::string name = import::lower(entry.path().filename().string());
        if (ends_with(name, voltages_mark)) {
            voltages_.push_back(entry.path());
            continue;
        }
        const std::size_t mark = name.rfind(monitor_mark);
        if (mark == std::string::npos || !ends_with(name, ".csv"))
            continue;
        std::string monitor = name.substr(mark + monitor_mark.size(), name.size() - 4 - mark - monitor_mark.size());
        // The actor's number, where the engine adds one: "study_v3_1". Both forms are kept, the
        // bare one giving way to an exact name.
        monitors_.try_emplace(monitor, entry.path());
        if (const std::size_t last = monitor.rfind('_'); last != std::string::npos && all_digits(monitor.substr(last + 1)))
            monitors_.try_emplace(monitor.substr(0, last) + "\n", entry.path());
    }
}

std::optional<fs::path> ResultsFolder::monitor(const std::string& name) const
{
    const std::string key = import::lower(name);
    if (const auto found = monitors_.find(key + "\n"); found != monitors_.end())
        return found->second;
    if (const auto found = monitors_.find(key); found != monitors_.end())
        return found->second;
    return std::nullopt;
}

fs::path ResultsFolder::voltages() const
{
    if (voltages_.empty())
        throw StudyError(folder_.string() + " holds no <circuit>_EXP_VOLTAGES.CSV, which gives each bus's voltage "
                         "base: run the study in OpenDSS (its Export Voltages writes it)");
    if (voltages_.size() > 1)
        throw StudyError(folder_.string() + " holds " + std::to_string(voltages_.size()) +
                         " voltage exports (" + voltages_[0].filename().string() + ", " +
                         voltages_[1].filename().string() + "): keep the one of this study's circuit");
    return voltages_.front();
}

std::unordered_map<std::string, double> read_voltage_bases(const fs::path& file)
{
    std::unordered_map<std::string, double> bases;
    std::vector<char> buffer;
    read_whole(file, buffer);
    each_line(std::string_view(buffer.data(), buffer.size()), [&](std::string_view line, long number) {
        if (number == 1 || trim_blanks(line).empty())
            return;
        const std::size_t comma = line.find(',');
        const std::size_t next = comma == std::string_view::npos ? comma : line.find(',', comma + 1);
        double base = 0;
        const std::string_view field =
            comma == std::string_view::npos ? std::string_view{} : line.substr(comma + 1, next - comma - 1);
        const char* p = field.data();
        if (comma == std::string_view::npos || !take_number(p, field.data() + field.size(), base))
            throw StudyError(file.string() + ":" + std::to_string(number) +
                             ": not a line of Export Voltages (Bus, BasekV, Node1, Magnitude1, ...)");
        bases[import::lower(bare(line.substr(0, comma)))] = base;
    });
    return bases;
}

void read_monitor(const fs::path& file, int rows, double interval, const std::vector<int>& conductors,
                  std::vector<double>& volts, std::vector<char>& buffer)
{
    read_whole(file, buffer);
    const char* p = buffer.data();
    const char* const end = p + buffer.size();
    if (end - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
        p += 3;
    const auto line_end = [&](const char* from) {
        const void* found = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
        return found == nullptr ? end : static_cast<const char*>(found);
    };

    // The header: which field holds each wanted conductor's voltage.
    const char* eol = line_end(p);
    std::string_view header(p, static_cast<std::size_t>(eol - p));
    if (!header.empty() && header.back() == '\r')
        header.remove_suffix(1);
    std::vector<int> field_of(conductors.size(), -1);
    int fields = 0;
    for (std::size_t at = 0;; ++fields) {
        const std::size_t comma = header.find(',', at);
        const int conductor = voltage_conductor(header.substr(at, comma - at));
        for (std::size_t i = 0; i < conductors.size(); ++i)
            if (conductors[i] == conductor && field_of[i] < 0)
                field_of[i] = fields;
        if (comma == std::string_view::npos)
            break;
        at = comma + 1;
    }
    ++fields;
    if (fields < 2 || import::lower(bare(header.substr(0, header.find(',')))) != "hour")
        throw StudyError(file.string() + " is not a monitor export: its first line is not \"hour,t(sec),...\"");
    for (std::size_t i = 0; i < conductors.size(); ++i)
        if (field_of[i] < 0)
            throw StudyError(file.string() + " has no voltage of conductor " + std::to_string(conductors[i]) +
                             ": export a monitor of mode 0 or 32 on the element the study names");
    // The fields in order, with the slot each goes to.
    std::vector<std::pair<int, std::size_t>> wanted;
    for (std::size_t i = 0; i < conductors.size(); ++i)
        wanted.emplace_back(field_of[i], i);
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
        double hour = 0;
        double seconds = 0;
        if (!take_number(q, eol, hour) || (q = static_cast<const char*>(std::memchr(q, ',', static_cast<std::size_t>(eol - q)))) == nullptr ||
            !take_number(++q, eol, seconds))
            throw bad("not a row of numbers");
        const double at = hour * 3600 + seconds;
        const double expected = (row + 1) * interval;
        if (std::fabs(at - expected) > 1e-3 + 1e-7 * expected)
            throw bad("row " + std::to_string(row + 1) + " is at " + std::to_string(at) + " s, where row " +
                      std::to_string(row + 1) + " of the sun table is one step of " + std::to_string(interval) +
                      " s after it, at " + std::to_string(expected) +
                      " s: the study was run for another sky; write it and run it again");
        int field = 1;
        double* out = &volts[static_cast<std::size_t>(row) * conductors.size()];
        for (const auto& [want, slot] : wanted) {
            while (field < want) {
                const void* comma = std::memchr(q, ',', static_cast<std::size_t>(eol - q));
                if (comma == nullptr)
                    throw bad("fewer fields than its header names");
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
                         ": the study stopped early or was run for another sky");
}

}  // namespace umbrascope::study

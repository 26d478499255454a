#include "model/row_part.hpp"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <signal.h>
#include <unistd.h>

#include "core/fingerprint.hpp"
#include "core/run_state.hpp"
#include "model/controls.hpp"
#include "model/folder_error.hpp"
#include "model/read_file.hpp"
#include "model/sky_field.hpp"
#include "model/voltages.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

constexpr int sun_header_lines = 6;
constexpr int track_header_lines = 4;
constexpr int voltage_header_lines = 6;
constexpr int controls_header_lines = 10;

struct CloseFile {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

// A file's lines one at a time, each with its line end, without holding the file.
class Lines {
public:
    explicit Lines(const fs::path& path) : path_(path), file_(std::fopen(path.c_str(), "rb"))
    {
        if (!file_)
            throw PartError("cannot read " + path.string() + ": " + std::strerror(errno));
    }
    // The next line with its end; false at the end of the file.
    bool next(std::string_view& line)
    {
        for (;;) {
            if (const void* end = std::memchr(buffer_.data() + begin_, '\n', end_ - begin_)) {
                const std::size_t stop = static_cast<const char*>(end) - buffer_.data() + 1;
                line = std::string_view(buffer_.data() + begin_, stop - begin_);
                begin_ = stop;
                return true;
            }
            if (eof_) {
                if (begin_ == end_)
                    return false;
                line = std::string_view(buffer_.data() + begin_, end_ - begin_);
                begin_ = end_;
                return true;
            }
            fill();
        }
    }

private:
    void fill()
    {
        buffer_.erase(0, begin_);
        end_ -= begin_;
        begin_ = 0;
        if (buffer_.size() < end_ + chunk)
            buffer_.resize(end_ + chunk);
        const std::size_t got = std::fread(buffer_.data() + end_, 1, chunk, file_.get());
        if (std::ferror(file_.get()))
            throw PartError("cannot read " + path_.string() + ": read error");
        end_ += got;
        eof_ = got == 0;
    }
    static constexpr std::size_t chunk = std::size_t{1} << 20;
    fs::path path_;
    File file_;
    std::string buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
};

// A file of the part, its bytes fingerprinted as they go.
class PartFile {
public:
    explicit PartFile(fs::path path) : path_(std::move(path)), file_(std::fopen(path_.c_str(), "wb"))
    {
        if (!file_)
            fail();
    }
    void write(std::string_view bytes)
    {
        if (std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) != bytes.size())
            fail();
        print_.add(bytes);
    }
    // Closes it; gives its fingerprint.
    std::string close()
    {
        std::FILE* f = file_.release();
        if (std::fclose(f) != 0)
            fail();
        return print_.text();
    }

private:
    [[noreturn]] void fail() const { throw PartError("cannot write " + path_.string() + ": " + std::strerror(errno)); }
    fs::path path_;
    File file_;
    Fingerprint print_;
};

std::string_view without_end(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

// A header line with the whole sky's fingerprint made the part's: a file made for another sky
// keeps its own, and is refused as before.
std::string reprinted(std::string_view line, const std::string& whole, const std::string& part)
{
    std::string out(line);
    if (const std::size_t at = out.find(whole); !whole.empty() && at != std::string::npos)
        out.replace(at, whole.size(), part);
    return out;
}

// Copies `header` lines, then the data rows first..last (counting every line after the header).
// `row_before` gets the line of row first - 1, where there is one.
void cut_rows(const fs::path& from, const fs::path& to, int header, long first, long last, const std::string& whole,
              const std::string& part, std::string* row_before = nullptr)
{
    Lines lines(from);
    PartFile out(to);
    std::string_view line;
    long number = 0;
    while (lines.next(line)) {
        ++number;
        const long row = number - header;
        if (row < 1)
            out.write(reprinted(line, whole, part));
        else if (row >= first && row <= last)
            out.write(line);
        else if (row == first - 1 && row_before != nullptr)
            *row_before = without_end(line);
        if (row >= last)
            break;
    }
    (void)out.close();
}

// The track's records of steps first..last, numbered from 1; a line whose step is no whole
// number stays where it is, for the run to report as it would.
void cut_track(const fs::path& from, const fs::path& to, long first, long last, std::vector<long>& kept)
{
    Lines lines(from);
    PartFile out(to);
    std::string_view line;
    long number = 0;
    while (lines.next(line)) {
        if (++number <= track_header_lines) {
            out.write(line);
            kept.push_back(number);
            continue;
        }
        const std::string_view text = without_end(line);
        const std::size_t comma = text.find(',');
        std::string_view step_text = text.substr(0, comma);
        while (!step_text.empty() && (step_text.front() == ' ' || step_text.front() == '\t'))
            step_text.remove_prefix(1);
        while (!step_text.empty() && (step_text.back() == ' ' || step_text.back() == '\t'))
            step_text.remove_suffix(1);
        long step = 0;
        const auto [end, error] = std::from_chars(step_text.data(), step_text.data() + step_text.size(), step);
        if (error != std::errc() || end != step_text.data() + step_text.size() || comma == std::string_view::npos) {
            out.write(line);
            kept.push_back(number);
            continue;
        }
        if (step < first || step > last)
            continue;
        kept.push_back(number);
        out.write(std::to_string(step - first + 1));
        out.write(line.substr(comma));
    }
    (void)out.close();
}

std::atomic<unsigned> parts_made{0};

}  // namespace

long sun_table_rows(const fs::path& folder)
{
    Lines lines(folder / sun_table_file_name);
    std::string_view line;
    long number = 0;
    while (lines.next(line))
        ++number;
    return std::max(0L, number - sun_header_lines);
}

RowPart::RowPart(const fs::path& folder, long first, long last) : first_(first), last_(last)
{
    if (first < 1 || last < first)
        throw PartError("rows " + std::to_string(first) + " to " + std::to_string(last) + " are not rows of the sun table in " +
                        folder.string());
    if (last - first + 1 > most_rows_in_a_run)
        throw PartError("rows " + std::to_string(first) + " to " + std::to_string(last) + " are " +
                        std::to_string(last - first + 1) + ": a run holds at most " + std::to_string(most_rows_in_a_run));
    std::error_code error;
    const fs::path temporary = fs::temp_directory_path(error);
    if (error)
        throw PartError("no temporary folder for a part of the sky: " + error.message());
    // Parts left by a process that is gone (killed outright) go first.
    for (const fs::directory_entry& entry : fs::directory_iterator(temporary, error)) {
        const std::string name = entry.path().filename().string();
        constexpr std::string_view prefix = "umbrascope-rows-";
        long pid = 0;
        if (name.rfind(prefix, 0) != 0 ||
            std::from_chars(name.data() + prefix.size(), name.data() + name.size(), pid).ec != std::errc() || pid <= 0)
            continue;
        if (pid != ::getpid() && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;
            fs::remove_all(entry.path(), ignored);
        }
    }
    path_ = temporary / ("umbrascope-rows-" + std::to_string(::getpid()) + "-" + std::to_string(parts_made++));
    fs::remove_all(path_, error);
    if (!fs::create_directory(path_, error))
        throw PartError("cannot make " + path_.string() + ": " + error.message());
    try {
        // The sun table first, in one reading: its rows, its fingerprint, which the other files
        // name, and the part's.
        std::string whole, part;
        {
            Lines lines(folder / sun_table_file_name);
            PartFile out(path_ / sun_table_file_name);
            Fingerprint print;
            std::string_view line;
            long number = 0;
            while (lines.next(line)) {
                print.add(line);
                const long row = ++number - sun_header_lines;
                if (row < 1 || (row >= first && row <= last))
                    out.write(line);
            }
            rows_ = std::max(0L, number - sun_header_lines);
            whole = print.text();
            part = out.close();
        }
        if (last > rows_)
            throw PartError("rows " + std::to_string(first) + " to " + std::to_string(last) +
                            " are not rows of the sun table in " + folder.string() + ", which has " + std::to_string(rows_));
        fs::copy_file(folder / network_file_name, path_ / network_file_name, error);
        if (error)
            throw PartError("cannot copy " + (folder / network_file_name).string() + ": " + error.message());
        if (fs::is_regular_file(folder / track_file_name, error))
            cut_track(folder / track_file_name, path_ / track_file_name, first, last, track_lines_);
        // The two voltage tables side by side, the largest of the files.
        const auto cut_table = [&](std::string_view name) {
            std::error_code missing;
            if (fs::is_regular_file(folder / name, missing))
                cut_rows(folder / name, path_ / name, voltage_header_lines, first, last, whole, part);
        };
        std::future<void> highest;
        try {
            highest = std::async(std::launch::async, cut_table, highest_voltage_file_name);
        } catch (const std::system_error&) {  // no thread to be had: one after the other
            highest = std::async(std::launch::deferred, cut_table, highest_voltage_file_name);
        }
        cut_table(lowest_voltage_file_name);
        highest.get();
        if (fs::is_regular_file(folder / controls_table_name, error)) {
            // Its settle line: the state of the row before the part, as the state before its first row.
            std::string before;
            const fs::path cut = path_ / "controls.cut";
            cut_rows(folder / controls_table_name, cut, controls_header_lines, first, last, whole, part, &before);
            Lines lines(cut);
            PartFile out(path_ / controls_table_name);
            std::string_view line;
            for (int number = 1; lines.next(line); ++number) {
                if (number == controls_header_lines && first > 1 && !before.empty())
                    out.write("settle" + before.substr(std::min(before.find(','), before.size())) + "\n");
                else
                    out.write(line);
            }
            (void)out.close();
            fs::remove(cut, error);
        }
        if (fs::is_regular_file(folder / sky_field_name, error)) {
            // The field's times and clear skies, from the part's first row.
            const std::string text = read_whole_file(folder / sky_field_name, "measured sky's field");
            SkyField field = read_sky_field_text(text, (folder / sky_field_name).string());
            field.first += static_cast<double>(first - 1) * field.row_interval;
            if (!field.row_clear.empty()) {
                const auto from = static_cast<std::size_t>(std::min<long>(first - 1, static_cast<long>(field.row_clear.size())));
                const auto to = static_cast<std::size_t>(std::min<long>(last, static_cast<long>(field.row_clear.size())));
                field.row_clear = std::vector<double>(field.row_clear.begin() + static_cast<std::ptrdiff_t>(from),
                                                      field.row_clear.begin() + static_cast<std::ptrdiff_t>(to));
            }
            if (field.sky_fingerprint == whole)
                field.sky_fingerprint = part;
            PartFile out(path_ / sky_field_name);
            out.write(sky_field_text(field));
            (void)out.close();
        }
        for (const std::string_view name : {voltage_report_file_name, std::string_view("voltage_report_clear.csv"),
                                            std::string_view("feeder_distances.csv"), std::string_view("feeder_elements.csv"),
                                            std::string_view("feeder_circuit.txt")})
            if (fs::is_regular_file(folder / name, error)) {
                fs::copy_file(folder / name, path_ / name, error);
                if (error)
                    throw PartError("cannot copy " + (folder / name).string() + ": " + error.message());
            }
        PartFile marker(path_ / part_file_name);
        std::error_code absolute_error;
        marker.write("rows " + std::to_string(first) + " to " + std::to_string(last) + " of " + std::to_string(rows_) +
                     " of the sky in " + fs::absolute(folder, absolute_error).lexically_normal().string() + "\n");
        (void)marker.close();
    } catch (const FolderError& failure) {
        fs::remove_all(path_, error);
        throw PartError(failure.what());
    } catch (...) {
        fs::remove_all(path_, error);
        throw;
    }
}

std::string RowPart::whole_lines(std::string message) const
{
    const auto renumber = [&](std::string_view file, const auto& whole_line) {
        const std::string mark = std::string(file) + " line ";
        for (std::size_t at = message.find(mark); at != std::string::npos; at = message.find(mark, at + 1)) {
            const std::size_t digits = at + mark.size();
            long line = 0;
            const auto [end, error] = std::from_chars(message.data() + digits, message.data() + message.size(), line);
            if (error != std::errc())
                continue;
            const std::string whole = std::to_string(whole_line(line));
            message.replace(digits, static_cast<std::size_t>(end - (message.data() + digits)), whole);
        }
    };
    renumber(sun_table_file_name, [&](long line) { return line > sun_header_lines ? line + first_ - 1 : line; });
    renumber(track_file_name, [&](long line) {
        return line >= 1 && static_cast<std::size_t>(line) <= track_lines_.size() ? track_lines_[static_cast<std::size_t>(line - 1)]
                                                                                   : line;
    });
    return message;
}

RowPart::~RowPart()
{
    std::error_code error;
    fs::remove_all(path_, error);
}

PartRows read_part_rows(const fs::path& folder)
{
    std::FILE* f = std::fopen((folder / part_file_name).c_str(), "rb");
    if (f == nullptr)
        return {};
    const File file(f);
    long first = 0, last = 0, rows = 0;
    if (std::fscanf(f, "rows %ld to %ld of %ld", &first, &last, &rows) != 3 || first < 1 || rows < last)
        return {};
    return {first - 1, rows};
}

}  // namespace umbrascope

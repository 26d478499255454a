#include "run/export_command.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <unistd.h>

#include "cli/command_line.hpp"
#include "core/words.hpp"
#include "model/controls.hpp"
#include "model/sky_field.hpp"
#include "model/folder_error.hpp"
#include "model/hosting_map.hpp"
#include "core/fingerprint.hpp"
#include "output/page_writer.hpp"
#include "model/row_part.hpp"
#include "model/sky_header.hpp"
#include "model/voltages.hpp"
#include "output/animation_writer.hpp"
#include "output/output_file.hpp"
#include "run/export_run.hpp"
#include "umbrascope/version.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

constexpr const char* usage_text = R"(Usage: umbrascope-export [OPTION]...

Runs Umbrascope without a window and writes its pictures to files. Umbrascope reads three files
from the input folder (cloud_bus_coords_connections.txt, cloud_sun_intensity_table.txt and
cloud_centers_plot.txt) and draws one picture per pass. A pass is what one click of READ
COORDINATES or one tick of the window's 100 ms timer does: the first pass reads the files and
draws time row 1, each later pass draws the next row, and the run ends after the last row.

Options (a value follows a space or an equals sign: --passes 3 or --passes=3):
  --input DIR      folder holding the three input files (default: the current folder)
  --output DIR     folder for the frames, created if missing (default: ./frames)
  --format F       png, svg or both (default: png, or no frame files with --animation). One
                   file per pass, frame-0001.png, frame-0002.png, ...: the plot area with its
                   border, at 15 twips per pixel (459 x 451 pixels); the SVG has the same
                   picture in twips.
  --animation FILE the whole run as one animation, one frame per pass; the extension picks the
                   type: .gif (lossless, the same pixels as the PNG frames), .mp4 (H.264, for
                   slides and players), .webm (VP9), or .html: one offline page of the whole run
                   that any current browser opens from the file, with nothing else to fetch: the
                   map in the exporter's colours (--colour-by), its clouds or measured sky's
                   shade, the study's voltages and regulators and capacitors where the folder
                   has them, the profile beside it with --profile, a time slider, play and pause,
                   the keys of the picture window, zoom and pan, and each bus's details under
                   the pointer; the address #row=N opens it at row N
  --fps N          frames per second of the animation, 1 to 60 (default: 10, the window's pace)
  --annotate       add a band under each picture with the time and row it shows and a legend of
                   the bus colours
  --labels         write bus names beside their markers, each where it overlaps no other name
  --colour-by C    sunlight (the default: the classes of the sun intensity) or voltage: each bus
                   by the class of its service voltage in the row (ANSI C84.1: below range B,
                   low in range B, range A, high in range B, above range B, no voltage), from
                   the tables umbrascope-study read wrote in the input folder; in frames,
                   animations, SVG and the trace, the band's legend naming the classes; or
                   hosting, for a page (--animation FILE.html) of --input SWEEP, a sweep whose
                   search by bus has its answer: its first sky, each bus by the band of kW of the
                   largest plant it can take (as locational_hc.png colours it), a bus's details
                   giving its row of locational_hc.csv
  --profile        beside the map in a sized frame (--size), the voltage profile of the row: each
                   bus at its distance from the source against its lowest and highest per-unit
                   voltage, each connection a segment, with the lines of ranges A and B; needs
                   the study's tables, as --colour-by voltage does
  --controls       the study's regulators and capacitors, each a symbol of its own at its drawn bus
                   (a square crossed by a diagonal, two bars), magenta in a row where it acts
                   (a tap moves, a capacitor step switches), and in the band's legend; needs the
                   controls table umbrascope-study read wrote in the input folder
  --size WxH       frames of W x H pixels, up to 3840x2160 (e.g. 1920x1080), with the network
                   fitted into them and the band, if any, inside them; bus markers keep their
                   size, lines stay one pixel wide and clouds scale with the network (default:
                   the classic 459 x 451 frame, 15 twips per pixel)
  --rows A:B       write only the frames of passes A to B (e.g. 50:60), each as the whole run
                   draws it; the run stops after pass B. With --large and a sun table of more
                   rows than a run holds (32766; a day at one second has 43200), rows A to B of
                   it (at most 32766) are run as a sky of their own and numbered as the day's:
                   the frames frame-A.png on, the band's row, a page of that part
  --passes N       stop after N passes (default: all, at most 32767)
  --keep-going     after a failed pass carry on with the next one, as the window does, its frame
                   showing the picture as the failure left it; without it the run stops at the
                   first failed pass, writes no frame of it and makes no animation
  --large          take large inputs: up to 32767 buses, connections and sun rows (by default at
                   most 25 buses, 100 connections and 2000 rows)
  --trace FILE     write every event of the run to FILE (- for standard output), one per line,
                   fields separated by a TAB: pass, text, item, timer, style, box, line, circle,
                   error
  --version        show the version and exit
  --help           show this text and exit

Frame files already in the output folder are replaced; any beyond this run's last frame are left
as they are, with a note. A file is written whole or not at all, and a run that fails replaces
nothing it did not finish: an animation already under its name stays as it was, and so does the
frame file of the failed pass.

A run that wrote what it was asked ends with one line saying what it wrote (the files, the
frames, their size and the time), on standard output, or on standard error where the trace goes
to standard output. Errors of a pass go to standard error, one line each (repeats are counted at
the end); progress too, over the rows asked for, when standard error is a terminal. A sun table
that umbrascope-clouds made for another network than the folder's (its header names other buses)
is refused before the first pass.
Warnings (sun-table rows with more or fewer values than buses, a network without buses or one
drawn as a dot) go to standard error too, each once; they change nothing in the run.
Exit status: 0 when every pass succeeded, 1 when a pass failed, 2 for a wrong option or a file
that cannot be written, 130 after Ctrl+C and 143 after a termination request (no file is left
half-written).
)";


[[noreturn]] void usage_error(const std::string& message)
{
    std::fprintf(stderr, "umbrascope-export: %s\nTry 'umbrascope-export --help'.\n", message.c_str());
    std::exit(2);
}

[[noreturn]] void output_error(const std::string& message)
{
    std::fprintf(stderr, "umbrascope-export: %s\n", message.c_str());
    std::exit(2);
}

// The most rows a sky may have that umbrascope-clouds makes; a part of it is run at a time.
constexpr int longest_sky = 1'000'000;

int whole_number(const std::string& option, const std::string& text, int lo, int hi)
{
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < lo || n > hi)
        usage_error(option + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                    ", not '" + text + "'");
    return static_cast<int>(n);
}

}  // namespace

ExportOptions parse_export_command(int argc, char* argv[])
{
    ExportOptions options;
    bool fps_given = false;
    bool hosting_asked = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> attached;  // the VALUE of --option=VALUE
        if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            attached = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const auto value = [&]() -> std::string {
            std::string given = attached ? *attached : i + 1 < argc ? argv[++i] : std::string();
            if (given.empty())
                usage_error(arg + " needs a value");
            return given;
        };
        const auto flag = [&] {
            if (attached)
                usage_error(arg + " takes no value");
        };
        if (arg == "--help" || arg == "-h") {
            flag();
            std::fputs(usage_text, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            flag();
            std::printf("umbrascope-export %s\n", std::string(version).c_str());
            std::exit(0);
        } else if (arg == "--input") {
            options.input = value();
        } else if (arg == "--output") {
            options.output = value();
        } else if (arg == "--format") {
            const std::string format = value();
            if (format != "png" && format != "svg" && format != "both")
                usage_error("--format takes png, svg or both, not '" + format + "'");
            options.png = format != "svg";
            options.svg = format != "png";
            options.format_given = true;
        } else if (arg == "--animation") {
            options.animation = value();
        } else if (arg == "--fps") {
            options.fps = whole_number(arg, value(), 1, 60);
            fps_given = true;
        } else if (arg == "--annotate") {
            flag();
            options.frame.annotate = true;
        } else if (arg == "--labels") {
            flag();
            options.frame.labels = true;
        } else if (arg == "--colour-by" || arg == "--color-by") {
            const std::string by = value();
            if (by != "sunlight" && by != "voltage" && by != "hosting")
                usage_error("--colour-by takes sunlight, voltage or hosting, not '" + by + "'");
            options.frame.by_voltage = by == "voltage";
            hosting_asked = by == "hosting";
        } else if (arg == "--profile") {
            flag();
            options.frame.profile = true;
        } else if (arg == "--controls") {
            flag();
            options.frame.show_controls = true;
        } else if (arg == "--passes") {
            options.passes = whole_number(arg, value(), 1, 32767);
        } else if (arg == "--size") {
            const std::string size = value();
            const std::size_t x = size.find_first_of("xX");
            const auto side = [&](const std::string& text, int lo, int hi) {
                char* end = nullptr;
                const long n = std::strtol(text.c_str(), &end, 10);
                if (text.empty() || *end != '\0' || n < lo || n > hi)
                    usage_error("--size takes WIDTHxHEIGHT, from " + std::to_string(smallest_frame_side) + "x" +
                                std::to_string(smallest_frame_side) + " to " + std::to_string(largest_frame_width) + "x" +
                                std::to_string(largest_frame_height) + " pixels (e.g. 1920x1080), not '" + size + "'");
                return static_cast<int>(n);
            };
            options.frame.width = side(x == std::string::npos ? "" : size.substr(0, x), smallest_frame_side, largest_frame_width);
            options.frame.height = side(x == std::string::npos ? "" : size.substr(x + 1), smallest_frame_side, largest_frame_height);
        } else if (arg == "--rows") {
            const std::string rows = value();
            const std::size_t colon = rows.find(':');
            if (colon == std::string::npos)
                usage_error("--rows takes FIRST:LAST, two pass numbers from 1 to 32767 (e.g. 50:60), not '" + rows + "'");
            // Past 32767 only in a sky longer than a run, which the run checks.
            options.first_row = whole_number(arg, rows.substr(0, colon), 1, longest_sky);
            options.passes = whole_number(arg, rows.substr(colon + 1), 1, longest_sky);
            options.rows_given = true;
            if (options.passes < options.first_row)
                usage_error("--rows takes FIRST:LAST with LAST not before FIRST, not '" + rows + "'");
        } else if (arg == "--keep-going") {
            flag();
            options.keep_going = true;
        } else if (arg == "--large") {
            flag();
            options.large = true;
        } else if (arg == "--trace") {
            options.trace = value();
        } else if (arg.rfind("--", 0) == 0) {
            const std::string nearest = nearest_option(usage_text, arg);
            usage_error("unknown option '" + arg + "'" + (nearest.empty() ? std::string() : " (did you mean " + nearest + "?)"));
        } else {
            usage_error("unknown argument '" + arg + "'");
        }
    }
    if (fps_given && !options.animation)
        usage_error("--fps sets the pace of an animation: give --animation FILE too");
    // A page is the whole run, played at the speed chosen in it.
    const auto is_page = [](const fs::path& file) {
        const std::string extension = lower(file.extension().string());
        return extension == ".html" || extension == ".htm";
    };
    if (options.animation && is_page(*options.animation) && fps_given)
        usage_error("--fps sets the pace of a film: leave it out for a page, which plays at the speed chosen in it "
                    "(1 to 100 rows a second)");
    const bool page = options.animation && is_page(*options.animation);
    if (options.frame.profile && !options.frame.sized() && !page)
        usage_error("--profile goes beside the map in a frame of a size: give --size WxH too (e.g. 1920x1080)");
    if (options.animation && !options.format_given)
        options.png = false;
    // The hosting capacity of a sweep's search by bus, on the map of the sky it was made under.
    if (hosting_asked) {
        const std::optional<fs::path> sky = hosting_sky(options.input);
        if (!sky)
            usage_error("--colour-by hosting needs --input SWEEP, a sweep whose search by bus has its answer "
                        "(umbrascope-study sweep locate, then run or gather); " + options.input.string() + " is not one");
        if (!page || options.format_given)
            usage_error("--colour-by hosting makes a page (--animation FILE.html); the map's picture is the sweep's own "
                        "locational_hc.png");
        options.hosting = fs::absolute(options.input);
        options.input = *sky;
    }
    return options;
}

namespace {

// Each distinct error message once as it happens, and how often each came at the end.
class ErrorTally {
public:
    // A failed pass drew `row`: after a failure the passes and the rows part ways.
    void report(int pass, int row, const PassError& failure)
    {
        const std::string text = std::string(kind_name(failure.kind())) + " error: " + failure.what() + advice_for(failure);
        const auto [at, first] = counts_.try_emplace(text, 0);
        if (first)
            order_.push_back(text);
        if (++at->second > 1)
            return;
        const std::string where = row == pass || row <= 0 ? "pass " + std::to_string(pass)
                                                          : "pass " + std::to_string(pass) + ", row " + std::to_string(row);
        std::fprintf(stderr, "umbrascope-export: %s: %s\n", where.c_str(), text.c_str());
    }

    // Each distinct warning once, as it comes.
    void warn(const std::string& text)
    {
        if (std::find(warnings_.begin(), warnings_.end(), text) != warnings_.end())
            return;
        warnings_.push_back(text);
        std::fprintf(stderr, "umbrascope-export: warning: %s\n", text.c_str());
    }

    void summarise(int failures) const
    {
        if (failures != static_cast<int>(order_.size())) {  // some repeated
            std::fprintf(stderr, "umbrascope-export: %d passes failed, with %zu distinct error%s:\n", failures,
                         order_.size(), order_.size() == 1 ? "" : "s");
            for (const std::string& text : order_)
                std::fprintf(stderr, "  %d x %s\n", counts_.at(text), text.c_str());
        }
        if (!warnings_.empty())
            std::fprintf(stderr, "umbrascope-export: %zu warning%s, above: the run went on as the files say\n",
                         warnings_.size(), warnings_.size() == 1 ? "" : "s");
    }

private:
    std::map<std::string, int> counts_;
    std::vector<std::string> order_;
    std::vector<std::string> warnings_;
};

// Ctrl+C or a termination request: the run stops at the next pass's end, leaving no half-written
// file. A second one ends the program at once, its temporary files removed.
volatile std::sig_atomic_t stop_signal = 0;

extern "C" void request_stop(int signal)
{
    if (stop_signal == 0) {
        stop_signal = signal;
        return;
    }
    remove_temporary_files_now();
    static const char message[] = "\numbrascope-export: stopped at once; nothing half-written was left\n";
    (void)!::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(128 + signal);
}

struct Interrupted {
    int signal;
};

// Frame files from an earlier, longer run, which this run did not replace.
void note_stale_frames(const fs::path& folder, int last)
{
    int count = 0;
    int first = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        const std::string extension = entry.path().extension().string();
        if (name.rfind("frame-", 0) != 0 || (extension != ".png" && extension != ".svg"))
            continue;
        const std::string digits = name.substr(6, name.size() - 6 - extension.size());
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int number = std::atoi(digits.c_str());
        if (number <= last)
            continue;
        ++count;
        first = first == 0 ? number : std::min(first, number);
    }
    if (count > 0)
        std::fprintf(stderr,
                     "umbrascope-export: note: %s also holds %d frame file%s from an earlier run, from frame-%04d on; "
                     "they were left as they are\n",
                     folder.string().c_str(), count, count == 1 ? "" : "s", first);
}

// Progress on a terminal: passes done of the rows, frames per second and the time left.
class Progress {
public:
    explicit Progress(bool shown) : shown_(shown), start_(std::chrono::steady_clock::now()) {}
    void update(int done, int rows)
    {
        if (!shown_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(100) && done < rows)
            return;
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? done / seconds : 0.0;
        const double left = rate > 0 ? std::max(0, rows - done) / rate : 0.0;
        std::fprintf(stderr, "\r\033[Kpass %d of %d rows, %.0f frames/s, %.0f s left", done, std::max(rows, 1), rate, left);
    }
    // The passes before the first row asked for.
    void reach(int done, int first)
    {
        const auto now = std::chrono::steady_clock::now();
        if (!shown_ || now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        std::fprintf(stderr, "\r\033[Kpass %d on the way to row %d", done, first);
    }
    void clear() const
    {
        if (shown_)
            std::fputs("\r\033[K", stderr);
    }

private:
    bool shown_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point last_{};
};

std::string size_text(std::uintmax_t bytes)
{
    char text[32];
    if (bytes >= 1'000'000)
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    else
        std::snprintf(text, sizeof text, "%.0f kB", std::max(1.0, static_cast<double>(bytes) / 1e3));
    return text;
}

// The one line of a run that wrote what it was asked: the files, the frames, their size and the
// time, on standard output, or on standard error where the trace goes to standard output.
void tell_written(const ExportOptions& options, const ExportPlan& plan, const ExportResult& result,
                  std::chrono::steady_clock::time_point started, bool trace_on_stdout)
{
    std::vector<std::string> parts;
    std::error_code error;
    const int frames = result.passes - plan.first_row + 1;
    const std::string type = options.animation ? lower(options.animation->extension().string()) : std::string();
    if (options.animation && (type == ".html" || type == ".htm"))
        parts.push_back("the page " + options.animation->string() + " (" +
                        (plan.row_offset > 0 ? "rows " + std::to_string(plan.row_offset + 1) + " to " +
                                                   std::to_string(plan.row_offset + result.passes) + " of the sky"
                                             : std::to_string(result.passes) + " rows") +
                        ", " +
                        size_text(fs::file_size(*options.animation, error)) + "; open it in a browser)");
    else if (options.animation)
        parts.push_back(options.animation->string() + " (" + std::to_string(frames) + " frames, " +
                        size_text(fs::file_size(*options.animation, error)) + ")");
    if ((options.png || options.svg) && result.frames_from > 0) {
        std::uintmax_t bytes = 0;
        for (long n = result.frames_from; n <= result.frames_to; ++n)
            for (const char* extension : {".png", ".svg"}) {
                char name[32];
                std::snprintf(name, sizeof name, "frame-%04ld%s", n, extension);
                const std::uintmax_t size = fs::file_size(options.output / name, error);
                bytes += error ? 0 : size;
            }
        const long count = result.frames_to - result.frames_from + 1;
        char first[24], last[24];
        std::snprintf(first, sizeof first, "frame-%04ld", result.frames_from);
        std::snprintf(last, sizeof last, "frame-%04ld", result.frames_to);
        parts.push_back(std::to_string(count) + (options.png && options.svg ? " PNG and SVG" : options.png ? " PNG" : " SVG") +
                        (count == 1 ? " frame" : " frames") + " in " + options.output.string() + " (" + first +
                        (count == 1 ? std::string() : std::string(" to ") + last) + ", " + size_text(bytes) + ")");
    }
    if (options.trace && *options.trace != "-")
        parts.push_back("the trace " + *options.trace + " (" + size_text(fs::file_size(*options.trace, error)) + ")");
    if (parts.empty())
        return;
    std::string text = "umbrascope-export: wrote ";
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, " in %.1f s\n",
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    std::fputs((text + seconds).c_str(), trace_on_stdout ? stderr : stdout);
}

bool page_asked(const ExportOptions& options)
{
    if (!options.animation)
        return false;
    const std::string extension = lower(options.animation->extension().string());
    return extension == ".html" || extension == ".htm";
}

// A page of a sky longer than a run: the parts run one after another, their rows gathered into
// one page with the study's voltages, controls and measured sky of the whole sky. A part that
// fails ends it, and nothing is written.
int whole_sky_page(const ExportOptions& options, long sky_rows, std::chrono::steady_clock::time_point started)
{
    const fs::path& input = options.input;
    StudyFiles study;
    try {
        study = read_study_files(input, options.frame.by_voltage || options.frame.profile, true, options.frame.show_controls,
                                 true, [](const std::string& warning) {
                                     std::fprintf(stderr, "umbrascope-export: warning: %s\n", warning.c_str());
                                 });
    } catch (const VoltageError& error) {
        output_error(std::string(error.what()) + "; nothing was written");
    }
    const std::optional<RunVoltages>& voltages = study.voltages;
    const std::optional<ControlsTable>& controls = study.controls;
    const std::optional<SkyField>& field = study.field;
    if (voltages && (voltages->rows() != sky_rows))
        output_error((input / lowest_voltage_file_name).string() + " has " + std::to_string(voltages->rows()) +
                     " rows where the sun table has " + std::to_string(sky_rows) + "; nothing was written");

    const fs::path named = fs::absolute(input).lexically_normal();
    const std::string title = named.filename().empty() ? named.parent_path().filename().string() : named.filename().string();
    ErrorTally errors;
    Progress progress(isatty(fileno(stderr)) != 0);
    PageInput whole;
    bool gathered = false;
    for (long first = 1; first <= sky_rows; first += most_rows_in_a_run) {
        const long last = std::min(sky_rows, first + most_rows_in_a_run - 1);
        std::optional<RowPart> part;
        try {
            part.emplace(input, first, last);
        } catch (const PartError& failure) {
            output_error(std::string(failure.what()) + "; nothing was written");
        }
        ExportPlan plan;
        plan.input = part->path();
        plan.large = true;
        plan.frame = options.frame;
        plan.frame.by_voltage = plan.frame.profile = plan.frame.show_controls = false;
        plan.last_pass = static_cast<int>(last - first + 1);
        plan.title = title;
        plan.take_page = [&](const RunState& st, const SkyHeader& sky, PageGatherer& rows) {
            PageInput some = rows.finish(st, sky, title, nullptr, false, false, nullptr, nullptr);
            if (!gathered)
                whole = std::move(some);
            else
                append_rows(whole, std::move(some));
            gathered = true;
            if (last == sky_rows) {
                add_study(whole, st, voltages ? &*voltages : nullptr, options.frame.by_voltage, options.frame.profile,
                          controls ? &*controls : nullptr, field ? &*field : nullptr);
                if (options.hosting) {
                    HostingMap hosting = HostingMap::read(*options.hosting);
                    hosting.bind(st);
                    add_hosting(whole, hosting);
                }
            }
        };
        ExportEvents events;
        events.on_error = [&](int pass, int row, const PassError& failure) {
            progress.clear();
            errors.report(pass, static_cast<int>(row + first - 1), PassError(failure.kind(), part->whole_lines(failure.what())));
        };
        events.on_warning = [&](const std::string& warning) {
            progress.clear();
            errors.warn(warning);
        };
        events.on_progress = [&](int done, int) { progress.update(static_cast<int>(first - 1 + done), static_cast<int>(sky_rows)); };
        events.stop_requested = [] { return stop_signal != 0; };
        const ExportResult result = export_run(plan, events);
        progress.clear();
        if (result.stopped) {
            std::fprintf(stderr, "umbrascope-export: %s at row %ld of %ld; %s was not made\n",
                         stop_signal == SIGINT ? "interrupted" : "stopped", first - 1 + result.passes, sky_rows,
                         options.animation->string().c_str());
            throw Interrupted{stop_signal};
        }
        if (result.failures > 0 || result.passes < last - first + 1) {
            errors.summarise(result.failures);
            std::fprintf(stderr, "umbrascope-export: the run stopped at row %ld of %ld; %s was not made\n",
                         first - 1 + result.passes, sky_rows, options.animation->string().c_str());
            return 1;
        }
    }
    whole.row_offset = 0;
    whole.sky_rows = 0;
    write_page(*options.animation, whole);
    errors.summarise(0);
    std::error_code error;
    std::printf("umbrascope-export: wrote the page %s (%ld rows, %s; open it in a browser) in %.1f s\n",
                options.animation->string().c_str(), sky_rows, size_text(fs::file_size(*options.animation, error)).c_str(),
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return 0;
}

int run(const ExportOptions& options)
{
    const auto started = std::chrono::steady_clock::now();
    std::error_code error;
    if (!fs::is_directory(options.input, error))
        usage_error("the input folder " + options.input.string() +
                    (fs::exists(options.input, error) ? " is not a folder" : " does not exist"));
    if (options.animation)
        (void)animation_type(*options.animation);  // an unknown type fails before any pass
    // A sky made for another network would run with the wrong buses' sunlight, or none.
    if (const std::optional<std::string> mismatch = sun_table_mismatch(options.input))
        output_error(*mismatch + "; nothing was written");
    if ((options.frame.by_voltage || options.frame.profile) && !has_voltage_tables(options.input))
        usage_error(std::string(options.frame.by_voltage ? "--colour-by voltage" : "--profile") + " needs the voltage tables " +
                    std::string(lowest_voltage_file_name) + " and " + std::string(highest_voltage_file_name) + " in " +
                    options.input.string() + ": make them with umbrascope-study read " + options.input.string());
    // The folders named for the animation and the trace are made, as the output folder is.
    for (const std::optional<fs::path>& file : {options.animation, std::optional<fs::path>(options.trace)}) {
        if (!file || *file == "-" || file->parent_path().empty())
            continue;
        fs::create_directories(file->parent_path(), error);
        if (error)
            output_error("cannot create the folder " + file->parent_path().string() + ": " + error.message());
    }

    // A sky longer than a run: the part of it asked for, run as a sky of its own.
    std::optional<RowPart> part;
    long sky_rows = 0;
    if (options.large) {
        try {
            sky_rows = sun_table_rows(options.input);
        } catch (const PartError&) {  // no sun table: the first pass says so as ever
        }
    }
    if (sky_rows > most_rows_in_a_run && page_asked(options) && !options.rows_given) {
        if (options.trace)
            usage_error("--trace follows one run: of a sky longer than a run, give --rows A:B (at most " +
                        std::to_string(most_rows_in_a_run) + " rows)");
        return whole_sky_page(options, sky_rows, started);
    }
    if (sky_rows > most_rows_in_a_run) {
        if (!options.rows_given)
            usage_error("the sun table in " + options.input.string() + " has " + std::to_string(sky_rows) +
                        " rows, more than a run holds (" + std::to_string(most_rows_in_a_run) +
                        "): give --rows A:B to export rows A to B of it, at most " + std::to_string(most_rows_in_a_run) +
                        " (an hour at one second: --rows 36001:39600); a page (--animation FILE.html) holds it whole");
        if (options.passes < options.first_row)
            usage_error("--passes " + std::to_string(options.passes) + " ends the run before row " +
                        std::to_string(options.first_row) + ", the first that --rows asks for");
        if (options.passes > sky_rows)
            usage_error("--rows " + std::to_string(options.first_row) + ":" + std::to_string(options.passes) +
                        " reaches past the sun table's last row, " + std::to_string(sky_rows));
        if (options.passes - options.first_row + 1 > most_rows_in_a_run)
            usage_error("--rows " + std::to_string(options.first_row) + ":" + std::to_string(options.passes) + " is " +
                        std::to_string(options.passes - options.first_row + 1) + " rows, more than a run holds (" +
                        std::to_string(most_rows_in_a_run) + ")");
        try {
            part.emplace(options.input, options.first_row, options.passes);
        } catch (const PartError& failure) {
            output_error(std::string(failure.what()) + "; nothing was written");
        }
    } else {
        if (options.first_row > 32767 || options.passes > 32767)
            usage_error("--rows takes FIRST:LAST, two pass numbers from 1 to 32767; past that only of a sun table "
                        "longer than a run, with --large");
        if (page_asked(options) && options.first_row > 1)
            usage_error("a page holds the run from its first row: give --passes N for its first N rows, not --rows");
    }

    std::optional<OutputFile> trace_file;
    if (options.trace)
        trace_file.emplace(*options.trace == "-" ? OutputFile::standard_output("the trace on standard output")
                                                 : OutputFile(*options.trace));
    std::optional<OutputStreamBuffer> trace_buffer;
    std::optional<std::ostream> trace_stream;
    if (trace_file) {
        trace_buffer.emplace(*trace_file);
        trace_stream.emplace(&*trace_buffer);
    }

    ExportPlan plan;
    plan.input = part ? part->path() : options.input;
    plan.large = options.large;
    plan.folder = options.output;
    plan.png = options.png;
    plan.svg = options.svg;
    plan.animation = options.animation;
    plan.fps = options.fps;
    plan.frame = options.frame;
    plan.first_row = part ? 1 : options.first_row;
    plan.last_pass = part ? options.passes - options.first_row + 1 : options.passes;
    plan.row_offset = part ? options.first_row - 1 : 0;
    if (part) {
        const fs::path named = fs::absolute(options.input, error).lexically_normal();
        plan.title = named.filename().empty() ? named.parent_path().filename().string() : named.filename().string();
    }
    plan.keep_going = options.keep_going;
    plan.trace = trace_stream ? &*trace_stream : nullptr;
    plan.hosting = options.hosting;

    ErrorTally errors;
    Progress progress(isatty(fileno(stderr)) != 0);
    ExportEvents events;
    events.on_error = [&](int pass, int row, const PassError& failure) {
        progress.clear();
        if (part)  // the rows and the files' lines as the whole sky's
            errors.report(pass, static_cast<int>(row + plan.row_offset), PassError(failure.kind(), part->whole_lines(failure.what())));
        else
            errors.report(pass, row, failure);
    };
    events.on_warning = [&](const std::string& warning) {
        progress.clear();
        errors.warn(warning);
    };
    // Progress over the rows asked for; the passes before them are counted apart.
    events.on_progress = [&](int done, int rows) {
        const int last = std::min(plan.last_pass, std::max(rows, 1));
        if (done >= plan.first_row)
            progress.update(done - plan.first_row + 1, last - plan.first_row + 1);
        else
            progress.reach(done, plan.first_row);
    };
    events.stop_requested = [] { return stop_signal != 0; };
    events.after_pass = [&] {
        if (trace_buffer && !trace_buffer->error().empty())
            throw WriteError(trace_buffer->error());
    };

    const ExportResult result = export_run(plan, events);
    progress.clear();
    if (result.stopped) {
        // The animation's and the trace's temporary files go with them.
        std::fprintf(stderr, "umbrascope-export: %s after pass %d of %d; %s\n",
                     stop_signal == SIGINT ? "interrupted" : "stopped", result.passes, result.rows,
                     kept_text(plan, result).c_str());
        throw Interrupted{stop_signal};
    }
    if (trace_file) {
        trace_stream->flush();
        if (!trace_buffer->error().empty())
            throw WriteError(trace_buffer->error());
        trace_file->commit();
    }
    errors.summarise(result.failures);
    if (result.ended_by_failure)
        std::fprintf(stderr, "umbrascope-export: the run stopped at the failed pass %d (--keep-going goes on past it); %s\n",
                     result.passes, kept_text(plan, result).c_str());
    if (options.keep_going && result.passes == 1 && result.failures == 1)
        std::fputs("umbrascope-export: the first pass failed, so the run ends there, as the window's does: the "
                   "animation starts only after a first pass that read the files; the frame of that pass was "
                   "written as it asked\n",
                   stderr);
    if (result.passes < plan.first_row && !result.ended_by_failure)
        std::fprintf(stderr, "umbrascope-export: note: the run ended after %d pass%s, before pass %d: no frame was written%s\n",
                     result.passes, result.passes == 1 ? "" : "es", plan.first_row,
                     options.animation ? (", and " + options.animation->string() + " was not made").c_str() : "");
    if ((options.png || options.svg) && !result.ended_by_failure)
        note_stale_frames(options.output, static_cast<int>(result.passes + plan.row_offset));
    if (!result.ended_by_failure && result.passes >= plan.first_row)
        tell_written(options, plan, result, started, trace_file.has_value() && *options.trace == "-");
    return result.failures > 0 ? 1 : 0;
}

}  // namespace

bool frames_need_fonts(const ExportOptions& options)
{
    return options.frame.annotate || options.frame.labels || options.frame.profile;
}

void catch_stop_signals()
{
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
}

int run_export_command(const ExportOptions& options)
{
    try {
        return run(options);
    } catch (const Interrupted& stop) {
        return 128 + stop.signal;
    } catch (const WriteError& failure) {
        if (isatty(fileno(stderr)) != 0)
            std::fputs("\r\033[K", stderr);
        output_error(failure.what());
    } catch (const VoltageError& failure) {
        if (isatty(fileno(stderr)) != 0)
            std::fputs("\r\033[K", stderr);
        output_error(std::string(failure.what()) + "; no file was written");
    }
}

}  // namespace umbrascope

// umbrascope-export: runs the same passes as the window, headless, and writes every picture as a
// frame and, on request, a trace of every observable event.

#include <QDir>
#include <QImage>
#include <QLocale>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

#include "app/canvas.hpp"
#include "app/pass_driver.hpp"
#include "core/trace.hpp"
#include "exporter/svg_picture.hpp"

namespace {

using namespace umbrascope;

constexpr const char* usage_text = R"(Usage: umbrascope-export [--input DIR] [--output DIR] [--format png|svg|both]
                         [--passes N] [--keep-going] [--trace FILE]

Runs Umbrascope's passes without a window: pass 1 as a click on READ COORDINATES, then, while the
timer is enabled, further passes as timer ticks at once. Reads cloud_bus_coords_connections.txt,
cloud_sun_intensity_table.txt and cloud_centers_plot.txt from the input folder.

  --input DIR      folder holding the three input files (default: the current folder)
  --output DIR     folder for the frames, created if missing (default: ./frames)
  --format F       png, svg or both (default: png); frame-0001.png, frame-0002.png, ...: the plot
                   frame with its 20-unit border at 15 twips per pixel; the SVG in plot units (twips)
  --passes N       stop after N passes (default: 32767)
  --keep-going     after a failed pass carry on while the timer runs, as the window would;
                   without it the run stops after the first failed pass
  --trace FILE     write every observable event to FILE (- for standard output), one per line,
                   fields separated by a TAB: pass, text, item, timer, style, box, line, circle, error
  --help           show this text

The run stops when a pass ends with the timer disabled. Error reports go to standard error, and
progress too when it is a terminal.
Exit status: 0 when no pass failed, 1 when a pass failed, 2 for a usage error or an output that
cannot be written.
)";

struct Options {
    std::filesystem::path input = ".";
    std::filesystem::path output = "frames";
    bool png = true;
    bool svg = false;
    int passes = 32767;
    bool keep_going = false;
    std::optional<std::string> trace;
};

[[noreturn]] void usage_error(const std::string& message)
{
    std::fprintf(stderr, "umbrascope-export: %s\nTry 'umbrascope-export --help'.\n", message.c_str());
    std::exit(2);
}

Options parse(int argc, char* argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage_error(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage_text, stdout);
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
        } else if (arg == "--passes") {
            const std::string text = value();
            char* end = nullptr;
            const long n = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || n < 1 || n > 32767)
                usage_error("--passes takes a whole number from 1 to 32767, not '" + text + "'");
            options.passes = static_cast<int>(n);
        } else if (arg == "--keep-going") {
            options.keep_going = true;
        } else if (arg == "--trace") {
            options.trace = value();
        } else {
            usage_error("unknown argument '" + arg + "'");
        }
    }
    return options;
}

[[noreturn]] void output_error(const std::string& message)
{
    std::fprintf(stderr, "umbrascope-export: %s\n", message.c_str());
    std::exit(2);
}

}  // namespace

int main(int argc, char* argv[])
{
    const Options options = parse(argc, argv);
    const QString point = QLocale::system().decimalPoint();
    if (!point.isEmpty())
        set_decimal_separator(point.toUcs4().value(0, U'.'));

    std::error_code error;
    std::filesystem::create_directories(options.output, error);
    if (error)
        output_error("cannot create the output folder " + options.output.string() + ": " + error.message());

    std::ofstream trace_file;
    std::ostream* trace_stream = nullptr;
    if (options.trace) {
        if (*options.trace == "-") {
            trace_stream = &std::cout;
        } else {
            trace_file.open(*options.trace, std::ios::binary | std::ios::trunc);
            if (!trace_file)
                output_error("cannot write the trace file " + *options.trace);
            trace_stream = &trace_file;
        }
    }

    Trace trace(trace_stream);
    RecordingControls controls(&trace);
    Canvas canvas(1.0);
    SvgPicture svg;
    const bool to_terminal = isatty(fileno(stderr)) != 0;

    // One surface feeds both pictures.
    class Both : public Surface {
    public:
        Both(Canvas& raster, SvgPicture& vector) : raster_(raster), vector_(vector) {}
        void draw_line(Single x1, Single y1, Single x2, Single y2, Colour c) override
        {
            raster_.draw_line(x1, y1, x2, y2, c);
            vector_.draw_line(x1, y1, x2, y2, c);
        }
        void fill_box(Single x1, Single y1, Single x2, Single y2, Colour c) override
        {
            raster_.fill_box(x1, y1, x2, y2, c);
            vector_.fill_box(x1, y1, x2, y2, c);
        }
        void draw_circle(Single x, Single y, Single r, Colour c) override
        {
            raster_.draw_circle(x, y, r, c);
            vector_.draw_circle(x, y, r, c);
        }
        void set_line_style(LineStyle s) override
        {
            raster_.set_line_style(s);
            vector_.set_line_style(s);
        }

    private:
        Canvas& raster_;
        SvgPicture& vector_;
    } both(canvas, svg);
    TraceSurface surface(&trace, &both);

    InputSlot input(options.input);
    auto st = std::make_unique<RunState>();
    Pass pass{*st, input, controls, surface};

    const QImage background = window_background(1.0, QColor(240, 240, 240), Qt::black);
    const QRect crop = frame_pixels(1.0);
    const QString folder = QString::fromStdString(options.output.string());

    HeadlessEvents events;
    events.on_error = [&](const PassError& failure) {
        if (to_terminal)
            std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "umbrascope-export: pass %d: %s error: %s\n", st->num_pass.value(),
                     std::string(kind_name(failure.kind())).c_str(), failure.what());
    };
    events.after_pass = [&](int ordinal) {
        const QString stem = QDir(folder).filePath(QStringLiteral("frame-%1").arg(ordinal, 4, 10, QLatin1Char('0')));
        if (options.png) {
            QImage frame = background.copy(crop);
            QPainter painter(&frame);
            painter.drawImage(QPoint(0, 0), canvas.image(), crop);
            painter.end();
            if (!frame.save(stem + QStringLiteral(".png"), "PNG"))
                output_error("cannot write " + (stem + QStringLiteral(".png")).toStdString());
        }
        if (options.svg && !svg.write(stem + QStringLiteral(".svg")))
            output_error("cannot write " + (stem + QStringLiteral(".svg")).toStdString());
        if (to_terminal)
            std::fprintf(stderr, "\rpass %d of %d rows", ordinal, std::max(st->n_time.value(), 1));
    };

    const HeadlessResult result =
        run_headless(pass, controls, trace, HeadlessOptions{options.passes, options.keep_going}, events);
    if (to_terminal)
        std::fputs("\n", stderr);
    if (trace_stream != nullptr) {
        trace_stream->flush();
        if (!*trace_stream)
            output_error("cannot write the trace");
    }
    return result.failures > 0 ? 1 : 0;
}

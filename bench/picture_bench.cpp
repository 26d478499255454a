// Speed of seeing a real feeder: a jump to any row of the large feeder, and a repaint of the
// picture window on the IEEE 8500-node feeder at 1920 x 1080. See docs/performance.md.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QPainter>
#include <chrono>
#include <filesystem>
#include <unistd.h>

#include "run/pass_driver.hpp"
#include "run/row_jump.hpp"
#include "core/trace.hpp"
#include "import/network.hpp"
#include "output/canvas.hpp"
#include "output/frame_picture.hpp"
#include "output/output_file.hpp"
#include "run/export_run.hpp"
#include "scenario/drift.hpp"
#include "scenario/network_buses.hpp"
#include "tools/limits.hpp"

namespace {

using namespace umbrascope;
namespace fs = std::filesystem;

// A folder made once and removed at exit.
struct Folder {
    explicit Folder(const std::string& name) : path(fs::temp_directory_path() / (name + std::to_string(::getpid())))
    {
        fs::create_directories(path);
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

// The large feeder of umbrascope-make-limits --large: 2,500 buses, 8,000 rows.
const fs::path& large_feeder()
{
    static const Folder folder = [] {
        Folder made("umbrascope-bench-jump-");
        tools::LimitOptions options;
        options.large = true;
        tools::write_limit_inputs(made.path, options);
        return made;
    }();
    return folder.path;
}

// The IEEE 8500-node feeder imported, with five clouds over 120 rows.
const fs::path& feeder_8500()
{
    static const Folder folder = [] {
        Folder made("umbrascope-bench-8500-");
        const fs::path source = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500";
        import::DiskFiles files;
        std::string why;
        const import::Network network = import::join_network(
            import::read_coordinates(*files.read(source / "Buscoords.dss", why), "Buscoords.dss", import::Degrees::none),
            import::read_circuit(source / "Master.dss", files));
        write_file(made.path / network_file_name, import::network_file_text(network, "Master.dss"));
        const scenario::NetworkBuses buses = scenario::read_network_buses(made.path);
        scenario::DriftOptions options;
        options.clouds = 5;
        const scenario::Drift drift = scenario::drifting_clouds(buses.places, options);
        const std::string track = scenario::track_text(drift.track, drift.about, drift.decimals);
        write_file(made.path / track_file_name, track);
        const scenario::SunTable table =
            scenario::sun_under(buses.places, scenario::read_track(track, "track"), options.steps);
        write_file(made.path / sun_table_file_name,
                   scenario::sun_table_text(table, scenario::SunHeader{drift.about, "", 10, buses.names}));
        return made;
    }();
    return folder.path;
}

// As the window runs passes: into its own picture and the recorded one.
struct Session {
    explicit Session(const fs::path& folder)
        : input(folder), st(std::make_unique<RunState>(true)), both(canvas, &picture), pass{*st, input, controls, both}
    {
    }
    InputSlot input;
    std::unique_ptr<RunState> st;
    RecordingControls controls;
    Canvas canvas{1.0};
    Picture picture;
    TeeSurface both;
    Pass pass;
};

// A jump to a row far from the last one shown, as the picture window makes it: the pass of that
// row (its track index made once), then the window's repaint at its first size.
void jump_to_any_row(benchmark::State& state)
{
    Session session(large_feeder());
    run_pass(session.pass);
    const TrackIndex index(large_feeder(), *session.st);
    const int rows = session.st->n_time.value();
    FrameOptions options;
    options.annotate = true;
    options.width = 900;
    options.height = 716;
    QImage frame;
    int row = 1;
    for (auto _ : state) {
        row = (row * 37 + 4001) % rows + 1;
        jump_to_row(session.pass, index, row);
        draw_picture_frame(frame, session.picture, FrameFacts{*session.st, row}, options);
        QPainter painter(&frame);
        benchmark::DoNotOptimize(paint_bus_names(painter, *session.st, frame_view(*session.st, options), 900,
                                                 716 - band_pixels(options), 1.0, 0.5));
    }
}
BENCHMARK(jump_to_any_row)->Unit(benchmark::kMillisecond);

// Reading the large feeder's track file for the index, at the first jump of a run.
void track_index(benchmark::State& state)
{
    Session session(large_feeder());
    run_pass(session.pass);
    for (auto _ : state)
        benchmark::DoNotOptimize(TrackIndex(large_feeder(), *session.st).reaches(8000));
}
BENCHMARK(track_index)->Unit(benchmark::kMillisecond);

// What the picture window does for each repaint: the frame at its size through its view, and the
// names where nearly all fit.
void repaint_8500_node_feeder(benchmark::State& state)
{
    Session session(feeder_8500());
    run_pass(session.pass);
    run_pass(session.pass);
    FrameOptions options;
    options.annotate = true;
    options.width = 1920;
    options.height = 1080;
    const View view = frame_view(*session.st, options);
    QImage frame;  // kept from repaint to repaint, as the window keeps it
    for (auto _ : state) {
        draw_picture_frame(frame, session.picture, FrameFacts{*session.st, 2}, options, &view);
        QPainter painter(&frame);
        benchmark::DoNotOptimize(paint_bus_names(painter, *session.st, view, 1920, 1080 - band_pixels(options), 1.0, 0.5));
    }
}
BENCHMARK(repaint_8500_node_feeder)->Unit(benchmark::kMillisecond);

// The whole run of the 8500-node feeder (120 rows) written as umbrascope-export writes it, at
// 1280 x 720, 1920 x 1080 and 3840 x 2160: an MP4 film, a WebM film, a GIF and PNG frames. The
// counters give the bytes written and the time a frame.
void export_8500_node_feeder(benchmark::State& state)
{
    static const char* const kinds[] = {"run.mp4", "run.webm", "run.gif", "frames"};
    const char* kind = kinds[state.range(2)];
    Folder out("umbrascope-bench-export-");
    ExportPlan plan;
    plan.input = feeder_8500();
    plan.large = true;
    plan.frame.width = static_cast<int>(state.range(0));
    plan.frame.height = static_cast<int>(state.range(1));
    plan.folder = out.path / kind;
    if (std::string(kind) == "frames")
        plan.png = true;
    else
        plan.animation = out.path / kind;
    double bytes = 0;
    double frame_ms = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const ExportResult result = export_run(plan, {});
        frame_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                   std::max(1, result.passes);
        bytes = 0;
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(out.path))
            bytes += entry.is_regular_file() ? static_cast<double>(entry.file_size()) : 0;
    }
    state.counters["MB"] = bytes / 1e6;
    state.counters["frame_ms"] = frame_ms;
    state.SetLabel(kind);
}
BENCHMARK(export_8500_node_feeder)
    ->ArgsProduct({{1280}, {720}, {0, 1, 2, 3}})
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({1920, 1080, 2})
    ->Args({1920, 1080, 3})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 3})
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);  // fonts for the band and the names
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

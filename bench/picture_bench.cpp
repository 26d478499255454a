// Speed of seeing a real feeder: a jump to any row of the large feeder, and a repaint of the
// picture window on the IEEE 8500-node feeder at 1920 x 1080. See docs/performance.md.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QPainter>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <unistd.h>

#include "run/pass_driver.hpp"
#include "run/row_jump.hpp"
#include "core/trace.hpp"
#include "import/network.hpp"
#include "output/canvas.hpp"
#include "output/frame_picture.hpp"
#include "output/output_file.hpp"
#include "output/profile_picture.hpp"
#include "model/row_part.hpp"
#include "run/export_run.hpp"
#include "run/recolour.hpp"
#include "model/voltages.hpp"
#include "model/sky_field.hpp"
#include "core/fingerprint.hpp"
#include "scenario/sensor.hpp"
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

// The 8500-node feeder under its own one-second sky (2,913 rows), with voltage tables as a study
// brings them back: each bus's lowest and highest wandering with the row around where it stands
// on the feeder, a few buses out of range A, and its distance from the source.
const fs::path& feeder_8500_voltages()
{
    static const Folder folder = [] {
        Folder made("umbrascope-bench-8500-voltages-");
        const fs::path source = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500";
        import::DiskFiles files;
        std::string why;
        const import::Network network = import::join_network(
            import::read_coordinates(*files.read(source / "Buscoords.dss", why), "Buscoords.dss", import::Degrees::none),
            import::read_circuit(source / "Master.dss", files));
        write_file(made.path / network_file_name, import::network_file_text(network, "Master.dss"));
        const scenario::NetworkBuses buses = scenario::read_network_buses(made.path);
        const scenario::SensorSeries series =
            scenario::read_sensor(*files.read(source / "Normalized-1s-2900-pts.CSV", why), "sensor");
        scenario::SensorSky sky;
        sky.metres_per_unit = 0.3048;
        sky.speed = 10;
        sky.at = buses.places[buses.places.size() / 2];
        sky.rows = static_cast<int>(series.values.size());
        const scenario::SunTable table = scenario::sensor_sun(buses.places, series, sky);
        write_file(made.path / sun_table_file_name,
                   scenario::sun_table_text(table, scenario::SunHeader{"the sensor", "", 1, buses.names}));
        // The field the sky was made from, kept aside for the shaded folder below.
        SkyField field = scenario::sky_field(series, sky);
        field.sky_fingerprint = file_fingerprint(made.path / sun_table_file_name).value_or("");
        write_file(made.path / "field.kept", sky_field_text(field));
        scenario::DriftOptions options;
        options.clouds = 0;
        options.steps = table.rows;
        const scenario::Drift drift = scenario::drifting_clouds(buses.places, options);
        write_file(made.path / track_file_name, scenario::track_text(drift.track, drift.about, drift.decimals));
        const scenario::Place origin = buses.places.front();
        std::string low = "L\nM\nB\nOne row every 1 second\nC\ntime";
        std::string high = low;
        std::string report = "bus,distance_km,lowest\n";
        for (std::size_t b = 0; b < buses.names.size(); ++b) {
            low += "," + buses.names[b];
            high += "," + buses.names[b];
            const double d = std::hypot(buses.places[b].x - origin.x, buses.places[b].y - origin.y) * 0.3048 / 1000;
            report += buses.names[b] + "," + std::to_string(d) + ",\n";
        }
        low += "\n";
        high += "\n";
        char cell[32];
        for (int row = 1; row <= table.rows; ++row) {
            low += std::to_string(row - 1);
            high += std::to_string(row - 1);
            for (int b = 0; b < table.buses; ++b) {
                const double v = 0.985 + 0.07 * (static_cast<double>(table.at(row - 1, b)) / 1000 - 0.75) - 0.00001 * b;
                std::snprintf(cell, sizeof cell, ",%.4f", v);
                low += cell;
                std::snprintf(cell, sizeof cell, ",%.4f", v + 0.012);
                high += cell;
            }
            low += "\n";
            high += "\n";
        }
        write_file(made.path / lowest_voltage_file_name, low);
        write_file(made.path / highest_voltage_file_name, high);
        write_file(made.path / voltage_report_file_name, report);
        return made;
    }();
    return folder.path;
}

// The same folder with its measured sky's field beside the sun table, as umbrascope-clouds writes
// it, so that pictures shade the map's white by the sky.
const fs::path& feeder_8500_shaded()
{
    static const Folder folder = [] {
        Folder made("umbrascope-bench-8500-shaded-");
        for (const fs::directory_entry& entry : fs::directory_iterator(feeder_8500_voltages()))
            fs::copy(entry.path(), made.path / entry.path().filename());
        fs::rename(made.path / "field.kept", made.path / sky_field_name);
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

// The folder of the voltage benchmarks: UMBRASCOPE_VOLTAGE_FOLDER where set (a part of a day at
// one second, 32,766 rows, say), else the 8500-node feeder's sky with its made-up voltage tables.
const fs::path& voltage_folder()
{
    static const fs::path folder = [] {
        const char* named = std::getenv("UMBRASCOPE_VOLTAGE_FOLDER");
        return named != nullptr ? fs::path(named) : feeder_8500_voltages();
    }();
    return folder;
}

// The window on the 8500-node feeder by voltage: its passes through the recolouring surface, the
// tables read and checked, and the picture window's 1920 x 1080 frame with the voltage band.
struct VoltageSession {
    VoltageSession()
        : session(voltage_folder()),
          recolour(session.both, session.st.get()),
          pass{*session.st, session.input, session.controls, recolour},
          voltages(RunVoltages::read(voltage_folder()))
    {
        run_pass(pass);
        voltages.check(*session.st);
        index = std::make_unique<TrackIndex>(voltage_folder(), *session.st);
        options.annotate = true;
        options.width = 1920;
        options.height = 1080;
        options.voltages = &voltages;
        options.bus_spacing = bus_spacing(*session.st);
    }
    void repaint(int row)
    {
        options.by_voltage = recolour.colouring() != nullptr;
        draw_picture_frame(frame, session.picture, FrameFacts{*session.st, row}, options);
    }
    Session session;
    RecolourSurface recolour;
    Pass pass;
    RunVoltages voltages;
    std::unique_ptr<TrackIndex> index;
    FrameOptions options;
    QImage frame;
};

// Switching the colouring as the window does it: the row shown drawn again in the other colours,
// then the picture window's repaint.
void switch_colouring_8500_node_feeder(benchmark::State& state)
{
    VoltageSession v;
    const int row = 1492;
    bool by_voltage = false;
    for (auto _ : state) {
        by_voltage = !by_voltage;
        v.recolour.set_colouring(by_voltage ? &v.voltages : nullptr);
        jump_to_row(v.pass, *v.index, row);
        v.repaint(row);
    }
}
BENCHMARK(switch_colouring_8500_node_feeder)->Unit(benchmark::kMillisecond);

// A jump to any row by voltage, with the picture window's repaint.
void jump_by_voltage_8500_node_feeder(benchmark::State& state)
{
    VoltageSession v;
    v.recolour.set_colouring(&v.voltages);
    const int rows = v.session.st->n_time.value();
    int row = 1;
    for (auto _ : state) {
        row = (row * 37 + 1001) % rows + 1;
        jump_to_row(v.pass, *v.index, row);
        v.repaint(row);
    }
}
BENCHMARK(jump_by_voltage_8500_node_feeder)->Unit(benchmark::kMillisecond);

// The profile window's repaint at 1920 x 1080.
void profile_repaint_8500_node_feeder(benchmark::State& state)
{
    VoltageSession v;
    const std::vector<ProfileSegment> segments = profile_segments(*v.session.st, v.voltages);
    const ProfileAxes axes = profile_extent(v.voltages);
    QImage image(1920, 1080, QImage::Format_RGB32);
    int row = 1;
    for (auto _ : state) {
        row = (row * 37 + 1001) % v.voltages.rows() + 1;
        QPainter painter(&image);
        paint_profile(painter, QRectF(0, 0, 1920, 1080), v.voltages, segments, row, axes, 1.0);
    }
}
BENCHMARK(profile_repaint_8500_node_feeder)->Unit(benchmark::kMillisecond);

// The two tables (2,913 rows of 2,476 buses, 88 MB) read when a folder opens.
void read_voltages_8500_node_feeder(benchmark::State& state)
{
    (void)feeder_8500_voltages();
    for (auto _ : state)
        benchmark::DoNotOptimize(RunVoltages::read(feeder_8500_voltages()).rows());
}
BENCHMARK(read_voltages_8500_node_feeder)->Unit(benchmark::kMillisecond);

// Runs the export of `plan` an iteration, counting the time a frame.
void film(benchmark::State& state, const ExportPlan& plan)
{
    double frame_ms = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const ExportResult result = export_run(plan, {});
        frame_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                   std::max(1, result.passes - plan.first_row + 1);
    }
    state.counters["frame_ms"] = frame_ms;
}

// A film by voltage with the profile beside the map, 1920 x 1080, of rows 1401 to 1700 of the
// sky; docs/performance.md sets it against ffmpeg encoding the same frames from PNG.
void film_with_profile_8500_node_feeder(benchmark::State& state)
{
    Folder out("umbrascope-bench-profile-film-");
    ExportPlan plan;
    plan.input = feeder_8500_voltages();
    plan.large = true;
    plan.frame.width = 1920;
    plan.frame.height = 1080;
    plan.frame.annotate = true;
    plan.frame.by_voltage = true;
    plan.frame.profile = true;
    plan.first_row = 1401;
    plan.last_pass = 1700;
    plan.animation = out.path / "run.mp4";
    film(state, plan);
}
BENCHMARK(film_with_profile_8500_node_feeder)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// A film of rows 1401 to 1700 of the sky, coloured by class, 1920 x 1080, without the shade
// (shade:0) and with the map's white shaded by the sky's field drifting with the wind (shade:1).
void film_shade_8500_node_feeder(benchmark::State& state)
{
    Folder out("umbrascope-bench-shade-film-");
    ExportPlan plan;
    plan.input = state.range(0) != 0 ? feeder_8500_shaded() : feeder_8500_voltages();
    plan.large = true;
    plan.frame.width = 1920;
    plan.frame.height = 1080;
    plan.frame.annotate = true;
    plan.first_row = 1401;
    plan.last_pass = 1700;
    plan.animation = out.path / "run.mp4";
    film(state, plan);
}
BENCHMARK(film_shade_8500_node_feeder)->ArgName("shade")->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

// A film of an hour of a day at one second (UMBRASCOPE_DAY_FOLDER, as bench/day_bench leaves it:
// rows 36001 to 39600, 10:00 to 11:00), by voltage with the band, 1280 x 720: as a part of the day
// (part:1, the part cut first, as umbrascope-export --rows 36001:39600 does), and from a folder
// holding those rows alone (part:0), the film of a sky of an hour as it was made before.
void film_of_an_hour_of_a_day(benchmark::State& state)
{
    const char* day = std::getenv("UMBRASCOPE_DAY_FOLDER");
    if (day == nullptr) {
        state.SkipWithError("set UMBRASCOPE_DAY_FOLDER to a folder of a day's sky and study");
        return;
    }
    Folder out("umbrascope-bench-hour-");
    ExportPlan plan;
    plan.large = true;
    plan.frame.width = 1280;
    plan.frame.height = 720;
    plan.frame.annotate = true;
    plan.frame.by_voltage = true;
    plan.last_pass = 3600;
    plan.animation = out.path / "hour.mp4";
    // The hour on its own, made once, before the clock.
    const fs::path alone = out.path / "hour";
    {
        const RowPart part(day, 36001, 39600);
        fs::copy(part.path(), alone, fs::copy_options::recursive);
        fs::remove(alone / std::string(part_file_name));
    }
    double frame_ms = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        std::optional<RowPart> part;
        if (state.range(0) != 0) {
            part.emplace(day, 36001, 39600);
            plan.input = part->path();
            plan.row_offset = 36000;
        } else {
            plan.input = alone;
        }
        const ExportResult result = export_run(plan, {});
        frame_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
                   std::max(1, result.passes);
    }
    state.counters["frame_ms"] = frame_ms;
}
BENCHMARK(film_of_an_hour_of_a_day)->ArgName("part")->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

// The folder the page benchmarks read: UMBRASCOPE_PAGE_FOLDER where set (a study brought back from
// the engine, say), else the 8500-node feeder's sky with its made-up voltage tables.
fs::path page_folder()
{
    const char* named = std::getenv("UMBRASCOPE_PAGE_FOLDER");
    return named != nullptr ? fs::path(named) : feeder_8500_shaded();
}

// The whole run written as one page, as umbrascope-export --animation study.html writes it.
void page_8500_node_feeder(benchmark::State& state)
{
    Folder out("umbrascope-bench-page-");
    ExportPlan plan;
    plan.input = page_folder();
    plan.large = true;
    plan.animation = out.path / "study.html";
    for (auto _ : state)
        benchmark::DoNotOptimize(export_run(plan, {}).passes);
    state.counters["MB"] = static_cast<double>(fs::file_size(out.path / "study.html")) / 1e6;
}
BENCHMARK(page_8500_node_feeder)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the page is held to: gzip -6 of the folder's three tables, the sun table and the two
// voltage tables, one after the other.
void gzip_tables_8500_node_feeder(benchmark::State& state)
{
    const fs::path folder = page_folder();
    std::string command;
    for (const std::string_view name : {sun_table_file_name, lowest_voltage_file_name, highest_voltage_file_name})
        command += "gzip -6 -c '" + (folder / name).string() + "' > /dev/null && ";
    command += "true";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("gzip failed");
}
BENCHMARK(gzip_tables_8500_node_feeder)->Unit(benchmark::kMillisecond)->UseRealTime();

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

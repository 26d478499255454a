// The window's first pass on the large feeder with large inputs: the same pass as first_pass/1 in
// passes_bench, plus what the window adds, the list boxes' echo and the error report. Run on the
// offscreen platform (QT_QPA_PLATFORM=offscreen). See docs/performance.md.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChartView>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "app/bus_chart.hpp"
#include "app/form1.hpp"
#include "app/picture_window.hpp"
#include "app/viewer.hpp"
#include "tools/limits.hpp"

namespace {

namespace fs = std::filesystem;

struct LargeFolder {
    LargeFolder() : path(fs::temp_directory_path() / ("umbrascope-window-bench-" + std::to_string(::getpid())))
    {
        fs::create_directories(path);
        umbrascope::tools::LimitOptions options;
        options.large = true;
        umbrascope::tools::write_limit_inputs(path, options);
    }
    ~LargeFolder()
    {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

const fs::path& large_folder()
{
    static const LargeFolder folder;
    return folder.path;
}

void window_first_pass(benchmark::State& state)
{
    (void)large_folder();
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<umbrascope::Form1>(large_folder(), true);
        form->show();
        QApplication::processEvents();
        state.ResumeTiming();
        form->Coordinates_Command_Button_Click();
        QApplication::processEvents();  // the list boxes lay out and paint what arrived
        state.PauseTiming();
        form.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(window_first_pass)->Unit(benchmark::kMillisecond)->Iterations(3);

// A sky longer than a run (UMBRASCOPE_DAY_FOLDER: a day at one second with its study's tables, as
// bench/day_bench leaves it), opened as `umbrascope --large FOLDER` opens it: the viewer cuts its
// first part and reads the part's voltages and controls (the window shown), then the first pass
// reads the part's sun table (the first picture).
void window_opens_a_day(benchmark::State& state)
{
    const char* day = std::getenv("UMBRASCOPE_DAY_FOLDER");
    if (day == nullptr) {
        state.SkipWithError("set UMBRASCOPE_DAY_FOLDER to a folder of a day's sky and study");
        return;
    }
    double shown_s = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        auto form = std::make_unique<umbrascope::Form1>(day, true);
        auto viewer = std::make_unique<umbrascope::Viewer>(*form);
        form->show();
        QApplication::processEvents();
        shown_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        form->click();
        QApplication::processEvents();
        state.PauseTiming();
        viewer.reset();
        form.reset();
        state.ResumeTiming();
    }
    state.counters["window_shown_s"] = shown_s;
}
BENCHMARK(window_opens_a_day)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1)->Repetitions(3);

// The repaints of the widgets that draw every row, at a part's full 32,766 rows of the day
// (UMBRASCOPE_DAY_FOLDER): the picture window's timeline, its groove split by voltage with the
// controls' marks, at 1920 pixels; a bus's chart of every row, made and then repainted as the
// cursor moves; a regulator's chart, made. The iteration is the timeline's repaint.
void day_part_repaints(benchmark::State& state)
{
    const char* day = std::getenv("UMBRASCOPE_DAY_FOLDER");
    if (day == nullptr) {
        state.SkipWithError("set UMBRASCOPE_DAY_FOLDER to a folder of a day's sky and study");
        return;
    }
    using clock = std::chrono::steady_clock;
    const auto ms_since = [](clock::time_point start) {
        return std::chrono::duration<double, std::milli>(clock::now() - start).count();
    };
    auto form = std::make_unique<umbrascope::Form1>(day, true);
    auto viewer = std::make_unique<umbrascope::Viewer>(*form);
    form->show();
    QApplication::processEvents();
    form->click();
    QApplication::processEvents();
    viewer->set_by_voltage(true);
    viewer->show_picture_window();
    umbrascope::PictureWindow* window = viewer->picture_window();
    window->resize(1920, 1080);
    QApplication::processEvents();
    umbrascope::Timeline* timeline = window->timeline();
    if (!timeline->split() || timeline->rows() < 32766) {
        state.SkipWithError("the folder's first part has no voltages, or fewer than 32,766 rows");
        return;
    }
    for (auto _ : state)
        timeline->repaint();

    auto start = clock::now();
    viewer->show_chart(0, false);
    QApplication::processEvents();
    state.counters["bus_chart_made_ms"] = ms_since(start);
    umbrascope::BusChart* chart = viewer->chart();
    chart->resize(1280, 720);
    QApplication::processEvents();
    constexpr int moves = 20;
    start = clock::now();
    for (int k = 0; k < moves; ++k) {
        chart->refresh();
        chart->chart_view()->viewport()->repaint();
    }
    state.counters["bus_chart_repaint_ms"] = ms_since(start) / moves;
    start = clock::now();
    viewer->show_control_chart(0);
    QApplication::processEvents();
    state.counters["control_chart_made_ms"] = ms_since(start);
    state.counters["rows"] = timeline->rows();
    viewer.reset();
    form.reset();
}
BENCHMARK(day_part_repaints)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

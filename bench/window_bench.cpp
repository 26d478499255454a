// The window's first pass on the large feeder with large inputs: the same pass as first_pass/1 in
// passes_bench, plus what the window adds, the list boxes' echo and the error report. Run on the
// offscreen platform (QT_QPA_PLATFORM=offscreen). See docs/performance.md.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <filesystem>
#include <memory>
#include <unistd.h>

#include "app/form1.hpp"
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

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

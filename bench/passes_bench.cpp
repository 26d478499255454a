// Speed of the passes on inputs at the system's limits, and on the large feeder with large inputs,
// on the raster surface the window uses at 15 twips per pixel. See docs/performance.md for the
// figures and how to reproduce them.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "output/canvas.hpp"
#include "run/pass_driver.hpp"
#include "core/layout.hpp"
#include "core/trace.hpp"
#include "output/animation_writer.hpp"
#include "output/frame_picture.hpp"
#include "output/png_writer.hpp"
#include "tools/limits.hpp"

namespace {

using namespace umbrascope;
namespace fs = std::filesystem;

fs::path make_folder(bool large)
{
    fs::path path = fs::temp_directory_path() /
                    ("umbrascope-bench-" + std::string(large ? "large-" : "") + std::to_string(::getpid()));
    fs::create_directories(path);
    tools::LimitOptions options;
    options.large = large;
    tools::write_limit_inputs(path, options);
    return path;
}

// Written once, on first use, and removed at exit.
const fs::path& limit_folder(bool large)
{
    struct Folder {
        explicit Folder(bool large) : path(make_folder(large)) {}
        ~Folder()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
        fs::path path;
    };
    if (large) {
        static const Folder folder(true);
        return folder.path;
    }
    static const Folder folder(false);
    return folder.path;
}

// One window's worth of state: run state, input slot, controls and the retained picture.
struct Session {
    explicit Session(bool large = false)
        : input(limit_folder(large)), st(std::make_unique<RunState>(large)), pass{*st, input, controls, canvas}
    {
    }
    InputSlot input;
    std::unique_ptr<RunState> st;
    RecordingControls controls;
    Canvas canvas{1.0};
    Pass pass;
};

// state.range(0): 1 for the large feeder with large inputs.
void first_pass(benchmark::State& state)
{
    const bool large = state.range(0) != 0;
    (void)limit_folder(large);
    for (auto _ : state) {
        state.PauseTiming();
        auto session = std::make_unique<Session>(large);
        state.ResumeTiming();
        run_pass(session->pass);
        benchmark::DoNotOptimize(session->st->n_time);
        state.PauseTiming();
        session.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(first_pass)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(first_pass)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// `wc -l` over the same three files, the yardstick for the first pass: the system's own program,
// started and waited for, with the files in the page cache from the passes before.
void wc_l(benchmark::State& state)
{
    const fs::path& folder = limit_folder(state.range(0) != 0);
    std::vector<std::string> words = {"wc", "-l"};
    for (const std::string_view name : {network_file_name, sun_table_file_name, track_file_name})
        words.push_back((folder / std::string(name)).string());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t child = 0;
        int status = 0;
        if (posix_spawnp(&child, "wc", &actions, nullptr, argv.data(), environ) != 0 ||
            waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("wc -l could not be run");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(wc_l)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(wc_l)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void steady_pass(benchmark::State& state)
{
    const bool large = state.range(0) != 0;
    auto session = std::make_unique<Session>(large);
    run_pass(session->pass);
    for (auto _ : state) {
        if (!session->controls.timer_enabled) {  // the animation ended: start a new one
            state.PauseTiming();
            session = std::make_unique<Session>(large);
            run_pass(session->pass);
            state.ResumeTiming();
        }
        run_pass(session->pass);
    }
}
BENCHMARK(steady_pass)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(steady_pass)->Arg(1)->Unit(benchmark::kMicrosecond);

void frame_fill(benchmark::State& state)
{
    Canvas canvas(1.0);
    const LineEnds left = layout::design_ends(LineControl::Line_Left);
    const LineEnds right = layout::design_ends(LineControl::Line_Right);
    for (auto _ : state) {
        canvas.fill_box(left.X1 - 20, left.Y1 - 20, right.X2 + 20, right.Y2 + 20, palette(15));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(frame_fill)->Unit(benchmark::kMicrosecond);

void text_to_number(benchmark::State& state)
{
    const Text fields[] = {U"0.5", U" 0.125 ", U"1000", U"-3.75", U"0.9900", U"12345.678", U"1e-3", U"42"};
    const Site site{"bench", 1, 1};
    for (auto _ : state) {
        for (const Text& field : fields)
            benchmark::DoNotOptimize(text_to_single(field, site));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(std::size(fields)));
}
BENCHMARK(text_to_number);

}  // namespace

// A steady pass, then its frame as the exporter writes it: composed, indexed and encoded.
template <class Encode>
void frame_export(benchmark::State& state, Encode&& encode)
{
    auto session = std::make_unique<Session>();
    run_pass(session->pass);
    IndexedFrame indexed;
    for (auto _ : state) {
        if (!session->controls.timer_enabled) {
            state.PauseTiming();
            session = std::make_unique<Session>();  // a fresh run once the animation ends
            run_pass(session->pass);
            state.ResumeTiming();
        }
        run_pass(session->pass);
        compose_indexed_frame(session->canvas, FrameFacts{*session->st, shown_row(*session->st, false)}, {}, indexed);
        encode(indexed);
    }
}

void png_encode(benchmark::State& state)
{
    Session session;
    run_pass(session.pass);
    IndexedFrame indexed;
    compose_indexed_frame(session.canvas, FrameFacts{*session.st, 1}, {}, indexed);
    for (auto _ : state)
        benchmark::DoNotOptimize(encode_png(indexed));
}
BENCHMARK(png_encode)->Unit(benchmark::kMicrosecond);

void frame_compose(benchmark::State& state)
{
    Session session;
    run_pass(session.pass);
    IndexedFrame indexed;
    for (auto _ : state)
        compose_indexed_frame(session.canvas, FrameFacts{*session.st, 1}, {}, indexed);
}
BENCHMARK(frame_compose)->Unit(benchmark::kMicrosecond);

void png_frame(benchmark::State& state)
{
    frame_export(state, [](const IndexedFrame& frame) { benchmark::DoNotOptimize(encode_png(frame)); });
}
BENCHMARK(png_frame)->Unit(benchmark::kMicrosecond);

void animation_frame(benchmark::State& state, const char* name)
{
    const fs::path path = limit_folder(false) / name;
    const QRect crop = frame_pixels(1.0);
    AnimationWriter writer(path, crop.width(), crop.height(), 10);
    frame_export(state, [&writer](const IndexedFrame& frame) { writer.add(frame); });
    writer.finish();
}
BENCHMARK_CAPTURE(animation_frame, gif, "bench.gif")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(animation_frame, mp4, "bench.mp4")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

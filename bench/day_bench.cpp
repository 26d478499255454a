// A whole day at one second on the IEEE 8500-node feeder with 117 PV systems of 40 kW, spread
// evenly over its loads, under the measured day of tests/data/sky/one-day-1s-site1.csv (43,201
// rows) and the sun's course: writing the study in 12 slices; the engine's day whole and in 12
// slices of 600 s overlap with 2 engines (sweep run --jobs 2), and one slice alone and beside a
// copy of itself; and read of the day's exports,
// whole and stitched, beside cat | wc -l of the same files. The work stays in
// UMBRASCOPE_DAY_WORK (default /tmp/umbrascope-day-bench): the engine's runs take tens of minutes
// and are kept for the next run of the benchmarks, which skips what is there. The engine is
// UMBRASCOPE_OPENDSS (default ../shared/opendss/dss); without it those benchmarks are skipped.
// See docs/performance.md.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.hpp"
#include "core/words.hpp"
#include "study/plan.hpp"
#include "study/slices.hpp"
#include "study/study.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::bench;
namespace fs = std::filesystem;

struct Day {
    fs::path work;
    fs::path folder;
    bool made = false;

    Day()
    {
        const char* named = std::getenv("UMBRASCOPE_DAY_WORK");
        work = named != nullptr ? fs::path(named) : fs::temp_directory_path() / "umbrascope-day-bench";
        folder = work / "feeder";
        if (fs::exists(folder / "sun.dss") && fs::exists(folder / study::map_name)) {
            made = true;
            return;
        }
        fs::remove_all(work);
        fs::create_directories(work / "study");
        fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500", work / "study", fs::copy_options::recursive);
        for (const char* name : {"LineCodes2", "Triplex_Lines", "CapControls"})
            fs::create_symlink(std::string(name) + ".DSS", work / "study" / (std::string(name) + ".dss"));
        std::vector<std::string> buses;
        std::istringstream loads(slurp(work / "study/Loads.dss"));
        for (std::string line; std::getline(loads, line);) {
            if (lower(line).rfind("new load", 0) != 0)
                continue;
            const std::size_t at = lower(line).find("bus1=");
            buses.push_back(line.substr(at + 5, line.find_first_of(" \t", at) - at - 5));
        }
        std::string study = "Redirect Master.dss\n";
        for (int k = 0; k < 117; ++k)
            study += "New PVSystem.pv" + std::to_string(k + 1) + " phases=2 bus1=" +
                     buses[static_cast<std::size_t>(std::lround(k * (static_cast<double>(buses.size()) - 1) / 116))] +
                     " kV=0.208 kVA=44 Pmpp=40 irradiance=1\n";
        std::ofstream(work / "study/Study.dss", std::ios::binary) << study;
        made = run(std::string(UMBRASCOPE_IMPORT) + " " + quote(work / "study/Study.dss") + " " + quote(folder)) &&
               run(std::string(UMBRASCOPE_CLOUDS) + " --units ft --wind 5,270 --from-sensor " +
                   quote(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/sky/one-day-1s-site1.csv") +
                   " --sensor-interval 1 --sensor-scale 500 --site 35.96,-83.92,270 --date 2026-06-21 --utc-offset "
                   "-04:00 --loadshapes " + quote(folder / "sun.dss") + " " + quote(folder)) &&
               run(std::string(UMBRASCOPE_STUDY) + " write " + quote(folder) + " --loadshapes " +
                   quote(folder / "sun.dss") + " --slices 12 --overlap 600");
    }
};

const Day& day()
{
    static const Day made;
    return made;
}

const char* const no_engine = "no OpenDSS engine runs at UMBRASCOPE_OPENDSS (default ../shared/opendss/dss): skipped";

// The study in 12 slices, as umbrascope-study write --slices 12 writes it (without the sweep's
// files of the slices, which the program adds).
void write_day_in_slices(benchmark::State& state)
{
    const Day& made = day();
    if (!made.made) {
        state.SkipWithError("the day could not be made");
        return;
    }
    study::WriteOptions options{made.folder, made.folder / "sun.dss", true};
    options.slices = 12;
    options.overlap = 600;
    for (auto _ : state)
        benchmark::DoNotOptimize(study::write_study(options).slices.size());
}
BENCHMARK(write_day_in_slices)->Unit(benchmark::kMillisecond)->UseRealTime();

// The engine's day: whole (sliced:0), or the 12 slices in a local pool of 2 engines (sliced:1).
// Run once where its exports are not there yet; otherwise skipped, the figures being those of
// that run.
void engine_day(benchmark::State& state)
{
    const Day& made = day();
    if (!made.made || !engine_runs()) {
        state.SkipWithError(no_engine);
        return;
    }
    const bool sliced = state.range(0) != 0;
    const std::optional<study::Slicing> slicing = study::read_slicing(made.folder);
    const fs::path done = sliced ? study::slice_folder(made.folder, 12, 12) / "status"
                                 : made.folder / "results" / study::end_marker_name(slicing->run);
    if (fs::exists(done)) {
        state.SkipWithError("run before: its exports are kept (remove them to run it again)");
        return;
    }
    const std::string command =
        sliced ? std::string(UMBRASCOPE_STUDY) + " sweep run " + quote(made.folder) + " --jobs 2 --engine \"" + quote(engine()) +
                     " {script}\""
               : quote(engine()) + " " + quote(made.folder / "study.dss");
    for (auto _ : state)
        if (!run(command))
            state.SkipWithError("the engine failed on the day");
}
BENCHMARK(engine_day)->ArgName("sliced")->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// One slice's engine run (slice 5, 04:00 to 05:00, its overlap and exports) alone (engines:1),
// and beside a copy of itself (engines:2): what two engines on two cores cost each other, apart
// from anything the slicing adds. Each copy exports into a folder of its own.
void engine_side_by_side(benchmark::State& state)
{
    const Day& made = day();
    if (!made.made || !engine_runs()) {
        state.SkipWithError(no_engine);
        return;
    }
    const fs::path slice = study::slice_folder(made.folder, 5, 12);
    const std::string script = slurp(slice / study::script_name);
    const std::string results = (slice / "results").string();
    std::string command = "(";
    for (int k = 0; k < state.range(0); ++k) {
        const fs::path at = made.work / ("side_by_side" + std::to_string(k + 1));
        fs::remove_all(at);
        fs::create_directories(at / "results");
        std::string copy = script;
        for (std::size_t found = copy.find(results); found != std::string::npos;
             found = copy.find(results, found + 1))
            copy.replace(found, results.size(), (at / "results").string());
        std::ofstream(at / study::script_name, std::ios::binary) << copy;
        command += quote(engine()) + " " + quote(at / study::script_name) + " > /dev/null & ";
    }
    command += "wait)";
    for (auto _ : state)
        if (!run(command))
            state.SkipWithError("the engine failed on the slice");
    for (int k = 0; k < state.range(0); ++k)
        fs::remove_all(made.work / ("side_by_side" + std::to_string(k + 1)));
}
BENCHMARK(engine_side_by_side)->ArgName("engines")->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

std::vector<fs::path> exports_of(const fs::path& folder, bool sliced)
{
    std::vector<fs::path> out;
    const auto add = [&](const fs::path& results) {
        for (const fs::directory_entry& entry : fs::directory_iterator(results))
            if (entry.path().extension() == ".csv")
                out.push_back(entry.path());
    };
    if (!sliced) {
        add(folder / "results");
    } else {
        for (int k = 1; k <= 12; ++k)
            add(study::slice_folder(folder, k, 12) / "results");
    }
    return out;
}

// read of the day's exports: whole (sliced:0, read --whole) or stitched from the slices (sliced:1).
void read_day(benchmark::State& state)
{
    const Day& made = day();
    const bool sliced = state.range(0) != 0;
    study::ReadOptions options{made.folder, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    options.whole = !sliced;
    try {
        (void)study::read_study(options);
    } catch (const std::exception& failure) {
        state.SkipWithError(failure.what());
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(study::read_study(options).summary.size());
}
BENCHMARK(read_day)->ArgName("sliced")->Arg(0)->Arg(1)->Iterations(1)->Repetitions(2)->Unit(benchmark::kSecond)->UseRealTime();

// The floor to compare read with: the same files through cat | wc -l.
void cat_wc_day(benchmark::State& state)
{
    const Day& made = day();
    const std::vector<fs::path> files = exports_of(made.folder, state.range(0) != 0);
    if (files.size() < 10) {
        state.SkipWithError("the day's exports are not there");
        return;
    }
    const fs::path list = made.work / "exports.txt";
    std::ofstream out(list);
    std::uintmax_t bytes = 0;
    for (const fs::path& file : files) {
        out << file.string() << '\n';
        bytes += fs::file_size(file);
    }
    out.close();
    const std::string command = "xargs -d '\\n' cat < " + quote(list) + " | wc -l";
    for (auto _ : state)
        if (!run(command))
            state.SkipWithError("cat | wc -l failed");
    state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(cat_wc_day)->ArgName("sliced")->Arg(0)->Arg(1)->Iterations(1)->Repetitions(2)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

// Speed of the sweep on the IEEE 8500-node feeder (its 1,177 loads the sites) under 60 rows of its
// own one-second sky: planning the field's matrix of 1,200 cases (40 levels x near, far and 28
// random seeds) and the base; what the sweep adds around the engine in a case (its share of the
// plan, read, status) against the engine's own time; the local pool with 1 and 2 engines over the
// same cases; and gathering 1,200 cases from their reports. The engine is UMBRASCOPE_OPENDSS
// (default ../shared/opendss/dss); where none runs, the benchmarks that need it say so and are
// skipped. A search by bus: the engine runs a bus takes against log2(K/R) + 3, and on the feeder
// the work around the engine of a whole search of two buses. See docs/performance.md.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/bench_support.hpp"
#include "sweep/cases.hpp"
#include "sweep/gather.hpp"
#include "sweep/locate.hpp"
#include "sweep/search.hpp"
#include "sweep/plan.hpp"
#include "sweep/runner.hpp"
#include "sweep/worker.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::bench;
using namespace umbrascope::sweep;
namespace fs = std::filesystem;

const fs::path feeder = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500";
const fs::path work = fs::temp_directory_path() / "umbrascope-sweep-bench";

// The feeder and its sky, made once.
fs::path sky()
{
    fs::path folder = work / "sky";
    if (fs::exists(folder / "sun.dss"))
        return folder;
    fs::remove_all(work);
    fs::create_directories(work);
    fs::copy(feeder, work / "circuit", fs::copy_options::recursive);
    for (const char* name : {"LineCodes2", "Triplex_Lines", "CapControls"})
        fs::create_symlink(fs::path(name) += ".DSS", work / "circuit" / (fs::path(name) += ".dss"));
    if (!run(quote(UMBRASCOPE_IMPORT) + " " + quote(work / "circuit/Master.dss") + " " + quote(folder)) ||
        !run(quote(UMBRASCOPE_CLOUDS) + " --units ft --wind 5,270 --from-sensor " +
             quote(feeder / "Normalized-1s-2900-pts.CSV") + " --sensor-interval 1 --steps 60 --start 11:00:00 --loadshapes " +
             quote(folder / "sun.dss") + " " + quote(folder)))
        fs::remove_all(folder);
    return folder;
}

PlanOptions field_matrix(const fs::path& sweep)
{
    PlanOptions options;
    options.sweep = sweep;
    options.circuit = work / "circuit/Master.dss";
    options.skies = {sky()};
    for (int level = 0; level <= 200; level += 5)
        options.levels.push_back(level);
    options.placements = {"near", "far", "random"};
    options.seeds = 28;
    return options;
}

void plan_1200_cases(benchmark::State& state)
{
    if (!fs::exists(sky() / "sun.dss")) {
        state.SkipWithError("the feeder's sky could not be made");
        return;
    }
    std::size_t cases = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(work / "plan");
        state.ResumeTiming();
        cases = plan_sweep(field_matrix(work / "plan")).cases.size();
    }
    state.counters["cases"] = static_cast<double>(cases);
}
BENCHMARK(plan_1200_cases)->Unit(benchmark::kSecond)->Iterations(2);

// Four cases of the feeder (its base and near at 10, 20 and 30 %), run by the local pool.
void local_pool(benchmark::State& state)
{
    if (!engine_runs()) {
        state.SkipWithError(("skipped: no OpenDSS engine runs at " + engine().string()).c_str());
        return;
    }
    std::string name = "pool";
    name += std::to_string(state.range(0));
    const fs::path sweep = work / name;
    PlanOptions options = field_matrix(sweep);
    options.levels = {0, 10, 20, 30};
    options.placements = {"near"};
    fs::remove_all(sweep);
    (void)plan_sweep(options);
    double engine_seconds = 0, case_seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (const Case& c : read_cases(sweep))
            fs::remove(case_folder(sweep, c.id) / "status");
        state.ResumeTiming();
        const LocalResult result =
            run_local(sweep, {static_cast<int>(state.range(0)), quote(engine()) + " {script}", 0}, [](const std::string&) {});
        if (result.failed > 0) {
            state.SkipWithError("a case failed: umbrascope-study sweep status names it");
            break;
        }
        state.PauseTiming();
        engine_seconds = case_seconds = 0;
        for (const Case& c : read_cases(sweep))
            if (const std::optional<Status> status = read_status(case_folder(sweep, c.id))) {
                engine_seconds += status->engine_seconds;
                case_seconds += status->seconds;
            }
        state.ResumeTiming();
    }
    // What the worker adds to the engine in a case: the read and the status.
    state.counters["engine_s"] = engine_seconds;
    state.counters["around_engine_pct"] = engine_seconds > 0 ? 100 * (case_seconds - engine_seconds) / engine_seconds : 0;
}
BENCHMARK(local_pool)->Arg(1)->Arg(2)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

// 1,200 cases done, each with the reports of a real case of the feeder.
void gather_1200_cases(benchmark::State& state)
{
    const fs::path pool = work / "pool2";
    const fs::path sweep = work / "plan";
    if (!fs::exists(sweep / "cases.csv") || !fs::exists(pool / "cases.csv")) {
        state.SkipWithError("run plan_1200_cases and local_pool first");
        return;
    }
    const std::vector<Case> done = read_cases(pool);
    const fs::path base = case_folder(pool, done[0].id);
    const fs::path other = case_folder(pool, done[2].id);
    for (const Case& c : read_cases(sweep)) {
        const fs::path folder = case_folder(sweep, c.id);
        for (const char* name : {"voltage_report.csv", "voltage_report_clear.csv", "controls_report.csv"})
            fs::copy_file((c.level_pct == 0 ? base : other) / name, folder / name, fs::copy_options::overwrite_existing);
        Status status;
        status.done = true;
        status.files = planned_fingerprint(folder).value_or("");
        write_whole(folder / "status", status_text(status), false);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(gather_sweep({sweep, false}).answered);
}
BENCHMARK(gather_1200_cases)->Unit(benchmark::kSecond)->Iterations(3);

}  // namespace

namespace {

// The engine runs a bus's search takes for a range of K/R sizes: the most over every threshold where
// the sky's and the clear sky's answers are the same, and over 2,000 pairs where they differ.
void locate_probes(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const SizeGrid grid{static_cast<double>(n), 1};
    const auto probes = [&](int sky, int clear) {
        std::map<int, bool> a, b;
        int count = 0;
        for (;;) {
            const Bracket x = bracket(grid, a, {}), y = bracket(grid, b, {});
            std::vector<int> next = x.next;
            next.insert(next.end(), y.next.begin(), y.next.end());
            std::sort(next.begin(), next.end());
            next.erase(std::unique(next.begin(), next.end()), next.end());
            if (next.empty())
                return count;
            for (const int step : next) {
                a[step] = step <= sky;
                b[step] = step <= clear;
                ++count;
            }
        }
    };
    int one = 0, two = 0;
    for (auto _ : state) {
        one = two = 0;
        for (int t = 0; t <= n; ++t)
            one = std::max(one, probes(t, t));
        std::mt19937 random(7);
        for (int k = 0; k < 2000; ++k)
            two = std::max(two, probes(static_cast<int>(random() % static_cast<unsigned>(n + 1)),
                                       static_cast<int>(random() % static_cast<unsigned>(n + 1))));
    }
    state.counters["K_over_R"] = n;
    state.counters["bound"] = std::floor(std::log2(n)) + 3;
    state.counters["most_runs_one_answer"] = one;
    state.counters["most_runs_two_answers"] = two;
}
BENCHMARK(locate_probes)->Arg(16)->Arg(64)->Arg(256)->Arg(1024)->Iterations(1);

// A whole search of two primary buses of the feeder, K = 2,000 kW, R = K/64, in the local pool:
// the engine's time, and ours around it (each case's read and status, each round's judging and
// planning, the answer and its map).
void locate_8500_two_buses(benchmark::State& state)
{
    if (!engine_runs()) {
        state.SkipWithError(("skipped: no OpenDSS engine runs at " + engine().string()).c_str());
        return;
    }
    if (!fs::exists(sky() / "sun.dss")) {
        state.SkipWithError("the feeder's sky could not be made");
        return;
    }
    const fs::path sweep = work / "locate";
    const fs::path buses = work / "locate_buses.txt";
    std::ofstream(buses) << "m1142818\nm1026797\n";
    double engine_seconds = 0, around = 0, rounds_seconds = 0;
    int cases = 0, rounds = 0;
    for (auto _ : state) {
        fs::remove_all(sweep);
        LocateOptions options;
        options.plan = field_matrix(sweep);
        options.plan.levels = {0};
        options.plan.placements = {"random"};
        options.plan.seeds = 1;
        options.buses = buses.string();
        options.max_kw = 2000;
        const auto planning = std::chrono::steady_clock::now();
        (void)plan_locate(options);
        rounds_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - planning).count();
        rounds = 0;
        for (;;) {
            const LocalResult ran = run_local(sweep, {2, quote(engine()) + " {script}", 0}, [](const std::string&) {});
            if (ran.failed > 0) {
                state.SkipWithError("a case failed: umbrascope-study sweep status names it");
                return;
            }
            const auto started = std::chrono::steady_clock::now();
            const SearchRound round = advance_search(sweep, true);
            rounds_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (round.planned == 0)
                break;
            ++rounds;
        }
        const auto started = std::chrono::steady_clock::now();
        (void)write_locate_report(sweep, false);
        rounds_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        engine_seconds = around = 0;
        cases = 0;
        for (const Case& c : read_cases(sweep))
            if (const std::optional<Status> status = read_status(case_folder(sweep, c.id))) {
                engine_seconds += status->engine_seconds;
                around += status->seconds - status->engine_seconds;
                ++cases;
            }
    }
    state.counters["cases"] = cases;
    state.counters["rounds"] = rounds;
    state.counters["engine_s"] = engine_seconds;
    state.counters["reads_s"] = around;
    state.counters["rounds_s"] = rounds_seconds;
    state.counters["around_engine_pct"] = engine_seconds > 0 ? 100 * (around + rounds_seconds) / engine_seconds : 0;
}
BENCHMARK(locate_8500_two_buses)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

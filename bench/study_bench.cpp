// Speed of the study on the IEEE 8500-node feeder with a PV system beside every tenth load (117),
// under its own one-second sky (2,913 rows), as the README builds it: writing the OpenDSS script;
// the engine's time for the study with the regulators', capacitors', head's and PV systems'
// monitors and without them; and reading back the engine's exports with the controls and
// without. The engine is the one at UMBRASCOPE_OPENDSS (default ../shared/opendss/dss); where
// none runs, the benchmarks that need it say so and are skipped. See docs/performance.md.

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "bench/bench_support.hpp"
#include "core/words.hpp"
#include "study/controls.hpp"
#include "study/exports.hpp"
#include "study/folder.hpp"
#include "study/plan.hpp"
#include "study/study.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::bench;
namespace fs = std::filesystem;

const fs::path feeder = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500";

// The links write_study asks for where the circuit names a file in another letter case, as the
// published circuit does, for the engine on a case-sensitive file system.
void link_other_case(const study::WriteResult& written)
{
    for (const std::string& link : written.other_case)
        (void)run(link);
}

// The circuit with its PV systems, imported, and its sky, as the README's commands make them.
struct Scenario {
    fs::path work = fs::temp_directory_path() / "umbrascope-study-bench";
    fs::path folder = work / "feeder";
    bool made = false;

    Scenario()
    {
        // Made by an earlier run of the benchmarks: kept, as the engine's run of it below is.
        if (fs::exists(folder / "sun.dss") && fs::exists(folder / study::map_name)) {
            made = true;
            return;
        }
        fs::remove_all(work);
        fs::create_directories(work);
        fs::copy(feeder, work / "circuit", fs::copy_options::recursive);
        std::istringstream loads(slurp(work / "circuit/Loads.dss"));
        std::string pv, line;
        for (int n = 0; std::getline(loads, line);) {
            std::istringstream words(line);
            std::string verb, name, word, bus;
            words >> verb >> name;
            if (lower(verb) != "new" || lower(name).rfind("load.", 0) != 0 || ++n % 10 != 0)
                continue;
            while (words >> word)
                if (lower(word).rfind("bus1=", 0) == 0)
                    bus = word.substr(5);
            pv += "New PVSystem.pv_" + name.substr(5) + " phases=1 bus1=" + bus + " kV=0.208 kVA=5 Pmpp=5 irradiance=1\n";
        }
        put(work / "circuit/PVSystems.dss", pv);
        put(work / "circuit/Study.dss", "Redirect Master.dss\nRedirect PVSystems.dss\n");
        made = run(std::string(UMBRASCOPE_IMPORT) + " " + quote(work / "circuit/Study.dss") + " " + quote(folder)) &&
               run(std::string(UMBRASCOPE_CLOUDS) + " --units ft --wind 10,270 --from-sensor " +
                   quote(work / "circuit/Normalized-1s-2900-pts.CSV") + " --sensor-interval 1 --loadshapes " +
                   quote(folder / "sun.dss") + " " + quote(folder));
    }
};

const Scenario& scenario_8500()
{
    static const Scenario made;
    return made;
}

// The study written and run by the engine once, with the twin, as a user runs it (an earlier run's
// exports of the same script are kept); and beside it a folder whose controls' map is empty,
// reading the same exports.
struct Studied {
    bool made = false;
    fs::path without = scenario_8500().work / "without";

    Studied()
    {
        const Scenario& scenario = scenario_8500();
        if (!scenario.made || !engine_runs())
            return;
        const study::WriteResult written = study::write_study({scenario.folder, scenario.folder / "sun.dss", true});
        link_other_case(written);
        if (!fs::exists(written.results / study::end_marker_name(written.run)) &&
            !run(quote(engine()) + " " + quote(written.script)))
            return;
        fs::remove_all(without);
        fs::create_directories(without);
        for (const fs::directory_entry& entry : fs::directory_iterator(scenario.folder))
            if (entry.is_regular_file())
                fs::copy(entry.path(), without / entry.path().filename());
        const std::string map = slurp(without / study::controls_map_name);
        put(without / study::controls_map_name, map.substr(0, map.find('\n') + 1));
        made = true;
    }
};

const Studied& studied_8500()
{
    static const Studied made;
    return made;
}

// Whether a line of the script makes or exports a monitor of a control, the head or a PV system
// (named "<run>_tap1", "<run>_cap1", "<run>_head", "<run>_pv1"), or exports the taps.
bool watches_a_control(const std::string& line, const std::string& run)
{
    if (line.rfind("export taps", 0) == 0)
        return true;
    for (std::size_t at = line.find(run + "_"); at != std::string::npos; at = line.find(run + "_", at + 1)) {
        const std::string rest = line.substr(at + run.size() + 1);
        for (const char* kind : {"tap", "cap", "pv"}) {
            const std::size_t n = std::string(kind).size();
            if (rest.rfind(kind, 0) == 0 && rest.size() > n && std::isdigit(static_cast<unsigned char>(rest[n])) != 0)
                return true;
        }
        if (rest.rfind("head", 0) == 0 && (rest.size() == 4 || std::isalnum(static_cast<unsigned char>(rest[4])) == 0))
            return true;
    }
    return false;
}

const char* const no_engine = "no OpenDSS engine runs at UMBRASCOPE_OPENDSS (default ../shared/opendss/dss): skipped";

// From the folder and the circuit to study.dss and its maps, as umbrascope-study write does it.
void write_8500_study(benchmark::State& state)
{
    const Scenario& made = scenario_8500();
    if (!made.made) {
        state.SkipWithError("the scenario could not be made");
        return;
    }
    for (auto _ : state) {
        const study::WriteResult result = study::write_study({made.folder, made.folder / "sun.dss", true});
        benchmark::DoNotOptimize(result.monitors);
    }
}
BENCHMARK(write_8500_study)->Unit(benchmark::kMillisecond);

// The engine's time for the study without the twin, with the controls' monitors (and the taps'
// export) and with them taken out of the same script.
void engine_8500_study(benchmark::State& state)
{
    const Scenario& made = scenario_8500();
    if (!made.made || !engine_runs()) {
        state.SkipWithError(no_engine);
        return;
    }
    const bool controls = state.range(0) != 0;
    const fs::path folder = made.work / (controls ? "engine_with" : "engine_without");
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const fs::directory_entry& entry : fs::directory_iterator(made.folder))
        if (entry.is_regular_file())
            fs::copy(entry.path(), folder / entry.path().filename());
    const study::WriteResult written = study::write_study({folder, folder / "sun.dss", false});
    link_other_case(written);
    if (!controls) {
        std::istringstream script(slurp(written.script));
        std::string kept, line;
        while (std::getline(script, line))
            if (!watches_a_control(lower(line), lower(written.run)))
                kept += line + "\n";
        put(written.script, kept);
    }
    const std::string command = quote(engine()) + " " + quote(written.script);
    for (auto _ : state)
        if (!run(command))
            state.SkipWithError("the engine failed on the study");
}
BENCHMARK(engine_8500_study)->ArgName("controls")->Arg(1)->Arg(0)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

// The engine's 3,636 voltage monitors' exports (about 512 MB) into the two tables and the report,
// with the controls' exports and their report (controls:1) and without them (controls:0).
void read_8500_study(benchmark::State& state)
{
    const Studied& made = studied_8500();
    if (!made.made) {
        state.SkipWithError(no_engine);
        return;
    }
    const Scenario& scenario = scenario_8500();
    study::ReadOptions options{scenario.folder, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    if (state.range(0) == 0) {
        options.folder = made.without;
        options.results = scenario.folder / "results";
    }
    for (auto _ : state) {
        const study::ReadResult result = study::read_study(options);
        benchmark::DoNotOptimize(result.summary.data());
    }
}
BENCHMARK(read_8500_study)->ArgName("controls")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The controls' part of that read alone: the regulators', capacitors', head's and PV systems'
// exports under the sky and under the clear sky (278 files, 43 MB) into their series.
void read_8500_controls(benchmark::State& state)
{
    const Studied& made = studied_8500();
    if (!made.made) {
        state.SkipWithError(no_engine);
        return;
    }
    const fs::path folder = scenario_8500().folder;
    const study::ResultsFolder results(folder / "results", "ieee8500");
    const std::vector<study::ControlWatch> watches = study::read_controls_map(folder / study::controls_map_name);
    const std::string run = watches.front().monitor.substr(0, 23);  // "study_<sky>_<script>"
    const study::Sky sky = study::read_sky(folder);
    for (auto _ : state)
        benchmark::DoNotOptimize(study::read_controls(results, run, watches, sky).sky.controls.size());
}
BENCHMARK(read_8500_controls)->Unit(benchmark::kMillisecond)->UseRealTime();


// The same feeder under the first 60 rows of its sky, studied with the twin as a user runs it, its
// loading recorded (as written) and not (the lines and transformers' own monitors, the twin's
// monitors on the voltage monitors' terminals and the Dump taken out of the same script).
struct Short {
    fs::path folder = scenario_8500().work / "short";
    bool made = false;
    Short()
    {
        const Scenario& scenario = scenario_8500();
        if (!scenario.made)
            return;
        if (!fs::exists(folder / "sun.dss"))
            made = run(std::string(UMBRASCOPE_IMPORT) + " " + quote(scenario.work / "circuit/Study.dss") + " " +
                       quote(folder)) &&
                   run(std::string(UMBRASCOPE_CLOUDS) + " --units ft --wind 10,270 --from-sensor " +
                       quote(scenario.work / "circuit/Normalized-1s-2900-pts.CSV") + " --sensor-interval 1 --steps 60 " +
                       "--loadshapes " + quote(folder / "sun.dss") + " " + quote(folder));
        made = fs::exists(folder / "sun.dss");
    }
};

const Short& short_8500()
{
    static const Short made;
    return made;
}

// A study of the short sky in a folder of its own, written; without loading, the lines that record
// it taken out.
study::WriteResult short_study(const fs::path& folder, bool loading)
{
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const fs::directory_entry& entry : fs::directory_iterator(short_8500().folder))
        if (entry.is_regular_file())
            fs::copy(entry.path(), folder / entry.path().filename());
    study::WriteResult written = study::write_study({folder, folder / "sun.dss", true});
    link_other_case(written);
    if (!loading) {
        const std::regex clear_voltage(written.run + "_clear_v[0-9]+\\b");
        const std::regex own_monitor(written.run + "_(clear_)?i[0-9]+\\b");
        std::istringstream script(slurp(written.script));
        std::string kept, line;
        while (std::getline(script, line)) {
            const bool own = std::regex_search(line, own_monitor);
            if (line == "Dump" || own || std::regex_search(line, clear_voltage))
                continue;
            kept += line + "\n";
        }
        put(written.script, kept);
        fs::remove(folder / study::branches_map_name);
    }
    return written;
}

// The engine's time for 60 rows, sky and twin, with each line's and transformer's loading and without.
void engine_8500_loading(benchmark::State& state)
{
    if (!short_8500().made || !engine_runs()) {
        state.SkipWithError(no_engine);
        return;
    }
    const bool loading = state.range(0) != 0;
    const fs::path folder = scenario_8500().work / (loading ? "loading_with" : "loading_without");
    const study::WriteResult written = short_study(folder, loading);
    const std::string command = quote(engine()) + " " + quote(written.script);
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(written.results);
        fs::create_directories(written.results);
        state.ResumeTiming();
        if (!run(command))
            state.SkipWithError("the engine failed on the study");
    }
}
BENCHMARK(engine_8500_loading)->ArgName("loading")->Arg(1)->Arg(0)->Iterations(1)->Repetitions(5)->Unit(benchmark::kSecond)->UseRealTime();

// read of those 60 rows, with the loading report and without.
void read_8500_loading(benchmark::State& state)
{
    if (!short_8500().made || !engine_runs()) {
        state.SkipWithError(no_engine);
        return;
    }
    const bool loading = state.range(0) != 0;
    const fs::path folder = scenario_8500().work / (loading ? "read_with" : "read_without");
    const study::WriteResult written = short_study(folder, loading);
    if (!run(quote(engine()) + " " + quote(written.script))) {
        state.SkipWithError("the engine failed on the study");
        return;
    }
    study::ReadOptions options{folder, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    for (auto _ : state) {
        const study::ReadResult result = study::read_study(options);
        benchmark::DoNotOptimize(result.summary.data());
    }
}
BENCHMARK(read_8500_loading)->ArgName("loading")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

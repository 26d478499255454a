// Sweeps of many studies: the criteria, the judgement and the hosting capacity over judged levels,
// the PV placed on the loads' sites (nested, totalling each level), the plan of IEEE 13 under two
// skies and its refusals, the worker's record of failed cases, and the gather's figures from cases'
// own reports. The whole loop through a real engine, locally and on Slurm, is sweep_engine_test.sh.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "sweep/cases.hpp"
#include "sweep/criteria.hpp"
#include "sweep/gather.hpp"
#include "sweep/inputs.hpp"
#include "sweep/load_at.hpp"
#include "sweep/plan.hpp"
#include "sweep/runner.hpp"
#include "sweep/worker.hpp"
#include "test_support.hpp"

namespace umbrascope::sweep {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

const fs::path feeders = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders";

std::string slurp(const fs::path& path) { return testing::read_file(path); }

void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

using testing::csv_rows;

int run(const std::string& command) { return std::system((command + " > /dev/null 2>&1").c_str()); }

// IEEE 13 (its loads 3,466 kW) and skies of it: each imported and given 12 rows of 5 s of the
// 8500-node feeder's measured sky, with a loadshape for every bus.
struct Feeder {
    explicit Feeder(const TempFolder& work, const std::string& edit = {})
    {
        circuit = work.path() / "circuit";
        fs::create_directories(circuit);
        for (const char* name : {"IEEE13Nodeckt.dss", "IEEELineCodes.DSS", "IEEE13Node_BusXY.csv"})
            fs::copy_file(feeders / "ieee13" / name, circuit / name);
        fs::create_symlink("IEEELineCodes.DSS", circuit / "IEEELineCodes.dss");
        if (!edit.empty()) {
            std::string text = slurp(circuit / "IEEE13Nodeckt.dss");
            std::string kept;
            each_line(text, [&](std::string_view line, long) {
                if (std::string(line).rfind(edit, 0) != 0)
                    kept += std::string(line) + "\n";
            });
            put(circuit / "IEEE13Nodeckt.dss", kept);
        }
        entry = circuit / "IEEE13Nodeckt.dss";
    }
    fs::path sky(const TempFolder& work, const std::string& name, const std::string& wind,
                 const std::string& more = {}) const
    {
        const fs::path folder = work.path() / name;
        EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_IMPORT + "\" \"" + entry.string() + "\" \"" + folder.string() + "\""), 0);
        EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind " + wind + " --from-sensor " +
                      (feeders / "ieee8500/Normalized-1s-2900-pts.CSV").string() +
                      " --sensor-interval 1 --interval 5 --steps 12 --start 11:00:00 " + more + " --loadshapes \"" +
                      (folder / "sun.dss").string() + "\" \"" + folder.string() + "\""),
                  0);
        return folder;
    }
    fs::path circuit, entry;
};

TEST(SweepCriteria, NamesValuesAndRefusals)
{
    struct Case {
        const char* text;
        const char* refusal;  // "" where it is taken
    };
    const Case cases[] = {
        {"", ""},
        {"# all defaults\n\n", ""},
        {"max_voltage = 1.04  # tighter\nmin_voltage=0.96\nmax_tap_increase = 20\n", ""},
        {"MAX_TAP_INCREASE_PCT = 50\nexclude_base_violations = no\n", ""},
        {"max_tap_increase = off\n", ""},
        {"max_volts = 1.05\n", ":1: no criterion is named 'max_volts'"},
        {"max_voltage = high\n", ":1: max_voltage takes a per-unit voltage"},
        {"max_voltage = 1.05\nmax_voltage = 1.06\n", ":2: max_voltage is given twice"},
        {"max_seconds_outside_a = -1\n", "takes a number of 0 or more"},
        {"max_seconds_outside_a = off\n", "takes a number of 0 or more"},
        {"exclude_base_violations = maybe\n", "takes yes or no"},
        {"min_voltage 0.95\n", "is not a name = value line"},
        {"min_voltage = 1.06\n", "is not below max_voltage"},
        {"max_voltage = 1e400\n", "takes a per-unit voltage"},
        {"max_loading_pct = off\nmax_emergency_pct = 150\njudge_default_ratings = yes\nmax_reverse_s_head = 0\n", ""},
        {"loading_window_s = 3600\nmax_reverse_s_regulator = 30\nmax_tap_changes_per_hour_increase = 4\n", ""},
        {"loading_window_s = 0\n", "loading_window_s takes seconds above 0, at most a day (86400)"},
        {"loading_window_s = 86401\n", "at most a day"},
        {"loading_window_s = off\n", "loading_window_s takes seconds above 0"},
        {"judge_default_ratings = sometimes\n", "judge_default_ratings takes yes or no"},
        {"max_curtailment_pct = 5\nmax_curtailment_pct = 6\n", ":2: max_curtailment_pct is given twice"},
        {"max_curtailment = 5\n", ":1: no criterion is named 'max_curtailment'"},
        {"max_loading = 100\n", "max_loading_pct, max_emergency_pct, loading_window_s"},
    };
    for (const Case& c : cases) {
        if (std::string(c.refusal).empty()) {
            EXPECT_NO_THROW((void)parse_criteria(c.text, "c.txt")) << c.text;
        } else {
            try {
                (void)parse_criteria(c.text, "c.txt");
                ADD_FAILURE() << "taken: " << c.text;
            } catch (const SweepError& error) {
                EXPECT_NE(std::string(error.what()).find(c.refusal), std::string::npos) << error.what();
            }
        }
    }
    const Criteria c = parse_criteria("max_voltage = 1.04\nmin_voltage=0.96\nmax_tap_increase = 20\n"
                                      "exclude_base_violations = no\nmax_loading_pct = off\nmax_emergency_pct = 120\n"
                                      "loading_window_s = 60\njudge_default_ratings = yes\nmax_reverse_s_head = 3\n"
                                      "max_reverse_s_regulator = 4\nmax_tap_changes_per_hour_increase = 5\n",
                                      "c.txt");
    EXPECT_FALSE(c.max_loading_pct);
    EXPECT_EQ(c.max_emergency_pct, 120.0);
    EXPECT_EQ(c.loading_window_s, 60.0);
    EXPECT_TRUE(c.judge_default_ratings);
    EXPECT_EQ(c.max_reverse_s_head, 3.0);
    EXPECT_EQ(c.max_reverse_s_regulator, 4.0);
    EXPECT_EQ(c.max_tap_changes_per_hour_increase, 5.0);
    const Criteria defaults;
    EXPECT_EQ(defaults.max_loading_pct, 100.0);
    EXPECT_EQ(defaults.max_emergency_pct, 100.0);
    EXPECT_FALSE(defaults.judge_default_ratings);
    EXPECT_FALSE(defaults.max_reverse_s_head);
    EXPECT_DOUBLE_EQ(c.max_voltage, 1.04);
    EXPECT_DOUBLE_EQ(c.min_voltage, 0.96);
    EXPECT_EQ(c.max_tap_increase, 20.0);
    EXPECT_FALSE(c.max_tap_increase_pct);
    EXPECT_FALSE(c.exclude_base_violations);
    // What a sweep keeps reads back as it was.
    const Criteria again = parse_criteria(criteria_text(c), "again");
    EXPECT_EQ(criteria_text(again), criteria_text(c));
    EXPECT_EQ(criteria_text(parse_criteria("", "d")), criteria_text(Criteria{}));
}

// A loadshape's value at an hour as the engine takes it (each figure read off the engine's own
// Daily run of these shapes, a load's kW every quarter of an hour): fixed intervals the nearest
// point, a tie to the even, wrapping round; given hours the line between them, wrapping at the last.
TEST(SweepLoadAt, AShapesValueAsTheEngineTakesIt)
{
    TempFolder work;
    put(work.path() / "m.dss", "New Loadshape.d npts=4 interval=1 mult=[1 2 3 4]\n"
                          "New Loadshape.h npts=3 hour=[0 2 3] mult=[1 3 4]\n"
                          "New Loadshape.f npts=3 minterval=30 mult=(file=f.csv col=2 header=yes) action=normalize\n"
                          "New Loadshape.s npts=2 sinterval=1800 mult=(3, 5 7)\n"
                          "New Loadshape.u npts=2 mult=[1 2] useactual=yes\n"
                          "New Loadshape.c npts=2 csvfile=c.csv\n"
                          "New Loadshape.z npts=2 interval=0 mult=[1 2]\n");
    put(work.path() / "f.csv", "hour,kw\n0.5,2\n1.0,4\n1.5,8\n");
    import::DiskFiles files;
    const import::Circuit circuit = import::read_circuit(work.path() / "m.dss", files);
    ASSERT_EQ(circuit.loadshapes.size(), 7U);
    const Shape d = read_shape(circuit.loadshapes[0]);
    const Shape h = read_shape(circuit.loadshapes[1]);
    struct Case {
        const Shape* shape;
        double hour, value;
    };
    const Case cases[] = {
        {&d, 0.25, 4}, {&d, 0.5, 4}, {&d, 0.75, 1}, {&d, 1, 1}, {&d, 1.5, 2}, {&d, 2.5, 2}, {&d, 3.5, 4},
        {&d, 4.5, 4},  {&d, 4.75, 1}, {&h, 0.25, 1.25}, {&h, 1, 2}, {&h, 3, 4}, {&h, 3.25, 1.25}, {&h, 6, 1},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(shape_value(c.shape->mult, *c.shape, c.hour), c.value) << c.hour;
    // From a file's column after its header, normalized; minutes and seconds apart.
    const Shape f = read_shape(circuit.loadshapes[2]);
    EXPECT_EQ(f.mult, (std::vector<double>{0.25, 0.5, 1}));
    EXPECT_DOUBLE_EQ(f.interval, 0.5);
    const Shape s = read_shape(circuit.loadshapes[3]);
    EXPECT_EQ(s.mult, (std::vector<double>{3, 5})) << "npts=2 cuts the third";
    EXPECT_DOUBLE_EQ(s.interval, 0.5);
    // What the sweep cannot hold a load at is refused, naming the shape and its line.
    // Points at no interval and no hours are not a shape: refused, not divided by zero.
    for (std::size_t k : {4U, 5U, 6U}) {
        try {
            (void)read_shape(circuit.loadshapes[k]);
            ADD_FAILURE() << circuit.loadshapes[k].name;
        } catch (const SweepError& error) {
            EXPECT_NE(std::string(error.what()).find("Loadshape." + circuit.loadshapes[k].name), std::string::npos);
            EXPECT_NE(std::string(error.what()).find("m.dss:" + std::to_string(k + 1) + ")"), std::string::npos)
                << error.what();
        }
    }
    for (const char* bad : {"12", "25:00", "12:60", "13-01 12:00", "02-30 10:00", "noon"})
        EXPECT_THROW((void)load_time(bad), SweepError) << bad;
    EXPECT_DOUBLE_EQ(load_time("24:00").hour, 24);
    EXPECT_EQ(load_time("06-21 12:30").day, 172);
    EXPECT_DOUBLE_EQ(load_time("06-21 12:30").hour, 12.5);
}

// Every load at its daily (else yearly) shape's value then, as a one-point duty shape; a yearly
// shape needs the day.
TEST(SweepLoadAt, EachLoadHeldAsItsShapeGivesIt)
{
    import::MemoryFiles files;
    files.add("/c/m.dss", "New Circuit.c bus1=s\n"
                          "New Loadshape.day npts=24 interval=1 mult=[0.1 0.1 0.1 0.1 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 "
                          "0.9 1 0.9 0.8 0.7 0.6 0.5 0.4 0.3 0.2 0.1 0.1]\n"
                          "New Loadshape.year npts=2 interval=4380 mult=[0.5 0.9]\n"
                          "New Load.a bus1=b kW=10 daily=day\n"
                          "New Load.b bus1=b kW=10 yearly=year\n"
                          "New Load.c bus1=b kW=10\n"
                          "New Load.d bus1=b kW=10 duty=day\n");
    const import::Circuit circuit = import::read_circuit("/c/m.dss", files);
    EXPECT_THROW((void)hold_loads_at(circuit, "12:00", 1), SweepError) << "Load.b's yearly shape needs the day";
    const LoadsHeld held = hold_loads_at(circuit, "01-01 12:00", 1);
    EXPECT_EQ(held.lines.substr(held.lines.find("New ")),
              "New Loadshape.sweep_load_at_1 npts=1 sinterval=1 mult=[0.8]\n"
              "New Loadshape.sweep_load_at_2 npts=1 sinterval=1 mult=[0.9]\n"
              "Edit Load.a duty=sweep_load_at_1\n"
              "Edit Load.b duty=sweep_load_at_2\n")
        << "12:00 is the day's point 12; the year's hour 12 nearest its point 0, the last";
    EXPECT_EQ(held.said, "Loads held at 01-01 12:00: 1 at their daily shape's value, 1 at their yearly shape's on day 1 "
                         "(0.8 to 0.9 of their base kW), 1 following their duty shape only, as before and 1 with no "
                         "shape, at their base kW");
}

// The one-point shapes give each load the kW the engine gives it at that time in its daily and
// yearly runs.
TEST(SweepLoadAt, TheHeldLoadsAreTheEnginesAtThatTime)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!fs::exists(engine) || run("\"" + engine.string() + "\" -c \"new circuit.probe\" -c solve") != 0)
        GTEST_SKIP() << "skipped: no OpenDSS engine runs at " << engine
                     << " (set UMBRASCOPE_OPENDSS to one; it needs libklu1 and libmetis5)";
    TempFolder work;
    const fs::path folder = work.path();
    put(folder / "shape.txt", "0.2\n0.35\n0.5\n0.65\n0.8\n0.95\n1\n0.9\n");
    put(folder / "ckt.dss", "Clear\nNew Circuit.held basekV=12.47 bus1=src\n"
                            "New Line.l1 bus1=src bus2=b phases=3 length=0.1 units=km\n"
                            "New Loadshape.fixed npts=8 minterval=90 mult=(file=shape.txt)\n"
                            "New Loadshape.given npts=3 hour=[0 10 20] mult=[0.3 0.9 0.6]\n"
                            "New Loadshape.year npts=6 interval=2000 mult=[1 3 5 4 2 1] action=normalize\n"
                            "New Load.a bus1=b kV=12.47 kW=100 pf=1 model=1 daily=fixed\n"
                            "New Load.b bus1=b kV=12.47 kW=100 pf=1 model=1 daily=given\n"
                            "New Load.c bus1=b kV=12.47 kW=100 pf=1 model=1 yearly=year\n"
                            "Set voltagebases=[12.47]\nCalcvoltagebases\n"
                            "New Monitor.a element=Load.a terminal=1 mode=1 ppolar=no\n"
                            "New Monitor.b element=Load.b terminal=1 mode=1 ppolar=no\n"
                            "New Monitor.c element=Load.c terminal=1 mode=1 ppolar=no\n");
    import::DiskFiles disk;
    const import::Circuit circuit = import::read_circuit(folder / "ckt.dss", disk);
    const LoadsHeld held = hold_loads_at(circuit, "03-01 13:45", 1);  // day 60, hour 1429.75 of the year
    // Each load's kW, all phases: the engine's first monitor row.
    const auto kw = [&](const std::string& monitor) {
        const std::string text = slurp(folder / ("held_Mon_" + monitor + "_1.csv"));
        const std::string row = text.substr(text.find('\n') + 1);
        std::vector<double> cells;
        std::stringstream cells_in(row);
        std::string cell;
        while (std::getline(cells_in, cell, ','))
            cells.push_back(std::stod(cell));
        return cells.at(2) + cells.at(4) + cells.at(6);
    };
    const auto solve = [&](const std::string& mode, const std::string& time, const std::string& more) {
        put(folder / "run.dss", "Compile \"" + (folder / "ckt.dss").string() + "\"\n" + more + "Set Mode=" + mode +
                                    " Number=1 Stepsize=1\nSet Time=" + time + "\nSolve\nExport Monitors a\n"
                                    "Export Monitors b\nExport Monitors c\n");
        ASSERT_EQ(run("cd \"" + folder.string() + "\" && \"" + engine.string() + "\" run.dss"), 0);
    };
    solve("Daily", "(13,2699)", "");
    const double a = kw("a"), b = kw("b");
    solve("Yearly", "(1429,2699)", "");
    const double c = kw("c");
    solve("Duty", "(0,0)", held.lines);
    EXPECT_NEAR(kw("a"), a, 1e-3);
    EXPECT_NEAR(kw("b"), b, 1e-3);
    EXPECT_NEAR(kw("c"), c, 1e-3);
    EXPECT_NEAR(a, 20, 1e-3) << "13:45 is nearest point 9 at 13:30, which wraps to the first of 8";
    EXPECT_EQ(held.said, "Loads held at 03-01 13:45: 2 at their daily shape's value and 1 at their yearly shape's on day 60 "
                         "(0.2 to 0.787 of their base kW)")
        << "none with a duty shape, none without a shape";
}

// A series as its steps: "0P 25F 50M", each level passing, failing or missing.
std::vector<Step> steps_of(const std::string& text)
{
    std::vector<Step> steps;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        const char state = word.back();
        steps.push_back({std::stod(word.substr(0, word.size() - 1)),
                         state == 'P' ? Step::passes : state == 'F' ? Step::fails : Step::missing});
    }
    return steps;
}

TEST(SweepCapacity, EachSeriesUpToItsFirstFailureOrGap)
{
    struct Case {
        const char* what;
        std::vector<std::string> series;
        std::optional<double> min, median, max;
        bool unanswered, partial, censored;
    };
    const std::optional<double> none;
    const Case cases[] = {
        {"every level passes", {"0P 50P 100P", "0P 50P 100P"}, 100, 100, 100, false, false, true},
        {"one series fails at 50", {"0P 50P 100P", "0P 50F 100P"}, 0, 50, 100, false, false, false},
        {"all fail at 100", {"0P 50P 100F", "0P 50P 100F"}, 50, 50, 50, false, false, false},
        {"a pass above a failing level", {"0P 25F 50P 75F"}, 0, 0, 50, false, false, false},
        {"the base fails: none, and max as defined", {"0F 50P"}, none, none, 50, false, false, false},
        {"the base missing: no answer", {"0M 50P"}, none, none, 50, true, true, false},
        {"a missing level ends the answer", {"0P 25M 50P 75P"}, 0, 0, 75, false, true, false},
        {"missing above a failure", {"0P 25F 50M"}, 0, 0, 0, false, true, false},
        {"levels out of order", {"100P 0P 50P"}, 100, 100, 100, false, false, true},
        {"only the base", {"0P"}, 0, 0, 0, false, false, true},
        {"three seeds", {"0P 25F", "0P 25P 50F", "0P 25P 50P"}, 0, 25, 50, false, false, false},
        {"no base planned", {"50P"}, none, none, 50, true, false, false},
        {"one sky's base missing: none for all", {"0M 50P", "0P 50P"}, none, none, 50, true, true, false},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<Step>> series;
        for (const std::string& text : c.series)
            series.push_back(steps_of(text));
        const Capacity hc = hosting_capacity(series);
        EXPECT_EQ(hc.min, c.min) << c.what;
        EXPECT_EQ(hc.median, c.median) << c.what;
        EXPECT_EQ(hc.max, c.max) << c.what;
        EXPECT_EQ(hc.unanswered, c.unanswered) << c.what;
        EXPECT_EQ(hc.partial, c.partial) << c.what;
        EXPECT_EQ(hc.censored, c.censored) << c.what;
    }
}

TEST(SweepJudge, EachCriterionByItsLetterInOrder)
{
    CaseFigures pass;
    pass.a.v_min = 0.96;
    pass.a.v_max = 1.04;
    pass.taps_sky = 12;
    pass.taps_clear = 3;
    pass.taps_base = 2;
    pass.switchings_sky = 4;
    pass.switchings_base = 1;
    pass.clear_a = pass.a;
    Criteria criteria;
    criteria.max_tap_increase = 10;      // 12 - 2 = 10 holds
    criteria.max_tap_increase_pct = 500; // 500 % of 2 holds
    criteria.max_switching_increase = 3;
    criteria.max_tap_changes_per_hour_increase = 20;  // 10 more over half an hour: 20 an hour holds
    criteria.max_reverse_s_head = 5;
    criteria.max_reverse_s_regulator = 5;
    pass.hours = 0.5;
    pass.reverse_s_head = 5;
    pass.reverse_s_regulator = 5;
    pass.reverse_regulator = "Reg1";
    criteria.max_curtailment_pct = 2;
    pass.curtailed_pct = 2;
    EXPECT_FALSE(judge(pass, criteria, false));
    struct Case {
        const char* what;
        void (*change)(CaseFigures&);
        char letter;       // under the sky
        char clear_letter; // under the clear sky; ' ' where it passes
    };
    const Case cases[] = {
        {"a second outside A", [](CaseFigures& f) { f.a.most_seconds = 1; f.a.most_bus = "x"; }, 'A', ' '},
        {"outside B", [](CaseFigures& f) { f.b.most_seconds = 5; }, 'B', ' '},
        {"A before B", [](CaseFigures& f) { f.a.most_seconds = 5; f.b.most_seconds = 5; }, 'A', ' '},
        {"low", [](CaseFigures& f) { f.a.v_min = 0.9499; }, 'L', ' '},
        {"exactly the lowest allowed", [](CaseFigures& f) { f.a.v_min = 0.95; }, ' ', ' '},
        {"high", [](CaseFigures& f) { f.a.v_max = 1.0501; }, 'H', ' '},
        {"exactly the highest allowed", [](CaseFigures& f) { f.a.v_max = 1.05; }, ' ', ' '},
        {"taps", [](CaseFigures& f) { f.taps_sky = 13; }, 'T', ' '},
        {"taps under both", [](CaseFigures& f) { f.taps_clear = 13; }, ' ', 'T'},
        {"switchings", [](CaseFigures& f) { f.switchings_sky = 5; }, 'S', ' '},
        {"high under the clear sky", [](CaseFigures& f) { f.clear_a.v_max = 1.06; }, ' ', 'H'},
        {"taps an hour", [](CaseFigures& f) { f.hours = 0.49; }, 'T', ' '},
        {"a line over", [](CaseFigures& f) { f.loading.over_normal = Excess{"Line.a", 101, 9}; }, 'O', ' '},
        {"over emergency under the clear sky",
         [](CaseFigures& f) { f.clear_loading.over_emergency = Excess{"Line.a", 101, 9}; }, ' ', 'E'},
        {"loading before emergency",
         [](CaseFigures& f) {
             f.loading.over_emergency = Excess{"Line.b", 130, 3};
             f.loading.over_normal = Excess{"Line.a", 101, 9};
         },
         'O', ' '},
        {"loading after the voltage",
         [](CaseFigures& f) {
             f.loading.over_normal = Excess{"Line.a", 101, 9};
             f.a.v_max = 1.06;
         },
         'H', ' '},
        {"back through the head", [](CaseFigures& f) { f.reverse_s_head = 6; }, 'R', ' '},
        {"back through a regulator", [](CaseFigures& f) { f.clear_reverse_s_regulator = 6; }, ' ', 'R'},
        {"curtailed", [](CaseFigures& f) { f.curtailed_pct = 2.5; }, 'C', ' '},
        {"curtailed as allowed", [](CaseFigures& f) { f.clear_curtailed_pct = 2; }, ' ', ' '},
        {"no curtailment recorded", [](CaseFigures& f) { f.curtailed_pct.reset(); }, ' ', ' '},
    };
    for (const Case& c : cases) {
        CaseFigures f = pass;
        c.change(f);
        const std::optional<Failure> sky = judge(f, criteria, false);
        const std::optional<Failure> clear = judge(f, criteria, true);
        EXPECT_EQ(sky ? sky->letter : ' ', c.letter) << c.what;
        EXPECT_EQ(clear ? clear->letter : ' ', c.clear_letter) << c.what;
        if (c.letter == 'O') {
            EXPECT_EQ(sky->bus, "Line.a") << c.what;
            EXPECT_EQ(sky->row, 9) << c.what;
            EXPECT_EQ(sky->value, "101") << c.what;
        }
    }
    // In per cent of max(base, 1): a base of 0 counts as 1.
    CaseFigures f = pass;
    f.taps_base = 0;
    f.taps_sky = 6;
    Criteria pct;
    pct.max_tap_increase_pct = 500;
    EXPECT_EQ(judge(f, pct, false)->letter, 'P');
    f.taps_sky = 5;
    EXPECT_FALSE(judge(f, pct, false));
}

TEST(SweepPlacement, SitesTotalTheLevelNestedInTheirOrder)
{
    std::vector<Site> sites;
    const double kw[] = {100, 35.5, 0, 250, 12.25, 80, 40};
    const std::optional<double> km[] = {3.0, 1.0, 2.0, std::nullopt, 0.5, 1.0, 9.0};
    for (std::size_t i = 0; i < 7; ++i) {
        Site site;
        site.load = "Load.l" + std::to_string(i);
        site.kw = kw[i];
        site.km = km[i];
        sites.push_back(site);
    }
    // Near: nearest first, ties in the circuit's order, no distance last; far the other way.
    EXPECT_EQ(site_order(sites, "near", 0), (std::vector<std::size_t>{4, 1, 5, 2, 0, 6, 3}));
    EXPECT_EQ(site_order(sites, "far", 0), (std::vector<std::size_t>{6, 0, 2, 1, 5, 4, 3}));
    // Random: a permutation, the same for a seed, another for another seed.
    std::vector<std::size_t> one = site_order(sites, "random", 1);
    EXPECT_EQ(one, site_order(sites, "random", 1));
    EXPECT_NE(one, site_order(sites, "random", 2));
    std::sort(one.begin(), one.end());
    EXPECT_EQ(one, site_order(sites, "near", 0) == one ? one : (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6}));

    const double total_load = 517.75;
    for (const char* placement : {"near", "far", "random"}) {
        const std::vector<std::size_t> order = site_order(sites, placement, 3);
        std::vector<Placed> lower;
        for (const double level : {5.0, 12.5, 50.0, 100.0, 150.0, 200.0}) {
            const double target = level / 100 * total_load;
            const std::vector<Placed> placed = place_pv(sites, order, 2, target);
            double total = 0;
            std::set<std::size_t> used;
            for (const Placed& p : placed) {
                total += p.kw;
                EXPECT_GT(p.kw, 0);
                EXPECT_LE(p.kw, 2 * sites[p.site].kw + 1e-9);
                EXPECT_TRUE(used.insert(p.site).second) << "a load takes one PV system";
            }
            EXPECT_NEAR(total, target, 0.1) << placement << " " << level;
            // Nested: every system of the lower level stands here, as large, its last at least as large.
            ASSERT_GE(placed.size(), lower.size());
            for (std::size_t k = 0; k < lower.size(); ++k) {
                EXPECT_EQ(placed[k].site, lower[k].site) << placement << " " << level;
                if (k + 1 < lower.size())
                    EXPECT_DOUBLE_EQ(placed[k].kw, lower[k].kw);
                else
                    EXPECT_GE(placed[k].kw, lower[k].kw);
            }
            lower = placed;
        }
        // 200 % at a ratio of 2 fills every site; more cannot be placed.
        EXPECT_THROW((void)place_pv(sites, order, 2, 2.01 * total_load), SweepError);
    }
}

TEST(SweepLoads, KwAsTheEngineCompilesThem)
{
    TempFolder work;
    work.write("c.dss", "New Circuit.c bus1=src\n"
                        "New Line.l1 bus1=src bus2=a\n"
                        "New Load.plain bus1=a.1 phases=1 kV=0.24 kW=12.5\n"
                        "New Load.apparent bus1=a kVA=100 pf=0.9\n"
                        "New Load.bare bus1=a\n"
                        "New Load.both bus1=a kW=30 kVA=100 pf=0.5\n"
                        "New Load.copied like=plain\n"
                        "New Load.edited bus1=a.2.3 phases=1 conn=delta kW=5\n"
                        "Edit Load.edited kW=7\n"
                        "Load.copied.kW=9\n"
                        "New Load.off bus1=a kW=1000 enabled=no\n");
    import::DiskFiles files;
    const import::Circuit circuit = import::read_circuit(work.path() / "c.dss", files);
    std::map<std::string, import::LoadSite> loads;
    for (const import::LoadSite& load : circuit.loads)
        loads[load.name.substr(5)] = load;
    ASSERT_EQ(loads.size(), 6U) << "a load out of service is no site";
    EXPECT_DOUBLE_EQ(loads["plain"].kw, 12.5);
    EXPECT_EQ(loads["plain"].phases, 1);
    EXPECT_DOUBLE_EQ(loads["plain"].kv, 0.24);
    EXPECT_EQ(loads["plain"].bus1, "a.1");
    EXPECT_DOUBLE_EQ(loads["apparent"].kw, 90);
    EXPECT_DOUBLE_EQ(loads["bare"].kw, 10);
    EXPECT_DOUBLE_EQ(loads["bare"].kv, 12.47);
    EXPECT_EQ(loads["bare"].phases, 3);
    EXPECT_DOUBLE_EQ(loads["both"].kw, 50) << "kVA came last";
    EXPECT_DOUBLE_EQ(loads["copied"].kw, 9);
    EXPECT_EQ(loads["copied"].bus1, "a.1");
    EXPECT_DOUBLE_EQ(loads["edited"].kw, 7);
    EXPECT_TRUE(loads["edited"].delta);
}

std::map<std::string, std::string> row_of(const std::vector<std::vector<std::string>>& rows, const std::string& id)
{
    std::map<std::string, std::string> out;
    for (const std::vector<std::string>& row : rows)
        if (row.front() == id)
            for (std::size_t k = 0; k < row.size(); ++k)
                out[rows.front()[k]] = row[k];
    return out;
}

// The PV systems of a case: name -> (bus1, kW).
std::map<std::string, std::pair<std::string, double>> systems_of(const fs::path& folder)
{
    std::map<std::string, std::pair<std::string, double>> out;
    each_line(slurp(folder / "PVSystems.dss"), [&](std::string_view line, long) {
        if (line.rfind("New PVSystem.", 0) != 0)
            return;
        const std::string text(line);
        const auto value = [&](const std::string& key) {
            const std::size_t at = text.find(" " + key + "=");
            return text.substr(at + key.size() + 2, text.find(' ', at + 1 + key.size() + 1) - at - key.size() - 2);
        };
        out[text.substr(13, text.find(' ', 13) - 13)] = {value("bus1"), std::stod(value("Pmpp"))};
    });
    return out;
}

TEST(SweepPlan, IEEE13UnderTwoSkies)
{
    TempFolder work;
    const Feeder feeder(work);
    const fs::path a = feeder.sky(work, "morning", "2,270");
    const fs::path b = feeder.sky(work, "noon", "4,180");
    PlanOptions options;
    options.sweep = work.path() / "sweep";
    options.circuit = feeder.entry;
    options.skies = {a, b};
    options.levels = {0, 50, 100};
    options.placements = {"near", "random"};
    options.seeds = 2;
    const PlanResult planned = plan_sweep(options);
    EXPECT_NEAR(planned.record.feeder_kw, 3466, 1e-9);
    EXPECT_EQ(planned.record.loads, 15);
    // Each sky: its base, then near and two random seeds at 50 and 100.
    ASSERT_EQ(planned.cases.size(), 2U * (1 + 3 * 2));
    EXPECT_EQ(planned.written, 14);
    const auto rows = csv_rows(slurp(options.sweep / "cases.csv"));
    EXPECT_EQ(rows.front(), (std::vector<std::string>{"case", "level_pct", "placement", "seed", "sky", "pv_systems", "pv_kw", "inverter", "bus"}));
    ASSERT_EQ(rows.size(), 15U);
    EXPECT_EQ(rows[1][1], "0");
    EXPECT_EQ(rows[1][2], "none");
    EXPECT_EQ(rows[1][4], "morning");

    // The loads' buses, as the circuit names them.
    import::DiskFiles files;
    const import::Circuit circuit = import::read_circuit(feeder.entry, files);
    std::set<std::string> load_buses;
    for (const import::LoadSite& load : circuit.loads)
        load_buses.insert(load.bus1);
    std::map<std::string, std::map<std::string, std::pair<std::string, double>>> by_case;
    std::set<std::string> ids;
    for (const Case& c : planned.cases) {
        EXPECT_TRUE(ids.insert(c.id).second) << "case ids are unique";
        const fs::path folder = case_folder(options.sweep, c.id);
        const auto systems = systems_of(folder);
        by_case[c.id] = systems;
        double total = 0;
        for (const auto& [name, system] : systems) {
            total += system.second;
            EXPECT_EQ(load_buses.count(system.first), 1U) << name << " on " << system.first;
        }
        EXPECT_NEAR(total, c.level_pct / 100 * 3466, 0.1) << c.id;
        EXPECT_EQ(static_cast<int>(systems.size()), c.pv_systems);
        // Its circuit is the feeder and its PV systems; its study gives each its sky after the shapes.
        const std::string entry = slurp(folder / "Study.dss");
        EXPECT_NE(entry.find("Redirect \"" + fs::weakly_canonical(feeder.entry).string() + "\""), std::string::npos);
        const std::string study = slurp(folder / "study.dss");
        EXPECT_NE(study.find("Compile \"" + (fs::weakly_canonical(folder) / "Study.dss").string() + "\""), std::string::npos);
        const std::size_t shapes = study.find("Redirect \"" + (c.sky == "morning" ? a : b).string() + "/sun.dss\"");
        ASSERT_NE(shapes, std::string::npos);
        for (const auto& [name, system] : systems) {
            const std::size_t edit = study.find("Edit PVSystem." + name + " daily=sky_");
            EXPECT_GT(edit, shapes) << name << ": its duty follows the shapes";
            EXPECT_NE(edit, std::string::npos);
        }
        // The voltage monitors its sky's cases share; the twin records them too.
        const fs::path shared = fs::weakly_canonical(options.sweep) / "skies" / c.sky;
        const std::size_t twin = study.find("\nClear\n");
        ASSERT_NE(twin, std::string::npos);
        EXPECT_LT(study.find("Redirect \"" + (shared / "voltage_monitors.dss").string() + "\""), twin);
        EXPECT_GT(study.find("Redirect \"" + (shared / "clear_voltage_monitors.dss").string() + "\""), twin);
        EXPECT_GT(study.find("Redirect \"" + (shared / "clear_voltage_exports.dss").string() + "\""), twin);
        EXPECT_NE(slurp(shared / "clear_voltage_monitors.dss").find("_clear_v1 element="), std::string::npos);
        EXPECT_EQ(planned_fingerprint(folder), case_files_fingerprint(folder));
    }
    // Nested: at a placement and seed, the systems of 50 % stand at 100 % too.
    for (const Case& low : planned.cases)
        for (const Case& high : planned.cases)
            if (low.sky == high.sky && low.placement == high.placement && low.seed == high.seed &&
                low.level_pct == 50 && high.level_pct == 100)
                for (const auto& [name, system] : by_case[low.id]) {
                    ASSERT_EQ(by_case[high.id].count(name), 1U) << name;
                    EXPECT_GE(by_case[high.id][name].second, system.second);
                }

    // Planned again with another level and another sky: the cases there are kept, as they were.
    const std::string before = slurp(case_folder(options.sweep, rows[2][0]) / "study.dss");
    const fs::path c = feeder.sky(work, "evening", "3,90");
    options.skies = {a, b, c};
    options.levels = {0, 25, 50, 100};
    const PlanResult again = plan_sweep(options);
    EXPECT_EQ(again.kept, 14);
    EXPECT_EQ(again.written, 2 * 3 + (1 + 3 * 3));  // 25 % under the two skies, and the new sky whole
    EXPECT_EQ(again.cases.size(), 3U * (1 + 3 * 3));
    EXPECT_EQ(slurp(case_folder(options.sweep, rows[2][0]) / "study.dss"), before);
    for (std::size_t r = 1; r < rows.size(); ++r)
        EXPECT_TRUE(std::any_of(again.cases.begin(), again.cases.end(), [&](const Case& k) { return k.id == rows[r][0]; }));

    // A case written by another program (its study.dss differs, as planned then) runs again; one
    // edited since planning is written as planned, and keeps the status of the run it had.
    const fs::path older = case_folder(options.sweep, rows[2][0]);
    const fs::path edited = case_folder(options.sweep, rows[3][0]);
    put(older / "study.dss", slurp(older / "study.dss") + "! an older writer's line\n");
    put(older / "case.txt", "case = " + rows[2][0] + "\nfiles = " + case_files_fingerprint(older).value() + "\n");
    for (const fs::path& folder : {older, edited}) {
        Status done;
        done.done = true;
        done.files = planned_fingerprint(folder).value();
        put(folder / "status", status_text(done));
    }
    const std::string edited_before = slurp(edited / "PVSystems.dss");
    put(edited / "PVSystems.dss", "! edited by hand\n");
    const PlanResult third = plan_sweep(options);
    EXPECT_EQ(third.written, 1);
    EXPECT_EQ(third.kept, static_cast<int>(third.cases.size()) - 1);
    EXPECT_EQ(state_of(older), State::left) << "the case of an older program runs again";
    EXPECT_EQ(slurp(older / "study.dss"), before);
    EXPECT_EQ(state_of(edited), State::done);
    EXPECT_EQ(slurp(edited / "PVSystems.dss"), edited_before);
}

// The circuit's own PV: in every case, the base included, under its bus's sky, counted; or out of
// service in every case, and neither watched nor a monitor's element.
TEST(SweepPlan, TheCircuitsOwnPvInEveryCaseOrOutOfService)
{
    TempFolder work;
    Feeder feeder(work);
    put(feeder.circuit / "Study.dss", "Redirect IEEE13Nodeckt.dss\n"
                                      "New PVSystem.pv671 phases=3 bus1=671 kV=4.16 kVA=300 Pmpp=300 irradiance=1\n"
                                      "New PVSystem.pv675 phases=3 bus1=675 kV=4.16 kVA=500 irradiance=1\n");
    feeder.entry = feeder.circuit / "Study.dss";
    PlanOptions options;
    options.sweep = work.path() / "kept";
    options.circuit = feeder.entry;
    options.skies = {feeder.sky(work, "sky", "2,270", "--all-buses")};
    options.levels = {0, 50};
    options.placements = {"near"};
    const PlanResult kept = plan_sweep(options);
    EXPECT_EQ(kept.record.existing_pv, 2);
    EXPECT_NEAR(kept.record.existing_pv_kw, 800, 1e-9) << "300 kW and the engine's 500 for one without Pmpp";
    ASSERT_EQ(kept.notes.size(), 2U);
    EXPECT_NE(kept.notes[1].find("The circuit's own PV: 2 systems, 800 kW (Pmpp), in every case, the base included"),
              std::string::npos) << kept.notes[1];
    ASSERT_EQ(kept.warnings.size(), 1U);
    EXPECT_NE(kept.warnings[0].find("PVSystem.pv675 gives no Pmpp"), std::string::npos) << kept.warnings[0];
    const fs::path base = case_folder(options.sweep, kept.cases[0].id);
    EXPECT_NE(slurp(base / "study.dss").find("Edit PVSystem.pv671 daily=sky_"), std::string::npos);
    EXPECT_NE(slurp(base / "study_controls.csv").find("PVSystem.pv675"), std::string::npos) << "watched in the base";
    EXPECT_NE(slurp(options.sweep / "sweep.txt").find("existing_pv_kw = 800\n"), std::string::npos);

    options.sweep = work.path() / "without";
    options.without_circuit_pv = true;
    const PlanResult without = plan_sweep(options);
    EXPECT_TRUE(without.warnings.empty()) << "out of service, their Pmpp counts for nothing";
    EXPECT_NE(without.notes[1].find("out of service in every case (--without-circuit-pv)"), std::string::npos);
    for (const Case& c : without.cases) {
        const fs::path folder = case_folder(options.sweep, c.id);
        const std::string entry = slurp(folder / "Study.dss");
        EXPECT_LT(entry.find("Edit PVSystem.pv671 enabled=no"), entry.find("PVSystems.dss")) << "before the case's own";
        EXPECT_NE(entry.find("Edit PVSystem.pv675 enabled=no"), std::string::npos);
        EXPECT_EQ(slurp(folder / "study_controls.csv").find("PVSystem.pv67"), std::string::npos) << "not watched";
        EXPECT_EQ(slurp(folder / "study.dss").find("PVSystem.pv671 daily="), std::string::npos);
    }
    EXPECT_EQ(slurp(options.sweep / "skies" / "sky" / "study_monitors.csv").find("PVSystem."), std::string::npos)
        << "no voltage monitor on an element out of service";
}

TEST(SweepPlan, RefusalsLeaveTheSweepAsItWas)
{
    TempFolder work;
    const Feeder feeder(work);
    const fs::path a = feeder.sky(work, "morning", "2,270");
    // A sky of another network: the same circuit's copy elsewhere.
    TempFolder elsewhere;
    const Feeder other(elsewhere);
    const fs::path foreign = other.sky(elsewhere, "foreign", "2,270");
    // A sky whose loadshapes serve the PV systems only.
    const fs::path few = work.path() / "few";
    {
        put(feeder.circuit / "WithPV.dss", "Redirect IEEE13Nodeckt.dss\nNew PVSystem.p1 phases=3 bus1=671 kV=4.16 kVA=100 "
                                           "Pmpp=100 irradiance=1\n");
    }
    EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_IMPORT + "\" \"" + (feeder.circuit / "WithPV.dss").string() + "\" \"" +
                  few.string() + "\""), 0);
    EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind 2,270 --steps 12 --loadshapes \"" +
                  (few / "sun.dss").string() + "\" \"" + few.string() + "\""), 0);
    put(work.path() / "bad.txt", "max_voltage = 1.05\nmax_volts = 2\n");
    PlanOptions good;
    good.sweep = work.path() / "sweep";
    good.circuit = feeder.entry;
    good.skies = {a};
    good.levels = {0, 50};
    good.placements = {"near"};
    (void)plan_sweep(good);
    const std::string cases_before = slurp(good.sweep / "cases.csv");

    struct Case {
        const char* what;
        void (*change)(PlanOptions&, const fs::path& foreign, const fs::path& few, const fs::path& work);
        const char* refusal;
    };
    const Case cases[] = {
        {"levels down", [](PlanOptions& o, const fs::path&, const fs::path&, const fs::path&) { o.levels = {0, 50, 25}; },
         "--levels must increase: 25 follows 50"},
        {"a level too high", [](PlanOptions& o, const fs::path&, const fs::path&, const fs::path&) { o.levels = {0, 1001}; },
         "not a level from 0 to 1000"},
        {"a negative level", [](PlanOptions& o, const fs::path&, const fs::path&, const fs::path&) { o.levels = {-5, 0}; },
         "not a level from 0 to 1000"},
        {"more PV than the sites hold", [](PlanOptions& o, const fs::path&, const fs::path&, const fs::path&) { o.levels = {0, 250}; },
         "level 250 %: the loads' sites hold"},
        {"a placement twice",
         [](PlanOptions& o, const fs::path&, const fs::path&, const fs::path&) { o.placements = {"near", "near"}; },
         "--placement near is given twice"},
        {"a sky twice", [](PlanOptions& o, const fs::path&, const fs::path&, const fs::path&) { o.skies.push_back(o.skies[0]); },
         "is given twice"},
        {"a sky of another network",
         [](PlanOptions& o, const fs::path& f, const fs::path&, const fs::path&) { o.skies = {f}; },
         "is of another network"},
        {"a sky without every bus's shape",
         [](PlanOptions& o, const fs::path&, const fs::path& shapes_few, const fs::path&) {
             o.skies = {shapes_few};
             o.circuit = o.circuit.parent_path() / "WithPV.dss";
         },
         "--all-buses"},
        {"another circuit in the same sweep",
         [](PlanOptions& o, const fs::path& f, const fs::path&, const fs::path&) {
             o.skies = {f};
             o.circuit = f.parent_path() / "circuit/IEEE13Nodeckt.dss";
         },
         "plan this one into a folder of its own"},
        {"criteria with an unknown name",
         [](PlanOptions& o, const fs::path&, const fs::path&, const fs::path& w) { o.criteria = w / "bad.txt"; },
         "bad.txt:2: no criterion is named 'max_volts'"},
    };
    for (const Case& c : cases) {
        PlanOptions options = good;
        c.change(options, foreign, few, work.path());
        try {
            (void)plan_sweep(options);
            ADD_FAILURE() << "planned: " << c.what;
        } catch (const SweepError& error) {
            EXPECT_NE(std::string(error.what()).find(c.refusal), std::string::npos) << c.what << ": " << error.what();
        }
        EXPECT_EQ(slurp(good.sweep / "cases.csv"), cases_before) << c.what;
    }

    // A circuit without loads.
    TempFolder bare;
    const Feeder unloaded(bare, "New Load.");
    const fs::path sky = unloaded.sky(bare, "sky", "2,270");
    PlanOptions options = good;
    options.sweep = bare.path() / "sweep";
    options.circuit = unloaded.entry;
    options.skies = {sky};
    try {
        (void)plan_sweep(options);
        ADD_FAILURE() << "planned a circuit without loads";
    } catch (const SweepError& error) {
        EXPECT_NE(std::string(error.what()).find("has no loads in service"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(fs::exists(options.sweep / "cases.csv"));
}

// A planned sweep of IEEE 13 under one sky: its base and near at 50 and 100 %.
struct SmallSweep {
    explicit SmallSweep(const TempFolder& work) : feeder(work)
    {
        const fs::path sky = feeder.sky(work, "sky", "2,270");
        PlanOptions options;
        options.sweep = work.path() / "sweep";
        options.circuit = feeder.entry;
        options.skies = {sky};
        options.levels = {0, 50, 100};
        options.placements = {"near"};
        cases = plan_sweep(options).cases;
        folder = fs::weakly_canonical(options.sweep);
    }
    Feeder feeder;
    std::vector<Case> cases;
    fs::path folder;
};

// A circuit or sky that changed since planning is refused before any engine runs, naming the file
// and the command that plans again; planning again replaces the stale cases.
TEST(SweepPlan, ChangedInputsAreRefusedAndPlanningAgainReplacesThem)
{
    TempFolder work;
    SmallSweep sweep(work);
    refuse_changed_inputs(sweep.folder);
    // The link write tells the user to make, to a file the circuit names in another letter case, is
    // the same file: nothing changed.
    const fs::path link = sweep.feeder.circuit / "IEEELineCodes.dss";
    fs::remove(link);
    PlanOptions unlinked;
    unlinked.sweep = sweep.folder;
    unlinked.circuit = sweep.feeder.entry;
    unlinked.skies = {work.path() / "sky"};
    unlinked.levels = {0, 50, 100};
    unlinked.placements = {"near"};
    (void)plan_sweep(unlinked);
    fs::create_symlink("IEEELineCodes.DSS", link);
    refuse_changed_inputs(sweep.folder);
    const auto refused = [&](const std::function<void()>& step, const std::string& what) {
        try {
            step();
            ADD_FAILURE() << "taken: " << what;
            return std::string();
        } catch (const SweepError& error) {
            return std::string(error.what());
        }
    };
    // An edited circuit: run, a task and gather refuse, saying which file.
    put(sweep.feeder.entry, slurp(sweep.feeder.entry) + "New Load.extra bus1=671 kW=7000\n");
    const std::string edited = "IEEE13Nodeckt.dss was edited";
    for (const std::string& said :
         {refused([&] { (void)run_local(sweep.folder, {1, "true {script}", 0}, [](const std::string&) {}); }, "run"),
          refused([&] { (void)gather_sweep({sweep.folder, true}); }, "gather"),
          refused([&] { refuse_changed_inputs(sweep.folder); }, "the check")}) {
        EXPECT_NE(said.find("the sweep's circuit has changed since"), std::string::npos) << said;
        EXPECT_NE(said.find(edited), std::string::npos) << said;
        EXPECT_NE(said.find("plan it again, umbrascope-study sweep plan"), std::string::npos) << said;
    }
    for (const Case& c : sweep.cases)
        EXPECT_EQ(state_of(case_folder(sweep.folder, c.id)), State::left) << "nothing ran";
    // The file that changed is named, whichever of the circuit's it is.
    const std::string circuit_text = slurp(sweep.feeder.entry);
    put(sweep.feeder.entry, circuit_text.substr(0, circuit_text.find("New Load.extra")));
    const fs::path codes = sweep.feeder.circuit / "IEEELineCodes.DSS";
    const std::string codes_text = slurp(codes);
    put(codes, codes_text + "! a comment\n");
    const std::string second = refused([&] { refuse_changed_inputs(sweep.folder); }, "a line code edited");
    EXPECT_NE(second.find("IEEELineCodes.DSS was edited"), std::string::npos) << second;
    put(codes, codes_text);
    put(sweep.feeder.entry, circuit_text);
    // Planned again without 100 %: every case is written anew, and the stale one goes.
    PlanOptions options;
    options.sweep = sweep.folder;
    options.circuit = sweep.feeder.entry;
    options.skies = {work.path() / "sky"};
    options.levels = {0, 50};
    options.placements = {"near"};
    const PlanResult again = plan_sweep(options);
    EXPECT_EQ(again.replaced, 1);
    EXPECT_EQ(again.written, 2);
    EXPECT_EQ(again.cases.size(), 2U);
    EXPECT_FALSE(fs::exists(case_folder(sweep.folder, sweep.cases[2].id)));
    EXPECT_NEAR(again.record.feeder_kw, 3466 + 7000, 1e-9);
    refuse_changed_inputs(sweep.folder);
    // As they were, cases a plan no longer names are kept.
    options.levels = {0, 25};
    const PlanResult more = plan_sweep(options);
    EXPECT_EQ(more.replaced, 0);
    EXPECT_EQ(more.cases.size(), 3U);
    // A sky made again: refused, then its old cases replaced by the new sky's.
    ASSERT_EQ(run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --force --units ft --wind 5,90 --from-sensor " +
                  (feeders / "ieee8500/Normalized-1s-2900-pts.CSV").string() +
                  " --sensor-interval 1 --interval 5 --steps 12 --start 11:00:00 --loadshapes \"" +
                  (work.path() / "sky" / "sun.dss").string() + "\" \"" + (work.path() / "sky").string() + "\""),
              0);
    const std::string remade = refused([&] { refuse_changed_inputs(sweep.folder); }, "a sky made again");
    EXPECT_NE(remade.find("the sky " + fs::weakly_canonical(work.path() / "sky").string() + " has changed since"),
              std::string::npos) << remade;
    EXPECT_NE(remade.find("cloud_sun_intensity_table.txt was made again"), std::string::npos) << remade;
    const PlanResult remade_plan = plan_sweep(options);
    EXPECT_EQ(remade_plan.replaced, 3) << "the old sky's base, 25 and 50 %";
    EXPECT_EQ(remade_plan.cases.size(), 2U);
    EXPECT_EQ(read_cases(sweep.folder).size(), 2U);
    refuse_changed_inputs(sweep.folder);
    // A sweep planned before the fingerprints were kept asks to be planned again.
    const std::string record = slurp(sweep.folder / "sweep.txt");
    put(sweep.folder / "sweep.txt", record.substr(0, record.find("circuit_fingerprint")));
    EXPECT_NE(refused([&] { refuse_changed_inputs(sweep.folder); }, "an earlier plan")
                  .find("planned by an earlier umbrascope-study"),
              std::string::npos);
}

TEST(SweepWorker, EveryWayACaseFailsIsRecorded)
{
    TempFolder work;
    const SmallSweep sweep(work);
    const std::vector<Sky> skies = read_skies(sweep.folder);
    ASSERT_EQ(skies.size(), 1U);
    const Case& one = sweep.cases[1];
    struct Case {
        const char* what;
        std::string engine;
        double timeout;
        const char* reason;
        int exit_code;
    };
    const Case cases[] = {
        {"an engine that fails", "sh -c 'echo Error: no such circuit >&2; exit 3' {script}", 0,
         "the engine exited with 3: Error: no such circuit", 3},
        {"an engine that crashes", "sh -c 'kill -SEGV $$' {script}", 0, "the engine crashed (signal 11)", 139},
        {"an engine that hangs", "sh -c 'sleep 30' {script}", 0.5, "longer than --case-timeout", -1},
        {"an engine not there", "/no/such/engine {script}", 0, "exited with 127 (its command was not found)", 127},
        {"an engine that writes nothing", "true {script}", 0, "read: ", 0},
        // The engine's message whole, its description with it, not the first line alone.
        {"an engine's error of several lines",
         "sh -c 'echo x_EXP_VOLTAGES.CSV; printf \"Error 666 Reported From OpenDSS Intrinsic Function: \\nMonitor: m\\n\\n"
         "Error Description: \\nCircuit Element is not set.\\n\" >&2; exit 1' {script}",
         0, "Error 666 Reported From OpenDSS Intrinsic Function: Monitor: m Error Description: Circuit Element is not set.",
         1},
        // What it did last is not why it failed.
        {"an engine that fails saying nothing of why", "sh -c 'echo x_Mon_v1_1.csv; exit 1' {script}", 0,
         "the engine exited with 1: it printed no error; its last line: x_Mon_v1_1.csv", 1},
    };
    for (const Case& c : cases) {
        const CaseRun run = run_case(sweep.folder, one, skies[0], {c.engine, c.timeout});
        ASSERT_TRUE(run.status) << c.what;
        EXPECT_FALSE(run.status->done) << c.what;
        EXPECT_NE(run.status->reason.find(c.reason), std::string::npos) << c.what << ": " << run.status->reason;
        EXPECT_EQ(run.status->exit_code, c.exit_code) << c.what;
        EXPECT_LT(run.status->seconds, 10) << c.what;
        // Written last and whole, and read back as written.
        const std::optional<Status> read = read_status(case_folder(sweep.folder, one.id));
        ASSERT_TRUE(read);
        EXPECT_EQ(read->reason, run.status->reason);
        EXPECT_EQ(state_of(case_folder(sweep.folder, one.id)), State::failed);
        EXPECT_FALSE(fs::exists(case_folder(sweep.folder, one.id) / "running")) << c.what;
    }
    // How a case ended cannot be recorded (a full disk): the failure goes on, and the case is left
    // not run, never running.
    if (fs::exists("/dev/full")) {
        const fs::path folder = case_folder(sweep.folder, one.id);
        try {
            // The engine runs in the case's folder, and leaves the status's place full.
            (void)run_case(sweep.folder, one, skies[0], {"sh -c 'ln -s /dev/full status; exit 3' {script}", 0});
            ADD_FAILURE() << "a status that cannot be written was taken";
        } catch (const SweepError& error) {
            EXPECT_NE(std::string(error.what()).find("cannot record how case " + one.id + " ended"), std::string::npos)
                << error.what();
        }
        EXPECT_FALSE(fs::exists(folder / "running"));
        EXPECT_FALSE(fs::is_symlink(folder / "status"));
        EXPECT_EQ(state_of(folder), State::left);
    }
    // A case edited after planning is refused, with the command that plans it again.
    put(case_folder(sweep.folder, one.id) / "PVSystems.dss", "! edited\n");
    const CaseRun edited = run_case(sweep.folder, one, skies[0], {"true {script}", 0});
    ASSERT_TRUE(edited.status);
    EXPECT_NE(edited.status->reason.find("were edited after planning: plan it again, umbrascope-study sweep plan"),
              std::string::npos) << edited.status->reason;
    EXPECT_NE(edited.status->reason.find("--levels 0,50,100 --placement near"), std::string::npos) << edited.status->reason;
    // The engine named: given, from the environment, or refused in one line.
    EXPECT_EQ(resolve_engine(std::string("sh -c true")), "sh -c true {script}");
    EXPECT_THROW((void)resolve_engine(std::string("/no/such/engine {script}")), SweepError);
    ::setenv("UMBRASCOPE_ENGINE", "cat {script}", 1);
    EXPECT_EQ(resolve_engine(std::nullopt), "cat {script}");
    ::unsetenv("UMBRASCOPE_ENGINE");
    // Counted from the cases' own status files.
    const Counts counts = sweep_status(sweep.folder);
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.left, 2);
    EXPECT_EQ(counts.done + counts.running, 0);
}

// In the engine, a done case keeps its reports and not the engine's exports nor the voltage
// tables; kept where asked.
TEST(SweepWorker, ADoneCaseKeepsItsReportsAlone)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!fs::exists(engine) || run("\"" + engine.string() + "\" -c \"new circuit.probe\" -c solve") != 0)
        GTEST_SKIP() << "skipped: no OpenDSS engine runs at " << engine
                     << " (set UMBRASCOPE_OPENDSS to one; it needs libklu1 and libmetis5)";
    TempFolder work;
    const SmallSweep sweep(work);
    LocalOptions options;
    options.engine = "'" + engine.string() + "' {script}";
    const LocalResult result = run_local(sweep.folder, options, [](const std::string&) {});
    ASSERT_EQ(result.done, 3) << "the cases ran";
    for (const Case& c : sweep.cases) {
        const fs::path folder = case_folder(sweep.folder, c.id);
        EXPECT_FALSE(fs::exists(folder / "results")) << c.id;
        EXPECT_FALSE(fs::exists(folder / "cloud_voltage_max_table.txt")) << c.id;
        EXPECT_TRUE(fs::exists(folder / "voltage_report.csv")) << c.id;
        EXPECT_TRUE(fs::exists(folder / "controls_report.csv")) << c.id;
    }
    fs::remove(case_folder(sweep.folder, sweep.cases[1].id) / "status");
    options.keep_exports = true;
    EXPECT_EQ(run_local(sweep.folder, options, [](const std::string&) {}).done, 1);
    EXPECT_TRUE(fs::exists(case_folder(sweep.folder, sweep.cases[1].id) / "results"));
    EXPECT_TRUE(fs::exists(case_folder(sweep.folder, sweep.cases[1].id) / "cloud_voltage_max_table.txt"));
}

// A running marker whose process is gone, on this host, leaves its case not run; another host's, or
// a Slurm job's, is taken as it says.
TEST(SweepWorker, AMarkerOfAProcessGoneLeavesTheCaseNotRun)
{
    TempFolder work;
    const SmallSweep sweep(work);
    const fs::path folder = case_folder(sweep.folder, sweep.cases[1].id);
    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    struct Case {
        std::string marker;
        State state;
    };
    const Case cases[] = {
        {"host = " + std::string(host) + "\npid = " + std::to_string(gone) + "\n", State::left},
        {"host = " + std::string(host) + "\npid = " + std::to_string(getpid()) + "\n", State::running},
        {"host = elsewhere\npid = " + std::to_string(gone) + "\n", State::running},
        {"host = " + std::string(host) + "\npid = " + std::to_string(gone) + "\nslurm_job = 12\n", State::running},
    };
    for (const Case& c : cases) {
        put(folder / "running", c.marker);
        EXPECT_EQ(state_of(folder), c.state) << c.marker;
    }
}

TEST(SweepWorker, CtrlCEndsTheEnginesAndCountsAHalfRunCaseAsNotRun)
{
    TempFolder work;
    const SmallSweep sweep(work);
    // The base ends at once (and fails, writing nothing); the others hang until stopped.
    const std::string base = sweep.cases[0].id;
    // The others pay no heed to SIGTERM, as an engine deep in a solve may not.
    const std::string engine = "sh -c 'case \"$0\" in *" + base + "*) exit 3;; esac; trap \"\" TERM; sleep 60' {script}";
    std::vector<std::string> lines;
    catch_stop_signals();
    std::chrono::steady_clock::time_point signalled;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        signalled = std::chrono::steady_clock::now();
        kill(getpid(), SIGINT);  // Ctrl+C
    });
    const LocalResult result = run_local(sweep.folder, {1, engine, 0}, [&](const std::string& line) { lines.push_back(line); });
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    stop_requested() = false;
    EXPECT_LT(ended - signalled, std::chrono::seconds(2)) << "the engine ended at once, and no other case started";
    EXPECT_TRUE(result.interrupted);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(state_of(case_folder(sweep.folder, base)), State::failed) << "a case finished stays recorded";
    for (std::size_t i = 1; i < sweep.cases.size(); ++i) {
        const fs::path folder = case_folder(sweep.folder, sweep.cases[i].id);
        EXPECT_EQ(state_of(folder), State::left) << "a case stopped part-way counts as not run";
        EXPECT_FALSE(fs::exists(folder / "status"));
        EXPECT_FALSE(fs::exists(folder / "running"));
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines[0].find("0 done, 1 failed, 2 left"), std::string::npos) << lines[0];
}

// A submission as Slurm's client sees it: a recording sbatch on the PATH. Each array is 0 to its tasks
// less one, a task a list of cases, and the gather after them all.
TEST(SweepSlurm, ASubmissionAsSbatchIsGivenIt)
{
    TempFolder work;
    const SmallSweep sweep(work);
    const fs::path bin = work.path() / "bin";
    fs::create_directories(bin);
    const fs::path said = work.path() / "sbatch.txt";
    const auto tool = [&](const std::string& name, const std::string& body) {
        put(bin / name, "#!/bin/sh\n" + body);
        fs::permissions(bin / name, fs::perms::owner_all);
    };
    tool("sbatch", "echo \"$@\" >> '" + said.string() + "'\nn=$(wc -l < '" + said.string() + "')\necho $((100 + n))\n");
    tool("squeue", "exit 0\n");
    tool("scontrol", "echo MaxArraySize=1001\n");
    tool("scancel", "exit 0\n");
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    SubmitOptions options;
    options.cases_per_task = 1;
    options.engine = "true {script}";
    options.program = "/usr/bin/umbrascope-study";
    const Submitted submitted = submit_slurm(sweep.folder, options);
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(submitted.cases, 3);
    EXPECT_EQ(submitted.tasks, 3);
    EXPECT_EQ(submitted.arrays, std::vector<std::string>{"101"});
    EXPECT_EQ(submitted.gather, "102");
    const std::string calls = slurp(said);
    EXPECT_NE(calls.find(" --array=0-2 "), std::string::npos) << calls;
    EXPECT_NE(calls.find("--dependency=afterany:101 "), std::string::npos) << calls;
    EXPECT_EQ(slurp(sweep.folder / "slurm" / "tasks-1.csv"),
              "task,case\n0," + sweep.cases[0].id + "\n1," + sweep.cases[1].id + "\n2," + sweep.cases[2].id + "\n");
}

// A voltage report of buses given as "bus:lowest:lowest_row:highest:highest_row:below_a:above_a:below_b:above_b".
std::string voltage_report(const std::vector<std::string>& buses)
{
    std::string out = "bus,distance_km,lowest,lowest_row,highest,highest_row,seconds_below_a,seconds_above_a,"
                      "seconds_below_b,seconds_above_b\n";
    for (const std::string& bus : buses) {
        std::string line = bus;
        std::replace(line.begin(), line.end(), ':', ',');
        const std::size_t first = line.find(',');
        out += line.substr(0, first) + ",1.0" + line.substr(first) + "\n";
    }
    return out;
}

std::string controls_report(int taps_sky, int taps_clear, int switchings, double pv_kwh)
{
    return "sky,kind,name,element,winding,start,changes,steps_changed,min,max,ramp_per_s,ramp_row,kwh\n"
           "sky,regcontrol,Reg1,Transformer.Reg1,2,9," + std::to_string(taps_sky) + ",1,9,9,,,\n"
           "sky,capcontrol,C1,Capacitor.C1,,1," + std::to_string(switchings) + ",1,0,1,,,\n"
           "sky,ramp,head_kw,Vsource.source,,800.000,,,700.000,900.000,-53.600,7,50.000\n"
           "sky,ramp,pv_kw,,,100.000,,,0.000,200.000,12.000,7," + std::to_string(pv_kwh) + "\n"
           "clear,regcontrol,Reg1,Transformer.Reg1,2,9," + std::to_string(taps_clear) + ",0,9,9,,,\n"
           "clear,ramp,pv_kw,,,100.000,,,0.000,250.000,1.000,3,120\n"
           "clear,capcontrol,C1,Capacitor.C1,,1,0,0,1,1,,,\n";
}

// A loading report of elements given as "element:max_pct:s_over_normal:window_pct:rated" under the
// sky and the clear sky alike, each rated 400 A normal and 600 A emergency, its peak in row 5.
std::string loading_report(const std::vector<std::string>& elements)
{
    std::string out = "sky,element,kind,bus1,bus2,normal_a,emergency_a,rated_by,max_pct_normal,max_row,max_time,"
                      "s_over_normal,s_over_emergency,window_pct_normal,window_end_row\n";
    for (const char* sky : {"sky", "clear"})
        for (const std::string& element : elements) {
            std::vector<std::string> f;
            std::stringstream fields(element);
            for (std::string field; std::getline(fields, field, ':');)
                f.push_back(field);
            const double emergency_s = std::stod(f[1]) * 400 / 600 > 100 ? 5 : 0;
            out += std::string(sky) + "," + f[0] + ",line,a,b,400,600," + (f[4] == "yes" ? "circuit" : "engine default") +
                   "," + f[1] + ",5,11:00:20," + f[2] + "," + std::to_string(emergency_s) + "," + f[3] + ",9\n";
        }
    return out;
}

void finish_case(const fs::path& sweep, const Case& c, const std::string& voltages, const std::string& clear,
                 const std::string& controls, const std::string& loading = loading_report({"Line.a:50:0:40:yes"}))
{
    const fs::path folder = case_folder(sweep, c.id);
    put(folder / "voltage_report.csv", voltages);
    put(folder / "voltage_report_clear.csv", clear);
    put(folder / "controls_report.csv", controls);
    put(folder / "loading_report.csv", loading);
    Status status;
    status.done = true;
    status.files = planned_fingerprint(folder).value();
    put(folder / "status", status_text(status));
}

// A row of hosting_capacity.csv: a sky's (or all skies') under one placement or all.
std::map<std::string, std::string> capacity_of(const fs::path& sweep, const std::string& sky,
                                               const std::string& placement = "all")
{
    const auto rows = csv_rows(slurp(sweep / "hosting_capacity.csv"));
    std::map<std::string, std::string> out;
    for (const std::vector<std::string>& row : rows)
        if (row[0] == sky && row[1] == placement)
            for (std::size_t k = 0; k < row.size(); ++k)
                out[rows.front()[k]] = row[k];
    return out;
}

TEST(SweepGather, FiguresFromTheCasesReportsAndTheAnswer)
{
    TempFolder work;
    const SmallSweep sweep(work);
    ASSERT_EQ(sweep.cases.size(), 3U);
    const Case& base = sweep.cases[0];
    const Case& half = sweep.cases[1];
    const Case& full = sweep.cases[2];
    // The base: RG60 above range A all run (the feeder's own), 611 low but in range.
    finish_case(sweep.folder, base, voltage_report({"RG60:1.0500:1:1.0560:1:0:60:0:0", "611:0.9608:3:0.9700:1:0:0:0:0"}),
                voltage_report({"RG60:1.0500:1:1.0560:1:0:60:0:0", "611:0.9608:3:0.9700:1:0:0:0:0"}),
                controls_report(2, 2, 0, 0));
    // Half: in range but for RG60, set aside; 4 taps more than the base.
    finish_case(sweep.folder, half, voltage_report({"RG60:1.0500:1:1.0590:4:0:60:0:0", "611:0.9650:2:1.0400:9:0:0:0:0"}),
                voltage_report({"RG60:1.0500:1:1.0560:1:0:60:0:0", "611:0.9650:2:1.0300:9:0:0:0:0"}),
                controls_report(6, 2, 1, 44.5));
    // Full: 675 above range A for 15 s in row 9 under the sky, not under the clear sky.
    finish_case(sweep.folder, full,
                voltage_report({"RG60:1.0500:1:1.0590:4:0:60:0:0", "611:0.9650:2:1.0400:9:0:0:0:0",
                                "675:1.0000:1:1.0612:9:0:15:0:0"}),
                voltage_report({"RG60:1.0500:1:1.0560:1:0:60:0:0", "611:0.9650:2:1.0300:9:0:0:0:0",
                                "675:1.0000:1:1.0480:9:0:0:0:0"}),
                controls_report(9, 3, 1, 89));
    const GatherResult result = gather_sweep({sweep.folder, false});
    ASSERT_TRUE(result.answered);
    EXPECT_TRUE(result.missing.empty());
    const auto report = csv_rows(slurp(sweep.folder / "sweep_report.csv"));
    ASSERT_EQ(report.size(), 4U);
    const auto b = row_of(report, base.id);
    EXPECT_EQ(b.at("buses_outside_a"), "0") << "RG60 is the feeder's own";
    EXPECT_EQ(b.at("set_aside_a"), "1");
    EXPECT_EQ(b.at("v_max"), "0.9700") << "range A's set aside leaves the highest too";
    EXPECT_EQ(b.at("v_min"), "0.9608");
    EXPECT_EQ(b.at("v_min_row"), "3");
    EXPECT_EQ(b.at("v_min_time"), "11:00:10");
    const auto f = row_of(report, full.id);
    EXPECT_EQ(f.at("buses_outside_a"), "1");
    EXPECT_EQ(f.at("most_s_outside_a"), "15");
    EXPECT_EQ(f.at("v_max"), "1.0612");
    EXPECT_EQ(f.at("v_max_bus"), "675");
    EXPECT_EQ(f.at("v_max_row"), "9");
    EXPECT_EQ(f.at("taps_sky"), "9");
    EXPECT_EQ(f.at("taps_clear"), "3");
    EXPECT_EQ(f.at("taps_base"), "2");
    EXPECT_EQ(f.at("switchings_sky"), "1");
    EXPECT_EQ(f.at("switchings_base"), "0");
    EXPECT_EQ(f.at("head_ramp_kw_per_s"), "-53.6");
    EXPECT_EQ(f.at("head_ramp_row"), "7");
    EXPECT_EQ(f.at("all_pv_kwh"), "89");
    EXPECT_EQ(f.at("added_pv_kw"), "3466");
    EXPECT_EQ(f.at("existing_pv_kw"), "0") << "IEEE 13 has no PV of its own";
    // The load judged at: the head's least and most under the sky, and the engine's LoadMult.
    EXPECT_EQ(f.at("head_kw_min"), "700");
    EXPECT_EQ(f.at("head_kw_max"), "900");
    EXPECT_EQ(f.at("load_mult"), "1");
    EXPECT_EQ(f.at("pv_peak_kw"), "200");
    EXPECT_EQ(f.at("clear_pv_peak_kw"), "250");

    auto sky = capacity_of(sweep.folder, "sky");
    auto near = capacity_of(sweep.folder, "sky", "near");
    sky.erase("placement");
    near.erase("placement");
    EXPECT_EQ(sky, near) << "one placement: its row is all";
    EXPECT_EQ(sky.at("hc_min_pct"), "50");
    EXPECT_EQ(sky.at("hc_min_kw"), "1733");
    EXPECT_EQ(sky.at("hc_max_pct"), "50");
    EXPECT_EQ(sky.at("clear_hc_min_pct"), "100") << "the clear sky keeps 675 in range";
    EXPECT_EQ(sky.at("clear_hc_max_kw"), "3466");
    EXPECT_EQ(sky.at("answer_pct"), "50");
    EXPECT_EQ(sky.at("limited_by"), "sky");
    EXPECT_EQ(sky.at("partial"), "no");
    EXPECT_EQ(sky.at("censored"), "no");
    EXPECT_EQ(sky.at("first_failing_case"), full.id);
    EXPECT_EQ(sky.at("criterion"), "max_seconds_outside_a");
    EXPECT_EQ(sky.at("where"), "675");
    EXPECT_EQ(sky.at("row"), "9");
    EXPECT_EQ(sky.at("time"), "11:00:40");
    EXPECT_EQ(sky.at("value"), "15");
    EXPECT_EQ(sky.at("clear_first_failing_case"), "");
    EXPECT_EQ(capacity_of(sweep.folder, "all").at("hc_min_pct"), "50");
    ASSERT_FALSE(result.summary.empty());
    EXPECT_EQ(result.summary[0],
              "Hosting capacity under the sky sky: 1,733 kW (50 %), limited by the sky's cloud. Under the sky 1,733 kW "
              "(50 %): seconds outside range A at 675, 15 s (row 9, 11:00:40), in case " + full.id +
                  " at 100 % (near). Under a clear sky at least 3,466 kW (100 %): no case fails.");
    const std::string said = slurp(sweep.folder / "sweep_summary.txt");
    EXPECT_NE(said.find("the PV reached at most 80 % of its clear-sky output"), std::string::npos) << said;
    EXPECT_NE(said.find("Judged at the loads as the circuit gives them, LoadMult 1; without added PV the head took 700 "
                        "to 900 kW under the sky sky"),
              std::string::npos) << said;
    for (const char* name : {"hosting_capacity.png", "hosting_capacity.svg", "sweep_summary.txt"})
        EXPECT_TRUE(fs::exists(sweep.folder / name)) << name;
    // The PNG is the SVG drawn, twice its size, labels and all.
    const std::string png = slurp(sweep.folder / "hosting_capacity.png");
    ASSERT_GT(png.size(), 24U);
    const auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned>(static_cast<unsigned char>(png[at])) << 24) |
               (static_cast<unsigned>(static_cast<unsigned char>(png[at + 1])) << 16) |
               (static_cast<unsigned>(static_cast<unsigned char>(png[at + 2])) << 8) |
               static_cast<unsigned>(static_cast<unsigned char>(png[at + 3]));
    };
    const std::string svg = slurp(sweep.folder / "hosting_capacity.svg");
    const std::size_t width_at = svg.find("width=\"") + 7;
    EXPECT_EQ(be32(16), 2 * std::stoul(svg.substr(width_at, svg.find('"', width_at) - width_at)));
    EXPECT_GT(be32(20), 200U);

    // The cloud's wear decides where a limit is given: 6 - 2 = 4 taps more at 50 % is too many.
    put(sweep.folder / "criteria.txt", "max_tap_increase = 3\n");
    const GatherResult wear = gather_sweep({sweep.folder, false});
    const auto limited = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(limited.at("hc_min_pct"), "0");
    EXPECT_EQ(limited.at("criterion"), "max_tap_increase");
    EXPECT_EQ(limited.at("where"), "Reg1");
    EXPECT_EQ(limited.at("clear_hc_min_pct"), "100") << "the clear sky's 3 taps are 1 more than the base";
    EXPECT_NE(wear.summary[0].find("0 kW (0 %): tap changes at Reg1, 6 against 2 without added PV"), std::string::npos)
        << wear.summary[0];
    // Without setting the base's buses aside, RG60 fails the base, and every case: no capacity, and
    // no level at which any case passes.
    put(sweep.folder / "criteria.txt", "exclude_base_violations = no\n");
    const GatherResult strict = gather_sweep({sweep.folder, false});
    const auto none = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(none.at("hc_min_pct"), "");
    EXPECT_EQ(none.at("hc_max_kw"), "");
    EXPECT_EQ(none.at("answer_pct"), "");
    EXPECT_EQ(none.at("limited_by"), "the base");
    EXPECT_EQ(none.at("first_failing_case"), base.id);
    EXPECT_NE(strict.summary[0].find("none: the feeder without added PV fails already, by seconds outside range A at "
                                     "RG60, 60 s"),
              std::string::npos) << strict.summary[0];

    // A full disk: nothing of the gather is written, and what was there stays as it was.
    if (fs::exists("/dev/full")) {
        const std::string report_before = slurp(sweep.folder / "sweep_report.csv");
        const std::string capacity_before = slurp(sweep.folder / "hosting_capacity.csv");
        fs::remove(sweep.folder / "hosting_capacity.svg");
        fs::create_symlink("/dev/full", sweep.folder / "hosting_capacity.svg");
        put(sweep.folder / "criteria.txt", "max_voltage = 1.07\n");
        try {
            (void)gather_sweep({sweep.folder, false});
            ADD_FAILURE() << "a full disk took the gather";
        } catch (const SweepError& error) {
            EXPECT_NE(std::string(error.what()).find("No space left on device"), std::string::npos) << error.what();
        }
        EXPECT_EQ(slurp(sweep.folder / "sweep_report.csv"), report_before);
        EXPECT_EQ(slurp(sweep.folder / "hosting_capacity.csv"), capacity_before);
        fs::remove(sweep.folder / "hosting_capacity.svg");
    }

    // A case missing: the report of the others, no answer, the case named; --partial answers, and
    // says so in every row.
    put(sweep.folder / "criteria.txt", "");
    fs::remove(case_folder(sweep.folder, full.id) / "status");
    const std::string answer = slurp(sweep.folder / "hosting_capacity.csv");
    const GatherResult refused = gather_sweep({sweep.folder, false});
    EXPECT_FALSE(refused.answered);
    ASSERT_EQ(refused.missing.size(), 1U);
    EXPECT_EQ(refused.missing[0], full.id + " (not run)");
    EXPECT_EQ(csv_rows(slurp(sweep.folder / "sweep_report.csv")).size(), 3U);
    EXPECT_EQ(slurp(sweep.folder / "hosting_capacity.csv"), answer) << "no new answer is stated";
    const GatherResult partial = gather_sweep({sweep.folder, true});
    EXPECT_TRUE(partial.answered);
    EXPECT_EQ(partial.summary[0].rfind("Partial: ", 0), 0U) << partial.summary[0];
    const auto partly = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(partly.at("hc_min_pct"), "50") << "known up to the missing case";
    EXPECT_EQ(partly.at("partial"), "yes");
    EXPECT_EQ(partly.at("censored"), "no") << "a missing case is not a passing one";
    // A case planned again since it ran is not taken.
    finish_case(sweep.folder, full, voltage_report({"611:0.9650:2:1.0400:9:0:0:0:0"}),
                voltage_report({"611:0.9650:2:1.0400:9:0:0:0:0"}), controls_report(2, 2, 0, 1));
    put(case_folder(sweep.folder, full.id) / "case.txt", "case = x\nfiles = 0000000000000000\n");
    const GatherResult replanned = gather_sweep({sweep.folder, false});
    ASSERT_EQ(replanned.missing.size(), 1U);
    EXPECT_NE(replanned.missing[0].find("planned again since it ran"), std::string::npos);
}

// What a partial gather may state: a missing level ends the answer below it, a missing base leaves
// its sky without one, and where no planned level fails the answer is "at least" the highest.
TEST(SweepGather, PartialAnswersAreTrue)
{
    TempFolder work;
    const Feeder feeder(work);
    PlanOptions options;
    options.sweep = work.path() / "sweep";
    options.circuit = feeder.entry;
    options.skies = {feeder.sky(work, "sky", "2,270")};
    options.levels = {0, 25, 50, 75};
    options.placements = {"near"};
    const std::vector<Case> cases = plan_sweep(options).cases;
    ASSERT_EQ(cases.size(), 4U);
    const fs::path sweep = fs::weakly_canonical(options.sweep);
    const std::string fine = voltage_report({"611:0.9650:2:1.0400:9:0:0:0:0"});
    const std::string high = voltage_report({"611:0.9650:2:1.0600:9:0:5:0:0"});
    // Every planned level passes: at least the highest.
    for (const Case& c : cases)
        finish_case(sweep, c, fine, fine, controls_report(2, 2, 0, 1));
    const GatherResult every = gather_sweep({sweep, false});
    EXPECT_EQ(capacity_of(sweep, "sky").at("censored"), "yes");
    EXPECT_EQ(capacity_of(sweep, "sky").at("answer_pct"), "75");
    EXPECT_EQ(every.summary[0], "Hosting capacity under the sky sky: at least 2,600 kW (75 %), the highest level "
                                "planned: no case fails, under the sky or a clear sky; plan higher levels for the limit");
    // 25 % missing, 50 % passing and 75 % failing: nothing is known above the base.
    fs::remove(case_folder(sweep, cases[1].id) / "status");
    finish_case(sweep, cases[3], high, fine, controls_report(2, 2, 0, 1));
    const GatherResult gap = gather_sweep({sweep, true});
    const auto row = capacity_of(sweep, "sky");
    EXPECT_EQ(row.at("hc_min_pct"), "0") << "50 % passing above a missing 25 % states nothing";
    EXPECT_EQ(row.at("hc_max_pct"), "50") << "the highest level at which some case passes";
    EXPECT_EQ(row.at("partial"), "yes");
    EXPECT_EQ(row.at("censored"), "no");
    EXPECT_EQ(gap.summary[0].rfind("Partial: Hosting capacity under the sky sky: 0 kW (0 %)", 0), 0U) << gap.summary[0];
    // Every case missing but one level: the base never ran, so there is no answer, and no failure of
    // the feeder is stated.
    for (const Case& c : cases)
        fs::remove(case_folder(sweep, c.id) / "status");
    finish_case(sweep, cases[2], fine, fine, controls_report(2, 2, 0, 1));
    const GatherResult unrun = gather_sweep({sweep, true});
    const auto nothing = capacity_of(sweep, "sky");
    EXPECT_EQ(nothing.at("hc_min_pct"), "");
    EXPECT_EQ(nothing.at("answer_pct"), "");
    EXPECT_EQ(nothing.at("limited_by"), "");
    EXPECT_EQ(unrun.summary[0], "Partial: Hosting capacity under the sky sky: no answer: the base case without added PV (" +
                                    cases[0].id + ") has not run, and every level is judged against it");
    for (const std::string& line : unrun.summary) {
        EXPECT_EQ(line.find("fails"), std::string::npos) << line;
        EXPECT_EQ(line.find("no case"), std::string::npos) << line;
    }
}

// By placement: a row each, and the spread of the random placements over their seeds; the clear sky
// limits where it fails lower, and is named.
TEST(SweepGather, AnswersByPlacementAndTheClearSkysLimit)
{
    TempFolder work;
    const Feeder feeder(work);
    PlanOptions options;
    options.sweep = work.path() / "sweep";
    options.circuit = feeder.entry;
    options.skies = {feeder.sky(work, "sky", "2,270")};
    options.levels = {0, 25, 50, 75};
    options.placements = {"near", "random"};
    options.seeds = 3;
    const std::vector<Case> cases = plan_sweep(options).cases;
    ASSERT_EQ(cases.size(), 13U);  // the base, near at 3 levels, 3 seeds at 3 levels
    const fs::path sweep = fs::weakly_canonical(options.sweep);
    const std::string fine = voltage_report({"611:0.9650:2:1.0400:9:0:0:0:0"});
    const auto high = [](const std::string& volts) {
        return voltage_report({"611:0.9650:2:" + volts + ":9:0:0:0:0"});
    };
    for (const Case& c : cases) {
        // Random seed s fails from level 25 x s on, its voltage the higher the higher the seed;
        // near passes under the sky and fails at 50 under a clear sky.
        const bool fails = c.placement == "random" && c.level_pct >= 25 * c.seed;
        const std::string sky = fails ? high(c.seed == 1 ? "1.0600" : c.seed == 2 ? "1.0700" : "1.0800") : fine;
        const std::string clear = c.placement == "near" && c.level_pct >= 50 ? high("1.0550") : sky;
        finish_case(sweep, c, sky, clear, controls_report(2, 2, 0, 1));
    }
    const GatherResult result = gather_sweep({sweep, false});
    const auto random = capacity_of(sweep, "sky", "random");
    EXPECT_EQ(random.at("hc_min_pct"), "0");
    EXPECT_EQ(random.at("hc_median_pct"), "25");
    EXPECT_EQ(random.at("hc_max_pct"), "50");
    const auto near = capacity_of(sweep, "sky", "near");
    EXPECT_EQ(near.at("hc_min_pct"), "75");
    EXPECT_EQ(near.at("censored"), "no") << "the clear sky fails at 50";
    EXPECT_EQ(near.at("clear_hc_min_pct"), "25");
    EXPECT_EQ(near.at("answer_pct"), "25");
    EXPECT_EQ(near.at("limited_by"), "clear sky");
    EXPECT_EQ(near.at("clear_criterion"), "max_voltage");
    EXPECT_EQ(near.at("clear_where"), "611");
    EXPECT_EQ(near.at("clear_value"), "1.0550");
    // All placements: the first failing case is at 25 %, of the two seeds failing there the one with
    // the highest voltage.
    const auto all = capacity_of(sweep, "sky");
    const auto worst = std::find_if(cases.begin(), cases.end(), [](const Case& c) {
        return c.placement == "random" && c.seed == 1 && c.level_pct == 25;
    });
    EXPECT_EQ(all.at("first_failing_case"), worst->id) << "only seed 1 fails at 25";
    EXPECT_EQ(all.at("value"), "1.0600");
    EXPECT_EQ(all.at("hc_median_pct"), "37.5") << "near 75 and the seeds' 0, 25 and 50";
    const std::string said = slurp(sweep / "sweep_summary.txt");
    EXPECT_NE(said.find("By placement under the sky sky: near 867 kW (25 %) and random 0 to 1,733 kW (0 to 50 %) over 3 "
                        "seeds, the median 867 kW (25 %)"),
              std::string::npos) << said;
    (void)result;
}

// The regulator named for tap changes is the one that moved most, the first in the report on a tie.
TEST(SweepGather, TheRegulatorThatMovedMostIsNamed)
{
    TempFolder work;
    const SmallSweep sweep(work);
    const std::string fine = voltage_report({"611:0.9650:2:1.0400:9:0:0:0:0"});
    const auto controls = [](int a, int b) {
        return "sky,kind,name,element,winding,start,changes,steps_changed,min,max,ramp_per_s,ramp_row,kwh\n"
               "sky,regcontrol,RegA,Transformer.A,2,0," + std::to_string(a) + ",1,0,0,,,\n"
               "sky,regcontrol,RegB,Transformer.B,2,0," + std::to_string(b) + ",1,0,0,,,\n";
    };
    finish_case(sweep.folder, sweep.cases[0], fine, fine, controls(0, 0));
    finish_case(sweep.folder, sweep.cases[1], fine, fine, controls(3, 3));
    finish_case(sweep.folder, sweep.cases[2], fine, fine, controls(2, 5));
    put(sweep.folder / "criteria.txt", "max_tap_increase = 1\n");
    (void)gather_sweep({sweep.folder, false});
    const auto capacity = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(capacity.at("first_failing_case"), sweep.cases[1].id);
    EXPECT_EQ(capacity.at("where"), "RegA") << "a tie: the first in the report";
    EXPECT_EQ(capacity.at("value"), "6");
    const auto report = csv_rows(slurp(sweep.folder / "sweep_report.csv"));
    EXPECT_EQ(row_of(report, sweep.cases[2].id).at("taps_sky"), "7");
}

// The first failing case is at the lowest failing level, the first in cases.csv on a tie.
TEST(SweepGather, TheFirstFailingCaseIsTheFirstOfItsLevel)
{
    TempFolder work;
    const Feeder feeder(work);
    PlanOptions options;
    options.sweep = work.path() / "sweep";
    options.circuit = feeder.entry;
    options.skies = {feeder.sky(work, "sky", "2,270")};
    options.levels = {0, 25, 50};
    options.placements = {"far", "near"};
    const std::vector<Case> cases = plan_sweep(options).cases;
    ASSERT_EQ(cases.size(), 5U);  // the base, far 25 and 50, near 25 and 50
    const fs::path sweep = fs::weakly_canonical(options.sweep);
    const std::string fine = voltage_report({"611:0.9650:2:1.0400:9:0:0:0:0"});
    const std::string high = voltage_report({"611:0.9650:2:1.0600:9:0:5:0:0"});
    for (const Case& c : cases)
        finish_case(sweep, c, c.level_pct == 50 || c.level_pct == 25 ? high : fine, fine, controls_report(2, 2, 0, 1));
    (void)gather_sweep({sweep, false});
    const auto capacity = capacity_of(sweep, "sky");
    EXPECT_EQ(capacity.at("first_failing_case"), cases[1].id) << "far at 25, first in cases.csv";
    EXPECT_EQ(cases[1].placement, "far");
    EXPECT_EQ(cases[1].level_pct, 25);
    EXPECT_EQ(capacity.at("hc_min_pct"), "0");
    EXPECT_EQ(capacity.at("hc_max_pct"), "0");
    EXPECT_EQ(capacity.at("clear_hc_min_pct"), "50");
}

// Each line's and transformer's figure against its limit, or against the base where it was over a
// rating already: at a limit passes, above fails; made worse by one point passes, by more fails.
TEST(SweepLoading, EachElementAgainstItsLimitOrItsBase)
{
    struct Case {
        const char* what;
        ElementLoading own;
        std::optional<ElementLoading> base;
        const char* over_normal;     // the element failing max_loading_pct, "" for none
        const char* over_emergency;  // and max_emergency_pct
    };
    const auto element = [](double max_pct, double window_pct, double emergency_s = 0, bool rated = true) {
        ElementLoading e;
        e.max_pct = max_pct;
        e.max_row = 7;
        e.window_pct = window_pct;
        e.window_row = 9;
        e.normal_a = 400;
        e.emergency_a = 600;
        e.s_over_emergency = emergency_s;
        e.rated = rated;
        return e;
    };
    const Case cases[] = {
        {"well within", element(90, 80), std::nullopt, "", ""},
        {"the moving average at its limit", element(120, 100), element(50, 40), "", ""},
        {"the moving average above it", element(120, 100.001), element(50, 40), "x", ""},
        {"at the emergency rating at a second", element(150, 90), element(50, 40), "", ""},
        {"above it", element(150.01, 90), element(50, 40), "", "x"},
        {"over in the base, a point worse", element(130, 121), element(130, 120, 5), "", ""},
        {"over in the base, more than a point worse", element(130, 121.01), element(130, 120, 5), "x", ""},
        {"over emergency in the base, a point worse", element(166.5, 90), element(165, 90, 5), "", ""},
        {"over emergency in the base, more", element(166.6, 90), element(165, 90, 5), "", "x"},
        {"rated by the engine's defaults: not judged", element(200, 190, 60, false), std::nullopt, "", ""},
    };
    Criteria criteria;
    for (const Case& c : cases) {
        std::map<std::string, ElementLoading> own{{"x", c.own}}, base;
        if (c.base)
            base["x"] = *c.base;
        const LoadingFigures f = loading_figures(own, &base, criteria);
        EXPECT_EQ(f.over_normal ? f.over_normal->element : "", c.over_normal) << c.what;
        EXPECT_EQ(f.over_emergency ? f.over_emergency->element : "", c.over_emergency) << c.what;
        if (f.over_normal) {
            EXPECT_EQ(f.over_normal->row, 9) << c.what;
        }
        if (f.over_emergency) {
            EXPECT_EQ(f.over_emergency->row, 7) << c.what;
        }
    }
    // Judged where asked; and an element over in the base is left out of the figures the report gives.
    criteria.judge_default_ratings = true;
    const std::map<std::string, ElementLoading> unrated{{"x", element(200, 190, 60, false)}};
    EXPECT_TRUE(loading_figures(unrated, nullptr, criteria).over_normal);
    const std::map<std::string, ElementLoading> two{{"a", element(130, 121)}, {"b", element(95, 90)}};
    const std::map<std::string, ElementLoading> before{{"a", element(130, 120)}, {"b", element(60, 50)}};
    const LoadingFigures f = loading_figures(two, &before, criteria);
    EXPECT_EQ(f.element, "b");
    EXPECT_EQ(f.max_pct, 95);
    EXPECT_EQ(f.window_pct, 90);
}

// Lines and transformers judged against the sky's base: an element over its rating there fails a
// case only where the case's PV makes it worse by more than a point, one the engine's defaults
// rate is reported and not judged unless asked, and power flowing back is judged where limited.
TEST(SweepGather, LoadingAndReverseFlowJudgedAgainstTheBase)
{
    TempFolder work;
    const SmallSweep sweep(work);
    const std::string fine = voltage_report({"611:0.9650:2:1.0400:9:0:0:0:0"});
    // The head's and the regulator's seconds of power flowing back, in the report's reverse_s column.
    const auto controls = [](int head_back, int regulator_back) {
        return "sky,kind,name,element,winding,start,changes,steps_changed,min,max,ramp_per_s,ramp_row,kwh,"
               "changes_per_hour,reverse_s,seconds_at_limit,ramp_pct_per_min\n"
               "sky,regcontrol,Reg1,Transformer.Reg1,2,0,0,0,0,0,,,,0," + std::to_string(regulator_back) + ",0,\n"
               "sky,ramp,head_kw,Vsource.source,,800,,,700,900,-5,7,50,," + std::to_string(head_back) + ",,\n"
               "clear,regcontrol,Reg1,Transformer.Reg1,2,0,0,0,0,0,,,,0,0,0,\n"
               "clear,ramp,head_kw,Vsource.source,,800,,,700,900,-5,7,50,,0,,\n";
    };
    // Line.a is over already without added PV: its own. Transformer.t's rating is the engine's default.
    finish_case(sweep.folder, sweep.cases[0], fine, fine, controls(0, 0),
                loading_report({"Line.a:130:60:120:yes", "Line.b:70:0:60:yes", "Transformer.t:150:60:140:no"}));
    finish_case(sweep.folder, sweep.cases[1], fine, fine, controls(10, 0),
                loading_report({"Line.a:131:60:120.9:yes", "Line.b:95:0:90:yes", "Transformer.t:160:60:150:no"}));
    finish_case(sweep.folder, sweep.cases[2], fine, fine, controls(30, 4),
                loading_report({"Line.a:133:60:121.5:yes", "Line.b:99:0:97:yes", "Transformer.t:170:60:160:no"}));
    GatherResult result = gather_sweep({sweep.folder, false});
    auto report = csv_rows(slurp(sweep.folder / "sweep_report.csv"));
    const auto half = row_of(report, sweep.cases[1].id);
    EXPECT_EQ(half.at("max_loading_pct"), "95") << "Line.a, over in the base, is left out";
    EXPECT_EQ(half.at("loading_element"), "Line.b");
    EXPECT_EQ(half.at("window_loading_pct"), "90");
    EXPECT_EQ(half.at("reverse_s_head"), "10");
    EXPECT_EQ(row_of(report, sweep.cases[2].id).at("reverse_s_regulators"), "4");
    EXPECT_EQ(half.at("inverter"), "unity");
    // The criteria's panels: the highest voltage, and the loading, which came near; a dot a case in each.
    const std::string panels = slurp(sweep.folder / "hosting_capacity_cases.svg");
    EXPECT_NE(panels.find(">Highest voltage (pu)</text>"), std::string::npos);
    EXPECT_NE(panels.find(">Loading, moving average (% of normal)</text>"), std::string::npos);
    EXPECT_EQ(panels.find("Tap changes an hour"), std::string::npos) << "no tap changed";
    EXPECT_EQ(panels.find("Energy held back"), std::string::npos) << "no curtailment recorded";
    std::size_t dots = 0;
    for (std::size_t at = panels.find("<circle cx="); at != std::string::npos; at = panels.find("<circle cx=", at + 1))
        ++dots;
    EXPECT_EQ(dots, 2 * 3 + 4 + 1) << "3 cases in 2 panels, and the legend's 4 placements and its 1 mode";
    EXPECT_NE(panels.find(">limit 100</text>"), std::string::npos);
    EXPECT_TRUE(fs::exists(sweep.folder / "hosting_capacity_cases.png"));
    auto capacity = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(capacity.at("hc_min_pct"), "50") << "Line.a 0.9 points worse passes, 1.5 fails";
    EXPECT_EQ(capacity.at("criterion"), "max_loading_pct");
    EXPECT_EQ(capacity.at("where"), "Line.a");
    EXPECT_EQ(capacity.at("row"), "9");
    EXPECT_EQ(capacity.at("value"), "121.5");
    std::string said;
    for (const std::string& line : result.summary)
        said += line + "\n";
    EXPECT_NE(said.find("Not judged: up to 1 line or transformer rated only by the engine's defaults"), std::string::npos)
        << said;
    EXPECT_NE(said.find("Transformer.t at 170 % in case " + sweep.cases[2].id + " (100 %)"), std::string::npos) << said;
    EXPECT_NE(said.find("Power flowed back under the sky through RegControl.Reg1 from 100 % and the head from 50 % (not "
                        "judged: max_reverse_s_head and max_reverse_s_regulator are off). RegControl.Reg1 has no reverse "
                        "settings (reversible=no): it regulates as if the power still flowed forward."),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("Line.a's loading on its moving average, 121.5 % of its normal rating (over the window ending "
                        "in row 9, 11:00:40)"),
              std::string::npos)
        << said;

    // Limits on power flowing back; the emergency rating at any second; and the engine's default
    // ratings judged.
    put(sweep.folder / "criteria.txt", "max_reverse_s_head = 5\nmax_loading_pct = off\n");
    (void)gather_sweep({sweep.folder, false});
    capacity = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(capacity.at("hc_min_pct"), "0");
    EXPECT_EQ(capacity.at("criterion"), "max_reverse_s_head");
    EXPECT_EQ(capacity.at("value"), "10");
    put(sweep.folder / "criteria.txt", "max_reverse_s_regulator = 3\nmax_loading_pct = off\n");
    (void)gather_sweep({sweep.folder, false});
    capacity = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(capacity.at("hc_min_pct"), "50");
    EXPECT_EQ(capacity.at("where"), "Reg1");
    // Line.b at 95 % of normal is 63.3 % of its emergency rating; Line.a's 87.3 % is 0.7 points above
    // its own without added PV.
    put(sweep.folder / "criteria.txt", "max_emergency_pct = 60\nmax_loading_pct = off\n");
    (void)gather_sweep({sweep.folder, false});
    capacity = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(capacity.at("hc_min_pct"), "0");
    EXPECT_EQ(capacity.at("criterion"), "max_emergency_pct");
    EXPECT_EQ(capacity.at("where"), "Line.b");
    EXPECT_EQ(capacity.at("value"), "63.333");
    EXPECT_EQ(capacity.at("row"), "5");
    // Transformer.t, judged now: 150 % on its moving average, 10 points above its own 140 %.
    put(sweep.folder / "criteria.txt", "judge_default_ratings = yes\n");
    (void)gather_sweep({sweep.folder, false});
    capacity = capacity_of(sweep.folder, "sky");
    EXPECT_EQ(capacity.at("hc_min_pct"), "0");
    EXPECT_EQ(capacity.at("where"), "Transformer.t");
    EXPECT_EQ(capacity.at("value"), "150");
    report = csv_rows(slurp(sweep.folder / "sweep_report.csv"));
    EXPECT_EQ(row_of(report, sweep.cases[1].id).at("max_loading_pct"), "95")
        << "Line.a and Transformer.t are over in the base: left out of the columns";

    // Another moving average than the cases were read over is refused.
    put(sweep.folder / "criteria.txt", "loading_window_s = 600\n");
    try {
        (void)gather_sweep({sweep.folder, false});
        ADD_FAILURE() << "gathered over another window";
    } catch (const SweepError& error) {
        EXPECT_NE(std::string(error.what()).find("but the cases were planned to read their loading over 900 s"),
                  std::string::npos)
            << error.what();
    }
}

}  // namespace
}  // namespace umbrascope::sweep

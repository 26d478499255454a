// The study: monitors that see every phase node, exports read as engines write them, the voltage
// tables, the ranges counted at their limits, and the whole loop against a real OpenDSS engine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "core/lines.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "study/exports.hpp"
#include "study/plan.hpp"
#include "study/voltages.hpp"
#include "test_support.hpp"

namespace umbrascope::study {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

const fs::path fixtures = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/study";

std::string slurp(const fs::path& path) { return testing::read_file(path); }

void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The three rows the fixtures hold, of the conductors asked for.
std::vector<double> monitor_values(const fs::path& file, std::vector<int> conductors, double interval = 10,
                                   std::vector<bool>* found_out = nullptr)
{
    std::vector<double> volts;
    std::vector<bool> found;
    std::vector<char> buffer;
    read_monitor(file, 3, interval, 1, conductors, volts, found, buffer);
    if (found_out != nullptr)
        *found_out = found;
    return volts;
}

// Exports as engines write them: modes 0 and 32, one to three phases, quoted headers or plain,
// blanks after commas or none, exponents, CRLF; all give the same volts.
TEST(StudyExports, MonitorExportsReadAsEnginesWriteThem)
{
    const fs::path exports = fixtures / "exports";
    const std::vector<double> three{2438.2, 2471.69, 2413.73, 2442.08, 2472.47, 2417.35, 2445.9, 2473.21, 2420.87};
    const std::string mode32 = slurp(exports / "IEEE13Nodeckt_Mon_m3ph_mode32_1.csv");
    TempFolder folder;
    struct Case {
        const char* name;
        std::string text;
    };
    const Case cases[] = {
        {"mode 32 as written", mode32},
        {"mode 0 as written", slurp(exports / "IEEE13Nodeckt_Mon_m3ph_mode0_1.csv")},
        {"CRLF line ends", slurp(fixtures / "crlf/IEEE13Nodeckt_Mon_m3ph_mode32_1.csv")},
        {"no blanks after the commas", replaced(mode32, ", ", ",")},
        {"an unquoted header", replaced(mode32, "\"", "")},
        {"exponents as some engines write them",
         replaced(replaced(mode32, "2438.2", "2.4382E+003"), "548.84", "5.4884E+002")},
        {"a blank line at the end", mode32 + "\n"},
    };
    for (const Case& c : cases) {
        put(folder.path() / "m.csv", c.text);
        EXPECT_EQ(monitor_values(folder.path() / "m.csv", {1, 2, 3}), three) << c.name;
    }
    // Conductors in any order; a single phase's second conductor is its ground, read as it is.
    EXPECT_EQ(monitor_values(folder.path() / "m.csv", {3, 1}),
              (std::vector<double>{2413.73, 2438.2, 2417.35, 2442.08, 2420.87, 2445.9}));
    EXPECT_EQ(monitor_values(exports / "IEEE13Nodeckt_Mon_m1ph_mode0_1.csv", {1, 2}),
              (std::vector<double>{2311.23, 0, 2318, 0, 2324.62, 0}));
    EXPECT_EQ(monitor_values(exports / "IEEE13Nodeckt_Mon_m2ph_mode32_1.csv", {2}),
              (std::vector<double>{2449.55, 2450.34, 2451.08}));
    // A conductor the element lacks is said so, not read from a current's column.
    std::vector<bool> found;
    const std::vector<double> two = monitor_values(exports / "IEEE13Nodeckt_Mon_m2ph_mode32_1.csv", {1, 3}, 10, &found);
    EXPECT_EQ(found, (std::vector<bool>{true, false}));
    EXPECT_EQ(two[0], 2409.13);
}

TEST(StudyExports, BadExportsAreRefusedNamingWhatIsWrong)
{
    const std::string mode32 = slurp(fixtures / "exports/IEEE13Nodeckt_Mon_m3ph_mode32_1.csv");
    TempFolder folder;
    struct Case {
        const char* name;
        std::string text;
        double interval;
        const char* message;
    };
    const Case cases[] = {
        {"a short file", mode32.substr(0, mode32.rfind("0, 30")), 10, "holds 2 rows where the sun table has 3"},
        {"a longer one", mode32 + "0, 40.00000, 1, 2, 3, 4, 5, 6\n", 10, "more rows than the sun table's 3"},
        {"steps of another sky", mode32, 5, "row 1 is at 10.000000 s, where row 1 of the sun table is one step of 5"},
        {"currents alone", replaced(mode32, "|V|", "|X|"), 10, "holds no voltages"},
        {"not a monitor export", "Bus, BasekV\n", 10, "is not a monitor export"},
        {"text among the numbers", replaced(mode32, "2471.69", "lots"), 10, ":2: field 4 is not a number"},
    };
    for (const Case& c : cases) {
        put(folder.path() / "m.csv", c.text);
        try {
            (void)monitor_values(folder.path() / "m.csv", {1, 2, 3}, c.interval);
            ADD_FAILURE() << c.name << ": not refused";
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.name << ": " << error.what();
        }
    }
}

TEST(StudyExports, FilesAreFoundByMonitorNameInAnyFormAndTheVoltageExportGivesBases)
{
    TempFolder folder;
    for (const char* name : {"Ckt_Mon_study_v1_1.csv", "ckt_mon_study_v2.csv", "CKT_MON_STUDY_V12_1.CSV", "notes.txt",
                             "Ckt_Mon_study_0123abcd_89abcdef_v1_1.csv", "study_0123abcd_89abcdef_end.csv",
                             "Other_Mon_study_00000000_11111111_tap1_1.csv", "study_0123abcd_89abcdef_v1.txt"})
        put(folder.path() / name, "x");
    const ResultsFolder results(folder.path());
    EXPECT_EQ(results.monitor("study_v1")->filename(), "Ckt_Mon_study_v1_1.csv");
    EXPECT_EQ(results.monitor("study_v2")->filename(), "ckt_mon_study_v2.csv");
    EXPECT_EQ(results.monitor("Study_V12")->filename(), "CKT_MON_STUDY_V12_1.CSV");
    EXPECT_FALSE(results.monitor("study_v3"));
    EXPECT_FALSE(results.monitor("study"));
    EXPECT_EQ(results.named("STUDY_0123ABCD_89ABCDEF_END.CSV")->filename(), "study_0123abcd_89abcdef_end.csv");
    EXPECT_EQ(results.runs(), (std::vector<std::string>{"study_00000000_11111111", "study_0123abcd_89abcdef"}));
    EXPECT_EQ(results.circuits(), (std::vector<std::string>{"ckt", "other"}));
    EXPECT_TRUE(results.older_study());
    EXPECT_EQ(run_of("study_0123abcd_89abcdef_clear_tap3"), "study_0123abcd_89abcdef");
    for (const char* none : {"study_v1", "study_0123abcd_89abcdeg_v1", "study_0123abcd89abcdef_v1", "study_0123abcd_89abcdef"})
        EXPECT_EQ(run_of(none), "") << none;
    EXPECT_THROW(ResultsFolder(folder.path() / "none"), StudyError);

    const auto buses = read_voltage_export(fixtures / "exports/IEEE13Nodeckt_EXP_VOLTAGES.csv");
    EXPECT_EQ(buses.size(), 16U);
    EXPECT_EQ(buses.at("sourcebus").base_kv, 115);
    EXPECT_EQ(buses.at("634").base_kv, 0.48);
    EXPECT_EQ(buses.at("645").nodes, (std::vector<std::pair<int, double>>{{2, 2451.07}, {3, 2416.28}}));
    EXPECT_EQ(buses.at("611").volts(3), 2324.66);
    EXPECT_FALSE(buses.at("611").volts(1));
}

// Every phase node of every drawn bus and of every customer's bus is seen by a monitor, with the
// fewest terminals at each bus, and where as few serve, one that gives a line's or transformer's
// current for its loading.
TEST(StudyPlan, MonitorsSeeEveryPhaseNodeOfTheDrawnAndTheCustomersBuses)
{
    struct Case {
        const char* name;
        std::string circuit;
        std::vector<std::string> drawn;
        std::vector<StandIn> stand_ins;
        std::vector<std::string> monitors;  // "Element:terminal nodes"
    };
    const Case cases[] = {
        {"a three-phase line and a single-phase load at its end: the line's terminal sees all three",
         "New Circuit.c bus1=src\nNew Line.l1 bus1=src bus2=a\nNew Load.ld bus1=a.2 phases=1\n",
         {"src", "A"},
         {},
         {"Line.l1:1 123", "Line.l1:2 123"}},
        {"a single-phase load at the end of a line: the line that feeds its bus, whose current is the line's too",
         "New Line.l1 bus1=s.1 bus2=a.1 phases=1\nNew Load.x bus1=a.1 phases=1\n", {"a"}, {}, {"Line.l1:2 1"}},
        {"a centre-tapped service transformer: its two secondary windings are the customer's two legs",
         "New XfmrCode.CT phases=1 windings=3\nNew Line.l1 bus1=p bus2=m\n"
         "New Transformer.t xfmrcode=ct buses=[m.3 x.1.0 x.0.2]\nNew Line.tx bus1=x.1.2 bus2=c.1.2 phases=2\n"
         "New Load.house phases=1 bus1=c.1.2 kV=0.208\n",
         {"p", "m"},
         {{"Load.house", "c", "m"}},
         {"Line.l1:1 123", "Line.l1:2 123", "Line.tx:2 12"}},
        {"a line's phases from its code, a delta load's conductors, a switch with one node named (its other\n"
         "conductors meet nodes 2 and 3, as the engine has them); a line already watched gives way to one not",
         "New Linecode.two nphases=2\nNew Line.l1 bus1=s.1.3 bus2=a.1.3 linecode=two\n"
         "New Load.d bus1=a.1.3 phases=1 conn=delta\nNew Line.sw bus1=a.3 bus2=b.3 switch=y\n",
         {"s", "a", "b"},
         {},
         {"Line.l1:1 13", "Line.sw:1 323", "Load.d:1 13", "Line.sw:2 323"}},
        {"a bus no element in service reaches is seen by none",
         "New Line.l1 bus1=a bus2=b\nNew Line.l2 bus1=b bus2=c enabled=no\n", {"a", "c"}, {}, {"Line.l1:1 123"}},
    };
    for (const Case& c : cases) {
        import::MemoryFiles files;
        files.add("m.dss", c.circuit);
        const import::Circuit circuit = import::read_circuit("m.dss", files);
        Drawn drawn;
        drawn.names = c.drawn;
        drawn.x.assign(c.drawn.size(), 0);
        drawn.y.assign(c.drawn.size(), 0);
        const Plan plan = plan_monitors(circuit, drawn, c.stand_ins);
        std::vector<std::string> got;
        for (const Monitor& monitor : plan.monitors) {
            std::string nodes;
            for (const int node : monitor.nodes)
                nodes += std::to_string(node);
            got.push_back(monitor.element + ":" + std::to_string(monitor.terminal) + " " + nodes);
        }
        EXPECT_EQ(got, c.monitors) << c.name;

        // What the map says is what the plan chose, read back.
        TempFolder folder;
        put(folder.path() / "map.csv", map_text(plan));
        const std::vector<Monitor> back = read_map(folder.path() / "map.csv");
        ASSERT_EQ(back.size(), plan.monitors.size()) << c.name;
        for (std::size_t i = 0; i < back.size(); ++i) {
            EXPECT_EQ(back[i].element, plan.monitors[i].element) << c.name;
            EXPECT_EQ(back[i].nodes, plan.monitors[i].nodes) << c.name;
            EXPECT_EQ(back[i].drawn_bus, plan.monitors[i].drawn_bus) << c.name;
        }
    }
}

// The property on the published feeders: every phase node any element in service names at a
// watched bus is seen.
TEST(StudyPlan, OnThePublishedFeedersNoPhaseNodeGoesUnseen)
{
    for (const char* entry : {"ieee13/IEEE13Nodeckt.dss", "ieee34/ieee34Mod1.dss", "ieee123/IEEE123Master.dss",
                              "ieee8500/Master.dss"}) {
        import::DiskFiles files;
        const import::Circuit circuit =
            import::read_circuit(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders" / entry, files);
        Drawn drawn;
        for (const std::string& bus : circuit.buses)
            drawn.names.push_back(bus);
        drawn.x.assign(drawn.names.size(), 0);
        drawn.y.assign(drawn.names.size(), 0);
        const Plan plan = plan_monitors(circuit, drawn, {});
        std::map<std::string, std::set<int>> named, seen;
        for (const import::WiredElement& element : circuit.wired)
            for (const auto& terminal : element.terminals)
                if (terminal)
                    for (const int node : terminal->nodes)
                        if (node >= 1 && node <= 3)
                            named[circuit.buses[static_cast<std::size_t>(terminal->bus)]].insert(node);
        for (const Monitor& monitor : plan.monitors)
            for (const int node : monitor.nodes)
                if (node >= 1 && node <= 3)
                    seen[monitor.bus].insert(node);
        EXPECT_EQ(seen, named) << entry;
        EXPECT_LE(plan.monitors.size(), named.size() * 3) << entry;
    }
}

Sky sky_of(int rows, double interval = 10)
{
    Sky sky;
    sky.rows = rows;
    sky.interval = interval;
    for (int row = 0; row < rows; ++row)
        sky.times.push_back(std::to_string(static_cast<int>(row * interval)));
    sky.header = {"Sun", "Made", "Index", "One row every 10 seconds", "Columns", "time,a,b"};
    return sky;
}

Drawn drawn_of(std::vector<std::string> names)
{
    Drawn drawn;
    drawn.names = std::move(names);
    for (std::size_t i = 0; i < drawn.names.size(); ++i) {
        drawn.x.push_back(static_cast<double>(i) * 1000);
        drawn.y.push_back(0);
        if (i > 0)
            drawn.connections.emplace_back(static_cast<int>(i) - 1, static_cast<int>(i));
    }
    return drawn;
}

// ANSI C84.1 ranges at and around every limit, on the values as written, and the report's counts.
TEST(StudyTables, RangesAreCountedAtTheirLimitsOnTheValuesAsWritten)
{
    struct Case {
        double value;
        bool below_a, above_a, below_b, above_b;
    };
    const Case cases[] = {
        {0.9, true, false, true, false},        {0.9166, true, false, true, false},
        {0.91666, true, false, false, false},   {0.9167, true, false, false, false},
        {0.9499, true, false, false, false},    {0.94995, false, false, false, false},
        {0.95, false, false, false, false},     {1.05, false, false, false, false},
        {1.05004, false, false, false, false},  {1.0501, false, true, false, false},
        {1.0583, false, true, false, false},    {1.05834, false, true, false, false},
        {1.0584, false, true, false, true},     {1.2, false, true, false, true},
    };
    for (const Case& c : cases) {
        const PerUnit v = per_unit(c.value);
        EXPECT_EQ(below_a(v), c.below_a) << c.value;
        EXPECT_EQ(above_a(v), c.above_a) << c.value;
        EXPECT_EQ(below_b(v), c.below_b) << c.value;
        EXPECT_EQ(above_b(v), c.above_b) << c.value;
    }
    EXPECT_FALSE(below_a(no_voltage) || above_a(no_voltage) || below_b(no_voltage) || above_b(no_voltage));

    // Two buses over four rows of 10 s; the second has no voltage at all.
    TempFolder folder;
    put(folder.path() / "v.csv", "time,A,b\n0,0.9499,\n10,0.9166,\n20,1.0584,\n30,1.0,\n");
    const Sky sky = sky_of(4);
    const Drawn drawn = drawn_of({"a", "B"});
    const FromTable read = tables_from_wide(folder.path() / "v.csv", drawn, sky);
    EXPECT_EQ(read.columns, 2);
    EXPECT_EQ(report_text(read.tables, drawn, sky, {0, 1}, true),
              "bus,distance_km,lowest,lowest_row,highest,highest_row,seconds_below_a,seconds_above_a,"
              "seconds_below_b,seconds_above_b\n"
              "a,0,0.9166,2,1.0584,3,20,10,10,10\n"
              "B,1,,,,,,,,\n");
    std::string low;
    write_voltage_table(read.tables, false, drawn, sky, "the table v.csv", "Per unit as given",
                        [&](std::string_view piece) { low += piece; });
    EXPECT_EQ(low, "Lowest voltage per bus, per unit\nMade by umbrascope-study from the table v.csv\nPer unit as given\n"
                   "One row every 10 seconds\n"
                   "Columns: time in seconds, then one per-unit voltage per bus index, empty where a bus has none\n"
                   "time,a,B\n0,0.9499,\n10,0.9166,\n20,1.0584,\n30,1.0000,\n");
    const std::vector<std::string> said = summary(read.tables, drawn, sky);
    ASSERT_EQ(said.size(), 3U);
    EXPECT_EQ(said[1], "ANSI range A (0.95 to 1.05 pu): 1 bus left it; the longest outside it: a, 30 s; range B "
                       "(0.9167 to 1.0583 pu): 1 bus left it.");
    EXPECT_EQ(said[2], "Lowest 0.9166 pu at bus a in row 2 (t = 10 s); highest 1.0584 pu at bus a in row 3 (t = 20 s).");
}

TEST(StudyTables, WideTablesByNameInAnyOrderAndLetterCase)
{
    TempFolder folder;
    const Drawn drawn = drawn_of({"Alpha", "beta", "Gamma"});
    const Sky sky = sky_of(2);
    put(folder.path() / "v.csv", "time,GAMMA,other,alpha,more\r\n0,1.01,5,0.99,\r\n10,,5,0.98,\r\n");
    const FromTable read = tables_from_wide(folder.path() / "v.csv", drawn, sky);
    EXPECT_EQ(read.columns, 2);
    EXPECT_EQ(read.unknown, (std::vector<std::string>{"other", "more"}));
    EXPECT_EQ(read.tables.lowest, (std::vector<PerUnit>{9900, 9800, no_voltage, no_voltage, 10100, no_voltage}));
    EXPECT_EQ(read.tables.highest, read.tables.lowest);

    struct Case {
        const char* name;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"a row short", "time,alpha\n0,1\n", "holds 1 row where the sun table has 2"},
        {"a row more", "time,alpha\n0,1\n1,1\n2,1\n", "more rows than the sun table's 2"},
        {"not a number", "time,alpha\n0,1\n1,high\n", "v.csv:3: field 2 is not a per-unit voltage: 'high'"},
        {"a bus twice", "time,alpha,ALPHA\n0,1,1\n1,1,1\n", "two columns name the bus ALPHA"},
    };
    for (const Case& c : cases) {
        put(folder.path() / "v.csv", c.text);
        try {
            (void)tables_from_wide(folder.path() / "v.csv", drawn, sky);
            ADD_FAILURE() << c.name << ": not refused";
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.name << ": " << error.what();
        }
    }
}

TEST(StudyTables, DistancesRunAlongTheConnections)
{
    Drawn drawn = drawn_of({"s", "a", "b", "c", "far"});
    drawn.x = {0, 3, 3, 0, 50};
    drawn.y = {0, 4, 8, 8, 50};
    drawn.connections = {{0, 1}, {1, 2}, {0, 3}, {3, 2}};
    EXPECT_EQ(distances_from(drawn, 0), (std::vector<double>{0, 5, 9, 8, -1}));
}

// Files made at different times do not go together silently: loadshapes of another sky, a sky of
// another network, a study written for another sky, and a results folder that still holds another
// circuit's exports.
TEST(StudyFiles, StaleFilesAreRefusedOrLeftOut)
{
    TempFolder work;
    const fs::path folder = work.path() / "feeder";
    const auto run = [&](const std::string& command) {
        const std::string line = command + " > \"" + (work.path() / "out.txt").string() + "\" 2>&1";
        return std::system(line.c_str()) == 0 ? std::string() : slurp(work.path() / "out.txt");
    };
    const std::string feeders = std::string(UMBRASCOPE_SOURCE_DIR) + "/tests/data/feeders";
    const std::string clouds = std::string("\"") + UMBRASCOPE_CLOUDS + "\" --steps 5 --force --loadshapes ";
    const std::string study = std::string("\"") + UMBRASCOPE_STUDY + "\" ";
    ASSERT_EQ(run(std::string("\"") + UMBRASCOPE_IMPORT + "\" " + feeders + "/ieee13/IEEE13Nodeckt.dss " + folder.string()), "");
    ASSERT_EQ(run(clouds + (work.path() / "old.dss").string() + " --seed 1 " + folder.string()), "");
    ASSERT_EQ(run(clouds + (folder / "sun.dss").string() + " --seed 2 " + folder.string()), "");
    EXPECT_NE(run(study + "write " + folder.string() + " --loadshapes " + (work.path() / "old.dss").string())
                  .find("old.dss was made with another sky than"),
              std::string::npos);
    ASSERT_EQ(run(study + "write " + folder.string() + " --loadshapes " + (folder / "sun.dss").string()), "");
    ASSERT_EQ(run(clouds + (folder / "sun.dss").string() + " --seed 3 " + folder.string()), "");
    EXPECT_NE(run(study + "read " + folder.string()).find("study.dss was written for another sky"), std::string::npos);

    // Another circuit imported over it: its sky was made for the 13-node feeder's buses.
    ASSERT_EQ(run(std::string("\"") + UMBRASCOPE_IMPORT + "\" --force --coords " + feeders + "/ieee37/IEEE37_BusXY.csv " +
                  feeders + "/ieee37/ieee37.dss " + folder.string()),
              "");
    const std::string refused = run(study + "write " + folder.string() + " --loadshapes " + (folder / "sun.dss").string());
    EXPECT_NE(refused.find("cloud_sun_intensity_table.txt was made for another network"), std::string::npos) << refused;

    // A results folder that still holds another circuit's exports of the same monitor names.
    const fs::path results = work.path() / "results";
    for (const char* name : {"IEEE13Nodeckt_Mon_study_v1_1.csv", "ieee37_Mon_study_v1_1.csv", "ieee37_Mon_study_v2_1.csv"})
        put(results / name, "x");
    const ResultsFolder own(results, "IEEE37");
    EXPECT_EQ(own.monitor("study_v1")->filename(), "ieee37_Mon_study_v1_1.csv");
    const ResultsFolder other(results, "IEEE13Nodeckt");
    EXPECT_EQ(other.monitor("study_v1")->filename(), "IEEE13Nodeckt_Mon_study_v1_1.csv");
    EXPECT_FALSE(other.monitor("study_v2"));
}

// The whole loop on the IEEE 13-node feeder with PV systems under a measured sky: every cell of
// the tables is the engine's own per-node voltage, solved one step at a time.
TEST(StudyEndToEnd, TheTablesHoldTheEnginesVoltagesStepByStep)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!fs::exists(engine) || std::system(("\"" + engine.string() + "\" -c \"new circuit.probe\" -c solve > /dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "skipped: no OpenDSS engine runs at " << engine
                     << " (set UMBRASCOPE_OPENDSS to one; it needs libklu1 and libmetis5)";
    TempFolder work;
    const fs::path circuit = work.path() / "ckt";
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee13", circuit);
    fs::create_symlink("IEEELineCodes.DSS", circuit / "IEEELineCodes.dss");  // the name the circuit uses
    put(circuit / "Study.dss",
        "Redirect IEEE13Nodeckt.dss\n"
        "New PVSystem.pv675 phases=3 bus1=675 kV=4.16 kVA=800 Pmpp=800 irradiance=1\n"
        "New \"PVSystem.roof 611\" phases=1 bus1=611.3 kV=2.4 kVA=300 Pmpp=300 irradiance=1\n"
        "New PVSystem.pv652 phases=1 bus1=652.1 kV=2.4 kVA=200 Pmpp=200 irradiance=1\n");
    const fs::path folder = work.path() / "feeder";
    const auto run = [&](const std::string& command) {
        const std::string line = command + " > \"" + (work.path() / "out.txt").string() + "\" 2>&1";
        ASSERT_EQ(std::system(line.c_str()), 0) << command << "\n" << slurp(work.path() / "out.txt");
    };
    constexpr int rows = 30;
    run(std::string("\"") + UMBRASCOPE_IMPORT + "\" \"" + (circuit / "Study.dss").string() + "\" \"" + folder.string() + "\"");
    run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind 1,270 --from-sensor \"" + UMBRASCOPE_SOURCE_DIR +
        "/tests/data/feeders/ieee8500/Normalized-1s-2900-pts.CSV\" --sensor-interval 1 --interval 30 --steps " +
        std::to_string(rows) + " --loadshapes \"" + (folder / "sun.dss").string() + "\" \"" + folder.string() + "\"");
    run(std::string("\"") + UMBRASCOPE_STUDY + "\" write \"" + folder.string() + "\" --loadshapes \"" +
        (folder / "sun.dss").string() + "\"");
    ASSERT_NE(slurp(folder / "sun.dss").find("Edit \"PVSystem.roof 611\" daily=sky_611 duty=sky_611"), std::string::npos);
    run("\"" + engine.string() + "\" \"" + (folder / "study.dss").string() + "\"");
    run(std::string("\"") + UMBRASCOPE_STUDY + "\" read \"" + folder.string() + "\"");
    EXPECT_EQ(slurp(work.path() / "out.txt").find("has changed since"), std::string::npos) << slurp(work.path() / "out.txt");
    // A circuit file edited after the study was written is named by read; the tables are still read.
    {
        const std::string study = slurp(circuit / "Study.dss");
        put(circuit / "Study.dss", study + "! a comment added since\n");
        run(std::string("\"") + UMBRASCOPE_STUDY + "\" read \"" + folder.string() + "\"");
        EXPECT_NE(slurp(work.path() / "out.txt").find("(or a file it reads) has changed since"), std::string::npos)
            << slurp(work.path() / "out.txt");
        put(circuit / "Study.dss", study);
    }

    // The same study solved one step at a time, the voltages exported after each.
    std::string steps = "Compile \"" + (circuit / "Study.dss").string() + "\"\nRedirect \"" + (folder / "sun.dss").string() +
                        "\"\nSet Mode=Duty Number=1 Stepsize=30\nSet ControlMode=Static\n";
    for (int solve = 0; solve < settle_solves; ++solve)
        steps += "Set Time=(0,0)\nSolve\n";
    steps += "Set Time=(0,0)\nSet ControlMode=Time\n";
    for (int row = 1; row <= rows; ++row)
        steps += "Solve\nExport Voltages \"" + (work.path() / ("step" + std::to_string(row) + ".csv")).string() + "\"\n";
    put(work.path() / "steps.dss", steps);
    run("\"" + engine.string() + "\" \"" + (work.path() / "steps.dss").string() + "\"");

    // Each drawn bus stands for itself and for its customers' buses.
    std::vector<std::string> names;
    const std::vector<std::string> header = testing::split_lines(slurp(folder / "cloud_voltage_min_table.txt"));
    ASSERT_GE(header.size(), 6U + rows);
    for (std::size_t at = 0, next = 0; next != std::string::npos; at = next + 1) {
        next = header[5].find(',', at);
        names.push_back(header[5].substr(at, next == std::string::npos ? next : next - at));
    }
    names.erase(names.begin());
    std::map<std::string, std::set<std::string>> group;
    for (const std::string& name : names)
        group[name].insert(lower(name));
    each_line(slurp(folder / "feeder_elements.csv"), [&](std::string_view line, long number) {
        const std::vector<std::string> fields = *csv_fields(line);
        if (number > 1 && !fields[2].empty())
            group[fields[2]].insert(fields[1]);
    });
    const auto table = [&](const char* name) {
        std::vector<std::vector<std::string>> cells;
        const std::vector<std::string> lines = testing::split_lines(slurp(folder / name));
        for (std::size_t i = 6; i < lines.size(); ++i)
            cells.push_back(*csv_fields(lines[i]));
        return cells;
    };
    const auto lowest = table("cloud_voltage_min_table.txt");
    const auto highest = table("cloud_voltage_max_table.txt");
    ASSERT_EQ(lowest.size(), static_cast<std::size_t>(rows));
    int compared = 0;
    double swing = 0;
    for (int row = 1; row <= rows; ++row) {
        const auto solved = read_voltage_export(work.path() / ("step" + std::to_string(row) + ".csv"));
        for (std::size_t b = 0; b < names.size(); ++b) {
            double low = HUGE_VAL, high = -HUGE_VAL;
            for (const std::string& bus : group[names[b]]) {
                const auto found = solved.find(bus);
                if (found == solved.end())
                    continue;
                for (const auto& [node, volts] : found->second.nodes)
                    if (node >= 1 && node <= 3) {
                        const double pu = volts / (found->second.base_kv * 1000 / std::sqrt(3.0));
                        low = std::min(low, pu);
                        high = std::max(high, pu);
                    }
            }
            const std::string& low_cell = lowest[static_cast<std::size_t>(row - 1)][b + 1];
            const std::string& high_cell = highest[static_cast<std::size_t>(row - 1)][b + 1];
            ASSERT_FALSE(low_cell.empty()) << names[b] << " row " << row;
            EXPECT_NEAR(std::stod(low_cell), low, 0.00006) << names[b] << " row " << row;
            EXPECT_NEAR(std::stod(high_cell), high, 0.00006) << names[b] << " row " << row;
            swing = std::max(swing, std::fabs(std::stod(low_cell) - std::stod(lowest[0][b + 1])));
            ++compared;
        }
    }
    EXPECT_EQ(compared, rows * 16);
    EXPECT_GT(swing, 0.002) << "the PV systems under the moving sky should move the voltages";
    const std::string report = slurp(folder / "voltage_report.csv");
    EXPECT_EQ(report.rfind("bus,distance_km,lowest,", 0), 0U) << report;
    EXPECT_NE(report.find("\nSourceBus,0,"), std::string::npos) << report;
}

}  // namespace
}  // namespace umbrascope::study

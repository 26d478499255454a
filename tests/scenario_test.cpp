// Cloud scenarios: the sun model, drifting clouds that cross the network, and sun tables that
// follow their own tracks.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstdio>
#include <random>

#include "cli/command_line.hpp"
#include "core/run_state.hpp"
#include "scenario/command.hpp"
#include "scenario/drift.hpp"
#include "scenario/sensor.hpp"
#include "scenario/sun_course.hpp"
#include "test_support.hpp"

namespace umbrascope::scenario {
namespace {

TEST(SunModel, CoreEdgeAndFullSun)
{
    struct Case {
        double d;
        double expected;
    };
    // r1 = 50, r2 = 90
    for (const Case c : {Case{0, 0.25}, Case{25, 0.375}, Case{50, 0.5}, Case{70, 0.725}, Case{90, 0.95}, Case{90.001, 1},
                         Case{1e9, 1}})
        EXPECT_DOUBLE_EQ(intensity(c.d, 50, 90), c.expected) << c.d;
}

TEST(SunModel, ThreeDecimalsRoundAsPrintfRounds)
{
    std::mt19937_64 random(7);
    std::vector<double> values{0.0625, 0.4435, 0.0005, 0.9995, 0.1235, 1.0, 0.0};
    for (int i = 0; i < 2000; ++i)
        values.push_back(i / 2000.0);  // every half-thousandth, where rounding is closest
    for (int i = 0; i < 100000; ++i)
        values.push_back(static_cast<double>(random() >> 11) * 0x1.0p-53 * 1.2);
    for (const double v : values) {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f", v);
        ASSERT_EQ(thousandths(v), std::llround(std::stod(text) * 1000)) << v;
    }
}

std::vector<Place> grid(double width, double height)
{
    std::vector<Place> buses;
    for (int i = 0; i <= 10; ++i)
        for (int j = 0; j <= 10; ++j)
            buses.push_back({1.7e6 + width * i / 10, 1.2e7 + height * j / 10});
    return buses;
}

// The least value over the clouds of the row, as the README states the model; nothing shared with
// the code under test but the track's records.
double by_hand(const Place& bus, const Track& track, int row)
{
    double least = 1;
    for (const CloudAt& cloud : track.records)
        if (cloud.step == row) {
            const double d = std::sqrt((bus.x - cloud.x) * (bus.x - cloud.x) + (bus.y - cloud.y) * (bus.y - cloud.y));
            const double r1 = track.shape.core, r2 = track.shape.edge;
            least = std::min(least, d <= r1 ? 0.25 + 0.25 * d / r1 : d <= r2 ? 0.5 + 0.45 * (d - r1) / (r2 - r1) : 1);
        }
    return least;
}

TEST(Drift, TheSunTableFollowsItsOwnTrack)
{
    const std::vector<Place> buses = grid(4000, 2500);
    DriftOptions options;
    options.clouds = 4;
    options.steps = 60;
    const Drift drift = drifting_clouds(buses, options);
    const std::string text = track_text(drift.track, drift.about, drift.decimals);
    const Track written = read_track(text, "track");
    ASSERT_EQ(written.records.size(), 240U);
    const SunTable table = sun_under(buses, written, options.steps);
    int shaded = 0;
    for (int row = 0; row < options.steps; ++row)
        for (std::size_t bus = 0; bus < buses.size(); ++bus) {
            const double expected = by_hand(buses[bus], written, row + 1);
            ASSERT_NEAR(static_cast<double>(table.at(row, static_cast<int>(bus))) / 1000, expected, 0.0005000001)
                << "row " << row + 1 << ", bus " << bus;
            shaded += expected < 1 ? 1 : 0;
        }
    EXPECT_GT(shaded, 0) << "no cloud ever shaded a bus";
}

TEST(Drift, CloudsCrossTheNetworkWithTheWind)
{
    const std::vector<Place> buses = grid(3000, 2000);
    struct Case {
        double from;
        int steps;
    };
    for (const Case c : {Case{270, 120}, Case{0, 120}, Case{135, 120}, Case{200, 120}, Case{270, 2}, Case{90, 3},
                         Case{45, 5}}) {
        const double from = c.from;
        DriftOptions options;
        options.from = from;
        options.clouds = 6;
        options.steps = c.steps;
        const Drift drift = drifting_clouds(buses, options);
        const std::vector<CloudAt>& records = drift.track.records;
        ASSERT_EQ(records.size(), 6U * static_cast<std::size_t>(c.steps));
        // Distance along the way the wind blows.
        const double toward = (from + 180) * std::numbers::pi / 180;
        const auto along = [&](double x, double y) { return x * std::sin(toward) + y * std::cos(toward); };
        double first_bus = INFINITY, last_bus = -INFINITY;
        for (const Place& bus : buses) {
            first_bus = std::min(first_bus, along(bus.x, bus.y));
            last_bus = std::max(last_bus, along(bus.x, bus.y));
        }
        const double edge = drift.track.shape.edge;
        for (std::size_t cloud = 0; cloud < 6; ++cloud) {
            const CloudAt& start = records[cloud];
            const CloudAt& end = records[records.size() - 6 + cloud];
            // Clear of every bus, upwind, at the start; clear of every bus, downwind, at the end.
            EXPECT_LE(along(start.x, start.y), first_bus - edge + 1e-6) << "from " << from << ", " << c.steps << " steps, cloud " << cloud;
            EXPECT_GE(along(end.x, end.y), last_bus + edge - 1e-6) << "from " << from << ", " << c.steps << " steps, cloud " << cloud;
        }
    }
}

TEST(Drift, TheSeedDecides)
{
    const std::vector<Place> buses = grid(100, 50);
    DriftOptions options;
    const auto text = [&](std::uint64_t seed) {
        options.seed = seed;
        const Drift drift = drifting_clouds(buses, options);
        return track_text(drift.track, drift.about, drift.decimals);
    };
    EXPECT_EQ(text(5), text(5));
    // Another seed draws other clouds, not only another header.
    const auto first_record = [&](std::uint64_t seed) {
        options.seed = seed;
        const CloudAt first = drifting_clouds(buses, options).track.records.front();
        return std::pair(first.x, first.y);
    };
    EXPECT_NE(first_record(5), first_record(6));
    EXPECT_NE(first_record(1), first_record(2));
    options.core = 30;
    options.edge = 20;
    EXPECT_THROW((void)text(1), ScenarioError);
    EXPECT_THROW((void)drifting_clouds({}, DriftOptions{}), ScenarioError);
}

// The table is the clear-sky index; the loadshapes carry it times each row's factor, a factor of
// 0 (night) giving 0. Shapes are named sky_ and their bus, so that no circuit's own shape of a
// bus's name is met; names OpenDSS would split are quoted, element names too. With PV systems
// known, only their drawn buses get shapes, unless all are asked for.
TEST(SunTable, TheIndexInTheTableThePowerInTheLoadshapes)
{
    Track track;
    track.shape = {10, 50, 90, 20, 0.6};
    track.records = {{1, 0, 0}, {2, 1000, 1000}};
    const std::vector<Place> buses{{0, 0}, {0, 70}, {0, 2000}};
    const std::vector<double> factors = read_clear_sky("normalised\r\n0.5\n\n1\n0\n", "sky.csv");
    ASSERT_EQ(factors, (std::vector<double>{0.5, 1, 0}));
    const SunTable table = sun_under(buses, track, 3);
    SunHeader header{"the clouds of t.txt", "sky.csv", 0.5, {"A", "Feeder end", "B"}};
    EXPECT_EQ(sun_table_text(table, header),
              "Sun intensity per bus\nMade by umbrascope-clouds from the clouds of t.txt\n"
              "Clear-sky index: 1 in full sun; the loadshapes take it times the factors of sky.csv\n"
              "One row every 0.5 seconds\n"
              "Columns: time in seconds, then one intensity per bus index\ntime,A,Feeder end,B\n"
              "0,0.25,0.725,1\n0.5,1,1,1\n1,1,1,1\n");
    const std::string shapes =
        "New Loadshape.sky_A npts=3 sinterval=0.5 mult=[0.125 1 0]\n"
        "New \"Loadshape.sky_Feeder end\" npts=3 sinterval=0.5 mult=[0.362 1 0]\n"  // 0.725 x 0.5 lies just below 0.3625
        "New Loadshape.sky_B npts=3 sinterval=0.5 mult=[0.5 1 0]\n"
        "! The clear sky, for a study's clear-sky twin: an index of 1 times the factor of sky.csv\n"
        "New Loadshape.clear_sky npts=3 sinterval=0.5 mult=[0.5 1 0]\n";
    EXPECT_EQ(loadshapes_text(table, header, &factors, nullptr),
              "! Loadshapes made by umbrascope-clouds from the clouds of t.txt: one per bus, its multipliers the bus's "
              "clear-sky index in each row times the factor of sky.csv\n" + shapes);

    const std::vector<PvSystem> pv = read_pv_systems(
        "element,bus,drawn_bus\nLoad.l1,x,A\nPVSystem.pv1,x1,\"Feeder end\"\npvsystem.PV2,y,A\nPVSystem.far,z,\n"
        "PVSystem.my pv,y,A\n", "e.csv");
    const std::string edits = loadshapes_text(table, header, nullptr, &pv);
    EXPECT_NE(edits.find(": one per drawn bus that a PV system takes"), std::string::npos) << edits;
    EXPECT_NE(edits.find("New Loadshape.sky_A npts=3 sinterval=0.5 mult=[0.25 1 1]\n"), std::string::npos) << edits;
    EXPECT_NE(edits.find("New Loadshape.clear_sky npts=3 sinterval=0.5 mult=[1 1 1]\n"), std::string::npos) << edits;
    EXPECT_EQ(edits.find("sky_B"), std::string::npos) << edits;
    EXPECT_NE(edits.find("Edit PVSystem.pv1 daily=\"sky_Feeder end\" duty=\"sky_Feeder end\"\n"
                         "Edit pvsystem.PV2 daily=sky_A duty=sky_A\n"
                         "! PVSystem.far reaches no drawn bus: it keeps its own shapes\n"
                         "Edit \"PVSystem.my pv\" daily=sky_A duty=sky_A\n"),
              std::string::npos)
        << edits;
    EXPECT_NE(loadshapes_text(table, header, nullptr, &pv, true).find("New Loadshape.sky_B "), std::string::npos);
    const std::vector<PvSystem> none;
    const std::string for_loads = loadshapes_text(table, header, nullptr, &none);
    EXPECT_NE(for_loads.find("! The circuit has no PV systems"), std::string::npos);
    EXPECT_NE(for_loads.find("New Loadshape.sky_B "), std::string::npos);
    const std::vector<PvSystem> stale{{"PVSystem.pv9", "gone"}};
    EXPECT_THROW((void)loadshapes_text(table, header, nullptr, &stale), ScenarioError);
    SunHeader quotes = header;
    quotes.names[1] = "it's \"odd\"";
    EXPECT_THROW((void)loadshapes_text(table, quotes, nullptr, nullptr), ScenarioError);

    // The clock of the first row and the network's unit are recorded where the header says so.
    header.start = 10 * 3600 + 59 * 60 + 59.96;
    header.units = "ft";
    const std::string told = sun_table_text(table, header);
    EXPECT_NE(told.find("One row every 0.5 seconds, the first at 11:00:00\n"
                        "Columns: time in seconds, then one intensity per bus index; one network unit is 1 ft\n"),
              std::string::npos)
        << told;

    EXPECT_THROW((void)read_clear_sky("1\nlots\n", "sky.csv"), ScenarioError);
    EXPECT_THROW((void)read_clear_sky("1\n-0.5\n", "sky.csv"), ScenarioError);
    // A sensor's offset below zero at night, and values past 1, are written as they are.
    const SunTable signs{1, 4, {-20, -1500, 7, 12050}};
    const std::string signed_text = sun_table_text(signs, SunHeader{"x", "", 10, {"a", "b", "c", "d"}});
    EXPECT_EQ(signed_text.substr(signed_text.rfind("time")), "time,a,b,c,d\n0,-0.02,-1.5,0.007,12.05\n");
    // 6,000 buses of "0.443," cannot share one line of 32,767 characters.
    const SunTable wide{1, 6000, std::vector<Stored>(6000, 443)};
    EXPECT_THROW((void)sun_table_text(wide, SunHeader{"x", "", 10, std::vector<std::string>(6000, "b")}), ScenarioError);
}

// The largest one-row fall of the index at one bus, and of the mean over the buses.
TEST(SunTable, LargestDrops)
{
    // Rows of three buses: a shadow takes bus 1, then buses 2 and 3 a little.
    const SunTable table{4, 3, {1000, 1000, 1000, 400, 1000, 1000, 400, 700, 800, 1000, 1000, 1000}};
    const Drops drops = largest_drops(table);
    EXPECT_DOUBLE_EQ(drops.single, 0.6);
    EXPECT_EQ(drops.single_row, 2);
    EXPECT_DOUBLE_EQ(drops.mean, 0.2);  // (3000 - 2400) / 3
    EXPECT_EQ(drops.mean_row, 2);
}

// A line without a number inside a measured series keeps its place in time: each later sample stays
// at its own time, the gap filled between its neighbours, or refused where it is too long.
TEST(Sensor, GapsKeepTheirPlaceInTime)
{
    struct Case {
        const char* what;
        const char* text;
        double interval, max_gap;
        std::vector<double> values;  // empty where refused
        int interpolated;
        const char* said;            // a gap's lines, or the refusal's words
    };
    const Case cases[] = {
        {"a blank line, NaN and an overflow inside", "time,W\n0.0\n\n0.4\nNaN\n1e400\n1.0\n", 1, 60,
         {0.0, 0.2, 0.4, 0.6, 0.8, 1.0}, 3, "lines 5-6"},
        {"the two gaps named", "1\n\n1\nx\n1\n", 1, 60, {1, 1, 1, 1, 1}, 2, "line 4"},
        {"a gap of exactly the longest allowed", "0\n\n\n\n4\n", 15, 60, {0, 1, 2, 3, 4}, 3, "lines 2-4"},
        {"one sample longer", "0\n\n\n\n\n5\n", 15, 60, {}, 0, "s.csv:2: lines 2-5 hold no number (''), a gap of 75 s"},
        {"a long value shown cut", "1\nthis is not a number at all\n1\n", 1, 0.5, {}, 0,
         "line 2 holds no number ('this is not a number...')"},
        {"headers before the first number", "site 4\n\nW/m2\n3\n4\n", 1, 60, {3, 4}, 0, ""},
        {"blank lines at the end", "3\n4\n\n\n", 1, 60, {3, 4}, 0, ""},
        {"text at the end", "3\n4\nend of data\n", 1, 60, {}, 0, "s.csv:3: 'end of data' is not a number, and no number follows it"},
    };
    for (const Case& c : cases) {
        if (c.values.empty()) {
            try {
                (void)read_sensor(c.text, "s.csv", c.interval, c.max_gap);
                ADD_FAILURE() << "taken: " << c.what;
            } catch (const ScenarioError& error) {
                EXPECT_NE(std::string(error.what()).find(c.said), std::string::npos) << c.what << ": " << error.what();
            }
            continue;
        }
        const SensorSeries series = read_sensor(c.text, "s.csv", c.interval, c.max_gap);
        ASSERT_EQ(series.values.size(), c.values.size()) << c.what;
        for (std::size_t k = 0; k < c.values.size(); ++k)
            EXPECT_NEAR(series.values[k], c.values[k], 1e-12) << c.what << " sample " << k;
        EXPECT_EQ(series.interpolated, c.interpolated) << c.what;
        if (*c.said != '\0') {
            ASSERT_FALSE(series.gaps.empty()) << c.what;
            EXPECT_EQ(series.gaps.back(), c.said) << c.what;
        }
    }
}

// A measured sky drifts over the feeder with the wind: worked by hand for a series sampled every
// 10 s, read at rows 5 s apart, on a wind of 10 m/s.
TEST(Sensor, TheSkyDriftsWithTheWind)
{
    const SensorSeries series = read_sensor("W/m2\nx\n\n0.2\n9:00,0.4\n1.0\n1.3\n0.6\n", "s.csv", 10);
    EXPECT_EQ(series.values, (std::vector<double>{0.2, 0.4, 1.0, 1.3, 0.6}));  // at 0, 10, 20, 30 and 40 s
    EXPECT_EQ(series.passed_over, 3);
    struct Case {
        const char* name;
        double from;             // the wind's compass degrees
        double metres_per_unit;
        Place bus;
        int row;                 // t = 5 (row - 1) s
        double expected;
    };
    const Case cases[] = {
        {"downwind 100 m, 10 s later: before the series, its first sample", 270, 1, {100, 0}, 1, 0.2},
        {"downwind 100 m: 15 - 10 s, halfway from 0.2 to 0.4", 270, 1, {100, 0}, 4, 0.3},
        {"upwind 50 m, 5 s earlier: 10 + 5 s", 270, 1, {-50, 0}, 3, 0.7},
        {"across the wind: no lag, and 1.3 of a bright cloud edge kept", 270, 1, {0, 80}, 7, 1.3},
        {"downwind past the series' end less its lag: 45 - 10 s", 270, 1, {100, 0}, 10, 0.95},
        {"upwind past the series' end: its last sample", 270, 1, {-50, 0}, 10, 0.6},
        {"328.084 feet downwind is 100 m", 270, 0.3048, {328.084, 0}, 4, 0.3},
        {"a north wind carries the shade south", 0, 1, {0, -100}, 4, 0.3},
        {"an east wind carries it west: 100 m east is 10 s upwind", 90, 1, {100, 0}, 1, 0.4},
    };
    for (const Case& c : cases) {
        SensorSky sky;
        sky.interval = 10;
        sky.row_interval = 5;
        sky.speed = 10;
        sky.from = c.from;
        sky.metres_per_unit = c.metres_per_unit;
        sky.rows = 10;
        const SunTable table = sensor_sun({c.bus}, series, sky);
        EXPECT_EQ(table.at(c.row - 1, 0), std::llround(c.expected * 1000)) << c.name;
        sky.scale = 2;  // the series in twice the index's units
        EXPECT_EQ(sensor_sun({c.bus}, series, sky).at(c.row - 1, 0), thousandths(c.expected / 2)) << c.name;
    }
    EXPECT_THROW((void)read_sensor("time,W\nnone\n", "s.csv"), ScenarioError);

    // A series far past a clear sky's 1 (W/m2 given no scale) keeps its values whole in the table.
    SensorSky bright;
    bright.interval = 10;
    bright.row_interval = 10;
    bright.rows = 2;
    bright.speed = 10;
    const SunTable table = sensor_sun({{0, 0}}, read_sensor("33.5\n640\n", "w.csv"), bright);
    EXPECT_EQ(table.at(0, 0), 33500);
    EXPECT_EQ(table.at(1, 0), 640000);
    EXPECT_NE(sun_table_text(table, {"a sensor", "", 10, {"a"}}).find("\n0,33.5\n10,640\n"), std::string::npos);
}

// umbrascope-clouds' options as a user gives them, on a small feeder in feet with a sensor file of
// "date,time,value" lines: the wind in m/s is converted, the sensor's bus is found in any letter
// case, a window of the series and a clock, and a clear sky sample by sample.
struct CloudsRun {
    explicit CloudsRun(const std::string& units_of_b)
    {
        folder.write(std::string(network_file_name), "bus_coordinates\n1,a,0,0\n2,B," + units_of_b + ",0\nbus_connections\n1,2\n");
        std::string sensor = "date,time,W/m2\n";
        for (int k = 0; k <= 120; ++k)
            sensor += "2024-06-01,10:00:" + std::to_string(k) + "," + (k <= 20 ? "0.2" : "1") + "\n";
        folder.write("sensor.csv", sensor);
        std::string clear;
        for (int k = 0; k <= 120; ++k)
            clear += k == 120 ? "0\n" : "0.5\n";
        folder.write("clear.csv", clear);
    }
    scenario::Scenario make(std::vector<std::string> args) const
    {
        args.insert(args.begin(), "umbrascope-clouds");
        args.push_back((folder.path() / "sensor.csv").string());
        args.push_back(folder.path().string());
        testing::Argv argv(args);
        CommandLine line("umbrascope-clouds", argv.count(), argv.data(), "");
        return scenario::make_scenario(scenario::parse_clouds_options(line));
    }
    testing::TempFolder folder;
};

TEST(Sensor, TheCommandTakesFeetAnyLetterCaseAWindowAClockAndAClearSky)
{
    // 1000 ft is 304.8 m downwind of the sensor at a: on 10 m/s, B sees it 30.48 s later.
    const CloudsRun feet("1000");
    const scenario::Scenario in_feet = feet.make({"--units", "Ft", "--wind", "10,270", "--sensor-interval", "1",
                                                  "--sensor-at", "A", "--force", "--from-sensor"});
    const CloudsRun metres("304.8");
    const scenario::Scenario in_metres = metres.make({"--units", "m", "--wind", "10,270", "--sensor-interval", "1",
                                                      "--sensor-at", "a", "--force", "--from-sensor"});
    ASSERT_EQ(in_feet.table.rows, 121);
    EXPECT_EQ(in_feet.table.thousandths, in_metres.table.thousandths);
    EXPECT_EQ(in_feet.table.at(20, 0), 200);  // at the sensor, t = 20 s: the last of the shade
    EXPECT_EQ(in_feet.table.at(21, 0), 1000);
    EXPECT_EQ(in_feet.table.at(51, 1), thousandths(0.2 + 0.8 * (51 - 30.48 - 20)));  // t - lag = 20.52 s
    EXPECT_EQ(in_feet.header.units, "ft");

    // Ten seconds to a minute of the series, by clock times from a start: rows from t = 10 s,
    // each bus at its own lag, and the first row's clock recorded.
    const scenario::Scenario window = feet.make({"--units", "ft", "--wind", "10,270", "--sensor-interval", "1",
                                                 "--sensor-at", "a", "--force",
                                                 "--start", "10:00:00", "--sensor-window", "10:00:10,10:01:00",
                                                 "--from-sensor"});
    ASSERT_EQ(window.table.rows, 51);
    EXPECT_EQ(*window.header.start, 10 * 3600 + 10);
    for (int row = 0; row < 51; ++row)
        EXPECT_EQ(window.table.at(row, 1), in_feet.table.at(row + 10, 1)) << row;
    // Clock times without the series' own clock are refused, naming --start.
    try {
        (void)feet.make({"--units", "ft", "--wind", "10,270", "--sensor-interval", "1", "--force", "--sensor-window",
                         "00:00:10,00:01:00", "--from-sensor"});
        ADD_FAILURE() << "a clock window without --start was taken";
    } catch (const ScenarioError& error) {
        EXPECT_NE(std::string(error.what()).find("give the clock time of its first sample with --start HH:MM:SS"),
                  std::string::npos) << error.what();
    }

    // A clear sky of 0.5 doubles the index; the last sample's clear sky of 0 gives 0.
    const scenario::Scenario clear = feet.make({"--units", "ft", "--wind", "10,270", "--sensor-interval", "1",
                                                "--sensor-at", "a", "--force",
                                                "--sensor-clear-sky", (feet.folder.path() / "clear.csv").string(),
                                                "--from-sensor"});
    EXPECT_EQ(clear.table.at(5, 0), 400);
    EXPECT_EQ(clear.table.at(60, 0), 2000);
    EXPECT_EQ(clear.table.at(120, 0), 0);
    EXPECT_NE(clear.notes.back().find("smooths"), std::string::npos);
    bool told = false;
    for (const std::string& note : clear.notes)
        told = told || note.find("1 sample of") != std::string::npos;
    EXPECT_TRUE(told);
}

TEST(Sensor, TheSunsCourseMakesTheIndexAndCarriesTheLoadshapes)
{
    const CloudsRun run("1000");
    const std::vector<std::string> common{"--units", "ft", "--wind", "10,270", "--sensor-interval", "1", "--sensor-at",
                                          "a", "--force", "--site", "39.74,-104.99,1609", "--date", "2026-06-21",
                                          "--utc-offset", "-06:00", "--start", "12:00:00"};
    CourseOptions course;
    course.site = {39.74, -104.99, 1609};
    course.date = {2026, 6, 21};
    course.utc_offset = -6 * 3600;
    course.start = 12 * 3600;
    const std::vector<CourseRow> expected = sun_course(course, 121);
    // With --sensor-scale the series is the index; the course only gives the loadshapes their power.
    std::vector<std::string> args = common;
    args.insert(args.end(), {"--sensor-scale", "1", "--from-sensor"});
    const scenario::Scenario scaled = run.make(args);
    ASSERT_EQ(scaled.factors.size(), 121U);
    EXPECT_EQ(scaled.table.at(60, 0), 1000);
    for (const int row : {0, 60, 120})
        EXPECT_DOUBLE_EQ(scaled.factors[static_cast<std::size_t>(row)], expected[static_cast<std::size_t>(row)].clear / 1000);
    EXPECT_EQ(*scaled.header.start, 12 * 3600);
    EXPECT_EQ(scaled.header.clear_sky, "cloud_clear_sky.csv");
    EXPECT_EQ(scaled.course, course_text(expected));
    // Without it the series is W/m2 over the clear sky at each sample's own time.
    args = common;
    args.push_back("--from-sensor");
    const scenario::Scenario divided = run.make(args);
    for (const int row : {5, 60, 119})
        EXPECT_EQ(divided.table.at(row, 0),
                  thousandths((row <= 20 ? 0.2 : 1) / expected[static_cast<std::size_t>(row)].clear)) << row;
    // A series in W/m2, far above 1, is taken: the course makes it the index.
    {
        std::string watts;
        for (int k = 0; k <= 120; ++k)
            watts += "2024-06-01,12:00:" + std::to_string(k) + ",800\n";
        const CloudsRun bright("1000");
        bright.folder.write("sensor.csv", watts);
        const scenario::Scenario measured = bright.make(args);
        EXPECT_EQ(measured.table.at(60, 0), thousandths(800 / expected[60].clear));
    }
    // At night the clear sky is 0 and so is the index, and the summary says how often.
    args[args.size() - 2] = "02:00:00";
    const scenario::Scenario night = run.make(args);
    EXPECT_EQ(night.table.at(60, 0), 0);
    bool told = false;
    for (const std::string& note : night.notes)
        told = told || note.find("121 samples of the sun's course at --site had a clear sky of 0") != std::string::npos;
    EXPECT_TRUE(told);
    ASSERT_EQ(night.warnings.size(), 1U);  // two minutes of the night are no polar night
    EXPECT_NE(night.warnings[0].find("the sun is below the horizon in every row, from 02:00:00 to 02:02:00"), std::string::npos)
        << night.warnings[0];
}

// The field a measured sky was made from goes with its sun table: a table made since, or edited,
// leaves the field of the earlier one untaken.
TEST(Sensor, ASkyFieldOfAnEarlierSunTableIsNotTaken)
{
    const CloudsRun run("1000");
    std::vector<std::string> args{"umbrascope-clouds", "--units", "ft", "--wind", "10,270", "--sensor-interval", "1",
                                  "--force", "--from-sensor", (run.folder.path() / "sensor.csv").string(),
                                  run.folder.path().string()};
    testing::Argv argv(args);
    CommandLine line("umbrascope-clouds", argv.count(), argv.data(), "");
    const scenario::CloudsOptions options = scenario::parse_clouds_options(line);
    (void)scenario::write_scenario(options, scenario::make_scenario(options));
    const std::optional<SkyField> field = read_sky_field(run.folder.path());
    ASSERT_TRUE(field);
    EXPECT_EQ(field->sky_fingerprint.size(), 16U);
    const std::filesystem::path table = run.folder.path() / std::string(sun_table_file_name);
    std::string text = testing::read_file(table);
    text[text.rfind('1')] = '0';  // one value of the last row, as another sky would have it
    run.folder.write(std::string(sun_table_file_name), text);
    EXPECT_FALSE(read_sky_field(run.folder.path()));
}

TEST(Track, BadTracksNameTheLine)
{
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"a\nb\nc\n", "t.txt: no parameter line: the track file has 3 lines"},
        {"a\nb\nc\nx,x,x,1,2,3,x,4,5\n", "t.txt:4: the parameter line has 8 commas; it needs nine: -,-,-,side,radius 1,radius 2,-,angle,threshold,"},
        {"a\nb\nc\nx,x,x,1,2,one,x,4,5,\n", "t.txt:4: the radius 2 (field 6) is not a number: 'one'"},
        {"a\nb\nc\nx,x,x,1,2,3,x,4,0.5,\n2,0,0\n1,0,0\n", "t.txt:6: step 1 after step 2; records go in step order"},
        {"a\nb\nc\nx,x,x,1,2,3,x,4,0.5,\n1,0\n", "t.txt:5: a record is step,x,y"},
    };
    for (const Case& c : cases) {
        try {
            (void)read_track(c.text, "t.txt");
            ADD_FAILURE() << c.text;
        } catch (const ScenarioError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

}  // namespace
}  // namespace umbrascope::scenario

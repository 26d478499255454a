// Cloud scenarios: the sun model, drifting clouds that cross the network, and sun tables that
// follow their own tracks.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstdio>
#include <random>

#include "scenario/drift.hpp"

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
    const SunTable table = sun_under(buses, written, options.steps, nullptr);
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
    for (const double from : {270.0, 0.0, 135.0, 200.0}) {
        DriftOptions options;
        options.from = from;
        options.clouds = 6;
        const Drift drift = drifting_clouds(buses, options);
        const std::vector<CloudAt>& records = drift.track.records;
        ASSERT_EQ(records.size(), 6U * 120U);
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
            EXPECT_LE(along(start.x, start.y), first_bus - edge + 1e-6) << "from " << from << ", cloud " << cloud;
            EXPECT_GE(along(end.x, end.y), last_bus + edge - 1e-6) << "from " << from << ", cloud " << cloud;
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
    EXPECT_NE(text(5), text(6));
    options.core = 30;
    options.edge = 20;
    EXPECT_THROW((void)text(1), ScenarioError);
    EXPECT_THROW((void)drifting_clouds({}, DriftOptions{}), ScenarioError);
}

TEST(SunTable, ClearSkyFactorsHeaderAndLoadshapes)
{
    Track track;
    track.shape = {10, 50, 90, 20, 0.6};
    track.records = {{1, 0, 0}, {2, 1000, 1000}};
    const std::vector<Place> buses{{0, 0}, {0, 70}};
    const std::vector<double> factors = read_clear_sky("normalised\r\n0.5\n\n1\n0.9\n", "sky.csv");
    ASSERT_EQ(factors, (std::vector<double>{0.5, 1, 0.9}));
    const SunTable table = sun_under(buses, track, 3, &factors);
    const SunHeader header{"the clouds of t.txt", "sky.csv", 0.5, {"A", "B"}};
    EXPECT_EQ(sun_table_text(table, header),
              "Sun intensity per bus\nMade by umbrascope-clouds from the clouds of t.txt\n"
              "Clear-sky index: 1 in full sun, times the factors of sky.csv\nOne row every 0.5 seconds\n"
              "Columns: time in seconds, then one intensity per bus index\ntime,A,B\n"
              "0,0.125,0.362\n0.5,1,1\n1,0.9,0.9\n");  // 0.725 x 0.5 lies just below 0.3625
    EXPECT_EQ(loadshapes_text(table, header),
              "! Loadshapes made by umbrascope-clouds from the clouds of t.txt: one per bus, its multipliers the bus's "
              "sun intensity in each row\n"
              "New Loadshape.A npts=3 sinterval=0.5 mult=[0.125 1 0.9]\nNew Loadshape.B npts=3 sinterval=0.5 mult=[0.362 1 0.9]\n");

    EXPECT_THROW((void)read_clear_sky("1\nlots\n", "sky.csv"), ScenarioError);
    EXPECT_THROW((void)read_clear_sky("1\n-0.5\n", "sky.csv"), ScenarioError);
    // 6,000 buses of "0.443," cannot share one line of 32,767 characters.
    const SunTable wide{1, 6000, std::vector<std::int64_t>(6000, 443)};
    EXPECT_THROW((void)sun_table_text(wide, SunHeader{"x", "", 10, std::vector<std::string>(6000, "b")}), ScenarioError);
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

#include <gtest/gtest.h>

#include <cmath>

#include "core/shade.hpp"

#include <cmath>

#include "render/draw_network.hpp"
#include "render/picture.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::Scenario;
using Lines = std::vector<std::string>;

// Buses at (0, 0) and (3, 1), plot area 4880..11320 by -540..5780 (see the cloud tests).
struct Network {
    Network(const std::string& network, const std::string& sun_row, const std::string& parameters = "x,x,x,1,0.5,1,x,0,0.5,")
        : s(network, "h\nh\nh\nh\nh\nh\n" + sun_row + "\n", testing::track_file("", parameters))
    {
        error = s.run.pass();
    }
    [[nodiscard]] Lines drawing() const
    {
        Lines lines;
        for (const std::string& line : s.run.trace_lines())
            if (line.rfind("circle", 0) == 0 || line.rfind("line", 0) == 0)
                lines.push_back(line);
        return lines;
    }
    [[nodiscard]] Lines discs() const  // the colour of the first disc circle of each bus
    {
        Lines colours;
        const Lines d = drawing();
        for (std::size_t i = 0; i < d.size(); ++i)
            if (d[i].find("\t15\t") != std::string::npos)
                colours.push_back(d[i].substr(d[i].rfind('\t') + 1));
        return colours;
    }
    Scenario s;
    std::optional<PassError> error;
};

TEST(DrawNetwork, MarkersThenConnectionsThenDiscs)
{
    const Network n("1,A,0,0\n2,B,3,1\nbus_connections\n1,2\n", "10,1,0.7");
    ASSERT_FALSE(n.error) << n.error->what();
    // Bus 1 at (0, 0): xn 0.125, yn 0.125 -> (5685, 4990). Bus 2 at (3, 1): xn 0.875, yn 0.375 -> (10515, 3410).
    Lines expected{"circle\t5685\t4990\t50\t#000080", "circle\t10515\t3410\t50\t#000080",
                   "line\t5685\t4990\t10515\t3410\t#000080"};
    for (int r = 15; r <= 85; r += 10)
        expected.push_back("circle\t5685\t4990\t" + std::to_string(r) + "\t#ff0000");
    for (int r = 15; r <= 85; r += 10)
        expected.push_back("circle\t10515\t3410\t" + std::to_string(r) + "\t#00ff00");
    EXPECT_EQ(n.drawing(), expected);
}

TEST(DrawNetwork, ShadingClasses)
{
    struct Case {
        const char* row;
        const char* threshold;
        Lines colours;
    };
    const Case cases[] = {
        {"10,0.99,0.991", "0.5", {"#ff0000", "#ff0000"}},  // 0.99 as a Single lies above the double 0.99
        {"10,0.5,0.5001", "0.5", {"#000080", "#00ff00"}},  // equal to the threshold: the class below
        {"10,0.98,1", "0.99", {"#000080", "#ff0000"}},     // a threshold at 0.99 leaves no green
        {"10", "0.5", {"#000080", "#000080"}},             // empty cells count as 0
        {"10", "-0.1", {"#00ff00", "#00ff00"}},
        {"10,-1,2", "-2", {"#00ff00", "#ff0000"}},
    };
    for (const Case& c : cases) {
        const Network n("1,A,0,0\n2,B,3,1\n", c.row, std::string("x,x,x,1,0.5,1,x,0,") + c.threshold + ",");
        ASSERT_FALSE(n.error) << c.row;
        EXPECT_EQ(n.discs(), c.colours) << c.row << " with threshold " << c.threshold;
    }
}

TEST(DrawNetwork, ConnectionsByBusIndex)
{
    struct Case {
        const char* connection;
        std::optional<ErrorKind> kind;
        const char* line;  // the line drawn, if any
    };
    const Case cases[] = {
        {"2,1", std::nullopt, "line\t10515\t3410\t5685\t4990\t#000080"},
        {"0,1", std::nullopt, "line\t5685\t4990\t5685\t4990\t#000080"},   // bus 0 is the network point (0, 0)
        {"1,25", std::nullopt, "line\t5685\t4990\t5685\t4990\t#000080"},  // above nbus, not above 25: (0, 0) too
        {"1,26", ErrorKind::bounds, nullptr},                               // passes the x table, fails at the y table
        {"46,1", ErrorKind::bounds, nullptr},
        {"-1,1", ErrorKind::bounds, nullptr},
    };
    for (const Case& c : cases) {
        const Network n(std::string("1,A,0,0\n2,B,3,1\nbus_connections\n") + c.connection + "\n", "10,1,1");
        EXPECT_EQ(n.error.has_value(), c.kind.has_value()) << c.connection;
        if (c.kind) {
            EXPECT_EQ(n.error->kind(), *c.kind) << c.connection;
        }
        const Lines drawing = n.drawing();
        const bool drawn = std::any_of(drawing.begin(), drawing.end(), [](const std::string& l) { return l.rfind("line", 0) == 0; });
        EXPECT_EQ(drawn, c.line != nullptr) << c.connection;
        if (c.line != nullptr) {
            EXPECT_EQ(drawing.at(2), c.line) << c.connection;
        }
    }
    const Network bad("1,A,0,0\nbus_connections\n1,2\n1,26\n", "10,1");
    EXPECT_STREQ(bad.error->what(), "cloud_bus_coords_connections.txt line 4, connection 2 names bus index 26 as its "
                                    "to bus (the network has 1 bus): yc(26) is outside the table's range 0..25");
    EXPECT_EQ(bad.s.run.st.i_time, 1);  // not advanced
}

TEST(DrawNetwork, NoConnectionsStillDrawsMarkersAndDiscs)
{
    const Network n("1,A,0,0\n2,B,3,1\n", "10,1,1");
    ASSERT_FALSE(n.error);
    EXPECT_EQ(n.drawing().size(), 2U * 9U);
}

TEST(DrawNetwork, BusCentresRoundHalvesToEvenWhileLineEndsStaySingles)
{
    // One bus at x 0.25 between buses at 0 and 3: xn = 0.1875, x = 6087.5, drawn at 6088.
    const Network n("1,A,0,0\n2,B,3,1\n3,C,0.25,0\nbus_connections\n3,1\n", "10,1,1,1");
    ASSERT_FALSE(n.error);
    const Lines d = n.drawing();
    EXPECT_EQ(d.at(2), "circle\t6088\t4990\t50\t#000080");
    EXPECT_EQ(d.at(3), "line\t6087.5\t4990\t5685\t4990\t#000080");
}

}  // namespace
}  // namespace umbrascope

namespace umbrascope {
namespace {

// Dense feeders: the symbols fit the median of the buses' nearest distances, not the smallest (a
// pair of buses nearly on top of each other does not shrink every disc), and never fall under
// 3 pixels; where the buses lie far apart they keep the full size.
TEST(DenseDiscs, TheMedianSpacingAndTheThreePixelFloor)
{
    testing::TempFolder folder;
    folder.write(std::string(network_file_name),
                 "bus_coordinates\n1,a,0,0\n2,b,0.01,0\n3,c,10,0\n4,d,20,0\n5,e,30,0\n6,f,40,0\n7,g,50,0\n"
                 "bus_connections\n");
    folder.write(std::string(sun_table_file_name), testing::sun_file(1, 7));
    folder.write(std::string(track_file_name), testing::track_file());
    testing::PassRun run(folder.path());
    ASSERT_FALSE(run.pass());
    const auto c = bus_marker_position(run.st, 3);
    const auto d = bus_marker_position(run.st, 4);
    ASSERT_TRUE(c && d);
    EXPECT_NEAR(bus_spacing(run.st), std::hypot(d->x - c->x, d->y - c->y), 1.0);

    View view;
    view.scale = view.symbol_scale = 1.0 / 15;
    constexpr double across = 170;  // a disc at symbol_scale is 170 plot units across, and a pixel more
    view.symbol_spacing = 1e-6;
    EXPECT_NEAR(view.symbols() * across + 1, 3, 1e-9);
    view.symbol_spacing = 1e9;
    EXPECT_EQ(view.symbols(), view.symbol_scale);
    view.symbol_spacing = 100;  // 6.67 pixels apart: three quarters of that wide
    EXPECT_NEAR(view.symbols() * across + 1, 0.75 * 100 / 15, 1e-9);
}

// The steps of a measured sky's shade, at fixed indices: none from 0.95 up, the darkest at 0 and
// below, and between them in even sixths of 0.95.
TEST(Shade, StepsAtFixedIndices)
{
    struct Case {
        double index;
        int level;
    };
    for (const Case c : {Case{1.2, 0}, {1, 0}, {0.95, 0}, {0.94, 1}, {0.7917, 1}, {0.79, 2}, {0.5, 3}, {0.3, 5},
                         {0.001, 6}, {0, 6}, {-0.1, 6}, {std::nan(""), 0}})
        EXPECT_EQ(shade_level(c.index), c.level) << c.index;
    EXPECT_EQ(shade_colour(1), (Colour{238, 240, 243}));
    EXPECT_EQ(shade_colour(3), (Colour{214, 218, 225}));
    EXPECT_EQ(shade_colour(6), (Colour{178, 185, 198}));
}

}  // namespace
}  // namespace umbrascope

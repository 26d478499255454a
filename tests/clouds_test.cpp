#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "clouds/cloud_track.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::Scenario;
using Lines = std::vector<std::string>;

// Two buses at (0, 0) and (3, 1): the widened extent is x -0.5..3.5 and y -0.5..1.5, c_span 4,
// and the plot area 4880..11320 by -540..5780.
const std::string network = "1,A,0,0\n2,B,3,1\n";

struct Clouds {
    Clouds(int rows, const std::string& records, const std::string& parameters = "x,x,x,1,0.5,1,x,0,0.5,")
        : s(network, testing::sun_file(rows), testing::track_file(records, parameters))
    {
    }
    // The x of every cloud centre the pass draws (the first black circle of each figure), in
    // network units, or the error it ended with.
    Lines pass()
    {
        s.run.clear_trace();
        const auto error = s.run.pass();
        Lines drawn;
        bool first = true;
        for (const std::string& line : s.run.lines_of("circle")) {
            if (line.find("#000000") == std::string::npos)
                continue;
            if (first) {
                const double xp = std::stod(line.substr(7));
                drawn.push_back(std::to_string(static_cast<int>(std::lround((xp - 4880) / 1610 * 100 - 50))));
            }
            first = !first;
        }
        if (error)
            drawn.push_back(std::string("error ") + std::string(kind_name(error->kind())));
        return drawn;
    }
    Scenario s;
};

// The record that stops a pass, the first of a later step, is held and opens the next pass.
TEST(CloudTrack, EachPassStartsWithTheRecordThatStoppedThePassBefore)
{
    struct Case {
        const char* name;
        const char* records;  // step,x with x in hundredths
        std::vector<Lines> passes;
    };
    const Case cases[] = {
        {"steps 1,1,2,2,2,3,3", "1,0.01,0\n1,0.02,0\n2,0.03,0\n2,0.04,0\n2,0.05,0\n3,0.06,0\n3,0.07,0\n",
         {{"1", "2"}, {"3", "4", "5"}, {"6", "7"}, {}, {}}},
        {"steps 1,1,3,3,3", "1,0.01,0\n1,0.02,0\n3,0.03,0\n3,0.04,0\n3,0.05,0\n",
         {{"1", "2"}, {}, {"3", "4", "5"}, {}, {}}},
        {"one cloud per step", "1,0.01,0\n2,0.02,0\n3,0.03,0\n4,0.04,0\n", {{"1"}, {"2"}, {"3"}, {"4"}, {}}},
        {"a bad record below i_time is skipped", "1,0.01,0\n2,0.02,0\n1,bad,bad\n2,0.03,0\n3,0.04,0\n",
         {{"1"}, {"2", "3"}, {"4"}, {}, {}}},
        {"a track that ends early", "1,0.01,0\n", {{"1"}, {}, {}, {}, {}}},
        {"records beyond the last row are never read", "1,0.01,0\n2,0.02,0\n2,0.03,0\n3,0.04,0\n3,x\nnot a record\n",
         {{"1"}, {"2", "3"}}},
        {"an empty line after the last record", "1,0.01,0\n2,0.02,0\n2,0.03,0\n\n",
         {{"1"}, {"2", "3", "error argument"}}},
    };
    for (const Case& c : cases) {
        Clouds clouds(static_cast<int>(c.passes.size()), c.records);
        for (std::size_t p = 0; p < c.passes.size(); ++p)
            EXPECT_EQ(clouds.pass(), c.passes[p]) << c.name << ", pass " << p + 1;
    }
}

TEST(CloudTrack, AcceptsCloudsOnTheBoundsAndDropsThoseJustOutside)
{
    struct Case {
        const char* record;
        bool drawn;
    };
    const Case cases[] = {
        {"1,-0.5,0", true},     {"1,3.5,0", true},     {"1,0,-0.5", true},    {"1,0,2.5", true},  // yc_max + cloud_len
        {"1,-0.5001,0", false}, {"1,3.5001,0", false}, {"1,0,-0.5001", false}, {"1,0,2.5001", false},
    };
    for (const Case& c : cases) {
        Clouds clouds(2, std::string(c.record) + "\n");
        EXPECT_EQ(clouds.pass().size(), c.drawn ? 1U : 0U) << c.record;
    }
}

TEST(CloudTrack, TheFigureAndItsLineStyles)
{
    Clouds clouds(2, "1,1.5,0.5\n2,0,0\n");
    ASSERT_TRUE(clouds.pass().size() == 1);
    const Lines trace = clouds.s.run.trace_lines();
    // The centre (1.5, 0.5) maps to (4880 + 6440 * 0.5, 5780 - 6320 * 0.25); the square's side is
    // 1610 along x and 1580 along y, axis-parallel at angle 0, P1 the upper left corner.
    const Lines expected{
        "style\tdotted",
        "line\t7295\t3410\t8905\t3410\t#000080",
        "line\t8905\t3410\t8905\t4990\t#000080",
        "line\t8905\t4990\t7295\t4990\t#000080",
        "line\t7295\t4990\t7295\t3410\t#000080",
        "circle\t8100\t4200\t805\t#000000",
        "circle\t8100\t4200\t1610\t#000000",
        "style\tsolid",
        "style\tsolid",  // after the record of step 2, read and not drawn
    };
    const auto first = std::find(trace.begin(), trace.end(), "style\tdotted");
    ASSERT_NE(first, trace.end());
    EXPECT_EQ(Lines(first, first + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST(CloudTrack, CornerOffsetsTurnWithTheAngle)
{
    Clouds square(1, "", "x,x,x,1,0.5,1,x,0,0.5,");
    (void)square.pass();
    const RunState& a = square.s.run.st;
    EXPECT_EQ(a.pi_val, std::bit_cast<float>(0x40490FDAU));
    EXPECT_EQ(a.cloud_len_xp, 1610.0F);
    EXPECT_EQ(a.cloud_len_yp, 1580.0F);
    EXPECT_NEAR(a.corner_ax, 805, 0.01);
    EXPECT_NEAR(a.corner_ay, -805, 0.01);
    EXPECT_NEAR(a.corner_bx, 790, 0.01);
    EXPECT_NEAR(a.corner_by, -790, 0.01);

    Clouds diamond(1, "", "x,x,x,1,0.5,1,x,45,0.5,");
    (void)diamond.pass();
    const RunState& b = diamond.s.run.st;
    EXPECT_NEAR(b.corner_ax, 1610 * std::sqrt(0.5), 0.01);  // P2 straight to the right of the centre
    EXPECT_NEAR(b.corner_ay, 0, 0.01);
    EXPECT_NEAR(b.corner_bx, 1580 * std::sqrt(0.5), 0.01);  // P3 straight below it
    EXPECT_NEAR(b.corner_by, 0, 0.01);
}

TEST(CloudTrack, ParameterLineWithSixDelimitersStartsTheScanOver)
{
    Clouds clouds(1, "", "10,20,x,2,0.5,1,");
    EXPECT_TRUE(clouds.pass().empty());
    const RunState& st = clouds.s.run.st;
    EXPECT_EQ(st.cloud_len, 2.0F);
    EXPECT_EQ(st.cloud_r1, 0.5F);
    EXPECT_EQ(st.cloud_r2, 1.0F);
    EXPECT_EQ(st.cloud_angle, 10.0F);
    EXPECT_EQ(st.sun_threshold, 20.0F);
}

TEST(CloudTrack, Failures)
{
    struct Case {
        const char* name;
        std::string track;
        ErrorKind kind;
        const char* message;
    };
    const std::string params = "t1\nt2\nt3\nx,x,x,1,0.5,1,x,0,0.5,\n";
    const Case cases[] = {
        {"three lines", "t1\nt2\nt3\n", ErrorKind::file, "cloud_centers_plot.txt: read past the end of the file, which ends after line 3"},
        {"three delimiters", "t1\nt2\nt3\na,b,c,1\n", ErrorKind::argument,
         "cloud_centers_plot.txt line 4, cloud_len: \"a,b,c,1\" has no \",\" after cloud_len (the parameter line needs nine)"},
        {"a parameter that is not a number", "t1\nt2\nt3\nx,x,x,1,0.5,one,x,0,0.5,\n", ErrorKind::conversion,
         "cloud_centers_plot.txt line 4, cloud_r2: \"one\" is not a number"},
        {"a record without a delimiter", params + "7\n", ErrorKind::argument,
         "cloud_centers_plot.txt line 5, field 1: \"7\" has no \",\" before the cloud's x"},
        {"a step that is not a number", params + "one,1,1\n", ErrorKind::conversion, nullptr},
        {"a step beyond the Integer range", params + "99999,1,1\n", ErrorKind::overflow, nullptr},
        {"a current record with one delimiter", params + "1,1\n", ErrorKind::argument,
         "cloud_centers_plot.txt line 5, field 2: \"1,1\" has no \",\" before the cloud's y"},
        {"a current record's y not a number", params + "1,1,y\n", ErrorKind::conversion, nullptr},
    };
    for (const Case& c : cases) {
        Scenario s(network, testing::sun_file(3), c.track);
        const auto error = s.run.pass();
        ASSERT_TRUE(error) << c.name;
        EXPECT_EQ(error->kind(), c.kind) << c.name << ": " << error->what();
        if (c.message != nullptr) {
            EXPECT_STREQ(error->what(), c.message) << c.name;
        }
        EXPECT_TRUE(s.run.input.is_open()) << c.name;  // the track file stays open at the failure
        EXPECT_FALSE(s.run.controls.timer_enabled) << c.name;
    }
}

TEST(CloudTrack, AFailureInsideAFigureLeavesTheStyleDotted)
{
    Clouds clouds(3, "1,0,0\n", "x,x,x,1,3e38,1,x,0,0.5,");
    EXPECT_EQ(clouds.pass(), Lines{"error fpfault"});
    EXPECT_EQ(clouds.s.run.lines_of("style").back(), "style\tdotted");
}

}  // namespace
}  // namespace umbrascope

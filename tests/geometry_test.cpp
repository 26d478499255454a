#include <gtest/gtest.h>

#include "network/plot_geometry.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::attempt;
using testing::PassRun;
using testing::TempFolder;
using Lines = std::vector<std::string>;

struct Bus {
    float x;
    float y;
};

struct Geometry {
    explicit Geometry(const std::vector<Bus>& buses) : run(folder.path())
    {
        RunState& st = run.st;
        for (const Bus& bus : buses) {
            st.nbus = sum(st.nbus, 1, "nbus");
            st.xc(st.nbus) = bus.x;
            st.yc(st.nbus) = bus.y;
        }
        error = attempt([this] { compute_plot_geometry(run.world); });
    }
    [[nodiscard]] Lines echo() const { return testing::utf8_items(run.list(ListBox::Coordinates_Repeated_Listbox)); }
    TempFolder folder;
    PassRun run;
    std::optional<PassError> error;
};

TEST(PlotGeometry, ExtentScaleAndCentring)
{
    struct Case {
        const char* name;
        std::vector<Bus> buses;
        Lines echo;
        float xc_span, yc_span, c_span;
        int yp_min, yp_max;
    };
    const Case cases[] = {
        {"no buses", {}, {"xc_min = 0", "xc_max = 0", "yc_min = 0", "yc_max = 0"}, 1, 1, 1, 1040, 7360},
        {"one bus", {{2, 3}}, {"xc_min = 2", "xc_max = 2", "yc_min = 3", "yc_max = 3"}, 1, 1, 1, 1040, 7360},
        {"spans 4 and 2", {{0, 0}, {3, 1}}, {"xc_min = 0", "xc_max = 3", "yc_min = 0", "yc_max = 1"}, 4, 2, 4, -540, 5780},
        {"higher than wide", {{0, 0}, {1, 3}}, {"xc_min = 0", "xc_max = 1", "yc_min = 0", "yc_max = 3"}, 2, 4, 4, 1040, 7360},
        {"equal spans", {{0, 0}, {2, 2}}, {"xc_min = 0", "xc_max = 2", "yc_min = 0", "yc_max = 2"}, 3, 3, 3, 1040, 7360},
        // A straight feeder is centred: lifted by half the unused height.
        {"one horizontal line", {{0, 5}, {25, 5}}, {"xc_min = 0", "xc_max = 25", "yc_min = 5", "yc_max = 5"}, 26, 1, 26, -1998, 4322},
        // Far from the origin the extent is still the buses' own. A Single near 1.2e7 holds whole
        // units, so the y widening is lost in rounding and yc_span is 50.
        {"state-plane feet", {{1690000, 12300000}, {1690100, 12300050}},
         {"xc_min = 1690000", "xc_max = 1690100", "yc_min = 1.23E+07", "yc_max = 1.230005E+07"}, 101, 50, 101, -556, 5764},
    };
    for (const Case& c : cases) {
        const Geometry g(c.buses);
        ASSERT_FALSE(g.error) << c.name << ": " << g.error->what();
        const RunState& st = g.run.st;
        EXPECT_EQ(g.echo(), c.echo) << c.name;
        EXPECT_EQ(st.xc_span, c.xc_span) << c.name;
        EXPECT_EQ(st.yc_span, c.yc_span) << c.name;
        EXPECT_EQ(st.c_span, c.c_span) << c.name;
        EXPECT_EQ(st.margin, 200);
        EXPECT_EQ(st.xp_min, 4880) << c.name;
        EXPECT_EQ(st.xp_max, 11320) << c.name;
        EXPECT_EQ(st.yp_span, 6320) << c.name;
        EXPECT_EQ(st.yp_min, c.yp_min) << c.name;
        EXPECT_EQ(st.yp_max, c.yp_max) << c.name;
    }
}

TEST(PlotGeometry, WidensTheExtentByHalfAUnit)
{
    const Geometry g({{0, 0}, {3, 1}});
    EXPECT_EQ(g.run.st.xc_min, -0.5F);
    EXPECT_EQ(g.run.st.xc_max, 3.5F);
    EXPECT_EQ(g.run.st.yc_min, -0.5F);
    EXPECT_EQ(g.run.st.yc_max, 1.5F);
}

TEST(PlotGeometry, CentringNeverOverflowsWithTheWindowLayout)
{
    for (const float x : {100.0F, 1000.0F, 1e6F, 1e30F}) {
        const Geometry g({{0, 0}, {x, 0}});
        ASSERT_FALSE(g.error) << x;
        // The network's single row of buses lies in the middle of the unshifted plot area.
        const double middle = g.run.st.yp_max.value() - (g.run.st.yp_max.value() - g.run.st.yp_min.value()) *
                                                             (0.5 / g.run.st.c_span);
        EXPECT_NEAR(middle, (1040 + 7360) / 2.0, 1.0) << x;
    }
}

TEST(PlotGeometry, FillsInsetOnTheFirstPassAndOutsetEveryPass)
{
    Geometry g({{0, 0}, {3, 1}});
    clear_plot_frame(g.run.world);
    EXPECT_EQ(g.run.lines_of("box"), (Lines{"box\t4700\t860\t11500\t7540\t#ffffff", "box\t4660\t820\t11540\t7580\t#ffffff"}));

    // The frame is read from the line controls each time.
    g.run.clear_trace();
    g.run.controls.move_line(LineControl::Line_Left, {1000, 500, 1000, 900});
    g.run.controls.move_line(LineControl::Line_Top, {0, 0, 1, 1});  // read by nobody
    clear_plot_frame(g.run.world);
    EXPECT_EQ(g.run.lines_of("box"), (Lines{"box\t980\t480\t11540\t7580\t#ffffff"}));
}

TEST(PlotGeometry, AMovedFrameGivesAnotherPlotArea)
{
    TempFolder folder;
    PassRun run(folder.path());
    run.controls.move_line(LineControl::Line_Left, {1000.4F, 300, 1000, 900});
    run.controls.move_line(LineControl::Line_Right, {0, 0, 5000, 4000.5F});
    compute_plot_geometry(run.world);
    EXPECT_EQ(run.st.xp_min, 1200);
    EXPECT_EQ(run.st.yp_min, 500);
    EXPECT_EQ(run.st.xp_max, 4800);
    EXPECT_EQ(run.st.yp_max, 3800);  // 3800.5 rounds to even
}

TEST(PlotGeometry, OverflowsAndFaults)
{
    {
        TempFolder folder;
        PassRun run(folder.path());
        run.controls.move_line(LineControl::Line_Right, {0, 0, 40000, 7560});
        const auto error = attempt([&] { compute_plot_geometry(run.world); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), ErrorKind::overflow);
        EXPECT_EQ(run.st.yp_min, 1040);  // stored before the failure
    }
    {
        const Geometry g({{-3e38F, 0}, {3e38F, 0}});  // the span is beyond the Single range
        ASSERT_TRUE(g.error);
        EXPECT_EQ(g.error->kind(), ErrorKind::fpfault);
        EXPECT_EQ(g.echo().size(), 4U);
    }
}

}  // namespace
}  // namespace umbrascope

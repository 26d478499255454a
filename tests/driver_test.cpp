#include <gtest/gtest.h>

#include "run/row_jump.hpp"
#include "run/run_warnings.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::PassRun;
using testing::Scenario;
using testing::TempFolder;

TEST(Driver, ReadyUntilTheFirstClick)
{
    const Scenario s(testing::network_file(), testing::sun_file(3), testing::track_file());
    EXPECT_EQ(s.run.controls.pass_text, U"Num_Pass_Textbox");
    EXPECT_FALSE(s.run.controls.timer_enabled);
    EXPECT_EQ(s.run.controls.timer_calls, 0);
    EXPECT_TRUE(s.run.trace_lines().empty());
}

TEST(Driver, RunsFromTheFirstClickToTheLastRow)
{
    // The step-4 record stops pass 3 and is held when the driver closes the track file.
    Scenario s(testing::network_file(), testing::sun_file(3), testing::track_file("1,0,0\n2,0,0\n3,0,0\n4,0,0\n"));
    PassRun& run = s.run;
    ASSERT_FALSE(run.pass());
    EXPECT_EQ(run.controls.pass_text, U"1");
    EXPECT_EQ(run.st.i_time, 2);
    EXPECT_EQ(run.st.n_time, 3);
    EXPECT_TRUE(run.controls.timer_enabled);
    EXPECT_TRUE(run.input.is_open());  // the track file, from pass to pass

    ASSERT_FALSE(run.pass());
    EXPECT_EQ(run.controls.pass_text, U"2");
    EXPECT_TRUE(run.controls.timer_enabled);
    run.clear_trace();
    ASSERT_FALSE(run.pass());  // draws row 3, the last: the animation ends
    EXPECT_EQ(run.st.i_time, 4);
    EXPECT_FALSE(run.controls.timer_enabled);
    EXPECT_FALSE(run.input.is_open());
    EXPECT_EQ(run.lines_of("timer"), (std::vector<std::string>{"timer\ton", "timer\toff"}));

    // Finished, click: counted, shown, cleared, then the closed track file fails the pass.
    run.clear_trace();
    const auto error = run.pass();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ErrorKind::file);
    EXPECT_NE(std::string(error->what()).find("the run has ended"), std::string::npos) << error->what();
    EXPECT_EQ(run.controls.pass_text, U"4");
    EXPECT_EQ(run.st.i_time, 4);
    EXPECT_EQ(run.lines_of("box").size(), 1U);
    EXPECT_TRUE(run.lines_of("timer").empty());
}

TEST(Driver, ShortSunTablesEndTheAnimationInTheFirstPass)
{
    for (const int rows : {0, 1}) {
        Scenario s(testing::network_file(), testing::sun_file(rows), testing::track_file());
        ASSERT_FALSE(s.run.pass()) << rows;
        EXPECT_EQ(s.run.lines_of("timer"), (std::vector<std::string>{"timer\ton", "timer\toff"})) << rows;
        EXPECT_EQ(s.run.st.i_time, 2) << rows;
        EXPECT_FALSE(s.run.input.is_open()) << rows;
        EXPECT_EQ(s.run.lines_of("circle").size(), 2U * 9U) << rows;  // row 1 is drawn even when empty
    }
}

TEST(Driver, ACounterAt32767FailsBeforeTheTextChanges)
{
    Scenario s(testing::network_file(), testing::sun_file(3), testing::track_file());
    PassRun& run = s.run;
    run.st.num_pass = Integer{32767};
    const auto error = run.pass();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ErrorKind::overflow);
    EXPECT_STREQ(error->what(), "the pass counter num_pass: 32767 + 1 is outside the Integer range -32768..32767");
    EXPECT_EQ(run.controls.pass_text, U"Num_Pass_Textbox");
    EXPECT_EQ(run.lines_of("text").size(), 0U);
}

TEST(Driver, AFailedFirstPassIsNeverRetried)
{
    TempFolder empty;  // no input files at all
    PassRun run(empty.path());
    auto error = run.pass();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ErrorKind::file);
    EXPECT_EQ(run.controls.pass_text, U"1");
    EXPECT_FALSE(run.controls.timer_enabled);

    run.clear_trace();
    error = run.pass();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), ErrorKind::file);
    EXPECT_STREQ(error->what(), "cloud_centers_plot.txt is not open, so the pass cannot test for its end: the first pass failed before it "
              "could open the file; mend the input, then start Umbrascope again to run anew");
    EXPECT_EQ(run.trace_lines(), (std::vector<std::string>{"text\tNum_Pass_Textbox\t2", "box\t4660\t820\t11540\t7580\t#ffffff",
                                                           "error\tfile\t" + std::string(error->what())}));
}

// A surface whose n-th circle fails, as a drawing operation that reports failure.
class FailingSurface : public Surface {
public:
    explicit FailingSurface(int fail_at) : fail_at_(fail_at) {}
    void draw_line(Single, Single, Single, Single, Colour) override {}
    void fill_box(Single, Single, Single, Single, Colour) override {}
    void draw_circle(Single, Single, Single, Colour) override
    {
        if (++circles_ == fail_at_)
            fail(ErrorKind::drawing, "the circle could not be drawn");
    }
    void set_line_style(LineStyle) override {}

private:
    int fail_at_;
    int circles_ = 0;
};

TEST(Driver, AFailedDrawingEndsThePassAndRollsNothingBack)
{
    Scenario s(testing::network_file(), testing::sun_file(5), testing::track_file());
    PassRun& run = s.run;
    FailingSurface failing(2 * 9 + 3);  // the third circle of the second pass
    Pass pass{run.st, run.input, run.controls, failing};
    run_pass(pass);
    EXPECT_TRUE(run.controls.timer_enabled);
    try {
        run_pass(pass);
        FAIL();
    } catch (const PassError& e) {
        EXPECT_EQ(e.kind(), ErrorKind::drawing);
    }
    EXPECT_EQ(run.st.num_pass, 2);
    EXPECT_EQ(run.st.i_time, 2);              // not advanced
    EXPECT_TRUE(run.controls.timer_enabled);  // keeps running
    EXPECT_EQ(run.controls.timer_calls, 1);
    run_pass(pass);  // the next tick draws row 2 again
    EXPECT_EQ(run.st.i_time, 3);
}

TEST(Driver, HeadlessRunStopsAsTheWindowWould)
{
    struct Case {
        int rows;
        const char* records;
        HeadlessOptions options;
        int passes;
        int failures;
    };
    // Steps 2 and 4 each hold a record that cannot be read, after the record that opens the step.
    const char* bad = "1,1,1\n2,1,1\n2,x\n3,1,1\n4,1,1\n4,x\n5,1,1\n";
    const Case cases[] = {
        {3, "", {32767, false}, 3, 0},
        {3, "", {2, false}, 2, 0},
        {6, bad, {32767, false}, 2, 1},  // stops after the first failed pass
        {6, bad, {32767, true}, 8, 2},   // carries on; a failed pass's row is drawn by the next tick
    };
    for (const Case& c : cases) {
        Scenario s(testing::network_file(), testing::sun_file(c.rows), testing::track_file(c.records));
        int reports = 0;
        const HeadlessResult result = run_headless(s.run.world, s.run.controls, s.run.trace, c.options,
                                                   HeadlessEvents{{}, [&](const PassError&) { ++reports; }});
        EXPECT_EQ(result.passes, c.passes) << c.rows;
        EXPECT_EQ(result.failures, c.failures) << c.rows;
        EXPECT_EQ(reports, c.failures);
        EXPECT_EQ(s.run.lines_of("error").size(), static_cast<std::size_t>(c.failures));
        EXPECT_EQ(s.run.lines_of("pass").front(), "pass\t1\tclick");
    }
}

}  // namespace
}  // namespace umbrascope

namespace umbrascope {
namespace {

// A pass's trace without its "pass N" line; with `from_fill`, only from its last fill on (the
// first pass reads and echoes the files before it draws).
std::vector<std::string> drawing(std::vector<std::string> lines, bool from_fill)
{
    std::erase_if(lines, [](const std::string& line) { return line.rfind("pass\t", 0) == 0; });
    if (from_fill) {
        const auto fill = std::find_if(lines.rbegin(), lines.rend(), [](const std::string& line) {
            return line.rfind("box\t", 0) == 0;
        });
        lines.erase(lines.begin(), fill.base() - 1);
    }
    return lines;
}

// The trace of each pass of a straight run.
std::vector<std::vector<std::string>> straight_run(const std::filesystem::path& folder, bool large)
{
    PassRun run(folder, large);
    std::vector<std::vector<std::string>> passes;
    do {
        run.clear_trace();
        if (run.pass())
            break;  // rows after a failed pass are drawn by later passes: only clean passes count
        passes.push_back(run.trace_lines());
    } while (run.controls.timer_enabled);
    return passes;
}

// A jump to any row draws it exactly as the straight run's pass of that row does: the same
// counter, the same drawing calls, the same timer, the same list boxes.
TEST(Driver, AJumpToAnyRowIsThatPassOfAStraightRun)
{
    struct Case {
        const char* name;
        std::filesystem::path folder;
        bool large;
    };
    const std::filesystem::path source = UMBRASCOPE_SOURCE_DIR;
    TempFolder unsorted;  // steps out of order: the held record decides where each pass starts
    unsorted.write(std::string(network_file_name), testing::network_file());
    unsorted.write(std::string(sun_table_file_name), testing::sun_file(6));
    unsorted.write(std::string(track_file_name), testing::track_file("1,0,0\n3,1,1\n2,2,2\n3,3,0\n5,0,1\n4,1,0\n6,2,1\n"));
    const Case cases[] = {
        {"the example", source / "examples/ieee13", false},
        {"a large grid", source / "tests/data/golden/large-grid", true},
        {"steps out of order", unsorted.path(), false},
    };
    for (const Case& c : cases) {
        const auto straight = straight_run(c.folder, c.large);
        ASSERT_GT(straight.size(), 2U) << c.name;
        PassRun run(c.folder, c.large);
        ASSERT_FALSE(run.pass()) << c.name;
        const auto lists = [&run] {
            return std::vector<std::vector<Text>>{run.list(ListBox::Coordinates_Listbox),
                                                 run.list(ListBox::Coordinates_Repeated_Listbox),
                                                 run.list(ListBox::Info_Listbox)};
        };
        const auto echoes = lists();
        const TrackIndex index(c.folder, run.st);
        const int last = static_cast<int>(straight.size());
        // Back and forth, the last row (which closes the track file) and past it again.
        for (const int row : {last, 1, 2, last / 2, last - 1, last, 3, last / 3, 1}) {
            ASSERT_TRUE(index.reaches(row)) << c.name << ", row " << row;
            run.clear_trace();
            ASSERT_FALSE(testing::attempt([&] { jump_to_row(run.world, index, row); })) << c.name << ", row " << row;
            std::vector<std::string> expected = drawing(straight[static_cast<std::size_t>(row - 1)], row == 1);
            const std::vector<std::string> jumped = drawing(run.trace_lines(), row == 1);
            EXPECT_EQ(jumped, expected) << c.name << ", row " << row;
            EXPECT_EQ(run.controls.pass_text, integer_text(Integer(static_cast<std::int16_t>(row)))) << c.name;
            EXPECT_EQ(lists(), echoes) << c.name << ": the list boxes changed";
        }
    }
    // Past a record whose step is not a number, rows are left to the straight run.
    PassRun bad(source / "tests/data/golden/bad-records-keep-going");
    ASSERT_FALSE(bad.pass());
    const TrackIndex index(source / "tests/data/golden/bad-records-keep-going", bad.st);
    EXPECT_TRUE(index.reaches(1));
}

// The first pass's warnings: what the files allow but most likely do not mean, each on one line.
TEST(Warnings, WhatAFirstPassReadThatIsLikelyNotMeant)
{
    struct Case {
        const char* name;
        std::string network;
        std::string sun;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"a network in metres", testing::network_file("bus_coordinates\n1,A,0,0\n2,B,300,100\nbus_connections\n1,2\n"),
         testing::sun_file(2), {}},
        {"no buses", testing::network_file("bus_coordinates\nbus_connections\n"), testing::sun_file(2),
         {"cloud_bus_coords_connections.txt holds no buses: there is no network to draw"}},
        {"a network drawn as a dot", testing::network_file(), testing::sun_file(2),
         {"cloud_bus_coords_connections.txt: the network is 3 units across, drawn at 75 % of the frame (half a unit is "
          "added on each side): give coordinates in metres or feet"}},
        {"rows short of values and a decimal comma",
         testing::network_file("bus_coordinates\n1,A,0,0\n2,B,300,100\nbus_connections\n1,2\n"),
         "h1\nh2\nh3\nh4\nh5\nh6\n0,1\n10,0,5,1\n20,1,1\n30,1\n",
         {"cloud_sun_intensity_table.txt line 7: 1 value for 2 buses; the missing ones count as 0 (1 more row like it, "
          "the last on line 10)",
          "cloud_sun_intensity_table.txt line 8: 3 values for 2 buses: a decimal comma? Numbers take the point (0.93); "
          "the values past the last bus are not drawn"}},
    };
    for (const Case& c : cases) {
        Scenario s(c.network, c.sun, testing::track_file());
        ASSERT_FALSE(s.run.pass()) << c.name;
        EXPECT_EQ(first_pass_warnings(s.run.st), c.warnings) << c.name;
    }
}

}  // namespace
}  // namespace umbrascope

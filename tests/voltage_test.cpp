// Buses by voltage: the ANSI C84.1 classes at and around every limit, the study's tables read for
// a run and checked against it, the rows where buses leave range A, and the colours a whole run's
// trace carries against the tables.

#include <gtest/gtest.h>

#include <set>

#include <filesystem>
#include <fstream>

#include "core/service_voltage.hpp"
#include "run/recolour.hpp"
#include "model/voltages.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(VoltageClasses, EveryLimitAndTheLargerDepartureDecide)
{
    using enum VoltageClass;
    struct Case {
        PerUnit lowest;
        PerUnit highest;
        VoltageClass expected;
        const char* why;
    };
    const Case cases[] = {
        {9500, 10500, range_a, "both on range A's limits"},
        {10000, 10000, range_a, "the middle"},
        {9499, 10500, low_in_b, "a ten-thousandth under range A"},
        {9167, 10000, low_in_b, "0.9167 is over 110/120"},
        {9166, 10000, below_b, "0.9166 is under 110/120"},
        {0, 10000, below_b, "a node left without voltage"},
        {9500, 10501, high_in_b, "a ten-thousandth over range A"},
        {9500, 10583, high_in_b, "1.0583 is under 127/120"},
        {9500, 10584, above_b, "1.0584 is over 127/120"},
        {9400, 10600, low_in_b, "a tie goes low"},
        {9401, 10600, above_b, "the larger departure is high, past range B"},
        {9460, 10550, high_in_b, "the larger departure is high, in range B"},
        {9450, 10550, low_in_b, "a tie in range B goes low"},
        {9000, 10600, below_b, "the larger departure is low, past range B"},
        {9499, 10584, above_b, "just out on both sides, further out high"},
        {no_voltage, no_voltage, none, "no voltage"},
        {no_voltage, 10000, none, "half a voltage is none"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classify(c.lowest, c.highest), c.expected) << c.why;
    // Six colours, all different, none of them a sunlight class's.
    for (int a = 0; a < voltage_classes; ++a) {
        for (int b = a + 1; b < voltage_classes; ++b)
            EXPECT_NE(class_colour(static_cast<VoltageClass>(a)), class_colour(static_cast<VoltageClass>(b)));
        for (const int sunlight : {1, 10, 12})
            EXPECT_NE(class_colour(static_cast<VoltageClass>(a)), palette(sunlight));
    }
}

// A table as umbrascope-study writes it, from a rule giving each row's and bus's voltage.
template <class Value>
std::string table_text(const std::vector<std::string>& names, int rows, Value value)
{
    std::string text = "Lowest\nMade\nBase\nOne row every 10 seconds\nColumns\ntime";
    for (const std::string& name : names)
        text += "," + name;
    text += "\n";
    for (int row = 1; row <= rows; ++row) {
        text += std::to_string((row - 1) * 10);
        for (int bus = 1; bus <= static_cast<int>(names.size()); ++bus) {
            const PerUnit v = value(row, bus);
            text += ",";
            if (v != no_voltage) {
                char cell[16];
                std::snprintf(cell, sizeof cell, "%d.%04d", v / 10000, v % 10000);
                text += cell;
            }
        }
        text += "\n";
    }
    return text;
}

std::vector<std::string> example_names()
{
    std::vector<std::string> names;
    std::ifstream in(fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13" / std::string(network_file_name));
    for (std::string line; std::getline(in, line);) {
        if (line.find("bus_connections") != std::string::npos)
            break;
        const std::size_t first = line.find(',');
        if (line.find("bus_coordinates") != std::string::npos || first == std::string::npos)
            continue;
        names.push_back(line.substr(first + 1, line.find(',', first + 1) - first - 1));
    }
    return names;
}

// The example's folder with voltage tables: every class turns up, bus 3 has none.
struct VoltageRun {
    explicit VoltageRun(int rows = 120)
    {
        for (const auto& entry : fs::directory_iterator(fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13"))
            fs::copy(entry.path(), folder.path() / entry.path().filename());
        names = example_names();
        folder.write(std::string(lowest_voltage_file_name), table_text(names, rows, lowest));
        folder.write(std::string(highest_voltage_file_name), table_text(names, rows, highest));
    }
    static PerUnit lowest(int row, int bus) { return bus == 3 ? no_voltage : 9000 + (row * 37 + bus * 113) % 1700; }
    static PerUnit highest(int row, int bus) { return bus == 3 ? no_voltage : lowest(row, bus) + (row + bus) % 5 * 40; }
    TempFolder folder;
    std::vector<std::string> names;
};

TEST(RunVoltages, ReadCheckedAgainstTheRunAndJumpedThrough)
{
    const VoltageRun made;
    testing::PassRun run(made.folder.path());
    ASSERT_FALSE(run.pass());
    const RunVoltages v = RunVoltages::read(made.folder.path());
    v.check(run.st);
    ASSERT_EQ(v.rows(), 120);
    ASSERT_EQ(v.buses(), 16);
    int outside_rows = 0;
    for (int row = 1; row <= 120; ++row) {
        int outside = 0;
        for (int bus = 1; bus <= 16; ++bus) {
            EXPECT_EQ(v.lowest(row, bus), VoltageRun::lowest(row, bus));
            EXPECT_EQ(v.highest(row, bus), VoltageRun::highest(row, bus));
            const VoltageClass c = v.class_of(row, bus);
            EXPECT_EQ(c, classify(VoltageRun::lowest(row, bus), VoltageRun::highest(row, bus)));
            EXPECT_EQ(*v.disc_colour(row, bus), class_colour(c));
            outside += c != VoltageClass::range_a && c != VoltageClass::none ? 1 : 0;
        }
        EXPECT_FLOAT_EQ(v.outside_shares()[static_cast<std::size_t>(row - 1)], static_cast<float>(outside) / 16.0F) << row;
        outside_rows += outside > 0 ? 1 : 0;
    }
    EXPECT_GT(outside_rows, 0);
    // Next and previous walk the first rows of the runs of rows with a bus outside range A.
    std::vector<int> starts;
    for (int row = 1; row <= 120; ++row)
        if (v.outside_shares()[static_cast<std::size_t>(row - 1)] > 0 &&
            (row == 1 || v.outside_shares()[static_cast<std::size_t>(row - 2)] == 0))
            starts.push_back(row);
    std::vector<int> visited;
    for (int row = v.next_outside(0); row > 0; row = v.next_outside(row)) {
        visited.push_back(row);
        EXPECT_EQ(v.previous_outside(v.next_outside(row) > 0 ? v.next_outside(row) : 121), row);
        EXPECT_EQ(v.previous_outside(row + 1), row) << "from inside a run, back to its first row";
    }
    EXPECT_EQ(visited, starts);
    EXPECT_LT(starts.size(), static_cast<std::size_t>(outside_rows)) << "runs of more than one row";
    EXPECT_EQ(v.lowest(0, 1), no_voltage);
    EXPECT_EQ(v.class_of(121, 1), VoltageClass::none);
    EXPECT_GE(v.worst_row(), 1);
}

// A bus outside range A in every row is the feeder's own: the jumps, the worst row and bus and the
// shares leave it out until it is asked for.
TEST(RunVoltages, ABusOutsideAllRunIsLeftOutUntilAskedFor)
{
    const VoltageRun made(6);
    const auto low = [](int row, int bus) -> PerUnit {
        if (bus == 3)
            return no_voltage;
        if (bus == 2)
            return 600;  // a dead phase, all run
        return bus == 5 && (row == 3 || row == 4) ? 9300 : 10000;
    };
    const auto high = [&](int row, int bus) -> PerUnit { return low(row, bus) == no_voltage ? no_voltage : low(row, bus) + 100; };
    made.folder.write(std::string(lowest_voltage_file_name), table_text(made.names, 6, low));
    made.folder.write(std::string(highest_voltage_file_name), table_text(made.names, 6, high));
    RunVoltages v = RunVoltages::read(made.folder.path());
    EXPECT_EQ(v.outside_all_run(), std::vector<int>{2});
    EXPECT_FALSE(v.own_outside_counted());
    EXPECT_EQ(v.excursions(), std::vector<int>{3});
    EXPECT_EQ(v.worst_row(), 3);
    EXPECT_EQ(v.worst_bus(3), 5);
    EXPECT_EQ(v.worst_bus(1), 0);
    EXPECT_FLOAT_EQ(v.outside_shares()[0], 0.0F);
    EXPECT_FLOAT_EQ(v.outside_shares()[2], 1.0F / 16);
    // The page's figures for either choice, asked without changing what is shown.
    const RunVoltages::Jumps counted = v.jumps(true), left_out = v.jumps(false);
    EXPECT_FALSE(v.own_outside_counted());
    EXPECT_EQ(left_out.excursions, std::vector<int>{3});
    EXPECT_EQ(left_out.worst_row, 3);
    EXPECT_EQ(left_out.worst_bus, (std::vector<int>{0, 0, 5, 5, 0, 0}));
    EXPECT_EQ(v.excursions(), std::vector<int>{3});
    testing::PassRun run(made.folder.path());
    ASSERT_FALSE(run.pass());
    const std::string said = "1 bus outside range A in every row, the feeder's own (" + made.names[1] + "): ";
    EXPECT_EQ(v.own_outside_note(run.st), said + "left out of W and the jumps");
    v.count_own_outside(true);
    EXPECT_EQ(v.own_outside_note(run.st), said + "counted");
    EXPECT_EQ(v.excursions(), std::vector<int>{1});
    EXPECT_EQ(v.worst_bus(3), 2) << "the dead phase departs furthest";
    EXPECT_FLOAT_EQ(v.outside_shares()[2], 2.0F / 16);
    EXPECT_EQ(counted.excursions, v.excursions());
    EXPECT_EQ(counted.worst_row, v.worst_row());
    for (int row = 1; row <= 6; ++row)
        EXPECT_EQ(counted.worst_bus[static_cast<std::size_t>(row - 1)], v.worst_bus(row)) << "row " << row;
    v.count_own_outside(false);
    EXPECT_EQ(v.excursions(), std::vector<int>{3});
}

TEST(RunVoltages, TablesOfAnotherSkyOrNetworkAreRefusedSayingWhy)
{
    struct Case {
        const char* name;
        int rows;
        std::vector<std::string> names;
        const char* message;
    };
    const std::vector<std::string> right = example_names();
    std::vector<std::string> renamed = right;
    renamed[4] = "633";
    std::vector<std::string> short_of_one(right.begin(), right.end() - 1);
    const Case cases[] = {
        {"another sky", 60, right, "has 60 rows where the sun table has 120: the tables were made for another sky; make"},
        {"another network's names", 120, renamed, "bus 5 is '633' where the network file names it"},
        {"a bus fewer", 120, short_of_one, "has 15 buses where the network has 16"},
    };
    for (const Case& c : cases) {
        VoltageRun made;
        made.folder.write(std::string(lowest_voltage_file_name), table_text(c.names, c.rows, VoltageRun::lowest));
        made.folder.write(std::string(highest_voltage_file_name), table_text(c.names, c.rows, VoltageRun::highest));
        testing::PassRun run(made.folder.path());
        ASSERT_FALSE(run.pass());
        try {
            RunVoltages::read(made.folder.path()).check(run.st);
            ADD_FAILURE() << c.name << ": not refused";
        } catch (const VoltageError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.name << ": " << error.what();
        }
    }
    // Tables naming the sky they were made for, where the sun table was made again since.
    {
        VoltageRun made;
        for (const std::string_view name : {lowest_voltage_file_name, highest_voltage_file_name}) {
            std::string text = testing::read_file(made.folder.path() / std::string(name));
            text.replace(text.find("Made"), 4, "Made for the sky fingerprint 0123456789abcdef");
            made.folder.write(std::string(name), text);
        }
        try {
            (void)RunVoltages::read(made.folder.path());
            ADD_FAILURE() << "tables of another sky were read";
        } catch (const VoltageError& error) {
            EXPECT_NE(std::string(error.what()).find("was made for another sky than the sun table there now; make them again"),
                      std::string::npos)
                << error.what();
        }
    }
    // Tables that differ from each other, or hold text, cannot be read at all.
    VoltageRun made;
    made.folder.write(std::string(highest_voltage_file_name), table_text(made.names, 119, VoltageRun::highest));
    EXPECT_THROW((void)RunVoltages::read(made.folder.path()), VoltageError);
    made.folder.write(std::string(highest_voltage_file_name), "a\nb\nc\nd\ne\ntime,x\n0,high\n");
    EXPECT_THROW((void)RunVoltages::read(made.folder.path()), VoltageError);
}

// A whole run of the example through the recolouring surface: each pass's shaded discs carry the
// class colour of their bus in their row, and everything else is drawn as without it.
TEST(RunVoltages, EveryDiscOfAWholeRunCarriesItsClassColour)
{
    const VoltageRun made;
    const RunVoltages v = RunVoltages::read(made.folder.path());
    testing::PassRun plain(made.folder.path());
    (void)run_headless(plain.world, plain.controls, plain.trace, {}, {});
    testing::PassRun coloured(made.folder.path());
    RecolourSurface recolour(coloured.surface, coloured.state.get());
    recolour.set_colouring(&v);
    Pass world{coloured.st, coloured.input, coloured.controls, recolour};
    (void)run_headless(world, coloured.controls, coloured.trace, {}, {});

    const std::vector<std::string> before = plain.trace_lines();
    const std::vector<std::string> after = coloured.trace_lines();
    ASSERT_EQ(before.size(), after.size());
    // Only the discs' colours and order differ ("circle x y r #rrggbb"): everything else is drawn
    // in the same order, and each pass draws the same discs.
    const auto parts = [](const std::vector<std::string>& lines) {
        std::vector<std::string> others;
        std::vector<std::multiset<std::string>> discs;
        for (const std::string& line : lines) {
            if (line.rfind("pass\t", 0) == 0)
                discs.emplace_back();
            // circle, x, y, radius, colour: a disc is of radius 15 to 85 by tens, the marker 50.
            const std::size_t radius_at = line.find('\t', line.find('\t', 7) + 1) + 1;
            const bool disc = line.rfind("circle\t", 0) == 0 && line.compare(radius_at, 3, "50\t") != 0;
            if (disc && !discs.empty())
                discs.back().insert(line.substr(0, line.rfind('\t')));
            else
                others.push_back(line);
        }
        return std::pair{others, discs};
    };
    EXPECT_EQ(parts(after), parts(before));
    // In each pass the discs come eight a bus, radius 15 to 85: first those in range A (and
    // without a voltage) in bus order, then those outside it, above them, in bus order.
    std::vector<std::vector<int>> order(121);
    for (int row = 1; row <= 120; ++row) {
        for (const bool above : {false, true})
            for (int bus = 1; bus <= 16; ++bus)
                if (v.drawn_above(row, bus) == above)
                    order[static_cast<std::size_t>(row)].push_back(bus);
    }
    int pass = 0;
    int circle = 0;
    int checked = 0;
    for (const std::string& line : after) {
        if (line.rfind("pass\t", 0) == 0) {
            pass = std::stoi(line.substr(5));
            circle = 0;
            continue;
        }
        if (line.rfind("circle\t", 0) != 0)
            continue;
        const std::size_t r_at = line.find('\t', line.find('\t', 7) + 1) + 1;
        const int radius = std::stoi(line.substr(r_at));
        if (radius < 15 || radius > 85 || (radius - 15) % 10 != 0)
            continue;
        const int bus = order[static_cast<std::size_t>(pass)][static_cast<std::size_t>(circle / 8)];
        ++circle;
        const Colour c = class_colour(v.class_of(pass, bus));
        char hex[8];
        std::snprintf(hex, sizeof hex, "#%02x%02x%02x", c.r, c.g, c.b);
        EXPECT_EQ(line.substr(line.rfind('\t') + 1), hex) << "pass " << pass << ", bus " << bus;
        ++checked;
    }
    EXPECT_EQ(checked, 120 * 16 * 8);
}

}  // namespace
}  // namespace umbrascope

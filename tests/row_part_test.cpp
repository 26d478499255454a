// A part of a sky is its rows as a sky of their own: the same files cut to those rows, and the
// same pictures row for row as the whole run draws them.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "core/fingerprint.hpp"
#include "core/run_state.hpp"
#include "model/controls.hpp"
#include "model/row_part.hpp"
#include "model/sky_field.hpp"
#include "model/sky_header.hpp"
#include "model/voltages.hpp"
#include "run/export_run.hpp"
#include "scenario/command.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;

constexpr int sky_rows = 60;

std::vector<std::string> lines_of(const fs::path& path)
{
    std::vector<std::string> lines;
    const std::string text = testing::read_file(path);
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

// A measured sky of 60 rows over three buses, a track of clouds, and a study's voltages and
// controls made for it.
struct LongSky {
    LongSky()
    {
        folder.write(std::string(network_file_name),
                     "bus_coordinates\n1,Head,0,0\n2,Mid,400,150\n3,Tail,900,-100\nbus_connections\n1,2\n2,3\n");
        std::string sensor;
        for (int k = 0; k < sky_rows; ++k)
            sensor += std::to_string(0.2 + 0.8 * (k * 37 % 100) / 100.0) + "\n";
        folder.write("sensor.csv", sensor);
        std::vector<std::string> args{"umbrascope-clouds", "--units", "m", "--wind", "6,250", "--sensor-interval", "1",
                                      "--sensor-scale", "1.05", "--from-sensor", (folder.path() / "sensor.csv").string(),
                                      folder.path().string()};
        testing::Argv argv(args);
        CommandLine line("umbrascope-clouds", argv.count(), argv.data(), "");
        const scenario::CloudsOptions options = scenario::parse_clouds_options(line);
        (void)scenario::write_scenario(options, scenario::make_scenario(options));

        // A cloud now and then, two at once in step 33, over the measured sky's header.
        std::vector<std::string> track = lines_of(folder.path() / std::string(track_file_name));
        track.resize(4);
        std::string text;
        for (const std::string& l : track)
            text += l + "\n";
        for (int step = 1; step <= sky_rows; step += 4) {
            text += std::to_string(step) + "," + std::to_string(100 + step * 12) + "," + std::to_string(20 - step) + "\n";
            text += step == 33 ? "33,450,0\n" : "";
        }
        folder.write(std::string(track_file_name), text);

        const std::string sky = *file_fingerprint(folder.path() / std::string(sun_table_file_name));
        const auto table = [&](int shift) {
            std::string t = "Lowest\nMade by a test for the sky fingerprint " + sky + "\nBase\nOne row every 1 second\nColumns\n"
                            "time,Head,Mid,Tail\n";
            for (int row = 1; row <= sky_rows; ++row) {
                char cells[64];
                std::snprintf(cells, sizeof cells, "%d,1.%04d,0.%04d,", row - 1, shift + row * 7 % 300, 9300 + row * 13 % 600);
                t += cells;
                t += row % 9 == 0 ? "" : "0.9" + std::to_string(400 + row * 3 % 200);  // no voltage now and then
                t += "\n";
            }
            return t;
        };
        folder.write(std::string(lowest_voltage_file_name), table(0));
        folder.write(std::string(highest_voltage_file_name), table(200));
        std::string controls = "Regulators' taps\nMade by a test for the sky fingerprint " + sky +
                               "\nColumns\nOne row every 1 second\nkind,regcontrol,capcontrol\nname,R,C\n"
                               "element,Transformer.R,Capacitor.C\ndrawn_bus,Mid,Tail\nsky,sky,sky\nsettle,2,1\n";
        for (int row = 1; row <= sky_rows; ++row)
            controls += std::to_string(row - 1) + "," + std::to_string(2 + row / 7) + "," + std::to_string(row / 11 % 2) + "\n";
        folder.write(std::string(controls_table_name), controls);
    }
    testing::TempFolder folder;
};

ExportPlan frames_of(const fs::path& input, const fs::path& output, int first, int last, long offset)
{
    ExportPlan plan;
    plan.input = input;
    plan.folder = output;
    plan.png = true;
    plan.frame.by_voltage = true;
    plan.frame.show_controls = true;
    plan.frame.width = 320;
    plan.frame.height = 240;
    plan.first_row = first;
    plan.last_pass = last;
    plan.row_offset = offset;
    return plan;
}

TEST(RowPart, RowsOfASkyAreASkyOfTheirOwnDrawnAsTheWholeRunDrawsThem)
{
    const LongSky whole;
    const fs::path& from = whole.folder.path();
    fs::path made;
    {
        const RowPart part(from, 21, 40);
        made = part.path();
        const fs::path& to = part.path();
        ASSERT_EQ(part.rows(), sky_rows) << "the sky has a row a sample";

        // The sun table: its header, then the rows asked for, as they were.
        const std::vector<std::string> sun = lines_of(from / std::string(sun_table_file_name));
        const std::vector<std::string> cut = lines_of(to / std::string(sun_table_file_name));
        ASSERT_EQ(cut.size(), 6U + 20U);
        EXPECT_EQ(std::vector<std::string>(cut.begin(), cut.begin() + 6), std::vector<std::string>(sun.begin(), sun.begin() + 6));
        EXPECT_EQ(std::vector<std::string>(cut.begin() + 6, cut.end()), std::vector<std::string>(sun.begin() + 26, sun.begin() + 46));

        // The track: the records of steps 21 to 40, numbered from 1.
        const std::vector<std::string> track = lines_of(to / std::string(track_file_name));
        EXPECT_EQ(std::vector<std::string>(track.begin() + 4, track.end()),
                  (std::vector<std::string>{"1,352,-1", "5,400,-5", "9,448,-9", "13,496,-13", "13,450,0", "17,544,-17"}));

        // The study's tables of the part's rows, made for its sun table.
        const RunVoltages all = RunVoltages::read(from), some = RunVoltages::read(to);
        ASSERT_EQ(some.rows(), 20);
        for (int row = 1; row <= 20; ++row)
            for (int bus = 1; bus <= 3; ++bus) {
                EXPECT_EQ(some.lowest(row, bus), all.lowest(row + 20, bus)) << row << "," << bus;
                EXPECT_EQ(some.highest(row, bus), all.highest(row + 20, bus)) << row << "," << bus;
            }
        const std::optional<ControlsTable> states = ControlsTable::read(from), cut_states = ControlsTable::read(to);
        ASSERT_TRUE(states && cut_states);
        EXPECT_EQ(*cut_states->sky(), *file_fingerprint(to / std::string(sun_table_file_name)));
        for (std::size_t c = 0; c < 2; ++c)
            for (int row = 0; row <= 20; ++row)  // the settle: the state of the row before the part
                EXPECT_EQ(cut_states->controls()[c].state(row, false), states->controls()[c].state(row + 20, false))
                    << "control " << c << ", row " << row;

        // The measured sky's field gives each point of the map the same sky in the same row.
        const std::optional<SkyField> field = read_sky_field(from), cut_field = read_sky_field(to);
        ASSERT_TRUE(field && cut_field);
        for (int row = 1; row <= 20; ++row)
            for (const auto& [x, y] : {std::pair{0.0, 0.0}, {400.0, 150.0}, {730.0, -60.0}}) {
                EXPECT_DOUBLE_EQ(cut_field->index_at(x, y, row), field->index_at(x, y, row + 20)) << row;
                EXPECT_DOUBLE_EQ(cut_field->row_divisor(row), field->row_divisor(row + 20)) << row;
            }

        // A pass's message names the lines of the folder's own files.
        EXPECT_EQ(part.whole_lines("cloud_sun_intensity_table.txt line 8, field 2: \"x\" is not a number; "
                                   "cloud_sun_intensity_table.txt line 3; cloud_centers_plot.txt line 5; "
                                   "cloud_centers_plot.txt line 9, field 1"),
                  "cloud_sun_intensity_table.txt line 28, field 2: \"x\" is not a number; "
                  "cloud_sun_intensity_table.txt line 3; cloud_centers_plot.txt line 10; "
                  "cloud_centers_plot.txt line 14, field 1");

        const SkyHeader sky = read_sky_header(to);
        EXPECT_EQ(sky.row_offset, 20);
        EXPECT_EQ(sky.rows_total, sky_rows);
        EXPECT_EQ(sky.sky_row(1), 21);
        EXPECT_EQ(read_sky_header(from).rows_total, 0);

        // Frame for frame, the part's pictures are the whole run's of the same rows.
        const testing::TempFolder out;
        const ExportResult of_whole = export_run(frames_of(from, out.path() / "whole", 21, 40, 0), {});
        const ExportResult of_part = export_run(frames_of(to, out.path() / "part", 1, 20, 20), {});
        EXPECT_EQ(of_whole.frames_from, 21);
        EXPECT_EQ(of_part.frames_from, 21);
        EXPECT_EQ(of_part.frames_to, 40);
        for (int row = 21; row <= 40; ++row) {
            const std::string name = "frame-00" + std::to_string(row) + ".png";
            const std::string drawn = testing::read_file(out.path() / "part" / name);
            EXPECT_GT(drawn.size(), 100U) << name;
            EXPECT_EQ(drawn, testing::read_file(out.path() / "whole" / name)) << name;
        }
    }
    EXPECT_FALSE(fs::exists(made)) << "a part goes with the run that made it";
}

TEST(RowPart, RowsOutsideTheSkyOrPastARunAndFilesOfAnotherSkyAreRefused)
{
    const LongSky whole;
    const fs::path& from = whole.folder.path();
    struct Case {
        long first, last;
        const char* said;
    };
    for (const Case& c : {Case{0, 5, "rows 0 to 5 are not rows of the sun table"}, Case{50, 61, "which has 60"},
                          Case{10, 9, "rows 10 to 9 are not rows"}}) {
        try {
            const RowPart part(from, c.first, c.last);
            ADD_FAILURE() << c.first << ":" << c.last << " made a part";
        } catch (const PartError& error) {
            EXPECT_NE(std::string(error.what()).find(c.said), std::string::npos) << error.what();
        }
    }
    // A file that cannot be cut ends the part, leaving nothing behind in the temporary folder.
    {
        const testing::TempFolder temporary;
        const char* before = std::getenv("TMPDIR");
        const std::string kept = before != nullptr ? before : "";
        ::setenv("TMPDIR", temporary.path().c_str(), 1);
        const std::string field = testing::read_file(from / std::string(sky_field_name));
        // One left by a process that is gone goes with the next part made.
        fs::create_directory(temporary.path() / "umbrascope-rows-999999999-0");
        whole.folder.write(std::string(sky_field_name), "# not a field\nwind=\n");
        EXPECT_THROW(RowPart(from, 1, 10), PartError);
        whole.folder.write(std::string(sky_field_name), field);
        if (before != nullptr)
            ::setenv("TMPDIR", kept.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        EXPECT_TRUE(fs::is_empty(temporary.path())) << "a part that failed is removed";
    }
    // A table made for another sky stays so in the part, and is refused there as here.
    std::string lowest = testing::read_file(from / std::string(lowest_voltage_file_name));
    lowest.replace(lowest.find("fingerprint ") + 12, 16, "0123456789abcdef");
    whole.folder.write(std::string(lowest_voltage_file_name), lowest);
    const RowPart part(from, 1, 10);
    EXPECT_THROW((void)RunVoltages::read(part.path()), VoltageError);
    EXPECT_THROW((void)RunVoltages::read(from), VoltageError);
}

}  // namespace
}  // namespace umbrascope

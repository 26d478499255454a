// A study split in time: the slices planned, their record checked, and their exports stitched into
// the whole run's tables, on exports the engine made (tests/data/slices) and, where an engine runs,
// a day past 32,767 rows run whole and in slices.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <tuple>

#include "core/csv.hpp"
#include "output/output_file.hpp"
#include "study/hand_on.hpp"
#include "study/slices.hpp"
#include "study/study.hpp"
#include "test_support.hpp"

namespace umbrascope::study {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) { return testing::read_file(path); }

void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

TEST(Slices, EvenSlicesWithTheirOverlapsOrOneLine)
{
    struct Case {
        int rows, count, overlap;
        std::vector<Slice> expected;
    };
    const Case cases[] = {
        {10, 1, 3, {{1, 1, 1, 10}}},
        {10, 3, 2, {{1, 1, 1, 3}, {2, 2, 4, 6}, {3, 5, 7, 10}}},
        {43201, 12, 600, {}},  // checked by its properties below
        {7, 7, 0, {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}, {4, 4, 4, 4}, {5, 5, 5, 5}, {6, 6, 6, 6}, {7, 7, 7, 7}}},
        // An overlap as long as the shortest slice, which the slicing's reader takes.
        {9, 3, 3, {{1, 1, 1, 3}, {2, 1, 4, 6}, {3, 4, 7, 9}}},
        {43201, 12, 3600, {}},
    };
    for (const Case& c : cases) {
        const std::vector<Slice> slices = plan_slices(c.rows, c.count, c.overlap);
        ASSERT_EQ(slices.size(), static_cast<std::size_t>(c.count));
        if (!c.expected.empty())
            for (std::size_t k = 0; k < slices.size(); ++k) {
                EXPECT_EQ(slices[k].number, c.expected[k].number);
                EXPECT_EQ(slices[k].first, c.expected[k].first) << c.rows << " slice " << k + 1;
                EXPECT_EQ(slices[k].own, c.expected[k].own) << c.rows << " slice " << k + 1;
                EXPECT_EQ(slices[k].last, c.expected[k].last) << c.rows << " slice " << k + 1;
            }
        // Own rows follow on, none twice and none left out, and each slice but the first runs its
        // overlap before them.
        int next = 1;
        for (const Slice& slice : slices) {
            EXPECT_EQ(slice.own, next);
            EXPECT_EQ(slice.first, std::max(1, slice.own - c.overlap));
            EXPECT_LE(slice.last - slice.own, c.rows / c.count);
            next = slice.last + 1;
        }
        EXPECT_EQ(next, c.rows + 1);
    }
    const auto refused = [](int rows, int count, int overlap, const char* says) {
        try {
            (void)plan_slices(rows, count, overlap);
            ADD_FAILURE() << rows << "/" << count << "/" << overlap << " was taken";
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(error.what()).find(says), std::string::npos) << error.what();
        }
    };
    refused(10, 11, 0, "--slices 11: the study has 10 rows, so from 1 to 10 slices");
    refused(43201, 12, 3601, "an overlap of 3601 rows is longer than a slice: 12 slices of the study's 43201 rows are "
                             "3600 rows at the shortest");
    EXPECT_EQ(slice_name(3, 12), "slice03");
    EXPECT_EQ(slice_name(7, 150), "slice007");
}

// The record of the slicing: its slices' own rows follow on; one that overlaps, leaves rows out or
// mixes two studies is refused in one line. A record written before slices were handed on reads
// as slices that settle.
TEST(Slices, TheRecordIsWholeOrRefused)
{
    testing::TempFolder work;
    const std::string head = "slice,first_row,own_row,last_row,rows,overlap_s,run\n";
    const std::string good = head + "1,1,1,60,181,120,r\n2,49,61,120,181,120,r\n3,109,121,181,181,120,r\n";
    put(work.path() / "slices" / "slicing.csv", good);
    const std::optional<Slicing> read = read_slicing(work.path());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->slices.size(), 3U);
    EXPECT_EQ(read->overlap_s, 120);
    EXPECT_TRUE(read->slices[2].handed.empty());
    EXPECT_EQ(slicing_text(*read), "slice,first_row,own_row,last_row,rows,overlap_s,run,start\n"
                                   "1,1,1,60,181,120,r,settle\n2,49,61,120,181,120,r,settle\n"
                                   "3,109,121,181,181,120,r,settle\n");
    const std::string handed = "slice,first_row,own_row,last_row,rows,overlap_s,run,start\n"
                               "1,1,1,60,181,120,r,settle\n2,49,61,120,181,120,r,settle\n"
                               "3,109,121,181,181,120,r,handed 9d666877\n";
    put(work.path() / "slices" / "slicing.csv", handed);
    const std::optional<Slicing> again = read_slicing(work.path());
    ASSERT_TRUE(again);
    EXPECT_EQ(again->slices[2].handed, "9d666877");
    EXPECT_EQ(slice_export_name("r", again->slices[2]), "r_rows_109_121_181_v120_h9d666877.csv");
    EXPECT_EQ(slicing_text(*again), handed);
    // Handed on from the slice before's first own row, its overlap as long as that slice.
    put(work.path() / "slices" / "slicing.csv", head + "1,1,1,60,181,60,r,settle\n2,1,61,181,181,60,r,handed 2e\n");
    EXPECT_EQ(read_slicing(work.path())->slices[1].handed, "2e");
    struct Case {
        std::string text;
        const char* says;
    };
    const Case cases[] = {
        {head + "1,1,1,60,181,120,r\n2,49,55,120,181,120,r\n3,109,121,181,181,120,r\n", "slice 2's own rows overlap the slice before's"},
        {head + "1,1,1,60,181,120,r\n2,49,71,120,181,120,r\n3,109,121,181,181,120,r\n", "slice 2 leaves rows 61 to 70 out"},
        {head + "1,1,1,60,181,120,r\n2,49,61,120,181,120,r\n", "the slices end at row 120 of 181"},
        {head + "1,1,1,60,181,120,r\n2,49,61,120,181,120,q\n", "the slices are of two studies"},
        {head + "1,1,1,60,181,120,r\n3,49,61,181,181,120,r\n", "slice 3 is not the next"},
        {head + "1,1,1,60,181,x,r\n", "'x' is not an overlap in seconds"},
        // Handed on, a slice begins within the slice before's own rows, where the states come from.
        {head + "1,1,1,60,181,120,r,settle\n2,61,61,181,181,120,r,handed 1f\n", "slice 2 is handed on, so begins within"},
        {head + "1,1,1,60,181,120,r,settle\n2,49,61,120,181,120,r,settle\n3,55,121,181,181,120,r,handed 1f\n",
         "slice 3 is handed on, so begins within the slice before's own rows"},
        {head + "1,1,1,181,181,120,r,handed 1f\n", "slice 1 is handed on"},
        {head + "1,1,1,181,181,120,r,settled\n", "start (settle, or handed and the fingerprint"},
        {head + "1,1,1,181,181,120,r,handed ../x\n", "start (settle, or handed and the fingerprint"},
        {head, "no slice"},
    };
    for (const Case& c : cases) {
        put(work.path() / "slices" / "slicing.csv", c.text);
        try {
            (void)read_slicing(work.path());
            ADD_FAILURE() << c.says << ": taken";
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
        }
    }
    fs::remove(work.path() / "slices" / "slicing.csv");
    EXPECT_FALSE(read_slicing(work.path()));
}

std::vector<std::vector<std::string>> rows_of(const fs::path& table)
{
    std::vector<std::vector<std::string>> out;
    const std::vector<std::string> lines = testing::split_lines(slurp(table));
    for (std::size_t i = 6; i < lines.size(); ++i)
        out.push_back(*csv_fields(lines[i]));
    return out;
}

// A study of the engine's exports read whole (read --whole), then stitched from its slices.
struct ReadBoth {
    ReadResult whole, sliced;
    bool whole_wrote_report = false;  // the whole run's read wrote a slices_report.csv
    // The whole run's lowest and highest voltages and controls, then the stitched voltages.
    std::tuple<std::vector<std::vector<std::string>>, std::vector<std::vector<std::string>>,
               std::vector<std::vector<std::string>>, std::vector<std::vector<std::string>>,
               std::vector<std::vector<std::string>>>
        tables;
};

ReadBoth read_both(const fs::path& folder)
{
    ReadBoth out;
    ReadOptions options;
    options.folder = folder;
    options.whole = true;
    out.whole = read_study(options);
    auto& [whole_low, whole_high, whole_controls, low, high] = out.tables;
    whole_low = rows_of(folder / "cloud_voltage_min_table.txt");
    whole_high = rows_of(folder / "cloud_voltage_max_table.txt");
    whole_controls = rows_of(folder / "cloud_controls_table.txt");
    out.whole_wrote_report = fs::exists(folder / slices_report_name);
    options.whole = false;
    out.sliced = read_study(options);
    low = rows_of(folder / "cloud_voltage_min_table.txt");
    high = rows_of(folder / "cloud_voltage_max_table.txt");
    return out;
}

// "Reg1 4": a regulator's changes as the summary names them.
int changes_of(const std::string& summary, const std::string& regulator)
{
    const std::size_t at = summary.find(regulator + " ");
    return at == std::string::npos ? 0 : std::atoi(summary.c_str() + at + regulator.size() + 1);
}

// Exports the engine made, whole and in three slices of 60 rows after 12 of overlap: the third
// slice begins with two regulators a tap from the whole run's.
TEST(Slices, TheEnginesSlicesStitchIntoTheWholeRunsTables)
{
    testing::TempFolder work;
    const fs::path folder = work.path() / "feeder";
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/slices/ieee13", folder, fs::copy_options::recursive);
    const ReadBoth both = read_both(folder);
    const ReadResult& whole = both.whole;
    const ReadResult& sliced = both.sliced;
    const auto& [whole_low, whole_high, whole_controls, low, high] = both.tables;
    EXPECT_FALSE(both.whole_wrote_report);
    // Every line of IEEE 13 gives its units: nothing is said of lines that give none.
    for (const ReadResult* read : {&whole, &sliced})
        for (const std::string& warning : read->warnings)
            EXPECT_EQ(warning.find("units="), std::string::npos) << warning;
    ASSERT_EQ(low.size(), 181U);
    ASSERT_EQ(whole_low.size(), 181U);
    // The first slice's rows are the whole run's to the last digit, the second's within a digit;
    // the third's, a tap off, differ by about a step of the regulators (0.00625 pu) and no more.
    double largest = 0;
    for (std::size_t row = 0; row < 181; ++row) {
        EXPECT_EQ(low[row][0], whole_low[row][0]) << "the time of row " << row + 1;
        for (std::size_t bus = 1; bus < low[row].size(); ++bus) {
            const double a = std::stod(low[row][bus]) - std::stod(whole_low[row][bus]);
            const double b = std::stod(high[row][bus]) - std::stod(whole_high[row][bus]);
            if (row < 60) {
                EXPECT_EQ(low[row][bus], whole_low[row][bus]) << "row " << row + 1 << " column " << bus;
                EXPECT_EQ(high[row][bus], whole_high[row][bus]) << "row " << row + 1 << " column " << bus;
            } else if (row < 120) {
                // Settled afresh, the same taps: the engine's iterations end a digit apart at most.
                EXPECT_LE(std::fabs(a), 1.01e-4) << "row " << row + 1 << " column " << bus;
                EXPECT_LE(std::fabs(b), 1.01e-4) << "row " << row + 1 << " column " << bus;
            }
            largest = std::max({largest, std::fabs(a), std::fabs(b)});
        }
    }
    EXPECT_GT(largest, 0.003);
    EXPECT_LT(largest, 0.02);
    // The boundaries: the first clean, the second naming the regulators and their taps.
    EXPECT_EQ(slurp(folder / slices_report_name),
              "boundary_row,time,largest_difference_pu,bus,controls_differing,clear_controls_differing,"
              "overlap_followed,clear_overlap_followed\n"
              "60,10:09:50,0,SourceBus,,,yes,yes\n"
              "120,10:19:50,0.0067,680,Reg1 8 against 7; Reg2 6 against 5,,\"no, from row 109 (10:18:00, Reg1)\",yes\n");
    EXPECT_NE(sliced.summary.back().find("Stitched 3 slices of the run, 120 s of overlap before each: where an overlap "
                                         "ends, it differed from the slice before by at most 0.0067 pu (bus 680 at row "
                                         "120 (10:19:50)), and the controls differed at 1 of the 2 boundaries; "
                                         "slices_report.csv says at each;"),
              std::string::npos)
        << sliced.summary.back();
    EXPECT_NE(sliced.summary.back().find("the overlap of slice 3 did not follow the slice before's run. To begin slice 3 "
                                         "where the slice before's run had its controls: umbrascope-study write " +
                                         folder.string() + " --loadshapes /tmp/fix13/feeder/sun.dss "
                                         "--slices 3 --overlap 120 --hand-on"),
              std::string::npos)
        << sliced.summary.back();
    // The counts add up slice by slice: each regulator's changes within one a boundary of the
    // whole run's, the overlaps' own changes left out.
    std::string whole_line, sliced_line;
    for (const std::string& line : whole.summary)
        whole_line += line.rfind("Regulators:", 0) == 0 ? line : "";
    for (const std::string& line : sliced.summary)
        sliced_line += line.rfind("Regulators:", 0) == 0 ? line : "";
    ASSERT_FALSE(whole_line.empty());
    for (const char* regulator : {"Reg1", "Reg2", "Reg3"})
        EXPECT_LE(std::abs(changes_of(sliced_line, regulator) - changes_of(whole_line, regulator)), 2)
            << whole_line << "\n" << sliced_line;
    // The controls table: a row a sun-table row, the same where the taps agree.
    const auto controls = rows_of(folder / "cloud_controls_table.txt");
    ASSERT_EQ(controls.size(), whole_controls.size());
    for (std::size_t row = 0; row < 60 && row < controls.size(); ++row)
        EXPECT_EQ(controls[row], whole_controls[row]) << "row " << row + 1;
}

// The engine's third slice, a tap off where its overlap ends, written again to begin where the
// second slice left the regulators and run again by the engine (tests/data/slices/ieee13-handed):
// stitched, every row is the whole run's to the engine's last digit, and the tap changes add up to
// the whole run's. Handing on again hands it the same states; a slice not run is refused.
TEST(Slices, ASliceHandedOnFollowsTheWholeRun)
{
    testing::TempFolder work;
    const fs::path folder = work.path() / "feeder";
    const fs::path data = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/slices";
    fs::copy(data / "ieee13", folder, fs::copy_options::recursive);
    const Slicing settled = *read_slicing(folder);
    const std::vector<ControlWatch> watches = read_controls_map(folder / controls_map_name);
    const Sky sky = read_sky(folder);
    const std::string circuit = read_circuit_record(folder).circuit;
    const auto positions = [](const std::vector<HandedState>& states) {
        std::string text;
        for (const HandedState& state : states)
            text += state.name + " " + std::to_string(state.position) + ";";
        return text;
    };
    // Where each slice's overlap ended against where the slice before left the controls.
    std::vector<std::optional<Handed>> handed =
        hand_on(folder, settled.slices, settled.overlap_s, settled.run, circuit, watches, sky).handed;
    ASSERT_EQ(handed.size(), 3U);
    EXPECT_FALSE(handed[0]);
    EXPECT_FALSE(handed[1]);
    ASSERT_TRUE(handed[2]);
    EXPECT_EQ(handed[2]->from_slice, 2);
    EXPECT_EQ(positions(handed[2]->sky), "Reg1 7;Reg2 5;Reg3 8;");
    EXPECT_EQ(positions(handed[2]->clear), "Reg1 5;Reg2 4;Reg3 6;");

    fs::copy(data / "ieee13-handed" / "slices", folder / "slices",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    // The settled slice's export of its rows: the handed one's names the states it was handed.
    fs::remove(folder / "slices/cases/slice03/results" / (settled.run + "_rows_109_121_181_v120.csv"));
    ASSERT_TRUE(fs::exists(folder / "slices/cases/slice03/results" /
                           (settled.run + "_rows_109_121_181_v120_h" + read_slicing(folder)->slices[2].handed + ".csv")));
    const ReadBoth both = read_both(folder);
    const ReadResult& whole = both.whole;
    const ReadResult& sliced = both.sliced;
    const auto& [whole_low, whole_high, whole_controls, low, high] = both.tables;
    ASSERT_EQ(low.size(), whole_low.size());
    for (std::size_t row = 0; row < low.size(); ++row)
        for (std::size_t bus = 1; bus < low[row].size(); ++bus) {
            EXPECT_LE(std::fabs(std::stod(low[row][bus]) - std::stod(whole_low[row][bus])), 1.01e-4)
                << "row " << row + 1 << " column " << bus;
            EXPECT_LE(std::fabs(std::stod(high[row][bus]) - std::stod(whole_high[row][bus])), 1.01e-4)
                << "row " << row + 1 << " column " << bus;
        }
    EXPECT_EQ(slurp(folder / slices_report_name),
              "boundary_row,time,largest_difference_pu,bus,controls_differing,clear_controls_differing,"
              "overlap_followed,clear_overlap_followed\n"
              "60,10:09:50,0,SourceBus,,,yes,yes\n"
              "120,10:19:50,0.0001,675,,,yes,yes\n");
    EXPECT_NE(sliced.summary.back().find("Stitched 3 slices of the run, 120 s of overlap before each but slice 3, handed "
                                         "on: its overlap begins with the controls where the slice before's run had them"),
              std::string::npos)
        << sliced.summary.back();
    EXPECT_EQ(sliced.summary.back().find("--hand-on"), std::string::npos) << sliced.summary.back();
    std::string whole_line, sliced_line;
    for (const std::string& line : whole.summary)
        whole_line += line.rfind("Regulators:", 0) == 0 ? line : "";
    for (const std::string& line : sliced.summary)
        sliced_line += line.rfind("Regulators:", 0) == 0 ? line : "";
    for (const char* regulator : {"Reg1", "Reg2", "Reg3"})
        EXPECT_EQ(changes_of(sliced_line, regulator), changes_of(whole_line, regulator)) << whole_line << "\n" << sliced_line;

    // Handed on already, from where the slice before left it: the same states again.
    handed = hand_on(folder, settled.slices, settled.overlap_s, settled.run, circuit, watches, sky).handed;
    ASSERT_TRUE(handed[2]);
    EXPECT_FALSE(handed[1]);
    EXPECT_EQ(positions(handed[2]->sky), "Reg1 7;Reg2 5;Reg3 8;");

    fs::remove(slice_folder(folder, 2, 3) / "results" / (settled.run + "_end.csv"));
    try {
        (void)hand_on(folder, settled.slices, settled.overlap_s, settled.run, circuit, watches, sky);
        ADD_FAILURE() << "handed on from a slice that did not run whole";
    } catch (const StudyError& error) {
        EXPECT_NE(std::string(error.what()).find("slice 2 of 3 is not whole"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("then write the study again with --hand-on"), std::string::npos)
            << error.what();
    }
}

// A slice handed the very states the slice before's run had at its first row, whose overlap still
// does not follow that run (a control was part-way through its delay there), is handed on from
// another row, the quietest near its planned first; from none at all once its rows are tried, and
// read says why instead of offering a hand-on that would change nothing.
TEST(Slices, ASliceThatDoesNotFollowIsHandedFromAnotherRowThenSaidWhy)
{
    testing::TempFolder work;
    const fs::path folder = work.path() / "feeder";
    const fs::path data = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/slices";
    fs::copy(data / "ieee13", folder, fs::copy_options::recursive);
    fs::copy(data / "ieee13-handed" / "slices", folder / "slices",
             fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    const Slicing slicing = *read_slicing(folder);
    const std::vector<ControlWatch> watches = read_controls_map(folder / controls_map_name);
    const Sky sky = read_sky(folder);
    const std::string circuit = read_circuit_record(folder).circuit;
    const std::vector<Slice> planned = plan_slices(slicing.rows, 3, 12);
    const auto handing = [&] { return hand_on(folder, planned, slicing.overlap_s, slicing.run, circuit, watches, sky); };
    // Handed from row 109 and followed: it keeps its row and states.
    const HandOn followed_on = handing();
    ASSERT_TRUE(followed_on.handed[2]);
    EXPECT_EQ(followed_on.handed[2]->first, 109);
    EXPECT_TRUE(followed_on.handed[2]->tried.empty());
    const fs::path slice3 = slice_folder(folder, 3, 3);
    put(slice3 / handed_file_name, handed_text(*followed_on.handed[2]));
    // Its Reg1 a tap lower at row 117, late in its overlap, than slice 2's run had it there.
    const fs::path tap = slice3 / "results" / ("IEEE13Nodeckt_Mon_" + slicing.run + "_tap1_1.csv");
    std::string text = slurp(tap);
    const std::size_t at = text.find("0, 1170.00000, 1.04375");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 22, "0, 1170.00000, 1.03750");
    put(tap, text);
    const HandOn again = handing();
    ASSERT_TRUE(again.handed[2]);
    EXPECT_EQ(again.handed[2]->tried, std::vector<int>{109});
    EXPECT_EQ(again.handed[2]->first, 114) << "of rows 103 to 114, the farthest from slice 2's one change, at 97";
    EXPECT_TRUE(again.unfollowed.empty());
    // Read says the overlap did not follow, and offers the hand-on that writes slice 3 anew.
    ReadOptions options;
    options.folder = folder;
    const ReadResult offered = read_study(options);
    EXPECT_NE(offered.summary.back().find("the overlap of slice 3 did not follow the slice before's run. To begin slice "
                                          "3 where the slice before's run had its controls"),
              std::string::npos) << offered.summary.back();
    EXPECT_NE(slurp(folder / slices_report_name).find("\"no, from row 117 (10:19:20, Reg1)\""), std::string::npos);
    // Every row it may begin at tried: no hand-on is offered; read says why.
    Handed tried = *followed_on.handed[2];
    tried.tried = {104, 111, 113};
    put(slice3 / handed_file_name, handed_text(tried));
    const HandOn spent = handing();
    EXPECT_EQ(spent.unfollowed, std::vector<int>{3});
    const ReadResult why = read_study(options);
    const std::string& line = why.summary.back();
    EXPECT_EQ(line.find("--hand-on"), std::string::npos) << line;
    EXPECT_NE(line.find("Slice 3 was handed on from 10:17:10, 10:18:20, 10:18:40 and 10:18:00 and followed slice 2's run "
                        "from none: at each, a regulator or capacitor there was part-way through its time delay"),
              std::string::npos) << line;
}

// Where a slice's overlap parts from the slice before's run, row by row: the first and last rows
// that differ and the control first elsewhere; it follows where they came together with half the
// overlap to spare.
TEST(Slices, AnOverlapFollowsRowByRowOrSaysWhereItParted)
{
    // The slice before's own rows from row 10; the slice's overlap from row 12 to its own at 20.
    ControlsRun before;
    before.controls.push_back({"regcontrol", "R", "Transformer.R", "", 5, {5, 5, 6, 6, 6, 7, 7, 7, 7, 7}, std::nullopt, {}});
    before.steps.emplace_back();
    before.controls.push_back({"capcontrol", "C", "Capacitor.C", "", 1, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, std::nullopt, {}});
    before.steps.push_back({"10", "10", "10", "10", "10", "10", "10", "10", "01", "01"});
    struct Case {
        const char* what;
        std::vector<int> regulator;
        std::vector<std::string> steps;
        std::optional<std::pair<int, int>> difference;
        std::string control;
        bool follows;
    };
    const Case cases[] = {
        {"the same in every row", {6, 6, 6, 7, 7, 7, 7, 7}, {"10", "10", "10", "10", "10", "10", "01", "01"}, std::nullopt, "", true},
        {"a tap late early on", {6, 6, 6, 6, 7, 7, 7, 7}, {"10", "10", "10", "10", "10", "10", "01", "01"}, std::pair{15, 15}, "R",
         true},
        {"a tap off at the end", {6, 6, 6, 7, 7, 7, 7, 8}, {"10", "10", "10", "10", "10", "10", "01", "01"}, std::pair{19, 19}, "R",
         false},
        {"the capacitor's other step in", {6, 6, 6, 7, 7, 7, 7, 7}, {"10", "10", "10", "10", "10", "10", "10", "01"},
         std::pair{18, 18}, "C", false},
        {"from the first row to the last", {5, 6, 6, 7, 7, 7, 7, 8}, {"10", "10", "10", "10", "10", "10", "01", "01"},
         std::pair{12, 19}, "R", false},
    };
    for (const Case& c : cases) {
        ControlsRun mine;
        mine.controls = before.controls;
        mine.overlap = {c.regulator, std::vector<int>(8, 1)};
        mine.overlap_steps = {{}, c.steps};
        const std::optional<OverlapDifference> difference = overlap_difference(before, 10, mine, 12);
        ASSERT_EQ(difference.has_value(), c.difference.has_value()) << c.what;
        if (difference) {
            EXPECT_EQ(difference->first, c.difference->first) << c.what;
            EXPECT_EQ(difference->last, c.difference->second) << c.what;
            EXPECT_EQ(difference->control, c.control) << c.what;
        }
        EXPECT_EQ(followed(difference, 12, 20), c.follows) << c.what;
    }
}

// A slice's counts are of its own rows: its least and most leave out the overlap's last row, which
// is the slice before's; stitched, the seconds a regulator spends at its limit add up over the slices.
TEST(Slices, ASlicesCountsAreOfItsOwnRowsAndAddUp)
{
    testing::TempFolder work;
    const fs::path folder = work.path() / "feeder";
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/slices/ieee13", folder, fs::copy_options::recursive);
    const Slicing slicing = *read_slicing(folder);
    const std::vector<ControlWatch> watches = read_controls_map(folder / controls_map_name);
    const Slice& third = slicing.slices[2];
    // Reg1 16 taps up in row 120, the overlap's last, its own rows at 8.
    const fs::path results = slice_folder(folder, 3, 3) / "results";
    const fs::path tap = results / ("IEEE13Nodeckt_Mon_" + slicing.run + "_tap1_1.csv");
    std::string text = slurp(tap);
    const std::size_t at = text.find("0, 1200.00000, 1.05\n");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 19, "0, 1200.00000, 1.1");
    put(tap, text);
    Sky part = read_sky(folder);
    part.rows = third.last - third.first + 1;
    part.first_row = third.first;
    const ControlsRead read = read_controls(ResultsFolder(results, read_circuit_record(folder).circuit), slicing.run,
                                            watches, part, third.own - third.first);
    ASSERT_EQ(read.sky.controls[0].name, "Reg1");
    EXPECT_EQ(read.sky.before_own[0], 16);
    EXPECT_EQ(read.sky.counts[0].max, 8) << "the overlap's last row is the slice before's";
    EXPECT_EQ(read.sky.counts[0].min, 8);

    // Two slices, a regulator at its limit for 3 and 4 of their rows: 7 stitched.
    Slicing two;
    two.rows = 7;
    two.slices = {{1, 1, 1, 3}, {2, 1, 4, 7}};
    const auto part_of = [](int rows, int at_limit) {
        ControlsRead one;
        one.sky.controls.push_back({"regcontrol", "R", "Transformer.R", "", 16, std::vector<int>(static_cast<std::size_t>(rows), 16),
                                    std::nullopt, {}});
        ControlCounts counts;
        counts.min = counts.max = 16;
        counts.rows_at_limit = at_limit;
        one.sky.counts.push_back(counts);
        one.sky.before_own.push_back(16);
        one.sky.steps.emplace_back();
        one.sky.overlap.push_back(std::vector<int>(3, 16));
        return one;
    };
    Stitch stitch(two, 1);
    std::vector<Boundary> boundaries;
    stitch.add_controls(two.slices[0], part_of(3, 3), boundaries);
    stitch.add_controls(two.slices[1], part_of(4, 4), boundaries);
    EXPECT_EQ(stitch.controls().sky.counts[0].rows_at_limit, 7);
    ASSERT_EQ(boundaries.size(), 1U);
    EXPECT_FALSE(boundaries[0].difference) << "the overlap followed row by row";
}

// The distances the import measured along the lines, where it measured them: a bus it gives none
// is reached along the drawn connections, and named; a row of a bus not drawn is passed over.
TEST(Slices, DistancesAreTheImportsWhereItMeasuredThem)
{
    testing::TempFolder work;
    const fs::path folder = work.path() / "feeder";
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/slices/ieee13", folder, fs::copy_options::recursive);
    std::string distances = slurp(folder / "feeder_distances.csv");
    const std::size_t at = distances.find("\n650,0,");
    ASSERT_NE(at, std::string::npos);
    distances.replace(at, 7, "\n650,,");
    put(folder / "feeder_distances.csv", distances + "NotDrawn,2.5,\n");
    ReadOptions options;
    options.folder = folder;
    options.whole = true;
    const ReadResult read = read_study(options);
    const std::string report = slurp(folder / "voltage_report.csv");
    EXPECT_NE(report.find("\n650,0.0152,"), std::string::npos) << "650 along the drawn connections from its neighbour";
    EXPECT_NE(report.find("\nRG60,0,"), std::string::npos) << report.substr(0, 400);
    EXPECT_TRUE(std::any_of(read.warnings.begin(), read.warnings.end(), [](const std::string& warning) {
        return warning.find("1 bus is joined by no line of the circuit") != std::string::npos &&
               warning.find(": 650") != std::string::npos;
    }));
}

// The sweep's worker's check of a slice it ran: the exports of another circuit in its results are
// named, with what to run, and nothing of a folder given with --results, as the worker gives none.
TEST(Slices, TheWorkersCheckOfASliceNamesAnotherCircuitsExports)
{
    testing::TempFolder work;
    const fs::path folder = work.path() / "feeder";
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/slices/ieee13", folder, fs::copy_options::recursive);
    const fs::path slice = slice_folder(folder, 2, 3);
    ReadOptions options;
    options.folder = folder;
    options.case_folder = slice;
    const ReadResult checked = read_study(options);
    ASSERT_FALSE(checked.summary.empty());
    EXPECT_NE(checked.summary[0].find("Slice 2 of 3: rows 49 to 120 exported whole"), std::string::npos);
    for (const fs::directory_entry& entry : fs::directory_iterator(slice / "results")) {
        const std::string name = entry.path().filename().string();
        // Another circuit's, of another run.
        const std::string own = "IEEE13Nodeckt_Mon_study_f3465a7d_91cb5f0c_";
        if (name.rfind(own, 0) == 0)
            fs::rename(entry.path(), slice / "results" / ("Other_Mon_study_0000aaaa_11112222_" + name.substr(own.size())));
        else
            fs::remove(entry.path());
    }
    try {
        (void)read_study(options);
        ADD_FAILURE() << "another circuit's exports were taken";
    } catch (const StudyError& error) {
        const std::string said = error.what();
        EXPECT_NE(said.find("holds the exports of another circuit (other), not of IEEE13Nodeckt"), std::string::npos)
            << said;
        EXPECT_EQ(said.find("--results"), std::string::npos) << said;
    }
}

// A slice not run whole, run for another slicing, or missing: one line naming it and the command
// that runs it, and the tables of the read before stay as they were.
TEST(Slices, ASliceMissingOrOfAnotherSlicingIsRefused)
{
    testing::TempFolder work;
    const fs::path folder = work.path() / "feeder";
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/slices/ieee13", folder, fs::copy_options::recursive);
    ReadOptions options;
    options.folder = folder;
    (void)read_study(options);
    const std::string before = slurp(folder / "cloud_voltage_min_table.txt");
    const std::string run = read_slicing(folder)->run;
    const fs::path second = slice_folder(folder, 2, 3) / "results";
    struct Case {
        const char* what;
        std::function<void()> spoil;
        std::function<void()> mend;
        std::string says;
    };
    const fs::path marker = second / (run + "_end.csv");
    const fs::path rows = second / (run + "_rows_49_61_120_v60.csv");
    const std::string marker_text = slurp(marker);
    const Case cases[] = {
        {"cut short", [&] { fs::remove(marker); }, [&] { put(marker, marker_text); },
         "slice 2 of 3 is not whole: " + second.string() + " holds some of the exports"},
        {"another slicing", [&] { fs::rename(rows, second / (run + "_rows_41_61_120_v60.csv")); },
         [&] { fs::rename(second / (run + "_rows_41_61_120_v60.csv"), rows); },
         "slice 2 of 3 (" + second.string() + ") holds the exports of another slicing of the study, not of its rows 49 to 120"},
        // A slice run by a script that recorded the voltages of all its overlap.
        {"every overlap row recorded", [&] { fs::rename(rows, second / (run + "_rows_49_61_120.csv")); },
         [&] { fs::rename(second / (run + "_rows_49_61_120.csv"), rows); },
         "slice 2 of 3 (" + second.string() + ") holds the exports of another slicing of the study, not of its rows 49 to 120"},
        {"never run", [&] { fs::rename(second, work.path() / "kept"); }, [&] { fs::rename(work.path() / "kept", second); },
         "slice 2 of 3 has no results (" + second.string() + "): run the slices, umbrascope-study sweep run " + folder.string()},
    };
    for (const Case& c : cases) {
        c.spoil();
        try {
            (void)read_study(options);
            ADD_FAILURE() << c.what << ": read";
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << c.what << ": " << error.what();
        }
        EXPECT_EQ(slurp(folder / "cloud_voltage_min_table.txt"), before) << c.what;
        c.mend();
    }
    (void)read_study(options);
}

bool engine_runs(const fs::path& engine)
{
    return fs::exists(engine) &&
           std::system(("\"" + engine.string() + "\" -c \"new circuit.probe\" -c solve > /dev/null 2>&1").c_str()) == 0;
}

std::string skipped(const fs::path& engine)
{
    return "skipped: no OpenDSS engine runs at " + engine.string() +
           " (set UMBRASCOPE_OPENDSS to one; it needs libklu1 and libmetis5)";
}

// The IEEE 13-node feeder with a PV system of 1,500 kVA at each of `buses` (ckt/Study.dss),
// imported into a scenario folder beside it (feeder), and the programs run there.
struct EngineWork {
    testing::TempFolder work;
    fs::path circuit = work.path() / "ckt";
    fs::path folder = work.path() / "feeder";
    std::string study = std::string("\"") + UMBRASCOPE_STUDY + "\" ";

    explicit EngineWork(std::initializer_list<const char*> buses)
    {
        fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee13", circuit);
        fs::create_symlink("IEEELineCodes.DSS", circuit / "IEEELineCodes.dss");
        std::string text = "Redirect IEEE13Nodeckt.dss\n";
        for (const char* bus : buses)
            text += std::string("New PVSystem.pv") + bus + " phases=3 bus1=" + bus +
                    " kV=4.16 kVA=1500 Pmpp=1500 irradiance=1\n";
        put(circuit / "Study.dss", text);
        run(std::string("\"") + UMBRASCOPE_IMPORT + "\" \"" + (circuit / "Study.dss").string() + "\" \"" +
            folder.string() + "\"");
    }

    // Runs a command line, which must succeed, and gives what it printed.
    std::string run(const std::string& command) const
    {
        const fs::path out = work.path() / "out.txt";
        const std::string line = command + " > \"" + out.string() + "\" 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << command << "\n" << slurp(out);
        return slurp(out);
    }
};

// A writing of slices that fails leaves no folder of it behind: where the study had no slices,
// none; where it had, those it made for more slices go, and the earlier ones stay as they were.
TEST(Slices, AWriteThatFailsLeavesNoSliceFolders)
{
    testing::TempFolder work;
    const fs::path regulated = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/study/regulated";
    const fs::path folder = work.path() / "scenario";
    fs::copy(regulated / "scenario", folder, fs::copy_options::recursive);
    std::string record = slurp(folder / "feeder_circuit.txt");
    const std::size_t entry = record.find("entry=");
    record.replace(entry, record.find('\n', entry) - entry, "entry=" + (regulated / "circuit/Feeder.dss").string());
    put(folder / "feeder_circuit.txt", record);
    WriteOptions options{folder, folder / "sun.dss"};
    options.slices = 2;
    options.overlap = 1;
    // A file where the second slice's folder goes: the writing fails there.
    put(folder / "slices/cases/slice02", "in the way");
    EXPECT_THROW((void)write_study(options), umbrascope::WriteError);
    EXPECT_FALSE(fs::exists(folder / "slices/cases/slice01"));
    EXPECT_TRUE(fs::exists(folder / "slices/cases/slice02"));
    fs::remove_all(folder / "slices");
    (void)write_study(options);
    const std::string first = slurp(folder / "slices/cases/slice01/study.dss");
    options.slices = 3;
    put(folder / "slices/cases/slice02/results/study.dss", "in the way");
    fs::remove(folder / "slices/cases/slice02/study.dss");
    fs::create_directories(folder / "slices/cases/slice02/study.dss");
    EXPECT_THROW((void)write_study(options), umbrascope::WriteError);
    EXPECT_FALSE(fs::exists(folder / "slices/cases/slice03"));
    EXPECT_EQ(slurp(folder / "slices/cases/slice01/study.dss"), first);
    EXPECT_NE(slurp(folder / "slices/slicing.csv").find("\n2,"), std::string::npos);
    EXPECT_EQ(slurp(folder / "slices/slicing.csv").find("\n3,"), std::string::npos);
}

// Where an engine runs: the half hour of tests/data/slices/ieee13 from the circuit, written in
// slices, run, handed on where an overlap ended a tap off, the handed slice alone run again, and
// stitched into the whole run's tables.
TEST(Slices, HandedOnInTheEngine)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!engine_runs(engine))
        GTEST_SKIP() << skipped(engine);
    const EngineWork work({"671", "675", "680", "633"});
    const fs::path& folder = work.folder;
    const auto run = [&](const std::string& command) { return work.run(command); };
    const std::string& study = work.study;
    run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind 2,270 --from-sensor \"" + UMBRASCOPE_SOURCE_DIR +
        "/tests/data/sky/one-day-1s-site1.csv\" --sensor-interval 1 --sensor-scale 500 --sensor-window 36000,37800 "
        "--interval 10 --start 00:00:00 --loadshapes \"" + (folder / "sun.dss").string() + "\" \"" + folder.string() + "\"");
    const std::string write = study + "write \"" + folder.string() + "\" --loadshapes \"" + (folder / "sun.dss").string() +
                              "\" --slices 3 --overlap 120";
    EXPECT_EQ(run(write).find("handed on"), std::string::npos);
    run("\"" + engine.string() + "\" \"" + (folder / "study.dss").string() + "\"");
    run(study + "read --whole \"" + folder.string() + "\"");
    const auto whole_low = rows_of(folder / "cloud_voltage_min_table.txt");
    const std::string pool = study + "sweep run \"" + folder.string() + "\" --jobs 2 --engine '\"" + engine.string() + "\" {script}'";
    run(pool);
    const std::string settled = run(study + "read \"" + folder.string() + "\"");
    ASSERT_NE(settled.find("the controls differed at 1 of the 2 boundaries"), std::string::npos) << settled;
    ASSERT_NE(settled.find("--hand-on"), std::string::npos) << settled;
    const std::string handed = run(write + " --hand-on");
    EXPECT_NE(handed.find("Handed on to slice 3: it begins its overlap with the regulators and capacitors where the "
                          "slice before's run had them"),
              std::string::npos)
        << handed;
    EXPECT_EQ(handed.find("as written before"), std::string::npos) << handed;
    EXPECT_NE(run(pool).find("Ran 1 slice in"), std::string::npos);
    const std::string stitched = run(study + "read \"" + folder.string() + "\"");
    EXPECT_NE(stitched.find("and every regulator's tap and capacitor's steps were the same"), std::string::npos) << stitched;
    const auto low = rows_of(folder / "cloud_voltage_min_table.txt");
    ASSERT_EQ(low.size(), whole_low.size());
    for (std::size_t row = 0; row < low.size(); ++row)
        for (std::size_t bus = 1; bus < low[row].size(); ++bus)
            EXPECT_LE(std::fabs(std::stod(low[row][bus]) - std::stod(whole_low[row][bus])), 1.01e-4)
                << "row " << row + 1 << " column " << bus;
    // Nothing more to hand on: the slices keep their runs.
    EXPECT_NE(run(write + " --hand-on").find("Handed on: slice 3 as before, from the same states; the slices keep their runs"),
              std::string::npos);
    EXPECT_NE(run(pool).find("Ran 0 slices"), std::string::npos);
    // Written again as it was, without --hand-on: slice 3 stays handed on, and nothing runs again.
    const fs::path third = folder / "slices/cases/slice03";
    const std::string script = slurp(third / "study.dss");
    const std::string again = run(write);
    EXPECT_NE(again.find("Slice 3 stays handed on, as written before"), std::string::npos) << again;
    EXPECT_EQ(again.find("warning"), std::string::npos) << again;
    EXPECT_EQ(slurp(third / "study.dss"), script);
    EXPECT_NE(run(pool).find("Ran 0 slices"), std::string::npos);
    // The states handed not as the slicing records them: it settles again, and says so.
    std::string states = slurp(third / "handed.csv");
    const std::string reg1 = "sky,regcontrol,Reg1,Transformer.Reg1,";
    const std::size_t tap = states.find(reg1);
    ASSERT_NE(tap, std::string::npos) << states;
    states.insert(tap + reg1.size(), "1");
    put(third / "handed.csv", states);
    const std::string lost = run(write);
    EXPECT_NE(lost.find("warning: slice 3 was handed on, but the handed.csv beside its script is missing or not what "
                        "slicing.csv records: it settles again and runs anew"),
              std::string::npos)
        << lost;
    EXPECT_EQ(slurp(third / "study.dss").find("Handed on"), std::string::npos);
    EXPECT_EQ(read_slicing(folder)->slices[2].handed, "");
    EXPECT_FALSE(fs::exists(third / "handed.csv"));
    // Handed on again, then written with another overlap: another slicing, in which every slice
    // settles from its own first row.
    run(pool);
    ASSERT_NE(run(write + " --hand-on").find("Handed on to slice 3"), std::string::npos);
    run(pool);
    const std::string other = run(study + "write \"" + folder.string() + "\" --loadshapes \"" +
                                  (folder / "sun.dss").string() + "\" --slices 3 --overlap 60");
    EXPECT_EQ(other.find("handed on"), std::string::npos) << other;
    EXPECT_EQ(slurp(third / "study.dss").find("Handed on"), std::string::npos);
    EXPECT_EQ(read_slicing(folder)->slices[2].handed, "");
    EXPECT_EQ(read_slicing(folder)->slices[2].first, 115);
}

// Where an engine runs: a day's stretch past 32,767 rows, through the sky, the study written
// whole and in slices, the slices run by the sweep's local pool, read whole and stitched.
TEST(Slices, RowsPast32767EndToEndInTheEngine)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!engine_runs(engine))
        GTEST_SKIP() << skipped(engine);
    const EngineWork work({"671", "680"});
    const fs::path& folder = work.folder;
    const auto run = [&](const std::string& command) { return work.run(command); };
    const std::string& study = work.study;
    // 33,000 rows of a second: 02:46:40 to 11:56:39 of the measured day, under the sun's course.
    run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind 2,270 --from-sensor \"" + UMBRASCOPE_SOURCE_DIR +
        "/tests/data/sky/one-day-1s-site1.csv\" --sensor-interval 1 --sensor-scale 500 --sensor-window 10000,42999 "
        "--start 00:00:00 --site 35.96,-83.92 --date 2026-06-21 --utc-offset -04:00 --loadshapes \"" +
        (folder / "sun.dss").string() + "\" \"" + folder.string() + "\"");
    ASSERT_EQ(testing::split_lines(slurp(folder / "cloud_clear_sky.csv")).size(), 33001U);
    run(study + "write \"" + folder.string() + "\" --loadshapes \"" + (folder / "sun.dss").string() +
        "\" --slices 3 --overlap 300");
    run("\"" + engine.string() + "\" \"" + (folder / "study.dss").string() + "\"");
    const std::string whole = run(study + "read --whole \"" + folder.string() + "\"");
    ASSERT_NE(whole.find("over 33000 rows of 1 s"), std::string::npos) << whole;
    const auto whole_low = rows_of(folder / "cloud_voltage_min_table.txt");
    run(study + "sweep run \"" + folder.string() + "\" --jobs 2 --engine '\"" + engine.string() + "\" {script}'");
    const std::string sliced = run(study + "read \"" + folder.string() + "\"");
    ASSERT_NE(sliced.find("Stitched 3 slices of the run, 300 s of overlap before each"), std::string::npos) << sliced;
    const auto low = rows_of(folder / "cloud_voltage_min_table.txt");
    ASSERT_EQ(low.size(), 33000U);
    ASSERT_EQ(whole_low.size(), 33000U);
    EXPECT_EQ(low.back()[0], "32999");  // seconds from the first row, as the sun table has them
    std::size_t cells = 0, near = 0;
    double largest = 0;
    for (std::size_t row = 0; row < low.size(); ++row)
        for (std::size_t bus = 1; bus < low[row].size(); ++bus) {
            const double d = std::fabs(std::stod(low[row][bus]) - std::stod(whole_low[row][bus]));
            largest = std::max(largest, d);
            near += d <= 2e-4 ? 1 : 0;
            ++cells;
        }
    EXPECT_GE(static_cast<double>(near), 0.99 * static_cast<double>(cells)) << "largest difference " << largest;
    for (const char* regulator : {"Reg1", "Reg2", "Reg3"})
        EXPECT_LE(std::abs(changes_of(sliced, regulator) - changes_of(whole, regulator)), 2) << whole << "\n" << sliced;
}

}  // namespace
}  // namespace umbrascope::study

// Each line's and transformer's loading: against the engine's own capacity export at every row of
// a run it made, the seconds over and the moving average that follow from it, the ratings the
// circuit gives told from the engine's defaults, and bad exports refused.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>

#include "core/lines.hpp"
#include "core/words.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "study/exports.hpp"
#include "study/loading.hpp"
#include "test_support.hpp"

namespace umbrascope::study {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

const fs::path fixture = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/study/loading_ieee13_pv";
constexpr int rows = 60;
constexpr double interval = 5;

struct EngineRow {
    double imax = 0, normal_pct = 0, emergency_pct = 0;
};

// engine_capacity.csv: (row, lower-case element) -> the engine's figures.
std::map<std::pair<int, std::string>, EngineRow> engine_capacity()
{
    std::map<std::pair<int, std::string>, EngineRow> out;
    each_line(testing::read_file(fixture / "engine_capacity.csv"), [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        const std::vector<std::string> f = *csv_fields(line);
        out[{std::stoi(f[0]), lower(f[1])}] = {std::stod(f[2]), std::stod(f[3]), std::stod(f[4])};
    });
    return out;
}

TEST(Loading, EveryRowIsTheEnginesOwnCapacityExport)
{
    const std::vector<Branch> branches = read_branches_map(fixture / "study_branches.csv");
    ASSERT_EQ(branches.size(), 17U);
    const ResultsFolder results(fixture / "results", "IEEE13Nodeckt");
    const auto ratings = read_property_dump(*results.named(lower(property_dump_name("IEEE13Nodeckt"))));
    const auto engine = engine_capacity();
    int compared = 0, shared = 0;
    for (const Branch& branch : branches) {
        const Rating& rating = ratings.at(lower(branch.element));
        const std::vector<double> amps =
            branch_amps(*results.monitor(branch.monitor), branch.element, rating.phases, rows, interval, 1);
        ASSERT_EQ(amps.size(), static_cast<std::size_t>(rows));
        for (int row = 1; row <= rows; ++row) {
            const EngineRow& e = engine.at({row, lower(branch.element)});
            const double a = amps[static_cast<std::size_t>(row - 1)];
            // The engine rounds its per cents to two decimals; a line watched at its second terminal
            // carries its charging current less there, here below 0.01 % of its rating.
            const double slack = 0.0051 + (branch.terminal == 2 ? 0.01 : 0);
            EXPECT_NEAR(100 * a / rating.normal_a, e.normal_pct, slack) << branch.element << " row " << row;
            EXPECT_NEAR(100 * a / rating.emergency_a, e.emergency_pct, slack) << branch.element << " row " << row;
            if (branch.terminal == 1) {
                EXPECT_NEAR(a, e.imax, 1e-4 * e.imax + 1e-3) << branch.element << " row " << row;
            }
            shared += branch.terminal == 2 ? 1 : 0;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 17 * rows);
    EXPECT_EQ(shared, 11 * rows) << "each line but the first is watched where it feeds its bus";
}

// The report's figures follow from the engine's row by row: the highest per cent and its row, the
// seconds over each rating, and the highest moving average, short and over the whole run.
TEST(Loading, ReportFiguresFollowFromTheEnginesRows)
{
    const std::vector<Branch> branches = read_branches_map(fixture / "study_branches.csv");
    const ResultsFolder results(fixture / "results", "IEEE13Nodeckt");
    const auto engine = engine_capacity();
    for (const double window_s : {60.0, 900.0}) {
        const std::vector<Loading> loading = read_loading(results, "IEEE13Nodeckt", branches, rows, interval, 1, window_s);
        ASSERT_EQ(loading.size(), branches.size()) << "the twin's monitors are left out of the fixture's map";
        const int window = std::min(rows, static_cast<int>(window_s / interval));
        bool any_over = false;
        for (const Loading& l : loading) {
            std::vector<double> pct;
            double s_over = 0, s_emergency = 0;
            for (int row = 1; row <= rows; ++row) {
                const EngineRow& e = engine.at({row, lower(l.branch->element)});
                pct.push_back(e.normal_pct);
                s_over += e.normal_pct > 100 ? interval : 0;
                s_emergency += e.emergency_pct > 100 ? interval : 0;
            }
            const auto highest = std::max_element(pct.begin(), pct.end());
            EXPECT_NEAR(l.max_pct, *highest, 0.016) << l.branch->element;
            EXPECT_NEAR(pct[static_cast<std::size_t>(l.max_row - 1)], *highest, 0.021) << l.branch->element;
            // A row within the engine's rounding of a limit may count either way: one row.
            EXPECT_NEAR(l.s_over_normal, s_over, interval) << l.branch->element;
            EXPECT_NEAR(l.s_over_emergency, s_emergency, interval) << l.branch->element;
            double best = -1;
            for (int end = window; end <= rows; ++end) {
                double sum = 0;
                for (int row = end - window; row < end; ++row)
                    sum += pct[static_cast<std::size_t>(row)];
                best = std::max(best, sum / window);
            }
            EXPECT_NEAR(l.window_pct, best, 0.016) << l.branch->element << " over " << window_s << " s";
            EXPECT_GE(l.window_end_row, window);
            any_over = any_over || l.s_over_normal > 0;
        }
        EXPECT_TRUE(any_over) << "the fixture's PV loads an element beyond its rating";
    }
    // In the report, a line the circuit gives no amps is rated by the engine's default; a
    // transformer by its kVA.
    const std::vector<Loading> loading = read_loading(results, "IEEE13Nodeckt", branches, rows, interval, 1, 900);
    const std::string report = loading_report_text(loading, Sky{rows, interval});
    EXPECT_NE(report.find("\nsky,Line.650632,line,rg60,632,400,600,engine default,"), std::string::npos) << report;
    EXPECT_NE(report.find("\nsky,Transformer.XFM1,transformer,633,634,"), std::string::npos);
    EXPECT_EQ(report.find("Transformer.XFM1,transformer,633,634,76.332,104.09,engine default"), std::string::npos);
    const std::vector<std::string> summary = loading_summary(loading, Sky{rows, interval}, 900);
    ASSERT_EQ(summary.size(), 2U);
    EXPECT_NE(summary[1].find("12 of the 17 lines and transformers carry the engine's default rating"), std::string::npos)
        << summary[1];
}

TEST(Loading, TheCircuitsOwnRatingsAreToldFromTheEnginesDefaults)
{
    TempFolder folder;
    import::MemoryFiles files;
    files.add("m.dss", "New Circuit.c bus1=a\n"
                          "New LineCode.rated nphases=3 normamps=300\n"
                          "New LineCode.bare nphases=3\n"
                          "New WireData.acsr normamps=530\n"
                          "New LineGeometry.pole nconds=1 nphases=1 cond=1 wire=acsr x=0 h=30\n"
                          "New XfmrCode.pad phases=1 windings=2 kvas=[50 50]\n"
                          "New Line.own bus1=a bus2=b normamps=250\n"
                          "New Line.by_code bus1=b bus2=c linecode=rated\n"
                          "New Line.bare bus1=c bus2=d linecode=bare\n"
                          "New Line.by_geometry bus1=d bus2=e geometry=pole\n"
                          "New Line.like bus1=e bus2=f like=by_code\n"
                          "New Line.nothing bus1=f bus2=g\n"
                          "New Transformer.given phases=3 windings=2 buses=[g h] kvs=[12.47 0.48] kva=500\n"
                          "New Transformer.coded buses=[h i] xfmrcode=pad\n"
                          "New Transformer.default phases=3 windings=2 buses=[i j] kvs=[12.47 0.48]\n");
    const import::Circuit circuit = import::read_circuit("m.dss", files);
    const std::vector<Branch> branches = plan_branches(circuit, "study_x_", true);
    std::map<std::string, bool> rated;
    for (const Branch& branch : branches)
        rated[branch.element] = branch.rated;
    const std::map<std::string, bool> expected{
        {"Line.own", true},        {"Line.by_code", true},         {"Line.bare", false},
        {"Line.by_geometry", true}, {"Line.like", true},            {"Line.nothing", false},
        {"Transformer.given", true}, {"Transformer.coded", true}, {"Transformer.default", false}};
    EXPECT_EQ(rated, expected);
    EXPECT_EQ(branches.front().monitor, "study_x_i1");
    EXPECT_EQ(branches.front().clear_monitor, "study_x_clear_i1");
    // The map reads back as written.
    folder.write("map.csv", branches_map_text(branches));
    const std::vector<Branch> back = read_branches_map(folder.path() / "map.csv");
    ASSERT_EQ(back.size(), branches.size());
    for (std::size_t k = 0; k < back.size(); ++k)
        EXPECT_EQ(std::tie(back[k].element, back[k].kind, back[k].bus1, back[k].bus2, back[k].monitor, back[k].rated),
                  std::tie(branches[k].element, branches[k].kind, branches[k].bus1, branches[k].bus2,
                           branches[k].monitor, branches[k].rated));
}

TEST(Loading, ExportsThatAreNotTheRunsAreRefusedNamingTheFile)
{
    TempFolder folder;
    const std::vector<Branch> branches = read_branches_map(fixture / "study_branches.csv");
    const fs::path results = folder.path() / "results";
    fs::copy(fixture / "results", results);
    const auto fails_with = [&](const std::string& expected, int rows_asked = rows) {
        try {
            (void)read_loading(ResultsFolder(results, "IEEE13Nodeckt"), "IEEE13Nodeckt", branches, rows_asked,
                               interval, 1, 900);
            ADD_FAILURE() << "accepted; expected " << expected;
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(error.what()).find(expected), std::string::npos) << error.what();
        }
    };
    fails_with("holds 60 rows, not the run's 61 from row 1", 61);
    // A monitor's export cut short by a run that stopped.
    const fs::path first = *ResultsFolder(results, "IEEE13Nodeckt").monitor(branches.front().monitor);
    std::string text = testing::read_file(first);
    std::ofstream(first, std::ios::binary) << text.substr(0, text.find('\n', text.size() / 2) + 1);
    fails_with(first.filename().string() + " holds ");
    std::ofstream(first, std::ios::binary) << text;
    // No dump, or one that is not the engine's.
    const fs::path dump = results / property_dump_name("IEEE13Nodeckt");
    fs::rename(dump, folder.path() / "dump.txt");
    fails_with("holds no IEEE13Nodeckt_PropertyDump.txt, which gives each line's and transformer's rating");
    std::ofstream(dump, std::ios::binary) << "hello\n";
    fails_with("is not the engine's property dump");
    std::ofstream(dump, std::ios::binary) << "New \"Line.other\"\n~ NormAmps=400\n";
    fails_with("gives no phases, NormAmps or EmergAmps of Transformer.Sub");
}

// A study split in time gives each element the loading its whole run gives: each slice's own rows,
// its overlap dropped, the moving average running on across the boundaries. The slices here are
// the fixture's run cut into three, each with ten rows of overlap, as their monitors record them:
// a bus's voltage monitor from the overlap's last row, the others from the slice's first.
TEST(Loading, SlicesStitchToTheWholeRunsLoading)
{
    TempFolder work;
    const std::vector<Branch> branches = read_branches_map(fixture / "study_branches.csv");
    const ResultsFolder whole(fixture / "results", "IEEE13Nodeckt");
    struct Cut {
        int first, own, last;
    };
    const Cut cuts[] = {{1, 1, 20}, {11, 21, 40}, {31, 41, 60}};
    for (const double window_s : {15.0, 100.0, 900.0}) {
        LoadingStitch stitch(branches, rows, interval, window_s);
        for (std::size_t k = 0; k < std::size(cuts); ++k) {
            const Cut& cut = cuts[k];
            const int recorded = cut.own - cut.first > 1 ? cut.own - 1 : cut.first;
            const fs::path at = work.path() / ("slice" + std::to_string(k + 1));
            fs::create_directories(at);
            fs::copy(fixture / "results" / property_dump_name("IEEE13Nodeckt"), at, fs::copy_options::overwrite_existing);
            for (const Branch& branch : branches) {
                const fs::path file = *whole.monitor(branch.monitor);
                const std::vector<std::string> lines = testing::split_lines(testing::read_file(file));
                const int from = branch.monitor.substr(branch.monitor.rfind('_') + 1).front() == 'v' ? recorded : cut.first;
                std::string cut_text = lines[0] + "\n";
                for (int row = from; row <= cut.last; ++row)
                    cut_text += lines[static_cast<std::size_t>(row)] + "\n";
                std::ofstream(at / file.filename(), std::ios::binary) << cut_text;
            }
            stitch.add(ResultsFolder(at, "IEEE13Nodeckt"), "IEEE13Nodeckt", cut.first, recorded, cut.own, cut.last, false);
        }
        const std::vector<Loading> stitched = stitch.finish();
        const std::vector<Loading> expected = read_loading(whole, "IEEE13Nodeckt", branches, rows, interval, 1, window_s);
        ASSERT_EQ(stitched.size(), expected.size());
        for (std::size_t k = 0; k < expected.size(); ++k) {
            const std::string what = expected[k].branch->element + " over " + std::to_string(window_s) + " s";
            EXPECT_EQ(stitched[k].branch, expected[k].branch) << what;
            EXPECT_DOUBLE_EQ(stitched[k].max_pct, expected[k].max_pct) << what;
            EXPECT_EQ(stitched[k].max_row, expected[k].max_row) << what;
            EXPECT_DOUBLE_EQ(stitched[k].s_over_normal, expected[k].s_over_normal) << what;
            EXPECT_DOUBLE_EQ(stitched[k].s_over_emergency, expected[k].s_over_emergency) << what;
            EXPECT_NEAR(stitched[k].window_pct, expected[k].window_pct, 1e-9) << what;
            EXPECT_EQ(stitched[k].window_end_row, expected[k].window_end_row) << what;
        }
    }
    // A slice whose export is cut short is named.
    LoadingStitch stitch(branches, rows, interval, 900);
    const fs::path first = work.path() / "slice1";
    const fs::path own = *ResultsFolder(first, "IEEE13Nodeckt").monitor(branches[1].monitor);
    const std::string text = testing::read_file(own);
    std::ofstream(own, std::ios::binary) << text.substr(0, text.find('\n', text.size() / 2) + 1);
    try {
        stitch.add(ResultsFolder(first, "IEEE13Nodeckt"), "IEEE13Nodeckt", 1, 1, 1, 20, false);
        ADD_FAILURE() << "a cut export was taken";
    } catch (const StudyError& error) {
        EXPECT_NE(std::string(error.what()).find(own.filename().string()), std::string::npos) << error.what();
    }
}

// A current at its rating exactly is not over it, as the engine's overload report has it; a whole
// run's read and the slices' stitching count alike.
TEST(Loading, AtTheRatingIsNotOverIt)
{
    TempFolder work;
    const fs::path results = work.path() / "results";
    fs::create_directories(results);
    std::ofstream(results / "c_PropertyDump.txt") << "New \"Line.l\"\n~ phases=1\n~ NormAmps=400\n~ EmergAmps=600\n";
    // Rows of 5 s: at normal, over it, at emergency, over it.
    std::ofstream(results / "c_Mon_study_aaaaaaaa_bbbbbbbb_i1_1.csv")
        << "hour, t(sec), |V|1 (volts), |V|2 (volts), |I|1 (amps), |I|2 (amps)\n"
           "0, 5, 2400, 0, 400, 400\n0, 10, 2400, 0, 400.001, 400.001\n0, 15, 2400, 0, 600, 600\n"
           "0, 20, 2400, 0, 600.001, 600.001\n";
    const std::vector<Branch> branches{{"Line.l", "line", "a", "b", "study_aaaaaaaa_bbbbbbbb_i1", "", true}};
    const std::vector<Loading> whole = read_loading(ResultsFolder(results, "c"), "c", branches, 4, 5, 1, 10);
    ASSERT_EQ(whole.size(), 1U);
    EXPECT_EQ(whole[0].s_over_normal, 15) << "400.001, 600 and 600.001 A";
    EXPECT_EQ(whole[0].s_over_emergency, 5) << "600.001 A";
    EXPECT_EQ(whole[0].max_row, 4);
    LoadingStitch stitch(branches, 4, 5, 10);
    stitch.add(ResultsFolder(results, "c"), "c", 1, 1, 1, 4, false);
    const std::vector<Loading> stitched = stitch.finish();
    ASSERT_EQ(stitched.size(), 1U);
    EXPECT_EQ(stitched[0].s_over_normal, 15);
    EXPECT_EQ(stitched[0].s_over_emergency, 5);
    EXPECT_NEAR(stitched[0].window_pct, whole[0].window_pct, 1e-12);
    EXPECT_EQ(stitched[0].window_end_row, 4);
}

}  // namespace
}  // namespace umbrascope::study

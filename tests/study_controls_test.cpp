// What the cloud costs the feeder's equipment, and results that belong to the run that made them:
// the counts read from a real engine's exports of a small regulated feeder, refusals of exports
// that are not the whole of this study's run, and the settle and the counts against the engine
// itself, one step at a time, where one runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <map>

#include <sys/wait.h>
#include <unistd.h>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "model/controls.hpp"
#include "output/output_file.hpp"
#include "study/controls.hpp"
#include "study/plan.hpp"
#include "study/study.hpp"
#include "test_support.hpp"

namespace umbrascope::study {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

const fs::path regulated = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/study/regulated";

std::string slurp(const fs::path& path) { return testing::read_file(path); }

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void put(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A copy of the regulated feeder's scenario, its study run by the engine.
fs::path scenario_copy(const TempFolder& work)
{
    const fs::path folder = work.path() / "scenario";
    fs::copy(regulated / "scenario", folder, fs::copy_options::recursive);
    // The circuit where this checkout has it.
    const fs::path record = folder / "feeder_circuit.txt";
    std::string text = slurp(record);
    const std::size_t entry = text.find("entry=");
    text.replace(entry, text.find('\n', entry) - entry, "entry=" + (regulated / "circuit/Feeder.dss").string());
    put(record, text);
    return folder;
}

using testing::csv_rows;

// The report's row of `sky` and `name`.
std::map<std::string, std::string> report_row(const std::vector<std::vector<std::string>>& report, const std::string& sky,
                                              const std::string& name)
{
    std::map<std::string, std::string> row;
    for (const std::vector<std::string>& fields : report)
        if (fields[0] == sky && fields[2] == name)
            for (std::size_t i = 0; i < fields.size(); ++i)
                row[report.front()[i]] = fields[i];
    return row;
}

// Every file of a folder and its bytes, to tell that a refused read changed none.
std::map<std::string, std::string> contents(const fs::path& folder)
{
    std::map<std::string, std::string> all;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            all[entry.path().lexically_relative(folder).string()] = slurp(entry.path());
    return all;
}

std::string run_of_folder(const fs::path& folder)
{
    const std::string script = slurp(folder / "study.dss");
    const std::size_t at = script.find("named study_");
    return script.substr(at + 6, 23);
}

// The counts as the engine gave them solved one step at a time (tests/data/study/NOTE.md).
TEST(StudyControls, CountsAreTheEnginesOwnUnderTheSkyAndItsTwin)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    const ReadResult read = read_study({folder, {}, {}, {}, {}});
    const auto report = csv_rows(slurp(folder / "controls_report.csv"));
    ASSERT_EQ(report.front(), (std::vector<std::string>{"sky", "kind", "name", "element", "winding", "start", "changes",
                                                         "steps_changed", "min", "max", "ramp_per_s", "ramp_row", "kwh",
                                                         "changes_per_hour", "reverse_s", "seconds_at_limit",
                                                         "ramp_pct_per_min", "curtailed_kwh", "curtailed_pct", "kvarh_absorbed",
                                                         "kvarh_supplied"}));
    struct Case {
        const char* sky;
        const char* name;
        std::map<std::string, std::string> expected;
    };
    const Case cases[] = {
        {"sky", "Vreg", {{"kind", "regcontrol"}, {"element", "Transformer.Reg"}, {"winding", "2"}, {"start", "5"},
                         {"changes", "14"}, {"steps_changed", "14"}, {"min", "5"}, {"max", "11"}, {"ramp_per_s", ""}}},
        {"sky", "CC1", {{"kind", "capcontrol"}, {"element", "Capacitor.C1"}, {"winding", ""}, {"start", "1"},
                        {"changes", "1"}, {"steps_changed", "1"}, {"min", "0"}, {"max", "1"}}},
        {"clear", "Vreg", {{"start", "4"}, {"changes", "0"}, {"steps_changed", "0"}, {"min", "4"}, {"max", "4"}}},
        {"clear", "CC1", {{"start", "1"}, {"changes", "0"}, {"min", "1"}, {"max", "1"}}},
        {"sky", "head_kw", {{"kind", "ramp"}, {"element", "Vsource.source"}, {"changes", ""}, {"ramp_row", "80"}}},
        {"sky", "head_kvar", {{"ramp_row", "100"}}},
        {"clear", "head_kw", {{"ramp_per_s", "0.000"}, {"ramp_row", "2"}}},
    };
    for (const Case& c : cases) {
        const std::map<std::string, std::string> row = report_row(report, c.sky, c.name);
        ASSERT_FALSE(row.empty()) << c.sky << " " << c.name;
        for (const auto& [column, value] : c.expected)
            EXPECT_EQ(row.at(column), value) << c.sky << " " << c.name << " " << column;
    }
    // Ramps within the monitors' six digits of the engine's, solved step by step.
    const auto near = [&](const char* sky, const char* name, const char* column, double engine) {
        const double value = std::stod(report_row(report, sky, name).at(column));
        EXPECT_NEAR(value, engine, 0.01 * std::fabs(engine) + 0.2) << sky << " " << name << " " << column;
    };
    near("sky", "head_kw", "start", 761.190);
    near("sky", "head_kw", "min", 647.880);
    near("sky", "head_kw", "max", 3932.400);
    near("sky", "head_kw", "ramp_per_s", 296.076);
    near("sky", "head_kvar", "ramp_per_s", 134.946);
    near("clear", "head_kw", "start", -171.147);
    // The energy: the clear sky's head holds its power, 120 rows of 5 s; the ramp of kvar has none.
    near("clear", "head_kw", "kwh", -171.147 * 120 * 5 / 3600);
    EXPECT_EQ(report_row(report, "sky", "head_kvar").at("kwh"), "");
    // 14 tap changes in 120 rows of 5 s, 10 minutes: 84 an hour; the capacitor's 1, 6.
    EXPECT_EQ(report_row(report, "sky", "Vreg").at("changes_per_hour"), "84.000");
    EXPECT_EQ(report_row(report, "sky", "CC1").at("changes_per_hour"), "6.000");
    EXPECT_EQ(report_row(report, "sky", "head_kw").at("changes_per_hour"), "");
    // The clear sky's head gives power back all run (-171 kW); under the sky it never does.
    EXPECT_EQ(report_row(report, "clear", "head_kw").at("reverse_s"), "600");
    EXPECT_EQ(report_row(report, "sky", "head_kw").at("reverse_s"), "0");
    EXPECT_EQ(report_row(report, "sky", "pv_kw").at("reverse_s"), "");
    // Its taps run from 5 to 11 of -16 to 16: never at an end; a capacitor has none.
    EXPECT_EQ(report_row(report, "sky", "Vreg").at("seconds_at_limit"), "0");
    EXPECT_EQ(report_row(report, "sky", "CC1").at("seconds_at_limit"), "");
    EXPECT_EQ(report.size(), 11U);  // the header, 5 rows under the sky and 5 under the clear sky
    // The regulator's side toward the source took power back all run under the clear sky (the
    // engine's -57 kW at its terminal 1), never under the cloud.
    EXPECT_EQ(report_row(report, "clear", "Vreg").at("reverse_s"), "600");
    EXPECT_EQ(report_row(report, "sky", "Vreg").at("reverse_s"), "0");
    EXPECT_EQ(report_row(report, "sky", "CC1").at("reverse_s"), "");

    // The table the window shows: the same taps row by row, the actions where the tap moved.
    const std::optional<ControlsTable> table = ControlsTable::read(folder);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->controls().size(), 2U);
    const ControlSeries& vreg = table->controls()[0];
    EXPECT_EQ(vreg.settle, 5);
    EXPECT_EQ(vreg.clear_settle, 4);
    EXPECT_EQ(vreg.drawn_bus, "RegOut");
    EXPECT_EQ(table->controls()[1].drawn_bus, "Far");
    int actions = 0;
    for (int row = 1; row <= table->rows(); ++row)
        actions += vreg.acts(row) ? 1 : 0;
    EXPECT_EQ(actions, 14);
    EXPECT_EQ(table->rows(), 120);
    EXPECT_EQ(table->next_action(0), table->action_rows().front());
    EXPECT_EQ(table->previous_action(table->action_rows().front()), 0);

    // Distances along the lines in km, as the import measured them: 3 km, then 4, then 2000 m.
    const auto report_of_buses = csv_rows(slurp(folder / "voltage_report.csv"));
    ASSERT_EQ(report_of_buses.size(), 6U);
    EXPECT_EQ(report_of_buses[0][1], "distance_km");
    std::map<std::string, std::string> km;
    for (const auto& row : report_of_buses)
        km[row[0]] = row[1];
    EXPECT_EQ(km, (std::map<std::string, std::string>{
                      {"bus", "distance_km"}, {"Head", "0"}, {"RegOut", "0"}, {"Mid", "3"}, {"Far", "7"}, {"End", "9"}}));

    const std::string said = read.summary.back();
    EXPECT_NE(said.find("Regulators: 14 tap changes in 14 steps under this sky, 0 under a clear sky (Vreg 14)"),
              std::string::npos) << said;
    EXPECT_NE(said.find("capacitors: 1 step switched in 1 row under this sky, 0 under a clear sky"), std::string::npos) << said;
    EXPECT_NE(said.find("the head's largest ramp 296.1 kW/s at row 80 (t = 395 s)"), std::string::npos) << said;
    EXPECT_NE(said.find("The cloud's own cost: 14 tap changes and 1 capacitor switching more"), std::string::npos) << said;
    EXPECT_EQ(said.find("flowed back"), std::string::npos) << "no power flowed back through Vreg under the sky: " << said;
}

// The PV's largest one-minute ramp in per cent of its Pmpp, against the engine's own PV monitors:
// 12 rows of 5 s apart, the two systems' kW summed (2,500 and 1,500 kW of Pmpp).
TEST(StudyControls, PvRampIsInPerCentOfPmppAMinute)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    const ReadResult read = read_study({folder, {}, {}, {}, {}});
    for (const std::string& warning : read.warnings)
        EXPECT_EQ(warning.find("Pmpp"), std::string::npos) << warning;

    const auto pv_kw = [&](const std::string& prefix) {
        std::vector<double> kw;
        for (const char* pv : {"pv1", "pv2"}) {
            const auto rows = csv_rows(slurp(folder / "results" / ("Reg_Feeder_Mon_" + prefix + pv + "_1.csv")));
            kw.resize(rows.size() - 1);
            for (std::size_t r = 1; r < rows.size(); ++r)
                for (const std::size_t p : {2U, 4U, 6U, 8U})
                    kw[r - 1] -= std::stod(rows[r][p]);
        }
        return kw;
    };
    const std::string run = run_of_folder(folder);
    const auto report = csv_rows(slurp(folder / "controls_report.csv"));
    for (const std::string sky : {"sky", "clear"}) {
        const std::vector<double> kw = pv_kw(run + (sky == "sky" ? "_" : "_clear_"));
        ASSERT_EQ(kw.size(), 120U);
        double largest = 0;
        for (std::size_t k = 12; k < kw.size(); ++k)
            if (std::fabs(kw[k] - kw[k - 12]) > std::fabs(largest))
                largest = kw[k] - kw[k - 12];
        const std::string value = report_row(report, sky, "pv_kw").at("ramp_pct_per_min");
        ASSERT_FALSE(value.empty()) << sky;
        EXPECT_NEAR(std::stod(value), largest / 4000 * 100, 0.002) << sky;
    }
    // The sky's cloud moves the PV; the clear sky holds it still.
    EXPECT_GT(std::fabs(std::stod(report_row(report, "sky", "pv_kw").at("ramp_pct_per_min"))), 1);
    EXPECT_EQ(report_row(report, "clear", "pv_kw").at("ramp_pct_per_min"), "0.000");
    // Every row has the header's fields.
    for (const auto& row : report)
        EXPECT_EQ(row.size(), controls_report_columns);

    // A map written before ratings were recorded: no ramp in per cent, and a warning says why.
    std::string old_map;
    each_line(slurp(folder / "study_controls.csv"), [&](std::string_view line, long) {
        std::string text(line);
        for (int field = 0; field < 2; ++field)
            text.erase(text.rfind(','));
        if (text.rfind("regflow", 0) != 0)
            old_map += text + "\n";
    });
    put(folder / "study_controls.csv", old_map);
    const ReadResult older = read_study({folder, {}, {}, {}, {}});
    EXPECT_EQ(report_row(csv_rows(slurp(folder / "controls_report.csv")), "sky", "pv_kw").at("ramp_pct_per_min"), "");
    EXPECT_EQ(std::count_if(older.warnings.begin(), older.warnings.end(),
                            [](const std::string& w) {
                                return w.rfind("the study was written before the PV systems' Pmpp was recorded", 0) == 0;
                            }),
              1);
    // A map that records no Pmpp for one: the circuit gave none, and the engine took its own.
    std::string unrated;
    each_line(slurp(folder / "study_controls.csv"), [&](std::string_view line, long number) {
        unrated += std::string(line) + (number == 1 ? ",pmpp_kw,reversible" : line.find("pv_end") != std::string_view::npos ? ",1500," : ",,") + "\n";
    });
    put(folder / "study_controls.csv", unrated);
    const ReadResult rated_once = read_study({folder, {}, {}, {}, {}});
    EXPECT_EQ(std::count(rated_once.warnings.begin(), rated_once.warnings.end(),
                         "PVSystem.pv_far gives no Pmpp, so the engine took its default, 500 kW: controls_report.csv "
                         "leaves ramp_pct_per_min blank"),
              1);
}

// Power back through a regulator is named in the summary, with whether its RegControl has reverse
// settings: the clear sky's flow, the engine's, given as the sky's.
// The report's figures from a run given whole: a regulator that jumps two taps in one row counts two
// changes an hour, not one step; a steady rise of 1 kW a row over 300 rows of 1 s, at 1,000 kW of
// Pmpp, is 6 % a minute, its window exactly a minute wide.
TEST(StudyControls, ReportFiguresOfARunGivenWhole)
{
    Sky sky;
    sky.rows = 3600;
    sky.interval = 1;
    ControlsRead read;
    read.sky.controls.push_back({"regcontrol", "Vreg", "Transformer.Vreg", "", 0, {}, std::nullopt, {}});
    ControlCounts counts;
    counts.changes = 4;         // two rows, two taps each
    counts.steps_changed = 2;
    read.sky.counts.push_back(counts);
    read.sky.steps.emplace_back();
    PowerSeries pv{"pv_kw", {}};
    for (int k = 0; k < 300; ++k)
        pv.values.push_back(100 + k);
    read.sky.powers.push_back(pv);
    std::vector<ControlWatch> watches(2);
    watches[0] = {"regcontrol", "Vreg", "Transformer.Vreg", 2, "m_tap1", "", "b", "", 0};
    watches[1] = {"pv", "pv1", "PVSystem.pv1", 1, "m_pv1", "", "b", "", 1000};
    const auto report = csv_rows(controls_report_text(read, watches, sky));
    EXPECT_EQ(report_row(report, "sky", "Vreg").at("changes_per_hour"), "4.000") << "changes, not the steps they took";
    EXPECT_EQ(report_row(report, "sky", "pv_kw").at("ramp_pct_per_min"), "6.000");
}

TEST(StudyControls, ReverseFlowThroughARegulatorIsNamed)
{
    for (const bool reversible : {false, true}) {
        TempFolder work;
        const fs::path folder = scenario_copy(work);
        const std::string run = run_of_folder(folder);
        const fs::path results = folder / "results";
        fs::copy_file(results / ("Reg_Feeder_Mon_" + run + "_clear_flow1_1.csv"),
                      results / ("Reg_Feeder_Mon_" + run + "_flow1_1.csv"), fs::copy_options::overwrite_existing);
        if (reversible) {
            const fs::path map = folder / "study_controls.csv";
            std::string text = slurp(map);
            const std::size_t flow = text.find("regflow,");
            text.insert(text.find('\n', flow), "yes");
            put(map, text);
        }
        const ReadResult read = read_study({folder, {}, {}, {}, {}});
        const std::string said = read.summary.back();
        EXPECT_NE(said.find(std::string("power flowed back toward the source through Vreg 600 s (") +
                            (reversible ? "reversible=yes)" : "reversible=no)")),
                  std::string::npos)
            << said;
        EXPECT_EQ(report_row(csv_rows(slurp(folder / "controls_report.csv")), "sky", "Vreg").at("reverse_s"), "600");
    }
}

// Exports as engines write them: CRLF, names in another letter case, no actor's number.
TEST(StudyControls, ExportsInAnyFormGiveTheSameCounts)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    (void)read_study({folder, {}, {}, {}, {}});
    const std::string expected = slurp(folder / "controls_report.csv");
    for (const fs::directory_entry& entry : fs::directory_iterator(folder / "results")) {
        std::string text = slurp(entry.path());
        std::string crlf;
        for (const char c : text)
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        fs::remove(entry.path());
        std::string name = entry.path().filename().string();
        if (name.find("_Mon_") != std::string::npos) {
            std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
            name = name.substr(0, name.size() - 6) + ".CSV";  // the actor's "_1" dropped
        }
        put(folder / "results" / name, crlf);
    }
    (void)read_study({folder, {}, {}, {}, {}});
    EXPECT_EQ(slurp(folder / "controls_report.csv"), expected);
}

// Only the whole run of the study.dss now in the folder is read; anything else is refused, saying
// whose exports are there and what to run, and the refusal changes no file.
TEST(StudyControls, ResultsOfAnotherRunAreRefusedAndNothingChanges)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path& results, const std::string& run)> change;
        const char* message;
    };
    const auto rename_run = [](const fs::path& results, const std::string& from, const std::string& to) {
        for (const fs::directory_entry& entry : fs::directory_iterator(results)) {
            std::string name = entry.path().filename().string();
            if (const std::size_t at = name.find(from); at != std::string::npos) {
                name.replace(at, from.size(), to);
                fs::rename(entry.path(), results / name);
            }
        }
    };
    const Case cases[] = {
        {"a run that stopped before its end",
         [](const fs::path& results, const std::string& run) { fs::remove(results / (run + "_end.csv")); },
         "but not its last, study_"},
        {"another study of the same sky (the same circuit, rows and sky)",
         [&](const fs::path& results, const std::string& run) { rename_run(results, run, run.substr(0, 15) + "00000000"); },
         "holds the exports of another study of this sky (study_"},
        {"a study of an earlier sky",
         [&](const fs::path& results, const std::string& run) { rename_run(results, run, "study_00000000_" + run.substr(15)); },
         "holds the exports of a study of an earlier sky"},
        {"another circuit's exports",
         [](const fs::path& results, const std::string&) {
             fs::remove_all(results);
             put(results / "Other_Mon_study_v1_1.csv", "hour, t(sec), V1\n");
         },
         "holds the exports of another circuit (other), not of Reg_Feeder"},
        {"another circuit's whole study of another sky, given by mistake",
         [&](const fs::path& results, const std::string& run) {
             rename_run(results, run, "study_00000000_" + run.substr(15));
             rename_run(results, "Reg_Feeder_Mon_", "Other_Mon_");
         },
         "holds the exports of another circuit (other), not of Reg_Feeder"},
        {"an earlier umbrascope-study's exports",
         [](const fs::path& results, const std::string&) {
             fs::remove_all(results);
             put(results / "Reg_Feeder_Mon_study_v1_1.csv", "hour, t(sec), V1\n");
         },
         "written by an earlier umbrascope-study"},
        {"no exports at all", [](const fs::path& results, const std::string&) { fs::remove_all(results); },
         "cannot read the results folder"},
        {"a tap monitor cut short",
         [](const fs::path& results, const std::string& run) {
             const fs::path file = results / ("Reg_Feeder_Mon_" + run + "_tap1_1.csv");
             std::string text = slurp(file);
             text.erase(text.rfind('\n', text.size() - 2) + 1);
             put(file, text);
         },
         "_tap1_1.csv holds 129 rows where the settle's 10 solves and 120 steps of the study make 130"},
        {"an empty voltage export",
         [](const fs::path& results, const std::string& run) {
             put(results / (run + "_voltages.csv"), "Bus, BasekV, Node1, Magnitude1, Angle1, pu1\n");
         },
         "holds no bus: the engine solved nothing"},
        {"a circuit without voltage bases",
         [](const fs::path& results, const std::string& run) {
             const fs::path file = results / (run + "_voltages.csv");
             put(file, replace_all(slurp(file), ", 12.47, ", ", 0, "));
         },
         "gives no bus a voltage base"},
        {"exports of another run of the tap's monitor",
         [](const fs::path& results, const std::string& run) {
             const fs::path file = results / ("Reg_Feeder_Mon_" + run + "_tap1_1.csv");
             // Every tap of 1.0... taken for 1.1.
             std::string text;
             std::istringstream lines(slurp(file));
             for (std::string line; std::getline(lines, line);) {
                 const std::size_t last = line.rfind(", ");
                 if (last != std::string::npos && line.compare(last + 2, 3, "1.0") == 0)
                     line = line.substr(0, last + 2) + "1.1";
                 text += line + "\n";
             }
             put(file, text);
         },
         "they are of different runs"},
    };
    for (const Case& c : cases) {
        TempFolder work;
        const fs::path folder = scenario_copy(work);
        c.change(folder / "results", run_of_folder(folder));
        const std::map<std::string, std::string> before = contents(folder);
        try {
            (void)read_study({folder, {}, {}, {}, {}});
            ADD_FAILURE() << c.name << ": not refused";
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.name << ": " << error.what();
        }
        EXPECT_EQ(contents(folder), before) << c.name << ": a refused read changed a file";
    }
}

// The line of a monitor export that holds series row `row` (from 1), after its header and the
// settle's solves, given new fields after its time.
void set_series_row(const fs::path& file, int row, const std::string& fields)
{
    std::vector<std::string> lines = testing::split_lines(slurp(file));
    std::string& line = lines.at(static_cast<std::size_t>(settle_solves + row));
    line = line.substr(0, line.find(',', line.find(',') + 1) + 1) + " " + fields;
    std::string text;
    for (const std::string& one : lines)
        text += one + "\n";
    put(file, text);
}

// What the first row of the series does counts, as the engine recorded it: a tap moved in row 1
// and back in row 2 is two changes, as is a capacitor step switched in and out; a row read late
// (the series' first taken for the settle's last) could not count them. A control's export with a
// row more than the settle and the steps make is refused, as one with a row less is.
TEST(StudyControls, TheSeriesFirstRowCountsAndExtraRowsAreRefused)
{
    const auto counts = [](const fs::path& folder, const char* name) {
        (void)read_study({folder, {}, {}, {}, {}});
        const auto report = csv_rows(slurp(folder / "controls_report.csv"));
        const std::map<std::string, std::string> row = report_row(report, "sky", name);
        return std::pair{std::stoi(row.at("changes")), std::stoi(row.at("steps_changed"))};
    };
    TempFolder plain;
    const fs::path base = scenario_copy(plain);
    const auto tap = counts(base, "Vreg");
    const auto cap = counts(base, "CC1");
    struct Case {
        const char* name;
        const char* monitor;
        const char* control;
        const char* row1;
        int more_changes;
    };
    // The settled tap is 1.03125 (a step of 0.00625) and the capacitor's steps 1 and 0.
    const Case cases[] = {
        {"a tap moved in row 1 and back", "tap1", "Vreg", "1.03750", 2},
        {"a capacitor step switched in row 1 and out", "cap1", "CC1", "1, 1", 2},
    };
    for (const Case& c : cases) {
        TempFolder work;
        const fs::path folder = scenario_copy(work);
        const std::string run = run_of_folder(folder);
        set_series_row(folder / "results" / ("Reg_Feeder_Mon_" + run + "_" + c.monitor + "_1.csv"), 1, c.row1);
        const auto before = std::string(c.control) == "Vreg" ? tap : cap;
        const auto after = counts(folder, c.control);
        EXPECT_EQ(after.first, before.first + c.more_changes) << c.name;
        EXPECT_EQ(after.second, before.second + 2) << c.name;
    }
    // The least and most are over the settled state too: a regulator that steps up in row 1 and
    // stays there has its settled tap for its least.
    {
        TempFolder work;
        const fs::path folder = scenario_copy(work);
        const fs::path file = folder / "results" / ("Reg_Feeder_Mon_" + run_of_folder(folder) + "_tap1_1.csv");
        for (int row = 1; row <= 120; ++row)
            set_series_row(file, row, "1.03750");
        (void)read_study({folder, {}, {}, {}, {}});
        const auto report = csv_rows(slurp(folder / "controls_report.csv"));
        const std::map<std::string, std::string> row = report_row(report, "sky", "Vreg");
        EXPECT_EQ(row.at("start"), "5");
        EXPECT_EQ(row.at("min"), "5");
        EXPECT_EQ(row.at("max"), "6");
        EXPECT_EQ(row.at("changes"), "1");
    }
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    const fs::path file = folder / "results" / ("Reg_Feeder_Mon_" + run_of_folder(folder) + "_tap1_1.csv");
    const std::string text = slurp(file);
    put(file, text + text.substr(text.rfind('\n', text.size() - 2) + 1));
    try {
        (void)read_study({folder, {}, {}, {}, {}});
        ADD_FAILURE() << "a tap export with a row too many was read";
    } catch (const StudyError& error) {
        EXPECT_NE(std::string(error.what()).find("_tap1_1.csv holds 131 rows where the settle's 10 solves and 120 steps of "
                                                 "the study make 130"),
                  std::string::npos) << error.what();
    }
}

int status_of(const std::string& command)
{
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int syncs = 0;
int counting_sync(int fd)
{
    ++syncs;
    return ::fsync(fd);
}

// A read or a write that fails exits with status 2 and writes nothing; what they write is synced
// before it takes its name.
TEST(StudyFiles, FailuresExitWithStatusTwoAndWhatIsWrittenIsSynced)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    const std::string study = "\"" + std::string(UMBRASCOPE_STUDY) + "\" ";
    const std::string quiet = " > /dev/null 2>&1";
    fs::rename(folder / "results" / (run_of_folder(folder) + "_end.csv"), work.path() / "end.csv");
    EXPECT_EQ(status_of(study + "read \"" + folder.string() + "\"" + quiet), 2);
    EXPECT_FALSE(fs::exists(folder / "controls_report.csv"));
    fs::rename(work.path() / "end.csv", folder / "results" / (run_of_folder(folder) + "_end.csv"));

    // study.dss cannot take its name where a folder has it.
    const std::string script = slurp(folder / "study.dss");
    fs::remove(folder / "study.dss");
    fs::create_directory(folder / "study.dss");
    put(work.path() / "sun.dss", slurp(folder / "sun.dss"));
    EXPECT_EQ(status_of(study + "write \"" + folder.string() + "\" --loadshapes \"" + (folder / "sun.dss").string() +
                        "\" > /dev/null 2> \"" + (work.path() / "err.txt").string() + "\""),
              2);
    EXPECT_NE(slurp(work.path() / "err.txt").find("study.dss"), std::string::npos) << slurp(work.path() / "err.txt");
    fs::remove(folder / "study.dss");
    put(folder / "study.dss", script);

    FileSystemCalls& calls = file_system_calls();
    const FileSystemCalls before = calls;
    calls.sync = counting_sync;
    syncs = 0;
    const ReadResult read = read_study({folder, {}, {}, {}, {}});
    calls = before;
    EXPECT_EQ(read.written.size(), 5U);
    EXPECT_GE(syncs, 5) << "each file written is synced before it takes its name";
}

// A circuit with no controls: the report holds its ramps and says there are none.
TEST(StudyControls, ACircuitWithoutControlsSaysSo)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    std::string map;
    each_line(slurp(folder / "study_controls.csv"), [&](std::string_view line, long) {
        if (line.find("control,") == std::string_view::npos)
            map += std::string(line) + "\n";
    });
    put(folder / "study_controls.csv", map);
    const ReadResult read = read_study({folder, {}, {}, {}, {}});
    EXPECT_EQ(read.summary.back().rfind("Regulators: none in the circuit; capacitors: none controlled; the head's", 0), 0U)
        << read.summary.back();
    for (const auto& row : csv_rows(slurp(folder / "controls_report.csv")))
        EXPECT_TRUE(row[1] == "ramp" || row[1] == "kind") << row[1];
    EXPECT_TRUE(ControlsTable::read(folder)->controls().empty());
}

// A small circuit, a regulator from s to r and a line on to a, with the lines `more`; its monitors,
// its controls' watches and the facts of a study of `rows` rows of 1 s.
struct SmallStudy {
    import::Circuit circuit;
    Plan plan;
    std::vector<ControlWatch> watches;
    ScriptFacts facts;

    SmallStudy(const std::string& more, int rows)
    {
        import::MemoryFiles files;
        files.add("m.dss", "New Circuit.c bus1=s\nNew Transformer.t buses=[s r]\nNew RegControl.rc transformer=t "
                           "winding=2\nNew Line.l bus1=r bus2=a\n" + more);
        circuit = import::read_circuit("m.dss", files);
        Drawn drawn;
        drawn.names = {"s", "a"};
        drawn.x = drawn.y = {0, 0};
        plan = plan_monitors(circuit, drawn, {});
        watches = plan_controls(circuit, drawn, "study_run_", true);
        facts.circuit = "/c/m.dss";
        facts.shapes = "/f/sun.dss";
        facts.folder = "/f";
        facts.results = "/f/results";
        facts.rows = rows;
        facts.interval = 1;
        facts.run = "study_run";
        facts.control_mode = circuit.control_mode;
    }
};

// The circuit's own control mode holds through the whole script, after every Set Mode.
TEST(StudyControls, TheCircuitsControlModeIsKept)
{
    for (const char* mode : {"", "OFF", "Event"}) {
        const SmallStudy small(*mode != '\0' ? std::string("Set ControlMode=") + mode + "\n" : std::string(), 3);
        const Plan& plan = small.plan;
        const std::vector<ControlWatch>& watches = small.watches;
        const ScriptFacts& facts = small.facts;
        const std::string script = script_text(facts, plan, watches);
        if (*mode == '\0') {
            // The flow through the regulators is said to be watched where there are regulators.
            EXPECT_NE(script.find("the power through each regulator"), std::string::npos);
            std::vector<ControlWatch> none;
            for (const ControlWatch& watch : watches)
                if (watch.kind != "regcontrol" && watch.kind != "regflow")
                    none.push_back(watch);
            EXPECT_EQ(script_text(facts, plan, none).find("the power through each regulator"), std::string::npos);
        }
        std::vector<std::string> modes;
        const std::string set = "Set ControlMode=";
        for (std::size_t at = script.find(set); at != std::string::npos; at = script.find(set, at + 1)) {
            const std::size_t from = at + set.size();
            std::size_t to = from;
            while (to < script.size() && std::isalnum(static_cast<unsigned char>(script[to])) != 0)
                ++to;
            modes.push_back(script.substr(from, to - from));
        }
        const std::string expected_settle = lower(mode) == "off" ? "Off" : "Static";
        const std::string expected_series = *mode == '\0' ? "Time" : lower(mode) == "off" ? "Off" : "Event";
        EXPECT_EQ(modes, (std::vector<std::string>{expected_settle, expected_series, expected_settle, expected_series}))
            << mode;
        // Each Set Mode is followed by the mode the study means, before any Solve.
        std::size_t at = 0;
        while ((at = script.find("Set Mode=", at)) != std::string::npos) {
            const std::size_t next = script.find("Set ControlMode=", at);
            EXPECT_LT(next, script.find("Solve", at)) << mode;
            at = next;
        }
        // Every path is one word: quoted, the quote closed on its line.
        each_line(script, [&](std::string_view line, long number) {
            if (line.empty() || line.front() == '!')
                return;
            EXPECT_EQ(std::count(line.begin(), line.end(), '"') % 2, 0) << number << ": " << line;
        });
        ASSERT_EQ(watches.size(), 3U);
        EXPECT_EQ(watches[0].element, "Transformer.t");
        EXPECT_EQ(watches[0].terminal, 2);
        EXPECT_EQ(watches[0].drawn_bus, "s");  // its bus r lies one hop from both: the earlier drawn
        EXPECT_EQ(watches[1].kind, "head");
        EXPECT_EQ(watches[1].drawn_bus, "s");
        EXPECT_EQ(watches[2].kind, "regflow");
        EXPECT_EQ(watches[2].terminal, 1);
        EXPECT_NE(script.find("New Monitor.study_run_flow1 element=Transformer.t terminal=1 mode=1 ppolar=no"),
                  std::string::npos);
    }
}

// A slice handed on: its settle sets each regulator's tap and capacitor's steps where the slice
// before had them, under the sky and under the twin, and solves with the controls held (Off)
// before the series runs in the circuit's mode.
TEST(StudyControls, AHandedSliceSetsItsControlsBeforeItsSettle)
{
    SmallStudy small("New Capacitor.c1 bus1=a numsteps=3\nNew CapControl.cc capacitor=c1 element=Line.l type=voltage\n", 5);
    const Plan& plan = small.plan;
    const std::vector<ControlWatch>& watches = small.watches;
    ScriptFacts& facts = small.facts;
    facts.first_row = 7;
    facts.unrecorded = 3;
    facts.twin = true;
    facts.handed = Handed{2, 7,
                          {{"regcontrol", "rc", "Transformer.t", -3, ""}, {"capcontrol", "cc", "Capacitor.c1", 2, "101"}},
                          {{"regcontrol", "rc", "Transformer.t", 4, ""}, {"capcontrol", "cc", "Capacitor.c1", 0, "000"}}};
    const std::string script = script_text(facts, plan, watches);
    std::vector<std::string> commands;
    each_line(script, [&](std::string_view line, long) {
        if (line.rfind("Edit ", 0) == 0 || line.rfind("Set ControlMode=", 0) == 0 || line == "Solve" || line == "Clear")
            commands.emplace_back(line);
    });
    // The settle's solves, then the series: the sky's in two (the overlap but its last row, then
    // the rest, its voltages recorded), the twin's, which records none, in one.
    std::vector<std::string> expected;
    for (const auto& [tap, steps] : {std::pair{"-3", "1 0 1"}, std::pair{"4", "0 0 0"}}) {
        expected.emplace_back("Set ControlMode=Off");
        expected.push_back(std::string("Edit RegControl.rc TapNum=") + tap);
        expected.push_back(std::string("Edit Capacitor.c1 States=[") + steps + "]");
        expected.insert(expected.end(), 10, "Solve");
        expected.insert(expected.end(), {"Set ControlMode=Time", "Solve"});
        if (*tap == '-')
            expected.insert(expected.end(), {"Solve", "Clear"});
    }
    EXPECT_EQ(commands, expected) << script;
    EXPECT_NE(script.find("! 2. Handed on: each regulator's tap and each capacitor's steps begin where slice 2's run had"),
              std::string::npos);
    facts.handed.reset();
    EXPECT_EQ(script_text(facts, plan, watches).find("Edit RegControl"), std::string::npos);
}

// The power through a regulator is watched at its side toward the source, however the circuit
// orders its windings and wherever it stands, with its reverse settings as the circuit gives them.
TEST(StudyControls, RegulatorFlowIsWatchedFromTheSourceSide)
{
    struct Case {
        const char* circuit;  // after the source at s
        int terminal;
        bool reversible;
    };
    const Case cases[] = {
        {"New Transformer.t buses=[s r]\nNew RegControl.rc transformer=t winding=2\n", 1, false},
        {"New Transformer.t buses=[r s]\nNew RegControl.rc transformer=t winding=1 reversible=yes\n", 2, true},
        {"New Line.a bus1=s bus2=m\nNew Line.b bus1=m bus2=n\nNew Transformer.t buses=[r n]\n"
         "New RegControl.x transformer=t winding=1 reversible=yes\nNew RegControl.rc like=x reversible=no\n",
         2, false},
    };
    for (const Case& c : cases) {
        import::MemoryFiles files;
        files.add("m.dss", std::string("New Circuit.c bus1=s\n") + c.circuit + "New Line.l bus1=r bus2=a\n");
        Drawn drawn;
        drawn.names = {"s", "a"};
        drawn.x = drawn.y = {0, 0};
        const std::vector<ControlWatch> watches =
            plan_controls(import::read_circuit("m.dss", files), drawn, "study_run_", false);
        const auto flow = std::find_if(watches.rbegin(), watches.rend(), [](const ControlWatch& w) { return w.kind == "regflow"; });
        ASSERT_NE(flow, watches.rend()) << c.circuit;
        EXPECT_EQ(flow->name, "rc") << c.circuit;
        EXPECT_EQ(flow->terminal, c.terminal) << c.circuit;
        EXPECT_EQ(flow->reversible, c.reversible) << c.circuit;
        // The map keeps what the read needs of it.
        TempFolder work;
        put(work.path() / "map.csv", controls_map_text(watches));
        const std::vector<ControlWatch> read = read_controls_map(work.path() / "map.csv");
        ASSERT_EQ(read.size(), watches.size());
        EXPECT_EQ(read.back().kind, "regflow");
        EXPECT_EQ(read.back().terminal, c.terminal);
        EXPECT_EQ(read.back().reversible, c.reversible);
    }
}

// What the engine will do otherwise than the circuit may seem to say is named when the study is
// written: a PV system without Pmpp runs at the engine's default, a control of an element the
// circuit does not define stops the engine.
TEST(StudyControls, APvWithoutPmppAndAControlOfNothingAreNamedWhenWritten)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    const fs::path circuit = work.path() / "Edited.dss";
    put(circuit, "Redirect \"" + (regulated / "circuit/Feeder.dss").string() +
                     "\"\nNew PVSystem.bare phases=3 bus1=Far kV=12.47 kVA=100 irradiance=1\n"
                     "New RegControl.lost transformer=Nowhere winding=2\n");
    const fs::path record = folder / "feeder_circuit.txt";
    std::string text = slurp(record);
    const std::size_t entry = text.find("entry=");
    text.replace(entry, text.find('\n', entry) - entry, "entry=" + circuit.string());
    put(record, text);
    const WriteResult written = write_study({folder, folder / "sun.dss", true});
    EXPECT_EQ(written.circuit_warned,
              (std::vector<std::string>{
                  "RegControl.lost names Transformer.Nowhere, which the circuit does not define: the engine stops there, "
                  "and the study with it",
                  "PVSystem.bare gives no Pmpp, so the engine takes its default, 500 kW, and controls_report.csv leaves "
                  "ramp_pct_per_min blank"}));
    // Its map says the rating is not given, which read tells from a map too old to record it.
    const std::vector<ControlWatch> watches = read_controls_map(folder / "study_controls.csv");
    const auto bare = std::find_if(watches.begin(), watches.end(), [](const ControlWatch& w) { return w.name == "bare"; });
    ASSERT_NE(bare, watches.end());
    EXPECT_EQ(bare->pmpp_kw, 0);
}

// A regulator that cannot regulate as its circuit gives it is named when the study is written.
TEST(StudyControls, RegulatorsThatCannotRegulateAreNamed)
{
    struct Case {
        const char* what;
        const char* circuit;  // after the source and a line
        const char* warned;   // "" for none
    };
    const Case cases[] = {
        {"a single-phase regulator as IEEE 13 gives it",
         "New Transformer.r phases=1 buses=[a b] kVs=[2.4 2.4]\nNew RegControl.c transformer=r winding=2 vreg=122 ptratio=20\n",
         ""},
        {"no ptratio", "New Transformer.r phases=1 buses=[a b] kVs=[2.4 2.4]\nNew RegControl.c transformer=r winding=2 vreg=122\n",
         "RegControl.c gives no ptratio, so the engine takes 60: its winding of 2.4 kV (as its PT sees it) reads 40 V over ptratio "
         "60, which its taps cannot bring to its vreg of 122 V: give a ptratio of about 19.7"},
        {"a three-phase wye winding, line to line over root 3",
         "New Transformer.r phases=3 buses=[a b] kVs=[4.16 4.16]\nNew RegControl.c transformer=r winding=2 ptratio=20\n", ""},
        {"a three-phase delta winding, line to line",
         "New Transformer.r phases=3 buses=[a b] conns=[delta delta] kVs=[4.16 4.16]\nNew RegControl.c transformer=r "
         "winding=2 ptratio=20\n",
         "its winding of 4.16 kV (as its PT sees it) reads 208 V over ptratio 20, which its taps cannot bring to its vreg of 120 V"},
        {"a winding's kV set by wdg=", "New Transformer.r phases=1 windings=2 buses=[a b]\n~ wdg=1 kv=7.2\n~ wdg=2 kv=2.4\n"
                                        "New RegControl.c transformer=r winding=2 ptratio=60\n",
         "its winding of 2.4 kV (as its PT sees it) reads 40 V over ptratio 60"},
        {"the other winding's kV by wdg=", "New Transformer.r phases=1 windings=2 buses=[a b]\n~ wdg=2 kv=7.2\n~ wdg=1 kv=2.4\n"
                                            "New RegControl.c transformer=r winding=2 ptratio=60\n", ""},
        {"no kV known and no ptratio", "New Transformer.r phases=1 buses=[a b]\nNew RegControl.c transformer=r winding=2\n",
         "gives no ptratio, so the engine takes 60, which puts a 120 V set point at 7.2 kV"},
        {"like= copies ptratio", "New Transformer.r phases=1 buses=[a b] kVs=[2.4 2.4]\nNew Transformer.s like=r buses=[b c]\n"
                                 "New RegControl.c transformer=r winding=2 vreg=122 ptratio=20\n"
                                 "New RegControl.d like=c transformer=s\n", ""},
    };
    for (const Case& c : cases) {
        import::MemoryFiles files;
        files.add("m.dss", std::string("New Circuit.x bus1=s\nNew Line.l bus1=s bus2=a\n") + c.circuit);
        const std::vector<std::string> warned = regulator_warnings(import::read_circuit("m.dss", files));
        if (*c.warned == '\0') {
            EXPECT_TRUE(warned.empty()) << c.what << ": " << (warned.empty() ? "" : warned.front());
        } else {
            ASSERT_EQ(warned.size(), 1U) << c.what;
            EXPECT_NE(warned.front().find(c.warned), std::string::npos) << c.what << ": " << warned.front();
        }
    }
}

// A regulator at the end of its range regulates no more: its seconds there are counted, and the
// summary names it.
TEST(StudyControls, ARegulatorPinnedAtItsLimitIsNamed)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    // The same run, its regulator's range said to end at tap 11, the highest it reached.
    for (const fs::directory_entry& entry : fs::directory_iterator(folder / "results")) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 9 || name.substr(name.size() - 9) != "_taps.csv")
            continue;
        put(entry.path(), replace_all(slurp(entry.path()), "1.10000", "1.06875"));
    }
    const ReadResult read = read_study({folder, {}, {}, {}, {}});
    const auto report = csv_rows(slurp(folder / "controls_report.csv"));
    const std::string seconds = report_row(report, "sky", "Vreg").at("seconds_at_limit");
    ASSERT_FALSE(seconds.empty());
    EXPECT_GT(std::stod(seconds), 0);
    EXPECT_EQ(std::fmod(std::stod(seconds), 5.0), 0.0) << "whole rows of 5 s";
    bool named = false;
    for (const std::string& line : read.summary)
        named = named || line.find("at the end of its tap range, where it regulates no more: Vreg " + seconds.substr(0, seconds.find('.'))) != std::string::npos;
    EXPECT_TRUE(named) << read.summary.back();
}

// A circuit that sets its controls off: read says so where the counts are, in the summary and the
// report, so that no tap change is not read as no cost.
TEST(StudyControls, ControlsOffAreSaidWhereTheCountsAre)
{
    for (const bool off : {false, true}) {
        TempFolder work;
        const fs::path folder = scenario_copy(work);
        if (off)
            put(folder / "feeder_circuit.txt", slurp(folder / "feeder_circuit.txt") + "control_mode=off\n");
        const ReadResult read = read_study({folder, {}, {}, {}, {}});
        const std::string report = slurp(folder / "controls_report.csv");
        bool said = false;
        for (const std::string& line : read.summary)
            said = said || line.find("ControlMode=OFF") != std::string::npos;
        EXPECT_EQ(said, off);
        EXPECT_EQ(report.find("sky,control_mode,off,") != std::string::npos, off);
        // Its row has the header's fields, as every reader of the report counts them.
        for (const auto& row : csv_rows(report))
            EXPECT_EQ(row.size(), controls_report_columns) << row.front() << "," << row.at(1);
    }
}

// Advice to make the loadshapes again names this folder's own file, never another study's, which
// the command would overwrite.
TEST(StudyControls, AdviceNeverPointsAtAnotherStudysLoadshapes)
{
    TempFolder work;
    const fs::path folder = scenario_copy(work);
    const fs::path other = work.path() / "other";
    fs::create_directories(other);
    std::string shapes = slurp(folder / "sun.dss");
    const std::size_t at = shapes.find("fingerprint ") + 12;
    shapes.replace(at, 16, "0123456789abcdef");
    put(other / "sun.dss", shapes);
    put(folder / "mine.dss", shapes);
    struct Case {
        fs::path shapes;
        std::string advised;
    };
    for (const Case& c : {Case{other / "sun.dss", (folder / "sun.dss").string()},
                          Case{folder / "mine.dss", (folder / "mine.dss").string()}}) {
        try {
            (void)write_study({folder, c.shapes, true});
            ADD_FAILURE() << "took loadshapes of another sky";
        } catch (const StudyError& error) {
            const std::string text = error.what();
            EXPECT_NE(text.find("--loadshapes " + c.advised + " ... "), std::string::npos) << text;
            EXPECT_EQ(text.find("--loadshapes " + (other / "sun.dss").string()), std::string::npos) << text;
        }
    }
}

bool engine_runs(const fs::path& engine)
{
    return fs::exists(engine) &&
           std::system(("\"" + engine.string() + "\" -c \"new circuit.probe\" -c solve > /dev/null 2>&1").c_str()) == 0;
}

std::string quote(const fs::path& path) { return "\"" + path.string() + "\""; }

// The scenario of the regulated feeder made afresh under `sensor` (a measured series), its study
// written and run by the engine, and read.
fs::path study_of(const TempFolder& work, const fs::path& sensor, const fs::path& engine)
{
    const fs::path circuit = work.path() / "circuit";
    fs::copy(regulated / "circuit", circuit);
    const fs::path folder = work.path() / "scenario";
    const auto run = [&](const std::string& command) {
        const std::string line = command + " > " + quote(work.path() / "out.txt") + " 2>&1";
        EXPECT_EQ(std::system(line.c_str()), 0) << command << "\n" << slurp(work.path() / "out.txt");
    };
    run(quote(UMBRASCOPE_IMPORT) + " --coords " + quote(circuit / "coords.csv") + " " + quote(circuit / "Feeder.dss") + " " +
        quote(folder));
    run(quote(UMBRASCOPE_CLOUDS) + " --units m --wind 5,270 --from-sensor " + quote(sensor) +
        " --sensor-interval 1 --interval 5 --steps 120 --loadshapes " + quote(folder / "sun.dss") + " " + quote(folder));
    run(quote(UMBRASCOPE_STUDY) + " write " + quote(folder) + " --loadshapes " + quote(folder / "sun.dss"));
    run(quote(engine) + " " + quote(folder / "study.dss"));
    run(quote(UMBRASCOPE_STUDY) + " read " + quote(folder));
    return folder;
}

// Under a sky that never changes, no control acts in the whole series and every bus's voltage is
// the same in every row: the settle leaves the controls at rest at the first row's sky.
TEST(StudyEndToEnd, UnderAConstantSkyNothingMoves)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!engine_runs(engine))
        GTEST_SKIP() << "skipped: no OpenDSS engine runs at " << engine
                     << " (set UMBRASCOPE_OPENDSS to one; it needs libklu1 and libmetis5)";
    TempFolder work;
    std::string sensor;
    for (int i = 0; i < 700; ++i)
        sensor += "0.63\n";
    put(work.path() / "constant.csv", sensor);
    const fs::path folder = study_of(work, work.path() / "constant.csv", engine);
    for (const auto& row : csv_rows(slurp(folder / "controls_report.csv"))) {
        if (row[1] == "regcontrol" || row[1] == "capcontrol") {
            EXPECT_EQ(row[6], "0") << row[0] << " " << row[2] << " changed";
        }
        if (row[1] == "ramp") {
            EXPECT_EQ(row[10], "0.000") << row[0] << " " << row[2] << " ramped";
        }
    }
    for (const char* table : {"cloud_voltage_min_table.txt", "cloud_voltage_max_table.txt"}) {
        const std::vector<std::string> lines = testing::split_lines(slurp(folder / table));
        ASSERT_EQ(lines.size(), 6U + 120U) << table;
        const auto values = [](const std::string& line) { return line.substr(line.find(',')); };
        for (std::size_t i = 7; i < lines.size(); ++i)
            EXPECT_EQ(values(lines[i]), values(lines[6])) << table << " row " << i - 5;
    }
}

// The counts of a fresh run against the engine solved one step at a time, with the regulator's
// TapNum, the capacitor's states and the source's powers asked after each step.
TEST(StudyEndToEnd, CountsEqualTheEnginesOneStepAtATime)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!engine_runs(engine))
        GTEST_SKIP() << "skipped: no OpenDSS engine runs at " << engine
                     << " (set UMBRASCOPE_OPENDSS to one; it needs libklu1 and libmetis5)";
    TempFolder work;
    const fs::path folder =
        study_of(work, fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500/Normalized-1s-2900-pts.CSV", engine);
    const auto report = csv_rows(slurp(folder / "controls_report.csv"));
    for (const bool clear : {false, true}) {
        std::string setup = "Compile " + quote(work.path() / "circuit/Feeder.dss") + "\nRedirect " + quote(folder / "sun.dss") + "\n";
        if (clear)
            setup += "Batchedit PVSystem..* daily=clear_sky duty=clear_sky\n";
        setup += "Set Mode=Duty Number=1 Stepsize=5\nSet ControlMode=Static\n";
        for (int i = 0; i < settle_solves; ++i)
            setup += "Set Time=(0,0)\nSolve\n";
        setup += "Set Time=(0,0)\nSet ControlMode=Time\n";
        put(work.path() / "setup.dss", setup);
        std::string command = quote(engine) + " -c " + quote("compile " + (work.path() / "setup.dss").string()) +
                              " -c \"? RegControl.Vreg.TapNum\" -c \"? Capacitor.C1.States\"";
        for (int row = 1; row <= 120; ++row)
            command += " -c Solve -c \"? RegControl.Vreg.TapNum\" -c \"? Capacitor.C1.States\" -c \"Select Vsource.source\" -c Powers";
        command += " > " + quote(work.path() / "steps.txt");
        ASSERT_EQ(std::system(command.c_str()), 0);
        std::vector<std::string> lines;
        for (const std::string& line : testing::split_lines(slurp(work.path() / "steps.txt")))
            if (!trim_blanks(line).empty())
                lines.push_back(line);
        ASSERT_EQ(lines.size(), 2U + 120U * 3U);
        const auto steps = [](const std::string& states) {
            int on = 0;
            for (const char c : states)
                on += c == '1' ? 1 : 0;
            return on;
        };
        std::vector<int> taps{std::stoi(lines[0])}, caps{steps(lines[1])};
        std::vector<double> kw;
        for (std::size_t i = 2; i < lines.size(); i += 3) {
            taps.push_back(std::stoi(lines[i]));
            caps.push_back(steps(lines[i + 1]));
            std::vector<double> powers;
            std::string text = lines[i + 2];
            std::replace(text.begin(), text.end(), ',', ' ');
            std::istringstream in(text);
            for (double p = 0; in >> p;)
                powers.push_back(p);
            kw.push_back(-(powers.at(0) + powers.at(2) + powers.at(4)));
        }
        const auto counted = [](const std::vector<int>& states) {
            int changes = 0, rows = 0;
            for (std::size_t k = 1; k < states.size(); ++k) {
                changes += std::abs(states[k] - states[k - 1]);
                rows += states[k] != states[k - 1] ? 1 : 0;
            }
            return std::vector<std::string>{std::to_string(states.front()), std::to_string(changes), std::to_string(rows),
                                            std::to_string(*std::min_element(states.begin(), states.end())),
                                            std::to_string(*std::max_element(states.begin(), states.end()))};
        };
        const char* sky = clear ? "clear" : "sky";
        const auto row_of = [&](const std::string& name) {
            const std::map<std::string, std::string> row = report_row(report, sky, name);
            return std::vector<std::string>{row.at("start"), row.at("changes"), row.at("steps_changed"), row.at("min"),
                                            row.at("max")};
        };
        EXPECT_EQ(row_of("Vreg"), counted(taps)) << sky;
        std::vector<std::string> cap = row_of("CC1");
        EXPECT_EQ(cap, counted(caps)) << sky;  // one step switches at a time here
        double largest = 0;
        for (std::size_t k = 1; k < kw.size(); ++k)
            if (std::fabs(kw[k] - kw[k - 1]) > std::fabs(largest))
                largest = kw[k] - kw[k - 1];
        EXPECT_NEAR(std::stod(report_row(report, sky, "head_kw").at("ramp_per_s")), largest / 5,
                    0.01 * std::fabs(largest / 5) + 0.2)
            << sky;
        EXPECT_GT(std::stoi(report_row(report, "sky", "Vreg").at("changes")), 0) << "the sky should move the regulator";
    }
}

}  // namespace
}  // namespace umbrascope::study

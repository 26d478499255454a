// Smart inverters: the modes and curves taken and refused, the engine's lines for them, and in a
// real engine the energy the inverters curtail: what the PV gave without them less what it gave
// with them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "study/inverters.hpp"
#include "study/folder.hpp"
#include "test_support.hpp"

namespace umbrascope::study {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(Inverters, ModesAndCurvesTakenAndRefused)
{
    struct Mode {
        const char* text;
        const char* mode;     // as taken; "" where refused
        const char* refusal;
    };
    const Mode modes[] = {
        {"unity", "unity", ""},
        {"Volt-Var", "volt-var", ""},
        {"volt-watt", "volt-watt", ""},
        {"volt-var+volt-watt", "volt-var+volt-watt", ""},
        {"pf=0.95", "pf=0.95", ""},
        {"pf=1", "pf=1", ""},
        {"pf=0", "", "a power factor is above 0 and at most 1"},
        {"pf=1.05", "", "a power factor is above 0 and at most 1"},
        {"pf=-0.9", "", "a power factor is above 0 and at most 1"},
        {"pf=", "", "a power factor"},
        {"watt-var", "", "--inverter takes unity, pf=0.95 (or another factor), volt-var, volt-watt or volt-var+volt-watt, not 'watt-var'"},
    };
    for (const Mode& m : modes) {
        try {
            const Inverters taken = inverter_mode(m.text);
            EXPECT_EQ(taken.mode, m.mode) << m.text;
        } catch (const StudyError& error) {
            EXPECT_STREQ(m.mode, "") << m.text << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(m.refusal), std::string::npos) << error.what();
        }
    }
    EXPECT_DOUBLE_EQ(inverter_mode("pf=0.9").pf, 0.9);

    struct CurveCase {
        const char* text;
        const char* refusal;  // "" where taken
    };
    const CurveCase curves[] = {
        {"0.92,0.44\n0.98,0\n1.02,0\n1.08,-0.44\n", ""},
        {"# volt-watt\n1.06, 1\n1.10, 0.2  # at 1.1 pu\n", ""},
        {"1.06,1\n", "fewer than two points"},
        {"1.06,1\n1.06,0.5\n", "c.csv:2: the voltages must rise"},
        {"1.00,0\n1.05,0.3\n", "c.csv:2: the curve rises with the voltage"},
        {"1.00;0\n1.05,0\n", "c.csv:1: a line is voltage,value"},
        {"0,1\n1.05,0\n", "c.csv:1: a line is voltage,value"},
    };
    for (const CurveCase& c : curves) {
        try {
            const Curve curve = read_curve(c.text, "c.csv");
            EXPECT_STREQ(c.refusal, "") << c.text;
            EXPECT_GE(curve.size(), 2U);
        } catch (const StudyError& error) {
            EXPECT_NE(std::string(c.refusal), "") << c.text << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(c.refusal), std::string::npos) << error.what();
        }
    }
}

TEST(Inverters, TheEnginesLinesForEachMode)
{
    const std::vector<ControlledPv> pv{{"a", 100}, {"roof 2", 40}};
    EXPECT_EQ(inverter_lines(inverter_mode("unity"), pv), "");
    const std::string pf = inverter_lines(inverter_mode("pf=0.95"), pv);
    EXPECT_NE(pf.find("Edit PVSystem.a kVA=110 pf=-0.95\n"), std::string::npos) << pf;
    EXPECT_NE(pf.find("Edit \"PVSystem.roof 2\" kVA=44 pf=-0.95\n"), std::string::npos) << pf;
    EXPECT_EQ(pf.find("InvControl"), std::string::npos);
    Inverters both = inverter_mode("volt-var+volt-watt");
    both.kva_ratio = 1.2;
    const std::string lines = inverter_lines(both, pv);
    EXPECT_NE(lines.find("Edit PVSystem.a kVA=120\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("New XYcurve.umbrascope_volt_var npts=4 Xarray=[0.92 0.98 1.02 1.08] Yarray=[0.44 0 0 -0.44]\n"),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("New XYcurve.umbrascope_volt_watt npts=2 Xarray=[1.06 1.1] Yarray=[1 0.2]\n"), std::string::npos)
        << lines;
    EXPECT_NE(lines.find("DERList=[PVSystem.a \"PVSystem.roof 2\"] CombiMode=VV_VW vvc_curve1=umbrascope_volt_var "
                         "RefReactivePower=VARMAX voltage_curvex_ref=rated voltwatt_curve=umbrascope_volt_watt "
                         "VoltwattYAxis=PMPPPU RateofChangeMode=LPF LPFTau=1\n"),
              std::string::npos)
        << lines;
    EXPECT_NE(lines.find("Set MaxControlIter=100\n"), std::string::npos);
    const std::string watt = inverter_lines(inverter_mode("volt-watt"), pv);
    EXPECT_NE(watt.find(" Mode=VOLTWATT voltwatt_curve=umbrascope_volt_watt VoltwattYAxis=PMPPPU RateofChangeMode=LPF LPFTau=2\n"),
              std::string::npos)
        << watt;
    EXPECT_EQ(watt.find("volt_var"), std::string::npos);
    // A system connected phase to phase keeps unity under volt-var, and its kVA and power factor
    // are set as the others' are.
    const std::vector<ControlledPv> split{{"a", 100}, {"across", 40, true}};
    const std::string var = inverter_lines(inverter_mode("volt-var"), split);
    EXPECT_NE(var.find("DERList=[PVSystem.a] Mode=VOLTVAR"), std::string::npos) << var;
    EXPECT_NE(var.find("Edit PVSystem.across kVA=44\n"), std::string::npos) << var;
    EXPECT_EQ(left_at_unity(inverter_mode("volt-var"), split), std::vector<std::string>{"PVSystem.across"});
    EXPECT_TRUE(left_at_unity(inverter_mode("pf=0.9"), split).empty());
    EXPECT_TRUE(left_at_unity(inverter_mode("unity"), split).empty());
    EXPECT_NE(inverter_lines(inverter_mode("pf=0.9"), split).find("Edit PVSystem.across kVA=44 pf=-0.9\n"), std::string::npos);
    EXPECT_EQ(inverter_lines(inverter_mode("volt-watt"), {{"across", 40, true}}).find("InvControl"), std::string::npos);
}

// The energy curtailed is the engine's: the same study with unity inverters gives the PV's whole
// output (the panels' kW do not depend on the voltage), and with volt-watt the curtailment
// controls_report.csv states is that less what the PV gave.
TEST(Inverters, CurtailedEnergyIsWhatUnityInvertersGaveMore)
{
    const fs::path engine = UMBRASCOPE_OPENDSS;
    if (!fs::exists(engine) ||
        std::system(("\"" + engine.string() + "\" -c \"new circuit.probe\" -c solve > /dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << "skipped: no OpenDSS engine runs at " << engine
                     << " (set UMBRASCOPE_OPENDSS to one; it needs libklu1 and libmetis5)";
    TempFolder work;
    const fs::path circuit = work.path() / "ckt";
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee13", circuit);
    fs::create_symlink("IEEELineCodes.DSS", circuit / "IEEELineCodes.dss");
    std::ofstream(circuit / "Study.dss") << "Redirect IEEE13Nodeckt.dss\n"
                                             "New PVSystem.pv675 phases=3 bus1=675 kV=4.16 kVA=3000 Pmpp=3000 irradiance=1\n"
                                             "New PVSystem.pv652 phases=1 bus1=652.1 kV=2.4 kVA=450 Pmpp=450 irradiance=1\n";
    std::ofstream(work.path() / "vw.csv") << "1.00,1\n1.04,0.2\n";
    const fs::path folder = work.path() / "feeder";
    const auto run = [&](const std::string& command) {
        const std::string line = command + " > \"" + (work.path() / "out.txt").string() + "\" 2>&1";
        ASSERT_EQ(std::system(line.c_str()), 0) << command << "\n" << testing::read_file(work.path() / "out.txt");
    };
    run(std::string("\"") + UMBRASCOPE_IMPORT + "\" \"" + (circuit / "Study.dss").string() + "\" \"" + folder.string() + "\"");
    run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind 2,270 --from-sensor \"" + UMBRASCOPE_SOURCE_DIR +
        "/tests/data/feeders/ieee8500/Normalized-1s-2900-pts.CSV\" --sensor-interval 1 --interval 5 --steps 40 "
        "--loadshapes \"" + (folder / "sun.dss").string() + "\" \"" + folder.string() + "\"");
    // pv_kw's energy, and its curtailment, under the sky and the clear sky.
    struct Pv {
        double kwh = 0, curtailed = 0, absorbed = 0;
    };
    const auto study = [&](const std::string& inverter) {
        run(std::string("\"") + UMBRASCOPE_STUDY + "\" write \"" + folder.string() + "\" --loadshapes \"" +
            (folder / "sun.dss").string() + "\" --no-loading " + inverter);
        run("cd \"" + work.path().string() + "\" && DSS_CAPI_ALLOW_EDITOR=0 \"" + engine.string() + "\" \"" +
            (folder / "study.dss").string() + "\"");
        run(std::string("\"") + UMBRASCOPE_STUDY + "\" read \"" + folder.string() + "\"");
        std::map<std::string, Pv> out;
        for (const std::vector<std::string>& row : testing::csv_rows(testing::read_file(folder / "controls_report.csv")))
            if (row.size() == 21 && row[1] == "ramp" && row[2] == "pv_kw")
                out[row[0]] = {std::stod(row[12]), std::stod(row[17]), std::stod(row[19])};
        return out;
    };
    const std::map<std::string, Pv> unity = study("");
    const std::map<std::string, Pv> curtailed =
        study("--inverter volt-var+volt-watt --volt-watt-curve \"" + (work.path() / "vw.csv").string() + "\"");
    ASSERT_EQ(unity.size(), 2U);
    ASSERT_EQ(curtailed.size(), 2U);
    for (const char* sky : {"sky", "clear"}) {
        EXPECT_NEAR(unity.at(sky).curtailed, 0, 1e-3) << sky;
        EXPECT_NEAR(curtailed.at(sky).curtailed, unity.at(sky).kwh - curtailed.at(sky).kwh, 0.005) << sky;
    }
    EXPECT_GT(curtailed.at("clear").curtailed, 10) << "the clear sky's voltage is curtailed";
    EXPECT_GT(curtailed.at("clear").absorbed, 0) << "volt-var absorbs above 1.02 pu";
}

}  // namespace
}  // namespace umbrascope::study

// The search by bus: the bisection against every threshold of a range, its refusals, and the map's
// colours against the answers.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <regex>

#include "core/hosting_bands.hpp"
#include "core/lines.hpp"
#include "core/paths.hpp"
#include "sweep/cases.hpp"
#include "sweep/locate.hpp"
#include "sweep/locate_map.hpp"
#include "sweep/search.hpp"
#include "test_support.hpp"

namespace umbrascope::sweep {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

const fs::path feeders = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders";

int run(const std::string& command) { return std::system((command + " > /dev/null 2>&1").c_str()); }

// The search run against a bus that passes up to `threshold` steps: rounds until found, each round
// every step the bracket asks for judged at once. Gives the steps run and the rounds.
struct Searched {
    Bracket last;
    int probes = 0;
    int rounds = 0;
};
Searched search_against(const SizeGrid& grid, const std::function<bool(int)>& passes)
{
    Searched out;
    std::map<int, bool> judged;
    for (;;) {
        out.last = bracket(grid, judged, {});
        if (out.last.found || out.last.next.empty())
            return out;
        ++out.rounds;
        for (const int step : out.last.next) {
            EXPECT_EQ(judged.count(step), 0U) << "step " << step << " run twice";
            judged[step] = passes(step);
            ++out.probes;
        }
        if (out.rounds > 64) {
            ADD_FAILURE() << "the search does not end";
            return out;
        }
    }
}

TEST(SweepSearch, EveryThresholdFoundWithinItsBound)
{
    for (const auto& [max_kw, resolution] : std::vector<std::pair<double, double>>{
             {3000, 3000}, {3000, 1500}, {1000, 333}, {12000, 750}, {3466, 3466.0 / 64}, {5000, 37}, {1, 0.001}}) {
        const SizeGrid grid{max_kw, resolution};
        const int n = grid.steps();
        EXPECT_NEAR(grid.kw(n), max_kw, 1e-9);
        EXPECT_LE(grid.kw(n) - grid.kw(n - 1), resolution + 1e-9) << "the last step is at most a resolution up";
        EXPECT_LT(grid.kw(n - 1), max_kw);
        const int bound = static_cast<int>(std::floor(std::log2(max_kw / resolution))) + 3;
        for (int threshold = 0; threshold <= n; threshold += std::max(1, n / 97)) {
            const Searched s = search_against(grid, [&](int step) { return step <= threshold; });
            ASSERT_TRUE(s.last.found) << max_kw << "/" << resolution << " at " << threshold;
            EXPECT_EQ(s.last.passes, threshold) << max_kw << "/" << resolution;
            EXPECT_EQ(s.last.fails.value_or(n + 1), threshold + 1);
            EXPECT_FALSE(s.last.contrary);
            EXPECT_LE(s.probes, bound) << max_kw << "/" << resolution << " at " << threshold;
            EXPECT_EQ(grid.step_of(grid.kw(std::max(threshold, 1))), std::max(threshold, 1));
        }
    }
}

TEST(SweepSearch, ContraryPendingAndOffGrid)
{
    const SizeGrid grid{1600, 100};  // 16 steps
    struct Row {
        const char* what;
        std::map<int, bool> judged;
        std::vector<int> pending;
        int passes;
        std::optional<int> fails;
        bool found, contrary, waiting;
        std::vector<int> next;
    };
    const Row rows[] = {
        {"nothing yet: the first round", {}, {}, 0, std::nullopt, false, false, false, {4, 8, 12, 16}},
        {"the first round planned, not run", {}, {4, 8, 12, 16}, 0, std::nullopt, false, false, true, {}},
        {"the maximum passes", {{4, true}, {8, true}, {12, true}, {16, true}}, {}, 16, std::nullopt, true, false, false, {}},
        {"all fail: down to the first step", {{4, false}, {8, false}, {12, false}, {16, false}}, {}, 0, 4, false, false, false, {2}},
        {"the first step fails: nothing fits", {{1, false}, {2, false}, {4, false}}, {}, 0, 1, true, false, false, {}},
        {"a larger passed after a smaller failed: the smaller holds",
         {{4, true}, {8, false}, {12, true}, {16, false}}, {}, 4, 8, false, true, false, {6}},
        {"a failed case inside the bracket is awaited", {{4, true}, {8, false}}, {6}, 4, 8, false, false, true, {}},
        {"a pending case outside the bracket is not", {{4, true}, {8, false}}, {12}, 4, 8, false, false, false, {6}},
    };
    for (const Row& row : rows) {
        const Bracket b = bracket(grid, row.judged, row.pending);
        EXPECT_EQ(b.passes, row.passes) << row.what;
        EXPECT_EQ(b.fails, row.fails) << row.what;
        EXPECT_EQ(b.found, row.found) << row.what;
        EXPECT_EQ(b.contrary, row.contrary) << row.what;
        EXPECT_EQ(b.waiting, row.waiting) << row.what;
        EXPECT_EQ(b.next, row.next) << row.what;
    }
    EXPECT_EQ(grid.step_of(150), std::nullopt) << "a size off the grid, planned for another resolution";
    EXPECT_EQ(grid.step_of(1600), 16);
    EXPECT_EQ((SizeGrid{1000, 300}.kw(4)), 1000) << "the last step is the maximum, not 1200";
}

// IEEE 13 imported and given 12 rows of sky with a loadshape for every bus.
struct Feeder13 {
    explicit Feeder13(const TempFolder& work, const std::string& more = {})
    {
        circuit = work.path() / "circuit";
        fs::create_directories(circuit);
        for (const char* name : {"IEEE13Nodeckt.dss", "IEEELineCodes.DSS", "IEEE13Node_BusXY.csv"})
            fs::copy_file(feeders / "ieee13" / name, circuit / name);
        fs::create_symlink("IEEELineCodes.DSS", circuit / "IEEELineCodes.dss");
        if (!more.empty())
            std::ofstream(circuit / "IEEE13Nodeckt.dss", std::ios::app) << more;
        entry = circuit / "IEEE13Nodeckt.dss";
    }
    fs::path sky(const fs::path& folder) const
    {
        EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_IMPORT + "\" \"" + entry.string() + "\" \"" + folder.string() + "\""), 0);
        EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind 2,270 --steps 12"
                      " --loadshapes \"" + (folder / "sun.dss").string() + "\" \"" + folder.string() + "\""),
                  0);
        return folder;
    }
    fs::path circuit, entry;
};

// Every file under a folder with its bytes.
std::map<std::string, std::string> files_under(const fs::path& folder)
{
    std::map<std::string, std::string> out;
    std::error_code error;
    if (!fs::exists(folder, error))
        return out;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            out[entry.path().string()] = testing::read_file(entry.path());
    return out;
}

TEST(SweepLocate, RefusalsChangeNoFile)
{
    TempFolder work;
    // An island: two buses joined to each other and to nothing the source reaches.
    const Feeder13 feeder(work, "New Line.island phases=3 bus1=isle_a bus2=isle_b length=100 units=ft\n");
    const fs::path sky = feeder.sky(work.path() / "sky");
    TempFolder elsewhere;
    const Feeder13 other(elsewhere);
    const fs::path foreign = other.sky(elsewhere.path() / "foreign");
    // A sky of the feeder with a PV system at 671, whose loadshapes serve that PV system's bus alone.
    std::ofstream(feeder.circuit / "WithPV.dss") << "Redirect IEEE13Nodeckt.dss\nNew PVSystem.p1 phases=3 bus1=671 "
                                                    "kV=4.16 kVA=100 Pmpp=100 irradiance=1\n";
    const fs::path few = work.path() / "few";
    EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_IMPORT + "\" \"" + (feeder.circuit / "WithPV.dss").string() + "\" \"" +
                  few.string() + "\""), 0);
    EXPECT_EQ(run(std::string("\"") + UMBRASCOPE_CLOUDS + "\" --units ft --wind 2,270 --steps 12 --loadshapes \"" +
                  (few / "sun.dss").string() + "\" \"" + few.string() + "\""), 0);
    work.write("unknown.txt", "671\nno_such_bus\n");
    work.write("island.txt", "isle_b\n");
    work.write("good.txt", "671\n611\n680\n");

    LocateOptions good;
    good.plan.sweep = work.path() / "sweep";
    good.plan.circuit = feeder.entry;
    good.plan.skies = {sky};
    good.buses = (work.path() / "good.txt").string();
    good.max_kw = 3000;
    good.resolution_kw = 250;
    const LocateResult planned = plan_locate(good);
    EXPECT_EQ(planned.candidates, 3);
    // Nothing is judged or planned before the skies' bases have run and given the buses' kV.
    const SearchRound before_bases = advance_search(good.plan.sweep, true);
    EXPECT_TRUE(before_bases.bases_left);
    EXPECT_EQ(before_bases.planned, 0);
    const std::map<std::string, std::string> before = files_under(good.plan.sweep);
    ASSERT_FALSE(before.empty());

    struct Row {
        const char* what;
        std::function<void(LocateOptions&)> change;
        const char* refusal;
    };
    const fs::path w = work.path();
    const Row rows[] = {
        {"a bus the circuit does not have", [&](LocateOptions& o) { o.buses = (w / "unknown.txt").string(); },
         "unknown.txt:2: the circuit has no bus no_such_bus"},
        {"a bus no element reaches", [&](LocateOptions& o) { o.buses = (w / "island.txt").string(); },
         "island.txt:1: no element in service reaches bus isle_b from the source"},
        {"a resolution above the maximum", [](LocateOptions& o) { o.resolution_kw = 4000; },
         "--resolution 4000 kW is larger than the maximum, 3000 kW"},
        {"a maximum of zero", [](LocateOptions& o) { o.max_kw = 0; }, "--max-kw takes a size above 0 kW"},
        {"a sky of another circuit", [&](LocateOptions& o) { o.plan.skies = {foreign}; }, "is of another network"},
        {"a sky without the buses' shapes",
         [&](LocateOptions& o) {
             o.plan.skies = {few};
             o.plan.circuit = o.plan.circuit.parent_path() / "WithPV.dss";
         },
         "--all-buses"},
        {"no such choice of buses", [](LocateOptions& o) { o.buses = "feeders"; },
         "--buses feeders is not primary, three-phase, loads or a file"},
    };
    for (const Row& row : rows) {
        LocateOptions options = good;
        row.change(options);
        try {
            (void)plan_locate(options);
            ADD_FAILURE() << "planned: " << row.what;
        } catch (const SweepError& error) {
            EXPECT_NE(std::string(error.what()).find(row.refusal), std::string::npos) << row.what << ": " << error.what();
            EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos) << row.what << ": one line";
        }
        EXPECT_TRUE(files_under(good.plan.sweep) == before) << row.what << ": a file changed";
    }
    // A circuit edited since the search was planned is named, with the command that plans the
    // search again, as planned.
    std::ofstream(feeder.entry, std::ios::app) << "! edited\n";
    try {
        (void)advance_search(good.plan.sweep, true);
        ADD_FAILURE() << "a search of an edited circuit went on";
    } catch (const SweepError& error) {
        const std::string said = error.what();
        EXPECT_NE(said.find("IEEE13Nodeckt.dss was edited"), std::string::npos) << said;
        EXPECT_NE(said.find("umbrascope-study sweep locate '" + full_path(good.plan.sweep).string() + "' --circuit"),
                  std::string::npos) << said;
        EXPECT_NE(said.find("--buses '" + (w / "good.txt").string() + "' --max-kw 3000 --resolution 250"),
                  std::string::npos) << said;
    }
    EXPECT_TRUE(files_under(good.plan.sweep) == before);
}

TEST(SweepLocate, TheCandidatesOfEachChoice)
{
    TempFolder work;
    const Feeder13 feeder(work);
    const fs::path sky = feeder.sky(work.path() / "sky");
    const auto candidates = [&](const std::string& buses) {
        LocateOptions options;
        options.plan.sweep = work.path() / ("sweep-" + buses);
        options.plan.circuit = feeder.entry;
        options.plan.skies = {sky};
        options.buses = buses;
        (void)plan_locate(options);
        std::vector<std::string> out;
        each_line(testing::read_file(options.plan.sweep / locate_buses_name), [&](std::string_view line, long number) {
            if (number > 1 && !line.empty())
                out.emplace_back(line.substr(0, line.find(',')));
        });
        std::sort(out.begin(), out.end());
        return out;
    };
    // Every drawn bus the source reaches but the source's own, until the base's voltages choose.
    EXPECT_EQ(candidates("three-phase"), (std::vector<std::string>{"611", "632", "633", "634", "645", "646", "650", "652",
                                                                   "670", "671", "675", "680", "684", "692", "rg60"}));
    // The buses loads stand at, each once.
    EXPECT_EQ(candidates("loads"), (std::vector<std::string>{"611", "634", "645", "646", "652", "670", "671", "675", "692"}));
}

TEST(SweepLocate, TheMapsColoursAreTheAnswers)
{
    TempFolder work;
    const Feeder13 feeder(work);
    const fs::path sky = feeder.sky(work.path() / "sky");
    const double max_kw = 10000;
    const std::vector<MapBus> buses{{"671", 9000, 9000},  {"680", 4100, 6000}, {"611", 0, 0},
                                    {"632", 1999.9, 2500}, {"652", std::nullopt, std::nullopt}};
    const std::string svg = locate_map_svg(sky, buses, {max_kw, "map"});
    // Each searched bus is a dot of its band, named in its title; a ring where the cloud limits it.
    const std::regex dot("<circle cx=\"([0-9.]+)\" cy=\"([0-9.]+)\" r=\"4\" fill=\"(#[0-9a-f]{6})\"><title>([^:]+): ");
    std::map<std::string, std::string> fill;
    std::map<std::string, std::pair<std::string, std::string>> place;
    for (std::sregex_iterator it(svg.begin(), svg.end(), dot), end; it != end; ++it) {
        fill[(*it)[4]] = (*it)[3];
        place[(*it)[4]] = {(*it)[1], (*it)[2]};
    }
    ASSERT_EQ(fill.size(), buses.size());
    for (const MapBus& bus : buses) {
        EXPECT_EQ(fill.at(bus.drawn_bus), band_colour(bus.hc_kw, max_kw)) << bus.drawn_bus;
        const bool ringed = svg.find("<circle cx=\"" + place.at(bus.drawn_bus).first + "\" cy=\"" +
                                     place.at(bus.drawn_bus).second + "\" r=\"7\"") != std::string::npos;
        EXPECT_EQ(ringed, bus.hc_kw && *bus.hc_kw < *bus.clear_hc_kw) << bus.drawn_bus;
    }
    EXPECT_EQ(fill.at("671"), hosting_bands[4].hex);
    EXPECT_EQ(fill.at("680"), hosting_bands[2].hex);
    EXPECT_EQ(fill.at("611"), hosting_bands[0].hex);
    EXPECT_EQ(fill.at("632"), hosting_bands[0].hex) << "1,999.9 kW is below the second band";
    EXPECT_EQ(fill.at("652"), no_hosting_answer.hex);
    EXPECT_EQ(hosting_band(max_kw, max_kw), 4) << "the maximum is in the last band";
    // The line into 671 (from 692's side or 684's, whichever is upstream) takes 671's colour: the
    // line 671-684 runs to 684, which is not searched.
    EXPECT_NE(svg.find("stroke=\"" + std::string(hosting_bands[4].hex) + "\""), std::string::npos);
}

}  // namespace
}  // namespace umbrascope::sweep

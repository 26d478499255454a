#pragma once
// The case matrix of a sweep: PV levels (per cent of the feeder's load) x placements x seeds x
// skies, and level 0, the feeder without PV, once a sky. Each case's PV systems sit on loads'
// buses, sized a ratio of their load's kW, taken in the placement's order until they total the
// level; the last is trimmed. A higher level holds every system of a lower one.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sweep/cases.hpp"

namespace umbrascope::sweep {

// A plant of a search by bus: one PV system at a bus under one sky, of the bus's phases and kV.
struct Plant {
    std::string sky;
    std::string bus;        // lower case, without nodes
    std::string bus1;       // with its nodes: "632.1.2.3", "611.3"
    std::string drawn_bus;  // whose sky it takes
    int phases = 3;
    double kv = 0;          // line to line for two and three phases, line to neutral for one
    double kw = 0;
};

struct PlanOptions {
    std::filesystem::path sweep;
    std::filesystem::path circuit;                // the entry file
    std::vector<std::filesystem::path> skies;     // scenario folders of that circuit
    std::vector<double> levels;                   // per cent of the feeder's load, increasing
    std::vector<std::string> placements;          // random, near, far
    int seeds = 1;                                // random placements a level
    double pv_ratio = 2;
    std::optional<std::filesystem::path> criteria;
    bool without_circuit_pv = false;              // the circuit's own PV out of every case
    std::optional<double> load_mult;              // the engine's LoadMult in every case
    std::string load_at;                          // "HH:MM": loads held at their shapes' value then
    // Each case's added PV systems' inverters, a case dimension as placements are: unity, pf=0.95,
    // volt-var, volt-watt, volt-var+volt-watt; and their settings.
    std::vector<std::string> inverters{"unity"};
    double kva_ratio = 1.1;
    std::optional<double> inverter_response;
    std::optional<std::filesystem::path> volt_var_curve, volt_watt_curve;
    // Cases of a search by bus, planned beside the matrix under the first inverter mode. Cases
    // planned before and not named again stay while their inputs are as they were.
    std::vector<Plant> plants;
    // Drawn buses a search will stand plants at: every sky must give each its loadshape.
    std::vector<std::string> search_buses;
};

// A load where a PV system may stand, in the circuit's order.
struct Site {
    std::string load;       // "Load.s1a"
    std::string bus;        // lower case, without nodes
    std::string bus1;       // as named: "s1a.1.2"
    std::string drawn_bus;  // whose sky it takes
    int phases = 3;
    double kv = 12.47;
    double kw = 0;
    bool delta = false;
    std::optional<double> km;  // from the source, as the import measured it
};

// The sites in the order a placement takes them: random (by `seed`), near (nearest the source
// first) or far (farthest first); sites without a distance come last, in the circuit's order.
[[nodiscard]] std::vector<std::size_t> site_order(const std::vector<Site>& sites, const std::string& placement, int seed);

// A PV system of a case: a site, and its size in kW.
struct Placed {
    std::size_t site = 0;
    double kw = 0;
};

// The systems that total `target_kw`: each site in `order` sized `ratio` x its load's kW, the last
// trimmed. Throws SweepError where the sites cannot hold it.
[[nodiscard]] std::vector<Placed> place_pv(const std::vector<Site>& sites, const std::vector<std::size_t>& order,
                                           double ratio, double target_kw);

struct PlanResult {
    Record record;
    std::vector<Case> cases;   // all of cases.csv
    int written = 0;           // case folders written now
    int kept = 0;              // already there as planned
    int replaced = 0;          // cases planned before for inputs that have changed since, removed
    std::vector<std::string> notes;     // what the plan did that the user should know: the load, ...
    std::vector<std::string> warnings;
};

// Throws SweepError, in one line with the commands that make one, where the sky folder `sky` was
// not imported from the circuit entry file `circuit` (absolute).
void refuse_sky_of_another_circuit(const std::filesystem::path& sky, const std::filesystem::path& circuit);

// Throws SweepError (or WriteError's message as one) and leaves cases.csv as it was.
[[nodiscard]] PlanResult plan_sweep(const PlanOptions& options);

// The PV systems file of a case.
[[nodiscard]] std::string pv_file_text(const Case& c, const std::vector<Site>& sites, const std::vector<Placed>& placed,
                                       double ratio);

}  // namespace umbrascope::sweep

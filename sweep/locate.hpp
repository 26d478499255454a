#pragma once
// A search by bus: for each candidate bus, the largest PV plant it can take under each sky and
// under the clear sky, found by bisection, each size a case of the sweep's folder run by the same
// worker as the sweep's, each sky's base shared with the sweep. Rounds of cases are planned from
// the cases judged so far, until every bus is found.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sweep/plan.hpp"

namespace umbrascope::sweep {

inline constexpr std::string_view locate_name = "locate.txt";
inline constexpr std::string_view locate_buses_name = "locate_buses.csv";
inline constexpr std::string_view locate_rounds_name = "locate_rounds.csv";
inline constexpr std::string_view locational_name = "locational_hc.csv";

struct LocateOptions {
    PlanOptions plan;                 // the circuit, skies, criteria, load and inverter, as plan takes them
    std::string buses = "three-phase";  // primary, three-phase, loads, or a file of buses
    std::optional<double> max_kw;     // default: the feeder's load
    std::optional<double> resolution_kw;  // default: the maximum / 64
};

struct LocateResult {
    PlanResult planned;               // the skies' bases
    int candidates = 0;
    double max_kw = 0, resolution_kw = 0;
    std::vector<std::string> notes;
};

// Checks the buses, plans each sky's base and records the search. Throws SweepError, having
// changed no file, for a bus the circuit does not have, a bus no element reaches, a resolution
// above the maximum, a maximum of zero or a sky of another circuit.
[[nodiscard]] LocateResult plan_locate(const LocateOptions& options);

// The command that plans `sweep`'s search again, as planned; nothing where it holds none. Throws
// SweepError where its files cannot be read.
[[nodiscard]] std::optional<std::string> locate_command(const std::filesystem::path& sweep);

// Whether `sweep` holds a search by bus.
[[nodiscard]] bool has_search(const std::filesystem::path& sweep);

// Where a search stands.
struct SearchRound {
    int round = 0;           // rounds planned so far
    int planned = 0;         // cases this call planned
    int buses = 0, found = 0, left = 0;
    bool bases_left = false;  // a sky's base has not run: the buses' kV is not known yet
    // Cases a bus's search awaits that failed: "bus 632: case ID failed: reason".
    std::vector<std::string> blocked;
    std::vector<std::string> contrary;  // buses where a larger size passed after a smaller failed
    std::vector<std::string> notes;
};

// Judges the cases run, and plans the next round where no bus awaits a case (`plan`); only says
// where it stands otherwise. Throws SweepError.
[[nodiscard]] SearchRound advance_search(const std::filesystem::path& sweep, bool plan);

struct LocateReport {
    std::vector<std::filesystem::path> written;
    std::vector<std::string> summary;
    bool answered = false;  // every bus found, or --partial
};

// locational_hc.csv, its map as SVG and PNG, and locational_summary.txt. Without `partial`, writes
// nothing while a bus is not found. Throws SweepError.
[[nodiscard]] LocateReport write_locate_report(const std::filesystem::path& sweep, bool partial);

}  // namespace umbrascope::sweep

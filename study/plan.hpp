#pragma once
// The study script: which element terminals to watch so that every phase node of every drawn bus,
// and of every customer's bus a drawn bus stands for, is seen by a monitor; the OpenDSS script
// that runs the sky's time series and exports what they saw; and the map of each monitor column to
// its bus and node.

#include <filesystem>
#include <string>
#include <vector>

#include "import/circuit.hpp"
#include "study/folder.hpp"

namespace umbrascope::study {

struct Monitor {
    std::string name;       // "study_v1"
    std::string element;    // "Line.650632", as the circuit spells it
    int terminal = 1;
    std::string bus;        // the terminal's bus, lower case
    std::string drawn_bus;  // the drawn bus it counts for, as the network file names it
    std::vector<int> nodes; // each conductor's node, conductor k at nodes[k - 1]; 0 is ground
};

struct Plan {
    std::vector<Monitor> monitors;  // by drawn bus, in the network's order
    int drawn = 0;                  // drawn buses watched
    int customers = 0;              // other buses watched for them
    int nodes = 0;                  // phase nodes seen
    std::vector<std::string> unseen;  // drawn buses no element in service reaches
};

// Chooses the terminals: at each bus, the fewest that see all its phase nodes (1, 2, 3) as the
// elements in service name them, taking loads and other customers' elements first, then lines.
[[nodiscard]] Plan plan_monitors(const import::Circuit& circuit, const Drawn& drawn,
                                 const std::vector<StandIn>& stand_ins);

// The map file: "monitor,element,terminal,conductor,bus,node,drawn_bus", a line a conductor.
[[nodiscard]] std::string map_text(const Plan& plan);
// Reads it back. Throws StudyError.
[[nodiscard]] std::vector<Monitor> read_map(const std::filesystem::path& path);

struct ScriptFacts {
    std::filesystem::path circuit;   // the entry file, absolute
    std::string circuit_name;
    std::filesystem::path shapes;    // the loadshapes, absolute
    std::filesystem::path folder;    // the scenario's folder, absolute
    std::filesystem::path results;   // where the exports go, absolute
    int rows = 0;
    double interval = 0;
    std::string sky_fingerprint;  // of the sun table the study is written for
};

// The OpenDSS script. Throws StudyError for a path no OpenDSS command can name.
[[nodiscard]] std::string script_text(const ScriptFacts& facts, const Plan& plan);

}  // namespace umbrascope::study

#pragma once
// The network an import writes: every bus of the coordinate table, in its order, and a connection
// for each pair of them that the circuit joins, directly or through buses without coordinates.

#include <string>
#include <utility>
#include <vector>

#include "import/circuit.hpp"
#include "import/tables.hpp"

namespace umbrascope::import {

inline constexpr int most_network_entries = 32767;  // buses or connections Umbrascope takes

struct Network {
    std::vector<Bus> buses;
    std::vector<std::pair<int, int>> connections;  // indexes into `buses`, in the order the circuit joins them
    int elements = 0;        // circuit elements naming buses
    int bridged = 0;         // circuit buses without coordinates, passed through
    int parts = 0;           // separate parts of the network as drawn
    int not_in_circuit = 0;  // buses with coordinates that no element names
    std::vector<std::string> unplaced;  // the first few circuit buses without coordinates
};

// Joins the buses of `table` as `circuit` does. Throws ImportError past Umbrascope's bounds.
[[nodiscard]] Network join_network(CoordinateTable table, const Circuit& circuit);

// The network file's text. `origin` goes into its first line. Throws ImportError for a bus name
// that cannot stand in the file.
[[nodiscard]] std::string network_file_text(const Network& network, const std::string& origin);

// What the import did, in a sentence or two for the user; `branch_table` for the two-table form.
[[nodiscard]] std::string summary(const Network& network, const Circuit& circuit, const CoordinateTable& table,
                                  bool branch_table);

}  // namespace umbrascope::import

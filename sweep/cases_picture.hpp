#pragma once
// The picture engineers draw of a sweep: a panel for each criterion that decided or came near,
// every case a dot at its PV level and its figure, coloured by placement and shaped by its
// inverters' mode, the criterion's limit a line across and each mode's hosting capacity marked.

#include <optional>
#include <string>
#include <vector>

namespace umbrascope::sweep {

struct CaseDot {
    double level = 0;       // per cent of the feeder's load
    double value = 0;       // the case's figure
    std::string placement;  // near, far, random; none for a base
    std::string inverter;
};

struct Panel {
    std::string title;               // "Highest voltage"
    std::string unit;                // "pu"
    std::vector<CaseDot> dots;
    std::optional<double> limit;     // the criterion's, where it has one
};

struct CasesPicture {
    std::vector<Panel> panels;
    std::vector<std::string> inverters;  // the modes, in the sweep's order: their dots' shapes
    // Each mode's hosting capacity over every sky and placement, per cent; none where it has none.
    std::vector<std::optional<double>> capacity;
};

[[nodiscard]] std::string cases_svg(const CasesPicture& picture);
// Throws WriteError where the encoder fails.
[[nodiscard]] std::string cases_png(const CasesPicture& picture);

}  // namespace umbrascope::sweep

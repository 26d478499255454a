#pragma once
// A case's lines and transformers as the sweep judges them: each element's loading from the case's
// loading_report.csv, set against the same sky's case without added PV. An element over a rating
// there is the feeder's own: it fails a case only where the case's PV makes it worse by more than
// one percentage point.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "sweep/criteria.hpp"

namespace umbrascope::sweep {

// One element's row of loading_report.csv.
struct ElementLoading {
    double max_pct = 0;  // of normal, at any second
    int max_row = 0;
    double s_over_normal = 0;
    double s_over_emergency = 0;
    double window_pct = 0;  // the highest moving average, of normal
    int window_row = 0;
    double normal_a = 0;
    double emergency_a = 0;
    bool rated = false;  // by the circuit, not the engine's defaults
    // Its highest loading in per cent of its emergency rating, at the row of its highest of normal.
    [[nodiscard]] double emergency_pct() const { return emergency_a > 0 ? max_pct * normal_a / emergency_a : 0; }
};

// Each element's loading under the sky and under the clear sky, by element.
struct LoadingReport {
    std::map<std::string, ElementLoading> sky, clear;
};
// Reads a case's loading_report.csv. Throws SweepError naming the file.
[[nodiscard]] LoadingReport read_loading_report(const std::filesystem::path& path);

// What failed a loading criterion: the element, its figure and the row.
struct Excess {
    std::string element;
    double value = 0;
    int row = 0;
};

// A case's loading under one sky, as sweep_report.csv gives it and the criteria judge it.
struct LoadingFigures {
    // Over the elements judged (rated by the circuit, or all with judge_default_ratings) that were
    // over no rating in the base: the most loaded at any second, its seconds over normal; the
    // highest moving average; the most seconds one spent over its emergency rating.
    std::optional<double> max_pct;
    std::string element;
    double s_over = 0;
    std::optional<double> window_pct;
    double emergency_s_over = 0;
    // The worst element failing max_loading_pct (on the moving average) and max_emergency_pct.
    std::optional<Excess> over_normal, over_emergency;
    // Elements the engine's defaults rate, which are not judged, over their normal rating.
    int unrated_over = 0;
    std::optional<Excess> unrated_most;
};
// `base` is the same sky's case without added PV, where it has a loading report.
[[nodiscard]] LoadingFigures loading_figures(const std::map<std::string, ElementLoading>& own,
                                             const std::map<std::string, ElementLoading>* base, const Criteria& criteria);

}  // namespace umbrascope::sweep

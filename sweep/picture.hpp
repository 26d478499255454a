#pragma once
// The sweep's answer as a picture: the case matrix as a grid, levels across and placement x seed x
// sky down, each case green where it passes and red where it fails, with the failing criterion's
// letter; each sky's hosting capacity a black line after its level, the clear sky's a blue dashed
// one beside it.

#include <optional>
#include <string>
#include <vector>

namespace umbrascope::sweep {

struct Cell {
    enum State { passes, fails, missing };
    double level = 0;
    std::string sky, placement;
    int seed = 0;
    std::string inverter;  // its inverters' mode where a sweep has several; "" otherwise, and for a base
    State state = missing;
    char letter = ' ';
    bool clear_fails = false;  // under the clear-sky twin
};

struct PictureSky {
    std::string name;
    std::string inverter;  // the mode its answer is of, where a sweep has several
    std::optional<double> hc, clear_hc;
};

struct Picture {
    std::vector<PictureSky> skies;
    std::vector<Cell> cells;
    bool partial = false;
};

// Text as SVG holds it: &, <, > and " as entities.
[[nodiscard]] std::string xml_text(const std::string& text);

[[nodiscard]] std::string picture_svg(const Picture& picture);
// Throws WriteError where the encoder fails.
[[nodiscard]] std::string picture_png(const Picture& picture);

}  // namespace umbrascope::sweep

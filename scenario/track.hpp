#pragma once
// Cloud tracks as files hold them, for the scenario maker: the parameter line's cloud shape and the
// records "step,x,y", one per cloud and step.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/words.hpp"

namespace umbrascope::scenario {

// Input or options a scenario cannot be made from; the message names the file and line where
// there is one.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CloudShape {
    double side = 0;       // of the turned square
    double core = 0;       // radius 1: the dense core
    double edge = 0;       // radius 2: the thin edge
    double angle = 0;      // of the square, degrees
    double threshold = 0;  // the sun intensity below which a bus is shaded
};

struct CloudAt {
    int step = 0;
    double x = 0;
    double y = 0;
};

struct Track {
    CloudShape shape;
    std::vector<CloudAt> records;  // in step order
    [[nodiscard]] int last_step() const { return records.empty() ? 0 : records.back().step; }
};

// Reads a track file: three free lines, the parameter line (side, radius 1, radius 2, angle and
// threshold in fields 4, 5, 6, 8 and 9, nine commas at least), then the records in step order.
[[nodiscard]] Track read_track(std::string_view text, const std::string& file);

// A track file's text: `about` is its second line; numbers with `decimals` places.
[[nodiscard]] std::string track_text(const Track& track, const std::string& about, int decimals);

}  // namespace umbrascope::scenario

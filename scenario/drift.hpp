#pragma once
// Clouds drifting across a network: each enters on the upwind side, at a random place across the
// wind, and drifts with it, so that a run shows shadows crossing the feeder.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scenario/sun_model.hpp"
#include "scenario/track.hpp"

namespace umbrascope::scenario {

struct DriftOptions {
    int clouds = 3;
    int steps = 120;                // rows
    double interval = 10;           // seconds a row
    std::optional<double> speed;    // network units a second; by default a cloud crosses in half the run
    double from = 270;              // compass degrees the wind blows from
    std::optional<double> core;     // radius 1; by default 8 % of the network's larger span
    std::optional<double> edge;     // radius 2; by default 15 %
    std::optional<double> side;     // of the square; by default 16 %
    double angle = 20;
    double threshold = 0.6;
    std::uint64_t seed = 1;
    // What one network unit is in metres, when known: the wind is then told in m/s, and the track
    // written finely enough to show a row's drift to a hundredth of a unit.
    std::optional<double> metres_per_unit;
};

struct Drift {
    Track track;
    std::string about;  // one line saying what the clouds are
    int decimals = 0;   // places the track's numbers are written with
    double speed = 0;   // network units a second
    double span = 0;    // the network's larger span, network units
    double along = 0;   // the network's extent along the wind, network units
};

// Throws ScenarioError for a network without buses or radii out of order.
[[nodiscard]] Drift drifting_clouds(const std::vector<Place>& buses, const DriftOptions& options);

}  // namespace umbrascope::scenario

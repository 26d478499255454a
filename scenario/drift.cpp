#include "scenario/drift.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

namespace umbrascope::scenario {

namespace {

// A uniform draw from [0, 1), the same on every platform for a seed.
double uniform(std::mt19937_64& random) { return static_cast<double>(random() >> 11) * 0x1.0p-53; }

}  // namespace

Drift drifting_clouds(const std::vector<Place>& buses, const DriftOptions& options)
{
    if (buses.empty())
        throw ScenarioError("the network has no buses, so no cloud can cross it");
    double x_min = buses[0].x, x_max = x_min, y_min = buses[0].y, y_max = y_min;
    for (const Place& bus : buses) {
        x_min = std::min(x_min, bus.x);
        x_max = std::max(x_max, bus.x);
        y_min = std::min(y_min, bus.y);
        y_max = std::max(y_max, bus.y);
    }
    double span = std::max(x_max - x_min, y_max - y_min);
    if (!(span > 0))
        span = 1;

    Drift drift;
    // Enough places for a hundredth of a per cent of the span.
    drift.decimals = std::clamp(3 - static_cast<int>(std::floor(std::log10(span))), options.metres_per_unit ? 2 : 0, 9);
    drift.span = span;
    CloudShape& shape = drift.track.shape;
    shape.core = options.core.value_or(0.08 * span);
    shape.edge = options.edge.value_or(0.15 * span);
    shape.side = options.side.value_or(0.16 * span);
    shape.angle = options.angle;
    shape.threshold = options.threshold;
    if (!(shape.core > 0 && shape.edge > shape.core)) {
        // In the units the user gave, and saying which radius was the default.
        const double unit = options.metres_per_unit.value_or(1);
        const char* units = options.metres_per_unit ? " m" : " network units";
        std::string radii = "radius 1 (--core) must be above 0 and below radius 2 (--edge): they are ";
        append_decimal(radii, shape.core * unit, 2);
        radii += options.core ? "" : " by default (8 % of the feeder's span)";
        radii += " and ";
        append_decimal(radii, shape.edge * unit, 2);
        radii += options.edge ? units : std::string(units) + " by default (15 % of the feeder's span)";
        throw ScenarioError(radii);
    }

    // Along the wind and across it.
    const double toward = (options.from + 180) * std::numbers::pi / 180;
    const Place along{std::sin(toward), std::cos(toward)};
    const Place across{along.y, -along.x};
    constexpr double far = std::numeric_limits<double>::infinity();
    double a_min = far, a_max = -far, c_min = far, c_max = -far;
    for (const Place& bus : buses) {
        const double a = bus.x * along.x + bus.y * along.y;
        const double c = bus.x * across.x + bus.y * across.y;
        a_min = std::min(a_min, a);
        a_max = std::max(a_max, a);
        c_min = std::min(c_min, c);
        c_max = std::max(c_max, c);
    }
    const double run = std::max(1, options.steps - 1) * options.interval;
    const double crossing = a_max - a_min + 2 * shape.edge;
    drift.speed = options.speed.value_or(crossing / (run / 2));
    drift.along = a_max - a_min;

    std::mt19937_64 random(options.seed);
    struct Path {
        double start;   // along the wind at the first row
        double offset;  // across it
    };
    std::vector<Path> paths;
    for (int i = 0; i < options.clouds; ++i) {
        // Upwind of the feeder, near enough to reach it within the first half of the run; a still
        // cloud stands somewhere over it.
        const double start = drift.speed > 0 ? a_min - shape.edge - uniform(random) * drift.speed * run / 2
                                             : a_min + uniform(random) * (a_max - a_min);
        paths.push_back({start, c_min + uniform(random) * (c_max - c_min)});
    }
    drift.track.records.reserve(static_cast<std::size_t>(options.steps) * paths.size());
    for (int step = 1; step <= options.steps; ++step) {
        const double moved = drift.speed * (step - 1) * options.interval;
        for (const Path& path : paths) {
            const double a = path.start + moved;
            drift.track.records.push_back(
                {step, a * along.x + path.offset * across.x, a * along.y + path.offset * across.y});
        }
    }

    std::string speed;
    if (options.metres_per_unit) {
        append_decimal(speed, drift.speed * *options.metres_per_unit, 3);
        speed += " m/s";
    } else {
        append_decimal(speed, drift.speed, drift.decimals + 2);
        speed += " network units a second";
    }
    std::string from;
    append_decimal(from, options.from, 3);
    drift.about = std::to_string(options.clouds) + (options.clouds == 1 ? " cloud" : " clouds") + " on a wind of " +
                  speed + " from " + from + " degrees, seed " + std::to_string(options.seed);
    return drift;
}

}  // namespace umbrascope::scenario

#pragma once
// Every load of a sweep's cases held at one load: each at its daily shape's value at a clock time
// (else its yearly shape's, on a day of the year), read from the loadshapes as the circuit defines
// them and found point by point as the engine finds it, so that cases are judged at a light
// daytime load rather than at each load's base kW.

#include <optional>
#include <string>
#include <vector>

#include "import/circuit.hpp"

namespace umbrascope::sweep {

// When the loads are held: a clock time, and the day of the year for yearly shapes.
struct LoadTime {
    double hour = 0;                 // of the day, 0 to 24
    std::optional<int> day;          // 1 to 365, where the day was given
    std::string text;                // as given
};
// "HH:MM", or "MM-DD HH:MM" (a day of a year of 365 days). Throws SweepError.
[[nodiscard]] LoadTime load_time(const std::string& text);

// A loadshape's multipliers as the circuit defines them, for the value at an hour.
struct Shape {
    std::vector<double> mult, qmult, hours;  // hours empty where the points are `interval` apart
    double interval = 1;                     // hours
};
// Reads the definition, files and all. Throws SweepError naming what it cannot read.
[[nodiscard]] Shape read_shape(const import::LoadshapeDefinition& definition);
// The multiplier at `hour` from the shape's start, as the engine takes it: the point whose time
// (point k at k x interval) is nearest, a tie to the even, the points wrapping round; between
// given hours, the straight line between them.
[[nodiscard]] double shape_value(const std::vector<double>& values, const Shape& shape, double hour);

struct LoadsHeld {
    std::string lines;  // for every case's circuit: one-point loadshapes, and each load's duty= one
    std::string said;   // what was done, for the plan's summary
};
// Throws SweepError where a shape cannot be read, or a load follows only a yearly shape and no
// day was given.
[[nodiscard]] LoadsHeld hold_loads_at(const import::Circuit& circuit, const std::string& when, double interval_s);

}  // namespace umbrascope::sweep

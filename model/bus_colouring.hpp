#pragma once
// A reading of the run other than the sunlight classes that gives each bus's disc a colour of its
// own, row by row: the voltages a study brought back, say.

#include <optional>

#include "core/world.hpp"

namespace umbrascope {

class BusColouring {
public:
    virtual ~BusColouring() = default;
    // The colour of bus `bus`'s disc in row `row` (both from 1), or nothing for the sunlight class.
    [[nodiscard]] virtual std::optional<Colour> disc_colour(int row, int bus) const = 0;
    // Whether its disc goes above the others, drawn after them, so that a lone one is seen.
    [[nodiscard]] virtual bool drawn_above(int /*row*/, int /*bus*/) const { return false; }
};

}  // namespace umbrascope

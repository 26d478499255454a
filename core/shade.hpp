#pragma once
// The shade a measured sky lays on the map: the white of the plot, tinted toward a cloud's slate
// grey as the clear-sky index falls, in a few steps, so that frames keep to a fixed palette.

#include <array>

#include "core/world.hpp"

namespace umbrascope {

inline constexpr int shade_levels = 6;

// The step of an index: 0 (no shade) at 0.95 and above, then 1 to shade_levels as it falls to 0.
[[nodiscard]] constexpr int shade_level(double index)
{
    if (!(index < 0.95))
        return 0;
    if (!(index > 0))
        return shade_levels;
    return 1 + static_cast<int>((0.95 - index) / 0.95 * shade_levels * 0.9999);
}

// The colour of step `level` (1 to shade_levels): white blended toward a cloud's slate grey, at most
// two fifths of the way, so that the network stays clear on the darkest shade.
[[nodiscard]] constexpr Colour shade_colour(int level)
{
    constexpr std::array<Colour, shade_levels> colours{{
        {238, 240, 243}, {226, 229, 234}, {214, 218, 225}, {202, 207, 216}, {190, 196, 207}, {178, 185, 198},
    }};
    return colours[static_cast<std::size_t>(level - 1)];
}

}  // namespace umbrascope

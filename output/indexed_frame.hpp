#pragma once
// A frame as the files hold it: 8-bit indices into one fixed palette, the standard 16 colours
// followed by the window face. Every picture the passes draw uses only these colours, so PNG and
// GIF frames need no quantising and stay pixel-exact.

#include <array>
#include <cstdint>
#include <vector>

#include "core/service_voltage.hpp"
#include "core/shade.hpp"
#include "core/world.hpp"

namespace umbrascope {

inline constexpr Colour window_face{240, 240, 240};
inline constexpr int frame_palette_size = 17;
// With buses coloured by voltage, the six voltage classes' colours follow.
inline constexpr int voltage_palette_size = frame_palette_size + voltage_classes;
// With a measured sky's shade on the map, its steps' colours follow those.
inline constexpr int shade_palette_size = voltage_palette_size + shade_levels;

// The 16 palette colours by index, the window face at index 16, the voltage classes', then the
// shade's steps.
[[nodiscard]] const std::array<Colour, shade_palette_size>& frame_palette();
// The palette's entries a frame needs whose highest index is `highest`.
[[nodiscard]] constexpr int palette_entries(int highest)
{
    return highest >= voltage_palette_size ? shade_palette_size : highest >= frame_palette_size ? voltage_palette_size
                                                                                                  : frame_palette_size;
}

struct IndexedFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // row by row, no padding
    int colours = frame_palette_size;  // the palette's entries the files carry
};

// The palette index of a 0xRRGGBB colour, or of its nearest colour among the first 17.
[[nodiscard]] std::uint8_t palette_index(std::uint32_t rgb);

// Indexes 32-bit 0xAARRGGBB pixels (alpha ignored). A colour outside the palette takes its
// nearest palette colour, so nothing fails; the passes never draw one.
void index_pixels(const std::uint32_t* argb, int width, int height, int stride_pixels, IndexedFrame& into);

}  // namespace umbrascope

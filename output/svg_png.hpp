#pragma once
// An SVG picture drawn into a PNG file by librsvg, labels, legend and all: the PNG is the SVG.

#include <string>
#include <string_view>

namespace umbrascope {

// The PNG file's bytes of `svg` drawn at `scale` times its own size on white. Throws WriteError
// where the SVG cannot be read or drawn.
[[nodiscard]] std::string svg_to_png(std::string_view svg, double scale = 2);

}  // namespace umbrascope

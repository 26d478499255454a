#pragma once
// PNG frames as 8-bit palette images, encoded fast: the frames are long runs of one colour, which
// deflate's run-length strategy on unfiltered rows compresses small at a fraction of the time of
// a full search.

#include <cstdint>
#include <string>
#include <vector>

#include "output/indexed_frame.hpp"

namespace umbrascope {

// The PNG file's bytes. Throws WriteError when the encoder fails.
[[nodiscard]] std::string encode_png(const IndexedFrame& frame);

// A picture of 8-bit RGB pixels, row by row, as a PNG file's bytes. Throws WriteError.
[[nodiscard]] std::string encode_rgb_png(int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace umbrascope

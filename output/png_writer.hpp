#pragma once
// PNG frames as 8-bit palette images, encoded fast: the frames are long runs of one colour, which
// deflate's run-length strategy on unfiltered rows compresses small at a fraction of the time of
// a full search.

#include <string>

#include "output/indexed_frame.hpp"

namespace umbrascope {

// The PNG file's bytes. Throws WriteError when the encoder fails.
[[nodiscard]] std::string encode_png(const IndexedFrame& frame);

}  // namespace umbrascope

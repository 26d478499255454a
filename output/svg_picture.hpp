#pragma once
// The picture as vectors: the recorded shapes replayed into an SVG document. The classic frame is
// drawn in plot units; a frame of another size in its pixels, through the same view as its raster.

#include <QByteArray>

#include "output/frame_picture.hpp"
#include "render/picture.hpp"

namespace umbrascope {

// The frame of `options` (the band and the names included when asked for) as an SVG document.
[[nodiscard]] QByteArray picture_svg(const Picture& picture, const FrameFacts& facts, const FrameOptions& options);

}  // namespace umbrascope

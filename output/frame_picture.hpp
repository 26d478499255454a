#pragma once
// The exported frame of the picture shown now, as the exporter writes it and the window saves it:
// the plot frame with its border, cropped from the window's background and the retained picture.
// Options add bus names beside the markers, and a band under the picture with the time, the row
// and a legend of the bus colours; the picture's own pixels above the band are unchanged.

#include <QImage>
#include <functional>

#include "app/canvas.hpp"
#include "core/run_state.hpp"
#include "output/indexed_frame.hpp"

class QPainter;
class QRectF;

namespace umbrascope {

struct FrameOptions {
    bool annotate = false;
    bool labels = false;
};

// What the band says: the row the picture shows (the row the pass drew, also when it failed
// part-way) and the run state it came from.
struct FrameFacts {
    const RunState& st;
    int row = 0;
};

inline constexpr int annotation_band_pixels = 44;

// At 1 pixel per 15 twips, in the frame palette's colours only.
[[nodiscard]] QImage compose_frame(const Canvas& canvas, const FrameFacts& facts, const FrameOptions& options);
void index_frame(const QImage& frame, IndexedFrame& into);
// compose_frame then index_frame, with a direct path for plain frames.
void compose_indexed_frame(const Canvas& canvas, const FrameFacts& facts, const FrameOptions& options,
                           IndexedFrame& into);

// Draws the labels and the band with a painter whose unit is one frame pixel, origin at the
// frame's top-left corner; the SVG frames use it with a painter in twips, scaled.
void paint_frame_extras(QPainter& painter, const FrameFacts& facts, const FrameOptions& options);

// The row the picture shows after a pass: i_time has moved on past it unless the pass failed.
[[nodiscard]] int shown_row(const RunState& st, bool pass_failed);

}  // namespace umbrascope

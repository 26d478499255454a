#pragma once
// The picture as vectors: every drawing since the last fill that covered the whole exported frame,
// replayed into an SVG in plot units.

#include <QByteArray>
#include <functional>
#include <vector>

#include "core/world.hpp"

class QPainter;

namespace umbrascope {

class SvgPicture : public Surface {
public:
    void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void draw_circle(Single x, Single y, Single radius, Colour colour) override;
    void set_line_style(LineStyle style) override { style_ = style; }

    // The frame with its border as an SVG document, in plot units. `extras` paints over it with a
    // painter whose unit is one frame pixel, origin at the frame's corner, on a canvas
    // `band_pixels` taller than the frame.
    [[nodiscard]] QByteArray svg(const std::function<void(QPainter&)>& extras = {}, int band_pixels = 0) const;

private:
    enum class Kind { line, box, circle };
    struct Shape {
        Kind kind;
        Single a, b, c, d;
        Colour colour;
        LineStyle style;
    };
    std::vector<Shape> shapes_;
    LineStyle style_ = LineStyle::solid;
};

}  // namespace umbrascope

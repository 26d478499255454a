#pragma once
// The retained picture: the drawing surface rasterised into an image the size of the client area
// at the screen's device pixel ratio, transparent where nothing has been drawn, and drawn only
// inside the white fill of the plot frame and its border. The window paints
// it over its background and frame lines; the exporter saves it.

#include <QColor>
#include <QImage>

#include "core/raster.hpp"

namespace umbrascope {

// A colour of the core's as Qt paints it.
[[nodiscard]] inline QColor qcolour(Colour c) { return {c.r, c.g, c.b}; }

class Canvas : public Surface {
public:
    explicit Canvas(qreal device_pixel_ratio = 1.0);
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void draw_circle(Single x, Single y, Single radius, Colour colour) override;
    void set_line_style(LineStyle style) override;

    void clear();  // back to nothing drawn

    // Never keep a copy: the raster writes into this image's pixels in place.
    [[nodiscard]] const QImage& image() const { return image_; }
    [[nodiscard]] LineStyle line_style() const { return raster_.line_style(); }

private:
    QImage image_;
    RasterSurface raster_;
};

// The window's look without the picture: the button-face background and the four frame lines.
[[nodiscard]] QImage window_background(qreal device_pixel_ratio, QColor face, QColor lines);

// The plot frame and its 20-unit border, in twips, as the exporter crops it.
[[nodiscard]] QRect frame_pixels(qreal device_pixel_ratio);

}  // namespace umbrascope

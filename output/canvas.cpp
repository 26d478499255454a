#include "output/canvas.hpp"

#include <QPainter>
#include <cmath>

#include "core/layout.hpp"

namespace umbrascope {

namespace {

QImage blank_image(qreal dpr)
{
    const int width = static_cast<int>(std::ceil(layout::client_width / double{layout::twips_per_pixel} * dpr));
    const int height = static_cast<int>(std::ceil(layout::client_height / double{layout::twips_per_pixel} * dpr));
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(dpr);
    return image;
}

Colour colour_of(QColor colour)
{
    return {static_cast<std::uint8_t>(colour.red()), static_cast<std::uint8_t>(colour.green()),
            static_cast<std::uint8_t>(colour.blue())};
}

}  // namespace

Canvas::Canvas(qreal device_pixel_ratio)
    : image_(blank_image(device_pixel_ratio)),
      raster_(reinterpret_cast<std::uint32_t*>(image_.bits()), image_.width(), image_.height(),
              static_cast<int>(image_.bytesPerLine() / 4), device_pixel_ratio / layout::twips_per_pixel)
{
    // Only the white fill erases what an earlier pass drew, so nothing is drawn outside it: a cloud
    // near the frame's edge would otherwise leave strokes on the window that no pass wipes.
    const QRect fill = frame_pixels(device_pixel_ratio);
    raster_.set_clip(fill.left(), fill.top(), fill.right(), fill.bottom());
}

void Canvas::clear() { image_.fill(Qt::transparent); }

void Canvas::draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) { raster_.draw_line(x1, y1, x2, y2, colour); }
void Canvas::fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) { raster_.fill_box(x1, y1, x2, y2, colour); }
void Canvas::draw_circle(Single x, Single y, Single radius, Colour colour) { raster_.draw_circle(x, y, radius, colour); }
void Canvas::set_line_style(LineStyle style) { raster_.set_line_style(style); }

QImage window_background(qreal device_pixel_ratio, QColor face, QColor lines)
{
    QImage image = blank_image(device_pixel_ratio);
    image.fill(face);
    RasterSurface raster(reinterpret_cast<std::uint32_t*>(image.bits()), image.width(), image.height(),
                         static_cast<int>(image.bytesPerLine() / 4), device_pixel_ratio / layout::twips_per_pixel);
    for (const layout::Line& line : layout::lines)
        raster.draw_line(line.ends.X1, line.ends.Y1, line.ends.X2, line.ends.Y2, colour_of(lines));
    return image;
}

QRect frame_pixels(qreal device_pixel_ratio)
{
    const double scale = device_pixel_ratio / layout::twips_per_pixel;
    const LineEnds left = layout::design_ends(LineControl::Line_Left);
    const LineEnds right = layout::design_ends(LineControl::Line_Right);
    const auto px = [scale](double twips) { return static_cast<int>(std::lround(twips * scale)); };
    return QRect(QPoint(px(left.X1 - 20), px(left.Y1 - 20)), QPoint(px(right.X2 + 20), px(right.Y2 + 20)));
}

}  // namespace umbrascope

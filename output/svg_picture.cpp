#include "output/svg_picture.hpp"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>

#include "core/layout.hpp"

namespace umbrascope {

namespace {

// One pixel wide at the painter's scale of `pixel` plot units a pixel.
QPen pen(Colour colour, LineStyle style, double pixel)
{
    QPen result(qcolour(colour), pixel);
    result.setCapStyle(Qt::FlatCap);
    if (style == LineStyle::dotted)
        result.setDashPattern({1.0, 1.0});
    return result;
}

}  // namespace

QByteArray picture_svg(const Picture& picture, const FrameFacts& facts, const FrameOptions& options)
{
    const PlotRect frame = frame_rect();
    const int band = band_pixels(options);
    const bool sized = options.sized();
    // The classic frame in plot units, 15 to the pixel; a sized one in pixels.
    const double unit = sized ? 1.0 : layout::twips_per_pixel;
    const QRectF area = sized ? QRectF(0, 0, map_pixels(options), options.height - band)
                              : QRectF(QPointF(frame.left, frame.top), QPointF(frame.right, frame.bottom));
    const QRectF page = area.adjusted(0, 0, sized ? options.width - area.width() : 0, band * unit);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(QSize(static_cast<int>(page.width() / unit), static_cast<int>(page.height() / unit)));
    generator.setViewBox(page);
    generator.setTitle(QStringLiteral("Umbrascope frame"));
    QPainter painter;
    if (!painter.begin(&generator))
        return {};
    painter.fillRect(page, sized ? QColor(Qt::white) : QColor(240, 240, 240));
    painter.setClipRect(area);
    if (!sized) {
        painter.setPen(QPen(Qt::black, unit));
        for (const layout::Line& line : layout::lines)
            painter.drawLine(QPointF(line.ends.X1, line.ends.Y1), QPointF(line.ends.X2, line.ends.Y2));
    }
    const View view = frame_view(facts.st, options);
    // Plot units to the page: themselves in the classic frame, the view's pixels otherwise.
    const auto at = [&](double x, double y) { return sized ? QPointF(view.x(x), view.y(y)) : QPointF(x, y); };
    const double geography = sized ? view.scale : 1.0;
    const double symbol = sized ? view.symbols() : 1.0;
    for (const Shape& shape : picture.shapes()) {
        switch (shape.kind) {
        case ShapeKind::line:
            painter.setPen(pen(shape.colour, shape.style, unit));
            painter.drawLine(at(shape.a, shape.b), at(shape.c, shape.d));
            break;
        case ShapeKind::box:
            if (sized)
                painter.fillRect(area, qcolour(shape.colour));
            else
                painter.fillRect(QRectF(QPointF(shape.a, shape.b), QPointF(shape.c, shape.d)).normalized(),
                                 qcolour(shape.colour));
            break;
        case ShapeKind::circle:
            if (shape.c > 0) {
                const double radius = shape.c * (shape.role == Role::bus ? symbol : geography);
                painter.setPen(pen(shape.colour, shape.style, unit));
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(at(shape.a, shape.b), radius, radius);
            }
            break;
        }
    }
    if (options.annotate || options.labels || options.shows_profile()) {
        painter.setClipping(false);
        painter.translate(page.topLeft());
        painter.scale(unit, unit);
        painter.setPen(QPen(Qt::black, 0));
        paint_frame_extras(painter, facts, options);
    }
    painter.end();
    return bytes;
}

}  // namespace umbrascope

#include "output/svg_picture.hpp"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>
#include <algorithm>

#include "core/layout.hpp"

namespace umbrascope {

namespace {

QRectF frame_twips()
{
    const LineEnds left = layout::design_ends(LineControl::Line_Left);
    const LineEnds right = layout::design_ends(LineControl::Line_Right);
    return QRectF(QPointF(left.X1 - 20.0, left.Y1 - 20.0), QPointF(right.X2 + 20.0, right.Y2 + 20.0));
}

QColor qcolour(Colour colour) { return QColor(colour.r, colour.g, colour.b); }

QPen pen(Colour colour, LineStyle style)
{
    QPen result(qcolour(colour), layout::twips_per_pixel);  // one pixel at 15 twips per pixel
    result.setCapStyle(Qt::FlatCap);
    if (style == LineStyle::dotted)
        result.setDashPattern({1.0, 1.0});
    return result;
}

}  // namespace

void SvgPicture::draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    shapes_.push_back({Kind::line, x1, y1, x2, y2, colour, style_});
}

void SvgPicture::fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    const QRectF box = QRectF(QPointF(x1, y1), QPointF(x2, y2)).normalized();
    if (box.contains(frame_twips()))
        shapes_.clear();  // everything earlier is covered
    shapes_.push_back({Kind::box, x1, y1, x2, y2, colour, style_});
}

void SvgPicture::draw_circle(Single x, Single y, Single radius, Colour colour)
{
    shapes_.push_back({Kind::circle, x, y, radius, 0, colour, style_});
}

QByteArray SvgPicture::svg(const std::function<void(QPainter&)>& extras, int band_pixels) const
{
    const QRectF picture = frame_twips();
    const QRectF frame = picture.adjusted(0, 0, 0, band_pixels * layout::twips_per_pixel);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(QSize(static_cast<int>(frame.width() / layout::twips_per_pixel),
                            static_cast<int>(frame.height() / layout::twips_per_pixel)));
    generator.setViewBox(frame);
    generator.setTitle(QStringLiteral("Umbrascope frame"));
    QPainter painter;
    if (!painter.begin(&generator))
        return {};
    painter.fillRect(frame, QColor(240, 240, 240));
    painter.setClipRect(picture);
    painter.setPen(QPen(Qt::black, layout::twips_per_pixel));
    for (const layout::Line& line : layout::lines)
        painter.drawLine(QPointF(line.ends.X1, line.ends.Y1), QPointF(line.ends.X2, line.ends.Y2));
    for (const Shape& shape : shapes_) {
        switch (shape.kind) {
        case Kind::line:
            painter.setPen(pen(shape.colour, shape.style));
            painter.drawLine(QPointF(shape.a, shape.b), QPointF(shape.c, shape.d));
            break;
        case Kind::box:
            painter.fillRect(QRectF(QPointF(shape.a, shape.b), QPointF(shape.c, shape.d)).normalized(), qcolour(shape.colour));
            break;
        case Kind::circle:
            if (shape.c > 0) {
                painter.setPen(pen(shape.colour, shape.style));
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(QPointF(shape.a, shape.b), shape.c, shape.c);
            }
            break;
        }
    }
    if (extras) {
        painter.setClipping(false);
        painter.translate(frame.topLeft());
        painter.scale(layout::twips_per_pixel, layout::twips_per_pixel);
        painter.setPen(QPen(Qt::black, 0));
        extras(painter);
    }
    painter.end();
    return bytes;
}

}  // namespace umbrascope

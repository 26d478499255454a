#include "output/frame_picture.hpp"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

#include "core/layout.hpp"
#include "render/draw_network.hpp"

namespace umbrascope {

namespace {

QColor qcolour(Colour c) { return {c.r, c.g, c.b}; }

// DejaVu Sans, which the package depends on, so frames look the same everywhere; drawn without
// antialiasing so that the text keeps to the palette.
QFont frame_font(int pixel_size, bool bold = false)
{
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
        const QStringList families = id >= 0 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
        return families.isEmpty() ? QStringLiteral("DejaVu Sans") : families.first();
    }();
    QFont font(family);
    font.setPixelSize(pixel_size);
    font.setBold(bold);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QString qtext(const Text& text) { return QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size())); }

QPointF frame_origin_twips()
{
    const LineEnds left = layout::design_ends(LineControl::Line_Left);
    return {left.X1 - 20.0, left.Y1 - 20.0};
}

// Each name above and right of its marker, clear of the branches that run level or upright
// through it; near the right edge, left of the marker instead.
void paint_labels(QPainter& painter, const RunState& st, double width)
{
    painter.setFont(frame_font(10));
    painter.setPen(qcolour(palette(0)));
    const QFontMetrics metrics = painter.fontMetrics();
    const QPointF origin = frame_origin_twips();
    for (int k = 1; k <= st.nbus.value() && k <= 32767; ++k) {
        const auto at = bus_marker_position(st, k);
        if (!at)
            continue;
        const QPointF centre((at->x - origin.x()) / layout::twips_per_pixel, (at->y - origin.y()) / layout::twips_per_pixel);
        const QString name = qtext(st.bus_name.at(Integer(static_cast<std::int16_t>(k)), [] { return std::string(); }));
        const int advance = metrics.horizontalAdvance(name);
        const double x = centre.x() + 7 + advance > width - 2 ? centre.x() - 7 - advance : centre.x() + 7;
        painter.drawText(QPointF(x, centre.y() - 4), name);
    }
}

void paint_band(QPainter& painter, const FrameFacts& facts, double top, double width)
{
    const RunState& st = facts.st;
    painter.fillRect(QRectF(0, top, width, annotation_band_pixels), qcolour(window_face));
    painter.setPen(qcolour(palette(0)));
    painter.setFont(frame_font(12, true));
    Text time;
    if (facts.row >= 0 && facts.row <= 32767)
        time = cell_text(st.time_val.at(Integer(static_cast<std::int16_t>(facts.row)), [] { return std::string(); }));
    const QString first = QStringLiteral("time %1    row %2 / %3")
                              .arg(time.empty() ? QStringLiteral("-") : qtext(time))
                              .arg(facts.row)
                              .arg(st.n_time.value());
    painter.drawText(QPointF(8, top + 16), first);

    painter.setFont(frame_font(11));
    const struct {
        int colour;
        QString text;
    } classes[] = {
        {12, QStringLiteral("above 0.99")},
        {10, QStringLiteral("above %1").arg(qtext(single_text(st.sun_threshold)))},
        {1, QStringLiteral("otherwise")},
    };
    double x = 8;
    for (const auto& c : classes) {
        painter.fillRect(QRectF(x, top + 25, 12, 12), qcolour(palette(c.colour)));
        painter.drawText(QPointF(x + 17, top + 36), c.text);
        x += 17 + painter.fontMetrics().horizontalAdvance(c.text) + 18;
    }
}

}  // namespace

int shown_row(const RunState& st, bool pass_failed) { return pass_failed ? st.i_time.value() : st.i_time.value() - 1; }

void paint_frame_extras(QPainter& painter, const FrameFacts& facts, const FrameOptions& options)
{
    const QRect crop = frame_pixels(1.0);
    if (options.labels) {
        painter.save();
        painter.setClipRect(QRect(0, 0, crop.width(), crop.height()));
        paint_labels(painter, facts.st, crop.width());
        painter.restore();
    }
    if (options.annotate)
        paint_band(painter, facts, crop.height(), crop.width());
}

QImage compose_frame(const Canvas& canvas, const FrameFacts& facts, const FrameOptions& options)
{
    static const QImage background = window_background(1.0, qcolour(window_face), Qt::black);
    const QRect crop = frame_pixels(1.0);
    QImage frame(crop.width(), crop.height() + (options.annotate ? annotation_band_pixels : 0), QImage::Format_RGB32);
    QPainter painter(&frame);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), background, crop);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.drawImage(QPoint(0, 0), canvas.image(), crop);
    paint_frame_extras(painter, facts, options);
    painter.end();
    return frame;
}

void compose_indexed_frame(const Canvas& canvas, const FrameFacts& facts, const FrameOptions& options,
                           IndexedFrame& into)
{
    if (options.annotate || options.labels) {
        index_frame(compose_frame(canvas, facts, options), into);
        return;
    }
    // The picture is opaque where anything was drawn and fully transparent elsewhere, so a plain
    // frame is the picture's pixel where it has one and the background's otherwise.
    static const QImage background = window_background(1.0, qcolour(window_face), Qt::black);
    static IndexedFrame background_indices;
    const QRect crop = frame_pixels(1.0);
    if (background_indices.pixels.empty())
        index_frame(background.copy(crop), background_indices);
    into = background_indices;
    const QImage& picture = canvas.image();
    std::uint32_t last_rgb = 0;  // transparent, so never a pixel looked up
    std::uint8_t last_index = 0;
    for (int y = 0; y < crop.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(picture.constScanLine(crop.top() + y)) + crop.left();
        std::uint8_t* out = into.pixels.data() + static_cast<std::ptrdiff_t>(y) * into.width;
        for (int x = 0; x < crop.width(); ++x) {
            const std::uint32_t argb = row[x];
            if ((argb >> 24) == 0)
                continue;
            if (argb != last_rgb) {
                last_rgb = argb;
                last_index = palette_index(argb & 0xFFFFFFU);
            }
            out[x] = last_index;
        }
    }
}

void index_frame(const QImage& frame, IndexedFrame& into)
{
    index_pixels(reinterpret_cast<const std::uint32_t*>(frame.constBits()), frame.width(), frame.height(),
                 static_cast<int>(frame.bytesPerLine() / 4), into);
}

}  // namespace umbrascope

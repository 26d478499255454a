#include "output/frame_picture.hpp"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>
#include <array>
#include <cmath>
#include <unordered_map>

#include "core/layout.hpp"
#include "core/raster.hpp"
#include "render/draw_network.hpp"

namespace umbrascope {

namespace {

QString qtext(const Text& text) { return QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size())); }

// The width of a name in the names' font: measured once, as the picture window repaints often.
int name_width(const QFontMetrics& metrics, int pixel_size, const QString& name)
{
    thread_local std::unordered_map<QString, int> widths;
    thread_local int widths_size = 0;
    if (widths_size != pixel_size || widths.size() > 200000) {
        widths.clear();
        widths_size = pixel_size;
    }
    const auto [at, added] = widths.try_emplace(name, 0);
    if (added)
        at->second = metrics.horizontalAdvance(name);
    return at->second;
}

}  // namespace

// DejaVu Sans, which the package depends on, so frames look the same everywhere; drawn without
// antialiasing so that the text keeps to the palette.
QFont frame_font(int pixel_size, bool bold)
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

int paint_bus_names(QPainter& painter, const RunState& st, const View& view, double width, double height,
                    double scale, double min_share, std::vector<PlacedName>* placed)
{
    painter.setFont(frame_font(static_cast<int>(std::lround(10 * scale))));
    painter.setPen(qcolour(palette(0)));
    const QFontMetrics metrics = painter.fontMetrics();
    const double gap = 7 * scale;
    const double rise = 4 * scale;
    // Written names, and the buses in view, by the cells of a coarse grid, so that each test looks
    // nearby only.
    const double cell = std::max(16.0, metrics.height() * 2.0);
    const auto key = [](long cx, long cy) { return (static_cast<std::int64_t>(cx) << 32) ^ static_cast<std::uint32_t>(cy); };
    const auto cell_of = [cell](double v) { return static_cast<long>(std::floor(v / cell)); };
    std::unordered_map<std::int64_t, std::vector<QRectF>> written;
    std::unordered_map<std::int64_t, std::vector<std::pair<int, QPointF>>> centres;
    std::vector<std::pair<int, QPointF>> in_view;
    for (int k = 1; k <= st.nbus.value() && k <= 32767; ++k) {
        const auto at = bus_marker_position(st, k);
        if (!at)
            continue;
        // Buses just beyond the edges count as neighbours too.
        const QPointF centre(view.x(at->x), view.y(at->y));
        const double margin = 4 * cell;
        if (centre.x() < -margin || centre.x() > width + margin || centre.y() < -margin || centre.y() > height + margin)
            continue;
        centres[key(cell_of(centre.x()), cell_of(centre.y()))].emplace_back(k, centre);
        if (centre.x() >= 0 && centre.x() <= width && centre.y() >= 0 && centre.y() <= height)
            in_view.emplace_back(k, centre);
    }
    const auto away = [](const QRectF& box, QPointF p) {
        const double dx = std::max({box.left() - p.x(), 0.0, p.x() - box.right()});
        const double dy = std::max({box.top() - p.y(), 0.0, p.y() - box.bottom()});
        return std::hypot(dx, dy);
    };
    std::vector<std::pair<QPointF, QString>> names;
    for (const auto& [k, centre] : in_view) {
        const QString name = qtext(st.bus_name.at(Integer(static_cast<std::int16_t>(k)), [] { return std::string(); }));
        const int advance = name_width(metrics, painter.font().pixelSize(), name);
        // Above and right of the marker, clear of the branches that run level or upright through it;
        // else left of it, or below. A name stands beside its own disc: no other bus's lies nearer it.
        const bool right_fits = centre.x() + gap + advance <= width - 2;
        const double right = centre.x() + gap;
        const double left = centre.x() - gap - advance;
        const double above = centre.y() - rise - metrics.ascent() - 1;
        const double below = centre.y() + rise - 1;
        const std::array<QPointF, 4> corners{QPointF(right_fits ? right : left, above), QPointF(right_fits ? left : right, above),
                                             QPointF(right_fits ? right : left, below), QPointF(right_fits ? left : right, below)};
        for (const QPointF& corner : corners) {
            const QRectF box(corner.x() - 1, corner.y(), advance + 2, metrics.height() + 2);
            const long cx0 = cell_of(box.left()), cx1 = cell_of(box.right());
            const long cy0 = cell_of(box.top()), cy1 = cell_of(box.bottom());
            bool clear = true;
            for (long cx = cx0; clear && cx <= cx1; ++cx)
                for (long cy = cy0; clear && cy <= cy1; ++cy) {
                    const auto found = written.find(key(cx, cy));
                    if (found != written.end())
                        for (const QRectF& other : found->second)
                            clear = clear && !other.intersects(box);
                }
            const double own = away(box, centre);
            const long reach = static_cast<long>(std::ceil(own / cell)) + 1;
            for (long cx = cx0 - reach; clear && cx <= cx1 + reach; ++cx)
                for (long cy = cy0 - reach; clear && cy <= cy1 + reach; ++cy) {
                    const auto found = centres.find(key(cx, cy));
                    if (found != centres.end())
                        for (const auto& [other, at] : found->second)
                            clear = clear && (other == k || away(box, at) > own);
                }
            if (!clear)
                continue;
            for (long cx = cx0; cx <= cx1; ++cx)
                for (long cy = cy0; cy <= cy1; ++cy)
                    written[key(cx, cy)].push_back(box);
            names.emplace_back(QPointF(corner.x(), corner.y() + 1 + metrics.ascent()), name);
            if (placed != nullptr)
                placed->push_back({k, box});
            break;
        }
    }
    if (names.empty() || static_cast<double>(names.size()) < min_share * static_cast<double>(in_view.size())) {
        if (placed != nullptr)
            placed->clear();
        return 0;
    }
    for (const auto& [at, name] : names)
        painter.drawText(at, name);
    return static_cast<int>(names.size());
}

void paint_time_band(QPainter& painter, const FrameFacts& facts, double top, double width, double scale, bool voltages,
                     bool controls, bool shade)
{
    const RunState& st = facts.st;
    const auto px = [scale](double pixels) { return pixels * scale; };
    painter.fillRect(QRectF(0, top, width, std::round((voltages ? voltage_band_pixels : annotation_band_pixels) * scale)),
                     qcolour(window_face));
    painter.setPen(qcolour(palette(0)));
    painter.setFont(frame_font(static_cast<int>(std::lround(12 * scale)), true));
    Text time;
    if (facts.row >= 0 && facts.row <= 32767)
        time = cell_text(st.time_val.at(Integer(static_cast<std::int16_t>(facts.row)), [] { return std::string(); }));
    const SkyHeader none;
    const QString first = QStringLiteral("%1    row %2 / %3")
                              .arg(QString::fromStdString(time_label(facts.sky != nullptr ? *facts.sky : none, encode_utf8(time))))
                              .arg(facts.sky != nullptr ? facts.sky->sky_row(facts.row) : facts.row)
                              .arg(facts.sky != nullptr && facts.sky->rows_total > 0 ? facts.sky->rows_total
                                                                                      : st.n_time.value()) +
                          (facts.note.empty() ? QString() : QStringLiteral("    ") + QString::fromStdString(facts.note));
    painter.drawText(QPointF(px(8), top + px(16)), first);
    const double first_end = px(8) + painter.fontMetrics().horizontalAdvance(first);
    painter.setFont(frame_font(static_cast<int>(std::lround(11 * scale))));
    const QFontMetrics metrics = painter.fontMetrics();
    const QString regulator = QStringLiteral("regulator"), capacitor = QStringLiteral("capacitor"),
                  acts = QStringLiteral("acts in this row");
    const double symbol = px(14);
    const double controls_start = controls ? width - px(8) - metrics.horizontalAdvance(regulator) -
                                                 metrics.horizontalAdvance(capacitor) - metrics.horizontalAdvance(acts) -
                                                 3 * (symbol + px(18))
                                           : width - px(8);
    if (shade) {
        // The measured sky's shade after the time, its steps lightest first, where there is room.
        const QString what = QStringLiteral("shade: the sky's index under 0.95");
        const double side = std::round(px(9));
        double x = std::round(first_end + px(24));
        if (x + shade_levels * side + px(5) + metrics.horizontalAdvance(what) <= controls_start - px(18)) {
            const double strip_top = std::round(top + px(7));
            const double strip_left = x;
            for (int level = 1; level <= shade_levels; ++level, x += side)
                painter.fillRect(QRectF(x, strip_top, side, side), qcolour(shade_colour(level)));
            // Outlined, its lightest steps being near the band's own grey.
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(QPen(qcolour(palette(0)), 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRectF(strip_left - 1, strip_top - 1, x - strip_left + 1, side + 1));
            painter.restore();
            painter.drawText(QPointF(x + px(5), top + px(16)), what);
        }
    }
    if (controls) {
        // The symbols, right on the first line: what each is, and the colour of one that acts.
        double x = controls_start;
        const double middle = top + px(11);
        const auto mark = [&](bool is_regulator, Colour colour) {
            const int side = static_cast<int>(std::lround(px(9)));
            const int thick = std::max(1, static_cast<int>(std::lround(scale)));
            QImage glyph(side + 1, side + 1, QImage::Format_RGB32);
            glyph.fill(qcolour(window_face));
            // Drawn by hand in the symbols' shapes, at the band's size.
            QPainter pen(&glyph);
            pen.setPen(QPen(qcolour(colour), thick));
            const int h = side / 2;
            if (is_regulator) {
                pen.drawRect(0, 0, side - thick, side - thick);
                pen.drawLine(1, side - 1, side - 1, 1);
            } else {
                const int gap = std::max(1, h / 3);
                pen.fillRect(h - gap - thick + 1, 0, thick, side, qcolour(colour));
                pen.fillRect(h + gap, 0, thick, side, qcolour(colour));
                pen.drawLine(0, h, h - gap - thick, h);
                pen.drawLine(h + gap + thick, h, side, h);
            }
            pen.end();
            painter.drawImage(QPointF(x, middle - side / 2.0), glyph);
            x += symbol;
        };
        const auto word = [&](const QString& text) {
            painter.drawText(QPointF(x, top + px(16)), text);
            x += metrics.horizontalAdvance(text) + px(18);
        };
        mark(true, palette(0));
        word(regulator);
        mark(false, palette(0));
        word(capacitor);
        mark(true, palette(13));
        word(acts);
    }

    painter.setFont(frame_font(static_cast<int>(std::lround(11 * scale))));
    struct Entry {
        Colour colour;
        QString text;
    };
    std::vector<Entry> entries;
    double line = 36;
    if (voltages) {
        // The voltage classes, low to high, then none; what they are on the line above.
        const QString heading = QStringLiteral("service voltage, ANSI C84.1, per unit:");
        painter.drawText(QPointF(px(8), top + px(33)), heading);
        if (!facts.own_outside.empty()) {
            const double from = px(8) + painter.fontMetrics().horizontalAdvance(heading) + px(18);
            const QString own = painter.fontMetrics().elidedText(QString::fromStdString(facts.own_outside), Qt::ElideRight,
                                                                 static_cast<int>(width - from - px(8)));
            painter.drawText(QPointF(from, top + px(33)), own);
        }
        for (int c = 0; c < voltage_classes; ++c)
            entries.push_back({class_colour(static_cast<VoltageClass>(c)),
                               QString::fromUtf8(class_limits(static_cast<VoltageClass>(c)).data(),
                                                 static_cast<qsizetype>(class_limits(static_cast<VoltageClass>(c)).size()))});
        line = 53;
    } else {
        entries = {{palette(12), QStringLiteral("above 0.99")},
                   {palette(10), QStringLiteral("above %1").arg(qtext(single_text(st.sun_threshold)))},
                   {palette(1), QStringLiteral("otherwise")}};
    }
    const double gap = voltages ? 9 : 18;
    const double swatch = voltages ? 10 : 12;
    double x = px(8);
    for (const Entry& entry : entries) {
        painter.fillRect(QRectF(x, top + px(line - 11), px(swatch), px(swatch)), qcolour(entry.colour));
        painter.drawText(QPointF(x + px(swatch + 5), top + px(line)), entry.text);
        x += px(swatch + 5) + painter.fontMetrics().horizontalAdvance(entry.text) + px(gap);
    }
}

namespace {

template <class Pixel>
void overlay_pixels(Pixel* bits, int width, int height, int stride, const View& view, const FrameFacts& facts,
                    const FrameOptions& options, Pixel white, Pixel (*shade_of)(int), Pixel ink, Pixel acting)
{
    if (facts.st.num_pass <= 0)
        return;
    if (options.field != nullptr)
        shade_map(bits, width, height, stride, view, facts.st, *options.field, facts.row, white, shade_of);
    if (options.shows_controls())
        draw_controls(bits, width, height, stride, view, facts.st, *options.controls, *options.control_places, facts.row,
                      text_scale(options), ink, acting);
}

}  // namespace

void paint_overlays(std::uint32_t* bits, int width, int height, int stride_pixels, const View& view,
                    const FrameFacts& facts, const FrameOptions& options)
{
    overlay_pixels<std::uint32_t>(bits, width, height, stride_pixels, view, facts, options, argb(palette(15)),
                                  [](int level) { return argb(shade_colour(level)); }, argb(palette(0)),
                                  argb(palette(13)));
}

void paint_overlays(std::uint8_t* bits, int width, int height, int stride_pixels, const View& view,
                    const FrameFacts& facts, const FrameOptions& options)
{
    overlay_pixels<std::uint8_t>(bits, width, height, stride_pixels, view, facts, options, std::uint8_t{15},
                                 [](int level) { return static_cast<std::uint8_t>(voltage_palette_size + level - 1); },
                                 std::uint8_t{0}, std::uint8_t{13});
}

namespace {

// The classic frame's background: the window's face and frame lines where the picture has not
// drawn.
const QImage& classic_background()
{
    static const QImage background = window_background(1.0, qcolour(window_face), Qt::black).copy(frame_pixels(1.0));
    return background;
}

}  // namespace

int shown_row(const RunState& st, bool pass_failed) { return pass_failed ? st.i_time.value() : st.i_time.value() - 1; }

double text_scale(const FrameOptions& options)
{
    if (!options.sized())
        return 1.0;
    // Text grows more slowly than the frame, so a large frame shows more of the network around it.
    const QRect crop = frame_pixels(1.0);
    const double ratio = options.pixel_ratio;
    return ratio * std::sqrt(std::max(1.0, std::min(options.width / ratio / crop.width(), options.height / ratio / crop.height())));
}

int band_pixels(const FrameOptions& options)
{
    const int band = options.voltage_band() ? voltage_band_pixels : annotation_band_pixels;
    return options.annotate ? static_cast<int>(std::lround(band * text_scale(options))) : 0;
}

int map_pixels(const FrameOptions& options)
{
    // The profile takes the right two fifths of a sized frame.
    return options.shows_profile() ? options.width - static_cast<int>(std::lround(options.width * 0.4)) : options.width;
}

namespace {

// The profile beside the map, in the frame's pixels.
QRectF profile_area(const FrameOptions& options)
{
    const int map = map_pixels(options);
    return {static_cast<double>(map), 0, static_cast<double>(options.width - map),
            static_cast<double>(options.height - band_pixels(options))};
}

void paint_frame_profile(QPainter& painter, const QRectF& area, const FrameFacts& facts, const FrameOptions& options)
{
    const ProfileAxes axes = options.profile_axes != nullptr ? *options.profile_axes : profile_extent(*options.voltages);
    paint_profile(painter, area, *options.voltages, *options.segments, facts.row, axes, text_scale(options));
    // A line between the map and the profile.
    painter.fillRect(QRectF(area.left(), area.top(), std::max(1.0, std::round(text_scale(options))), area.height()),
                     qcolour(palette(8)));
}

}  // namespace

View frame_view(const RunState& st, const FrameOptions& options)
{
    if (!options.sized())
        return classic_view();
    if (options.shown)
        return *options.shown;
    // The classic frame keeps the network 220 plot units (about 15 pixels) from its edges.
    const double margin = 220.0 / 15 * text_scale(options) * text_scale(options) / options.pixel_ratio;
    View view = fitted_view(st, map_pixels(options), options.height - band_pixels(options), margin, options.pixel_ratio);
    view.symbol_spacing = options.bus_spacing;
    return view;
}

void paint_frame_extras(QPainter& painter, const FrameFacts& facts, const FrameOptions& options)
{
    const QRect crop = frame_pixels(1.0);
    const double width = options.sized() ? options.width : crop.width();
    const double height = options.sized() ? options.height - band_pixels(options) : crop.height();
    if (options.labels) {
        painter.save();
        painter.setClipRect(QRectF(0, 0, options.sized() ? map_pixels(options) : width, height));
        paint_bus_names(painter, facts.st, frame_view(facts.st, options), options.sized() ? map_pixels(options) : width,
                        height, text_scale(options));
        painter.restore();
    }
    if (options.shows_profile())
        paint_frame_profile(painter, profile_area(options), facts, options);
    if (options.annotate)
        paint_time_band(painter, facts, height, width, text_scale(options), options.voltage_band(), options.shows_controls(),
                        options.field != nullptr);
}

QImage picture_frame(const Picture& picture, const FrameFacts& facts, const FrameOptions& options, const View* view)
{
    QImage frame;
    draw_picture_frame(frame, picture, facts, options, view);
    return frame;
}

void draw_picture_frame(QImage& frame, const Picture& picture, const FrameFacts& facts, const FrameOptions& options,
                        const View* view)
{
    const QSize size = options.sized() ? QSize(options.width, options.height)
                                       : QSize(classic_background().width(), classic_background().height() + band_pixels(options));
    if (frame.size() != size || frame.format() != QImage::Format_RGB32)
        frame = QImage(size, QImage::Format_RGB32);
    if (options.sized()) {
        // The white of the fill, before any pass has drawn; a recorded fill paints it anyway.
        const std::vector<Shape>& shapes = picture.shapes();
        if (shapes.empty() || shapes.front().kind != ShapeKind::box)
            frame.fill(qcolour(palette(15)));
    } else {
        QPainter painter(&frame);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), classic_background());
    }
    const int picture_height = frame.height() - band_pixels(options);
    const int map_width = options.sized() ? map_pixels(options) : frame.width();
    const View shown = view != nullptr ? *view : frame_view(facts.st, options);
    render_picture(picture.shapes(), shown, reinterpret_cast<std::uint32_t*>(frame.bits()), map_width, picture_height,
                   static_cast<int>(frame.bytesPerLine() / 4));
    if (options.overlays())
        paint_overlays(reinterpret_cast<std::uint32_t*>(frame.bits()), map_width, picture_height,
                       static_cast<int>(frame.bytesPerLine() / 4), shown, facts, options);
    if (options.labels) {
        QPainter painter(&frame);
        painter.setClipRect(QRect(0, 0, map_width, picture_height));
        paint_bus_names(painter, facts.st, shown, map_width, picture_height, text_scale(options));
    }
    if (options.shows_profile()) {
        QPainter painter(&frame);
        paint_frame_profile(painter, profile_area(options), facts, options);
    }
    if (options.annotate) {
        QPainter painter(&frame);
        paint_time_band(painter, facts, picture_height, frame.width(), text_scale(options), options.voltage_band(),
                        options.shows_controls(), options.field != nullptr);
    }
}

void draw_indexed_picture_frame(IndexedFrame& into, const Picture& picture, const FrameFacts& facts,
                                const FrameOptions& options)
{
    if (!options.sized() || options.labels) {
        thread_local QImage frame;
        draw_picture_frame(frame, picture, facts, options);
        index_frame(frame, into);
        return;
    }
    const auto index_of = [](Colour colour) { return palette_index(argb(colour) & 0xFFFFFFU); };
    into.width = options.width;
    into.height = options.height;
    into.pixels.resize(static_cast<std::size_t>(into.width) * static_cast<std::size_t>(into.height));
    const int picture_height = into.height - band_pixels(options);
    const std::vector<Shape>& shapes = picture.shapes();
    if (shapes.empty() || shapes.front().kind != ShapeKind::box)
        std::fill(into.pixels.begin(), into.pixels.begin() + static_cast<std::ptrdiff_t>(into.width) * picture_height,
                  index_of(palette(15)));
    const int map_width = map_pixels(options);
    render_picture(shapes, frame_view(facts.st, options), into.pixels.data(), map_width, picture_height, into.width,
                   index_of);
    if (options.overlays())
        paint_overlays(into.pixels.data(), map_width, picture_height, into.width, frame_view(facts.st, options), facts,
                       options);
    if (options.shows_profile()) {
        // The profile alone in 32 bits, then indexed beside the map.
        thread_local QImage side;
        const QRectF area = profile_area(options);
        const QSize size(static_cast<int>(area.width()), static_cast<int>(area.height()));
        if (side.size() != size)
            side = QImage(size, QImage::Format_RGB32);
        QPainter painter(&side);
        paint_frame_profile(painter, QRectF(0, 0, area.width(), area.height()), facts, options);
        painter.end();
        thread_local IndexedFrame indexed_side;
        index_frame(side, indexed_side);
        for (int y = 0; y < size.height(); ++y)
            std::copy_n(indexed_side.pixels.begin() + static_cast<std::ptrdiff_t>(y) * size.width(), size.width(),
                        into.pixels.begin() + static_cast<std::ptrdiff_t>(y) * into.width + map_width);
    }
    if (options.annotate) {
        // The band alone in 32 bits, then indexed under the picture.
        thread_local QImage band;
        if (band.size() != QSize(into.width, into.height - picture_height))
            band = QImage(into.width, into.height - picture_height, QImage::Format_RGB32);
        QPainter painter(&band);
        paint_time_band(painter, facts, 0, band.width(), text_scale(options), options.voltage_band(),
                        options.shows_controls(), options.field != nullptr);
        painter.end();
        IndexedFrame indexed_band;
        index_frame(band, indexed_band);
        std::copy(indexed_band.pixels.begin(), indexed_band.pixels.end(),
                  into.pixels.begin() + static_cast<std::ptrdiff_t>(into.width) * picture_height);
    }
    // The longer palette where the picture or the profile holds a voltage class's colour.
    bool voltage_colours = options.shows_profile();
    for (std::size_t i = 0; i < shapes.size() && !voltage_colours; ++i)
        voltage_colours = shapes[i].role == Role::bus && index_of(shapes[i].colour) >= frame_palette_size;
    into.colours = options.field != nullptr ? shade_palette_size : voltage_colours ? voltage_palette_size : frame_palette_size;
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
    if (options.overlays()) {
        painter.end();
        paint_overlays(reinterpret_cast<std::uint32_t*>(frame.bits()), crop.width(), crop.height(),
                       static_cast<int>(frame.bytesPerLine() / 4), classic_view(), facts, options);
        painter.begin(&frame);
    }
    paint_frame_extras(painter, facts, options);
    painter.end();
    return frame;
}

void compose_indexed_frame(const Canvas& canvas, const FrameFacts& facts, const FrameOptions& options,
                           IndexedFrame& into)
{
    if (options.annotate || options.labels || options.overlays()) {
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
                if (last_index >= frame_palette_size)
                    into.colours = voltage_palette_size;
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

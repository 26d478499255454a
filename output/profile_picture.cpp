#include "output/profile_picture.hpp"

#include <QPainter>
#include <QPen>
#include <algorithm>
#include <array>
#include <cmath>

#include "output/frame_picture.hpp"

namespace umbrascope {

namespace {

double per_unit(PerUnit v) { return v / 10000.0; }

// A round step of about `rough`: 1, 2 or 5 times a power of ten.
double nice_step(double rough)
{
    if (!(rough > 0))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double step : {1.0, 2.0, 5.0})
        if (step * power >= rough - 1e-12)
            return step * power;
    return 10 * power;
}

// The lines a low and a high curve take; apart from the classes' colours, in the frame palette.
constexpr int lowest_colour = 1;   // navy
constexpr int highest_colour = 4;  // maroon

}  // namespace

void ProfileAxes::zoom(double factor, double x, double y)
{
    x0 = x + (x0 - x) / factor;
    x1 = x + (x1 - x) / factor;
    y0 = y + (y0 - y) / factor;
    y1 = y + (y1 - y) / factor;
}

ProfileAxes profile_extent(const RunVoltages& voltages)
{
    ProfileAxes axes;
    double far = 0;
    for (const double d : voltages.distances())
        far = std::max(far, d);
    axes.x0 = 0;
    axes.x1 = far > 0 ? far * 1.03 : 1;
    axes.y0 = 0.90;
    axes.y1 = 1.10;
    if (voltages.usual_lowest() != no_voltage)
        axes.y0 = std::min(axes.y0, std::floor((per_unit(voltages.usual_lowest()) - 0.005) * 100) / 100);
    if (voltages.usual_highest() != no_voltage)
        axes.y1 = std::max(axes.y1, std::ceil((per_unit(voltages.usual_highest()) + 0.005) * 100) / 100);
    return axes;
}

ProfilePlot profile_plot(const QRectF& area, const ProfileAxes& axes, double scale)
{
    const double left = 46 * scale;
    const double right = 10 * scale;
    const double top = 22 * scale;
    const double bottom = 32 * scale;
    QRectF plot(area.left() + left, area.top() + top, std::max(1.0, area.width() - left - right),
                std::max(1.0, area.height() - top - bottom));
    ProfileAxes shown = axes;
    if (!(shown.x1 > shown.x0))
        shown.x1 = shown.x0 + 1;
    if (!(shown.y1 > shown.y0))
        shown.y1 = shown.y0 + 0.1;
    return {plot, shown};
}

std::vector<ProfileSegment> profile_segments(const RunState& st, const RunVoltages& voltages)
{
    std::vector<ProfileSegment> segments;
    const std::vector<double>& d = voltages.distances();
    const int buses = static_cast<int>(d.size());
    for (int c = 1; c <= st.nconn.value(); ++c) {
        const Integer index(static_cast<std::int16_t>(c));
        const int from = st.from_bus.at(index, [] { return std::string(); }).value();
        const int to = st.to_bus.at(index, [] { return std::string(); }).value();
        if (from >= 1 && from <= buses && to >= 1 && to <= buses && from != to &&
            d[static_cast<std::size_t>(from - 1)] >= 0 && d[static_cast<std::size_t>(to - 1)] >= 0)
            segments.push_back({from, to});
    }
    return segments;
}

void paint_profile(QPainter& painter, const QRectF& area, const RunVoltages& voltages,
                   const std::vector<ProfileSegment>& segments, int row, const ProfileAxes& axes, double scale, int marked)
{
    const ProfilePlot plot = profile_plot(area, axes, scale);
    const ProfileAxes& shown = plot.axes;
    const std::vector<double>& distance = voltages.distances();
    painter.save();
    painter.setClipRect(area);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(area, qcolour(palette(15)));

    // The axes' ticks and labels.
    const QColor ink = qcolour(palette(0));
    const QColor grid = qcolour(palette(7));
    painter.setFont(frame_font(static_cast<int>(std::lround(10 * scale))));
    const QFontMetricsF metrics(painter.font());
    const double x_step = nice_step((shown.x1 - shown.x0) / std::max(2.0, plot.plot.width() / (70 * scale)));
    const double y_step = nice_step((shown.y1 - shown.y0) / std::max(2.0, plot.plot.height() / (36 * scale)));
    painter.setPen(QPen(grid, 1));
    for (double x = std::ceil(shown.x0 / x_step) * x_step; x <= shown.x1 + 1e-9; x += x_step) {
        const double px = std::round(plot.x(x));
        painter.drawLine(QPointF(px, plot.plot.top()), QPointF(px, plot.plot.bottom()));
    }
    for (double y = std::ceil(shown.y0 / y_step) * y_step; y <= shown.y1 + 1e-9; y += y_step) {
        const double py = std::round(plot.y(y));
        painter.drawLine(QPointF(plot.plot.left(), py), QPointF(plot.plot.right(), py));
    }
    painter.setPen(ink);
    for (double x = std::ceil(shown.x0 / x_step) * x_step; x <= shown.x1 + 1e-9; x += x_step) {
        const QString text = QString::number(std::abs(x) < x_step * 1e-6 ? 0.0 : x, 'g', 6);
        painter.drawText(QPointF(plot.x(x) - metrics.horizontalAdvance(text) / 2, plot.plot.bottom() + 13 * scale), text);
    }
    for (double y = std::ceil(shown.y0 / y_step) * y_step; y <= shown.y1 + 1e-9; y += y_step) {
        const QString text = QString::number(y, 'f', y_step < 0.01 ? 3 : 2);
        painter.drawText(QPointF(plot.plot.left() - 4 * scale - metrics.horizontalAdvance(text), plot.y(y) + 4 * scale), text);
    }
    const QString across = voltages.distances_in_km() ? QStringLiteral("km from the source along the network")
                                                      : QStringLiteral("distance from the source, network units");
    painter.drawText(QPointF(plot.plot.center().x() - metrics.horizontalAdvance(across) / 2, plot.plot.bottom() + 27 * scale),
                     across);
    // Buses whose points lie above or below the plane shown are counted in the title.
    int off = 0;
    for (int bus = 1; bus <= voltages.buses() && row >= 1 && row <= voltages.rows(); ++bus) {
        const PerUnit low = voltages.lowest(row, bus);
        if (distance[static_cast<std::size_t>(bus - 1)] >= 0 && low != no_voltage &&
            (per_unit(low) < shown.y0 || per_unit(voltages.highest(row, bus)) > shown.y1))
            ++off;
    }
    painter.setFont(frame_font(static_cast<int>(std::lround(11 * scale)), true));
    const QString title = off == 0 ? QStringLiteral("voltage profile, row %1 (pu)").arg(row)
                                   : QStringLiteral("voltage profile, row %1 (pu); %2 off the plot").arg(row).arg(off);
    painter.drawText(QPointF(area.left() + 6 * scale, area.top() + 14 * scale), title);
    const double title_end = area.left() + 6 * scale + painter.fontMetrics().horizontalAdvance(title);
    painter.setFont(frame_font(static_cast<int>(std::lround(10 * scale))));
    const QString low_text = QStringLiteral("lowest");
    const QString high_text = QStringLiteral("highest");
    // The key at the top right, or under the plot at the left where the title leaves no room.
    const double key_width = metrics.horizontalAdvance(low_text) + metrics.horizontalAdvance(high_text) + 52 * scale;
    const bool on_top = area.right() - 10 * scale - key_width > title_end + 10 * scale;
    double key_x = on_top ? area.right() - 10 * scale - key_width : plot.plot.left();
    const double key_y = on_top ? area.top() + 14 * scale : plot.plot.bottom() + 27 * scale;
    for (const auto& [colour, text] : {std::pair{lowest_colour, low_text}, std::pair{highest_colour, high_text}}) {
        painter.fillRect(QRectF(key_x, key_y - 5 * scale, 14 * scale, std::max(1.0, 2 * scale)), qcolour(palette(colour)));
        painter.setPen(ink);
        painter.drawText(QPointF(key_x + 18 * scale, key_y), text);
        key_x += 18 * scale + metrics.horizontalAdvance(text) + 12 * scale;
    }
    bool any_distance = false;
    for (const double d : distance)
        any_distance = any_distance || d >= 0;
    if (!any_distance) {
        const QString none = QStringLiteral("no distances from the source: umbrascope-study read --source BUS gives them");
        painter.drawText(QPointF(plot.plot.center().x() - metrics.horizontalAdvance(none) / 2, plot.plot.center().y()), none);
    }

    painter.setClipRect(plot.plot.adjusted(0, 0, 1, 1));
    // The range lines: A solid, B dashed.
    const QColor limit = qcolour(palette(8));
    for (const double level : {0.95, 1.05}) {
        painter.setPen(QPen(limit, std::max(1.0, std::round(scale))));
        painter.drawLine(QPointF(plot.plot.left(), std::round(plot.y(level))), QPointF(plot.plot.right(), std::round(plot.y(level))));
    }
    for (const double level : {110.0 / 120, 127.0 / 120}) {
        QPen pen(limit, std::max(1.0, std::round(scale)));
        pen.setStyle(Qt::DashLine);
        painter.setPen(pen);
        painter.drawLine(QPointF(plot.plot.left(), std::round(plot.y(level))), QPointF(plot.plot.right(), std::round(plot.y(level))));
    }

    // Each connection a segment from bus to bus, the lowest and the highest apart.
    if (row >= 1 && row <= voltages.rows()) {
        QVector<QLineF> low_lines, high_lines;
        low_lines.reserve(static_cast<qsizetype>(segments.size()));
        high_lines.reserve(static_cast<qsizetype>(segments.size()));
        for (const ProfileSegment& s : segments) {
            const double xf = plot.x(distance[static_cast<std::size_t>(s.from - 1)]);
            const double xt = plot.x(distance[static_cast<std::size_t>(s.to - 1)]);
            const PerUnit lf = voltages.lowest(row, s.from), lt = voltages.lowest(row, s.to);
            const PerUnit hf = voltages.highest(row, s.from), ht = voltages.highest(row, s.to);
            if (lf != no_voltage && lt != no_voltage)
                low_lines.append(QLineF(xf, plot.y(per_unit(lf)), xt, plot.y(per_unit(lt))));
            if (hf != no_voltage && ht != no_voltage)
                high_lines.append(QLineF(xf, plot.y(per_unit(hf)), xt, plot.y(per_unit(ht))));
        }
        const double width = std::max(1.0, std::round(scale));
        painter.setPen(QPen(qcolour(palette(lowest_colour)), width));
        painter.drawLines(low_lines);
        painter.setPen(QPen(qcolour(palette(highest_colour)), width));
        painter.drawLines(high_lines);

        // Each bus's two points, each in the class of its own value.
        std::array<QVector<QRectF>, voltage_classes> points;
        // Points large enough to see on a small feeder, small enough not to bury a large one.
        const double side = std::max(voltages.buses() < 500 ? 5.0 : 3.0, std::round((voltages.buses() < 500 ? 5 : 3) * scale));
        for (int bus = 1; bus <= voltages.buses(); ++bus) {
            const double d = distance[static_cast<std::size_t>(bus - 1)];
            const PerUnit low = voltages.lowest(row, bus);
            if (d < 0 || low == no_voltage)
                continue;
            const PerUnit high = voltages.highest(row, bus);
            const double x = std::round(plot.x(d) - side / 2);
            points[static_cast<std::size_t>(classify(low, low))].append(
                QRectF(x, std::round(plot.y(per_unit(low)) - side / 2), side, side));
            points[static_cast<std::size_t>(classify(high, high))].append(
                QRectF(x, std::round(plot.y(per_unit(high)) - side / 2), side, side));
        }
        painter.setPen(Qt::NoPen);
        for (int c = 0; c < voltage_classes; ++c) {
            painter.setBrush(qcolour(class_colour(static_cast<VoltageClass>(c))));
            painter.drawRects(points[static_cast<std::size_t>(c)]);
        }
        if (marked >= 1 && marked <= voltages.buses() && distance[static_cast<std::size_t>(marked - 1)] >= 0 &&
            voltages.lowest(row, marked) != no_voltage) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(ink, std::max(1.0, std::round(1.5 * scale))));
            const double x = plot.x(distance[static_cast<std::size_t>(marked - 1)]);
            const double y0 = plot.y(per_unit(voltages.highest(row, marked)));
            const double y1 = plot.y(per_unit(voltages.lowest(row, marked)));
            painter.drawRect(QRectF(x - 5 * scale, y0 - 5 * scale, 10 * scale, y1 - y0 + 10 * scale));
        }
    }
    painter.setClipRect(area);
    painter.setPen(ink);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(plot.plot);
    painter.restore();
}

int profile_bus_near(const ProfilePlot& plot, const RunVoltages& voltages, int row, QPointF at, double reach)
{
    int nearest = 0;
    double best = reach;
    const std::vector<double>& distance = voltages.distances();
    for (int bus = 1; bus <= voltages.buses(); ++bus) {
        const double d = distance[static_cast<std::size_t>(bus - 1)];
        if (d < 0 || voltages.lowest(row, bus) == no_voltage)
            continue;
        const double x = plot.x(d);
        for (const PerUnit v : {voltages.lowest(row, bus), voltages.highest(row, bus)}) {
            const double away = std::hypot(x - at.x(), plot.y(per_unit(v)) - at.y());
            if (away <= best) {
                best = away;
                nearest = bus;
            }
        }
    }
    return nearest;
}

}  // namespace umbrascope

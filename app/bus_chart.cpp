#include "app/bus_chart.hpp"

#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/qt_text.hpp"
#include "app/viewer.hpp"
#include "core/csv.hpp"
#include "output/output_file.hpp"

namespace umbrascope {

namespace {

// Sunlight in ambers and browns, its own family; a bus's lowest voltage in blue, its highest in red.
// Each bus keeps one line style, so that its three lines are told by style and their meaning by
// colour.
const QColor sunlight_colours[BusChart::most_buses] = {
    QColor(230, 140, 0), QColor(170, 90, 20), QColor(250, 185, 60), QColor(120, 70, 20),
    QColor(215, 110, 40), QColor(190, 150, 40), QColor(140, 100, 60), QColor(240, 160, 100),
};
const QColor lowest_colour(33, 102, 172);
const QColor highest_colour(202, 0, 32);

QPen bus_pen(QColor colour, std::size_t bus, double width)
{
    QPen pen(colour, width);
    static const QList<qreal> patterns[] = {{}, {6, 3}, {1.5, 2.5}, {6, 3, 1.5, 3}, {10, 4}, {3, 3}, {6, 2, 1.5, 2, 1.5, 2}, {12, 3, 3, 3}};
    const QList<qreal>& pattern = patterns[bus % BusChart::most_buses];
    if (!pattern.isEmpty())
        pen.setDashPattern(pattern);
    return pen;
}

Integer index(int i) { return Integer(static_cast<std::int16_t>(i)); }

// A click in the plot jumps to the row under it.
class ClickableChartView : public QChartView {
public:
    ClickableChartView(QChart* chart, BusChart& owner, Viewer& viewer) : QChartView(chart), owner_(owner), viewer_(viewer) {}

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && chart()->plotArea().contains(event->position())) {
            const QPointF value = chart()->mapToValue(event->position());
            const int row = owner_.row_at_time(value.x());
            if (row > 0)
                viewer_.jump_to(row);
        }
        QChartView::mouseReleaseEvent(event);
    }

private:
    BusChart& owner_;
    Viewer& viewer_;
};

// A round step of about `rough`: 1, 2 or 5 times a power of ten.
double nice_step(double rough)
{
    if (!(rough > 0))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double step : {1.0, 2.0, 5.0})
        if (step * power >= rough)
            return step * power;
    return 10 * power;
}

std::string csv_field(const std::string& field)
{
    std::string out;
    append_csv(out, field);
    return out;
}

QLineSeries* level_line(const QString& name, QColor colour, Qt::PenStyle style)
{
    auto* line = new QLineSeries;
    line->setName(name);
    QPen pen(colour, 1.5);
    pen.setStyle(style);
    line->setPen(pen);
    return line;
}

}  // namespace

BusChart::BusChart(Viewer& viewer, QWidget* owner)
    : QWidget(owner, Qt::Window),
      viewer_(viewer),
      chart_(new QChart),
      time_axis_(new QValueAxis),
      value_axis_(new QValueAxis),
      voltage_axis_(new QValueAxis),
      clock_axis_(new QDateTimeAxis)
{
    setObjectName(QStringLiteral("BusChart"));
    view_ = new ClickableChartView(chart_, *this, viewer);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setToolTip(tr("Click to show that row; Ctrl+click a bus in a picture to add it here"));
    chart_->addAxis(time_axis_, Qt::AlignBottom);
    chart_->addAxis(clock_axis_, Qt::AlignBottom);
    clock_axis_->setFormat(QStringLiteral("HH:mm:ss"));
    clock_axis_->setTitleText(tr("clock time"));
    clock_axis_->setVisible(false);
    chart_->addAxis(value_axis_, Qt::AlignLeft);
    value_axis_->setTitleText(tr("sun intensity"));
    chart_->addAxis(voltage_axis_, Qt::AlignRight);
    voltage_axis_->setTitleText(tr("voltage (pu)"));
    voltage_axis_->setVisible(false);
    // A legend entry is never cut: each has a line of its own at the right, and one too long for
    // it is shortened with its whole name in a tooltip.
    chart_->legend()->setAlignment(Qt::AlignRight);
    chart_->legend()->setShowToolTips(true);

    auto* save = new QPushButton(tr("Save\u2026"));
    save->setToolTip(tr("Save the chart as a PNG picture or its values as CSV (Ctrl+S)"));
    save->setShortcut(QKeySequence::Save);
    connect(save, &QPushButton::clicked, this, &BusChart::choose_save);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(save);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);
    resize(760, 440);
}

bool BusChart::show_bus(int bus, bool add)
{
    if (!add)
        buses_.clear();
    if (std::find(buses_.begin(), buses_.end(), bus) != buses_.end())
        return true;
    if (static_cast<int>(buses_.size()) >= most_buses)
        return false;
    buses_.push_back(bus);
    rebuild();
    return true;
}

void BusChart::restarted() { rebuild(); }

QAbstractAxis* BusChart::x_axis() const
{
    if (by_clock_)
        return clock_axis_;
    return time_axis_;
}

double BusChart::time_of(int row) const
{
    const RunState& st = viewer_.run_state();
    if (!by_time_)
        return row;
    if (by_clock_) {
        // The axis shows local time of milliseconds since the epoch: the clock's seconds are put
        // on the epoch's local day, so that its labels read the clock as the table gives it.
        static const double midnight = static_cast<double>(QDateTime(QDate(1970, 1, 1), QTime(0, 0)).toMSecsSinceEpoch());
        return midnight + (*viewer_.sky().start + static_cast<double>(st.time_val(index(row)).value())) * 1000;
    }
    return st.time_val(index(row)).value();
}

int BusChart::row_at_time(double time) const
{
    const int rows = viewer_.run_state().n_time.value();
    int best = 0;
    double distance = INFINITY;
    for (int row = 1; row <= rows; ++row)
        if (const double d = std::fabs(time_of(row) - time); d < distance) {
            distance = d;
            best = row;
        }
    return best;
}

void BusChart::rebuild()
{
    const RunState& st = viewer_.run_state();
    chart_->removeAllSeries();
    top_line_ = threshold_line_ = cursor_ = nullptr;
    const int rows = st.n_time.value();
    // The time column where every row has one and it rises, as a run's times do; else the row.
    by_time_ = rows > 0;
    for (int row = 1; row <= rows && by_time_; ++row)
        by_time_ = st.time_val(index(row)).filled() && (row == 1 || st.time_val(index(row)).value() > st.time_val(index(row - 1)).value());
    by_clock_ = by_time_ && viewer_.sky().start.has_value();
    time_axis_->setVisible(!by_clock_);
    clock_axis_->setVisible(by_clock_);
    time_axis_->setTitleText(!by_time_ ? tr("row") : viewer_.sky().seconds ? tr("time (s)") : tr("time"));

    const auto voltages_shown = [this] { return viewer_.voltages() != nullptr; };
    QStringList names;
    double low = 0, high = 1;
    for (std::size_t i = 0; i < buses_.size(); ++i) {
        const int bus = buses_[i];
        auto* series = new QLineSeries;
        const QString name = bus <= st.nbus.value() ? qtext(st.bus_name(index(bus))) : QString::number(bus);
        names << name;
        series->setName(voltages_shown() ? tr("%1 sunlight").arg(name) : tr("%1 (bus %2)").arg(name).arg(bus));
        series->setPen(bus_pen(sunlight_colours[i % most_buses], i, 1.8));
        QList<QPointF> points;
        points.reserve(rows);
        for (int row = 1; row <= rows; ++row) {
            double value = 0;
            try {
                value = st.sun_table(index(row), index(bus)).value();
            } catch (const PassError&) {  // a bus beyond the table's columns counts as an empty cell
            }
            low = std::min(low, value);
            high = std::max(high, value);
            points.append(QPointF(time_of(row), value));
        }
        series->replace(points);
        chart_->addSeries(series);
        series->attachAxis(x_axis());
        series->attachAxis(value_axis_);
    }
    const double first = rows > 0 ? time_of(1) : 0;
    const double last = rows > 1 ? time_of(rows) : first + 1;
    // Each bus's lowest and highest voltage on the axis at the right, with the ranges' lines.
    const RunVoltages* voltages = viewer_.voltages();
    voltage_axis_->setVisible(voltages != nullptr);
    if (voltages != nullptr) {
        double v_low = 0.95, v_high = 1.05;
        for (std::size_t i = 0; i < buses_.size(); ++i) {
            const int bus = buses_[i];
            for (const bool highest : {false, true}) {
                auto* series = new QLineSeries;
                series->setName(tr("%1 %2").arg(names[static_cast<qsizetype>(i)], highest ? tr("highest") : tr("lowest")));
                series->setPen(bus_pen(highest ? highest_colour : lowest_colour, i, 1.4));
                QList<QPointF> points;
                points.reserve(rows);
                for (int row = 1; row <= rows; ++row) {
                    const PerUnit v = highest ? voltages->highest(row, bus) : voltages->lowest(row, bus);
                    if (v == no_voltage)
                        continue;
                    points.append(QPointF(time_of(row), v / 10000.0));
                    v_low = std::min(v_low, v / 10000.0);
                    v_high = std::max(v_high, v / 10000.0);
                }
                series->replace(points);
                chart_->addSeries(series);
                series->attachAxis(x_axis());
                series->attachAxis(voltage_axis_);
            }
        }
        const struct {
            double level;
            QString name;
            Qt::PenStyle style;
        } limits[] = {{0.95, tr("range A, 0.95 and 1.05 pu"), Qt::SolidLine},
                      {1.05, QString(), Qt::SolidLine},
                      {110.0 / 120, tr("range B, 110/120 and 127/120 pu"), Qt::DashLine},
                      {127.0 / 120, QString(), Qt::DashLine}};
        for (const auto& limit : limits) {
            QLineSeries* line = level_line(limit.name, QColor(110, 110, 110), limit.style);
            line->append({QPointF(first, limit.level), QPointF(last, limit.level)});
            chart_->addSeries(line);
            line->attachAxis(x_axis());
            line->attachAxis(voltage_axis_);
            if (limit.name.isEmpty())
                for (QLegendMarker* marker : chart_->legend()->markers(line))
                    marker->setVisible(false);
        }
        voltage_axis_->setRange(std::floor(std::min(v_low, 110.0 / 120) * 100 - 1) / 100,
                                std::ceil(std::max(v_high, 127.0 / 120) * 100 + 1) / 100);
        voltage_axis_->setTickType(QValueAxis::TicksDynamic);
        voltage_axis_->setTickAnchor(1);
        voltage_axis_->setTickInterval(nice_step((voltage_axis_->max() - voltage_axis_->min()) / 6));
        voltage_axis_->setLabelFormat(QStringLiteral("%.2f"));
    }
    top_line_ = level_line(tr("0.99"), QColor(255, 0, 0), Qt::DashLine);
    top_line_->append({QPointF(first, 0.99), QPointF(last, 0.99)});
    threshold_line_ = level_line(tr("threshold %1").arg(static_cast<double>(st.sun_threshold)), QColor(0, 160, 0), Qt::DashLine);
    threshold_line_->append({QPointF(first, st.sun_threshold), QPointF(last, st.sun_threshold)});
    cursor_ = level_line(tr("row shown"), QColor(0, 0, 0), Qt::SolidLine);
    for (QLineSeries* line : {top_line_, threshold_line_, cursor_}) {
        chart_->addSeries(line);
        line->attachAxis(x_axis());
        line->attachAxis(value_axis_);
    }
    for (QLegendMarker* marker : chart_->legend()->markers(cursor_))
        marker->setVisible(false);
    clock_axis_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(first)),
                          QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(last)));
    clock_axis_->setTickCount(7);
    time_axis_->setRange(first, last);
    time_axis_->setTickType(QValueAxis::TicksDynamic);
    time_axis_->setTickAnchor(0);
    time_axis_->setTickInterval(nice_step((last - first) / 6));
    time_axis_->setLabelFormat(QStringLiteral("%g"));
    value_axis_->setRange(std::floor(low * 5) / 5, std::max(1.05, std::ceil(high * 5) / 5));
    value_axis_->setTickType(QValueAxis::TicksDynamic);
    value_axis_->setTickAnchor(0);
    value_axis_->setTickInterval(0.2);
    value_axis_->setLabelFormat(QStringLiteral("%.1f"));
    const QString what = voltages != nullptr ? tr("sun intensity and voltage") : tr("sun intensity");
    chart_->setTitle(names.size() == 1 ? tr("Bus %1: %2").arg(names.first(), what)
                                       : tr("Buses %1: %2").arg(names.join(QStringLiteral(", ")), what));
    setWindowTitle(names.size() == 1 ? QStringLiteral("Umbrascope \u2014 bus %1 \u2014 sun intensity").arg(names.first())
                                     : QStringLiteral("Umbrascope \u2014 buses %1 \u2014 sun intensity").arg(names.join(QStringLiteral(", "))));
    refresh();
}

double BusChart::cursor_time() const
{
    const int row = viewer_.row_shown();
    return row >= 1 && row <= viewer_.run_state().n_time.value() ? time_of(row) : NAN;
}

void BusChart::refresh()
{
    if (cursor_ == nullptr)
        return;
    const double time = cursor_time();
    if (std::isnan(time)) {
        cursor_->clear();
        return;
    }
    cursor_->replace(QList<QPointF>{QPointF(time, value_axis_->min()), QPointF(time, value_axis_->max())});
}

void BusChart::save_png(const std::filesystem::path& path) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    view_->grab().toImage().save(&buffer, "PNG");
    write_file(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void BusChart::save_csv(const std::filesystem::path& path) const
{
    const RunState& st = viewer_.run_state();
    const RunVoltages* voltages = viewer_.voltages();
    std::string text = "time";
    std::vector<std::string> names;
    for (const int bus : buses_)
        names.push_back(encode_utf8(bus <= st.nbus.value() ? TextView(st.bus_name(index(bus))) : TextView()));
    for (const std::string& name : names) {
        text += ',';
        text += csv_field(name);
    }
    if (voltages != nullptr)
        for (const std::string& name : names) {
            text += ',';
            text += csv_field(name + " lowest pu");
            text += ',';
            text += csv_field(name + " highest pu");
        }
    text += '\n';
    for (int row = 1; row <= st.n_time.value(); ++row) {
        text += encode_utf8(cell_text(st.time_val(index(row))));
        for (const int bus : buses_) {
            text += ',';
            try {
                text += encode_utf8(cell_text(st.sun_table(index(row), index(bus))));
            } catch (const PassError&) {  // beyond the table: an empty cell
            }
        }
        if (voltages != nullptr)
            for (const int bus : buses_)
                for (const PerUnit v : {voltages->lowest(row, bus), voltages->highest(row, bus)}) {
                    text += ',';
                    if (v != no_voltage)
                        text += QString::number(v / 10000.0, 'f', 4).toStdString();
                }
        text += '\n';
    }
    write_file(path, text);
}

void BusChart::choose_save()
{
    const QString png = tr("PNG picture (*.png)");
    const QString csv = tr("CSV values (*.csv)");
    QString filter = png;
    QString path = QFileDialog::getSaveFileName(this, tr("Save the chart"),
                                                QDir(QString::fromStdString(viewer_.folder().string())).filePath(QStringLiteral("chart.png")),
                                                QStringList{png, csv}.join(QStringLiteral(";;")), &filter);
    if (path.isEmpty())
        return;
    // A typed extension decides, in any letter case; else the type chosen.
    const bool as_csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) ||
                        (!path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) && filter == csv);
    if (!path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive) && !path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        path += as_csv ? QStringLiteral(".csv") : QStringLiteral(".png");
    try {
        if (as_csv)
            save_csv(path.toStdString());
        else
            save_png(path.toStdString());
    } catch (const WriteError& error) {
        QMessageBox::warning(this, tr("Umbrascope"), QString::fromStdString(error.what()));
    }
}

}  // namespace umbrascope

#include "app/control_chart.hpp"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/viewer.hpp"

namespace umbrascope {

namespace {

class ClickableView : public QChartView {
public:
    ClickableView(QChart* chart, ControlChart& owner, Viewer& viewer) : QChartView(chart), owner_(owner), viewer_(viewer) {}

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && chart()->plotArea().contains(event->position()))
            if (const int row = owner_.row_at(chart()->mapToValue(event->position()).x()); row > 0)
                viewer_.jump_to(row);
        QChartView::mouseReleaseEvent(event);
    }

private:
    ControlChart& owner_;
    Viewer& viewer_;
};

}  // namespace

ControlChart::ControlChart(Viewer& viewer, QWidget* owner)
    : QWidget(owner, Qt::Window),
      viewer_(viewer),
      chart_(new QChart),
      x_axis_(new QValueAxis),
      clock_axis_(new QDateTimeAxis),
      y_axis_(new QValueAxis)
{
    setObjectName(QStringLiteral("ControlChart"));
    view_ = new ClickableView(chart_, *this, viewer);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setToolTip(tr("Click to show that row"));
    chart_->addAxis(x_axis_, Qt::AlignBottom);
    chart_->addAxis(clock_axis_, Qt::AlignBottom);
    clock_axis_->setFormat(QStringLiteral("HH:mm:ss"));
    clock_axis_->setTitleText(tr("clock time"));
    chart_->addAxis(y_axis_, Qt::AlignLeft);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->legend()->setShowToolTips(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(view_);
    resize(720, 380);
}

double ControlChart::x_of(int row) const
{
    const RunState& st = viewer_.run_state();
    const Cell time = st.time_val(Integer(static_cast<std::int16_t>(row)));
    if (by_clock_) {
        static const double midnight = static_cast<double>(QDateTime(QDate(1970, 1, 1), QTime(0, 0)).toMSecsSinceEpoch());
        return midnight + (*viewer_.sky().start + static_cast<double>(time.value())) * 1000;
    }
    return viewer_.sky().seconds && time.filled() ? static_cast<double>(time.value()) : static_cast<double>(row);
}

int ControlChart::row_at(double x) const
{
    const int rows = viewer_.run_state().n_time.value();
    int best = 0;
    double distance = INFINITY;
    for (int row = 1; row <= rows; ++row)
        if (const double d = std::fabs(x_of(row) - x); d < distance) {
            distance = d;
            best = row;
        }
    return best;
}

void ControlChart::show_control(int control)
{
    control_ = control;
    chart_->removeAllSeries();
    cursor_ = nullptr;
    const ControlsTable* table = viewer_.controls();
    if (table == nullptr || control < 0 || static_cast<std::size_t>(control) >= table->controls().size())
        return;
    const ControlSeries& series = table->controls()[static_cast<std::size_t>(control)];
    const int rows = std::min(table->rows(), viewer_.run_state().n_time.value());
    by_clock_ = viewer_.sky().start.has_value() && viewer_.sky().seconds;
    x_axis_->setVisible(!by_clock_);
    clock_axis_->setVisible(by_clock_);
    x_axis_->setTitleText(viewer_.sky().seconds ? tr("time (s)") : tr("row"));
    QAbstractAxis* x_axis = by_clock_ ? static_cast<QAbstractAxis*>(clock_axis_) : x_axis_;
    int low = series.settle, high = series.settle;
    // A state holds until the row it changes in: drawn in steps.
    const auto steps = [&](bool clear, const QString& name, Qt::PenStyle style, QColor colour) {
        auto* line = new QLineSeries;
        line->setName(name);
        QPen pen(colour, 2);
        pen.setStyle(style);
        line->setPen(pen);
        QList<QPointF> points;
        for (int row = 1; row <= rows; ++row) {
            const int state = series.state(row, clear);
            if (row > 1 && state != series.state(row - 1, clear))
                points.append(QPointF(x_of(row), series.state(row - 1, clear)));
            points.append(QPointF(x_of(row), state));
            low = std::min(low, state);
            high = std::max(high, state);
        }
        line->replace(points);
        chart_->addSeries(line);
        line->attachAxis(x_axis);
        line->attachAxis(y_axis_);
    };
    const QString what = series.regulator() ? tr("tap position") : tr("steps in service");
    steps(false, tr("under this sky"), Qt::SolidLine, QColor(202, 0, 32));
    if (series.clear_settle)
        steps(true, tr("under a clear sky"), Qt::DashLine, QColor(60, 60, 60));
    y_axis_->setTitleText(series.regulator() ? tr("tap (steps from the middle)") : tr("capacitor steps in service"));
    y_axis_->setRange(low - 1, high + 1);
    y_axis_->setTickType(QValueAxis::TicksDynamic);
    y_axis_->setTickAnchor(0);
    y_axis_->setTickInterval(std::max(1.0, std::ceil((high - low + 2) / 8.0)));
    y_axis_->setLabelFormat(QStringLiteral("%d"));
    const double first = rows > 0 ? x_of(1) : 0;
    const double last = rows > 1 ? x_of(rows) : first + 1;
    x_axis_->setRange(first, last);
    x_axis_->setLabelFormat(QStringLiteral("%g"));
    clock_axis_->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(first)),
                          QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(last)));
    cursor_ = new QLineSeries;
    cursor_->setPen(QPen(Qt::black, 1));
    chart_->addSeries(cursor_);
    cursor_->attachAxis(x_axis);
    cursor_->attachAxis(y_axis_);
    for (QLegendMarker* marker : chart_->legend()->markers(cursor_))
        marker->setVisible(false);
    const QString title = tr("%1 %2 (%3): %4")
                              .arg(series.regulator() ? tr("Regulator") : tr("Capacitor control"),
                                   QString::fromStdString(series.name), QString::fromStdString(series.element), what);
    chart_->setTitle(title);
    setWindowTitle(QStringLiteral("Umbrascope \u2014 %1").arg(title));
    refresh();
}

void ControlChart::refresh()
{
    if (cursor_ == nullptr)
        return;
    const int row = viewer_.row_shown();
    if (row < 1) {
        cursor_->clear();
        return;
    }
    cursor_->replace(QList<QPointF>{QPointF(x_of(row), y_axis_->min()), QPointF(x_of(row), y_axis_->max())});
}

}  // namespace umbrascope

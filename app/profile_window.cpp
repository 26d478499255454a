#include "app/profile_window.hpp"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/qt_text.hpp"
#include "app/picture_window.hpp"
#include "app/viewer.hpp"

namespace umbrascope {

namespace {

constexpr double reach = 6;           // pixels from a point that still name its bus

}  // namespace

ProfileView::ProfileView(Viewer& viewer, QWidget* parent) : QWidget(parent), viewer_(viewer)
{
    setObjectName(QStringLiteral("profile"));
    setMouseTracking(true);
    setMinimumSize(240, 180);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

ProfileAxes ProfileView::axes() const { return fitted_ ? viewer_.profile_axes() : axes_; }

ProfilePlot ProfileView::plot() const
{
    const double ratio = devicePixelRatioF();
    return profile_plot(QRectF(0, 0, width() * ratio, height() * ratio), axes(), ratio);
}

void ProfileView::fit()
{
    fitted_ = true;
    update();
}

void ProfileView::zoom_at(double factor, QPointF at)
{
    const ProfilePlot shown = plot();
    const QPointF d = device(at);
    axes_ = shown.axes;
    axes_.zoom(factor, shown.distance_at(d.x()), shown.pu_at(d.y()));
    fitted_ = false;
    update();
}

void ProfileView::pan(QPointF by)
{
    const ProfilePlot shown = plot();
    const QPointF d = device(by);
    axes_ = shown.axes;
    const double dx = d.x() / shown.plot.width() * (axes_.x1 - axes_.x0);
    const double dy = d.y() / shown.plot.height() * (axes_.y1 - axes_.y0);
    axes_.x0 -= dx;
    axes_.x1 -= dx;
    axes_.y0 += dy;
    axes_.y1 += dy;
    fitted_ = false;
    update();
}

void ProfileView::paintEvent(QPaintEvent* /*event*/)
{
    const double ratio = devicePixelRatioF();
    const QSize size(std::max(1, static_cast<int>(std::lround(width() * ratio))),
                     std::max(1, static_cast<int>(std::lround(height() * ratio))));
    if (image_.size() != size)
        image_ = QImage(size, QImage::Format_RGB32);
    QPainter painter(&image_);
    const RunVoltages* voltages = viewer_.voltages();
    if (voltages != nullptr)
        paint_profile(painter, QRectF(0, 0, size.width(), size.height()), *voltages, viewer_.profile_segments(),
                      viewer_.row_shown(), axes(), ratio, viewer_.marked_bus());
    else
        image_.fill(Qt::white);
    painter.end();
    QPainter(this).drawImage(QRectF(0, 0, width(), height()), image_);
}

int ProfileView::bus_at(QPointF at) const
{
    const RunVoltages* voltages = viewer_.voltages();
    if (voltages == nullptr)
        return 0;
    return profile_bus_near(plot(), *voltages, viewer_.row_shown(), device(at), reach * devicePixelRatioF());
}

QString ProfileView::details_at(QPointF at) const
{
    const int bus = bus_at(at);
    const RunVoltages* voltages = viewer_.voltages();
    if (bus == 0 || voltages == nullptr)
        return {};
    const RunState& st = viewer_.run_state();
    const int row = viewer_.row_shown();
    const std::string_view cls = class_name(voltages->class_of(row, bus));
    const double distance = voltages->distances()[static_cast<std::size_t>(bus - 1)];
    return tr("bus %1: %2 %3 from the source\nrow %4: lowest %5, highest %6 pu (%7)\n(click to ring it in the picture "
              "and open its chart)")
        .arg(qtext(st.bus_name.at(Integer(static_cast<std::int16_t>(bus)), [] { return std::string(); })))
        .arg(distance, 0, 'f', voltages->distances_in_km() ? 3 : 1)
        .arg(voltages->distances_in_km() ? tr("km") : tr("network units"))
        .arg(row)
        .arg(voltages->lowest(row, bus) / 10000.0, 0, 'f', 4)
        .arg(voltages->highest(row, bus) / 10000.0, 0, 'f', 4)
        .arg(QString::fromUtf8(cls.data(), static_cast<qsizetype>(cls.size())));
}

void ProfileView::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        zoom_at(std::pow(wheel_step, notches), event->position());
    event->accept();
}

void ProfileView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    drag_.press(event->position());
}

void ProfileView::mouseMoveEvent(QMouseEvent* event)
{
    if (const std::optional<QPointF> by = drag_.move(event->position())) {
        setCursor(Qt::ClosedHandCursor);
        pan(*by);
    }
}

void ProfileView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!drag_.pressed() || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    unsetCursor();
    if (!drag_.release())
        return;
    if (const int bus = bus_at(event->position()); bus > 0)
        emit busClicked(bus, (event->modifiers() & Qt::ControlModifier) != 0);
}

void ProfileView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        fit();
}

bool ProfileView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = details_at(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

ProfileWindow::ProfileWindow(Viewer& viewer, QWidget* owner)
    : QWidget(owner, Qt::Window), viewer_(viewer), view_(new ProfileView(viewer, this))
{
    setObjectName(QStringLiteral("ProfileWindow"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_, 1);
    resize(820, 560);
    connect(view_, &ProfileView::busClicked, this, [this](int bus, bool add) {
        viewer_.mark_bus(bus);
        if (viewer_.picture_window() == nullptr || !viewer_.picture_window()->isVisible()) {
            viewer_.show_picture_window();
            activateWindow();
        }
        viewer_.show_chart(bus, add);
    });
    refresh();
}

void ProfileWindow::restarted()
{
    view_->fit();
    refresh();
}

void ProfileWindow::refresh()
{
    QString title;
    if (viewer_.run_state().num_pass > 0)
        title += viewer_.row_text() + QStringLiteral(" \u2014 ");
    title += tr("Umbrascope voltage profile");
    if (viewer_.voltages() == nullptr)
        title += tr(" \u2014 no voltages for this run");
    title += QStringLiteral(" \u2014 %1").arg(viewer_.folder_text());
    setWindowTitle(title);
    view_->update();
}

void ProfileWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F)
        view_->fit();
    else if (!viewer_.jump_by_key(event->key()))
        QWidget::keyPressEvent(event);
}

}  // namespace umbrascope

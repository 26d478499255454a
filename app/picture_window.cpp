#include "app/picture_window.hpp"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/form1.hpp"
#include "app/viewer.hpp"
#include "output/frame_picture.hpp"
#include "render/draw_network.hpp"

namespace umbrascope {

namespace {

constexpr double names_share = 0.5;  // names show once at least half of those in view fit

}  // namespace

std::vector<float> shaded_shares(const RunState& st)
{
    std::vector<float> shares;
    const int rows = st.n_time.value();
    const int buses = st.nbus.value();
    shares.reserve(static_cast<std::size_t>(std::max(rows, 0)));
    for (int row = 1; row <= rows; ++row) {
        int shaded = 0;
        for (int k = 1; k <= buses; ++k) {
            try {
                const Single v = st.sun_table(Integer(static_cast<std::int16_t>(row)), Integer(static_cast<std::int16_t>(k))).value();
                shaded += v > 0.99 || v > st.sun_threshold ? 0 : 1;
            } catch (const PassError&) {  // beyond the table: not drawn, not counted
            }
        }
        shares.push_back(buses > 0 ? static_cast<float>(shaded) / static_cast<float>(buses) : 0.0F);
    }
    return shares;
}

PictureView::PictureView(Viewer& viewer, QWidget* parent) : QWidget(parent), viewer_(viewer)
{
    setObjectName(QStringLiteral("picture"));
    setMouseTracking(true);
    setMinimumSize(160, 120 + annotation_band_pixels);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

FrameOptions PictureView::frame_options() const
{
    const double ratio = devicePixelRatioF();
    FrameOptions options;
    options.annotate = true;
    options.width = std::max(1, static_cast<int>(std::lround(width() * ratio)));
    options.height = std::max(1, static_cast<int>(std::lround(height() * ratio)));
    options.pixel_ratio = ratio;
    options.bus_spacing = viewer_.bus_spacing();
    viewer_.add_colouring(options);
    return options;
}

int PictureView::band_height() const
{
    return static_cast<int>(std::lround(band_pixels(frame_options()) / devicePixelRatioF()));
}

View PictureView::view() const { return fitted_ ? frame_view(viewer_.run_state(), frame_options()) : view_; }

void PictureView::fit()
{
    fitted_ = true;
    update();
}

void PictureView::zoom_at(double factor, QPointF at)
{
    view_ = view();
    const QPointF d = device(at);
    view_.zoom(factor, d.x(), d.y());
    fitted_ = false;
    update();
}

void PictureView::pan(QPointF by)
{
    view_ = view();
    const QPointF d = device(by);
    view_.pan(d.x(), d.y());
    fitted_ = false;
    update();
}

void PictureView::paintEvent(QPaintEvent* /*event*/)
{
    // The exporter's frame of this size, through the view shown; names once half of those in view fit.
    const FrameOptions options = frame_options();
    const RunState& st = viewer_.run_state();
    const View shown = view();
    draw_picture_frame(image_, viewer_.picture(), FrameFacts{st, viewer_.row_shown(), &viewer_.sky(), viewer_.ring_note(), viewer_.own_outside_note()},
                       options, &shown);
    if (st.num_pass > 0) {
        QPainter painter(&image_);
        const int picture_height = options.height - band_pixels(options);
        painter.setClipRect(QRect(0, 0, options.width, picture_height));
        names_ = paint_bus_names(painter, st, shown, options.width, picture_height, text_scale(options), names_share);
        // The bus picked in the profile, and the worst bus of a row a jump by voltage reached, ringed.
        for (const int ringed : {viewer_.marked_bus(), viewer_.ringed_bus()})
            if (const auto at = ringed > 0 ? bus_marker_position(st, ringed) : std::nullopt) {
                const double ratio = devicePixelRatioF();
                painter.setRenderHint(QPainter::Antialiasing);
                painter.setBrush(Qt::NoBrush);
                for (const auto& [colour, width] : {std::pair{QColor(255, 255, 255), 5.0}, std::pair{QColor(0, 0, 0), 2.0}}) {
                    painter.setPen(QPen(colour, width * ratio));
                    painter.drawEllipse(QPointF(shown.x(at->x), shown.y(at->y)), 12 * ratio, 12 * ratio);
                }
            }
    }
    QPainter(this).drawImage(QRectF(0, 0, width(), height()), image_);
}

void PictureView::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        zoom_at(std::pow(wheel_step, notches), event->position());
    event->accept();
}

void PictureView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    drag_.press(event->position());
}

void PictureView::mouseMoveEvent(QMouseEvent* event)
{
    if (const std::optional<QPointF> by = drag_.move(event->position())) {
        setCursor(Qt::ClosedHandCursor);
        pan(*by);
    }
}

void PictureView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!drag_.pressed() || event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    unsetCursor();
    if (!drag_.release())
        return;
    const FrameOptions options = frame_options();
    if (const int control = viewer_.control_near(view(), device(event->position()), text_scale(options)); control >= 0) {
        viewer_.show_control_chart(control);
        return;
    }
    const int bus = viewer_.bus_near(view(), device(event->position()), 6 * devicePixelRatioF());
    if (bus > 0)
        emit busClicked(bus, (event->modifiers() & Qt::ControlModifier) != 0);
}

void PictureView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        fit();
}

bool PictureView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text =
            viewer_.details_near(view(), device(help->pos()), 6 * devicePixelRatioF(), text_scale(frame_options()));
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

Timeline::Timeline(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("timeline"));
    setMinimumHeight(40);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setToolTip(tr("Drag to any row; the groove shows the share of shaded buses in each row"));
}

void Timeline::set_shares(std::vector<float> shares)
{
    shares_ = std::move(shares);
    above_.clear();
    setToolTip(tr("Drag to any row; the groove shows the share of shaded buses in each row"));
    update();
}

void Timeline::set_split(std::vector<float> below, std::vector<float> above)
{
    shares_ = std::move(below);
    above_ = std::move(above);
    setToolTip(tr("Drag to any row; the groove shows in each row the share of buses below range A in blue, under "
                  "its middle, and above it in red, over it: a bus in a thousand a tenth of the way, all buses the "
                  "whole way"));
    update();
}

void Timeline::set_marks(std::vector<int> rows)
{
    marks_ = std::move(rows);
    update();
}

void Timeline::set_row(int row)
{
    row_ = row;
    update();
}

double Timeline::x_of(int row) const
{
    const double inner = std::max(1, width() - 12);
    return rows() <= 1 ? 6.0 : 6 + (row - 1) * inner / (rows() - 1);
}

int Timeline::row_at(double x) const
{
    if (rows() <= 1)
        return rows();
    const double inner = std::max(1, width() - 12);
    return std::clamp(static_cast<int>(std::lround((x - 6) / inner * (rows() - 1))) + 1, 1, rows());
}

void Timeline::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    const QRectF groove(6, 4, std::max(1, width() - 12), height() - 12);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    painter.fillRect(groove, QColor(255, 255, 255));
    // Each column shows the most of any row it covers, so no event is lost to the width.
    const auto most_in = [&](const std::vector<float>& shares, int x) {
        const int first = row_at(groove.left() + x - 0.5);
        const int last = row_at(groove.left() + x + 0.5);
        float share = 0;
        for (int row = first; row <= last && row <= static_cast<int>(shares.size()); ++row)
            share = std::max(share, shares[static_cast<std::size_t>(row - 1)]);
        return share;
    };
    if (split()) {
        // Below range A down from the middle in blue, above it up in red, on a fixed scale.
        const double half = (groove.height() - 1) / 2;
        const double middle = groove.top() + 1 + half;
        const auto reach = [half](float share) {
            return share <= 0 ? 0.0 : std::max(2.0, std::log10(1 + 999.0 * share) / 3 * half);
        };
        const Colour low = class_colour(VoltageClass::below_b);
        const Colour high = class_colour(VoltageClass::above_b);
        for (int x = 0; x < static_cast<int>(groove.width()); ++x) {
            if (const double down = reach(most_in(shares_, x)); down > 0)
                painter.fillRect(QRectF(groove.left() + x, middle, 1, down), QColor(low.r, low.g, low.b));
            if (const double up = reach(most_in(above_, x)); up > 0)
                painter.fillRect(QRectF(groove.left() + x, middle - up, 1, up), QColor(high.r, high.g, high.b));
        }
        painter.fillRect(QRectF(groove.left(), middle, groove.width(), 1), QColor(200, 200, 200));
    } else {
        // The most shaded row of the run reaches the top.
        const float most = shares_.empty() ? 0.0F : *std::max_element(shares_.begin(), shares_.end());
        for (int x = 0; x < static_cast<int>(groove.width()); ++x)
            if (const float share = most_in(shares_, x); share > 0) {
                const double bar = std::max(1.0, share / most * (groove.height() - 1));
                painter.fillRect(QRectF(groove.left() + x, groove.bottom() - bar, 1, bar), QColor(0, 0, 128));
            }
    }
    // The rows in which a regulator or capacitor acts.
    for (const int row : marks_)
        painter.fillRect(QRectF(std::floor(x_of(row)), groove.top(), 1, 5), QColor(255, 0, 255));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(groove);
    if (row_ >= 1 && rows() >= 1) {
        const double x = x_of(row_);
        painter.setPen(QPen(QColor(255, 0, 0), 2));
        painter.drawLine(QPointF(x, 1), QPointF(x, height() - 5));
        painter.setBrush(QColor(255, 0, 0));
        painter.setPen(Qt::NoPen);
        painter.drawPolygon(QPolygonF({QPointF(x - 5, height()), QPointF(x + 5, height()), QPointF(x, height() - 7)}));
    }
}

void Timeline::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rows() > 0)
        emit rowChosen(row_at(event->position().x()));
}

void Timeline::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) != 0 && rows() > 0) {
        const int row = row_at(event->position().x());
        if (row != row_)
            emit rowChosen(row);
    }
}

PictureWindow::PictureWindow(Viewer& viewer, QWidget* owner)
    : QWidget(owner, Qt::Window), viewer_(viewer), view_(new PictureView(viewer, this)), timeline_(new Timeline(this))
{
    setObjectName(QStringLiteral("PictureWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 4);
    layout->setSpacing(2);
    layout->addWidget(view_, 1);
    layout->addWidget(timeline_);
    resize(900, 760);
    connect(timeline_, &Timeline::rowChosen, this, [this](int row) { viewer_.jump_to(row); });
    connect(view_, &PictureView::busClicked, this, [this](int bus, bool add) { viewer_.show_chart(bus, add); });
    refresh();
}

void PictureWindow::restarted()
{
    shares_known_ = false;
    marks_of_ = this;
    view_->fit();
    refresh();
}

void PictureWindow::recount()
{
    shares_known_ = false;
    refresh();
}

void PictureWindow::refresh()
{
    const RunState& st = viewer_.run_state();
    const bool by_voltage = viewer_.by_voltage() && viewer_.voltages() != nullptr;
    if ((!shares_known_ || shares_by_voltage_ != by_voltage) && st.num_pass > 0 && st.n_time > 0) {
        if (by_voltage) {
            timeline_->set_split(viewer_.voltages()->below_shares(), viewer_.voltages()->above_shares());
        } else {
            timeline_->set_shares(shaded_shares(st));
        }
        shares_known_ = true;
        shares_by_voltage_ = by_voltage;
    }
    if (const ControlsTable* controls = viewer_.shown_controls(); st.num_pass > 0 && marks_of_ != controls) {
        timeline_->set_marks(controls != nullptr ? controls->action_rows() : std::vector<int>());
        marks_of_ = controls;
    }
    const int row = st.num_pass > 0 ? viewer_.row_shown() : 0;
    timeline_->set_row(row);
    QString title;
    if (st.num_pass > 0)
        title += viewer_.row_text() + QStringLiteral(" \u2014 ");
    if (const std::string note = viewer_.ring_note(); !note.empty())
        title += QString::fromStdString(note) + QStringLiteral(" \u2014 ");
    if (viewer_.paused())
        title += tr("paused \u2014 ");
    title += tr("Umbrascope picture \u2014 %1").arg(viewer_.folder_text());
    setWindowTitle(title);
    view_->update();
}

void PictureWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F)
        view_->fit();
    else if (!viewer_.jump_by_key(event->key()))
        QWidget::keyPressEvent(event);
}

}  // namespace umbrascope

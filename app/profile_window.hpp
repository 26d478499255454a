#pragma once
// The voltage profile window: the profile of the row shown (each drawn bus at its distance from
// the source against its lowest and highest per-unit voltage, each connection a segment), which
// follows the animation and the jumps; zoomed at the pointer with the wheel, panned by dragging,
// fitted again with F or a double click. Hovering names a bus; clicking one rings it in the
// picture window and opens its chart.

#include <QImage>
#include <QWidget>

#include "app/drag.hpp"
#include "output/profile_picture.hpp"

namespace umbrascope {

class Viewer;

class ProfileView : public QWidget {
    Q_OBJECT

public:
    ProfileView(Viewer& viewer, QWidget* parent);

    void fit();  // the whole run's extent
    void zoom_at(double factor, QPointF at);  // `at` in the widget's coordinates
    void pan(QPointF by);
    [[nodiscard]] bool fitted() const { return fitted_; }
    [[nodiscard]] ProfileAxes axes() const;
    // Where the plane lies in the widget's device pixels.
    [[nodiscard]] ProfilePlot plot() const;
    [[nodiscard]] const QImage& image() const { return image_; }
    [[nodiscard]] int bus_at(QPointF at) const;  // the bus nearest a point of the widget, 0 for none
    [[nodiscard]] QString details_at(QPointF at) const;

signals:
    void busClicked(int bus, bool add);

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    [[nodiscard]] QPointF device(QPointF logical) const { return logical * devicePixelRatioF(); }

    Viewer& viewer_;
    ProfileAxes axes_;  // while zoomed or panned
    bool fitted_ = true;
    DragOrClick drag_;
    QImage image_;
};

class ProfileWindow : public QWidget {
    Q_OBJECT

public:
    // A window of its own, closed with `owner`.
    ProfileWindow(Viewer& viewer, QWidget* owner);

    void refresh();    // after a pass: the profile and the title
    void restarted();  // a new run: fitted again
    [[nodiscard]] ProfileView* view() const { return view_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Viewer& viewer_;
    ProfileView* view_;
};

}  // namespace umbrascope

#pragma once
// The picture window beside Form1: the current picture at the window's size, zoomed at the pointer
// with the wheel, panned by dragging, fitted again with F or a double click; bus names once they
// fit; the time and legend band; and a timeline under it whose groove shows, row by row, the
// share of shaded buses, for jumping to any row.

#include <QImage>
#include <QWidget>
#include <vector>

#include "app/drag.hpp"
#include "output/frame_picture.hpp"
#include "render/picture.hpp"

namespace umbrascope {

class Viewer;

// The share of buses drawn shaded (at most the threshold) in each row of the sun table.
[[nodiscard]] std::vector<float> shaded_shares(const RunState& st);

class PictureView : public QWidget {
    Q_OBJECT

public:
    PictureView(Viewer& viewer, QWidget* parent);

    void fit();  // the whole network, exactly as before any zoom
    void zoom_at(double factor, QPointF at);  // `at` in the widget's coordinates
    void pan(QPointF by);
    [[nodiscard]] bool fitted() const { return fitted_; }
    [[nodiscard]] View view() const;  // in device pixels of the picture above the band
    [[nodiscard]] int band_height() const;  // logical pixels
    [[nodiscard]] const QImage& image() const { return image_; }  // the last picture painted
    [[nodiscard]] int names_shown() const { return names_; }
    [[nodiscard]] FrameOptions frame_options() const;  // the exporter's frame at this widget's size

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
    View view_;  // while zoomed or panned
    bool fitted_ = true;
    DragOrClick drag_;
    QImage image_;
    int names_ = 0;
};

class Timeline : public QWidget {
    Q_OBJECT

public:
    explicit Timeline(QWidget* parent);
    // One per row: the share of shaded buses, in navy from the groove's foot, on the scale of the
    // run's largest.
    void set_shares(std::vector<float> shares);
    // With voltages, one per row: the share of buses below range A in blue under the groove's
    // middle and of those above it in red over it, on a fixed scale (a bus in a thousand reaches a
    // tenth of the way, all of them the whole way), any share at least 2 pixels.
    void set_split(std::vector<float> below, std::vector<float> above);
    // The rows in which a regulator or capacitor acts, marked along the groove's top.
    void set_marks(std::vector<int> rows);
    [[nodiscard]] bool split() const { return !above_.empty(); }
    [[nodiscard]] const std::vector<int>& marks() const { return marks_; }
    void set_row(int row);
    [[nodiscard]] int row() const { return row_; }
    [[nodiscard]] int rows() const { return static_cast<int>(shares_.size()); }
    [[nodiscard]] int row_at(double x) const;
    [[nodiscard]] double x_of(int row) const;

signals:
    void rowChosen(int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    [[nodiscard]] QSize sizeHint() const override { return {400, 40}; }

private:
    std::vector<float> shares_;  // or, split, those below range A
    std::vector<float> above_;
    std::vector<int> marks_;
    int row_ = 0;
};

class PictureWindow : public QWidget {
    Q_OBJECT

public:
    // A window of its own, closed with `owner`.
    PictureWindow(Viewer& viewer, QWidget* owner);

    void refresh();  // after a pass: the picture, the timeline's row and the title
    void recount();  // the timeline's shares again, the voltages having been counted anew
    void restarted();  // a new run: its rows, fitted again
    [[nodiscard]] PictureView* picture() const { return view_; }
    [[nodiscard]] Timeline* timeline() const { return timeline_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    Viewer& viewer_;
    PictureView* view_;
    Timeline* timeline_;
    bool shares_known_ = false;
    bool shares_by_voltage_ = false;
    const void* marks_of_ = this;  // the controls table the marks are of; `this` for none known
};

}  // namespace umbrascope

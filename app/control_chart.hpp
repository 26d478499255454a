#pragma once
// A regulator's tap position, or a capacitor's steps in service, over the whole run as the study
// brought it back, under the scenario's sky and, dashed, under its clear-sky twin, with a cursor
// at the row shown. A click in the chart shows that row.

#include <QWidget>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace umbrascope {

class Viewer;

class ControlChart : public QWidget {
    Q_OBJECT

public:
    // A window of its own, closed with `owner`.
    ControlChart(Viewer& viewer, QWidget* owner);

    void show_control(int control);  // an index into the viewer's controls
    void refresh();                  // after a pass: the cursor
    [[nodiscard]] int control() const { return control_; }
    [[nodiscard]] QChartView* chart_view() const { return view_; }
    [[nodiscard]] int row_at(double x) const;  // the row nearest a value of the x axis

private:
    [[nodiscard]] double x_of(int row) const;

    Viewer& viewer_;
    QChart* chart_;
    QChartView* view_;
    QValueAxis* x_axis_;
    QDateTimeAxis* clock_axis_;
    QValueAxis* y_axis_;
    QLineSeries* cursor_ = nullptr;
    int control_ = -1;
    bool by_clock_ = false;
};

}  // namespace umbrascope

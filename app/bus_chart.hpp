#pragma once
// A bus's time series: its sun intensity over all rows against time, with lines at 0.99 and at the
// track's threshold, and a cursor at the row shown that moves with the animation. Up to eight
// buses, each its own colour and legend entry. A click in the chart jumps to that row; the chart
// saves as PNG or CSV.

#include <QWidget>
#include <filesystem>
#include <vector>

class QAbstractAxis;
class QChart;
class QChartView;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace umbrascope {

class Viewer;

class BusChart : public QWidget {
    Q_OBJECT

public:
    static constexpr int most_buses = 8;

    // A window of its own, closed with `owner`.
    BusChart(Viewer& viewer, QWidget* owner);

    // Shows `bus` alone, or with `add` beside those shown; false when eight are shown already.
    bool show_bus(int bus, bool add);
    void refresh();  // after a pass: the cursor
    void restarted();  // a new run: the series read again
    [[nodiscard]] const std::vector<int>& buses() const { return buses_; }
    [[nodiscard]] double cursor_time() const;
    [[nodiscard]] int row_at_time(double time) const;  // the row whose time is nearest
    [[nodiscard]] QChartView* chart_view() const { return view_; }

    // Throw WriteError.
    void save_png(const std::filesystem::path& path) const;
    void save_csv(const std::filesystem::path& path) const;

private:
    void rebuild();
    void choose_save();
    [[nodiscard]] double time_of(int row) const;

    Viewer& viewer_;
    QChart* chart_;
    QChartView* view_;
    QValueAxis* time_axis_;
    QValueAxis* value_axis_;
    QValueAxis* voltage_axis_;  // on the right, where the run has voltages
    QDateTimeAxis* clock_axis_;  // instead of time_axis_, where the sun table tells the clock
    QLineSeries* top_line_ = nullptr;
    QLineSeries* threshold_line_ = nullptr;
    QLineSeries* cursor_ = nullptr;
    std::vector<int> buses_;
    bool by_time_ = true;  // the x axis is the time column; else the row, where times are missing
    bool by_clock_ = false;  // the time column is seconds from a clock time the sun table gives
    [[nodiscard]] QAbstractAxis* x_axis() const;
};

}  // namespace umbrascope

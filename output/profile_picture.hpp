#pragma once
// The feeder's voltage profile in a row, as engineers plot one: each drawn bus at its distance from
// the source along the network against its lowest and its highest per-unit voltage, each
// connection a segment from bus to bus, with the lines of ANSI C84.1 ranges A (solid) and B
// (dashed). Drawn in the frame palette's colours, so frames and films keep to it; the profile
// window draws it through a zoomed and panned window onto the same axes.

#include <QRectF>
#include <vector>

#include "core/run_state.hpp"
#include "model/voltages.hpp"

class QPainter;

namespace umbrascope {

// The part of the plane shown: distance (km, or network units) across, per unit up.
struct ProfileAxes {
    double x0 = 0;
    double x1 = 1;
    double y0 = 0.9;
    double y1 = 1.1;
    // Zooms by `factor` about the point (x, y) of the plane, which stays where it is.
    void zoom(double factor, double x, double y);
};

// The whole run: every distance from 0, and every voltage of any row within the range lines.
[[nodiscard]] ProfileAxes profile_extent(const RunVoltages& voltages);

// Where the plane lies within a drawing area whose text is `scale` times the classic size: the
// plot itself, inside the margins for the axes' labels.
struct ProfilePlot {
    QRectF plot;
    ProfileAxes axes;
    [[nodiscard]] double x(double distance) const { return plot.left() + (distance - axes.x0) / (axes.x1 - axes.x0) * plot.width(); }
    [[nodiscard]] double y(double pu) const { return plot.bottom() - (pu - axes.y0) / (axes.y1 - axes.y0) * plot.height(); }
    [[nodiscard]] double distance_at(double px) const { return axes.x0 + (px - plot.left()) / plot.width() * (axes.x1 - axes.x0); }
    [[nodiscard]] double pu_at(double py) const { return axes.y0 + (plot.bottom() - py) / plot.height() * (axes.y1 - axes.y0); }
};
[[nodiscard]] ProfilePlot profile_plot(const QRectF& area, const ProfileAxes& axes, double scale);

// A segment of the profile: the connection joining two buses (from 1) that both have a distance.
struct ProfileSegment {
    int from = 0;
    int to = 0;
};
// The connections of the run's network that the profile draws.
[[nodiscard]] std::vector<ProfileSegment> profile_segments(const RunState& st, const RunVoltages& voltages);

// Paints the profile of `row` into `area`, clipped to it; `marked` (a bus from 1, or 0) is ringed.
void paint_profile(QPainter& painter, const QRectF& area, const RunVoltages& voltages,
                   const std::vector<ProfileSegment>& segments, int row, const ProfileAxes& axes, double scale,
                   int marked = 0);

// The bus whose lowest or highest point in `row` lies nearest `at`, within `reach` pixels; 0 for none.
[[nodiscard]] int profile_bus_near(const ProfilePlot& plot, const RunVoltages& voltages, int row, QPointF at,
                                   double reach);

}  // namespace umbrascope

#include "render/draw_network.hpp"

#include <string>

namespace umbrascope {

namespace {

constexpr int dark_blue = 1;
constexpr int light_green = 10;
constexpr int light_red = 12;
constexpr int marker_radius = 50;
constexpr double top_class_bound = 0.99;

struct PlotPoint {
    double x;
    double y;
};

// The plot mapping, step by step: normalised by the one scale c_span and rounded to Singles,
// then spread over the current plot area in double.
Single normalised(Single value, Single minimum, Single span, const char* what)
{
    return to_single((double{value} - minimum) / span, what);
}

PlotPoint spread(const RunState& st, Single xn, Single yn)
{
    const double width = difference(st.xp_max, st.xp_min, "the plot width xp_max - xp_min").value();
    const double height = difference(st.yp_max, st.yp_min, "the plot height yp_max - yp_min").value();
    return {width * xn + st.xp_min.value(), st.yp_max.value() - height * yn};
}

void place_bus(RunState& st)
{
    st.xn = normalised(st.xc(st.k), st.xc_min, st.c_span, "a bus's normalised x xn");
    st.yn = normalised(st.yc(st.k), st.yc_min, st.c_span, "a bus's normalised y yn");
    const PlotPoint point = spread(st, st.xn, st.yn);
    st.xp_bus = to_integer(point.x, "the bus centre xp_bus");
    st.yp_bus = to_integer(point.y, "the bus centre yp_bus");
}

int shading_class(const RunState& st)
{
    const Single v = st.sun_table(st.i_time, st.k).value();  // an empty cell counts as 0
    if (double{v} > top_class_bound)
        return light_red;
    if (v > st.sun_threshold)
        return light_green;
    return dark_blue;
}

void draw_connection(Pass& pass)
{
    RunState& st = pass.st;
    // Connection c is the c-th line after the "bus_connections" line of the network file.
    const auto where = [&st](const char* end, Integer bus) {
        return [&st, end, bus] {
            std::string at = "connection " + std::to_string(st.c.value()) + " names bus index " +
                             std::to_string(bus.value()) + " as " + end + " (the network has " +
                             std::to_string(st.nbus.value()) + (st.nbus == 1 ? " bus)" : " buses)");
            if (st.connections_line > 0)
                at = std::string(network_file_name) + " line " + std::to_string(st.connections_line + st.c.value()) +
                     ", " + at;
            return at;
        };
    };
    const Integer f = st.from_bus(st.c);
    const Integer t = st.to_bus(st.c);
    const Single xf = st.xc.at(f, where("its from bus", f));
    const Single yf = st.yc.at(f, where("its from bus", f));
    const Single xt = st.xc.at(t, where("its to bus", t));
    const Single yt = st.yc.at(t, where("its to bus", t));
    // Both normalised positions first, then both end points; xn and yn are left untouched.
    const Single xn_f = normalised(xf, st.xc_min, st.c_span, "a line end's normalised x");
    const Single yn_f = normalised(yf, st.yc_min, st.c_span, "a line end's normalised y");
    const Single xn_t = normalised(xt, st.xc_min, st.c_span, "a line end's normalised x");
    const Single yn_t = normalised(yt, st.yc_min, st.c_span, "a line end's normalised y");
    const PlotPoint from = spread(st, xn_f, yn_f);
    const PlotPoint to = spread(st, xn_t, yn_t);
    pass.surface.draw_line(to_single(from.x, "a line end x_f"), to_single(from.y, "a line end y_f"),
                           to_single(to.x, "a line end x_t"), to_single(to.y, "a line end y_t"), palette(dark_blue));
}

}  // namespace

void draw_network(Pass& pass)
{
    RunState& st = pass.st;
    Surface& surface = pass.surface;

    Integer last = st.nbus;
    for (st.k = Integer{1}; st.k <= last; st.k = sum(st.k, 1, "the bus loop index k")) {
        place_bus(st);
        st.radius = Integer{marker_radius};
        surface.draw_circle(static_cast<Single>(st.xp_bus.value()), static_cast<Single>(st.yp_bus.value()),
                            static_cast<Single>(st.radius.value()), palette(dark_blue));
    }

    last = st.nconn;
    for (st.c = Integer{1}; st.c <= last; st.c = sum(st.c, 1, "the connection loop index c"))
        draw_connection(pass);

    last = st.nbus;
    for (st.k = Integer{1}; st.k <= last; st.k = sum(st.k, 1, "the bus loop index k")) {
        place_bus(st);
        st.shade_color = Integer(static_cast<std::int16_t>(shading_class(st)));
        for (st.radius = Integer{15}; st.radius <= 85; st.radius = sum(st.radius, 10, "the disc radius")) {
            surface.draw_circle(static_cast<Single>(st.xp_bus.value()), static_cast<Single>(st.yp_bus.value()),
                                static_cast<Single>(st.radius.value()), palette(st.shade_color.value()));
        }
    }
}

std::optional<PlotPosition> bus_marker_position(const RunState& st, int k)
{
    try {
        const Integer index(static_cast<std::int16_t>(k));
        const Single xn = normalised(st.xc(index), st.xc_min, st.c_span, "xn");
        const Single yn = normalised(st.yc(index), st.yc_min, st.c_span, "yn");
        const PlotPoint point = spread(st, xn, yn);
        return PlotPosition{to_integer(point.x, "x").value(), to_integer(point.y, "y").value()};
    } catch (const PassError&) {  // a query, not a step of a pass: no position is the answer
        return std::nullopt;
    }
}

}  // namespace umbrascope

#include "network/plot_geometry.hpp"

namespace umbrascope {

namespace {

constexpr double widening = 0.5;
constexpr int fill_offset = 20;
constexpr int white = 15;

void echo_extent(Pass& pass, TextView label, Single value)
{
    Text line(label);
    append_single_text(line, value);
    pass.controls.append_item(ListBox::Coordinates_Repeated_Listbox, line);
}

}  // namespace

void compute_plot_geometry(Pass& pass)
{
    RunState& st = pass.st;

    // The extent: strict, independent tests; the bus count is taken once. It starts from the first
    // bus itself, so coordinates of any size (state-plane feet, UTM metres) give their true extent.
    const Integer last = st.nbus;
    for (st.k = Integer{1}; st.k <= last; st.k = sum(st.k, 1, "the bus loop index k")) {
        if (st.k == 1) {
            st.xc_min = st.xc(st.k);
            st.xc_max = st.xc(st.k);
            st.yc_min = st.yc(st.k);
            st.yc_max = st.yc(st.k);
        }
        if (st.xc(st.k) > st.xc_max)
            st.xc_max = st.xc(st.k);
        if (st.xc(st.k) < st.xc_min)
            st.xc_min = st.xc(st.k);
        if (st.yc(st.k) > st.yc_max)
            st.yc_max = st.yc(st.k);
        if (st.yc(st.k) < st.yc_min)
            st.yc_min = st.yc(st.k);
    }

    echo_extent(pass, U"xc_min = ", st.xc_min);
    echo_extent(pass, U"xc_max = ", st.xc_max);
    echo_extent(pass, U"yc_min = ", st.yc_min);
    echo_extent(pass, U"yc_max = ", st.yc_max);

    st.xc_min = to_single(st.xc_min - widening, "widening xc_min");
    st.yc_min = to_single(st.yc_min - widening, "widening yc_min");
    st.xc_max = to_single(st.xc_max + widening, "widening xc_max");
    st.yc_max = to_single(st.yc_max + widening, "widening yc_max");

    st.margin = Integer{200};
    const LineEnds left = pass.controls.line_ends(LineControl::Line_Left);
    const LineEnds right = pass.controls.line_ends(LineControl::Line_Right);
    st.xp_min = to_integer(double{left.X1} + st.margin.value(), "the plot area's left edge xp_min");
    st.yp_min = to_integer(double{left.Y1} + st.margin.value(), "the plot area's top edge yp_min");
    st.xp_max = to_integer(double{right.X2} - st.margin.value(), "the plot area's right edge xp_max");
    st.yp_max = to_integer(double{right.Y2} - st.margin.value(), "the plot area's bottom edge yp_max");

    pass.surface.fill_box(to_single(double{left.X1} + fill_offset, "the first fill"),
                          to_single(double{left.Y1} + fill_offset, "the first fill"),
                          to_single(double{right.X2} - fill_offset, "the first fill"),
                          to_single(double{right.Y2} - fill_offset, "the first fill"), palette(white));

    st.yp_span = difference(st.yp_max, st.yp_min, "the plot height yp_span");
    st.xc_span = to_single(double{st.xc_max} - st.xc_min, "the x span xc_span");
    st.yc_span = to_single(double{st.yc_max} - st.yc_min, "the y span yc_span");
    st.c_span = st.xc_span;
    if (st.yc_span > st.xc_span)
        st.c_span = st.yc_span;

    // A network wider than high fills only yc_span / xc_span of the plot height, measured up from
    // yp_max; lifting both bounds by half the unused height centres it at every ratio.
    if (st.xc_span > st.yc_span) {
        const double d = (double{st.xc_span} - st.yc_span) / st.xc_span * st.yp_span.value() / 2;
        st.yp_max = to_integer(st.yp_max.value() - d, "the lifted bottom edge yp_max");
        st.yp_min = to_integer(st.yp_min.value() - d, "the lifted top edge yp_min");
    }
}

void clear_plot_frame(Pass& pass)
{
    const LineEnds left = pass.controls.line_ends(LineControl::Line_Left);
    const LineEnds right = pass.controls.line_ends(LineControl::Line_Right);
    pass.surface.fill_box(to_single(double{left.X1} - fill_offset, "the frame fill"),
                          to_single(double{left.Y1} - fill_offset, "the frame fill"),
                          to_single(double{right.X2} + fill_offset, "the frame fill"),
                          to_single(double{right.Y2} + fill_offset, "the frame fill"), palette(white));
}

}  // namespace umbrascope

#include "clouds/cloud_track.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "core/scan.hpp"

namespace umbrascope {

namespace {

constexpr int dark_blue = 1;

struct Parameter {
    int delimiter;  // the field that ends at this delimiter
    Single RunState::*field;
    std::string_view name;
};

constexpr Parameter parameters[] = {
    {4, &RunState::cloud_len, "cloud_len"},     {5, &RunState::cloud_r1, "cloud_r1"},
    {6, &RunState::cloud_r2, "cloud_r2"},       {8, &RunState::cloud_angle, "cloud_angle"},
    {9, &RunState::sun_threshold, "sun_threshold"},
};

const Parameter* parameter_at(int delimiter)
{
    for (const Parameter& parameter : parameters)
        if (parameter.delimiter == delimiter)
            return &parameter;
    return nullptr;
}

bool accepted(const RunState& st)
{
    // Only the upper y bound is widened, by one side of the square.
    return st.cloud_x >= st.xc_min && st.cloud_x <= st.xc_max &&
           st.cloud_y <= to_single(double{st.yc_max} + st.cloud_len, "the upper cloud bound yc_max + cloud_len") &&
           st.cloud_y >= st.yc_min;
}

void draw_cloud(Pass& pass)
{
    RunState& st = pass.st;
    st.xn = to_single((double{st.cloud_x} - st.xc_min) / st.c_span, "the cloud's normalised x xn");
    st.yn = to_single((double{st.cloud_y} - st.yc_min) / st.c_span, "the cloud's normalised y yn");
    const double width = difference(st.xp_max, st.xp_min, "the plot width xp_max - xp_min").value();
    const double height = difference(st.yp_max, st.yp_min, "the plot height yp_max - yp_min").value();
    st.cloud_xp = to_single(width * st.xn + st.xp_min.value(), "the cloud centre cloud_xp");
    st.cloud_yp = to_single(st.yp_max.value() - height * st.yn, "the cloud centre cloud_yp");
    const Single cloud_r1_xp = to_single(width / st.c_span * st.cloud_r1, "the cloud radius cloud_r1_xp");
    const Single cloud_r2_xp = to_single(width / st.c_span * st.cloud_r2, "the cloud radius cloud_r2_xp");

    const auto at = [](Single a, double b) { return to_single(a + b, "a corner of the cloud square"); };
    const Single p1x = at(st.cloud_xp, st.corner_ay);
    const Single p1y = at(st.cloud_yp, -double{st.corner_bx});
    const Single p2x = at(st.cloud_xp, st.corner_ax);
    const Single p2y = at(st.cloud_yp, st.corner_by);
    const Single p3x = at(st.cloud_xp, -double{st.corner_ay});
    const Single p3y = at(st.cloud_yp, st.corner_bx);
    const Single p4x = at(st.cloud_xp, -double{st.corner_ax});
    const Single p4y = at(st.cloud_yp, -double{st.corner_by});

    Surface& surface = pass.surface;
    surface.draw_line(p1x, p1y, p2x, p2y, palette(dark_blue));
    surface.draw_line(p2x, p2y, p3x, p3y, palette(dark_blue));
    surface.draw_line(p3x, p3y, p4x, p4y, palette(dark_blue));
    surface.draw_line(p4x, p4y, p1x, p1y, palette(dark_blue));
    surface.draw_circle(st.cloud_xp, st.cloud_yp, cloud_r1_xp, colour_value_0);
    surface.draw_circle(st.cloud_xp, st.cloud_yp, cloud_r2_xp, colour_value_0);
}

}  // namespace

void read_cloud_parameters(Pass& pass)
{
    RunState& st = pass.st;
    InputSlot& input = pass.input;
    st.pi_val = std::bit_cast<Single>(std::uint32_t{0x40490FDA});
    input.open(track_file_name);
    Text track_line;
    for (int line = 1; line <= 4; ++line)
        input.read_line(track_line, track_file_name);

    // Nine delimiters in turn; a search that finds nothing sets pos to 0, so the next search
    // starts again at the beginning of the line.
    Site site{track_file_name, input.line_number()};
    st.pos_start = Integer{0};
    for (int delimiter = 1; delimiter <= 9; ++delimiter) {
        const Parameter* parameter = parameter_at(delimiter);
        site.label = parameter != nullptr ? parameter->name : std::string_view{};
        st.pos = find_delim(track_line, st.pos_start, st.delim, site);
        if (parameter != nullptr) {
            const std::string missing = "\",\" after " + std::string(parameter->name) + " (the parameter line needs nine)";
            st.*(parameter->field) = text_to_single(cut_field(track_line, st.pos_start, st.pos, site, missing), site);
        }
        st.pos_start = st.pos;
    }

    const double width = difference(st.xp_max, st.xp_min, "the plot width xp_max - xp_min").value();
    const double height = difference(st.yp_max, st.yp_min, "the plot height yp_max - yp_min").value();
    st.cloud_len_xp = to_single(width / st.c_span * st.cloud_len, "the square's side cloud_len_xp");
    st.cloud_len_yp = to_single(height / st.c_span * st.cloud_len, "the square's side cloud_len_yp");

    const double a = (double{st.cloud_angle} - 45) * st.pi_val / 180;
    const double h = std::sqrt(2.0) / 2;
    st.corner_ax = to_single(h * st.cloud_len_xp * std::cos(a), "the corner offset corner_ax");
    st.corner_ay = to_single(h * st.cloud_len_xp * std::sin(a), "the corner offset corner_ay");
    st.corner_bx = to_single(h * st.cloud_len_yp * std::cos(a), "the corner offset corner_bx");
    st.corner_by = to_single(h * st.cloud_len_yp * std::sin(a), "the corner offset corner_by");
}

void draw_step_clouds(Pass& pass)
{
    RunState& st = pass.st;
    InputSlot& input = pass.input;
    Text track_line;
    for (;;) {
        if (input.at_end(track_file_name))
            return;
        st.pos_start = Integer{0};
        input.read_line(track_line, track_file_name);
        Site site{input.file_name(), input.line_number(), 1};
        st.pos = find_delim(track_line, st.pos_start, st.delim, site);
        const Integer track_step =
            text_to_integer(cut_field(track_line, st.pos_start, st.pos, site, "\",\" before the cloud's x"), site);
        st.pos_start = st.pos;
        if (track_step == st.i_time) {
            site.field = 2;
            st.pos = find_delim(track_line, st.pos_start, st.delim, site);
            st.cloud_x = text_to_single(cut_field(track_line, st.pos_start, st.pos, site, "\",\" before the cloud's y"), site);
            site.field = 3;
            st.pos_start = st.pos;
            st.cloud_y = text_to_single(rest_of_line(track_line, st.pos_start, site), site);
            pass.surface.set_line_style(LineStyle::dotted);
            if (accepted(st))
                draw_cloud(pass);
        }
        pass.surface.set_line_style(LineStyle::solid);
        if (track_step > st.i_time) {
            // The first record of a later step opens the next pass instead of being lost.
            input.hold_line(track_line);
            return;
        }
    }
}

}  // namespace umbrascope

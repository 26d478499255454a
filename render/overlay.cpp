#include "render/overlay.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "core/shade.hpp"
#include "core/text.hpp"
#include "render/draw_network.hpp"

namespace umbrascope {

template <class Pixel>
void shade_map(Pixel* bits, int width, int height, int stride_pixels, const View& view, const RunState& st,
               const SkyField& field, int row, Pixel white, Pixel (*shade_of)(int level))
{
    if (st.num_pass <= 0 || !(st.c_span > 0) || width <= 0 || height <= 0)
        return;
    const double plot_width = st.xp_max.value() - st.xp_min.value();
    const double plot_height = st.yp_max.value() - st.yp_min.value();
    if (plot_width == 0 || plot_height == 0)
        return;
    // Within the plot frame, where the passes' fill lies.
    const PlotRect frame = frame_rect();
    const int left = std::max(0, static_cast<int>(std::ceil(view.x(frame.left))));
    const int right = std::min(width, static_cast<int>(std::floor(view.x(frame.right))));
    const int top = std::max(0, static_cast<int>(std::ceil(view.y(frame.top))));
    const int bottom = std::min(height, static_cast<int>(std::floor(view.y(frame.bottom))));
    if (left >= right || top >= bottom)
        return;
    // Pixel (px, py) lies at network (x, y) linearly, so its time in the series does too:
    // t = t0 + a px + b py. The shade's step is looked up by t, at a tenth of the finest of a
    // pixel's steps along the wind.
    const auto network_x = [&](double px) { return (view.plot_x(px) - st.xp_min.value()) / plot_width * st.c_span + st.xc_min; };
    const auto network_y = [&](double py) { return (st.yp_max.value() - view.plot_y(py)) / plot_height * st.c_span + st.yc_min; };
    const double row_time = field.row_time(row);
    const auto time_at = [&](double px, double py) { return row_time - field.lag(network_x(px), network_y(py)); };
    const double t0 = time_at(left + 0.5, top + 0.5);
    const double a = time_at(left + 1.5, top + 0.5) - t0;
    const double b = time_at(left + 0.5, top + 1.5) - t0;
    const double corners[] = {t0, t0 + a * (right - left), t0 + b * (bottom - top), t0 + a * (right - left) + b * (bottom - top)};
    const double t_low = *std::min_element(std::begin(corners), std::end(corners));
    const double t_high = *std::max_element(std::begin(corners), std::end(corners));
    const double step = std::max({std::fabs(a), std::fabs(b), 1e-9}) / 10;
    const auto steps = static_cast<std::size_t>(std::min((t_high - t_low) / step + 2, 1e6));
    const double cell = std::max(step, (t_high - t_low) / static_cast<double>(steps - 1));
    std::vector<Pixel> levels(steps);
    const double divisor = field.row_divisor(row);
    for (std::size_t i = 0; i < steps; ++i) {
        const double index = divisor > 0 ? field.series_at(t_low + static_cast<double>(i) * cell) / divisor : 0;
        const int level = shade_level(index);
        levels[i] = level == 0 ? white : shade_of(level);
    }
    // Along a line the step's place moves by a fixed amount a pixel: stepped in 32.32 fixed point,
    // the line's ends clamped into the table (every pixel between lies between them).
    const double inverse = 1 / cell;
    const double last = static_cast<double>(steps - 1);
    const auto place = [&](double t) { return std::clamp(t * inverse + 0.5, 0.0, last); };
    constexpr double one = 4294967296.0;  // 2^32
    for (int y = top; y < bottom; ++y) {
        Pixel* line = bits + static_cast<std::ptrdiff_t>(y) * stride_pixels;
        const double t = t0 + b * (y - top) - t_low;
        const double from = place(t);
        const double to = place(t + a * (right - 1 - left));
        auto at = static_cast<std::int64_t>(from * one);
        const std::int64_t by = right - 1 > left ? static_cast<std::int64_t>((to - from) / (right - 1 - left) * one) : 0;
        for (int x = left; x < right; ++x, at += by)
            if (line[x] == white)
                line[x] = levels[static_cast<std::size_t>(at >> 32)];
    }
}

template void shade_map(std::uint32_t*, int, int, int, const View&, const RunState&, const SkyField&, int, std::uint32_t,
                        std::uint32_t (*)(int));
template void shade_map(std::uint8_t*, int, int, int, const View&, const RunState&, const SkyField&, int, std::uint8_t,
                        std::uint8_t (*)(int));

ControlPlaces control_places(const RunState& st, const ControlsTable& controls)
{
    std::unordered_map<std::string, int> index;
    for (int k = st.nbus.value(); k >= 1; --k)
        index[encode_utf8(st.bus_name.at(Integer(static_cast<std::int16_t>(k)), [] { return std::string(); }))] = k;
    ControlPlaces places;
    std::unordered_map<int, int> at_bus;
    for (const ControlSeries& control : controls.controls()) {
        const auto found = index.find(control.drawn_bus);
        const int bus = found == index.end() ? 0 : found->second;
        places.bus.push_back(bus);
        places.slot.push_back(bus > 0 ? at_bus[bus]++ : 0);
    }
    for (const int bus : places.bus)
        places.sharing.push_back(bus > 0 ? at_bus[bus] : 0);
    return places;
}

bool control_centre(const RunState& st, const View& view, const ControlPlaces& places, int c, double scale, double& x,
                    double& y)
{
    if (c < 0 || static_cast<std::size_t>(c) >= places.bus.size() || places.bus[static_cast<std::size_t>(c)] <= 0)
        return false;
    const auto at = bus_marker_position(st, places.bus[static_cast<std::size_t>(c)]);
    if (!at)
        return false;
    // In a row above the bus's disc, side by side where several stand at one bus.
    const double spread = (places.slot[static_cast<std::size_t>(c)] - (places.sharing[static_cast<std::size_t>(c)] - 1) / 2.0);
    x = std::round(view.x(at->x) + spread * 13 * scale);
    y = std::round(view.y(at->y) - 15 * scale);
    return true;
}

namespace {

template <class Pixel>
struct Pen {
    Pixel* bits;
    int width, height, stride;
    Pixel colour;
    void dot(long x, long y) const
    {
        if (x >= 0 && y >= 0 && x < width && y < height)
            bits[y * stride + x] = colour;
    }
    void box(long x0, long y0, long x1, long y1) const
    {
        for (long y = std::max(0L, y0); y <= std::min<long>(height - 1, y1); ++y)
            for (long x = std::max(0L, x0); x <= std::min<long>(width - 1, x1); ++x)
                bits[y * stride + x] = colour;
    }
    void outline(long x0, long y0, long x1, long y1) const
    {
        box(x0, y0, x1, y0);
        box(x0, y1, x1, y1);
        box(x0, y0, x0, y1);
        box(x1, y0, x1, y1);
    }
    void line(long x0, long y0, long x1, long y1) const
    {
        const long dx = std::labs(x1 - x0), dy = -std::labs(y1 - y0);
        const long sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        long error = dx + dy;
        for (int guard = 0; guard < 4096; ++guard) {
            dot(x0, y0);
            if (x0 == x1 && y0 == y1)
                break;
            const long twice = 2 * error;
            if (twice >= dy) {
                error += dy;
                x0 += sx;
            }
            if (twice <= dx) {
                error += dx;
                y0 += sy;
            }
        }
    }
};

}  // namespace

template <class Pixel>
void draw_controls(Pixel* bits, int width, int height, int stride_pixels, const View& view, const RunState& st,
                   const ControlsTable& controls, const ControlPlaces& places, int row, double scale, Pixel ink,
                   Pixel acting)
{
    const long half = std::max(3L, std::lround(4.5 * scale));
    const long thick = std::max(1L, std::lround(scale));
    for (std::size_t c = 0; c < controls.controls().size(); ++c) {
        double cx = 0, cy = 0;
        if (!control_centre(st, view, places, static_cast<int>(c), scale, cx, cy))
            continue;
        const ControlSeries& control = controls.controls()[c];
        const bool acts = control.acts(row);
        const Pen<Pixel> pen{bits, width, height, stride_pixels, acts ? acting : ink};
        const auto x = static_cast<long>(cx), y = static_cast<long>(cy);
        if (acts)
            pen.outline(x - half - 2 * thick, y - half - 2 * thick, x + half + 2 * thick, y + half + 2 * thick);
        for (long t = 0; t < thick; ++t) {
            if (control.regulator()) {
                pen.outline(x - half + t, y - half + t, x + half - t, y + half - t);
                pen.line(x - half + 1 + t, y + half - 1, x + half - 1, y - half + 1 + t);
            } else {
                const long gap = std::max(1L, half / 3);
                pen.box(x - gap - thick + 1, y - half, x - gap, y + half);
                pen.box(x + gap, y - half, x + gap + thick - 1, y + half);
                pen.box(x - half, y - t, x - gap - thick, y - t);
                pen.box(x + gap + thick, y - t, x + half, y - t);
            }
        }
    }
}

template void draw_controls(std::uint32_t*, int, int, int, const View&, const RunState&, const ControlsTable&,
                            const ControlPlaces&, int, double, std::uint32_t, std::uint32_t);
template void draw_controls(std::uint8_t*, int, int, int, const View&, const RunState&, const ControlsTable&,
                            const ControlPlaces&, int, double, std::uint8_t, std::uint8_t);

int control_near(const RunState& st, const View& view, const ControlsTable& controls, const ControlPlaces& places,
                 double scale, double x, double y, double reach)
{
    int nearest = -1;
    double best = reach + 5 * scale;
    for (std::size_t c = 0; c < controls.controls().size(); ++c) {
        double cx = 0, cy = 0;
        if (!control_centre(st, view, places, static_cast<int>(c), scale, cx, cy))
            continue;
        const double distance = std::hypot(cx - x, cy - y);
        if (distance <= best) {
            best = distance;
            nearest = static_cast<int>(c);
        }
    }
    return nearest;
}

}  // namespace umbrascope

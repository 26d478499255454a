#include "render/picture.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "core/layout.hpp"
#include "core/raster.hpp"
#include "render/draw_network.hpp"

namespace umbrascope {

namespace {

constexpr double border = 20;  // plot units of white around the plot frame

Role drawn_role(LineStyle style, Role solid) { return style == LineStyle::dotted ? Role::cloud : solid; }

}  // namespace

PlotRect frame_rect()
{
    const LineEnds left = layout::design_ends(LineControl::Line_Left);
    const LineEnds right = layout::design_ends(LineControl::Line_Right);
    return {left.X1 - border, left.Y1 - border, right.X2 + border, right.Y2 + border};
}

void Picture::draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    // Only cloud figures are drawn dotted; the network's lines are solid.
    shapes_.push_back({ShapeKind::line, drawn_role(style_, Role::connection), style_, colour, x1, y1, x2, y2});
}

void Picture::fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    const PlotRect frame = frame_rect();
    if (std::min(x1, x2) <= frame.left && std::max(x1, x2) >= frame.right && std::min(y1, y2) <= frame.top &&
        std::max(y1, y2) >= frame.bottom)
        shapes_.clear();  // everything earlier is covered
    shapes_.push_back({ShapeKind::box, Role::fill, style_, colour, x1, y1, x2, y2});
}

void Picture::draw_circle(Single x, Single y, Single radius, Colour colour)
{
    shapes_.push_back({ShapeKind::circle, drawn_role(style_, Role::bus), style_, colour, x, y, radius, 0});
}

void View::zoom(double factor, double px, double py)
{
    // The device point under the target pixel stays put: shift' = d - (d - shift) x factor.
    const double dx = px + origin_x;
    const double dy = py + origin_y;
    shift_x = dx - (dx - shift_x) * factor;
    shift_y = dy - (dy - shift_y) * factor;
    scale *= factor;
}

double View::symbols() const
{
    if (!(symbol_spacing > 0))
        return symbol_scale;
    // A disc is drawn 170 plot units across at symbol_scale, and a pixel more; one three quarters as
    // wide as the buses lie apart leaves a gap, and the line in it, between neighbours. The
    // smallest is 3 pixels wide (at symbol_scale 1/15, 3 of the full disc's 12 and a third).
    constexpr double across = 170;
    const double full = across * symbol_scale + 1;
    const double wide = std::clamp(0.75 * symbol_spacing * scale, 3 * full / (across / 15 + 1), full);
    return (wide - 1) / across;
}

double bus_spacing(const RunState& st)
{
    std::vector<std::pair<double, double>> at;
    for (int k = 1; k <= st.nbus.value(); ++k)
        if (const auto position = bus_marker_position(st, k))
            at.emplace_back(position->x, position->y);
    if (at.size() < 2)
        return 0;
    // Each bus's nearest neighbour, looked for in the cells of a grid around it, wider rings until
    // one holds a bus at least as near as the ring's inner edge.
    double left = at[0].first, right = left, top = at[0].second, bottom = top;
    for (const auto& [x, y] : at) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
    }
    const double cell = std::max({(right - left) / std::sqrt(static_cast<double>(at.size())),
                                  (bottom - top) / std::sqrt(static_cast<double>(at.size())), 1.0});
    const auto column = [&](double x) { return static_cast<long>((x - left) / cell); };
    const auto row = [&](double y) { return static_cast<long>((y - top) / cell); };
    std::unordered_map<std::int64_t, std::vector<std::size_t>> grid;
    const auto key = [](long cx, long cy) { return (static_cast<std::int64_t>(cx) << 32) ^ static_cast<std::uint32_t>(cy); };
    for (std::size_t i = 0; i < at.size(); ++i)
        grid[key(column(at[i].first), row(at[i].second))].push_back(i);
    const long columns = column(right) + 1, rows = row(bottom) + 1;
    std::vector<double> nearest;
    nearest.reserve(at.size());
    for (std::size_t i = 0; i < at.size(); ++i) {
        const long cx = column(at[i].first), cy = row(at[i].second);
        double best = HUGE_VAL;
        for (long ring = 0; ring <= std::max(columns, rows); ++ring) {
            for (long x = cx - ring; x <= cx + ring; ++x)
                for (long y = cy - ring; y <= cy + ring; ++y) {
                    if (std::max(std::labs(x - cx), std::labs(y - cy)) != ring)
                        continue;
                    const auto found = grid.find(key(x, y));
                    if (found == grid.end())
                        continue;
                    for (const std::size_t j : found->second)
                        if (j != i)
                            best = std::min(best, std::hypot(at[j].first - at[i].first, at[j].second - at[i].second));
                }
            if (best <= static_cast<double>(ring) * cell)
                break;
        }
        // Buses drawn on one spot are one symbol: they do not make the others small.
        if (best > 0 && best < HUGE_VAL)
            nearest.push_back(best);
    }
    if (nearest.empty())
        return 0;
    const auto share = nearest.begin() + static_cast<std::ptrdiff_t>(nearest.size() / 2);
    std::nth_element(nearest.begin(), share, nearest.end());
    return *share;
}

View classic_view()
{
    const PlotRect frame = frame_rect();
    View view;
    view.origin_x = static_cast<int>(std::lround(frame.left / layout::twips_per_pixel));
    view.origin_y = static_cast<int>(std::lround(frame.top / layout::twips_per_pixel));
    // The window's client area, where the window's own picture computes its shapes.
    view.device_width = (layout::client_width + layout::twips_per_pixel - 1) / layout::twips_per_pixel;
    view.device_height = (layout::client_height + layout::twips_per_pixel - 1) / layout::twips_per_pixel;
    return view;
}

PlotRect network_rect(const RunState& st)
{
    const double width = st.xp_max.value() - st.xp_min.value();
    const double height = st.yp_max.value() - st.yp_min.value();
    const double span = st.c_span;
    if (!(span > 0) || !std::isfinite(span) || width <= 0 || height <= 0)
        return frame_rect();
    PlotRect rect{static_cast<double>(st.xp_min.value()), st.yp_max.value() - height * (st.yc_span / span),
                  st.xp_min.value() + width * (st.xc_span / span), static_cast<double>(st.yp_max.value())};
    if (!(rect.width() > 0) || !(rect.height() > 0) || !std::isfinite(rect.width() + rect.height()))
        return frame_rect();
    return rect;
}

View fitted_view(const RunState& st, int width, int height, double margin, double pixel_ratio)
{
    const PlotRect network = network_rect(st);
    const double room_x = std::max(1.0, width - 2 * margin);
    const double room_y = std::max(1.0, height - 2 * margin);
    View view;
    // A network drawn as a line (all buses level, say) is fitted by its length alone.
    const double by_x = room_x / std::max(network.width(), 1e-9);
    const double by_y = room_y / std::max(network.height(), 1e-9);
    view.scale = std::min(by_x, by_y);
    view.symbol_scale = pixel_ratio / layout::twips_per_pixel;
    view.shift_x = width / 2.0 - view.scale * (network.left + network.right) / 2;
    view.shift_y = height / 2.0 - view.scale * (network.top + network.bottom) / 2;
    view.frame_fills = false;
    return view;
}

namespace {

// A bus symbol's pixels, by where its centre falls within a pixel (in sixteenths): every bus of a
// picture shares the few shapes its circles take, so each is drawn once and then stamped. Used
// where symbols are sized apart from the geography; the classic view draws each circle itself.
class SymbolStamps {
public:
    template <class Pixel>
    void stamp(double cx, double cy, double radius, Pixel value, Pixel* bits, int width, int height, int stride)
    {
        const double fx_whole = std::floor(cx), fy_whole = std::floor(cy);
        int fx = static_cast<int>(std::lround((cx - fx_whole) * 16));
        int fy = static_cast<int>(std::lround((cy - fy_whole) * 16));
        long x0 = static_cast<long>(fx_whole), y0 = static_cast<long>(fy_whole);
        if (fx == 16)
            fx = 0, ++x0;
        if (fy == 16)
            fy = 0, ++y0;
        const float r = static_cast<float>(radius);
        std::uint32_t r_bits = 0;
        std::memcpy(&r_bits, &r, sizeof r_bits);
        const std::uint64_t key = (std::uint64_t{r_bits} << 16) | static_cast<std::uint64_t>(fx << 8) | static_cast<std::uint64_t>(fy);
        auto found = stamps_.find(key);
        if (found == stamps_.end())
            found = stamps_.emplace(key, draw(fx / 16.0, fy / 16.0, r)).first;
        for (const auto& [dx, dy] : found->second) {
            const long x = x0 + dx, y = y0 + dy;
            if (x >= 0 && y >= 0 && x < width && y < height)
                bits[y * stride + x] = value;
        }
    }

private:
    static std::vector<std::pair<int, int>> draw(double fx, double fy, float radius)
    {
        const int half = static_cast<int>(std::ceil(radius)) + 3;
        const int side = 2 * half + 1;
        std::vector<std::uint32_t> scratch(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 0);
        RasterSurface raster(scratch.data(), side, side, side, 1.0);
        raster.draw_circle(static_cast<Single>(half + fx), static_cast<Single>(half + fy), radius, Colour{255, 255, 255});
        std::vector<std::pair<int, int>> pixels;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                if (scratch[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)] != 0)
                    pixels.emplace_back(x - half, y - half);
        return pixels;
    }

    std::unordered_map<std::uint64_t, std::vector<std::pair<int, int>>> stamps_;
};

template <class Pixel>
void replay(const std::vector<Shape>& shapes, const View& view, Pixel* bits, int width, int height, int stride_pixels,
            PixelOf<Pixel> pixel_of)
{
    SymbolStamps stamps;
    BasicRaster<Pixel> raster(bits, width, height, stride_pixels, view.scale, pixel_of);
    raster.set_origin(view.origin_x, view.origin_y, view.device_width > 0 ? view.device_width : width,
                      view.device_height > 0 ? view.device_height : height);
    raster.set_shift(view.shift_x, view.shift_y);
    const double symbols = view.symbols();
    const double symbol = symbols / view.scale;
    for (const Shape& shape : shapes) {
        raster.set_line_style(shape.style);
        switch (shape.kind) {
        case ShapeKind::line:
            raster.draw_line(shape.a, shape.b, shape.c, shape.d, shape.colour);
            break;
        case ShapeKind::box:
            if (view.frame_fills) {
                raster.fill_box(shape.a, shape.b, shape.c, shape.d, shape.colour);
            } else {
                // One row filled, then copied down: the copies move many pixels a step.
                const Pixel value = pixel_of(shape.colour);
                std::fill(bits, bits + width, value);
                for (int y = 1; y < height; ++y)
                    std::memcpy(bits + static_cast<std::ptrdiff_t>(y) * stride_pixels, bits,
                                static_cast<std::size_t>(width) * sizeof(Pixel));
            }
            break;
        case ShapeKind::circle:
            // A symbol's radius, given in plot units, is kept in pixels at every scale.
            if (shape.role == Role::bus && symbol != 1.0 && shape.style == LineStyle::solid && view.device_width == 0)
                stamps.stamp(shape.a * view.scale + view.shift_x - view.origin_x, shape.b * view.scale + view.shift_y - view.origin_y,
                             shape.c * symbols, pixel_of(shape.colour), bits, width, height, stride_pixels);
            else
                raster.draw_circle(shape.a, shape.b, shape.role == Role::bus && symbol != 1.0 ? static_cast<Single>(shape.c * symbol) : shape.c,
                                   shape.colour);
            break;
        }
    }
}

}  // namespace

void render_picture(const std::vector<Shape>& shapes, const View& view, std::uint32_t* bits, int width, int height,
                    int stride_pixels)
{
    replay<std::uint32_t>(shapes, view, bits, width, height, stride_pixels, [](Colour colour) { return argb(colour); });
}

void render_picture(const std::vector<Shape>& shapes, const View& view, std::uint8_t* bits, int width, int height,
                    int stride_pixels, std::uint8_t (*index_of)(Colour colour))
{
    replay<std::uint8_t>(shapes, view, bits, width, height, stride_pixels, index_of);
}

std::vector<std::pair<double, double>> cloud_centres(const std::vector<Shape>& shapes)
{
    std::vector<std::pair<double, double>> centres;
    for (const Shape& shape : shapes)
        if (shape.kind == ShapeKind::circle && shape.role == Role::cloud &&
            (centres.empty() || centres.back() != std::pair<double, double>(shape.a, shape.b)))
            centres.emplace_back(shape.a, shape.b);  // each figure has two circles around its centre
    return centres;
}

}  // namespace umbrascope

#include "core/raster.hpp"

#include <algorithm>
#include <cmath>

namespace umbrascope {

namespace {

// Pixel i covers [i - 0.5, i + 0.5): a device coordinate goes to its nearest pixel, halves away
// from zero as lround rounds them (the whole part comes off exactly, so the test of the rest is exact).
long nearest(double v, double lo, double hi)
{
    v = std::clamp(v, lo, hi);
    long whole = static_cast<long>(v);
    const double rest = v - static_cast<double>(whole);
    if (rest >= 0.5)
        ++whole;
    else if (rest <= -0.5)
        --whole;
    return whole;
}

// Whether a coordinate's nearest pixel is odd, for any finite coordinate however large.
bool odd(double v) { return std::fmod(std::round(v), 2.0) != 0.0; }

bool finite(std::initializer_list<double> values)
{
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// Liang-Barsky clipping of the segment to [x0, x1] x [y0, y1]; false when nothing is left. A cut end
// lies exactly on the edge that cut it and its other coordinate is measured from the nearer end, so
// an end however far away loses nothing to cancellation.
bool clip(double& ax, double& ay, double& bx, double& by, double x0, double y0, double x1, double y1)
{
    double t0 = 0.0;
    double t1 = 1.0;
    int edge0 = -1;
    int edge1 = -1;
    const double dx = bx - ax;
    const double dy = by - ay;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {ax - x0, x1 - ax, ay - y0, y1 - ay};
    const double edges[4] = {x0, x1, y0, y1};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0 && t > t0) {
            t0 = t;
            edge0 = i;
        } else if (p[i] > 0.0 && t < t1) {
            t1 = t;
            edge1 = i;
        }
        if (t0 > t1)
            return false;
    }
    const double sx = ax;
    const double sy = ay;
    const double ex = bx;
    const double ey = by;
    const auto at = [&](double t, int edge, double& x, double& y) {
        x = t <= 0.5 ? sx + t * dx : ex - (1.0 - t) * dx;
        y = t <= 0.5 ? sy + t * dy : ey - (1.0 - t) * dy;
        if (edge >= 0)
            (edge < 2 ? x : y) = edges[edge];
    };
    if (edge0 >= 0)
        at(t0, edge0, ax, ay);
    if (edge1 >= 0)
        at(t1, edge1, bx, by);
    return true;
}

}  // namespace

template <class Pixel>
BasicRaster<Pixel>::BasicRaster(Pixel* bits, int width, int height, int stride_pixels, double pixels_per_twip,
                                PixelOf<Pixel> pixel_of)
    : bits_(bits), pixel_of_(pixel_of), width_(width), height_(height), stride_(stride_pixels), scale_(pixels_per_twip), right_(width),
      bottom_(height), clip_right_(width - 1), clip_bottom_(height - 1)
{
}

template <class Pixel>
void BasicRaster<Pixel>::set_clip(int left, int top, int right, int bottom)
{
    clip_left_ = std::max({0L, left_, static_cast<long>(left)});
    clip_top_ = std::max({0L, top_, static_cast<long>(top)});
    clip_right_ = std::min({right_, left_ + width_, static_cast<long>(right) + 1}) - 1;
    clip_bottom_ = std::min({bottom_, top_ + height_, static_cast<long>(bottom) + 1}) - 1;
}

template <class Pixel>
void BasicRaster<Pixel>::set_origin(int x, int y, int device_width, int device_height)
{
    left_ = x;
    top_ = y;
    right_ = device_width;
    bottom_ = device_height;
    clip_left_ = std::max(0L, left_);
    clip_top_ = std::max(0L, top_);
    clip_right_ = std::min(right_, left_ + width_) - 1;
    clip_bottom_ = std::min(bottom_, top_ + height_) - 1;
}

template <class Pixel>
void BasicRaster<Pixel>::draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    double ax = x1 * scale_ + shift_x_;
    double ay = y1 * scale_ + shift_y_;
    double bx = x2 * scale_ + shift_x_;
    double by = y2 * scale_ + shift_y_;
    if (!finite({ax, ay, bx, by}))
        return;
    const double start_x = ax;
    const double start_y = ay;
    constexpr double lo_x = 0, lo_y = 0;
    const auto hi_x = static_cast<double>(right_), hi_y = static_cast<double>(bottom_);
    if (!clip(ax, ay, bx, by, lo_x - 1.0, lo_y - 1.0, hi_x, hi_y))
        return;
    long x = nearest(ax, lo_x - 2, hi_x + 1);
    long y = nearest(ay, lo_y - 2, hi_y + 1);
    const long xe = nearest(bx, lo_x - 2, hi_x + 1);
    const long ye = nearest(by, lo_y - 2, hi_y + 1);
    const long dx = std::labs(xe - x);
    const long dy = -std::labs(ye - y);
    const long sx = x < xe ? 1 : -1;
    const long sy = y < ye ? 1 : -1;
    const bool x_major = dx >= -dy;
    // Dots count from the line's own first pixel, the one nearest its start, wherever the buffer
    // cuts the line: a pixel is lit when its distance from that one along the major axis is even.
    const long phase = odd(x_major ? start_x : start_y) ? 1 : 0;
    const Pixel value = pixel_of_(colour);
    long err = dx + dy;
    for (;;) {
        plot(x, y, value, (x_major ? x : y) + phase);
        if (x == xe && y == ye)
            break;
        const long e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

template <class Pixel>
void BasicRaster<Pixel>::fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    const double ax = x1 * scale_ + shift_x_;
    const double ay = y1 * scale_ + shift_y_;
    const double bx = x2 * scale_ + shift_x_;
    const double by = y2 * scale_ + shift_y_;
    if (!finite({ax, ay, bx, by}))
        return;
    constexpr double lo_x = 0, lo_y = 0;
    const auto hi_x = static_cast<double>(right_), hi_y = static_cast<double>(bottom_);
    const long left = std::max(clip_left_, nearest(std::min(ax, bx), lo_x - 1, hi_x));
    const long right = std::min(clip_right_, nearest(std::max(ax, bx), lo_x - 1, hi_x));
    const long top = std::max(clip_top_, nearest(std::min(ay, by), lo_y - 1, hi_y));
    const long bottom = std::min(clip_bottom_, nearest(std::max(ay, by), lo_y - 1, hi_y));
    if (left > right)
        return;
    const Pixel value = pixel_of_(colour);
    for (long y = top; y <= bottom; ++y) {
        Pixel* row = bits_ + (y - top_) * stride_ - left_;
        std::fill(row + left, row + right + 1, value);
    }
}

template <class Pixel>
void BasicRaster<Pixel>::draw_circle(Single x, Single y, Single radius, Colour colour)
{
    const double cx = x * scale_ + shift_x_;
    const double cy = y * scale_ + shift_y_;
    const double r = radius * scale_;
    if (!finite({cx, cy, r}) || !(r > 0.0))
        return;
    constexpr double lo_x = 0, lo_y = 0;
    const auto hi_x = static_cast<double>(right_), hi_y = static_cast<double>(bottom_);
    if (cx + r < lo_x - 1.0 || cx - r > hi_x + 1.0 || cy + r < lo_y - 1.0 || cy - r > hi_y + 1.0)
        return;
    const Pixel value = pixel_of_(colour);
    const double reach = r * std::sqrt(0.5);  // where the outline turns from steep to flat
    const double r2 = r * r;
    // The steep sides, one pixel per row.
    const long row0 = std::max(0L, static_cast<long>(std::ceil(std::max(cy - reach, lo_y - 1.0))));
    const long row1 = std::min(bottom_ - 1, static_cast<long>(std::floor(std::min(cy + reach, hi_y))));
    for (long row = row0; row <= row1; ++row) {
        const double dy = static_cast<double>(row) - cy;
        const double dx = std::sqrt(std::max(0.0, r2 - dy * dy));
        plot(nearest(cx + dx, lo_x - 2, hi_x + 1), row, value, row);
        plot(nearest(cx - dx, lo_x - 2, hi_x + 1), row, value, row);
    }
    // The flat top and bottom, one pixel per column.
    const long col0 = std::max(0L, static_cast<long>(std::ceil(std::max(cx - reach, lo_x - 1.0))));
    const long col1 = std::min(right_ - 1, static_cast<long>(std::floor(std::min(cx + reach, hi_x))));
    for (long col = col0; col <= col1; ++col) {
        const double dx = static_cast<double>(col) - cx;
        const double dy = std::sqrt(std::max(0.0, r2 - dx * dx));
        plot(col, nearest(cy + dy, lo_y - 2, hi_y + 1), value, col);
        plot(col, nearest(cy - dy, lo_y - 2, hi_y + 1), value, col);
    }
    // A circle too small to cross a row or a column between its turning points is a dot.
    const bool has_rows = std::ceil(cy - reach) <= std::floor(cy + reach);
    const bool has_columns = std::ceil(cx - reach) <= std::floor(cx + reach);
    if (!has_rows && !has_columns) {
        plot(nearest(cx, lo_x - 2, hi_x + 1), nearest(cy, lo_y - 2, hi_y + 1), value, 0);
        return;
    }
    if (!has_rows || !has_columns)
        return;
    // Where a steep side meets the flat top or bottom, the last pixel of each can lie two apart;
    // the pixel next to both that is nearest the outline closes the curve.
    for (const double sx : {-1.0, 1.0}) {
        for (const double sy : {-1.0, 1.0}) {
            const double turn_x = cx + sx * reach;
            const double turn_y = cy + sy * reach;
            if (turn_x < lo_x - 2.0 || turn_x > hi_x + 2.0 || turn_y < lo_y - 2.0 || turn_y > hi_y + 2.0)
                continue;
            const double last_row = sy > 0 ? std::floor(turn_y) : std::ceil(turn_y);
            const double last_col = sx > 0 ? std::floor(turn_x) : std::ceil(turn_x);
            const long side_x =
                nearest(cx + sx * std::sqrt(std::max(0.0, r2 - (last_row - cy) * (last_row - cy))), lo_x - 2, hi_x + 1);
            const auto side_y = static_cast<long>(last_row);
            const auto flat_x = static_cast<long>(last_col);
            const long flat_y =
                nearest(cy + sy * std::sqrt(std::max(0.0, r2 - (last_col - cx) * (last_col - cx))), lo_y - 2, hi_y + 1);
            if (std::max(std::labs(side_x - flat_x), std::labs(side_y - flat_y)) != 2)
                continue;
            double best = HUGE_VAL;
            long bridge_x = side_x;
            long bridge_y = side_y;
            for (long py = side_y - 1; py <= side_y + 1; ++py) {
                for (long px = side_x - 1; px <= side_x + 1; ++px) {
                    if (std::max(std::labs(px - flat_x), std::labs(py - flat_y)) > 1)
                        continue;
                    const double off = std::abs(std::hypot(static_cast<double>(px) - cx, static_cast<double>(py) - cy) - r);
                    if (off < best) {
                        best = off;
                        bridge_x = px;
                        bridge_y = py;
                    }
                }
            }
            plot(bridge_x, bridge_y, value, bridge_y);
        }
    }
}

template class BasicRaster<std::uint32_t>;
template class BasicRaster<std::uint8_t>;

}  // namespace umbrascope

#pragma once
// The drawing surface rasterised into a pixel buffer (32-bit ARGB, or 8-bit palette indices for
// frames written as they are drawn): one-pixel lines and circle outlines, solid or dotted, and
// filled boxes, mapped from twips by one scale. Work per call is
// bounded by the buffer's size whatever the coordinates, so no input can make a pass hang here.

#include <cstdint>

#include "core/world.hpp"

namespace umbrascope {

// A colour as a pixel of the buffer holds it.
template <class Pixel>
using PixelOf = Pixel (*)(Colour colour);

template <class Pixel>
class BasicRaster : public Surface {
public:
    // `pixels_per_twip` is the device pixel ratio / 15. The buffer is not owned.
    BasicRaster(Pixel* bits, int width, int height, int stride_pixels, double pixels_per_twip, PixelOf<Pixel> pixel_of);

    void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void draw_circle(Single x, Single y, Single radius, Colour colour) override;
    void set_line_style(LineStyle style) override { style_ = style; }

    [[nodiscard]] LineStyle line_style() const { return style_; }

    // Pixels outside [left, right] x [top, bottom] (inclusive) are left alone; the shapes are
    // computed as without the clip, so the pixels inside it are the same.
    void set_clip(int left, int top, int right, int bottom);

    // The buffer as a window on a larger device of device_width x device_height pixels: its pixel
    // (0, 0) is device pixel (x, y). Shapes are computed on the whole device, so the pixels the
    // window shows are those a buffer covering the device would hold there; the clip is in device
    // pixels too.
    void set_origin(int x, int y, int device_width, int device_height);
    // Device coordinates are plot units times the scale, plus this shift (in device pixels).
    void set_shift(double x, double y)
    {
        shift_x_ = x;
        shift_y_ = y;
    }

private:
    // Dotted, only the pixels whose step is even are lit.
    void plot(long x, long y, Pixel value, long step)
    {
        if (style_ == LineStyle::dotted && (step & 1) != 0)
            return;
        if (x >= clip_left_ && y >= clip_top_ && x <= clip_right_ && y <= clip_bottom_)
            bits_[(y - top_) * stride_ + (x - left_)] = value;
    }

    Pixel* bits_;
    PixelOf<Pixel> pixel_of_;
    int width_;
    int height_;
    int stride_;
    double scale_;
    double shift_x_ = 0;
    double shift_y_ = 0;
    long left_ = 0;    // device column of the buffer's first pixel
    long top_ = 0;     // device row of the buffer's first pixel
    long right_;       // the device's width: shapes are computed within it
    long bottom_;      // the device's height
    long clip_left_ = 0;
    long clip_top_ = 0;
    long clip_right_;
    long clip_bottom_;
    LineStyle style_ = LineStyle::solid;
};

[[nodiscard]] constexpr std::uint32_t argb(Colour colour)
{
    return 0xFF000000U | (std::uint32_t{colour.r} << 16) | (std::uint32_t{colour.g} << 8) | colour.b;
}

// The window's raster: 32-bit ARGB pixels.
class RasterSurface : public BasicRaster<std::uint32_t> {
public:
    RasterSurface(std::uint32_t* bits, int width, int height, int stride_pixels, double pixels_per_twip)
        : BasicRaster(bits, width, height, stride_pixels, pixels_per_twip, [](Colour colour) { return argb(colour); })
    {
    }
};

extern template class BasicRaster<std::uint32_t>;
extern template class BasicRaster<std::uint8_t>;

}  // namespace umbrascope

#pragma once
// The picture as plain data: what the passes drew since it was last wiped whole, in plot units,
// each shape tagged with its role. Every output (the picture window, saved pictures, frames and
// films of any size) replays it through one view: geography (connections, clouds) scales with the
// view, bus symbols keep their size in pixels, lines stay one pixel wide.

#include <cstdint>
#include <vector>

#include "core/run_state.hpp"

namespace umbrascope {

enum class Role : std::uint8_t {
    fill,        // the white fill that erases the plot frame
    cloud,       // a cloud figure (drawn dotted)
    connection,  // a line between two buses
    bus,         // a bus's marker circle or shaded disc
};

enum class ShapeKind : std::uint8_t { line, box, circle };

struct Shape {
    ShapeKind kind;
    Role role;
    LineStyle style;
    Colour colour;
    Single a, b, c, d;  // line: two ends; box: two corners; circle: centre and radius
};

// Records every drawing call. A fill covering the whole exported frame (the plot frame and its
// border) wipes what came before, as it does on the window.
class Picture : public Surface {
public:
    void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void draw_circle(Single x, Single y, Single radius, Colour colour) override;
    void set_line_style(LineStyle style) override { style_ = style; }

    void clear() { shapes_.clear(); }
    [[nodiscard]] const std::vector<Shape>& shapes() const { return shapes_; }

private:
    std::vector<Shape> shapes_;
    LineStyle style_ = LineStyle::solid;
};

struct PlotRect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    [[nodiscard]] double width() const { return right - left; }
    [[nodiscard]] double height() const { return bottom - top; }
};

// The exported frame, in plot units: the plot frame and its 20-unit border.
[[nodiscard]] PlotRect frame_rect();

// The one transform from plot units to the pixels of a target: device = plot x scale + shift, and
// the target's first pixel is device pixel origin. Bus symbols are scaled by symbol_scale instead.
struct View {
    double scale = 1.0 / 15;
    double symbol_scale = 1.0 / 15;
    double shift_x = 0;
    double shift_y = 0;
    int origin_x = 0;
    int origin_y = 0;
    int device_width = 0;   // shapes are computed within the device; 0 for the target's own size
    int device_height = 0;
    bool frame_fills = true;  // fills are drawn where they lie; otherwise a fill paints the whole target
    // How far apart the buses lie, in plot units (bus_spacing), where bus symbols shrink to fit a
    // dense network; 0 keeps them at symbol_scale.
    double symbol_spacing = 0;

    [[nodiscard]] double x(double plot_x) const { return plot_x * scale + shift_x - origin_x; }
    [[nodiscard]] double y(double plot_y) const { return plot_y * scale + shift_y - origin_y; }
    [[nodiscard]] double plot_x(double pixel_x) const { return (pixel_x + origin_x - shift_x) / scale; }
    [[nodiscard]] double plot_y(double pixel_y) const { return (pixel_y + origin_y - shift_y) / scale; }
    // Zooms by `factor` about the target pixel (px, py): what lies under it stays there.
    void zoom(double factor, double px, double py);
    void pan(double dx, double dy)
    {
        shift_x += dx;
        shift_y += dy;
    }
    // The scale of bus symbols: symbol_scale, or less where the buses lie closer together at this
    // zoom than a full disc is wide, so that a disc is three quarters as wide as the buses lie
    // apart, down to a disc of 3 pixels in 13.
    [[nodiscard]] double symbols() const;
};

// The distance between neighbouring buses that the symbols fit: the median of each bus's distance
// to its nearest neighbour, in plot units, so that most discs clear their nearest neighbours and
// the lines between them show. 0 for fewer than two buses apart.
[[nodiscard]] double bus_spacing(const RunState& st);

// The classic exported frame, 459 x 451 pixels at 15 plot units a pixel: pixel for pixel what the
// window's picture holds there.
[[nodiscard]] View classic_view();

// The network fitted into a target of width x height pixels: its extent centred, at one scale for
// both axes, `margin` pixels clear of every edge. `pixel_ratio` sizes the bus symbols.
[[nodiscard]] View fitted_view(const RunState& st, int width, int height, double margin, double pixel_ratio = 1.0);

// Where the network lies, in plot units (the widened extent as the plot mapping places it); the
// whole frame when no geometry has been computed.
[[nodiscard]] PlotRect network_rect(const RunState& st);

// Replays the shapes into a 32-bit ARGB buffer of the target, over what it holds.
void render_picture(const std::vector<Shape>& shapes, const View& view, std::uint32_t* bits, int width, int height,
                    int stride_pixels);
// The same into a buffer of 8-bit palette indices, each colour `index_of` it.
void render_picture(const std::vector<Shape>& shapes, const View& view, std::uint8_t* bits, int width, int height,
                    int stride_pixels, std::uint8_t (*index_of)(Colour colour));

// The centres of the cloud figures in the shapes, in plot units.
[[nodiscard]] std::vector<std::pair<double, double>> cloud_centres(const std::vector<Shape>& shapes);

}  // namespace umbrascope

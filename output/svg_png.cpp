#include "output/svg_png.hpp"

#include <cairo.h>
#include <cmath>
#include <cstdint>
#include <librsvg/rsvg.h>
#include <memory>
#include <vector>

#include "output/output_file.hpp"
#include "output/png_writer.hpp"

namespace umbrascope {

namespace {

struct HandleDeleter {
    void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};
struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoDeleter {
    void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};

std::string message_of(GError* error)
{
    std::string text = error != nullptr && error->message != nullptr ? error->message : "no reason given";
    if (error != nullptr)
        g_error_free(error);
    return text;
}

}  // namespace

std::string svg_to_png(std::string_view svg, double scale)
{
    GError* error = nullptr;
    const std::unique_ptr<RsvgHandle, HandleDeleter> handle(
        rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error));
    if (!handle)
        throw WriteError("the SVG picture cannot be read for its PNG: " + message_of(error));
    gdouble width = 0, height = 0;
    if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &width, &height) || width <= 0 || height <= 0)
        throw WriteError("the SVG picture gives no size in pixels for its PNG");
    const int w = static_cast<int>(std::ceil(width * scale));
    const int h = static_cast<int>(std::ceil(height * scale));
    const std::unique_ptr<cairo_surface_t, SurfaceDeleter> surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw WriteError("no room to draw a PNG of " + std::to_string(w) + " x " + std::to_string(h) + " pixels");
    {
        const std::unique_ptr<cairo_t, CairoDeleter> cairo(cairo_create(surface.get()));
        cairo_set_source_rgb(cairo.get(), 1, 1, 1);
        cairo_paint(cairo.get());
        const RsvgRectangle viewport{0, 0, static_cast<double>(w), static_cast<double>(h)};
        if (!rsvg_handle_render_document(handle.get(), cairo.get(), &viewport, &error))
            throw WriteError("the SVG picture cannot be drawn for its PNG: " + message_of(error));
    }
    cairo_surface_flush(surface.get());
    // Cairo's RGB24: a 32-bit word a pixel, red in bits 16 to 23, in the machine's own byte order.
    const unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
            const std::uint32_t pixel = row[x];
            std::uint8_t* out = &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 3];
            out[0] = static_cast<std::uint8_t>(pixel >> 16);
            out[1] = static_cast<std::uint8_t>(pixel >> 8);
            out[2] = static_cast<std::uint8_t>(pixel);
        }
    }
    return encode_rgb_png(w, h, rgb);
}

}  // namespace umbrascope

#include "output/png_writer.hpp"

#include <cstdlib>
#include <memory>
#include <spng.h>

#include "output/output_file.hpp"

namespace umbrascope {

namespace {

struct ContextDeleter {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

void check(int status)
{
    if (status != 0)
        throw WriteError(std::string("the PNG encoder failed: ") + spng_strerror(status));
}

}  // namespace

std::string encode_png(const IndexedFrame& frame)
{
    const std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context)
        throw WriteError("the PNG encoder could not start: out of memory");
    spng_ctx* ctx = context.get();
    check(spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1));
    check(spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1));
    check(spng_set_option(ctx, SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE));
    check(spng_set_option(ctx, SPNG_IMG_COMPRESSION_STRATEGY, 3));  // Z_RLE

    spng_ihdr header{};
    header.width = static_cast<std::uint32_t>(frame.width);
    header.height = static_cast<std::uint32_t>(frame.height);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_INDEXED;
    check(spng_set_ihdr(ctx, &header));
    spng_plte plte{};
    plte.n_entries = static_cast<std::uint32_t>(frame.colours);
    for (std::size_t i = 0; i < static_cast<std::size_t>(frame.colours); ++i)
        plte.entries[i] = {frame_palette()[i].r, frame_palette()[i].g, frame_palette()[i].b, 255};
    check(spng_set_plte(ctx, &plte));
    check(spng_encode_image(ctx, frame.pixels.data(), frame.pixels.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE));

    std::size_t length = 0;
    int status = 0;
    const std::unique_ptr<void, decltype(&std::free)> bytes(spng_get_png_buffer(ctx, &length, &status), &std::free);
    check(status);
    return {static_cast<const char*>(bytes.get()), length};
}

std::string encode_rgb_png(int width, int height, const std::vector<std::uint8_t>& rgb)
{
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)
        throw WriteError("the PNG encoder was given a picture of the wrong size");
    const std::unique_ptr<spng_ctx, ContextDeleter> context(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!context)
        throw WriteError("the PNG encoder could not start: out of memory");
    spng_ctx* ctx = context.get();
    check(spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1));
    spng_ihdr header{};
    header.width = static_cast<std::uint32_t>(width);
    header.height = static_cast<std::uint32_t>(height);
    header.bit_depth = 8;
    header.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
    check(spng_set_ihdr(ctx, &header));
    check(spng_encode_image(ctx, rgb.data(), rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE));
    std::size_t length = 0;
    int status = 0;
    const std::unique_ptr<void, decltype(&std::free)> bytes(spng_get_png_buffer(ctx, &length, &status), &std::free);
    check(status);
    return {static_cast<const char*>(bytes.get()), length};
}

}  // namespace umbrascope

#include "output/indexed_frame.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace umbrascope {

const std::array<Colour, shade_palette_size>& frame_palette()
{
    static const std::array<Colour, shade_palette_size> colours = [] {
        std::array<Colour, shade_palette_size> all{};
        for (int i = 0; i < 16; ++i)
            all[static_cast<std::size_t>(i)] = palette(i);
        all[16] = window_face;
        for (int c = 0; c < voltage_classes; ++c)
            all[static_cast<std::size_t>(frame_palette_size) + static_cast<std::size_t>(c)] = class_colour(static_cast<VoltageClass>(c));
        for (int level = 1; level <= shade_levels; ++level)
            all[static_cast<std::size_t>(voltage_palette_size + level - 1)] = shade_colour(level);
        return all;
    }();
    return colours;
}

namespace {

std::uint8_t nearest_index(std::uint32_t rgb)
{
    const auto& colours = frame_palette();
    int best = 0;
    int best_distance = std::numeric_limits<int>::max();
    for (int i = 0; i < frame_palette_size; ++i) {
        const Colour c = colours[static_cast<std::size_t>(i)];
        const int dr = static_cast<int>((rgb >> 16) & 0xFF) - c.r;
        const int dg = static_cast<int>((rgb >> 8) & 0xFF) - c.g;
        const int db = static_cast<int>(rgb & 0xFF) - c.b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < best_distance) {
            best_distance = distance;
            best = i;
        }
    }
    return static_cast<std::uint8_t>(best);
}

// The palette's own colours by a small hash; anything else is searched for.
struct ExactColours {
    static constexpr int bits = 8;
    std::array<std::uint32_t, 1U << bits> keys{};
    std::array<std::uint8_t, 1U << bits> indices{};
    std::array<bool, 1U << bits> used{};

    static std::size_t slot(std::uint32_t rgb) { return (rgb * 2654435761U) >> (32 - bits); }

    ExactColours()
    {
        for (int i = shade_palette_size - 1; i >= 0; --i) {  // the first of equal colours wins
            const Colour c = frame_palette()[static_cast<std::size_t>(i)];
            const std::uint32_t rgb = (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
            std::size_t at = slot(rgb);
            while (used[at] && keys[at] != rgb)
                at = (at + 1) & ((1U << bits) - 1);
            keys[at] = rgb;
            indices[at] = static_cast<std::uint8_t>(i);
            used[at] = true;
        }
    }
};

}  // namespace

std::uint8_t palette_index(std::uint32_t rgb)
{
    static const ExactColours exact;
    for (std::size_t at = ExactColours::slot(rgb); exact.used[at]; at = (at + 1) & ((1U << ExactColours::bits) - 1))
        if (exact.keys[at] == rgb)
            return exact.indices[at];
    return nearest_index(rgb);
}

void index_pixels(const std::uint32_t* argb, int width, int height, int stride_pixels, IndexedFrame& into)
{
    into.width = width;
    into.height = height;
    into.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    // Long runs of one colour are the rule: remember the last colour looked up, and pass over eight
    // pixels of it at a time.
    constexpr int block = 8;
    std::uint32_t last_rgb = 0;
    std::uint8_t last_index = palette_index(0);
    std::uint8_t highest = last_index;  // a voltage class's colour needs the longer palette
    std::uint8_t* out = into.pixels.data();
    for (int y = 0; y < height; ++y) {
        const std::uint32_t* row = argb + static_cast<std::ptrdiff_t>(y) * stride_pixels;
        int x = 0;
        while (x < width) {
            if (x + block <= width) {
                // Two pixels a word: their colours, without alpha, against the last colour twice.
                const std::uint64_t twice = (std::uint64_t{last_rgb} << 32) | last_rgb;
                std::uint64_t differs = 0;
                for (int i = 0; i < block; i += 2) {
                    std::uint64_t pair = 0;
                    std::memcpy(&pair, row + x + i, sizeof pair);
                    differs |= pair ^ twice;
                }
                if ((differs & 0x00FFFFFF00FFFFFFULL) == 0) {
                    std::memset(out, last_index, block);
                    out += block;
                    x += block;
                    continue;
                }
            }
            const std::uint32_t rgb = row[x] & 0xFFFFFFU;
            if (rgb != last_rgb) {
                last_rgb = rgb;
                last_index = palette_index(rgb);
                highest = std::max(highest, last_index);
            }
            *out++ = last_index;
            ++x;
        }
    }
    into.colours = palette_entries(highest);
}

}  // namespace umbrascope

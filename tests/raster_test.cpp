#include <gtest/gtest.h>

#include <cfloat>
#include <vector>

#include "core/raster.hpp"

namespace umbrascope {
namespace {

constexpr std::uint32_t none = 0;
const Colour red{255, 0, 0};

struct Pixels {
    Pixels(int w, int h) : width(w), height(h), bits(static_cast<std::size_t>(w * h), none), surface(bits.data(), w, h, w, 1.0 / 15) {}
    [[nodiscard]] int count() const
    {
        int n = 0;
        for (const std::uint32_t b : bits)
            n += b != none ? 1 : 0;
        return n;
    }
    [[nodiscard]] bool set(int x, int y) const { return bits[static_cast<std::size_t>(y * width + x)] != none; }
    int width;
    int height;
    std::vector<std::uint32_t> bits;
    RasterSurface surface;
};

TEST(Raster, FillBoxCoversItsCornerPixelsInclusive)
{
    Pixels p(800, 620);
    // The frame fill: (4660, 820)-(11540, 7580) covers pixels 311..769 by 55..505, the frame lines included.
    p.surface.fill_box(4660, 820, 11540, 7580, red);
    EXPECT_EQ(p.count(), (769 - 311 + 1) * (505 - 55 + 1));
    EXPECT_TRUE(p.set(312, 56));
    EXPECT_TRUE(p.set(768, 504));
    EXPECT_FALSE(p.set(310, 55));
    EXPECT_EQ(p.bits[56 * 800 + 312], argb(red));
}

TEST(Raster, LinesAreOnePixelAndDottedLinesEveryOtherPixel)
{
    Pixels p(100, 100);
    p.surface.draw_line(0, 150, 1485, 150, red);  // pixels 0..99 of row 10
    EXPECT_EQ(p.count(), 100);
    Pixels dotted(100, 100);
    dotted.surface.set_line_style(LineStyle::dotted);
    dotted.surface.draw_line(0, 150, 1485, 150, red);
    EXPECT_EQ(dotted.count(), 50);
    Pixels diagonal(100, 100);
    diagonal.surface.set_line_style(LineStyle::dotted);
    diagonal.surface.draw_line(0, 0, 1485, 1485, red);
    EXPECT_EQ(diagonal.count(), 50);
}

TEST(Raster, CircleOutlineIsClosedAndSymmetric)
{
    Pixels p(60, 60);
    p.surface.draw_circle(450, 450, 300, red);  // centre (30, 30), radius 20 pixels
    EXPECT_TRUE(p.set(50, 30));
    EXPECT_TRUE(p.set(10, 30));
    EXPECT_TRUE(p.set(30, 10));
    EXPECT_TRUE(p.set(30, 50));
    EXPECT_FALSE(p.set(30, 30));
    for (int y = 0; y < 60; ++y)
        for (int x = 1; x < 60; ++x)
            EXPECT_EQ(p.set(x, y), p.set(60 - x, y)) << x << "," << y;
    // Each row of the outline between its top and bottom holds exactly its two side pixels or a run.
    EXPECT_GT(p.count(), 100);
    EXPECT_LT(p.count(), 140);
}

TEST(Raster, HugeOrDegenerateShapesStayBoundedAndInside)
{
    Pixels p(50, 40);
    p.surface.draw_line(-FLT_MAX, -FLT_MAX, FLT_MAX, FLT_MAX, red);
    p.surface.draw_line(1e30F, 0, 2e30F, 0, red);
    p.surface.draw_circle(300, 300, FLT_MAX, red);
    p.surface.draw_circle(300, 300, 1e20F, red);
    p.surface.draw_circle(300, 300, 0, red);
    p.surface.draw_circle(300, 300, -50, red);
    p.surface.fill_box(-FLT_MAX, 1e30F, 2e30F, -3e30F, red);
    EXPECT_EQ(p.count(), 50 * 40);  // the last fill covers everything, and nothing was written outside
}

}  // namespace
}  // namespace umbrascope

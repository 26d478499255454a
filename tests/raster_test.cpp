#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
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
    [[nodiscard]] bool set(int x, int y) const { return inside(x, y) && bits[static_cast<std::size_t>(y * width + x)] != none; }
    [[nodiscard]] bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    int width;
    int height;
    std::vector<std::uint32_t> bits;
    RasterSurface surface;
};

// A small generator with a fixed seed, the same on every platform, so a failing case can be named.
struct Cases {
    std::uint64_t state = 0x5EED5EED12345678ULL;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    long below(long n) { return static_cast<long>(next() % static_cast<std::uint64_t>(n)); }
    double between(double lo, double hi) { return lo + (hi - lo) * static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

struct Point {
    long x;
    long y;
    friend bool operator==(Point, Point) = default;
};

// The pixel nearest a point given in twips, at 15 twips per pixel.
long pixel_of(float twips) { return std::lround(static_cast<double>(twips) * (1.0 / 15)); }

std::string describe(const char* what, int index, float x1, float y1, float x2, float y2)
{
    std::ostringstream out;
    out.precision(9);
    out << what << " case " << index << ": (" << x1 << ", " << y1 << ")-(" << x2 << ", " << y2 << ") twips";
    return out.str();
}

// The lit pixels in order from `from`, each step to the one unvisited lit 8-neighbour, until `to`.
// Empty, with `fault` set, when the start is dark, a step has no or two ways on, or pixels are left over.
std::vector<Point> walk(const Pixels& p, Point from, Point to, std::string& fault)
{
    std::vector<Point> path;
    std::vector<bool> seen(p.bits.size(), false);
    const auto at = [&](Point q) { return static_cast<std::size_t>(q.y * p.width + q.x); };
    if (!p.set(static_cast<int>(from.x), static_cast<int>(from.y))) {
        fault = "the first pixel is not lit";
        return {};
    }
    Point here = from;
    for (;;) {
        path.push_back(here);
        seen[at(here)] = true;
        if (here == to)
            break;
        std::vector<Point> ways;
        for (long dy = -1; dy <= 1; ++dy)
            for (long dx = -1; dx <= 1; ++dx) {
                const Point q{here.x + dx, here.y + dy};
                if (p.set(static_cast<int>(q.x), static_cast<int>(q.y)) && !seen[at(q)])
                    ways.push_back(q);
            }
        if (ways.size() != 1) {
            fault = "pixel " + std::to_string(path.size() - 1) + " at (" + std::to_string(here.x) + ", " +
                    std::to_string(here.y) + ") has " + std::to_string(ways.size()) + " ways on";
            return {};
        }
        here = ways.front();
    }
    if (static_cast<int>(path.size()) != p.count()) {
        fault = std::to_string(p.count() - static_cast<int>(path.size())) + " lit pixels are off the path";
        return {};
    }
    return path;
}

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

TEST(Raster, FillsAreInclusiveAtBothCornersAndNothingOutside)
{
    Cases cases;
    for (int i = 0; i < 400; ++i) {
        Pixels p(30, 20);
        // Corners from well outside the buffer to well inside it, in either order.
        const auto x1 = static_cast<float>(cases.between(-150, 600));
        const auto y1 = static_cast<float>(cases.between(-150, 450));
        const auto x2 = static_cast<float>(cases.between(-150, 600));
        const auto y2 = static_cast<float>(cases.between(-150, 450));
        p.surface.fill_box(x1, y1, x2, y2, red);
        const long left = std::min(pixel_of(x1), pixel_of(x2));
        const long right = std::max(pixel_of(x1), pixel_of(x2));
        const long top = std::min(pixel_of(y1), pixel_of(y2));
        const long bottom = std::max(pixel_of(y1), pixel_of(y2));
        int wrong = 0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                wrong += p.set(x, y) != (x >= left && x <= right && y >= top && y <= bottom) ? 1 : 0;
        ASSERT_EQ(wrong, 0) << describe("fill", i, x1, y1, x2, y2) << ": pixels " << left << ".." << right << " by "
                            << top << ".." << bottom << " expected";
    }
}

TEST(Raster, LinesRunConnectedFromEndToEndAndDottedLinesLightEveryOtherPixel)
{
    constexpr int width = 40;
    constexpr int height = 30;
    constexpr double far = 15.0 * (width - 1) + 7;
    Cases cases;
    for (int i = 0; i < 3000; ++i) {
        float x1 = static_cast<float>(cases.between(-7, far));
        float y1 = static_cast<float>(cases.between(-7, 15.0 * (height - 1) + 7));
        float x2 = static_cast<float>(cases.between(-7, far));
        float y2 = static_cast<float>(cases.between(-7, 15.0 * (height - 1) + 7));
        switch (i % 4) {
        case 1:  // whole twips
            x1 = std::round(x1), y1 = std::round(y1), x2 = std::round(x2), y2 = std::round(y2);
            break;
        case 2:  // short, down to a single point
            x2 = x1 + static_cast<float>(cases.between(-45, 45)), y2 = y1 + static_cast<float>(cases.between(-45, 45));
            x2 = std::clamp(x2, -7.0F, static_cast<float>(far)), y2 = std::clamp(y2, -7.0F, 15.0F * (height - 1) + 7);
            break;
        case 3:  // level, upright or diagonal
            if (cases.below(3) == 0)
                y2 = y1;
            else if (cases.below(2) == 0)
                x2 = x1;
            else
                y2 = y1 + (x2 - x1) * (cases.below(2) == 0 ? 1.0F : -1.0F), y2 = std::clamp(y2, -7.0F, 15.0F * (height - 1) + 7);
            break;
        default: break;
        }
        const std::string name = describe("line", i, x1, y1, x2, y2);
        const Point from{pixel_of(x1), pixel_of(y1)};
        const Point to{pixel_of(x2), pixel_of(y2)};
        Pixels solid(width, height);
        solid.surface.draw_line(x1, y1, x2, y2, red);
        std::string fault;
        const std::vector<Point> path = walk(solid, from, to, fault);
        ASSERT_TRUE(fault.empty()) << name << ": " << fault;
        // One pixel for each step along the longer axis, each the nearest to the straight line.
        const long across = std::labs(to.x - from.x);
        const long down = std::labs(to.y - from.y);
        ASSERT_EQ(static_cast<long>(path.size()), std::max(across, down) + 1) << name;
        const auto slope = [](long rise, long run) { return run == 0 ? 0.0 : static_cast<double>(rise) / static_cast<double>(run); };
        for (const Point q : path) {
            const double off = across >= down
                                   ? static_cast<double>(q.y - from.y) - static_cast<double>(q.x - from.x) * slope(to.y - from.y, to.x - from.x)
                                   : static_cast<double>(q.x - from.x) - static_cast<double>(q.y - from.y) * slope(to.x - from.x, to.y - from.y);
            ASSERT_LE(std::abs(off), 0.5 + 1e-9) << name << ": pixel (" << q.x << ", " << q.y << ") is off the line";
            ASSERT_EQ(solid.bits[static_cast<std::size_t>(q.y * width + q.x)], argb(red)) << name;
        }
        // Dotted: the same pixels from the first, every other one.
        Pixels dotted(width, height);
        dotted.surface.set_line_style(LineStyle::dotted);
        dotted.surface.draw_line(x1, y1, x2, y2, red);
        for (std::size_t k = 0; k < path.size(); ++k)
            ASSERT_EQ(dotted.set(static_cast<int>(path[k].x), static_cast<int>(path[k].y)), k % 2 == 0)
                << name << ": dotted pixel " << k << " of " << path.size();
        ASSERT_EQ(dotted.count(), static_cast<int>((path.size() + 1) / 2)) << name;
    }
}

TEST(Raster, DottedLinesKeepTheirPhaseWhereTheBufferCutsThem)
{
    // Lines from outside the buffer right across it, longer along one axis at least one and a half
    // times: each column (or row) of the buffer holds one pixel of the line, lit when its distance
    // from the line's first pixel along that axis is even.
    constexpr int size = 50;
    Cases cases;
    for (int i = 0; i < 800; ++i) {
        const bool upright = i % 2 == 1;
        const bool backward = i % 4 >= 2;
        float a1 = static_cast<float>(cases.between(-15.0 * 400, -15.0 * 2));  // along the long axis
        float a2 = static_cast<float>(cases.between(15.0 * (size + 2), 15.0 * (size + 400)));
        if (i % 8 >= 6)
            a1 = std::round(a1 / 15) * 15, a2 = std::round(a2 / 15) * 15;  // pixel centres
        if (backward)
            std::swap(a1, a2);
        // Across, within rows 5..44 at both ends.
        const auto b1 = static_cast<float>(cases.between(15.0 * 5, 15.0 * (size - 6)));
        const auto b2 = static_cast<float>(cases.between(15.0 * 5, 15.0 * (size - 6)));
        const float x1 = upright ? b1 : a1;
        const float y1 = upright ? a1 : b1;
        const float x2 = upright ? b2 : a2;
        const float y2 = upright ? a2 : b2;
        const std::string name = describe("cut dotted line", i, x1, y1, x2, y2);
        Pixels p(size, size);
        p.surface.set_line_style(LineStyle::dotted);
        p.surface.draw_line(x1, y1, x2, y2, red);
        const long first = pixel_of(a1);
        for (int along = 0; along < size; ++along) {
            int lit = 0;
            for (int across = 0; across < size; ++across)
                lit += upright ? p.set(across, along) : p.set(along, across);
            ASSERT_EQ(lit, (along - first) % 2 == 0 ? 1 : 0) << name << ": " << lit << " lit at " << along;
        }
    }
}

TEST(Raster, DottedLinesFromFarAwayKeepAPhase)
{
    struct Case {
        float x1;
        float x2;
        int lit_parity;  // of the lit columns; -1 when either will do
    };
    const Case table[] = {
        {-15.0F * 1000001, 15.0F * 49, 1},  // the first pixel at column -1000001
        {-15.0F * 1000000, 15.0F * 49, 0},
        {15.0F * 1000001, 0, 1},
        {15.0F * 1000000, -15.0F * 7, 0},
        {-1e30F, 15.0F * 49, -1},
        {FLT_MAX, -FLT_MAX, -1},
    };
    for (const Case& c : table) {
        Pixels p(50, 5);
        p.surface.set_line_style(LineStyle::dotted);
        p.surface.draw_line(c.x1, 30, c.x2, 30, red);
        const int parity = c.lit_parity >= 0 ? c.lit_parity : (p.set(0, 2) ? 0 : 1);
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(p.set(x, 2), (x & 1) == parity) << describe("far dotted line", static_cast<int>(&c - table), c.x1, 30, c.x2, 30) << ": column " << x;
        ASSERT_EQ(p.count(), 25) << c.x1;
    }
}

// What is wrong with the outline of a circle centred at (cx, cy) pixels with radius r pixels, if
// anything: a closed curve one pixel wide, each pixel within reach of the radius, around the centre.
std::string outline_fault(const Pixels& p, double cx, double cy, double r)
{
    std::vector<Point> lit;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.set(x, y))
                lit.push_back({x, y});
    if (lit.empty())
        return "nothing is lit";
    const auto where = [](Point q) { return "(" + std::to_string(q.x) + ", " + std::to_string(q.y) + ")"; };
    long left = p.width;
    long right = -1;
    long top = p.height;
    long bottom = -1;
    for (const Point q : lit) {
        const double off = std::hypot(static_cast<double>(q.x) - cx, static_cast<double>(q.y) - cy) - r;
        if (std::abs(off) > 0.75)
            return "pixel " + where(q) + " is " + std::to_string(off) + " off the radius";
        left = std::min(left, q.x), right = std::max(right, q.x), top = std::min(top, q.y), bottom = std::max(bottom, q.y);
    }
    // A dot of up to four pixels for the smallest circles; otherwise each pixel has a lit pixel
    // on either side along the curve, and from a radius of one and a half pixels, where there is
    // room inside, no two-by-two block is lit.
    if (right - left <= 1 && bottom - top <= 1)
        return {};
    for (const Point q : lit) {
        int around = 0;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                around += (dx != 0 || dy != 0) && p.set(static_cast<int>(q.x) + dx, static_cast<int>(q.y) + dy) ? 1 : 0;
        if (around < 2)
            return "pixel " + where(q) + " has " + std::to_string(around) + " lit neighbours";
        const int x = static_cast<int>(q.x);
        const int y = static_cast<int>(q.y);
        if (r >= 1.5 && p.set(x + 1, y) && p.set(x, y + 1) && p.set(x + 1, y + 1))
            return "a two-by-two block is lit at " + where(q);
    }
    // Closed: the dark pixels reached from the centre, stepping left, right, up and down, stay
    // inside the outline's box; one connected curve: all lit pixels reached from one.
    const auto flood = [&](Point from, bool lit_ones, int steps) {
        std::vector<bool> seen(p.bits.size(), false);
        std::vector<Point> todo{from};
        seen[static_cast<std::size_t>(from.y * p.width + from.x)] = true;
        int reached = 0;
        bool escaped = false;
        while (!todo.empty()) {
            const Point q = todo.back();
            todo.pop_back();
            ++reached;
            escaped = escaped || q.x <= left || q.x >= right || q.y <= top || q.y >= bottom;
            for (int k = 0; k < steps; ++k) {
                static constexpr int dxs[8] = {1, -1, 0, 0, 1, 1, -1, -1};
                static constexpr int dys[8] = {0, 0, 1, -1, 1, -1, 1, -1};
                const Point n{q.x + dxs[k], q.y + dys[k]};
                if (!p.inside(static_cast<int>(n.x), static_cast<int>(n.y)) || p.set(static_cast<int>(n.x), static_cast<int>(n.y)) != lit_ones)
                    continue;
                if (!seen[static_cast<std::size_t>(n.y * p.width + n.x)]) {
                    seen[static_cast<std::size_t>(n.y * p.width + n.x)] = true;
                    todo.push_back(n);
                }
            }
        }
        return std::pair{reached, escaped};
    };
    if (flood(lit.front(), true, 8).first != static_cast<int>(lit.size()))
        return "the lit pixels are not one connected curve";
    const Point centre{std::lround(cx), std::lround(cy)};
    if (r >= 2.0) {
        if (p.set(static_cast<int>(centre.x), static_cast<int>(centre.y)))
            return "the centre pixel is lit";
        if (flood(centre, false, 4).second)
            return "the inside leaks out";
    }
    return {};
}

TEST(Raster, CircleOutlinesAreClosedThinAndOnTheirRadius)
{
    Cases cases;
    for (int i = 0; i < 1500; ++i) {
        // Radii from a twentieth of a pixel to three hundred pixels, evenly in the logarithm; every
        // third centre on a pixel centre, the others anywhere.
        const double r = 0.05 * std::pow(6000.0, cases.between(0, 1));
        const int size = 2 * static_cast<int>(r) + 12;
        const bool centred = i % 3 == 0;
        const auto twips = [&](double pixels) { return static_cast<float>(std::round(pixels) * 15); };
        const float x = centred ? twips(size / 2.0) : static_cast<float>(cases.between(size / 2.0 - 1, size / 2.0 + 1) * 15);
        const float y = centred ? twips(size / 2.0 - 1) : static_cast<float>(cases.between(size / 2.0 - 1, size / 2.0 + 1) * 15);
        const auto radius = static_cast<float>(r * 15);
        std::ostringstream name;
        name.precision(9);
        name << "circle case " << i << ": centre (" << x << ", " << y << ") radius " << radius << " twips";
        Pixels p(size, size);
        p.surface.draw_circle(x, y, radius, red);
        const double cx = static_cast<double>(x) * (1.0 / 15);
        const double cy = static_cast<double>(y) * (1.0 / 15);
        const std::string fault = outline_fault(p, cx, cy, static_cast<double>(radius) * (1.0 / 15));
        ASSERT_TRUE(fault.empty()) << name.str() << ": " << fault;
        if (!centred)
            continue;
        // Centred on a pixel: the same under either mirror and under swapping x and y.
        const auto mx = static_cast<int>(std::lround(cx));
        const auto my = static_cast<int>(std::lround(cy));
        for (int py = 0; py < size; ++py)
            for (int px = 0; px < size; ++px) {
                if (!p.set(px, py))
                    continue;
                ASSERT_TRUE(p.set(2 * mx - px, py)) << name.str() << ": (" << px << ", " << py << ") without its left-right mirror";
                ASSERT_TRUE(p.set(px, 2 * my - py)) << name.str() << ": (" << px << ", " << py << ") without its up-down mirror";
                ASSERT_TRUE(p.set(mx + py - my, my + px - mx)) << name.str() << ": (" << px << ", " << py << ") without its transpose";
            }
    }
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

namespace umbrascope {
namespace {

// A clip keeps the pixels inside it exactly as without it, and touches none outside.
TEST(Raster, AClipLeavesThePixelsInsideAsTheyWereAndNoneOutside)
{
    Cases cases;
    for (int i = 0; i < 400; ++i) {
        Pixels whole(60, 50);
        Pixels clipped(60, 50);
        const int left = static_cast<int>(cases.next() % 30);
        const int top = static_cast<int>(cases.next() % 25);
        const int right = left + static_cast<int>(cases.next() % 30);
        const int bottom = top + static_cast<int>(cases.next() % 25);
        clipped.surface.set_clip(left, top, right, bottom);
        const auto twips = [&cases] { return static_cast<Single>(static_cast<double>(cases.next() % 1200) - 150.0); };
        for (Pixels* p : {&whole, &clipped})
            p->surface.set_line_style(i % 2 == 0 ? LineStyle::dotted : LineStyle::solid);
        const Single a = twips();
        const Single b = twips();
        const Single c = twips();
        const Single d = twips();
        const Single r = static_cast<Single>(cases.next() % 400);
        for (Pixels* p : {&whole, &clipped}) {
            p->surface.draw_line(a, b, c, d, red);
            p->surface.draw_circle(c, b, r, red);
            p->surface.fill_box(d, a, c + 20, b + 20, red);
        }
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 60; ++x) {
                const bool in = x >= left && x <= right && y >= top && y <= bottom;
                ASSERT_EQ(clipped.set(x, y), in && whole.set(x, y)) << "case " << i << " at " << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace umbrascope

// The voltage profile on a small tree: which connections it draws, where each bus's points fall,
// the bus under the pointer, and frames with the profile beside the map in the longer palette.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <filesystem>

#include "output/frame_picture.hpp"
#include "output/png_writer.hpp"
#include "output/profile_picture.hpp"
#include "render/draw_network.hpp"
#include "run/recolour.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// S feeds A, A feeds B; C stands apart, with no distance; two rows.
struct SmallTree {
    SmallTree()
    {
        folder.write(std::string(network_file_name),
                     "bus_coordinates\n1,S,0,0\n2,A,3,4\n3,B,3,8\n4,C,10,0\nbus_connections\n1,2\n2,3\n3,4\n");
        folder.write(std::string(sun_table_file_name), testing::sun_file(2, 4));
        folder.write(std::string(track_file_name), testing::track_file());
        const std::string header = "L\nM\nB\nOne row every 10 seconds\nC\ntime,S,A,B,C\n";
        folder.write(std::string(lowest_voltage_file_name), header + "0,1.0400,0.9700,0.9400,\n10,1.0400,0.9900,0.9600,\n");
        folder.write(std::string(highest_voltage_file_name), header + "0,1.0400,0.9800,0.9450,\n10,1.0400,1.0000,0.9700,\n");
        folder.write(std::string(voltage_report_file_name),
                     "bus,distance_km,lowest,lowest_row,highest,highest_row,seconds_below_a,seconds_above_a,"
                     "seconds_below_b,seconds_above_b\nS,0,,,,,,,,\nA,5,,,,,,,,\nB,9,,,,,,,,\nC,,,,,,,,,\n");
    }
    TempFolder folder;
};

bool near_colour(const QImage& image, double x, double y, Colour colour)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
            const QPoint at(static_cast<int>(std::lround(x)) + dx, static_cast<int>(std::lround(y)) + dy);
            if (image.rect().contains(at) && image.pixelColor(at) == QColor(colour.r, colour.g, colour.b))
                return true;
        }
    return false;
}

TEST(Profile, BusesAtTheirDistancesAndConnectionsAsSegments)
{
    const SmallTree tree;
    testing::PassRun run(tree.folder.path());
    ASSERT_FALSE(run.pass());
    const RunVoltages v = RunVoltages::read(tree.folder.path());
    v.check(run.st);
    EXPECT_TRUE(v.distances_in_km());
    EXPECT_EQ(v.distances(), (std::vector<double>{0, 5, 9, -1}));
    // The connection to C, which has no distance, is no segment.
    const std::vector<ProfileSegment> segments = profile_segments(run.st, v);
    ASSERT_EQ(segments.size(), 2U);
    EXPECT_EQ(segments[0].from, 1);
    EXPECT_EQ(segments[0].to, 2);
    EXPECT_EQ(segments[1].from, 2);
    EXPECT_EQ(segments[1].to, 3);

    // The run's extent: from the source to beyond B, the range lines and every value within.
    const ProfileAxes axes = profile_extent(v);
    EXPECT_EQ(axes.x0, 0);
    EXPECT_NEAR(axes.x1, 9 * 1.03, 1e-9);
    EXPECT_LE(axes.y0, 0.9);
    EXPECT_GE(axes.y1, 1.1);

    QImage image(600, 400, QImage::Format_RGB32);
    QPainter painter(&image);
    paint_profile(painter, QRectF(0, 0, 600, 400), v, segments, 1, axes, 1.0);
    painter.end();
    const ProfilePlot plot = profile_plot(QRectF(0, 0, 600, 400), axes, 1.0);
    EXPECT_NEAR(plot.distance_at(plot.x(5)), 5, 1e-9);
    EXPECT_NEAR(plot.pu_at(plot.y(0.97)), 0.97, 1e-9);
    // Each bus's points in its class's colour: B low in range B in row 1, A and S in range A.
    EXPECT_TRUE(near_colour(image, plot.x(5), plot.y(0.97), class_colour(VoltageClass::range_a)));
    EXPECT_TRUE(near_colour(image, plot.x(9), plot.y(0.945), class_colour(VoltageClass::low_in_b)));
    EXPECT_TRUE(near_colour(image, plot.x(0), plot.y(1.04), class_colour(VoltageClass::range_a)));
    // The segments between them: the lowest navy, the highest maroon.
    EXPECT_TRUE(near_colour(image, plot.x(7), plot.y((0.97 + 0.94) / 2), palette(1)));
    EXPECT_TRUE(near_colour(image, plot.x(7), plot.y((0.98 + 0.945) / 2), palette(4)));
    // No segment runs from S to the bus without a distance, nor beyond B.
    EXPECT_FALSE(near_colour(image, plot.x(9.2), plot.y(0.94), palette(1)));
    // The pointer names the bus whose point is nearest, within reach.
    EXPECT_EQ(profile_bus_near(plot, v, 1, QPointF(plot.x(5) + 2, plot.y(0.98) - 1), 6), 2);
    EXPECT_EQ(profile_bus_near(plot, v, 1, QPointF(plot.x(9), plot.y(0.945)), 6), 3);
    EXPECT_EQ(profile_bus_near(plot, v, 1, QPointF(plot.x(2.5), plot.y(1.08)), 6), 0);
}

// A frame with the profile beside the map: the map keeps the left three fifths, the voltage
// classes' colours take the palette's entries after the first 17, the PNG carries them all, and
// a sunlight frame's palette stays as it was.
TEST(Profile, FramesBesideTheMapInTheLongerPalette)
{
    const SmallTree tree;
    testing::PassRun run(tree.folder.path());
    const RunVoltages v = RunVoltages::read(tree.folder.path());
    Picture picture;
    TeeSurface both(picture, nullptr);
    RecolourSurface recolour(both, run.state.get());
    recolour.set_colouring(&v);
    Pass pass{run.st, run.input, run.controls, recolour};
    ASSERT_NO_THROW(run_pass(pass));
    const std::vector<ProfileSegment> segments = profile_segments(run.st, v);
    const ProfileAxes axes = profile_extent(v);

    FrameOptions options;
    options.width = 800;
    options.height = 400;
    options.annotate = true;
    options.voltages = &v;
    options.by_voltage = true;
    options.profile = true;
    options.segments = &segments;
    options.profile_axes = &axes;
    EXPECT_EQ(map_pixels(options), 480);
    const FrameFacts facts{run.st, 1};
    IndexedFrame direct;
    draw_indexed_picture_frame(direct, picture, facts, options);
    IndexedFrame drawn;
    index_frame(picture_frame(picture, facts, options), drawn);
    EXPECT_EQ(direct.pixels, drawn.pixels);
    EXPECT_EQ(direct.colours, voltage_palette_size);
    // The discs in the classes' colours, the profile's points too: indices past the first 17.
    int voltage_pixels = 0;
    for (const std::uint8_t index : direct.pixels)
        voltage_pixels += index >= frame_palette_size ? 1 : 0;
    EXPECT_GT(voltage_pixels, 100);
    const std::string png = encode_png(direct);
    const std::size_t plte = png.find("PLTE");
    ASSERT_NE(plte, std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(png[plte - 1]), voltage_palette_size * 3);
    // The band is the taller one, with the legend's line more.
    EXPECT_EQ(band_pixels(options), static_cast<int>(std::lround(voltage_band_pixels * text_scale(options))));

    testing::PassRun classes(tree.folder.path());
    Picture sunlit;
    TeeSurface observed(sunlit, nullptr);
    Pass plain_pass{classes.st, classes.input, classes.controls, observed};
    ASSERT_NO_THROW(run_pass(plain_pass));
    FrameOptions sunlight;
    sunlight.width = 800;
    sunlight.height = 400;
    IndexedFrame plain;
    draw_indexed_picture_frame(plain, sunlit, FrameFacts{classes.st, 1}, sunlight);
    EXPECT_EQ(plain.colours, frame_palette_size);
    const std::string plain_png = encode_png(plain);
    EXPECT_EQ(static_cast<unsigned char>(plain_png[plain_png.find("PLTE") - 1]), frame_palette_size * 3);
}

}  // namespace
}  // namespace umbrascope

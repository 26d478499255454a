// Frame files and animations: every written pixel reads back exactly, an animation holds one frame
// per pass at the run's pace, and options add to the picture without changing it.

#include <gtest/gtest.h>
#include <zlib.h>

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

extern "C" {
#include <libavformat/avformat.h>
}

#include "core/shade.hpp"
#include "core/text.hpp"
#include "output/canvas.hpp"
#include "render/draw_network.hpp"
#include "output/animation_writer.hpp"
#include "output/frame_picture.hpp"
#include "output/output_file.hpp"
#include "output/page_writer.hpp"
#include "output/png_writer.hpp"
#include "output/svg_picture.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;

const fs::path two_buses = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/golden/two-buses";

// The frames of a whole run of a folder, composed as the exporter composes them.
std::vector<QImage> run_frames(const FrameOptions& options, std::vector<IndexedFrame>* direct = nullptr,
                               const fs::path& folder = two_buses, std::vector<QImage>* replayed = nullptr)
{
    testing::PassRun run(folder);
    Canvas canvas(1.0);
    Picture picture;
    TeeSurface both(canvas, &picture);
    TraceSurface surface(&run.trace, &both);
    Pass pass{run.st, run.input, run.controls, surface};
    std::vector<QImage> frames;
    HeadlessEvents events;
    events.after_pass = [&](int) {
        const FrameFacts facts{run.st, shown_row(run.st, false)};
        frames.push_back(options.sized() ? picture_frame(picture, facts, options) : compose_frame(canvas, facts, options));
        if (replayed != nullptr)  // the same frame replayed from the recorded picture
            replayed->push_back(picture_frame(picture, facts, options));
        if (direct != nullptr)  // the exporter's path for plain frames
            compose_indexed_frame(canvas, facts, options, direct->emplace_back());
    };
    (void)run_headless(pass, run.controls, run.trace, {}, events);
    return frames;
}

QImage rgb(const QImage& image) { return image.convertToFormat(QImage::Format_RGB32); }

// A run in `folder` whose passes are recorded as shapes, as the exporter records them.
struct Recorded {
    explicit Recorded(const fs::path& folder, bool large = false) : run(folder, large) {}
    testing::PassRun run;
    Picture picture;
    TeeSurface surface{picture, nullptr};
    Pass pass{run.st, run.input, run.controls, surface};
};

TEST(Frames, PngAndGifFramesReadBackPixelForPixel)
{
    std::vector<IndexedFrame> direct;
    const std::vector<QImage> frames = run_frames({}, &direct);
    ASSERT_EQ(frames.size(), 3U);
    testing::TempFolder folder;
    const fs::path gif = folder.path() / "run.gif";
    AnimationWriter animation(gif, frames[0].width(), frames[0].height(), 10);
    IndexedFrame indexed;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        index_frame(frames[i], indexed);
        const std::string png = encode_png(indexed);
        QImage back;
        ASSERT_TRUE(back.loadFromData(reinterpret_cast<const uchar*>(png.data()), static_cast<int>(png.size()), "PNG"));
        EXPECT_EQ(back.format(), QImage::Format_Indexed8) << "frame " << i + 1;
        EXPECT_EQ(rgb(back), rgb(frames[i])) << "PNG frame " << i + 1;
        EXPECT_EQ(direct[i].pixels, indexed.pixels) << "frame " << i + 1;
        animation.add(indexed);
    }
    animation.finish();

    QImageReader reader(QString::fromStdString(gif.string()));
    ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const QImage frame = reader.read();
        ASSERT_FALSE(frame.isNull()) << "GIF frame " << i + 1 << ": " << reader.errorString().toStdString();
        EXPECT_EQ(rgb(frame), rgb(frames[i])) << "GIF frame " << i + 1;
        EXPECT_EQ(reader.nextImageDelay(), 100) << "GIF frame " << i + 1;
    }
    EXPECT_TRUE(reader.read().isNull()) << "a frame too many";
}

TEST(Frames, VideoHoldsOneFramePerPassAtItsPace)
{
    const std::vector<QImage> frames = run_frames({});
    testing::TempFolder folder;
    for (const char* name : {"run.mp4", "run.webm"}) {
        const fs::path path = folder.path() / name;
        AnimationWriter video(path, frames[0].width(), frames[0].height(), 10);  // 459 x 451: padded to even
        IndexedFrame indexed;
        for (const QImage& frame : frames) {
            index_frame(frame, indexed);
            video.add(indexed);
        }
        video.finish();
        AVFormatContext* format = nullptr;
        ASSERT_EQ(avformat_open_input(&format, path.c_str(), nullptr, nullptr), 0) << name;
        ASSERT_GE(avformat_find_stream_info(format, nullptr), 0) << name;
        const AVStream* stream = format->streams[0];
        EXPECT_EQ(stream->codecpar->width, 460) << name;
        EXPECT_EQ(stream->codecpar->height, 452) << name;
        EXPECT_EQ(av_q2d(stream->avg_frame_rate), 10.0) << name;
        int packets = 0;
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(format, packet) >= 0) {
            ++packets;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        avformat_close_input(&format);
        EXPECT_EQ(packets, 3) << name;
    }
}

TEST(Frames, AnnotationAndLabelsLeaveThePictureAlone)
{
    const std::vector<QImage> plain = run_frames({});
    const std::vector<QImage> annotated = run_frames({true, false});
    const std::vector<QImage> labelled = run_frames({false, true});
    ASSERT_EQ(annotated.size(), plain.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(annotated[i].height(), plain[i].height() + annotation_band_pixels);
        EXPECT_EQ(rgb(annotated[i].copy(plain[i].rect())), rgb(plain[i])) << "frame " << i + 1;
        EXPECT_NE(rgb(labelled[i]), rgb(plain[i])) << "frame " << i + 1 << " has no labels";
        // Text keeps to the palette, so the frames stay exact in PNG and GIF files.
        IndexedFrame indexed;
        index_frame(annotated[i], indexed);
        const QImage band = annotated[i].copy(0, plain[i].height(), plain[i].width(), annotation_band_pixels);
        EXPECT_NE(band, QImage(band.size(), band.format())) << "an empty band";
        for (int y = 0; y < annotated[i].height(); ++y)
            for (int x = 0; x < annotated[i].width(); ++x) {
                const Colour c = frame_palette()[indexed.pixels[static_cast<std::size_t>(y * indexed.width + x)]];
                ASSERT_EQ(annotated[i].pixel(x, y) & 0xFFFFFFU, (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b)
                    << "a colour outside the palette at " << x << "," << y;
            }
    }
}

// The bundled example with every bus and cloud centre on a quarter unit, moved by (dx, dy).
void write_example_moved(const fs::path& folder, double dx, double dy)
{
    const fs::path example = fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13";
    const auto quarter = [](const std::string& field) { return std::round(std::stod(field) * 4) / 4; };
    const auto moved = [&](const std::string& name, std::size_t first, std::size_t last, std::size_t x_field) {
        std::ifstream in(example / name);
        std::ofstream out(folder / name);
        std::string line;
        for (std::size_t n = 1; std::getline(in, line); ++n) {
            if (n >= first && n <= last) {
                std::vector<std::string> fields;
                std::stringstream cells(line);
                for (std::string cell; std::getline(cells, cell, ',');)
                    fields.push_back(cell);
                std::ostringstream x, y;
                x << std::fixed << std::setprecision(2) << quarter(fields[x_field]) + dx;
                y << std::fixed << std::setprecision(2) << quarter(fields[x_field + 1]) + dy;
                fields[x_field] = x.str();
                fields[x_field + 1] = y.str();
                line.clear();
                for (const std::string& field : fields)
                    line += (line.empty() ? "" : ",") + field;
            }
            out << line << '\n';
        }
    };
    moved(std::string(network_file_name), 2, 17, 2);  // "number,name,x,y" lines
    moved(std::string(track_file_name), 5, std::string::npos, 1);  // "step,x,y" records
    fs::copy_file(example / sun_table_file_name, folder / sun_table_file_name);
}

// The extent is the buses' own wherever they lie: a feeder far from the origin (state-plane or UTM
// coordinates) is drawn exactly as the same feeder near it.
TEST(Frames, AMovedNetworkDrawsTheSameFrames)
{
    testing::TempFolder near, far;
    write_example_moved(near.path(), 0, 0);
    write_example_moved(far.path(), 2000000, 3000000);
    const std::vector<QImage> expected = run_frames({}, nullptr, near.path());
    const std::vector<QImage> moved = run_frames({}, nullptr, far.path());
    ASSERT_EQ(expected.size(), 120U);
    ASSERT_EQ(moved.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(rgb(moved[i]), rgb(expected[i])) << "frame " << i + 1;
}

// One renderer: the recorded picture replayed through the classic view gives the window's own
// picture pixel for pixel, with and without the band and the names, over a whole run.
TEST(Frames, TheRecordedPictureReplaysAsTheWindowDrewIt)
{
    const fs::path example = fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13";
    for (const FrameOptions& options : {FrameOptions{}, FrameOptions{true, true}}) {
        std::vector<QImage> replayed;
        const std::vector<QImage> drawn = run_frames(options, nullptr, example, &replayed);
        ASSERT_EQ(drawn.size(), 120U);
        for (std::size_t i = 0; i < drawn.size(); ++i)
            ASSERT_EQ(rgb(replayed[i]), rgb(drawn[i])) << "frame " << i + 1 << (options.annotate ? " with the band" : "");
    }
}

// The width of the red disc around (x, y): the columns within 9 pixels that hold its colour. A disc
// of radius 85 twips (5.7 pixels) is 11 to 13 pixels wide, as its centre falls between pixels.
int disc_width(const QImage& frame, int x, int y)
{
    int left = x + 10, right = x - 10;
    for (int py = std::max(0, y - 9); py <= std::min(frame.height() - 1, y + 9); ++py)
        for (int px = std::max(0, x - 9); px <= std::min(frame.width() - 1, x + 9); ++px)
            if ((frame.pixel(px, py) & 0xFFFFFFU) == 0xFF0000U) {
                left = std::min(left, px);
                right = std::max(right, px);
            }
    return right - left + 1;
}

// Frames of any size: exactly that size, the network fitted inside with its bus discs at the
// classic size, the band inside the frame.
TEST(Frames, AnySizeFitsTheNetworkAndKeepsTheDiscs)
{
    const fs::path example = fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13";
    Recorded recorded(example);
    testing::PassRun& run = recorded.run;
    const Picture& picture = recorded.picture;
    Pass& pass = recorded.pass;
    run_pass(pass);
    const FrameFacts facts{run.st, 1};
    struct Size {
        int width, height;
        bool annotate;
    };
    for (const Size size : {Size{0, 0, false}, Size{459, 451, false}, Size{1920, 1080, true}, Size{3840, 2160, false},
                            Size{640, 2000, true}}) {
        FrameOptions options;
        options.width = size.width;
        options.height = size.height;
        options.annotate = size.annotate;
        const QImage frame = picture_frame(picture, facts, options);
        if (options.sized()) {
            EXPECT_EQ(frame.size(), QSize(size.width, size.height));
        }
        const View view = frame_view(run.st, options);
        double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
        for (int k = 1; k <= run.st.nbus.value(); ++k) {
            const auto at = bus_marker_position(run.st, k);
            ASSERT_TRUE(at);
            const int x = static_cast<int>(std::lround(view.x(at->x)));
            const int y = static_cast<int>(std::lround(view.y(at->y)));
            EXPECT_GE(disc_width(frame, x, y), 11) << size.width << "x" << size.height << ", bus " << k;
            EXPECT_LE(disc_width(frame, x, y), 13) << size.width << "x" << size.height << ", bus " << k;
            left = std::min(left, view.x(at->x)), right = std::max(right, view.x(at->x));
            top = std::min(top, view.y(at->y)), bottom = std::max(bottom, view.y(at->y));
        }
        if (options.sized()) {
            // Centred, filling the frame along the network's longer side but for the margins.
            const double band = band_pixels(options);
            EXPECT_NEAR((left + right) / 2, size.width / 2.0, 1.0) << size.width << "x" << size.height;
            EXPECT_NEAR((top + bottom) / 2, (size.height - band) / 2, 1.0) << size.width << "x" << size.height;
            EXPECT_TRUE(right - left > 0.8 * size.width || bottom - top > 0.8 * (size.height - band))
                << size.width << "x" << size.height;
        }
    }
}

// The width of the red disc around (x, y) on its middle rows, within `half` pixels each side: a
// disc of a grid alone, its neighbours further off (the discs are rings of circles, with gaps).
int red_width(const QImage& frame, int x, int y, int half)
{
    int left = x + half + 1, right = x - half - 1;
    for (int py = std::max(0, y - 1); py <= std::min(frame.height() - 1, y + 1); ++py)
        for (int px = std::max(0, x - half); px <= std::min(frame.width() - 1, x + half); ++px)
            if ((frame.pixel(px, py) & 0xFFFFFFU) == 0xFF0000U) {
                left = std::min(left, px);
                right = std::max(right, px);
            }
    return std::max(0, right - left + 1);
}

// A dense network's discs take their size from how close its buses lie at the zoom shown, from 3
// pixels up to the full 11 to 13, so that neighbours stay apart and the lines between them show; a
// screen of two device pixels a pixel draws them twice as wide; the classic frame keeps them full.
TEST(Frames, DenseNetworksFitTheirDiscsToTheirSpacing)
{
    testing::TempFolder folder;
    std::string network = "bus_coordinates\n", sun = "h1\nh2\nh3\nh4\nh5\nh6\n10";
    int bus = 0;
    constexpr int columns = 120;
    for (int x = 0; x < columns; ++x)
        for (int y = 0; y < 75; ++y) {
            ++bus;
            network += std::to_string(bus) + ",b" + std::to_string(bus) + "," + std::to_string(x) + "," + std::to_string(y) + "\n";
            sun += ",1";
        }
    folder.write(std::string(network_file_name), network + "bus_connections\n1,2\n");
    folder.write(std::string(sun_table_file_name), sun + "\n");
    folder.write(std::string(track_file_name), testing::track_file());
    Recorded recorded(folder.path(), true);
    testing::PassRun& run = recorded.run;
    const Picture& picture = recorded.picture;
    Pass& pass = recorded.pass;
    run_pass(pass);
    const FrameFacts facts{run.st, 1};
    const double spacing = bus_spacing(run.st);
    const auto centre = [&](const View& view, int k) {
        const auto at = bus_marker_position(run.st, k);
        return QPointF(view.x(at->x), view.y(at->y));
    };
    // The discs' widths in device pixels, at a zoom, on a screen of `ratio` device pixels a pixel.
    const auto widths = [&](double ratio, double zoom) {
        FrameOptions options;
        options.width = static_cast<int>(640 * ratio);
        options.height = static_cast<int>(400 * ratio);
        options.pixel_ratio = ratio;
        options.bus_spacing = spacing;
        View view = frame_view(run.st, options);
        view.zoom(zoom, options.width / 2.0, options.height / 2.0);
        options.shown = view;
        const QImage frame = picture_frame(picture, facts, options);
        std::vector<int> found;
        for (int k = 1; k <= bus; ++k) {
            const QPointF at = centre(view, k);
            if (at.x() < 40 * ratio || at.y() < 40 * ratio || at.x() > options.width - 40 * ratio ||
                at.y() > options.height - 40 * ratio)
                continue;
            const int half = std::min(static_cast<int>(spacing * view.scale / 2 - 0.5), static_cast<int>(9 * ratio));
            found.push_back(red_width(frame, static_cast<int>(std::lround(at.x())), static_cast<int>(std::lround(at.y())), half));
            if (k + 75 > bus)
                continue;
            // Between a bus and its neighbour on the right the frame is not red: the discs stay apart.
            const QPointF middle = (at + centre(view, k + 75)) / 2;
            EXPECT_NE(frame.pixel(static_cast<int>(std::lround(middle.x())), static_cast<int>(std::lround(at.y()))) & 0xFFFFFFU,
                      0xFF0000U)
                << "ratio " << ratio << ", zoom " << zoom << ": bus " << k << " touches its neighbour";
        }
        EXPECT_GT(found.size(), 20U) << "ratio " << ratio << ", zoom " << zoom;
        return std::pair(*std::min_element(found.begin(), found.end()), *std::max_element(found.begin(), found.end()));
    };
    for (const double ratio : {1.0, 2.0}) {
        const auto fitted = widths(ratio, 1);
        EXPECT_GE(fitted.first, 3 * ratio) << "ratio " << ratio;
        EXPECT_LT(fitted.second, 11 * ratio) << "ratio " << ratio << ": dense discs at full size";
        const auto closer = widths(ratio, 1.6);
        EXPECT_GT(closer.first, fitted.first) << "ratio " << ratio << ": zooming in did not grow the discs";
        const auto near = widths(ratio, 8);
        EXPECT_GE(near.first, 11 * ratio) << "ratio " << ratio;
        EXPECT_LE(near.second, 13 * ratio) << "ratio " << ratio;
    }
    EXPECT_NEAR(widths(2, 1.6).first, 2 * widths(1, 1.6).first, 2) << "twice the device pixels, twice as wide";
    // The classic frame draws every disc full size, however close.
    const QImage classic = picture_frame(picture, facts, FrameOptions{});
    const QPointF at = centre(classic_view(), bus / 2);
    EXPECT_GE(disc_width(classic, static_cast<int>(std::lround(at.x())), static_cast<int>(std::lround(at.y()))), 11);
}

// Names are written only where they overlap no other: 30 pairs of buses, each pair 2 units apart
// and the pairs 100 apart, in a frame 3000 pixels wide, give one name a pair.
void names_beside_their_own_discs(const RunState& st, const View& view, const std::vector<PlacedName>& placed)
{
    std::vector<QPointF> centres;
    for (int k = 1; k <= st.nbus.value(); ++k) {
        const auto at = bus_marker_position(st, k);
        centres.emplace_back(at ? QPointF(view.x(at->x), view.y(at->y)) : QPointF(-1e9, -1e9));
    }
    const auto away = [](const QRectF& box, QPointF p) {
        return std::hypot(std::max({box.left() - p.x(), 0.0, p.x() - box.right()}),
                          std::max({box.top() - p.y(), 0.0, p.y() - box.bottom()}));
    };
    for (std::size_t i = 0; i < placed.size(); ++i) {
        for (std::size_t j = i + 1; j < placed.size(); ++j)
            ASSERT_FALSE(placed[i].box.intersects(placed[j].box)) << placed[i].bus << " and " << placed[j].bus;
        const double own = away(placed[i].box, centres[static_cast<std::size_t>(placed[i].bus - 1)]);
        for (std::size_t k = 0; k < centres.size(); ++k) {
            if (static_cast<int>(k) + 1 != placed[i].bus) {
                ASSERT_GT(away(placed[i].box, centres[k]), own) << "the name of bus " << placed[i].bus << " is nearer bus "
                                                                << k + 1;
            }
        }
    }
}

TEST(Frames, NamesNeverOverlap)
{
    testing::TempFolder folder;
    std::string network = "bus_coordinates\n";
    for (int pair = 0; pair < 30; ++pair)
        for (int one = 0; one < 2; ++one) {
            const int bus = 2 * pair + one + 1;
            network += std::to_string(bus) + ",name" + std::to_string(bus) + "," + std::to_string(100 * pair + 2 * one) +
                       "," + std::to_string(pair % 2) + "\n";
        }
    folder.write(std::string(network_file_name), network + "bus_connections\n");
    folder.write(std::string(sun_table_file_name), testing::sun_file(1, 60));
    folder.write(std::string(track_file_name), testing::track_file());
    testing::PassRun run(folder.path(), true);
    ASSERT_FALSE(run.pass());
    FrameOptions options;
    options.width = 3000;
    options.height = 600;
    QImage frame(options.width, options.height, QImage::Format_RGB32);
    QPainter painter(&frame);
    // Each pair's second name goes below, on its own side of the pair.
    std::vector<PlacedName> placed;
    EXPECT_EQ(paint_bus_names(painter, run.st, frame_view(run.st, options), options.width, options.height, 1.0, 0, &placed), 60);
    names_beside_their_own_discs(run.st, frame_view(run.st, options), placed);
}

// On the IEEE 8500-node feeder at 1920 x 1080, fitted and zoomed in: no two names overlap, and the
// disc nearest each name is the one it names.
TEST(Frames, NamesStandBesideTheirOwnDiscsOnADenseFeeder)
{
    testing::TempFolder folder;
    fs::copy(fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/study/ieee8500-network" / std::string(network_file_name),
             folder.path() / std::string(network_file_name));
    folder.write(std::string(sun_table_file_name), testing::sun_file(1, 2476));
    folder.write(std::string(track_file_name), testing::track_file());
    testing::PassRun run(folder.path(), true);
    ASSERT_FALSE(run.pass());
    FrameOptions options;
    options.width = 1920;
    options.height = 1080;
    const auto middle = bus_marker_position(run.st, 1200);
    ASSERT_TRUE(middle);
    for (const double zoom : {1.0, 6.0, 30.0}) {
        View view = frame_view(run.st, options);
        view.zoom(zoom, view.x(middle->x), view.y(middle->y));
        QImage frame(options.width, options.height, QImage::Format_RGB32);
        QPainter painter(&frame);
        std::vector<PlacedName> placed;
        const int written = paint_bus_names(painter, run.st, view, options.width, options.height, 1.0, 0, &placed);
        EXPECT_GT(written, 10) << "zoom " << zoom;
        names_beside_their_own_discs(run.st, view, placed);
    }
}

// A sized frame drawn straight into palette indices is, index for index, the 32-bit frame indexed:
// with and without the band, its discs full size and fitted to a spacing.
TEST(Frames, IndexedFramesAreTheDrawnFramesIndexed)
{
    Recorded example(fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13");
    for (int row = 1; row <= 40; ++row) {
        run_pass(example.pass);
        const FrameFacts facts{example.run.st, row};
        for (const FrameOptions& options : {FrameOptions{false, false, 1280, 720}, FrameOptions{true, false, 641, 357},
                                            FrameOptions{true, false, 3840, 2160, 1.0, std::nullopt, 30.0}}) {
            IndexedFrame direct, indexed;
            draw_indexed_picture_frame(direct, example.picture, facts, options);
            index_frame(picture_frame(example.picture, facts, options), indexed);
            ASSERT_EQ(direct.width, indexed.width);
            ASSERT_EQ(direct.height, indexed.height);
            ASSERT_TRUE(direct.pixels == indexed.pixels) << "row " << row << ", " << options.width << "x" << options.height
                                                         << (options.annotate ? " with the band" : "");
        }
    }
}

// A measured sky's shade goes on the map's white alone, each pixel in the step of the index the
// field gives there; the symbols of the controls stand above their buses, magenta in a row where
// one acts; the 32-bit frames and the indexed ones agree, and only then is the longer palette used.
TEST(Frames, TheShadeAndTheSymbolsGoOverThePictureAlone)
{
    Recorded example(fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13");
    run_pass(example.pass);
    const RunState& st = example.run.st;
    SkyField field;
    field.at_x = st.xc_min + st.c_span / 2;
    field.at_y = st.yc_min;
    field.speed = 2;
    field.from = 270;  // from the west: the shade moves east
    field.interval = 10;
    field.series = {1.0, 0.1, 0.5, 0.9, 1.0};
    // A regulator at the second bus that moves in row 1, and a capacitor at the third that never does.
    const std::string second = encode_utf8(st.bus_name(Integer{2}));
    const std::string third = encode_utf8(st.bus_name(Integer{3}));
    const ControlsTable controls({ControlSeries{"regcontrol", "R", "Transformer.R", second, 2, {3, 3}, std::nullopt, {}},
                                  ControlSeries{"capcontrol", "C", "Capacitor.C", third, 1, {1, 1}, std::nullopt, {}}},
                                 2, "");
    const ControlPlaces places = control_places(st, controls);
    ASSERT_EQ(places.bus, (std::vector<int>{2, 3}));
    FrameOptions plain{false, false, 900, 700};
    FrameOptions over = plain;
    over.field = &field;
    over.show_controls = true;
    over.controls = &controls;
    over.control_places = &places;
    for (const int row : {1, 2}) {
        const FrameFacts facts{st, row};
        const QImage before = picture_frame(example.picture, facts, plain);
        const QImage after = picture_frame(example.picture, facts, over);
        const View view = frame_view(st, over);
        int shaded = 0, matched = 0, symbols = 0, magenta = 0;
        for (int y = 0; y < after.height(); ++y)
            for (int x = 0; x < after.width(); ++x) {
                const QRgb was = before.pixel(x, y) & 0xFFFFFFU, is = after.pixel(x, y) & 0xFFFFFFU;
                if (was == is)
                    continue;
                if (is == 0xFF00FFU || is == 0U) {  // a symbol
                    ++symbols;
                    magenta += is == 0xFF00FFU ? 1 : 0;
                    continue;
                }
                ASSERT_EQ(was, 0xFFFFFFU) << "the shade went over what the passes drew at " << x << "," << y;
                // The step of the index the field gives at this pixel's point of the network.
                const double plot_x = view.plot_x(x + 0.5), plot_y = view.plot_y(y + 0.5);
                const double net_x = (plot_x - st.xp_min.value()) / (st.xp_max.value() - st.xp_min.value()) * st.c_span + st.xc_min;
                const double net_y = (st.yp_max.value() - plot_y) / (st.yp_max.value() - st.yp_min.value()) * st.c_span + st.yc_min;
                const int level = shade_level(field.index_at(net_x, net_y, row));
                const Colour c = shade_colour(std::max(level, 1));
                ++shaded;
                matched += level > 0 && is == (static_cast<QRgb>(c.r) << 16 | static_cast<QRgb>(c.g) << 8 | c.b) ? 1 : 0;
            }
        EXPECT_GT(shaded, 1000) << "row " << row;
        // All but the pixels on a step's very edge, which the lookup may put in either step.
        EXPECT_GE(matched, shaded * 99 / 100) << "row " << row << ": the shade's pixels in the steps of the field's index";
        EXPECT_GT(symbols, 40) << "row " << row;
        EXPECT_EQ(magenta > 0, row == 1) << "row " << row << ": the regulator acts in row 1 (3 after a settle of 2)";
        IndexedFrame direct, indexed;
        draw_indexed_picture_frame(direct, example.picture, facts, over);
        index_frame(after, indexed);
        EXPECT_TRUE(direct.pixels == indexed.pixels) << "row " << row;
        EXPECT_EQ(direct.colours, shade_palette_size);
        EXPECT_EQ(indexed.colours, shade_palette_size);
    }
    // Without them, the frame and its palette are the classic ones.
    IndexedFrame classic;
    draw_indexed_picture_frame(classic, example.picture, FrameFacts{st, 1}, plain);
    EXPECT_EQ(classic.colours, frame_palette_size);
}

// After many passes the recorded picture holds what the last pass drew, no more: each pass's fill
// over the whole frame wipes the shapes before it, so the hover and the files show only this row.
TEST(Frames, TheRecordedPictureHoldsOnlyTheLastPass)
{
    Recorded example(fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13");
    const std::vector<Shape>& shapes = example.picture.shapes();
    for (int row = 1; row <= 120; ++row) {
        run_pass(example.pass);
        const auto fills = std::count_if(shapes.begin(), shapes.end(), [](const Shape& s) { return s.role == Role::fill; });
        ASSERT_EQ(fills, 1) << "row " << row;
        ASSERT_EQ(shapes.front().role, Role::fill) << "row " << row;
        ASSERT_LE(shapes.size(), 1 + 16 * 9 + 15 + 3 * 7) << "row " << row;  // a fill, discs, lines, clouds
    }
}

// The legend's swatches have their classes' colours, and in the SVG frame nothing the picture draws
// reaches into the band under it.
TEST(Frames, TheBandShowsTheClassColoursAndThePictureStaysAboveIt)
{
    testing::PassRun run(two_buses);
    Picture picture;
    TeeSurface surface(picture, nullptr);
    Pass pass{run.st, run.input, run.controls, surface};
    run_pass(pass);
    // A line from the middle of the picture down past its bottom edge.
    const PlotRect frame = frame_rect();
    picture.draw_line(static_cast<Single>((frame.left + frame.right) / 2), static_cast<Single>((frame.top + frame.bottom) / 2),
                      static_cast<Single>((frame.left + frame.right) / 2), static_cast<Single>(frame.bottom + 3000), palette(1));
    for (const FrameOptions& options : {FrameOptions{true, false}, FrameOptions{true, false, 1280, 720}}) {
        const QImage image = picture_frame(picture, FrameFacts{run.st, 1}, options);
        const double scale = text_scale(options);
        const int top = image.height() - band_pixels(options);
        // The swatches, 12 pixels square at the classic size, from 8 pixels in, one per class.
        QList<QRgb> swatches;
        for (int x = 0; x < image.width() && swatches.size() < 3; ++x) {
            const QRgb pixel = image.pixel(x, top + static_cast<int>(std::lround(31 * scale))) & 0xFFFFFFU;
            if ((pixel == 0xFF0000U || pixel == 0x00FF00U || pixel == 0x000080U) && (swatches.empty() || swatches.back() != pixel))
                swatches << pixel;
        }
        EXPECT_EQ(swatches, (QList<QRgb>{0xFF0000U, 0x00FF00U, 0x000080U})) << options.width;

        const QByteArray svg = picture_svg(picture, FrameFacts{run.st, 1}, options);
        QSvgRenderer renderer(svg);
        ASSERT_TRUE(renderer.isValid());
        QImage drawn(image.size(), QImage::Format_RGB32);
        drawn.fill(Qt::white);
        QPainter painter(&drawn);
        renderer.render(&painter, QRectF(0, 0, drawn.width(), drawn.height()));
        painter.end();
        // Down the line's column, the band holds no pixel of the line's navy.
        const int x = static_cast<int>(std::lround(frame_view(run.st, options).x((frame.left + frame.right) / 2)));
        int navy_above = 0;
        for (int y = 0; y < drawn.height(); ++y) {
            const QColor c = drawn.pixelColor(x, y);
            const bool navy = c.blue() > c.red() + 40;  // navy, or navy smoothed into white
            if (y >= top + 2)
                EXPECT_FALSE(navy) << "the picture drew into the band at " << x << "," << y << " (" << options.width << ")";
            else
                navy_above += navy ? 1 : 0;
        }
        EXPECT_GT(navy_above, 10) << "the line is not in the picture";
    }
}

// A file is written whole or not at all: when the final name cannot be taken (a folder holds it),
// the write is an error naming the file, and the temporary file goes.
TEST(OutputFiles, AFailedRenameIsAnErrorAndLeavesNoTemporaryFile)
{
    testing::TempFolder folder;
    const fs::path path = folder.path() / "frame.png";
    {
        OutputFile file(path);
        file.write("bytes");
        fs::create_directories(path / "taken");
        try {
            file.commit();
            ADD_FAILURE() << "the rename onto a folder was taken";
        } catch (const WriteError& e) {
            EXPECT_NE(std::string(e.what()).find("frame.png"), std::string::npos) << e.what();
        }
    }
    std::vector<std::string> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path()))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"frame.png"});  // the folder, and no temporary file
}

TEST(Frames, FailuresNameTheFileAndTheReason)
{
    struct Case {
        const char* path;
        const char* message;
    };
    const Case cases[] = {
        {"/dev/full", "cannot write /dev/full: the name has no extension"},
        {"run.avi", "cannot write run.avi: '.avi' is not an animation type; use .gif, .mp4, .webm or .html"},
        {"/proc/no/such/run.gif", "cannot write /proc/no/such/run.gif: No such file or directory"},
    };
    for (const Case& c : cases) {
        try {
            AnimationWriter writer(c.path, 10, 10, 10);
            ADD_FAILURE() << c.path << " was taken";
        } catch (const WriteError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    testing::TempFolder folder;
    fs::create_symlink("/dev/full", folder.path() / "full.gif");
    AnimationWriter writer(folder.path() / "full.gif", 8, 8, 10);
    IndexedFrame frame{8, 8, std::vector<std::uint8_t>(64, 15)};
    try {
        writer.add(frame);
        writer.finish();
        ADD_FAILURE() << "a full disk took the animation";
    } catch (const WriteError& e) {
        EXPECT_NE(std::string(e.what()).find("full.gif: No space left on device"), std::string::npos) << e.what();
    }
}

// A section of a page as the browser gets it: base64 of gzip, undone.
std::string page_section(const std::string& page, const std::string& id)
{
    const std::string open = "id=\"u-" + id + "\" data-size=\"";
    const std::size_t at = page.find(open);
    if (at == std::string::npos)
        return "(no section " + id + ")";
    const std::size_t size_end = page.find('"', at + open.size());
    const std::size_t size = std::stoul(page.substr(at + open.size(), size_end - at - open.size()));
    const std::size_t start = page.find('>', size_end) + 1;
    const std::string text = page.substr(start, page.find('<', start) - start);
    std::string packed;
    std::uint32_t bits = 0;
    int have = 0;
    for (const char c : text) {
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const char* found = std::strchr(alphabet, c);
        if (c == '=' || found == nullptr)
            break;
        bits = (bits << 6) | static_cast<std::uint32_t>(found - alphabet);
        have += 6;
        if (have >= 8) {
            have -= 8;
            packed += static_cast<char>((bits >> have) & 0xFF);
        }
    }
    std::string raw(size, '\0');
    z_stream stream{};
    inflateInit2(&stream, 47);
    stream.next_in = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(raw.data());
    stream.avail_out = static_cast<uInt>(raw.size());
    const int status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return status == Z_STREAM_END ? raw : "(a section that does not inflate)";
}

PageInput page_of(int rows, int buses)
{
    PageInput in;
    in.title = "test";
    in.rows = rows;
    in.buses = buses;
    in.names.assign(static_cast<std::size_t>(buses), "b");
    in.x.assign(static_cast<std::size_t>(buses), 1.0);
    in.y.assign(static_cast<std::size_t>(buses), 1.0);
    in.times.assign(static_cast<std::size_t>(rows), "0");
    in.classes = {{{255, 0, 0}, "above 0.99"}, {{0, 255, 0}, "above the threshold"}, {{0, 0, 128}, "below it"}};
    in.colour_by = "sunlight";
    in.class_of.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(buses), 0);
    in.sun.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(buses), 1000);
    in.order.resize(static_cast<std::size_t>(buses));
    for (int k = 0; k < buses; ++k)
        in.order[static_cast<std::size_t>(k)] = k;
    in.parent.assign(static_cast<std::size_t>(buses), -1);
    in.clouds.resize(static_cast<std::size_t>(rows));
    return in;
}

// The page's numbers survive its byte code: a step of exactly -128 between a bus's rows, the byte
// that marks a whole number, is written whole; and each block of rows decodes on its own, its
// first row's classes not XORed with the block before's last.
TEST(Page, EveryStepSurvivesTheByteCodeAndEachBlockDecodesAlone)
{
    PageInput small = page_of(4, 2);
    small.sun = {500, 1000, 372, 1000, 245, 873, 372, 1000};  // bus 0 steps -128, -127, +127; bus 1 0, -127, +127
    const std::string page = page_text(small);
    const std::string sun = page_section(page, "sun-0");
    const std::string expected = std::string("\x80\xf4\x01\x00\x00", 5) + std::string("\x80\x74\x01\x00\x00", 5) +
                                 std::string(1, static_cast<char>(-127)) + std::string(1, static_cast<char>(127)) +
                                 std::string("\x80\xe8\x03\x00\x00\x00", 6) + std::string(1, static_cast<char>(-127)) +
                                 std::string(1, static_cast<char>(127));
    EXPECT_EQ(sun, expected);

    const int buses = 2'097'152;  // two rows a block: rows 0 and 1, then row 2
    ASSERT_EQ(page_block_rows(3, buses), 2);
    PageInput big = page_of(3, buses);
    for (std::size_t k = 0; k < static_cast<std::size_t>(buses); ++k) {
        big.class_of[k] = 1;
        big.class_of[static_cast<std::size_t>(buses) + k] = 2;
        big.class_of[2 * static_cast<std::size_t>(buses) + k] = static_cast<std::uint8_t>(k % 3);
    }
    const std::string two = page_text(big);
    const std::string first = page_section(two, "class-0"), second = page_section(two, "class-1");
    ASSERT_EQ(first.size(), 2U * buses);
    ASSERT_EQ(second.size(), static_cast<std::size_t>(buses));
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(first[static_cast<std::size_t>(buses)], 1 ^ 2);
    for (const std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{2}, static_cast<std::size_t>(buses) - 1})
        EXPECT_EQ(second[k], static_cast<char>(k % 3)) << k;
}

}  // namespace
}  // namespace umbrascope

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);  // fonts for the band and the labels
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

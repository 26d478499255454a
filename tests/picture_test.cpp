// Golden pictures: the bundled example run headless into a canvas at ratio 1, a few of its frames
// composed as the exporter composes them and compared pixel for pixel with small palette PNGs.
// Run with UPDATE_GOLDEN=1 to write them anew after an intended change, and look at them.

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "output/canvas.hpp"
#include "run/pass_driver.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;

constexpr std::array<int, 5> golden_passes{1, 3, 14, 60, 120};
const QColor face(240, 240, 240);

// The sixteen colours and the window face: everything a frame may hold.
QList<QRgb> frame_colours()
{
    QList<QRgb> colours;
    for (int i = 0; i < 16; ++i) {
        const Colour c = palette(i);
        colours.append(qRgb(c.r, c.g, c.b));
    }
    colours.append(face.rgb());
    return colours;
}

// Every pixel mapped to its index; nullopt when the frame holds a colour outside the table.
std::optional<QImage> indexed(const QImage& frame)
{
    const QList<QRgb> colours = frame_colours();
    std::map<QRgb, int> index;
    for (int i = 0; i < colours.size(); ++i)
        index.emplace(colours[i], i);
    const QImage rgb = frame.convertToFormat(QImage::Format_RGB32);
    QImage out(rgb.size(), QImage::Format_Indexed8);
    out.setColorTable(colours);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uchar* line = out.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x) {
            const auto found = index.find(row[x] | 0xFF000000U);
            if (found == index.end())
                return std::nullopt;
            line[x] = static_cast<uchar>(found->second);
        }
    }
    return out;
}

int differing_pixels(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    int n = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            n += x.pixel(col, row) != y.pixel(col, row) ? 1 : 0;
    return n;
}

TEST(GoldenPicture, ExampleFramesMatch)
{
    const fs::path source = UMBRASCOPE_SOURCE_DIR;
    const fs::path expected_folder = source / "tests/data/golden-pictures";
    const fs::path actual_folder = fs::path(UMBRASCOPE_BINARY_DIR) / "golden-pictures-actual";
    const bool update = std::getenv("UPDATE_GOLDEN") != nullptr;

    Trace trace(nullptr);
    RecordingControls controls(&trace);
    Canvas canvas(1.0);
    InputSlot input(source / "examples/ieee13");
    auto st = std::make_unique<RunState>();
    Pass pass{*st, input, controls, canvas};

    // The exporter's frame: the window background cropped to the plot frame, the canvas over it.
    const QImage background = window_background(1.0, face, Qt::black);
    const QRect crop = frame_pixels(1.0);
    std::map<int, QImage> frames;
    HeadlessEvents events;
    events.after_pass = [&](int ordinal) {
        if (std::find(golden_passes.begin(), golden_passes.end(), ordinal) == golden_passes.end())
            return;
        QImage frame = background.copy(crop);
        QPainter painter(&frame);
        painter.drawImage(QPoint(0, 0), canvas.image(), crop);
        painter.end();
        frames.emplace(ordinal, frame);
    };
    const HeadlessResult result = run_headless(pass, controls, trace, HeadlessOptions{}, events);
    input.close();
    ASSERT_EQ(result.failures, 0);
    ASSERT_GE(result.passes, golden_passes.back());

    for (const int ordinal : golden_passes) {
        const QString name = QStringLiteral("frame-%1.png").arg(ordinal, 4, 10, QLatin1Char('0'));
        const QImage& frame = frames.at(ordinal);
        const std::optional<QImage> actual = indexed(frame);
        ASSERT_TRUE(actual.has_value()) << "pass " << ordinal << " drew a colour outside the palette and the face";
        const QString expected_path = QString::fromStdString((expected_folder / name.toStdString()).string());
        if (update) {
            fs::create_directories(expected_folder);
            ASSERT_TRUE(actual->save(expected_path, "PNG", 0)) << "cannot write " << expected_path.toStdString();
            continue;
        }
        const QImage expected(expected_path);
        ASSERT_FALSE(expected.isNull()) << "no golden picture at " << expected_path.toStdString()
                                        << "; run with UPDATE_GOLDEN=1";
        const bool same_size = expected.size() == frame.size();
        const int differing = same_size ? differing_pixels(expected, frame) : -1;
        if (same_size && differing == 0)
            continue;
        fs::create_directories(actual_folder);
        const fs::path actual_path = actual_folder / name.toStdString();
        (void)actual->save(QString::fromStdString(actual_path.string()), "PNG");
        if (!same_size)
            ADD_FAILURE() << "pass " << ordinal << ": the frame is " << frame.width() << "x" << frame.height()
                          << ", the golden picture " << expected.width() << "x" << expected.height()
                          << "; actual frame written to " << actual_path;
        else
            ADD_FAILURE() << "pass " << ordinal << ": " << differing << " pixels differ from " << expected_path.toStdString()
                          << "; actual frame written to " << actual_path;
    }
    if (update)
        GTEST_SKIP() << "wrote the golden pictures in " << expected_folder;
}

}  // namespace
}  // namespace umbrascope

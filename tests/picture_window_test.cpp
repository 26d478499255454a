// The picture window, its timeline and the bus chart, driven on the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QTimer>
#include <QLineSeries>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QWheelEvent>
#include <fstream>

#include "app/bus_chart.hpp"
#include "app/frame_dialog.hpp"
#include "app/form1.hpp"
#include "run/pass_driver.hpp"
#include "app/picture_window.hpp"
#include "app/viewer.hpp"
#include "render/draw_network.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

namespace fs = std::filesystem;

const fs::path example = fs::path(UMBRASCOPE_SOURCE_DIR) / "examples/ieee13";

struct Windows {
    Windows()
    {
        form = std::make_unique<Form1>(example);
        viewer = std::make_unique<Viewer>(*form);
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        key(form->findChild<QPushButton*>("Coordinates_Command_Button"), Qt::Key_Space);
        key(form->findChild<QPushButton*>("Coordinates_Command_Button"), Qt::Key_V);  // the picture window
        window = viewer->picture_window();
        EXPECT_NE(window, nullptr);
        window->resize(700, 620);
        QApplication::setActiveWindow(window);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    }
    static void key(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(widget, static_cast<Qt::Key>(key), modifiers);
    }
    [[nodiscard]] QImage painted() const
    {
        window->picture()->repaint();
        return window->picture()->image();
    }
    // Where bus k is in the picture view, in its own coordinates.
    [[nodiscard]] QPoint bus(int k) const
    {
        const auto at = bus_marker_position(form->run_state(), k);
        const View view = window->picture()->view();
        const double ratio = window->picture()->devicePixelRatioF();
        return QPoint(static_cast<int>(std::lround(view.x(at->x) / ratio)), static_cast<int>(std::lround(view.y(at->y) / ratio)));
    }

    std::unique_ptr<Form1> form;
    std::unique_ptr<Viewer> viewer;  // goes before the form
    PictureWindow* window = nullptr;
};

// The picture of each row of a straight run, recorded as the exporter records it.
std::vector<Picture> straight_pictures()
{
    testing::PassRun run(example);
    std::vector<Picture> pictures;
    Picture picture;
    TeeSurface surface(picture, nullptr);
    Pass pass{run.st, run.input, run.controls, surface};
    do {
        run_pass(pass);
        pictures.push_back(picture);
    } while (run.controls.timer_enabled);
    return pictures;
}

// Keys and the timeline jump to any row: both titles say it, and the picture is the exporter's
// frame of that row at the window's size, pixel for pixel.
TEST(PictureWindow, AnyRowAtOnceIsTheStraightRunsFrame)
{
    const Windows w;
    const std::vector<Picture> straight = straight_pictures();
    ASSERT_EQ(straight.size(), 120U);
    const RunState& st = w.form->run_state();
    struct Step {
        int key;
        int row;
    };
    for (const Step step : {Step{Qt::Key_End, 120}, Step{Qt::Key_Home, 1}, Step{Qt::Key_Right, 2}, Step{Qt::Key_Right, 3},
                            Step{Qt::Key_PageDown, 13}, Step{Qt::Key_PageDown, 23}, Step{Qt::Key_PageUp, 13},
                            Step{Qt::Key_Left, 12}}) {
        Windows::key(w.window, step.key);
        const QString row = QStringLiteral("row %1 / 120").arg(step.row);
        EXPECT_TRUE(w.window->windowTitle().contains(row)) << w.window->windowTitle().toStdString();
        EXPECT_TRUE(w.form->windowTitle().contains(row)) << w.form->windowTitle().toStdString();
        EXPECT_TRUE(w.form->paused());
        const QImage shown = w.painted();
        FrameOptions options;
        options.annotate = true;
        options.labels = w.window->picture()->names_shown() > 0;  // the window names the buses once they fit
        options.width = shown.width();
        options.height = shown.height();
        const QImage expected = picture_frame(straight[static_cast<std::size_t>(step.row - 1)],
                                              FrameFacts{st, step.row, &w.viewer->sky()}, options);
        EXPECT_EQ(shown, expected) << "row " << step.row;
        EXPECT_EQ(w.window->timeline()->row(), step.row);
    }
    // The timeline: a press on it shows the row under the pointer.
    Timeline* timeline = w.window->timeline();
    QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(static_cast<int>(timeline->x_of(60)), timeline->height() / 2));
    EXPECT_TRUE(w.form->windowTitle().contains("row 60 / 120")) << w.form->windowTitle().toStdString();
    EXPECT_EQ(w.window->picture()->names_shown(), 16);  // the 13-node feeder's names all fit
    // P goes on from there.
    Windows::key(w.window, Qt::Key_P);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.form->windowTitle().contains("row 62 / 120"); }, 3000));
}

// The groove by voltage: a row's share of buses below range A hangs under the middle in the
// legend's below-B colour, a share above it stands over the middle in the above-B colour.
TEST(PictureWindow, TheGroovesColoursAreTheLegends)
{
    Timeline timeline(nullptr);
    timeline.resize(406, 52);
    timeline.set_split({0, 0, 1, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 1, 0, 0});
    const QImage image = timeline.grab().toImage();
    const int middle = 4 + 1 + (52 - 12 - 1) / 2;
    const auto at = [&](int row, int dy) { return image.pixelColor(static_cast<int>(timeline.x_of(row)), middle + dy); };
    const Colour below = class_colour(VoltageClass::below_b), above = class_colour(VoltageClass::above_b);
    EXPECT_EQ(at(3, 6), QColor(below.r, below.g, below.b));
    EXPECT_EQ(at(3, -6), QColor(255, 255, 255));
    EXPECT_EQ(at(7, -6), QColor(above.r, above.g, above.b));
    EXPECT_EQ(at(7, 6), QColor(255, 255, 255));
    EXPECT_EQ(at(5, 6), QColor(255, 255, 255));
}

void wheel(QWidget* widget, QPoint at, int notches)
{
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// The wheel zooms about the pointer, a drag pans, and F or a double click fits the network again,
// exactly as before.
TEST(PictureWindow, ZoomAtThePointerPanAndFitAgain)
{
    const Windows w;
    PictureView* view = w.window->picture();
    const QImage fitted = w.painted();
    const QPoint at = w.bus(7);
    const View before = view->view();
    wheel(view, at, 3);
    const View zoomed = view->view();
    EXPECT_FALSE(view->fitted());
    EXPECT_NEAR(zoomed.scale, before.scale * 1.953125, 1e-12);  // 1.25 cubed
    // What was under the pointer still is.
    EXPECT_NEAR(zoomed.plot_x(at.x()), before.plot_x(at.x()), 1e-6);
    EXPECT_NEAR(zoomed.plot_y(at.y()), before.plot_y(at.y()), 1e-6);
    EXPECT_NE(w.painted(), fitted);
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(300, 300));
    QTest::mouseMove(view, QPoint(340, 280));
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(340, 280));
    EXPECT_NEAR(view->view().shift_x - zoomed.shift_x, 40, 1e-9);
    EXPECT_NEAR(view->view().shift_y - zoomed.shift_y, -20, 1e-9);
    Windows::key(w.window, Qt::Key_F);
    EXPECT_TRUE(view->fitted());
    EXPECT_EQ(w.painted(), fitted);
    wheel(view, at, -2);
    QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(w.painted(), fitted);
}

// A click on a bus opens its chart; Ctrl+click adds another; a click in the chart shows that row.
TEST(BusChart, ClickABusForItsTimeSeries)
{
    const Windows w;
    PictureView* view = w.window->picture();
    QTest::mouseClick(view, Qt::LeftButton, {}, w.bus(7));
    BusChart* chart = w.viewer->chart();
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->windowTitle(), QStringLiteral("Umbrascope \u2014 bus 633 \u2014 sun intensity"));
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, w.bus(8));
    EXPECT_EQ(chart->buses(), (std::vector<int>{7, 8}));
    EXPECT_EQ(chart->windowTitle(), QStringLiteral("Umbrascope \u2014 buses 633, 634 \u2014 sun intensity"));
    // Bus 7's series is its column of the sun table against the time column.
    const RunState& st = w.form->run_state();
    const auto* series = qobject_cast<QLineSeries*>(chart->chart_view()->chart()->series().first());
    ASSERT_NE(series, nullptr);
    ASSERT_EQ(series->count(), 120);
    for (int row = 1; row <= 120; ++row) {
        const Integer r(static_cast<std::int16_t>(row));
        EXPECT_EQ(series->at(row - 1), QPointF(st.time_val(r).value(), st.sun_table(r, Integer(std::int16_t{7})).value()));
    }
    // The cursor follows the row shown; a click at a time shows the row of that time.
    Windows::key(w.window, Qt::Key_End);
    EXPECT_EQ(chart->cursor_time(), 1190);
    QChartView* chart_view = chart->chart_view();
    chart->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(chart));
    const QPointF at = chart_view->chart()->mapToPosition(QPointF(500, 0.7));
    QTest::mouseClick(chart_view->viewport(), Qt::LeftButton, {}, at.toPoint());
    EXPECT_TRUE(w.form->windowTitle().contains("row 51 / 120")) << w.form->windowTitle().toStdString();
    EXPECT_EQ(chart->cursor_time(), 500);
    // Saved as CSV: the time and each bus's cells, as the table holds them.
    testing::TempFolder folder;
    chart->save_csv(folder.path() / "chart.csv");
    std::ifstream csv(folder.path() / "chart.csv");
    std::vector<std::string> lines;
    for (std::string line; std::getline(csv, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 121U);
    EXPECT_EQ(lines[0], "time,633,634");
    EXPECT_EQ(lines[1], "0,1,1");
    chart->save_png(folder.path() / "chart.png");
    EXPECT_TRUE(QImage(QString::fromStdString((folder.path() / "chart.png").string())).width() > 100);
}

// Save picture offers the picture window's view as shown: the saved frame is the window's picture,
// zoomed as there. The dialog keeps its choices for the next use.
TEST(PictureWindow, SaveAsShownAndTheDialogRemembers)
{
    const Windows w;
    PictureView* view = w.window->picture();
    wheel(view, w.bus(7), 4);
    FrameOptions shown = view->frame_options();
    shown.shown = view->view();
    testing::TempFolder folder;
    const QString where = QString::fromStdString(folder.path().string());
    const QStringList types{".png", ".svg"};
    {
        FrameDialog dialog(w.form.get(), FramePurpose::picture, "Save", where, "picture", types, {"PNG", "SVG"}, shown);
        auto* size = dialog.findChildren<QComboBox*>().at(1);
        size->setCurrentIndex(size->findData(QStringLiteral("shown")));
        dialog.findChildren<QCheckBox*>().at(1)->setChecked(true);  // the names, as the window writes those that fit
        dialog.findChild<QLineEdit*>()->setText(where + "/zoomed.png");
        w.viewer->save_picture(dialog.path().toStdString(), dialog.options());
        dialog.remember();
    }
    const QImage saved(where + "/zoomed.png");
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32), w.painted().convertToFormat(QImage::Format_RGB32));

    FrameDialog again(w.form.get(), FramePurpose::picture, "Save", "/", "picture", types, {"PNG", "SVG"}, shown);
    EXPECT_EQ(again.findChildren<QComboBox*>().at(1)->currentData().toString(), "shown");
    EXPECT_TRUE(again.findChildren<QCheckBox*>().at(1)->isChecked());
    EXPECT_EQ(QFileInfo(again.path()).absolutePath(), QFileInfo(where).absoluteFilePath());
    // With the picture window closed, the remembered size is not offered: the classic one is.
    FrameDialog closed(w.form.get(), FramePurpose::picture, "Save", "/", "picture", types, {"PNG", "SVG"}, std::nullopt);
    EXPECT_EQ(closed.findChildren<QComboBox*>().at(1)->currentData().toString(), "classic");
}

// Ctrl+S in the chart window saves the chart, not the picture: one shortcut there, no ambiguity.
TEST(BusChart, CtrlSSavesTheChart)
{
    const Windows w;
    QTest::mouseClick(w.window->picture(), Qt::LeftButton, {}, w.bus(7));
    BusChart* chart = w.viewer->chart();
    ASSERT_NE(chart, nullptr);
    chart->show();
    QApplication::setActiveWindow(chart);
    ASSERT_TRUE(QTest::qWaitForWindowActive(chart));
    QString opened;
    QTimer::singleShot(200, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            opened = dialog->windowTitle();
            dialog->close();
        }
    });
    QTest::keyClick(chart, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !opened.isEmpty(); }, 3000));
    EXPECT_EQ(opened, "Save the chart");
}

}  // namespace
}  // namespace umbrascope

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    // Settings of this process's own: CTest runs each test in a process, side by side.
    QCoreApplication::setApplicationName(QCoreApplication::applicationName() +
                                         QStringLiteral("-%1").arg(QCoreApplication::applicationPid()));
    QSettings().clear();
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    const QString file = QSettings().fileName();
    QFile::remove(file);
    return status;
}

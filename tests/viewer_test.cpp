// The viewer around the window, driven by its shortcuts on the offscreen platform.

#include <gtest/gtest.h>

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QComboBox>
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <fstream>
#include <set>
#include <tuple>

#include "app/error_report.hpp"
#include "app/export_job.hpp"
#include "app/frame_dialog.hpp"
#include "app/form1.hpp"
#include "app/bus_chart.hpp"
#include "app/picture_window.hpp"
#include "app/profile_window.hpp"
#include "app/control_chart.hpp"
#include "app/viewer.hpp"
#include "core/hosting_bands.hpp"
#include "model/hosting_map.hpp"
#include "output/png_writer.hpp"
#include "render/draw_network.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::TempFolder;

struct Viewed {
    explicit Viewed(int rows = 6, const std::string& track = testing::track_file("1,1,0.3\n2,2,0.6\n3,2.5,1\n"),
                    const std::vector<std::pair<std::string, std::string>>& more = {})
    {
        folder.write(std::string(network_file_name), testing::network_file());
        folder.write(std::string(sun_table_file_name), testing::sun_file(rows));
        folder.write(std::string(track_file_name), track);
        for (const auto& [name, text] : more)
            folder.write(name, text);
        form = std::make_unique<Form1>(folder.path());
        viewer = std::make_unique<Viewer>(*form);
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    [[nodiscard]] QString count() const { return form->findChild<QLineEdit*>("Num_Pass_Textbox")->text(); }
    [[nodiscard]] QPushButton* button() const { return form->findChild<QPushButton*>("Coordinates_Command_Button"); }
    [[nodiscard]] QTimer* timer() const { return form->findChild<QTimer*>("Timer1"); }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const
    {
        QTest::keyClick(button(), static_cast<Qt::Key>(key), modifiers);  // the button keeps the focus
    }

    TempFolder folder;
    std::unique_ptr<Form1> form;
    std::unique_ptr<Viewer> viewer;  // goes before the form
};

TEST(Viewer, PauseHoldsTheTimerAgainstClicksAndStepsRunOnePass)
{
    const Viewed v;
    v.key(Qt::Key_Space);
    EXPECT_TRUE(v.timer()->isActive());
    v.key(Qt::Key_P);
    EXPECT_TRUE(v.form->paused());
    EXPECT_FALSE(v.timer()->isActive());
    EXPECT_TRUE(v.form->windowTitle().contains("paused"));
    QTest::qWait(250);  // no tick comes
    EXPECT_EQ(v.count(), "1");
    v.key(Qt::Key_Space);  // a click still runs one pass, and the animation stays paused
    EXPECT_EQ(v.count(), "2");
    EXPECT_FALSE(v.timer()->isActive());
    v.key(Qt::Key_N);
    EXPECT_EQ(v.count(), "3");
    EXPECT_EQ(v.form->run_state().i_time, 4);
    EXPECT_TRUE(v.form->windowTitle().contains("row 3 / 6"));
    v.key(Qt::Key_P);
    EXPECT_TRUE(v.timer()->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !v.timer()->isActive(); }, 3000));
    EXPECT_EQ(v.count(), "6");
    EXPECT_TRUE(v.form->windowTitle().contains("row 6 / 6 \u2014 finished")) << v.form->windowTitle().toStdString();
    v.key(Qt::Key_P);
    v.key(Qt::Key_N);  // the animation has ended: no tick would come, so no step either
    EXPECT_EQ(v.count(), "6");
    v.key(Qt::Key_Space);  // a click after the end fails, and the title keeps to the last row
    EXPECT_TRUE(v.form->windowTitle().contains("row 6 / 6 \u2014 finished")) << v.form->windowTitle().toStdString();
}

TEST(Viewer, RestartReadsTheFilesAgainFromAFreshState)
{
    const Viewed v;
    v.key(Qt::Key_Space);
    v.key(Qt::Key_P);
    v.folder.write(std::string(network_file_name), "1,A,0,0\n2,B,3,1\n3,C,1,1\nbus_connections\n1,2\n2,3\n");
    v.key(Qt::Key_F5);  // a fresh run whose first pass reads the edited file at once
    EXPECT_EQ(v.count(), "1");
    EXPECT_EQ(v.form->run_state().num_pass, 1);
    EXPECT_EQ(v.form->run_state().nbus, 3);
    EXPECT_EQ(v.form->findChild<QListWidget*>("Coordinates_Listbox")->count(), 6);
    EXPECT_EQ(v.form->findChild<QListWidget*>("Info_Listbox")->count(), 9);  // not added to the old echo
    EXPECT_FALSE(v.timer()->isActive());  // still paused
    EXPECT_TRUE(v.form->timer_enabled());
    // No error, but warnings: a network 3 units across (as the run before it had), and the sun
    // table's rows of two values for three buses.
    const QListWidget* entries = v.form->error_report()->entries();
    ASSERT_EQ(entries->count(), 2);
    EXPECT_EQ(entries->item(0)->text(),
              "warning: cloud_bus_coords_connections.txt: the network is 3 units across, drawn at 75 % of the frame "
              "(half a unit is added on each side): give coordinates in metres or feet  (\u00d72)");
    EXPECT_EQ(entries->item(1)->text(),
              "warning: cloud_sun_intensity_table.txt line 7: 2 values for 3 buses; the missing ones count as 0 "
              "(5 more rows like it, the last on line 12)");
    // The form's own restart goes back to the window as it opens.
    v.form->restart(v.folder.path(), false);
    EXPECT_EQ(v.count(), "Num_Pass_Textbox");
    EXPECT_EQ(v.form->findChild<QListWidget*>("Coordinates_Listbox")->count(), 0);
    EXPECT_EQ(v.form->run_state().num_pass, 0);
    EXPECT_EQ(v.form->canvas().image().pixel(500, 200), 0U);  // nothing drawn
}

TEST(Viewer, SpeedDoublesAndHalvesWithinItsBounds)
{
    const Viewed v;
    struct Case {
        int key;
        int interval;
        const char* title;
    };
    const Case cases[] = {{Qt::Key_Plus, 50, "speed 2\u00d7"}, {Qt::Key_Plus, 25, "speed 4\u00d7"}, {Qt::Key_Plus, 13, "speed 8\u00d7"},
                          {Qt::Key_Plus, 13, "speed 8\u00d7"}, {Qt::Key_0, 100, nullptr},          {Qt::Key_Minus, 200, "speed 1/2\u00d7"},
                          {Qt::Key_Minus, 400, "1/4\u00d7"},  {Qt::Key_Minus, 800, "1/8\u00d7"},   {Qt::Key_Minus, 800, "1/8\u00d7"},
                          {Qt::Key_0, 100, nullptr}};
    for (const Case& c : cases) {
        v.key(c.key);
        EXPECT_EQ(v.timer()->interval(), c.interval) << QTest::toString(QKeySequence(c.key));
        if (c.title != nullptr) {
            EXPECT_TRUE(v.form->windowTitle().contains(QString::fromUtf8(c.title))) << v.form->windowTitle().toStdString();
        } else {
            EXPECT_FALSE(v.form->windowTitle().contains("speed"));
        }
    }
}

TEST(Viewer, MenuHoldsEveryActionWithItsShortcut)
{
    const Viewed v;
    QStringList shortcuts;
    for (const QAction* action : v.viewer->menu()->actions())
        if (!action->isSeparator())
            shortcuts << action->shortcut().toString();
    EXPECT_EQ(shortcuts, (QStringList{"P", "N", "F5", "+", "-", "0", "Ctrl+O", "Ctrl+G", "Ctrl+S", "Ctrl+E", "V", "R", "", "K", "T",
                                      "Shift+T", "", "Ctrl+Q"}));
    // The colouring's submenu: the three colourings (the hosting capacity's hidden without a search),
    // and the keys of the voltages.
    QMenu* colouring = nullptr;
    for (const QAction* action : v.viewer->menu()->actions())
        if (action->menu() != nullptr)
            colouring = action->menu();
    ASSERT_NE(colouring, nullptr);
    QStringList keys;
    for (const QAction* action : colouring->actions())
        if (!action->isSeparator())
            keys << action->shortcut().toString();
    EXPECT_EQ(keys, (QStringList{"", "", "", "C", "Ctrl+Right", "Ctrl+Left", "W", ""}));
    // A folder without the study's tables offers none of it, and says why.
    EXPECT_FALSE(colouring->isEnabled());
    EXPECT_TRUE(colouring->title().contains("no voltages"));
    QAction* large = nullptr;
    for (QAction* action : v.viewer->menu()->actions())
        if (action->text().startsWith("Large inputs"))
            large = action;
    ASSERT_NE(large, nullptr);
    large->trigger();
    EXPECT_TRUE(v.form->large());
    EXPECT_TRUE(large->isChecked());
    EXPECT_TRUE(v.form->windowTitle().contains("large inputs"));
}

TEST(Viewer, DetailsOfTheBusAndCloudUnderTheMouse)
{
    const Viewed v;
    v.key(Qt::Key_P);
    v.key(Qt::Key_Space);
    EXPECT_TRUE(v.viewer->details_at(QPoint(5, 5)).isEmpty());
    const auto bus = bus_marker_position(v.form->run_state(), 2);
    ASSERT_TRUE(bus);
    EXPECT_EQ(v.viewer->details_at(QPoint(bus->x / 15 + 2, bus->y / 15 - 1)).toStdString(),
              "bus 2: number 2, B\nrow 1 (time 10): 0.5, at most the threshold 0.5\n(click for its chart)");
    v.key(Qt::Key_N);  // row 2 has a cloud at (2, 0.6)
    const RunState& st = v.form->run_state();
    const double x = (2.0 - st.xc_min) / st.c_span * (st.xp_max.value() - st.xp_min.value()) + st.xp_min.value();
    const double y = st.yp_max.value() - (0.6 - st.yc_min) / st.c_span * (st.yp_max.value() - st.yp_min.value());
    EXPECT_EQ(v.viewer->details_at(QPoint(static_cast<int>(x / 15), static_cast<int>(y / 15))), "cloud of step 2 at (2, 0.6)");
}

TEST(Viewer, SavedPicturesAreTheExportersFrames)
{
    const Viewed v;
    v.key(Qt::Key_P);
    v.key(Qt::Key_Space);
    v.key(Qt::Key_N);
    const std::filesystem::path png = v.folder.path() / "saved.png";
    v.viewer->save_picture(png, {});
    v.viewer->save_picture(v.folder.path() / "saved.svg", {true, true});
    EXPECT_TRUE(std::filesystem::file_size(v.folder.path() / "saved.svg") > 0);

    // The same two passes headless, at one pixel per 15 twips.
    testing::PassRun run(v.folder.path());
    Canvas canvas(1.0);
    Pass pass{run.st, run.input, run.controls, canvas};
    run_pass(pass);
    run_pass(pass);
    IndexedFrame frame;
    compose_indexed_frame(canvas, FrameFacts{run.st, 2}, {}, frame);
    QImage saved(QString::fromStdString(png.string()));
    QImage expected;
    const std::string bytes = encode_png(frame);
    ASSERT_TRUE(expected.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size())));
    EXPECT_EQ(saved, expected);
}

// Waits for an export to finish, however long a loaded machine takes: until the signal, with no
// deadline of its own (the test's time limit bounds it). The job emits it from its worker.
void wait_for(const QSignalSpy& finished)
{
    while (finished.isEmpty())
        QTest::qWait(10);
}

// Starts an export, listening for its end before the job starts, so that a job that ends at once
// (a first pass that fails) is heard too.
std::unique_ptr<QSignalSpy> export_heard(const Viewed& v, const std::filesystem::path& path, const FrameOptions& options)
{
    std::unique_ptr<QSignalSpy> spy;
    const QMetaObject::Connection listening =
        QObject::connect(v.viewer.get(), &Viewer::export_starting,
                         [&](ExportJob* job) { spy = std::make_unique<QSignalSpy>(job, &ExportJob::finished); });
    v.viewer->export_run(path, options);
    QObject::disconnect(listening);
    return spy;
}

TEST(Viewer, ExportRunsOnAWorkerWhileTheWindowAnimates)
{
    const Viewed v(40);
    v.key(Qt::Key_Space);
    const std::filesystem::path gif = v.folder.path() / "run.gif";
    const std::unique_ptr<QSignalSpy> heard = export_heard(v, gif, {true, false});
    ASSERT_TRUE(heard);
    QSignalSpy& done = *heard;
    wait_for(done);
    EXPECT_EQ(done.at(0).at(0).toString(), "");
    EXPECT_EQ(done.at(0).at(2).toInt(), 40);
    EXPECT_TRUE(std::filesystem::exists(gif));
    EXPECT_TRUE(v.timer()->isActive() || v.count().toInt() == 40);  // the window's own run went on

    // A cancelled export leaves no file.
    const std::filesystem::path cancelled = v.folder.path() / "cancelled.gif";
    const std::unique_ptr<QSignalSpy> cancel_heard = export_heard(v, cancelled, {});
    ASSERT_TRUE(cancel_heard);
    QSignalSpy& stopped = *cancel_heard;
    v.viewer->export_job()->cancel();
    wait_for(stopped);
    EXPECT_EQ(stopped.at(0).at(0).toString(), "cancelled");
    EXPECT_FALSE(std::filesystem::exists(cancelled));
}

// An export from the window takes large inputs when the window does: a network past 25 buses
// exports whole instead of failing. Under the classic limits its first pass fails, and a film
// already under the name stays as it was.
TEST(Viewer, AnExportTakesLargeInputsAsTheWindowDoes)
{
    const Viewed v(3);
    std::string network = "bus_coordinates\n";
    for (int bus = 1; bus <= 30; ++bus)
        network += std::to_string(bus) + ",b" + std::to_string(bus) + "," + std::to_string(bus % 6) + "," + std::to_string(bus / 6) + "\n";
    network += "bus_connections\n1,2\n";
    v.folder.write(std::string(network_file_name), network);
    v.folder.write(std::string(sun_table_file_name), testing::sun_file(3, 30));
    v.folder.write("run.gif", "a film made earlier");
    for (const bool large : {false, true}) {
        if (v.form->large() != large)
            v.viewer->toggle_large();
        const std::filesystem::path gif = v.folder.path() / "run.gif";
        const std::unique_ptr<QSignalSpy> heard = export_heard(v, gif, {});
        ASSERT_TRUE(heard);
        QSignalSpy& done = *heard;
        wait_for(done);
        const char* limits = large ? "large inputs" : "classic limits";
        EXPECT_EQ(done.at(0).at(0).toString(), "") << limits;
        EXPECT_EQ(done.at(0).at(3).toInt(), large ? 0 : 1) << limits;  // failures
        const QString kept = done.at(0).at(1).toString();
        EXPECT_EQ(kept.isEmpty(), large) << limits << ": " << kept.toStdString();
        if (!large) {  // which pass, why, and what was kept, in the window's words
            EXPECT_TRUE(kept.startsWith("pass 1: bounds error: ") && kept.contains("choose Large inputs") &&
                        kept.contains("run.gif was not made (the file there before is as it was)"))
                << kept.toStdString();
        }
        EXPECT_EQ(testing::read_file(gif) == "a film made earlier", !large) << limits;
    }
}

// A speed kept from an earlier start is taken within 1/8x to 8x, whatever the settings file says.
TEST(Viewer, AStoredSpeedIsKeptWithinItsRange)
{
    // Settings of their own, apart from the rest of this process's.
    const QString name = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(name + "-stored-speed");
    struct Case {
        int stored;
        int interval;
    };
    for (const Case c : {Case{10, 13}, Case{-10, 800}, Case{2, 25}, Case{0, 100}}) {
        QSettings().setValue("speed", c.stored);
        const Viewed v;
        EXPECT_EQ(v.viewer->timer_interval(), c.interval) << c.stored;
        EXPECT_EQ(v.timer()->interval(), c.interval) << c.stored;
    }
    QFile::remove(QSettings().fileName());
    QCoreApplication::setApplicationName(name);
}

TEST(Viewer, NothingIsDrawnOutsideTheWhiteFill)
{
    // Clouds at the network's corners reach well past the frame.
    const Viewed v(3, testing::track_file("1,0,0\n1,3,1\n2,0,1\n", "x,x,x,3,2,3,x,0,0.5,"));
    v.key(Qt::Key_Space);
    v.key(Qt::Key_Space);
    const QImage& picture = v.form->canvas().image();
    const QRect fill = frame_pixels(picture.devicePixelRatio());
    int outside = 0;
    int inside = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const bool drawn = qAlpha(picture.pixel(x, y)) != 0;
            (fill.contains(x, y) ? inside : outside) += drawn ? 1 : 0;
        }
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(inside, fill.width() * fill.height());
}

}  // namespace
}  // namespace umbrascope

namespace umbrascope {
namespace {

// The save and export dialogs take a typed extension in any letter case as the type; without one
// the type chosen adds its own. A picture saved as picture.SVG is an SVG drawing.
TEST(Viewer, TheTypedExtensionDecidesTheType)
{
    const QStringList animations{".gif", ".mp4", ".webm"};
    struct Case {
        const char* typed;
        const char* chosen;
        const char* path;
    };
    for (const Case c : {Case{"winfeeder.mp4", ".gif", "winfeeder.mp4"}, Case{"run.GIF", ".mp4", "run.GIF"},
                         Case{"run.WebM", ".gif", "run.WebM"}, Case{"run", ".mp4", "run.mp4"},
                         Case{"run.mp4.old", ".gif", "run.mp4.old.gif"}})
        EXPECT_EQ(with_extension(c.typed, c.chosen, animations), QString(c.path)) << c.typed;

    const Viewed v;
    FrameDialog dialog(v.form.get(), FramePurpose::run, "Export", "", "run", animations, {"GIF", "MP4", "WebM"},
                       std::nullopt);
    auto* path = dialog.findChild<QLineEdit*>();
    path->setText("winfeeder.MP4");
    EXPECT_EQ(dialog.path(), "winfeeder.MP4");
    EXPECT_EQ(dialog.findChild<QComboBox*>()->currentIndex(), 1);  // the type follows it

    v.key(Qt::Key_Space);
    const std::filesystem::path svg = v.folder.path() / "picture.SVG";
    v.viewer->save_picture(svg, {});
    std::ifstream saved(svg);
    std::string start(5, '\0');
    saved.read(start.data(), 5);
    EXPECT_EQ(start, "<?xml");
}

// The study's tables for the two buses over six rows: A in range A throughout; B low in range B
// in rows 2 and 5, below range B in row 3 (the worst), and without a voltage in row 6.
std::vector<std::pair<std::string, std::string>> voltage_tables()
{
    const std::string header = "V\nM\nB\nOne row every 1 second\nC\ntime,A,B\n";
    return {{std::string(lowest_voltage_file_name),
             header + "0,1.0000,0.9800\n1,1.0000,0.9400\n2,0.9900,0.9100\n3,1.0000,0.9900\n4,1.0000,0.9450\n5,1.0100,\n"},
            {std::string(highest_voltage_file_name),
             header + "0,1.0100,0.9900\n1,1.0100,0.9600\n2,1.0000,0.9300\n3,1.0100,1.0000\n4,1.0100,0.9600\n5,1.0200,\n"},
            {std::string(voltage_report_file_name), "bus,distance_km,lowest\nA,0,\nB,1.5,\n"}};
}

// The study's regulators and capacitors: their symbols over the main window's picture, their
// state in the hover, T and Shift+T to the rows where one acts, K to hide them (kept for the
// next start), and a click on one opening its chart of the run, the clear sky's dashed.
TEST(Viewer, RegulatorsAndCapacitorsTheirSymbolsKeysAndChart)
{
    QSettings().remove("show_controls");
    const std::string table = "Controls\nMade by a test\nColumns\nOne row every 1 second\n"
                              "kind,regcontrol,capcontrol,regcontrol,capcontrol\nname,Reg,Cap,Reg,Cap\n"
                              "element,Transformer.Reg,Capacitor.C,Transformer.Reg,Capacitor.C\n"
                              "drawn_bus,A,B,A,B\nsky,sky,sky,clear,clear\nsettle,2,1,2,1\n"
                              "0,2,1,2,1\n1,3,1,2,1\n2,3,1,2,1\n3,3,0,2,1\n4,3,0,2,1\n5,1,0,2,1\n";
    const Viewed v(6, testing::track_file("1,1,0.3\n2,2,0.6\n3,2.5,1\n"), {{std::string(controls_table_name), table}});
    v.key(Qt::Key_P);
    v.key(Qt::Key_Space);
    ASSERT_NE(v.viewer->controls(), nullptr);
    EXPECT_EQ(v.viewer->shown_controls(), v.viewer->controls());
    // The rows where one acts: 2 (the regulator), 4 (the capacitor) and 6 (the regulator again).
    for (const int row : {2, 4, 6}) {
        v.key(Qt::Key_T);
        EXPECT_EQ(v.viewer->row_shown(), row);
    }
    v.key(Qt::Key_T, Qt::ShiftModifier);
    EXPECT_EQ(v.viewer->row_shown(), 4);
    // Its symbol stands above bus A's disc; the hover tells its state and the clear sky's.
    v.key(Qt::Key_Home);
    v.viewer->jump_to(2);
    const auto a = bus_marker_position(v.form->run_state(), 1);
    ASSERT_TRUE(a);
    const QPointF symbol(a->x / 15.0, a->y / 15.0 - 15);
    const QString said = v.viewer->details_at(symbol.toPoint());
    EXPECT_TRUE(said.contains("regulator Reg (Transformer.Reg) at bus A")) << said.toStdString();
    EXPECT_TRUE(said.contains("tap 3, from 2 in the row before: it acts")) << said.toStdString();
    EXPECT_TRUE(said.contains("under a clear sky: tap 2")) << said.toStdString();
    // The main window draws the symbol, magenta in a row where it acts.
    const QImage shown = v.form->grab().toImage();
    int magenta = 0;
    for (int y = static_cast<int>(symbol.y()) - 9; y <= static_cast<int>(symbol.y()) + 9; ++y)
        for (int x = static_cast<int>(symbol.x()) - 9; x <= static_cast<int>(symbol.x()) + 9; ++x)
            magenta += (shown.pixel(x, y) & 0xFFFFFFU) == 0xFF00FFU ? 1 : 0;
    EXPECT_GT(magenta, 10);
    // A click on it opens its chart: the taps under this sky and, dashed, under a clear sky.
    QTest::mouseClick(v.form.get(), Qt::LeftButton, Qt::NoModifier, symbol.toPoint());
    ControlChart* chart = v.form->findChild<ControlChart*>("ControlChart");
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->control(), 0);
    const QList<QAbstractSeries*> series = chart->chart_view()->chart()->series();
    ASSERT_GE(series.size(), 2);
    EXPECT_EQ(static_cast<QLineSeries*>(series[1])->pen().style(), Qt::DashLine);
    // K hides them, and the choice is kept.
    v.key(Qt::Key_K);
    EXPECT_EQ(v.viewer->shown_controls(), nullptr);
    EXPECT_FALSE(QSettings().value("show_controls").toBool());
    EXPECT_TRUE(v.viewer->details_at(symbol.toPoint()).isEmpty() || !v.viewer->details_at(symbol.toPoint()).contains("Reg"));
    v.key(Qt::Key_K);
}

TEST(Viewer, BusesByVoltageTheirLegendJumpsAndChart)
{
    QSettings().remove("colour_by");
    const Viewed v(6, testing::track_file("1,1,0.3\n2,2,0.6\n3,2.5,1\n"), voltage_tables());
    v.key(Qt::Key_P);
    v.key(Qt::Key_Space);
    ASSERT_NE(v.viewer->voltages(), nullptr) << v.viewer->voltages_problem().toStdString();
    EXPECT_FALSE(v.viewer->by_voltage());  // sunlight until chosen
    const auto disc_colours = [&] {
        std::set<std::tuple<int, int, int>> colours;
        for (const Shape& shape : v.viewer->picture().shapes())
            if (shape.role == Role::bus && shape.c != 50)
                colours.insert({shape.colour.r, shape.colour.g, shape.colour.b});
        return colours;
    };
    const auto rgb = [](Colour c) { return std::tuple<int, int, int>{c.r, c.g, c.b}; };
    EXPECT_EQ(disc_colours(), (std::set<std::tuple<int, int, int>>{rgb(palette(1))}));  // both at most the threshold

    // C switches: the row shown is drawn again in the classes' colours, and the choice is kept.
    v.key(Qt::Key_C);
    EXPECT_TRUE(v.viewer->by_voltage());
    EXPECT_EQ(QSettings().value("colour_by").toString(), "voltage");
    EXPECT_EQ(disc_colours(), (std::set<std::tuple<int, int, int>>{rgb(class_colour(VoltageClass::range_a))}));
    EXPECT_EQ(v.viewer->row_shown(), 1);
    EXPECT_TRUE(v.viewer->details_at(QPoint(-100, -100)).isEmpty());
    const auto bus = bus_marker_position(v.form->run_state(), 2);
    ASSERT_TRUE(bus);
    EXPECT_TRUE(v.viewer->details_at(QPoint(bus->x / 15, bus->y / 15))
                    .contains("voltage: lowest 0.9800, highest 0.9900 pu (range A)"));

    // The jumps: to the first row of the next and the previous run of rows where a bus leaves
    // range A (rows 2 and 3, then 5), and to the worst row; each rings the row's worst bus and
    // names it in the title.
    v.key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(v.viewer->row_shown(), 2);
    EXPECT_EQ(disc_colours(), (std::set<std::tuple<int, int, int>>{rgb(class_colour(VoltageClass::range_a)),
                                                                    rgb(class_colour(VoltageClass::low_in_b))}));
    EXPECT_EQ(v.viewer->ringed_bus(), 2);
    EXPECT_TRUE(v.form->windowTitle().contains("worst bus B, 0.9400 pu")) << v.form->windowTitle().toStdString();
    v.key(Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(v.viewer->row_shown(), 5);
    v.key(Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(v.viewer->row_shown(), 2);
    v.key(Qt::Key_Home);  // nothing in the main window; the worst row from anywhere
    v.key(Qt::Key_W);
    EXPECT_EQ(v.viewer->row_shown(), 3);
    EXPECT_TRUE(v.form->windowTitle().contains("worst bus B, 0.9100 pu")) << v.form->windowTitle().toStdString();
    EXPECT_EQ(disc_colours(), (std::set<std::tuple<int, int, int>>{rgb(class_colour(VoltageClass::range_a)),
                                                                    rgb(class_colour(VoltageClass::below_b))}));
    EXPECT_TRUE(v.form->paused());

    // The picture window's band names the voltage classes and is taller; its groove is the share
    // outside range A.
    v.key(Qt::Key_V);
    PictureWindow* window = v.viewer->picture_window();
    ASSERT_NE(window, nullptr);
    window->refresh();
    EXPECT_EQ(window->picture()->band_height(),
              static_cast<int>(std::lround(band_pixels(window->picture()->frame_options()) / window->devicePixelRatioF())));
    EXPECT_TRUE(window->picture()->frame_options().voltage_band());
    EXPECT_TRUE(window->timeline()->toolTip().contains("below range A in blue"));
    EXPECT_TRUE(window->timeline()->split());
    v.key(Qt::Key_C);  // back to sunlight: the sunlight band and groove
    window->refresh();
    EXPECT_FALSE(window->picture()->frame_options().voltage_band());
    EXPECT_TRUE(window->timeline()->toolTip().contains("shaded"));
    v.key(Qt::Key_C);

    // The chart carries each bus's lowest and highest on a voltage axis, and its CSV too.
    v.viewer->show_chart(2, false);
    ASSERT_NE(v.viewer->chart(), nullptr);
    const std::filesystem::path csv = v.folder.path() / "chart.csv";
    v.viewer->chart()->save_csv(csv);
    const std::vector<std::string> lines = testing::split_lines(testing::read_file(csv));
    ASSERT_EQ(lines.size(), 7U);
    EXPECT_EQ(lines[0], "time,B,B lowest pu,B highest pu");
    EXPECT_EQ(lines[3].substr(lines[3].find(',', lines[3].find(',') + 1)), ",0.9100,0.9300");
    EXPECT_EQ(lines[6].substr(lines[6].find(',', lines[6].find(',') + 1)), ",,");

    // The profile: R opens it; a click on a bus's point rings the bus and opens its chart.
    v.key(Qt::Key_R);
    ProfileWindow* profile = v.viewer->profile_window();
    ASSERT_NE(profile, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(profile));
    const ProfilePlot plot = profile->view()->plot();
    const double ratio = profile->view()->devicePixelRatioF();
    const QPointF point(plot.x(1.5) / ratio, plot.y(0.91) / ratio);
    QTest::mouseClick(profile->view(), Qt::LeftButton, Qt::NoModifier, point.toPoint());
    EXPECT_EQ(v.viewer->marked_bus(), 2);
    EXPECT_EQ(v.viewer->chart()->buses(), std::vector<int>{2});
    EXPECT_TRUE(profile->view()->details_at(point).contains("bus B: 1.500 km from the source"));
}

// A sweep's search by bus over the run's sky: the discs in their bands, C cycling to them and back,
// and a bus's details its row of locational_hc.csv.
TEST(Viewer, TheHostingCapacityColoursTheBusesAndCCyclesToIt)
{
    QSettings().remove("colour_by");
    TempFolder sky;
    sky.write(std::string(network_file_name), testing::network_file());
    sky.write(std::string(sun_table_file_name), testing::sun_file(6));
    sky.write(std::string(track_file_name), testing::track_file("1,1,0.3\n2,2,0.6\n3,2.5,1\n"));
    TempFolder sweep;
    sweep.write("locate.txt", "max_kw = 1000\nresolution_kw = 50\n");
    sweep.write("skies.csv", "sky,folder,loadshapes,sky_fingerprint,loadshapes_fingerprint\nsky," + sky.path().string() +
                                 ",x,y,z\n");
    sweep.write("locate_buses.csv", "bus,drawn_bus,distance_km\na,A,0\nb,B,1\n");
    sweep.write("locational_hc.csv", "bus,kv,phases,distance_km,hc_kw,clear_hc_kw,criterion,where,row,time,value,probes,"
                                     "bracket_kw\na,12.47,3,0,900,950,max_loading_pct,Line.ab,2,00:00:20,104.1,7,900-950\n"
                                     "b,12.47,3,1,,,,,,,,4,\n");
    ASSERT_EQ(hosting_sky(sweep.path()), sky.path());
    Form1 form(sky.path());
    Viewer viewer(form, {}, 1, sweep.path());
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(form.findChild<QPushButton*>("Coordinates_Command_Button"), Qt::Key_P);
    QTest::keyClick(form.findChild<QPushButton*>("Coordinates_Command_Button"), Qt::Key_Space);
    QApplication::processEvents();  // the row drawn again once the answers are bound to the run's buses
    const auto disc_of = [&](int bus) {
        const auto at = bus_marker_position(form.run_state(), bus);
        for (const Shape& shape : viewer.picture().shapes())
            if (shape.role == Role::bus && shape.c != 50 && at && std::fabs(double{shape.a} - static_cast<double>(at->x)) < 1 &&
                std::fabs(double{shape.b} - static_cast<double>(at->y)) < 1)
                return std::tuple<int, int, int>{shape.colour.r, shape.colour.g, shape.colour.b};
        return std::tuple<int, int, int>{-1, -1, -1};
    };
    const auto band = [](const BandColour& c) { return std::tuple<int, int, int>{c.r, c.g, c.b}; };
    // Opened for the search's answers, they are shown first: A at 900 of 1,000 kW, B without one.
    EXPECT_TRUE(viewer.by_hosting());
    EXPECT_EQ(disc_of(1), band(hosting_bands[4]));
    EXPECT_EQ(disc_of(2), band(no_hosting_answer));
    // The bus with an answer above the one without, so that a few searched among many are seen.
    const HostingMap* map = dynamic_cast<const HostingMap*>(form.colouring());
    ASSERT_NE(map, nullptr);
    EXPECT_TRUE(map->drawn_above(1, 1));
    EXPECT_FALSE(map->drawn_above(1, 2));
    const auto bus = bus_marker_position(form.run_state(), 1);
    ASSERT_TRUE(bus);
    const QString details = viewer.details_at(QPoint(bus->x / 15, bus->y / 15));
    EXPECT_TRUE(details.contains("hc_kw = 900") && details.contains("where = Line.ab")) << details.toStdString();
    // C: to the sunlight (the sky has no voltages), then back.
    QTest::keyClick(form.findChild<QPushButton*>("Coordinates_Command_Button"), Qt::Key_C);
    EXPECT_FALSE(viewer.by_hosting());
    EXPECT_EQ(disc_of(1), (std::tuple<int, int, int>{palette(1).r, palette(1).g, palette(1).b}));
    QTest::keyClick(form.findChild<QPushButton*>("Coordinates_Command_Button"), Qt::Key_C);
    EXPECT_TRUE(viewer.by_hosting());
    EXPECT_EQ(disc_of(1), band(hosting_bands[4]));
}

TEST(Viewer, TablesOfAnotherSkyAreNotShownAndSaySo)
{
    std::vector<std::pair<std::string, std::string>> tables = voltage_tables();
    for (auto& [name, text] : tables)
        if (name != std::string(voltage_report_file_name))
            text = text.substr(0, text.rfind("5,"));  // five rows for a sky of six
    QSettings().setValue("colour_by", "voltage");
    const Viewed v(6, testing::track_file("1,1,0.3\n2,2,0.6\n3,2.5,1\n"), tables);
    v.key(Qt::Key_P);
    v.key(Qt::Key_Space);
    EXPECT_EQ(v.viewer->voltages(), nullptr);
    EXPECT_FALSE(v.viewer->by_voltage());
    EXPECT_TRUE(v.viewer->voltages_problem().contains("has 5 rows where the sun table has 6"))
        << v.viewer->voltages_problem().toStdString();
    QTest::qWait(50);  // the first pass drawn again by the sunlight classes
    for (const Shape& shape : v.viewer->picture().shapes()) {
        if (shape.role == Role::bus) {
            EXPECT_EQ(shape.colour, palette(1));
        }
    }
    QSettings().remove("colour_by");
}

// A sky longer than a run is shown a part at a time, its rows numbered as the whole sky's; a part
// near the end starts early enough to hold a run's worth, and goes with the run that showed it.
TEST(Viewer, ASkyLongerThanARunIsShownAPartAtATime)
{
    const TempFolder folder;
    folder.write(std::string(network_file_name), testing::network_file());
    folder.write(std::string(sun_table_file_name), testing::sun_file(32800));
    folder.write(std::string(track_file_name), testing::track_file("1,1,0.3\n32790,2,0.6\n"));
    // As many rows as a run holds is one run, no part.
    const TempFolder whole;
    whole.write(std::string(network_file_name), testing::network_file());
    whole.write(std::string(sun_table_file_name), testing::sun_file(32766));
    whole.write(std::string(track_file_name), testing::track_file("1,1,0.3\n"));
    Form1 one_run(whole.path(), true);
    {
        const Viewer viewer(one_run, {}, 1);
        EXPECT_EQ(viewer.part(), nullptr);
    }
    Form1 form(folder.path(), true);
    {
        Viewer viewer(form, {}, 1);
        ASSERT_NE(viewer.part(), nullptr);
        EXPECT_EQ(viewer.part()->first(), 1);
        EXPECT_EQ(viewer.part()->last(), 32766);
        EXPECT_EQ(viewer.folder(), folder.path());
        form.click();
        EXPECT_TRUE(form.windowTitle().contains(QString::fromUtf8("row 1 / 32800 (rows 1\u201332766 shown")))
            << form.windowTitle().toStdString();
        const std::filesystem::path first_part = viewer.part()->path();
        viewer.show_rows_from(32790);
        EXPECT_FALSE(std::filesystem::exists(first_part)) << "the part shown before goes";
        ASSERT_NE(viewer.part(), nullptr);
        EXPECT_EQ(viewer.part()->first(), 35);
        EXPECT_EQ(viewer.row_shown(), 32790 - 34);
        EXPECT_TRUE(form.windowTitle().contains(QString::fromUtf8("row 32790 / 32800 (rows 35\u201332800 shown")))
            << form.windowTitle().toStdString();
        // Row 32795 (line 32801) made no number: the part's failed pass names the folder's own line.
        std::string sun = testing::sun_file(32800);
        sun.replace(sun.find("327950,0.5"), 10, "327950,0.x");
        folder.write(std::string(sun_table_file_name), sun);
        viewer.restart();
        const QListWidget* errors = form.error_report()->entries();
        ASSERT_GT(errors->count(), 0);
        EXPECT_TRUE(errors->item(errors->count() - 1)->text().contains("cloud_sun_intensity_table.txt line 32801"))
            << errors->item(errors->count() - 1)->text().toStdString();
        const std::filesystem::path part = viewer.part()->path();
        viewer.toggle_large();  // the classic limits: the whole sky, which stops at its 2001st row
        EXPECT_EQ(viewer.part(), nullptr);
        EXPECT_FALSE(std::filesystem::exists(part));
    }
    // Opened from a row near the end (umbrascope --large --from-row 32790): the part starts early
    // enough to be whole, and the first pass goes on to the row asked for; from a row where a part
    // can start, it starts there.
    folder.write(std::string(sun_table_file_name), testing::sun_file(32800));
    for (const long asked : {32790L, 20L}) {
        Form1 again(folder.path(), true);
        const Viewer viewer(again, {}, asked);
        ASSERT_NE(viewer.part(), nullptr);
        EXPECT_EQ(viewer.part()->first(), std::min(asked, 35L)) << asked;
        again.click();
        EXPECT_EQ(viewer.row_shown(), asked - viewer.part()->first() + 1) << asked;
        again.click();
        EXPECT_EQ(viewer.row_shown(), asked - viewer.part()->first() + 2) << asked << ": the run goes on from there";
    }
}

}  // namespace
}  // namespace umbrascope

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);  // settings of their own, not the user's
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

// Drives the real window on the offscreen platform.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/error_report.hpp"
#include "app/form1.hpp"
#include "test_support.hpp"

namespace umbrascope {
namespace {

using testing::TempFolder;

struct Window {
    explicit Window(int rows = 3, const std::string& track = testing::track_file())
    {
        folder.write(std::string(network_file_name), testing::network_file());
        folder.write(std::string(sun_table_file_name), testing::sun_file(rows));
        folder.write(std::string(track_file_name), track);
        form = std::make_unique<Form1>(folder.path());
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    template <class W>
    W* child(const char* name) const
    {
        return form->findChild<W*>(QString::fromLatin1(name));
    }
    [[nodiscard]] QString count() const { return child<QLineEdit>("Num_Pass_Textbox")->text(); }
    [[nodiscard]] QPushButton* button() const { return child<QPushButton>("Coordinates_Command_Button"); }
    [[nodiscard]] QTimer* timer() const { return child<QTimer>("Timer1"); }

    TempFolder folder;
    std::unique_ptr<Form1> form;
};

TEST(Form1, LayoutInTwipsAtFifteenPerPixel)
{
    const Window w;
    EXPECT_EQ(w.form->objectName(), "Form1");
    EXPECT_EQ(w.form->size(), QSize(794, 617));
    EXPECT_TRUE(w.form->windowTitle().startsWith("Umbrascope, "));
    struct Case {
        const char* name;
        QRect pixels;
    };
    const Case cases[] = {
        {"Num_Pass_Textbox", {16, 576, 105, 25}},
        {"Info_Listbox", {176, 520, 601, 82}},
        {"Coordinates_Repeated_Listbox", {176, 56, 129, 446}},
        {"Coordinates_Listbox", {8, 56, 161, 511}},
        {"Coordinates_Command_Button", {8, 8, 145, 41}},
    };
    QStringList order;
    for (const QObject* child : w.form->children())
        if (!child->objectName().isEmpty() && child->objectName() != "ErrorReport")
            order << child->objectName();
    EXPECT_EQ(order, (QStringList{"Num_Pass_Textbox", "Timer1", "Info_Listbox", "Coordinates_Repeated_Listbox",
                                  "Coordinates_Listbox", "Coordinates_Command_Button", "Line_Bottom", "Line_Right",
                                  "Line_Top", "Line_Left"}));
    for (const Case& c : cases) {
        const QWidget* widget = w.child<QWidget>(c.name);
        ASSERT_NE(widget, nullptr) << c.name;
        EXPECT_EQ(widget->geometry(), c.pixels) << c.name;
        EXPECT_EQ(widget->accessibleName(), c.name);
    }
    const QObject* left = w.child<QObject>("Line_Left");
    EXPECT_EQ(left->property("X1").toFloat(), 4680.0F);
    EXPECT_EQ(left->property("Y2").toFloat(), 7560.0F);
    EXPECT_EQ(w.child<QObject>("Line_Right")->property("X2").toFloat(), 11520.0F);

    // Resizing moves and scales nothing.
    w.form->resize(300, 200);
    w.form->resize(1400, 1000);
    for (const Case& c : cases)
        EXPECT_EQ(w.child<QWidget>(c.name)->geometry(), c.pixels) << c.name;
}

TEST(Form1, InitialState)
{
    const Window w;
    EXPECT_EQ(w.count(), "Num_Pass_Textbox");
    for (const char* list : {"Coordinates_Listbox", "Coordinates_Repeated_Listbox", "Info_Listbox"}) {
        EXPECT_EQ(w.child<QListWidget>(list)->count(), 0) << list;
        EXPECT_FALSE(w.child<QListWidget>(list)->isSortingEnabled()) << list;
    }
    EXPECT_FALSE(w.timer()->isActive());
    EXPECT_EQ(w.timer()->interval(), 100);
    EXPECT_EQ(w.timer()->timerType(), Qt::PreciseTimer);
    EXPECT_EQ(w.button()->text(), "READ COORDINATES");
    EXPECT_TRUE(w.button()->font().bold());
    EXPECT_EQ(w.button()->font().weight(), QFont::Bold);
    EXPECT_DOUBLE_EQ(w.button()->font().pointSizeF(), 8.25);
    EXPECT_EQ(QApplication::focusWidget(), w.button());
}

TEST(Form1, TabOrder)
{
    const Window w;
    const char* expected[] = {"Coordinates_Listbox", "Coordinates_Repeated_Listbox", "Info_Listbox", "Num_Pass_Textbox",
                              "Coordinates_Command_Button"};
    for (const char* name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        EXPECT_EQ(QApplication::focusWidget()->objectName().toStdString(), name);
    }
}

TEST(Form1, ClicksAndKeysRunPasses)
{
    const Window w(5);
    QTest::keyClick(w.button(), Qt::Key_Space);
    EXPECT_EQ(w.count(), "1");
    EXPECT_TRUE(w.timer()->isActive());
    EXPECT_EQ(w.child<QListWidget>("Coordinates_Listbox")->count(), 5);
    EXPECT_EQ(w.child<QListWidget>("Coordinates_Repeated_Listbox")->count(), 3 + 4);
    EXPECT_EQ(w.child<QListWidget>("Info_Listbox")->count(), 9);
    QTest::keyClick(w.button(), Qt::Key_Return);
    EXPECT_EQ(w.count(), "2");
    QTest::mouseClick(w.button(), Qt::LeftButton);
    EXPECT_EQ(w.count(), "3");
    EXPECT_EQ(w.form->run_state().i_time, 4);
    // The timer draws the remaining rows by itself, then stops.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.timer()->isActive(); }, 2000));
    EXPECT_EQ(w.count(), "5");
    EXPECT_FALSE(w.form->error_report()->isVisible());
}

TEST(Form1, ATickThatFailsIsReportedAndTheAnimationGoesOn)
{
    // Pass 2 fails on the unreadable record of step 2; the next tick draws row 2 after all.
    const Window w(4, testing::track_file("1,0,0\n2,0,0\n2,x\n2,0,0\n"));
    QTest::mouseClick(w.button(), Qt::LeftButton);
    ASSERT_EQ(w.count(), "1");
    ASSERT_TRUE(w.timer()->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.timer()->isActive(); }, 2000));
    EXPECT_EQ(w.count(), "5");  // four rows and one failed pass
    const ErrorReport* report = w.form->error_report();
    EXPECT_TRUE(report->isVisible());
    // The passes after it went well: the error stays, greyed, and the title says so.
    EXPECT_EQ(report->windowTitle(), "Umbrascope errors \u2014 the last pass went well");
    ASSERT_EQ(report->entries()->count(), 1);
    EXPECT_EQ(report->entries()->item(0)->text(),
              "argument error: cloud_centers_plot.txt line 7, field 2: \"2,x\" has no \",\" before the cloud's y");
    EXPECT_EQ(report->entries()->item(0)->foreground().color(), QColor(Qt::gray));
    EXPECT_TRUE(report->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_EQ(w.form->focusWidget(), w.button());
}

TEST(Form1, IdenticalReportsInARowShowOnceWithACount)
{
    Window w;
    std::filesystem::remove(w.folder.path() / std::string(network_file_name));
    for (int click = 0; click < 4; ++click)
        QTest::mouseClick(w.button(), Qt::LeftButton);
    EXPECT_EQ(w.count(), "4");
    const QListWidget* entries = w.form->error_report()->entries();
    ASSERT_EQ(entries->count(), 2);  // the missing network file, then three clicks without a track file
    EXPECT_TRUE(entries->item(0)->text().startsWith("file error: cannot open cloud_bus_coords_connections.txt"));
    EXPECT_TRUE(entries->item(1)->text().endsWith(QStringLiteral("  (\u00d73)")));
    EXPECT_FALSE(w.timer()->isActive());
}

TEST(Form1, ThePictureSurvivesARepaint)
{
    const Window w;
    const auto pixel = [&](int x, int y) { return w.form->grab().toImage().pixelColor(x, y); };
    EXPECT_NE(pixel(312, 300), QColor(Qt::white));  // the frame's left line, before any picture
    QTest::mouseClick(w.button(), Qt::LeftButton);
    w.timer()->stop();
    EXPECT_EQ(pixel(312, 300), QColor(Qt::white));  // the every-pass fill covers the frame line
    EXPECT_EQ(pixel(500, 100), QColor(Qt::white));
    w.form->hide();
    w.form->showMinimized();
    w.form->showNormal();
    w.form->repaint();
    EXPECT_EQ(pixel(500, 100), QColor(Qt::white));
}

}  // namespace
}  // namespace umbrascope

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

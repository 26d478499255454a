#pragma once
// The viewer around Form1: pause, step, restart, open another folder, speed, save the picture,
// export the run, and details of a bus or cloud under the mouse, all through a context menu and
// keyboard shortcuts, so that the window's own layout and controls stay as they are. The state
// (folder, paused, speed, row) shows in the window title.

#include <QDeadlineTimer>
#include <QObject>
#include <QPoint>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>

#include "output/canvas.hpp"
#include "output/frame_picture.hpp"
#include "render/picture.hpp"

class QAction;
class QMenu;
class QSettings;

namespace umbrascope {

class Form1;
class ExportJob;
class PictureWindow;
class BusChart;
struct View;

class Viewer : public QObject {
    Q_OBJECT

public:
    // `note` follows the folder in the title (e.g. that it is the bundled example). The viewer
    // must go before the form: it detaches itself from the form and waits for an export.
    Viewer(Form1& form, QString note = {});
    ~Viewer() override;

    void toggle_pause();
    void step();  // one pass as a tick would run it; pauses first
    void restart();  // a fresh run in the same folder, its first pass at once
    void open_folder(const std::filesystem::path& folder);  // a fresh run there, its first pass at once
    void faster();
    void slower();
    void normal_speed();
    void toggle_large();  // classic limits or large inputs; restarts the run
    void quit();  // closes the window, and with it the program
    [[nodiscard]] int speed_exponent() const { return speed_; }  // the speed is 2^exponent
    [[nodiscard]] bool paused() const;
    [[nodiscard]] QString row_text() const;  // "row R / N", or why there is none; empty before the first pass
    [[nodiscard]] int timer_interval() const;

    // The picture shown now, as the exporter's frame of this pass. Throws WriteError.
    void save_picture(const std::filesystem::path& path, const FrameOptions& options) const;
    // The whole run, from the files as they are now, on a worker thread; the window goes on.
    void export_run(const std::filesystem::path& path, const FrameOptions& options, bool keep_going = false);
    [[nodiscard]] ExportJob* export_job() const { return job_.get(); }

    [[nodiscard]] QString details_at(QPoint pixel) const;  // Form1's tooltip text, empty for none
    // The tooltip text, or the bus index, at a device pixel of a picture shown through `view`,
    // within `reach` pixels of a bus's centre (3 of a cloud's).
    [[nodiscard]] QString details_near(const View& view, QPointF pixel, double reach) const;
    [[nodiscard]] int bus_near(const View& view, QPointF pixel, double reach) const;

    // Shows `row` at once, as a straight run shows it, and pauses.
    void jump_to(int row);
    // The row the pictures show now, within 1 to the row count (0 before the first pass).
    [[nodiscard]] int row_shown() const;
    [[nodiscard]] const RunState& run_state() const;
    [[nodiscard]] const std::filesystem::path& folder() const;
    [[nodiscard]] QString folder_text() const;

    void show_picture_window();
    [[nodiscard]] PictureWindow* picture_window() const { return picture_window_.get(); }
    // Opens the chart of `bus`, or with `add` puts the bus beside those charted.
    void show_chart(int bus, bool add);
    [[nodiscard]] BusChart* chart() const { return chart_.get(); }
    [[nodiscard]] QString title() const;
    [[nodiscard]] QMenu* menu() const { return menu_; }
    [[nodiscard]] const Picture& picture() const { return picture_; }
    // How far apart the run's buses lie (plot units), which sized pictures fit their symbols to;
    // 0 before the first pass.
    [[nodiscard]] double bus_spacing() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void update_title();
    void apply_speed();
    void choose_folder();
    void choose_save();
    void choose_export();
    // The picture window's frame as it shows it, or nothing when it is closed.
    [[nodiscard]] std::optional<FrameOptions> shown_frame() const;
    QAction* add_action(const QString& text, const QKeySequence& key, void (Viewer::*slot)());

    Form1& form_;
    QString base_title_;  // the window's own title, which the state follows
    QString note_;
    QMenu* menu_;
    QAction* pause_action_ = nullptr;
    QAction* large_action_ = nullptr;
    QAction* save_action_ = nullptr;
    Picture picture_;  // what the passes drew, recorded for saving, exporting and the picture window
    int speed_ = 0;
    bool last_failed_ = false;
    bool warned_ = false;  // the first pass's warnings are in the report
    QString saved_note_;
    QDeadlineTimer saved_until_{0};
    mutable double spacing_ = -1;  // bus_spacing(), once known for this run
    std::unique_ptr<ExportJob> job_;
    std::unique_ptr<PictureWindow> picture_window_;
    std::unique_ptr<BusChart> chart_;
};

}  // namespace umbrascope

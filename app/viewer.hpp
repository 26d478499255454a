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
#include "output/profile_picture.hpp"
#include "render/picture.hpp"
#include "model/controls.hpp"
#include "model/sky_field.hpp"
#include "model/row_part.hpp"
#include "model/hosting_map.hpp"
#include "model/voltages.hpp"
#include "render/overlay.hpp"

class QAction;
class QMenu;
class QSettings;

namespace umbrascope {

class Form1;
class ExportJob;
class PictureWindow;
class ProfileWindow;
class BusChart;
class ControlChart;
struct View;

class Viewer : public QObject {
    Q_OBJECT

signals:
    // An export's job, made and connected, just before it starts: a listener connected here hears
    // its finished signal however soon it comes.
    void export_starting(umbrascope::ExportJob* job);

public:
    // `note` follows the folder in the title (e.g. that it is the bundled example). The viewer
    // must go before the form: it detaches itself from the form and waits for an export.
    // A sky longer than a run (with large inputs) is shown a part at a time, from `first_row`.
    // `hosting` is a sweep whose search by bus's answers colour the map of its first sky, when
    // that sky is the folder opened.
    Viewer(Form1& form, QString note = {}, long first_row = 1, std::optional<std::filesystem::path> hosting = {});
    ~Viewer() override;

    void toggle_pause();
    void step();  // one pass as a tick would run it; pauses first
    void restart();  // a fresh run in the same folder, its first pass at once
    void open_folder(const std::filesystem::path& folder);  // a fresh run there, its first pass at once
    void faster();
    void slower();
    void normal_speed();
    void toggle_large();  // classic limits or large inputs; restarts the run
    // Of a sky longer than a run: the part from `first_row` on, as much as a run holds; restarts.
    void show_rows_from(long first_row);
    // The part of a longer sky shown, or nullptr where the run is the folder's whole sky.
    [[nodiscard]] const RowPart* part() const { return part_.get(); }
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
    // within `reach` pixels of a bus's centre (3 of a cloud's); a regulator's or capacitor's symbol
    // first, of size `symbols`.
    [[nodiscard]] QString details_near(const View& view, QPointF pixel, double reach, double symbols = 1) const;
    [[nodiscard]] int bus_near(const View& view, QPointF pixel, double reach) const;
    // The control whose symbol (of size `symbols`) is under a device pixel; -1 for none.
    [[nodiscard]] int control_near(const View& view, QPointF pixel, double symbols) const;

    // Shows `row` at once, as a straight run shows it, and pauses.
    void jump_to(int row);
    // The jump a key asks for in the picture and profile windows (Home, End, Left, Right, Page Up,
    // Page Down), made; false for another key.
    bool jump_by_key(int key);
    // The row the pictures show now, within 1 to the row count (0 before the first pass).
    [[nodiscard]] int row_shown() const;
    [[nodiscard]] const RunState& run_state() const;
    [[nodiscard]] const std::filesystem::path& folder() const;
    [[nodiscard]] QString folder_text() const;

    void show_picture_window();
    [[nodiscard]] PictureWindow* picture_window() const { return picture_window_.get(); }

    // The study's voltages of the run, once its first pass has shown that the folder's tables fit
    // it; else nullptr, and why in voltages_problem() (empty where the folder has none).
    [[nodiscard]] const RunVoltages* voltages() const { return voltages_ && voltages_checked_ ? &*voltages_ : nullptr; }
    [[nodiscard]] const QString& voltages_problem() const { return voltages_problem_; }
    // Buses coloured by the voltage classes rather than the sunlight classes; kept for the next
    // start, and shown only where the run has voltages.
    [[nodiscard]] bool by_voltage() const { return by_voltage_ && voltages_.has_value() && !by_hosting(); }
    void set_by_voltage(bool on);
    // Sunlight, then voltage where the study's tables are there, then the hosting capacity where a
    // search's answers are, then sunlight again.
    void switch_colouring();
    void set_by_hosting(bool on);
    [[nodiscard]] bool by_hosting() const { return by_hosting_ && hosting_bound_; }
    // The first row of the next and the previous excursion outside range A, and the worst row;
    // each rings the worst bus of the row it reaches.
    void next_outside();
    void previous_outside();
    void worst_row();
    // The bus a jump by voltage ringed, while its row is shown; 0 for none. What the band and the
    // title say of it: "worst bus 652, 0.9123 pu".
    [[nodiscard]] int ringed_bus() const;
    [[nodiscard]] std::string ring_note() const;
    // What the voltage band says once of the buses outside range A in every row.
    [[nodiscard]] std::string own_outside_note() const;
    // The study's regulators and capacitors, where the folder's table fits the run; shown unless
    // switched off (K), kept for the next start.
    [[nodiscard]] const ControlsTable* controls() const { return controls_ && places_known_ ? &*controls_ : nullptr; }
    [[nodiscard]] const ControlsTable* shown_controls() const { return show_controls_ ? controls() : nullptr; }
    void switch_controls();
    // The next and the previous row in which a regulator or capacitor acts.
    void next_action();
    void previous_action();
    // The chart of control `control`'s state over the run.
    void show_control_chart(int control);
    // The measured sky's field, where the sun table was made from one.
    [[nodiscard]] const SkyField* field() const { return field_ ? &*field_ : nullptr; }
    // The profile of the row shown, in a window of its own.
    void show_profile_window();
    [[nodiscard]] ProfileWindow* profile_window() const { return profile_window_.get(); }
    [[nodiscard]] const std::vector<ProfileSegment>& profile_segments() const { return segments_; }
    [[nodiscard]] const ProfileAxes& profile_axes() const { return axes_; }
    // A bus picked in the profile, ringed in the picture window; 0 for none.
    void mark_bus(int bus);
    [[nodiscard]] int marked_bus() const { return marked_; }
    // The options of frames of this run: its colouring and voltages.
    void add_colouring(FrameOptions& options) const;
    // What the sun table's header says of its times: a clock, or seconds.
    [[nodiscard]] const SkyHeader& sky() const { return sky_; }
    // How the time of `row` reads: "10:14:20", "t = 860 s", or "time 860".
    [[nodiscard]] QString time_text(int row) const;
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
    void ring_worst(int row);  // jumps to `row` and rings its worst bus
    void apply_overlay();  // what the main window draws over its picture
    void apply_speed();
    void read_voltages();  // the folder's tables, for a new run
    void check_voltages();  // against the first pass
    void apply_colouring();
    void choose_folder();
    void choose_rows();
    // A fresh run in `folder`, or in the part of its sky from `first_row` where the sky is longer
    // than a run; the first pass is left to the caller.
    void start_in(const std::filesystem::path& folder, bool large, long first_row);
    void choose_save();
    void choose_export();
    // The picture window's frame as it shows it, or nothing when it is closed.
    [[nodiscard]] std::optional<FrameOptions> shown_frame() const;
    QAction* add_action(const QString& text, const QKeySequence& key, void (Viewer::*slot)());

    Form1& form_;
    std::filesystem::path folder_;  // the folder opened; the form runs it, or a part of its sky
    std::unique_ptr<RowPart> part_;
    QAction* rows_action_ = nullptr;
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
    long start_row_ = 0;  // the sky's row the first pass goes on to, where the part starts before it
    std::unique_ptr<BusChart> chart_;
    std::unique_ptr<ProfileWindow> profile_window_;
    std::optional<RunVoltages> voltages_;
    QString voltages_problem_;
    SkyHeader sky_;
    std::optional<std::string> sky_mismatch_;  // a sun table made for another network
    bool voltages_checked_ = false;
    bool by_voltage_ = false;  // as chosen; shown only where the run has voltages
    std::optional<std::filesystem::path> hosting_sweep_;  // the sweep given, for its first sky
    std::optional<HostingMap> hosting_;
    bool hosting_bound_ = false;  // to the run's buses, after the first pass
    bool by_hosting_ = false;
    QAction* hosting_action_ = nullptr;
    QAction* switch_action_ = nullptr;
    std::vector<ProfileSegment> segments_;
    ProfileAxes axes_;
    int marked_ = 0;
    int ringed_row_ = 0;
    int ringed_bus_ = 0;
    std::optional<SkyField> field_;
    std::optional<ControlsTable> controls_;
    ControlPlaces places_;
    bool places_known_ = false;
    bool show_controls_ = true;
    QAction* controls_action_ = nullptr;
    std::vector<QAction*> control_actions_;  // offered only where the folder has the controls table
    std::unique_ptr<ControlChart> control_chart_;
    QMenu* colour_menu_ = nullptr;
    QAction* sunlight_action_ = nullptr;
    QAction* voltage_action_ = nullptr;
    std::vector<QAction*> voltage_actions_;  // offered only where the run has voltages
    QAction* own_outside_action_ = nullptr;  // count the buses outside range A all run
    void count_own_outside(bool counted);
};

}  // namespace umbrascope

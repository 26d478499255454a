#include "app/viewer.hpp"

#include <QAction>
#include <QActionGroup>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QInputDialog>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QTimer>
#include <QToolTip>
#include <cmath>

#include "app/qt_text.hpp"
#include "app/bus_chart.hpp"
#include "app/control_chart.hpp"
#include "app/error_report.hpp"
#include "app/export_job.hpp"
#include "run/run_warnings.hpp"
#include "model/sky_header.hpp"
#include "app/frame_dialog.hpp"
#include "app/picture_window.hpp"
#include "app/profile_window.hpp"
#include "app/form1.hpp"
#include "core/layout.hpp"
#include "output/output_file.hpp"
#include "output/png_writer.hpp"
#include "output/svg_picture.hpp"
#include "render/draw_network.hpp"
#include "core/fingerprint.hpp"
#include "model/folder_error.hpp"
#include <QPainter>
#include <cstdio>

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

constexpr int slowest = -3;  // 1/8 of the normal pace
constexpr int fastest = 3;   // 8 times
constexpr int marker_reach_twips = 85;  // the largest shaded disc

QString speed_text(int exponent)
{
    return exponent >= 0 ? QStringLiteral("%1\u00d7").arg(1 << exponent) : QStringLiteral("1/%1\u00d7").arg(1 << -exponent);
}

QString folder_text(const fs::path& folder)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(folder, error);
    return QString::fromStdString((error ? folder : absolute.lexically_normal()).string());
}

// The rows of the folder's sun table where a run with large inputs cannot hold them all; else 0.
long sky_rows_past_a_run(const fs::path& folder, bool large)
{
    if (!large)
        return 0;
    try {
        const long rows = sun_table_rows(folder);
        return rows > most_rows_in_a_run ? rows : 0;
    } catch (const PartError&) {  // no sun table: the first pass says so
        return 0;
    }
}

}  // namespace

Viewer::Viewer(Form1& form, QString note, long first_row, std::optional<fs::path> hosting)
    : form_(form), folder_(form.folder()), base_title_(form.windowTitle()), note_(std::move(note)), menu_(new QMenu(&form)),
      hosting_sweep_(std::move(hosting))
{
    form_.set_observer(&picture_);
    form_.installEventFilter(this);
    form_.setMouseTracking(true);

    pause_action_ = add_action(tr("Pause"), QKeySequence(Qt::Key_P), &Viewer::toggle_pause);
    pause_action_->setCheckable(true);
    add_action(tr("One step"), QKeySequence(Qt::Key_N), &Viewer::step);
    add_action(tr("Restart (read the files again)"), QKeySequence(Qt::Key_F5), &Viewer::restart);
    menu_->addSeparator();
    QAction* faster_action = add_action(tr("Faster"), QKeySequence(Qt::Key_Plus), &Viewer::faster);
    faster_action->setShortcuts({QKeySequence(Qt::Key_Plus), QKeySequence(Qt::Key_Equal)});
    add_action(tr("Slower"), QKeySequence(Qt::Key_Minus), &Viewer::slower);
    add_action(tr("Normal speed"), QKeySequence(Qt::Key_0), &Viewer::normal_speed);
    menu_->addSeparator();
    add_action(tr("Open folder\u2026"), QKeySequence::Open, &Viewer::choose_folder);
    rows_action_ = add_action(tr("Rows of a long sky\u2026"), QKeySequence(Qt::CTRL | Qt::Key_G), &Viewer::choose_rows);
    save_action_ = add_action(tr("Save picture\u2026"), QKeySequence::Save, &Viewer::choose_save);
    add_action(tr("Export run\u2026"), QKeySequence(Qt::CTRL | Qt::Key_E), &Viewer::choose_export);
    menu_->addSeparator();
    add_action(tr("Picture window"), QKeySequence(Qt::Key_V), &Viewer::show_picture_window);
    voltage_actions_.push_back(add_action(tr("Voltage profile"), QKeySequence(Qt::Key_R), &Viewer::show_profile_window));
    menu_->addSeparator();
    // The colouring: the sunlight classes, or the voltage classes where the study's tables fit.
    colour_menu_ = menu_->addMenu(tr("Colour buses by"));
    auto* colourings = new QActionGroup(this);
    sunlight_action_ = colour_menu_->addAction(tr("Sunlight (the classic classes)"));
    voltage_action_ = colour_menu_->addAction(tr("Voltage (service voltage, ANSI C84.1)"));
    hosting_action_ = colour_menu_->addAction(tr("Hosting capacity (the search by bus, kW)"));
    for (QAction* action : {sunlight_action_, voltage_action_, hosting_action_}) {
        action->setCheckable(true);
        colourings->addAction(action);
    }
    connect(sunlight_action_, &QAction::triggered, this, [this] {
        by_hosting_ = false;
        set_by_voltage(false);
    });
    connect(voltage_action_, &QAction::triggered, this, [this] {
        by_hosting_ = false;
        set_by_voltage(true);
    });
    connect(hosting_action_, &QAction::triggered, this, [this] { set_by_hosting(true); });
    colour_menu_->addSeparator();
    const auto add_voltage_action = [this](const QString& text, const QKeySequence& key, void (Viewer::*slot)()) {
        auto* action = new QAction(text, &form_);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, slot);
        form_.addAction(action);
        colour_menu_->addAction(action);
        voltage_actions_.push_back(action);
    };
    add_voltage_action(tr("Switch the colouring"), QKeySequence(Qt::Key_C), &Viewer::switch_colouring);
    switch_action_ = voltage_actions_.back();
    voltage_actions_.pop_back();  // offered with voltages or a search's answers
    add_voltage_action(tr("Next row with a bus outside range A"), QKeySequence(Qt::CTRL | Qt::Key_Right), &Viewer::next_outside);
    add_voltage_action(tr("Previous row with a bus outside range A"), QKeySequence(Qt::CTRL | Qt::Key_Left),
                       &Viewer::previous_outside);
    add_voltage_action(tr("The worst row"), QKeySequence(Qt::Key_W), &Viewer::worst_row);
    // A bus outside range A in every row is the feeder's own: left out of the jumps, the worst row
    // and the timeline unless asked for.
    own_outside_action_ = new QAction(tr("Count buses outside range A all run (the feeder's own)"), &form_);
    own_outside_action_->setCheckable(true);
    connect(own_outside_action_, &QAction::toggled, this, &Viewer::count_own_outside);
    form_.addAction(own_outside_action_);
    colour_menu_->addAction(own_outside_action_);
    voltage_actions_.push_back(own_outside_action_);
    // The study's regulators and capacitors, where the folder has their table.
    controls_action_ = add_action(tr("Regulators and capacitors"), QKeySequence(Qt::Key_K), &Viewer::switch_controls);
    controls_action_->setCheckable(true);
    control_actions_ = {controls_action_,
                        add_action(tr("Next row where a regulator or capacitor acts"), QKeySequence(Qt::Key_T),
                                   &Viewer::next_action),
                        add_action(tr("Previous row where a regulator or capacitor acts"),
                                   QKeySequence(Qt::SHIFT | Qt::Key_T), &Viewer::previous_action)};
    menu_->addSeparator();
    large_action_ = add_action(tr("Large inputs (restarts the run)"), QKeySequence(), &Viewer::toggle_large);
    large_action_->setCheckable(true);
    large_action_->setChecked(form_.large());
    menu_->addSeparator();
    add_action(tr("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), &Viewer::quit);

    connect(&form_, &Form1::passEnded, this, [this](bool failed) {
        last_failed_ = failed;
        if (!failed && !warned_ && form_.run_state().num_pass == 1) {
            warned_ = true;
            for (const std::string& warning : first_pass_warnings(form_.run_state()))
                form_.error_report()->warn(QString::fromStdString(warning));
            check_voltages();
        }
        // A part that starts before the row asked for, near the sky's end, goes on from that row.
        if (!failed && start_row_ > 0 && part_ && form_.run_state().num_pass == 1) {
            const long row = start_row_ - part_->first() + 1;
            start_row_ = 0;
            form_.jump_to_row(static_cast<int>(row));
        }
        update_title();
    });
    connect(form_.error_report(), &ErrorReport::largeInputsWanted, this, [this] {
        if (!form_.large())
            toggle_large();
    });
    connect(&form_, &Form1::restarted, this, [this] {
        picture_.clear();
        spacing_ = -1;
        last_failed_ = false;
        warned_ = false;
        read_voltages();
        update_title();
        if (picture_window_)
            picture_window_->restarted();
        if (chart_)
            chart_->restarted();
        if (profile_window_)
            profile_window_->restarted();
        if (control_chart_)
            control_chart_->hide();
    });

    const QSettings settings;
    speed_ = std::clamp(settings.value(QStringLiteral("speed"), 0).toInt(), slowest, fastest);
    by_voltage_ = settings.value(QStringLiteral("colour_by")).toString() == QStringLiteral("voltage");
    by_hosting_ = hosting_sweep_.has_value();  // opened for the search's answers: shown first
    show_controls_ = settings.value(QStringLiteral("show_controls"), true).toBool();
    // A sky longer than a run opens at a part of it, whose files the restart reads.
    if (sky_rows_past_a_run(folder_, form_.large()) > 0) {
        start_in(folder_, true, first_row);
        if (part_ && first_row > part_->first() && first_row <= part_->last())
            start_row_ = first_row;
    } else
        read_voltages();
    apply_speed();
    rows_action_->setEnabled(part_ != nullptr);
}

Viewer::~Viewer()
{
    form_.set_observer(nullptr);
    form_.set_colouring(nullptr);
    job_.reset();  // cancels and waits for an export still running
    profile_window_.reset();
    control_chart_.reset();
    chart_.reset();
    picture_window_.reset();
}

QString Viewer::time_text(int row) const
{
    const RunState& st = form_.run_state();
    Text time;
    if (row >= 0 && row <= 32767)
        time = cell_text(st.time_val.at(Integer(static_cast<std::int16_t>(row)), [] { return std::string(); }));
    return QString::fromStdString(time_label(sky_, encode_utf8(time)));
}

void Viewer::read_voltages()
{
    sky_ = read_sky_header(form_.folder());
    sky_mismatch_ = sun_table_mismatch(form_.folder());
    voltages_.reset();
    voltages_problem_.clear();
    voltages_checked_ = false;
    segments_.clear();
    marked_ = 0;
    ringed_row_ = ringed_bus_ = 0;
    field_.reset();
    controls_.reset();
    places_known_ = false;
    QString other_problem;
    try {
        field_ = read_sky_field(form_.folder());
        controls_ = ControlsTable::read(form_.folder());
        const std::optional<std::string> made_for = file_fingerprint(form_.folder() / sun_table_file_name);
        if (controls_ && controls_->sky() && made_for && *controls_->sky() != *made_for) {
            controls_.reset();
            other_problem = tr("The regulators and capacitors cannot be shown: %1 was made for another sky than the "
                               "sun table there now; read the study again")
                                .arg(QString::fromStdString((folder_ / controls_table_name).string()));
        }
    } catch (const FolderError& error) {
        other_problem = QString::fromStdString(error.what());
    }
    if (!other_problem.isEmpty())
        QTimer::singleShot(0, this, [this, other_problem] { form_.error_report()->warn(other_problem); });
    hosting_.reset();
    hosting_bound_ = false;
    if (hosting_sweep_ && hosting_sky(*hosting_sweep_) &&
        fs::weakly_canonical(*hosting_sky(*hosting_sweep_)) == fs::weakly_canonical(form_.folder())) {
        try {
            hosting_ = HostingMap::read(*hosting_sweep_);
        } catch (const FolderError& error) {
            const QString problem = tr("The hosting capacity cannot be shown: %1").arg(QString::fromStdString(error.what()));
            QTimer::singleShot(0, this, [this, problem] { form_.error_report()->warn(problem); });
        }
    }
    if (has_voltage_tables(form_.folder())) {
        try {
            voltages_ = RunVoltages::read(form_.folder());
            voltages_->count_own_outside(own_outside_action_->isChecked());
        } catch (const VoltageError& error) {
            voltages_problem_ = QString::fromStdString(error.what());
        }
    }
    apply_colouring();
}

void Viewer::check_voltages()
{
    if (sky_mismatch_)
        form_.error_report()->warn(QString::fromStdString(*sky_mismatch_));
    if (!voltages_problem_.isEmpty())
        form_.error_report()->warn(tr("The voltages cannot be shown: %1").arg(voltages_problem_));
    if (controls_ && !places_known_) {
        if (controls_->rows() == form_.run_state().n_time.value()) {
            places_ = control_places(form_.run_state(), *controls_);
            places_known_ = true;
        } else {
            form_.error_report()->warn(tr("The regulators and capacitors cannot be shown: %1 has %2 rows where the sun "
                                          "table has %3; read the study again")
                                           .arg(QString::fromStdString((folder_ / controls_table_name).string()))
                                           .arg(controls_->rows())
                                           .arg(form_.run_state().n_time.value()));
            controls_.reset();
        }
        apply_colouring();
    }
    if (hosting_ && !hosting_bound_) {
        hosting_->bind(form_.run_state());
        hosting_bound_ = true;
        apply_colouring();
        if (by_hosting())
            QTimer::singleShot(0, this, [this] { form_.jump_to_row(row_shown()); });
    }
    if (!voltages_ || voltages_checked_)
        return;
    try {
        voltages_->check(form_.run_state());
        voltages_checked_ = true;
        segments_ = umbrascope::profile_segments(form_.run_state(), *voltages_);
        axes_ = profile_extent(*voltages_);
    } catch (const VoltageError& error) {
        voltages_problem_ = QString::fromStdString(error.what());
        voltages_.reset();
        form_.error_report()->warn(tr("The voltages cannot be shown: %1").arg(voltages_problem_));
        const bool redraw = form_.colouring() != nullptr;
        apply_colouring();
        // The first pass drew by tables that do not fit: drawn again by the sunlight classes.
        if (redraw)
            QTimer::singleShot(0, this, [this] { form_.jump_to_row(row_shown()); });
    }
}

void Viewer::apply_colouring()
{
    form_.set_colouring(by_hosting() ? static_cast<const BusColouring*>(&*hosting_)
                        : by_voltage() ? &*voltages_
                                       : nullptr);
    for (QAction* action : control_actions_)
        action->setEnabled(controls_.has_value());
    controls_action_->setChecked(show_controls_ && controls_.has_value());
    apply_overlay();
    const bool offered = voltages_.has_value();
    colour_menu_->setEnabled(offered || hosting_bound_);
    colour_menu_->setTitle(offered || hosting_bound_ ? tr("Colour buses by")
                                                     : tr("Colour buses by (no voltages in this folder)"));
    for (QAction* action : voltage_actions_)
        action->setEnabled(offered);
    voltage_action_->setEnabled(offered);
    hosting_action_->setEnabled(hosting_bound_);
    hosting_action_->setVisible(hosting_.has_value());
    switch_action_->setEnabled(offered || hosting_bound_);
    sunlight_action_->setChecked(!by_voltage() && !by_hosting());
    voltage_action_->setChecked(by_voltage());
    hosting_action_->setChecked(by_hosting());
}

void Viewer::switch_colouring()
{
    if (by_hosting())
        set_by_hosting(false);
    else if (by_voltage())
        hosting_bound_ ? set_by_hosting(true) : set_by_voltage(false);
    else if (voltages_)
        set_by_voltage(true);
    else if (hosting_bound_)
        set_by_hosting(true);
}

void Viewer::set_by_hosting(bool on)
{
    const BusColouring* was = form_.colouring();
    by_hosting_ = on;
    if (!on)
        by_voltage_ = false;
    apply_colouring();
    const RunState& st = form_.run_state();
    if (was != form_.colouring() && st.num_pass > 0 && st.n_time > 0)
        form_.jump_to_row(row_shown());
    update_title();
}

void Viewer::set_by_voltage(bool on)
{
    by_voltage_ = on;
    by_hosting_ = false;
    QSettings().setValue(QStringLiteral("colour_by"), on ? QStringLiteral("voltage") : QStringLiteral("sunlight"));
    const BusColouring* was = form_.colouring();
    apply_colouring();
    // The row shown, drawn again in the new colours; the animation goes on as it was.
    const RunState& st = form_.run_state();
    if (was != form_.colouring() && st.num_pass > 0 && st.n_time > 0)
        form_.jump_to_row(row_shown());
    update_title();
}

void Viewer::ring_worst(int row)
{
    jump_to(row);
    ringed_row_ = row;
    ringed_bus_ = voltages_ ? voltages_->worst_bus(row) : 0;
    update_title();
    apply_overlay();
}

void Viewer::next_outside()
{
    if (!voltages_)
        return;
    if (const int row = voltages_->next_outside(row_shown()); row > 0)
        ring_worst(row);
    else
        QToolTip::showText(QCursor::pos(), tr("No later row starts a run of rows with a bus outside range A"));
}

void Viewer::previous_outside()
{
    if (!voltages_)
        return;
    if (const int row = voltages_->previous_outside(row_shown()); row > 0)
        ring_worst(row);
    else
        QToolTip::showText(QCursor::pos(), tr("No earlier row starts a run of rows with a bus outside range A"));
}

void Viewer::count_own_outside(bool counted)
{
    if (!voltages_)
        return;
    voltages_->count_own_outside(counted);
    ringed_row_ = ringed_bus_ = 0;
    if (picture_window_)
        picture_window_->recount();
    update_title();
}

void Viewer::worst_row()
{
    if (!voltages_)
        return;
    if (const int row = voltages_->worst_row(); row > 0)
        ring_worst(row);
    else
        QToolTip::showText(QCursor::pos(), tr("No bus leaves range A in any row"));
}

int Viewer::ringed_bus() const
{
    return ringed_row_ > 0 && ringed_row_ == row_shown() && form_.run_state().num_pass > 0 ? ringed_bus_ : 0;
}

std::string Viewer::own_outside_note() const
{
    const RunVoltages* shown = voltages();
    return shown != nullptr ? shown->own_outside_note(form_.run_state()) : std::string();
}

std::string Viewer::ring_note() const
{
    const int bus = ringed_bus();
    if (bus <= 0 || !voltages_)
        return {};
    const RunState& st = form_.run_state();
    const std::string name = encode_utf8(st.bus_name.at(Integer(static_cast<std::int16_t>(bus)), [] { return std::string(); }));
    const PerUnit low = voltages_->lowest(ringed_row_, bus);
    const PerUnit high = voltages_->highest(ringed_row_, bus);
    const PerUnit value = below_a(low) && (!above_a(high) || 9500 - low >= high - 10500) ? low : high;
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value / 10000.0);
    return "worst bus " + name + ", " + text + " pu";
}

void Viewer::switch_controls()
{
    show_controls_ = !show_controls_;
    QSettings().setValue(QStringLiteral("show_controls"), show_controls_);
    apply_colouring();
    update_title();
}

void Viewer::next_action()
{
    const ControlsTable* table = controls();
    if (table == nullptr)
        return;
    if (const int row = table->next_action(row_shown()); row > 0)
        jump_to(row);
    else
        QToolTip::showText(QCursor::pos(), tr("No regulator or capacitor acts in a later row"));
}

void Viewer::previous_action()
{
    const ControlsTable* table = controls();
    if (table == nullptr)
        return;
    if (const int row = table->previous_action(row_shown()); row > 0)
        jump_to(row);
    else
        QToolTip::showText(QCursor::pos(), tr("No regulator or capacitor acts in an earlier row"));
}

void Viewer::show_control_chart(int control)
{
    const ControlsTable* table = controls();
    if (table == nullptr || control < 0 || static_cast<std::size_t>(control) >= table->controls().size())
        return;
    if (!control_chart_) {
        control_chart_ = std::make_unique<ControlChart>(*this, &form_);
        control_chart_->addActions(form_.actions());
    }
    control_chart_->show_control(control);
    control_chart_->show();
    control_chart_->raise();
}

void Viewer::apply_overlay()
{
    // The main window's picture is the passes' own until something goes over it.
    if (!field_ && shown_controls() == nullptr && ringed_bus() == 0) {
        form_.set_overlay(nullptr);
        return;
    }
    form_.set_overlay([this](QImage& image) {
        FrameOptions options;
        add_colouring(options);
        const RunState& st = form_.run_state();
        FrameFacts facts{st, row_shown(), &sky_, {}};
        View view;
        view.scale = view.symbol_scale = image.devicePixelRatio() / layout::twips_per_pixel;
        paint_overlays(reinterpret_cast<std::uint32_t*>(image.bits()), image.width(), image.height(),
                       static_cast<int>(image.bytesPerLine() / 4), view, facts, options);
        if (const int bus = ringed_bus(); bus > 0)
            if (const auto at = bus_marker_position(st, bus)) {
                QPainter painter(&image);
                painter.setRenderHint(QPainter::Antialiasing);
                const double ratio = image.devicePixelRatio();
                for (const auto& [colour, width] : {std::pair{QColor(255, 255, 255), 4.0}, std::pair{QColor(0, 0, 0), 1.5}}) {
                    painter.setPen(QPen(colour, width));
                    painter.drawEllipse(QPointF(view.x(at->x) / ratio, view.y(at->y) / ratio), 9, 9);
                }
            }
    });
}

void Viewer::show_profile_window()
{
    if (!voltages_)
        return;
    if (!profile_window_) {
        profile_window_ = std::make_unique<ProfileWindow>(*this, &form_);
        profile_window_->addActions(form_.actions());
    }
    profile_window_->refresh();
    profile_window_->show();
    profile_window_->raise();
    profile_window_->activateWindow();
}

void Viewer::mark_bus(int bus)
{
    marked_ = bus;
    if (picture_window_)
        picture_window_->refresh();
    if (profile_window_)
        profile_window_->refresh();
}

void Viewer::add_colouring(FrameOptions& options) const
{
    options.by_voltage = by_voltage();
    options.voltages = voltages_checked_ ? voltages() : nullptr;
    options.segments = &segments_;
    options.profile_axes = &axes_;
    options.field = field();
    options.show_controls = shown_controls() != nullptr;
    options.controls = controls();
    options.control_places = places_known_ ? &places_ : nullptr;
}

QAction* Viewer::add_action(const QString& text, const QKeySequence& key, void (Viewer::*slot)())
{
    auto* action = new QAction(text, &form_);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    connect(action, &QAction::triggered, this, slot);
    form_.addAction(action);
    menu_->addAction(action);
    return action;
}

void Viewer::quit() { form_.close(); }

bool Viewer::paused() const { return form_.paused(); }

QString Viewer::row_text() const
{
    const RunState& st = form_.run_state();
    if (st.num_pass <= 0)
        return {};
    if (st.n_time < 1)
        return last_failed_ ? tr("the first pass failed") : tr("no rows in the sun table");
    if (part_)  // numbered as the whole sky numbers them
        return QStringLiteral("row %1 / %2 (rows %3\u2013%4 shown: Ctrl+G for others)")
            .arg(row_shown() + part_->first() - 1)
            .arg(part_->rows())
            .arg(part_->first())
            .arg(part_->last());
    return QStringLiteral("row %1 / %2").arg(row_shown()).arg(st.n_time.value());
}

void Viewer::toggle_pause()
{
    form_.set_paused(!form_.paused());
    pause_action_->setChecked(form_.paused());
    update_title();
}

void Viewer::step()
{
    if (!form_.paused())
        toggle_pause();
    if (form_.timer_enabled())  // a tick would come: the animation has not ended
        form_.step();
}

// A restart runs the first pass at once, so that edited files show straight away; paused, the
// animation then waits on its first picture.
void Viewer::restart()
{
    start_in(folder_, form_.large(), part_ ? part_->first() : 1);
    form_.click();
}

void Viewer::open_folder(const fs::path& folder)
{
    note_.clear();
    QSettings().setValue(QStringLiteral("folder"), QString::fromStdString(folder.string()));
    start_in(folder, form_.large(), 1);
    form_.click();
}

void Viewer::toggle_large()
{
    start_in(folder_, !form_.large(), part_ ? part_->first() : 1);
    large_action_->setChecked(form_.large());
    form_.click();
}

void Viewer::show_rows_from(long first_row)
{
    start_in(folder_, form_.large(), first_row);
    form_.click();
    // Near the sky's end the part starts earlier, so that it holds as many rows as a run can.
    if (part_ && first_row > part_->first() && first_row <= part_->last())
        jump_to(static_cast<int>(first_row - part_->first() + 1));
}

void Viewer::start_in(const fs::path& folder, bool large, long first_row)
{
    folder_ = folder;
    start_row_ = 0;
    std::unique_ptr<RowPart> next;
    if (const long rows = sky_rows_past_a_run(folder, large); rows > 0) {
        const long first = std::clamp(first_row, 1L, rows - most_rows_in_a_run + 1);
        try {
            next = std::make_unique<RowPart>(folder, first, first + most_rows_in_a_run - 1);
        } catch (const PartError& error) {
            // The run of the whole folder then stops at its first pass, saying what to do.
            form_.error_report()->warn(tr("Cannot show a part of the long sky in %1: %2")
                                           .arg(umbrascope::folder_text(folder), QString::fromStdString(error.what())));
        }
    }
    // The part shown before goes once the form has left its files.
    form_.restart(next ? next->path() : folder, large);
    part_ = std::move(next);
    if (part_)
        form_.error_report()->set_rewrite([part = part_.get()](std::string text) { return part->whole_lines(std::move(text)); });
    else
        form_.error_report()->set_rewrite({});
    rows_action_->setEnabled(part_ != nullptr);
    update_title();
}

void Viewer::choose_rows()
{
    if (!part_)
        return;
    bool chosen = false;
    const int first = QInputDialog::getInt(
        &form_, tr("Rows of a long sky"),
        tr("The sun table has %1 rows; a run shows %2 of them at a time.\nShow the rows from row (1 to %1):")
            .arg(part_->rows())
            .arg(most_rows_in_a_run),
        static_cast<int>(part_->first()), 1, static_cast<int>(part_->rows()), 3600, &chosen);
    if (chosen)
        show_rows_from(first);
}

int Viewer::timer_interval() const
{
    // 100 ms at the normal pace; 12.5 ms at 8 times is kept as 13.
    return static_cast<int>(std::lround(100.0 / std::ldexp(1.0, speed_)));
}

void Viewer::apply_speed()
{
    form_.findChild<QTimer*>(QStringLiteral("Timer1"))->setInterval(timer_interval());
    QSettings().setValue(QStringLiteral("speed"), speed_);
    update_title();
}

void Viewer::faster()
{
    speed_ = std::min(fastest, speed_ + 1);
    apply_speed();
}

void Viewer::slower()
{
    speed_ = std::max(slowest, speed_ - 1);
    apply_speed();
}

void Viewer::normal_speed()
{
    speed_ = 0;
    apply_speed();
}

QString Viewer::title() const
{
    // What changes leads, so that a title cut short still shows the row.
    QStringList parts;
    const RunState& st = form_.run_state();
    if (st.num_pass > 0) {
        parts << row_text();
        if (const std::string note = ring_note(); !note.empty())
            parts << QString::fromStdString(note);
        if (!form_.timer_enabled() && st.i_time > st.n_time)
            parts << tr("finished (F5 runs it again)");
    }
    if (form_.paused())
        parts << tr("paused");
    if (!saved_until_.hasExpired())
        parts << saved_note_;
    if (speed_ != 0)
        parts << tr("speed %1").arg(speed_text(speed_));
    parts << base_title_;
    QString folder = umbrascope::folder_text(folder_);
    if (!note_.isEmpty())
        folder += QStringLiteral(" (%1)").arg(note_);
    parts << folder;
    if (form_.large())
        parts << tr("large inputs");
    return parts.join(QStringLiteral(" \u2014 "));
}

void Viewer::update_title()
{
    form_.setWindowTitle(title());
    if (picture_window_)
        picture_window_->refresh();
    if (chart_ && !chart_->buses().empty())
        chart_->refresh();
    if (control_chart_ && control_chart_->isVisible())
        control_chart_->refresh();
    if (profile_window_)
        profile_window_->refresh();
}

int Viewer::row_shown() const
{
    const RunState& st = form_.run_state();
    if (st.num_pass <= 0)
        return 0;
    return std::clamp(shown_row(st, last_failed_), 1, std::max(st.n_time.value(), 1));
}

const RunState& Viewer::run_state() const { return form_.run_state(); }

const fs::path& Viewer::folder() const { return folder_; }

QString Viewer::folder_text() const { return umbrascope::folder_text(folder_); }

void Viewer::jump_to(int row)
{
    if (!form_.paused())
        toggle_pause();
    form_.jump_to_row(row);
}

bool Viewer::jump_by_key(int key)
{
    const int rows = form_.run_state().n_time.value();
    const int row = row_shown();
    int to = 0;
    switch (key) {
    case Qt::Key_Home: to = 1; break;
    case Qt::Key_End: to = rows; break;
    case Qt::Key_Left: to = row - 1; break;
    case Qt::Key_Right: to = row + 1; break;
    case Qt::Key_PageUp: to = row - 10; break;
    case Qt::Key_PageDown: to = row + 10; break;
    default: return false;
    }
    jump_to(std::clamp(to, 1, std::max(1, rows)));
    return true;
}

void Viewer::show_picture_window()
{
    if (!picture_window_) {
        picture_window_ = std::make_unique<PictureWindow>(*this, &form_);
        picture_window_->addActions(form_.actions());
    }
    picture_window_->refresh();
    picture_window_->show();
    picture_window_->raise();
    picture_window_->activateWindow();
}

void Viewer::show_chart(int bus, bool add)
{
    const RunState& st = form_.run_state();
    if (st.num_pass <= 0 || st.n_time <= 0)
        return;
    if (!chart_) {
        chart_ = std::make_unique<BusChart>(*this, &form_);
        // The window's keys work there too, but Ctrl+S saves the chart.
        for (QAction* action : form_.actions())
            if (action != save_action_)
                chart_->addAction(action);
    }
    if (!chart_->show_bus(bus, add && chart_->isVisible()))
        QToolTip::showText(QCursor::pos(), tr("A chart shows at most %1 buses").arg(BusChart::most_buses));
    chart_->show();
    chart_->raise();
}

double Viewer::bus_spacing() const
{
    const RunState& st = form_.run_state();
    if (st.num_pass <= 0 || st.nbus <= 0)
        return 0;
    if (spacing_ < 0)
        spacing_ = umbrascope::bus_spacing(st);
    return spacing_;
}

void Viewer::save_picture(const fs::path& path, const FrameOptions& options) const
{
    FrameOptions frame = options;
    add_colouring(frame);
    if (frame.sized() && !frame.shown)
        frame.bus_spacing = bus_spacing();
    const FrameFacts facts{form_.run_state(), shown_row(form_.run_state(), last_failed_), &sky_, {}, own_outside_note()};
    // The extension in any letter case: picture.SVG is an SVG drawing.
    const QString extension = QString::fromStdString(path.extension().string());
    if (extension.compare(QStringLiteral(".svg"), Qt::CaseInsensitive) == 0) {
        const QByteArray bytes = picture_svg(picture_, facts, frame);
        write_file(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        return;
    }
    IndexedFrame indexed;
    index_frame(picture_frame(picture_, facts, frame), indexed);
    write_file(path, encode_png(indexed));
}

void Viewer::export_run(const fs::path& path, const FrameOptions& options, bool keep_going)
{
    // The export reads the voltages again for its own run, in the window's colouring.
    FrameOptions frame = options;
    frame.by_voltage = by_voltage();
    // A page shows the profile beside the map wherever the run has voltages.
    const QString extension = QString::fromStdString(path.extension().string()).toLower();
    if (extension == QStringLiteral(".html") || extension == QStringLiteral(".htm"))
        frame.profile = voltages() != nullptr;
    frame.show_controls = shown_controls() != nullptr;
    frame.field = nullptr;  // the export reads its own, as it reads the voltages
    frame.controls = nullptr;
    frame.control_places = nullptr;
    frame.voltages = nullptr;
    frame.segments = nullptr;
    frame.profile_axes = nullptr;
    job_ = std::make_unique<ExportJob>(form_.folder(), path, frame, form_.large(), keep_going);
    if (part_)  // its frames and page numbered as the whole sky, the page named for the folder
        job_->set_part(part_->first() - 1, fs::absolute(folder_).lexically_normal().filename().string());
    auto* dialog = new QProgressDialog(tr("Exporting the run to %1").arg(QString::fromStdString(path.string())),
                                       tr("Cancel"), 0, 1, &form_);
    dialog->setWindowTitle(tr("Umbrascope export"));
    dialog->setWindowModality(Qt::NonModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setMinimumDuration(0);
    ExportJob* job = job_.get();
    connect(dialog, &QProgressDialog::canceled, job, &ExportJob::cancel);
    connect(job, &ExportJob::progress, dialog, [dialog](int done, int rows) {
        dialog->setMaximum(std::max(rows, 1));
        dialog->setValue(std::min(done, std::max(rows, 1) - 1));
    });
    connect(job, &ExportJob::finished, dialog,
            [this, dialog, path](const QString& problem, const QString& kept, int passes, int failures) {
                dialog->close();
                if (problem == QStringLiteral("cancelled"))
                    return;
                QString text;
                if (!problem.isEmpty())
                    text = tr("The export failed: %1").arg(problem);
                else if (!kept.isEmpty())
                    text = tr("The export stopped at a failed pass, %1.\n\n\"Go on after a failed pass\" in the export "
                              "dialog exports the failed passes too.")
                               .arg(kept);
                else
                    text = tr("Wrote %1 frames to %2.").arg(passes).arg(QString::fromStdString(path.string()));
                if (problem.isEmpty() && kept.isEmpty() && failures > 0)
                    text += tr(" %1 passes failed; their frames show the picture as each failure left it.").arg(failures);
                const bool bad = !problem.isEmpty() || !kept.isEmpty();
                auto* box = new QMessageBox(bad ? QMessageBox::Warning : QMessageBox::Information, tr("Umbrascope export"),
                                            text, QMessageBox::Ok, &form_);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->setWindowModality(Qt::NonModal);
                box->show();
            });
    emit export_starting(job);
    job->start();
}

namespace {

// Form1's client area in its own pixels: 15 plot units a pixel, no shift.
View window_view()
{
    View view;
    view.origin_x = view.origin_y = 0;
    return view;
}

}  // namespace

QString Viewer::details_at(QPoint pixel) const
{
    return details_near(window_view(), QPointF(pixel), double{marker_reach_twips} / layout::twips_per_pixel);
}

int Viewer::control_near(const View& view, QPointF pixel, double symbols) const
{
    const ControlsTable* table = shown_controls();
    if (table == nullptr || form_.run_state().num_pass <= 0)
        return -1;
    return umbrascope::control_near(form_.run_state(), view, *table, places_, symbols, pixel.x(), pixel.y(), 2 * symbols);
}

int Viewer::bus_near(const View& view, QPointF pixel, double reach) const
{
    const RunState& st = form_.run_state();
    if (st.num_pass <= 0)
        return 0;
    int nearest = 0;
    double best = reach;
    for (int k = 1; k <= st.nbus.value(); ++k) {
        const auto centre = bus_marker_position(st, k);
        if (!centre)
            continue;
        const double distance = std::hypot(view.x(centre->x) - pixel.x(), view.y(centre->y) - pixel.y());
        if (distance <= best) {
            best = distance;
            nearest = k;
        }
    }
    return nearest;
}

QString Viewer::details_near(const View& view, QPointF pixel, double reach, double symbols) const
{
    const RunState& st = form_.run_state();
    if (st.num_pass <= 0)
        return {};
    const int row = row_shown();
    if (const int c = control_near(view, pixel, symbols); c >= 0) {
        const ControlSeries& control = controls()->controls()[static_cast<std::size_t>(c)];
        const auto text = [](const std::string& s) { return QString::fromStdString(s); };
        const bool regulator = control.regulator();
        const auto state = [&](int r, bool clear) {
            return regulator ? tr("tap %1").arg(control.state(r, clear))
                             : tr("%1 %2 in service").arg(control.state(r, clear)).arg(control.state(r, clear) == 1 ? tr("step") : tr("steps"));
        };
        QString said = tr("%1 %2 (%3) at bus %4\nrow %5 (%6): %7")
                           .arg(regulator ? tr("regulator") : tr("capacitor control"), text(control.name), text(control.element),
                                text(control.drawn_bus))
                           .arg(row)
                           .arg(time_text(row), state(row, false));
        if (control.acts(row))
            said += tr(", from %1 in the row before: it acts").arg(control.state(row - 1));
        if (control.clear_settle)
            said += tr("\nunder a clear sky: %1").arg(state(row, true));
        return said + tr("\n(click for its chart)");
    }
    if (const int k = bus_near(view, pixel, reach); k > 0) {
        const Integer index(static_cast<std::int16_t>(k));
        const auto none = [] { return std::string(); };
        Text value;
        double v = 0;
        if (row >= 0 && row <= 32767) {
            try {
                const Cell cell = st.sun_table(Integer(static_cast<std::int16_t>(row)), index);
                value = cell_text(cell);
                v = cell.value();
            } catch (const PassError&) {  // a row or bus beyond the table: no value to show
            }
        }
        const QString threshold = qtext(single_text(st.sun_threshold));
        const QString cls = v > 0.99 ? QStringLiteral("above 0.99")
                            : v > st.sun_threshold ? QStringLiteral("above the threshold %1").arg(threshold)
                                                   : QStringLiteral("at most the threshold %1").arg(threshold);
        QString voltage;
        if (voltages_checked_ && voltages_) {
            const PerUnit low = voltages_->lowest(row, k);
            const PerUnit high = voltages_->highest(row, k);
            const std::string_view name = class_name(voltages_->class_of(row, k));
            voltage = low == no_voltage
                          ? tr("\nvoltage: none")
                          : tr("\nvoltage: lowest %1, highest %2 pu (%3)")
                                .arg(low / 10000.0, 0, 'f', 4)
                                .arg(high / 10000.0, 0, 'f', 4)
                                .arg(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        }
        if (hosting_bound_)
            if (const std::string rows = hosting_->rows_of(k); !rows.empty())
                voltage += tr("\nhosting capacity (locational_hc.csv):\n") + QString::fromStdString(rows).trimmed();
        return QStringLiteral("bus %1: number %2, %3\nrow %4 (%8): %5, %6%7\n(click for its chart)")
            .arg(k)
            .arg(st.bus_num.at(index, none).value())
            .arg(qtext(st.bus_name.at(index, none)))
            .arg(row)
            .arg(value.empty() ? QStringLiteral("(empty)") : qtext(value))
            .arg(cls, voltage, time_text(row));
    }
    for (const auto& [cloud_x, cloud_y] : cloud_centres(picture_.shapes())) {
        if (std::hypot(view.x(cloud_x) - pixel.x(), view.y(cloud_y) - pixel.y()) > 3 * view.symbol_scale * layout::twips_per_pixel)
            continue;
        // Back from plot units to the network's coordinates.
        const double width = st.xp_max.value() - st.xp_min.value();
        const double height = st.yp_max.value() - st.yp_min.value();
        const double x = width != 0 ? (cloud_x - st.xp_min.value()) / width * st.c_span + st.xc_min : 0;
        const double y = height != 0 ? (st.yp_max.value() - cloud_y) / height * st.c_span + st.yc_min : 0;
        return QStringLiteral("cloud of step %1 at (%2, %3)")
            .arg(row)
            .arg(qtext(single_text(static_cast<Single>(x))), qtext(single_text(static_cast<Single>(y))));
    }
    return {};
}

bool Viewer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != &form_)
        return false;
    if (event->type() == QEvent::ContextMenu) {
        const auto* menu_event = static_cast<QContextMenuEvent*>(event);
        // The list boxes keep their own behaviour; anywhere else on the window shows the menu.
        for (QWidget* child = form_.childAt(menu_event->pos()); child != nullptr; child = child->parentWidget())
            if (qobject_cast<QListWidget*>(child) != nullptr)
                return false;
        menu_->popup(menu_event->globalPos());
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            if (const int control = control_near(window_view(), mouse->position(), 1); control >= 0) {
                show_control_chart(control);
                return false;
            }
        const int bus = mouse->button() == Qt::LeftButton
                            ? bus_near(window_view(), mouse->position(), double{marker_reach_twips} / layout::twips_per_pixel)
                            : 0;
        if (bus > 0)
            show_chart(bus, (mouse->modifiers() & Qt::ControlModifier) != 0);
        return false;
    }
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString text = details_at(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, &form_);
        return true;
    }
    return false;
}

void Viewer::choose_folder()
{
    const QString start = QSettings().value(QStringLiteral("folder"), umbrascope::folder_text(folder_)).toString();
    const QString folder = QFileDialog::getExistingDirectory(&form_, tr("Open a folder of Umbrascope input files"), start);
    if (!folder.isEmpty())
        open_folder(folder.toStdString());
}

std::optional<FrameOptions> Viewer::shown_frame() const
{
    if (!picture_window_ || !picture_window_->isVisible())
        return std::nullopt;
    FrameOptions options = picture_window_->picture()->frame_options();
    options.width = std::clamp(options.width, smallest_frame_side, largest_frame_width);
    options.height = std::clamp(options.height, smallest_frame_side, largest_frame_height);
    options.shown = picture_window_->picture()->view();
    return options;
}

void Viewer::choose_save()
{
    FrameDialog dialog(&form_, FramePurpose::picture, tr("Save the picture"), QString::fromStdString(folder_.string()),
                       QStringLiteral("picture"), {QStringLiteral(".png"), QStringLiteral(".svg")},
                       {tr("PNG image"), tr("SVG drawing")}, shown_frame());
    if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty())
        return;
    dialog.remember();
    const QString path = dialog.path();
    try {
        save_picture(path.toStdString(), dialog.options());
        // A short sign in the title, for three seconds of animation.
        saved_note_ = tr("saved %1").arg(path);
        saved_until_ = QDeadlineTimer(3000);
        update_title();
        QTimer::singleShot(3000, this, &Viewer::update_title);
    } catch (const WriteError& error) {
        QMessageBox::warning(&form_, tr("Umbrascope"), QString::fromStdString(error.what()));
    }
}

void Viewer::choose_export()
{
    if (job_ && job_->running()) {
        QMessageBox::information(&form_, tr("Umbrascope"), tr("An export is still running."));
        return;
    }
    FrameDialog dialog(&form_, FramePurpose::run, tr("Export the whole run"), QString::fromStdString(folder_.string()),
                       QStringLiteral("run"),
                       {QStringLiteral(".gif"), QStringLiteral(".mp4"), QStringLiteral(".webm"), QStringLiteral(".html")},
                       {tr("GIF animation, lossless"), tr("MP4 video"), tr("WebM video"),
                        tr("Web page, the whole run for any browser, offline")},
                       shown_frame());
    if (dialog.exec() != QDialog::Accepted || dialog.path().isEmpty())
        return;
    dialog.remember();
    export_run(dialog.path().toStdString(), dialog.options(), dialog.keep_going());
}

}  // namespace umbrascope

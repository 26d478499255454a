#pragma once
// Form1: the application's only window. A fixed layout in twips (15 per pixel): the command button,
// three list boxes, the pass counter, Timer1, and the four frame lines that it paints itself.
// It owns the run state and the retained picture; its two handlers each run one pass.

#include <QObject>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "output/canvas.hpp"
#include "run/recolour.hpp"
#include "run/row_jump.hpp"
#include "core/run_state.hpp"

class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;

namespace umbrascope {

class ErrorReport;

// A line control: four endpoints in twips, read by the passes, painted by the window.
class LineShape : public QObject {
    Q_OBJECT
    Q_PROPERTY(float X1 MEMBER X1)
    Q_PROPERTY(float Y1 MEMBER Y1)
    Q_PROPERTY(float X2 MEMBER X2)
    Q_PROPERTY(float Y2 MEMBER Y2)

public:
    LineShape(const QString& name, LineEnds ends, QObject* parent);
    [[nodiscard]] LineEnds ends() const { return {X1, Y1, X2, Y2}; }

    float X1;
    float Y1;
    float X2;
    float Y2;
};

class Form1 : public QWidget, private Controls {
    Q_OBJECT

public:
    // `large`: the run takes large inputs (see RunState).
    explicit Form1(std::filesystem::path folder = ".", bool large = false, QWidget* parent = nullptr);
    ~Form1() override;

    // The two event handlers; each runs one pass, and a failure leaves them as PassError.
    void Coordinates_Command_Button_Click();
    void Timer1_Timer();

    [[nodiscard]] const RunState& run_state() const { return *st_; }
    [[nodiscard]] const Canvas& canvas() const { return *canvas_; }
    [[nodiscard]] ErrorReport* error_report() const { return report_; }

    // Beyond the one button, for the viewer around the window:
    // A new run in `folder`, as if the window had just opened there: a fresh run state, the
    // controls as they start, the picture blank. The files are read again by the next click.
    void restart(std::filesystem::path folder, bool large);
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
    [[nodiscard]] bool large() const { return large_; }  // the tables reach to 32767
    // While paused Timer1 does not tick, whatever the passes set; a click still runs a pass.
    void set_paused(bool paused);
    [[nodiscard]] bool paused() const { return paused_; }
    // Whether the passes last left Timer1 enabled, paused or not.
    [[nodiscard]] bool timer_enabled() const { return timer_enabled_; }
    // A second surface that also receives every drawing call of the passes, or none.
    void set_observer(Surface* surface) { tee_.set_second(surface); }
    // The colours the bus discs take instead of their sunlight classes, from the next pass on;
    // nullptr for the classes.
    void set_colouring(const BusColouring* colouring) { recolour_.set_colouring(colouring); }
    [[nodiscard]] const BusColouring* colouring() const { return recolour_.colouring(); }
    // Drawn over a copy of the passes' picture when the window paints it (the measured sky's shade,
    // symbols); none for the picture as the passes drew it.
    void set_overlay(std::function<void(QImage&)> overlay)
    {
        overlay_ = std::move(overlay);
        update();
    }
    // One pass as a tick would run it, or as a click would, reported at this event's edge.
    void step();
    void click();
    // The pass that draws `row` (1 to the row count), as a straight run's pass of that row, at
    // once; the first pass is run first if it has not been. Reported at this event's edge.
    void jump_to_row(int row);

signals:
    void passEnded(bool failed);  // after every click or tick
    void restarted();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void set_pass_text(TextView text) override;
    void append_item(ListBox box, TextView text) override;
    void set_timer_enabled(bool enabled) override;
    [[nodiscard]] LineEnds line_ends(LineControl line) const override;

    // The event edge: the one place where a failed pass is caught and reported.
    void at_event_edge(void (Form1::*handler)());

    QLineEdit* Num_Pass_Textbox;
    QTimer* Timer1;
    QListWidget* Info_Listbox;
    QListWidget* Coordinates_Repeated_Listbox;
    QListWidget* Coordinates_Listbox;
    QPushButton* Coordinates_Command_Button;
    LineShape* Line_Bottom;
    LineShape* Line_Right;
    LineShape* Line_Top;
    LineShape* Line_Left;

    void make_run();
    void jump();  // to jump_row_

    int jump_row_ = 0;
    std::unique_ptr<TrackIndex> track_index_;  // made at the first jump of a run

    std::filesystem::path folder_;
    bool large_ = false;
    std::unique_ptr<RunState> st_;
    std::unique_ptr<InputSlot> input_;
    std::unique_ptr<Canvas> canvas_;
    TeeSurface tee_;  // the canvas, and the observer if any
    RecolourSurface recolour_;  // before the tee: the discs in a colouring's colours, if one is set
    std::unique_ptr<Pass> pass_;  // refers to the five above
    ErrorReport* report_;
    bool paused_ = false;
    std::function<void(QImage&)> overlay_;
    QImage overlaid_;
    bool timer_enabled_ = false;
};

}  // namespace umbrascope

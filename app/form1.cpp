#include "app/form1.hpp"

#include <QFont>
#include <algorithm>
#include <QLineEdit>
#include <QListWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include "app/error_report.hpp"
#include "run/pass_driver.hpp"
#include "core/layout.hpp"

namespace umbrascope {

namespace {

QRect pixels(const layout::Box& box)
{
    constexpr int t = layout::twips_per_pixel;
    return {box.left / t, box.top / t, box.width / t, box.height / t};
}

template <class W>
W* make_control(QWidget* parent, const layout::Box& box)
{
    auto* widget = new W(parent);
    const QString name = QString::fromLatin1(box.name.data(), static_cast<qsizetype>(box.name.size()));
    widget->setObjectName(name);
    widget->setAccessibleName(name);
    widget->setGeometry(pixels(box));
    return widget;
}

QListWidget* make_list(QWidget* parent, const layout::Box& box)
{
    auto* list = make_control<QListWidget>(parent, box);
    list->setSortingEnabled(false);
    list->setUniformItemSizes(true);  // keeps appending fast when very many items arrive
    return list;
}

}  // namespace

LineShape::LineShape(const QString& name, LineEnds ends, QObject* parent)
    : QObject(parent), X1(ends.X1), Y1(ends.Y1), X2(ends.X2), Y2(ends.Y2)
{
    setObjectName(name);
}

Form1::Form1(std::filesystem::path folder, bool large, QWidget* parent)
    : QWidget(parent),
      folder_(std::move(folder)),
      large_(large),
      canvas_(std::make_unique<Canvas>(devicePixelRatioF())),
      tee_(*canvas_, nullptr),
      recolour_(tee_)
{
    make_run();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Umbrascope, by the Umbrascope developers, December 2026"));
    setAutoFillBackground(true);
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    resize(layout::client_width / layout::twips_per_pixel, layout::client_height / layout::twips_per_pixel);

    // The controls in the window's control order.
    Num_Pass_Textbox = make_control<QLineEdit>(this, layout::Num_Pass_Textbox);
    Num_Pass_Textbox->setText(QStringLiteral("Num_Pass_Textbox"));
    Num_Pass_Textbox->setCursorPosition(0);  // the start of a text wider than the box shows
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    Timer1->setTimerType(Qt::PreciseTimer);
    Info_Listbox = make_list(this, layout::Info_Listbox);
    Coordinates_Repeated_Listbox = make_list(this, layout::Coordinates_Repeated_Listbox);
    Coordinates_Listbox = make_list(this, layout::Coordinates_Listbox);
    Coordinates_Command_Button = make_control<QPushButton>(this, layout::Coordinates_Command_Button);
    Coordinates_Command_Button->setText(QStringLiteral("READ COORDINATES"));
    Coordinates_Command_Button->setAutoDefault(true);  // Enter clicks it as Space does
    QFont bold(QStringLiteral("Sans Serif"));
    bold.setStyleHint(QFont::SansSerif);
    bold.setPointSizeF(8.25);
    bold.setWeight(QFont::Bold);
    bold.setItalic(false);
    bold.setUnderline(false);
    bold.setStrikeOut(false);
    Coordinates_Command_Button->setFont(bold);
    Line_Bottom = new LineShape(QStringLiteral("Line_Bottom"), layout::design_ends(LineControl::Line_Bottom), this);
    Line_Right = new LineShape(QStringLiteral("Line_Right"), layout::design_ends(LineControl::Line_Right), this);
    Line_Top = new LineShape(QStringLiteral("Line_Top"), layout::design_ends(LineControl::Line_Top), this);
    Line_Left = new LineShape(QStringLiteral("Line_Left"), layout::design_ends(LineControl::Line_Left), this);

    setTabOrder(Coordinates_Command_Button, Coordinates_Listbox);
    setTabOrder(Coordinates_Listbox, Coordinates_Repeated_Listbox);
    setTabOrder(Coordinates_Repeated_Listbox, Info_Listbox);
    setTabOrder(Info_Listbox, Num_Pass_Textbox);
    Coordinates_Command_Button->setFocus();

    report_ = new ErrorReport(this);

    connect(Coordinates_Command_Button, &QPushButton::clicked, this,
            [this] { at_event_edge(&Form1::Coordinates_Command_Button_Click); });
    connect(Timer1, &QTimer::timeout, this, [this] { at_event_edge(&Form1::Timer1_Timer); });
}

Form1::~Form1() = default;

void Form1::make_run()
{
    st_ = std::make_unique<RunState>(large_);
    input_ = std::make_unique<InputSlot>(folder_);
    input_->set_restart_hint("press F5 to read the files again and start anew");
    recolour_.set_state(*st_);
    pass_ = std::make_unique<Pass>(Pass{*st_, *input_, *this, recolour_});
    track_index_.reset();
}

void Form1::restart(std::filesystem::path folder, bool large)
{
    large_ = large;
    Timer1->stop();
    timer_enabled_ = false;
    folder_ = std::move(folder);
    make_run();
    canvas_->clear();
    Num_Pass_Textbox->setText(QStringLiteral("Num_Pass_Textbox"));
    Num_Pass_Textbox->setCursorPosition(0);
    for (QListWidget* list : {Info_Listbox, Coordinates_Repeated_Listbox, Coordinates_Listbox})
        list->clear();
    update();
    emit restarted();
}

void Form1::set_paused(bool paused)
{
    paused_ = paused;
    if (paused)
        Timer1->stop();
    else if (timer_enabled_ && !Timer1->isActive())
        Timer1->start();
}

void Form1::step() { at_event_edge(&Form1::Timer1_Timer); }

void Form1::click() { at_event_edge(&Form1::Coordinates_Command_Button_Click); }

void Form1::jump_to_row(int row)
{
    if (st_->num_pass < 1)
        click();
    if (st_->n_time < 1)
        return;  // the first pass failed before it knew the rows
    jump_row_ = std::clamp(row, 1, st_->n_time.value());
    at_event_edge(&Form1::jump);
}

void Form1::jump()
{
    if (!track_index_)
        track_index_ = std::make_unique<TrackIndex>(folder_, *st_);
    if (track_index_->reaches(jump_row_)) {
        umbrascope::jump_to_row(*pass_, *track_index_, jump_row_);
        return;
    }
    // A record the index could not read lies before this row: the straight run itself, from the
    // first pass, is what the row shows.
    restart(folder_, large_);
    do {
        run_pass(*pass_);
    } while (st_->i_time.value() <= jump_row_ && st_->i_time <= st_->n_time);
}

void Form1::Coordinates_Command_Button_Click() { run_pass(*pass_); }

void Form1::Timer1_Timer() { Coordinates_Command_Button_Click(); }

void Form1::at_event_edge(void (Form1::*handler)())
{
    bool failed = false;
    try {
        (this->*handler)();
    } catch (const PassError& error) {
        failed = true;
        report_->report(error, large_);
    }
    recolour_.flush();  // the discs held back to go above, where the pass ended before its last
    if (!failed)
        report_->pass_succeeded();
    update();  // whatever the pass drew, up to its end or its failure
    emit passEnded(failed);
}

void Form1::paintEvent(QPaintEvent* /*event*/)
{
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 0));
    constexpr float t = layout::twips_per_pixel;
    for (const LineShape* line : {Line_Bottom, Line_Right, Line_Top, Line_Left})
        painter.drawLine(QPointF(line->X1 / t, line->Y1 / t), QPointF(line->X2 / t, line->Y2 / t));
    const QImage& picture = canvas_->image();
    const QRectF logical(QPointF(0, 0), picture.deviceIndependentSize());
    if (overlay_) {
        // What the viewer shows over the passes' picture, on a copy of it.
        overlaid_ = picture.copy();
        overlay_(overlaid_);
        painter.drawImage(logical, overlaid_);
        return;
    }
    painter.drawImage(logical, picture);
}

void Form1::set_pass_text(TextView text) { Num_Pass_Textbox->setText(QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size()))); }

void Form1::append_item(ListBox box, TextView text)
{
    QListWidget* list = box == ListBox::Coordinates_Listbox           ? Coordinates_Listbox
                        : box == ListBox::Coordinates_Repeated_Listbox ? Coordinates_Repeated_Listbox
                                                                      : Info_Listbox;
    list->addItem(QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size())));
}

void Form1::set_timer_enabled(bool enabled)
{
    // Enabling a running timer keeps its rhythm rather than restarting the interval.
    timer_enabled_ = enabled;
    if (!enabled)
        Timer1->stop();
    else if (!Timer1->isActive() && !paused_)
        Timer1->start();
}

LineEnds Form1::line_ends(LineControl line) const
{
    switch (line) {
    case LineControl::Line_Bottom: return Line_Bottom->ends();
    case LineControl::Line_Right: return Line_Right->ends();
    case LineControl::Line_Top: return Line_Top->ends();
    case LineControl::Line_Left: return Line_Left->ends();
    }
    return {};
}

}  // namespace umbrascope

#pragma once
// The trace: every observable event of a run, one per line, fields separated by one TAB, UTF-8,
// LF line ends. Also the recording controls and the tracing surface that produce it, which the
// exporter, the tests and the fuzz targets run passes against.

#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/layout.hpp"
#include "core/world.hpp"

namespace umbrascope {

class Trace {
public:
    explicit Trace(std::ostream* out) : out_(out) {}  // nullptr: record nothing

    void pass(int ordinal, bool tick);
    void text(std::string_view control, TextView text);
    void item(std::string_view control, TextView text);
    void timer(bool on);
    void style(LineStyle style);
    void box(Single x1, Single y1, Single x2, Single y2, Colour colour);
    void line(Single x1, Single y1, Single x2, Single y2, Colour colour);
    void circle(Single x, Single y, Single radius, Colour colour);
    void error(const PassError& error);

private:
    void shape(std::string_view tag, std::initializer_list<Single> numbers, Colour colour);
    std::ostream* out_;
    std::string scratch_;
};

[[nodiscard]] std::string colour_text(Colour colour);

// Controls that keep what the passes put into them, reporting each call to a trace.
class RecordingControls : public Controls {
public:
    explicit RecordingControls(Trace* trace = nullptr) : trace_(trace) {}

    void set_pass_text(TextView text) override;
    void append_item(ListBox box, TextView text) override;
    void set_timer_enabled(bool enabled) override;
    [[nodiscard]] LineEnds line_ends(LineControl line) const override;

    void move_line(LineControl line, LineEnds ends);

    Text pass_text = U"Num_Pass_Textbox";
    std::array<std::vector<Text>, 3> items;
    bool timer_enabled = false;
    int timer_calls = 0;

    [[nodiscard]] const std::vector<Text>& list(ListBox box) const { return items.at(static_cast<std::size_t>(box)); }

private:
    Trace* trace_;
    std::array<LineEnds, 4> ends_{layout::lines[0].ends, layout::lines[1].ends, layout::lines[2].ends,
                                  layout::lines[3].ends};
};

// A surface that reports every call to a trace and hands it on to an inner surface, if any.
class TraceSurface : public Surface {
public:
    TraceSurface(Trace* trace, Surface* inner) : trace_(trace), inner_(inner) {}

    void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) override;
    void draw_circle(Single x, Single y, Single radius, Colour colour) override;
    void set_line_style(LineStyle style) override;

private:
    Trace* trace_;
    Surface* inner_;
};

}  // namespace umbrascope

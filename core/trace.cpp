#include "core/trace.hpp"

#include <cstdio>

namespace umbrascope {

std::string colour_text(Colour colour)
{
    std::array<char, 8> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "#%02x%02x%02x", colour.r, colour.g, colour.b);
    return buffer.data();
}

void Trace::pass(int ordinal, bool tick)
{
    if (out_ != nullptr)
        *out_ << "pass\t" << ordinal << '\t' << (tick ? "tick" : "click") << '\n';
}

void Trace::text(std::string_view control, TextView text)
{
    if (out_ != nullptr)
        *out_ << "text\t" << control << '\t' << encode_utf8(text) << '\n';
}

void Trace::item(std::string_view control, TextView text)
{
    if (out_ != nullptr)
        *out_ << "item\t" << control << '\t' << encode_utf8(text) << '\n';
}

void Trace::timer(bool on)
{
    if (out_ != nullptr)
        *out_ << "timer\t" << (on ? "on" : "off") << '\n';
}

void Trace::style(LineStyle style)
{
    if (out_ != nullptr)
        *out_ << "style\t" << (style == LineStyle::solid ? "solid" : "dotted") << '\n';
}

void Trace::shape(std::string_view tag, std::initializer_list<Single> numbers, Colour colour)
{
    if (out_ == nullptr)
        return;
    scratch_.assign(tag);
    for (const Single number : numbers) {
        scratch_ += '\t';
        scratch_ += shortest_float_text(number);
    }
    scratch_ += '\t';
    scratch_ += colour_text(colour);
    scratch_ += '\n';
    *out_ << scratch_;
}

void Trace::box(Single x1, Single y1, Single x2, Single y2, Colour colour) { shape("box", {x1, y1, x2, y2}, colour); }
void Trace::line(Single x1, Single y1, Single x2, Single y2, Colour colour) { shape("line", {x1, y1, x2, y2}, colour); }
void Trace::circle(Single x, Single y, Single radius, Colour colour) { shape("circle", {x, y, radius}, colour); }

void Trace::error(const PassError& error)
{
    if (out_ != nullptr)
        *out_ << "error\t" << kind_name(error.kind()) << '\t' << error.what() << '\n';
}

void RecordingControls::set_pass_text(TextView text)
{
    pass_text.assign(text);
    if (trace_ != nullptr)
        trace_->text("Num_Pass_Textbox", text);
}

void RecordingControls::append_item(ListBox box, TextView text)
{
    items.at(static_cast<std::size_t>(box)).emplace_back(text);
    if (trace_ != nullptr)
        trace_->item(control_name(box), text);
}

void RecordingControls::set_timer_enabled(bool enabled)
{
    timer_enabled = enabled;
    ++timer_calls;
    if (trace_ != nullptr)
        trace_->timer(enabled);
}

LineEnds RecordingControls::line_ends(LineControl line) const { return ends_.at(static_cast<std::size_t>(line)); }

void RecordingControls::move_line(LineControl line, LineEnds ends) { ends_.at(static_cast<std::size_t>(line)) = ends; }

void TraceSurface::draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    if (trace_ != nullptr)
        trace_->line(x1, y1, x2, y2, colour);
    if (inner_ != nullptr)
        inner_->draw_line(x1, y1, x2, y2, colour);
}

void TraceSurface::fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour)
{
    if (trace_ != nullptr)
        trace_->box(x1, y1, x2, y2, colour);
    if (inner_ != nullptr)
        inner_->fill_box(x1, y1, x2, y2, colour);
}

void TraceSurface::draw_circle(Single x, Single y, Single radius, Colour colour)
{
    if (trace_ != nullptr)
        trace_->circle(x, y, radius, colour);
    if (inner_ != nullptr)
        inner_->draw_circle(x, y, radius, colour);
}

void TraceSurface::set_line_style(LineStyle style)
{
    if (trace_ != nullptr)
        trace_->style(style);
    if (inner_ != nullptr)
        inner_->set_line_style(style);
}

}  // namespace umbrascope

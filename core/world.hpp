#pragma once
// The two small interfaces through which a pass touches the world: the window's controls and its
// drawing surface. The window and the headless exporter each provide both.

#include <cstdint>
#include <string_view>

#include "core/numeric.hpp"
#include "core/text.hpp"

namespace umbrascope {

enum class ListBox { Coordinates_Listbox, Coordinates_Repeated_Listbox, Info_Listbox };
enum class LineControl { Line_Bottom, Line_Right, Line_Top, Line_Left };

[[nodiscard]] std::string_view control_name(ListBox box);
[[nodiscard]] std::string_view control_name(LineControl line);

struct LineEnds {
    Single X1 = 0;
    Single Y1 = 0;
    Single X2 = 0;
    Single Y2 = 0;
};

class Controls {
public:
    virtual ~Controls() = default;
    virtual void set_pass_text(TextView text) = 0;  // Num_Pass_Textbox
    virtual void append_item(ListBox box, TextView text) = 0;
    virtual void set_timer_enabled(bool enabled) = 0;  // Timer1
    [[nodiscard]] virtual LineEnds line_ends(LineControl line) const = 0;
};

struct Colour {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend constexpr bool operator==(Colour, Colour) = default;
};

// The standard 16-colour palette by index 0..15.
[[nodiscard]] Colour palette(int index);
inline constexpr Colour colour_value_0{0, 0, 0};

enum class LineStyle { solid, dotted };

// Plot units: twips, origin at the top-left corner of the client area, y downward.
class Surface {
public:
    virtual ~Surface() = default;
    virtual void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) = 0;
    virtual void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) = 0;
    virtual void draw_circle(Single x, Single y, Single radius, Colour colour) = 0;
    virtual void set_line_style(LineStyle style) = 0;
};

// Draws nothing: for passes whose pictures nobody looks at.
class NoSurface : public Surface {
public:
    void draw_line(Single, Single, Single, Single, Colour) override {}
    void fill_box(Single, Single, Single, Single, Colour) override {}
    void draw_circle(Single, Single, Single, Colour) override {}
    void set_line_style(LineStyle) override {}
};

// Hands every drawing call to two surfaces; the second may be absent.
class TeeSurface : public Surface {
public:
    TeeSurface(Surface& first, Surface* second) : first_(&first), second_(second) {}
    void set_first(Surface& first) { first_ = &first; }
    void set_second(Surface* second) { second_ = second; }
    void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) override
    {
        first_->draw_line(x1, y1, x2, y2, colour);
        if (second_ != nullptr)
            second_->draw_line(x1, y1, x2, y2, colour);
    }
    void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) override
    {
        first_->fill_box(x1, y1, x2, y2, colour);
        if (second_ != nullptr)
            second_->fill_box(x1, y1, x2, y2, colour);
    }
    void draw_circle(Single x, Single y, Single radius, Colour colour) override
    {
        first_->draw_circle(x, y, radius, colour);
        if (second_ != nullptr)
            second_->draw_circle(x, y, radius, colour);
    }
    void set_line_style(LineStyle style) override
    {
        first_->set_line_style(style);
        if (second_ != nullptr)
            second_->set_line_style(style);
    }

private:
    Surface* first_;
    Surface* second_;
};

}  // namespace umbrascope

#pragma once
// The window's design values, in twips (15 per pixel at 96 dots per inch). The window places its
// controls from these, and the recording controls report the same line endpoints.

#include <array>
#include <string_view>

#include "core/world.hpp"

namespace umbrascope::layout {

inline constexpr int twips_per_pixel = 15;
inline constexpr int client_width = 11910;
inline constexpr int client_height = 9255;

struct Box {
    std::string_view name;
    int left;
    int top;
    int width;
    int height;
};

inline constexpr Box Num_Pass_Textbox{"Num_Pass_Textbox", 240, 8640, 1575, 375};
inline constexpr Box Info_Listbox{"Info_Listbox", 2640, 7800, 9015, 1230};
inline constexpr Box Coordinates_Repeated_Listbox{"Coordinates_Repeated_Listbox", 2640, 840, 1935, 6690};
inline constexpr Box Coordinates_Listbox{"Coordinates_Listbox", 120, 840, 2415, 7665};
inline constexpr Box Coordinates_Command_Button{"Coordinates_Command_Button", 120, 120, 2175, 615};

struct Line {
    LineControl control;
    LineEnds ends;
};

// In the window's control order.
inline constexpr std::array<Line, 4> lines{{
    {LineControl::Line_Bottom, {4680, 7560, 11520, 7560}},
    {LineControl::Line_Right, {11520, 840, 11520, 7560}},
    {LineControl::Line_Top, {4680, 840, 11520, 840}},
    {LineControl::Line_Left, {4680, 840, 4680, 7560}},
}};

[[nodiscard]] constexpr LineEnds design_ends(LineControl control)
{
    for (const Line& line : lines)
        if (line.control == control)
            return line.ends;
    return {};
}

}  // namespace umbrascope::layout

#include "core/world.hpp"

#include <array>

namespace umbrascope {

std::string_view control_name(ListBox box)
{
    switch (box) {
    case ListBox::Coordinates_Listbox: return "Coordinates_Listbox";
    case ListBox::Coordinates_Repeated_Listbox: return "Coordinates_Repeated_Listbox";
    case ListBox::Info_Listbox: return "Info_Listbox";
    }
    return "";
}

std::string_view control_name(LineControl line)
{
    switch (line) {
    case LineControl::Line_Bottom: return "Line_Bottom";
    case LineControl::Line_Right: return "Line_Right";
    case LineControl::Line_Top: return "Line_Top";
    case LineControl::Line_Left: return "Line_Left";
    }
    return "";
}

Colour palette(int index)
{
    static constexpr std::array<Colour, 16> colours{{
        {0, 0, 0}, {0, 0, 128}, {0, 128, 0}, {0, 128, 128},
        {128, 0, 0}, {128, 0, 128}, {128, 128, 0}, {192, 192, 192},
        {128, 128, 128}, {0, 0, 255}, {0, 255, 0}, {0, 255, 255},
        {255, 0, 0}, {255, 0, 255}, {255, 255, 0}, {255, 255, 255},
    }};
    return colours.at(static_cast<std::size_t>(index & 15));
}

}  // namespace umbrascope

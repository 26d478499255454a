#pragma once
// feeder_elements.csv, which umbrascope-import writes beside the network: each element that makes
// or takes power where the sun falls (Load, PVSystem, Generator, Storage), its bus, and the drawn
// bus that stands for it. umbrascope-clouds gives PV systems their drawn bus's sky by it, and a
// study watches the customers' buses a drawn bus stands for.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

inline constexpr std::string_view elements_file_name = "feeder_elements.csv";

struct StandIn {
    std::string element;    // "PVSystem.pv_12", as spelt after New
    std::string bus;        // its bus1, lower case, without node suffix; empty when it names none
    std::string drawn_bus;  // the network file's name of the drawn bus for it; empty when none
};

// The file: "element,bus,drawn_bus", then a line for each, fields quoted where they must be.
[[nodiscard]] std::string elements_file_text(const std::vector<StandIn>& elements);

// Reads the text of such a file, `file` naming it in messages. Throws FolderError.
[[nodiscard]] std::vector<StandIn> read_elements_text(std::string_view text, const std::string& file);

// The element map of `folder`; empty where it has none. Throws FolderError.
[[nodiscard]] std::vector<StandIn> read_element_map(const std::filesystem::path& folder);

// Whether an element name is of the class `element_class` (lower case): "PVSystem.pv1" is "pvsystem".
[[nodiscard]] bool is_class(std::string_view element, std::string_view element_class);

}  // namespace umbrascope

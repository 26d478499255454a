#include "model/element_map.hpp"

#include <optional>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "model/folder_error.hpp"
#include "model/read_file.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

std::string elements_file_text(const std::vector<StandIn>& elements)
{
    std::string out = "element,bus,drawn_bus\n";
    out.reserve(out.size() + elements.size() * 48);
    for (const StandIn& row : elements) {
        append_csv(out, row.element);
        out += ',';
        append_csv(out, row.bus);
        out += ',';
        append_csv(out, row.drawn_bus);
        out += '\n';
    }
    return out;
}

std::vector<StandIn> read_elements_text(std::string_view text, const std::string& file)
{
    std::vector<StandIn> out;
    each_line(text, [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        std::optional<std::vector<std::string>> fields = csv_fields(line);
        if (!fields || fields->size() != 3)
            throw FolderError(file + ":" + std::to_string(number) + ": a line is element,bus,drawn_bus");
        out.push_back({std::move((*fields)[0]), std::move((*fields)[1]), std::move((*fields)[2])});
    });
    return out;
}

std::vector<StandIn> read_element_map(const fs::path& folder)
{
    const fs::path path = folder / elements_file_name;
    std::error_code error;
    if (!fs::exists(path, error))
        return {};
    return read_elements_text(read_whole_file(path, "element map"), path.string());
}

bool is_class(std::string_view element, std::string_view element_class)
{
    const std::size_t dot = element.find('.');
    return dot != std::string_view::npos && lower(element.substr(0, dot)) == element_class;
}

}  // namespace umbrascope

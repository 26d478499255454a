#include "model/distances.hpp"

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "model/folder_error.hpp"
#include "model/read_file.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

std::string distances_file_text(const std::vector<DrawnDistance>& distances)
{
    std::string out = "bus,distance_km,paths\n";
    for (const DrawnDistance& row : distances) {
        append_csv(out, row.bus);
        out += ',';
        if (row.km)
            append_decimal(out, *row.km, 6);
        out += row.meshed ? ",more than one\n" : ",\n";
    }
    return out;
}

std::vector<DrawnDistance> read_distances_text(std::string_view text, const std::string& file)
{
    std::vector<DrawnDistance> out;
    each_line(text, [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        std::optional<std::vector<std::string>> fields = csv_fields(line);
        std::optional<double> km;
        // An import before the paths were told wrote two fields.
        const bool bad = !fields || fields->size() < 2 || fields->size() > 3 ||
                         (!(*fields)[1].empty() && (!(km = number_of((*fields)[1])) || *km < 0));
        if (bad)
            throw FolderError(file + ":" + std::to_string(number) + ": a line is bus,distance_km,paths");
        const bool meshed = fields->size() == 3 && !(*fields)[2].empty();
        out.push_back({std::move((*fields)[0]), km, meshed});
    });
    return out;
}

std::optional<std::vector<DrawnDistance>> read_distances(const fs::path& folder)
{
    const fs::path path = folder / distances_file_name;
    std::error_code error;
    if (!fs::exists(path, error))
        return std::nullopt;
    return read_distances_text(read_whole_file(path, "distances file"), path.string());
}

}  // namespace umbrascope

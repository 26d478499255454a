#pragma once
// feeder_distances.csv, which umbrascope-import writes beside the network: each drawn bus's
// distance from the circuit's source along its lines, as OpenDSS measures a bus's distance, in km;
// empty where no line leads to it (or the network came from two tables).

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace umbrascope {

inline constexpr std::string_view distances_file_name = "feeder_distances.csv";

struct DrawnDistance {
    std::string bus;               // as the network file names it
    std::optional<double> km;
    // Reached from the source by more than one path along the lines (a meshed part of the
    // feeder): the shortest is given, where the engine measures along a tree of its own.
    bool meshed = false;
};

[[nodiscard]] std::string distances_file_text(const std::vector<DrawnDistance>& distances);
// Throws FolderError, naming `file`.
[[nodiscard]] std::vector<DrawnDistance> read_distances_text(std::string_view text, const std::string& file);
// The folder's; nothing where it has none (an import older than the file).
[[nodiscard]] std::optional<std::vector<DrawnDistance>> read_distances(const std::filesystem::path& folder);

}  // namespace umbrascope

#pragma once
// The map of a search by bus: the feeder as the import drew it, each line coloured by the hosting
// capacity at its downstream bus in bands of kW, a ring where the cloud holds a bus below its
// clear-sky answer, and a legend.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace umbrascope::sweep {

// A searched bus where it is drawn; several buses drawn at one take the least.
struct MapBus {
    std::string drawn_bus;  // as the network file names it
    std::optional<double> hc_kw, clear_hc_kw;  // nothing where not found
};

struct MapFrame {
    double max_kw = 0;
    std::string title;
};

// The bands: five of equal width up to the maximum, the last holding the maximum itself.
inline constexpr std::array<const char*, 5> band_colours{"#d7191c", "#fdae61", "#e6d93a", "#a6d96a", "#1a9641"};
inline constexpr const char* unsearched_colour = "#b0b0b0";
[[nodiscard]] int band_of(double kw, double max_kw);

// The colour of each drawn bus by name (lower case), as the map, the window and the page give it;
// buses searched and not found, or not searched, are absent.
[[nodiscard]] std::string band_colour(const std::optional<double>& kw, double max_kw);

// Throws SweepError where the network file cannot be read.
[[nodiscard]] std::string locate_map_svg(const std::filesystem::path& sky_folder, const std::vector<MapBus>& buses,
                                         const MapFrame& frame);
// Throws WriteError where the encoder fails.
[[nodiscard]] std::string locate_map_png(const std::string& svg);

}  // namespace umbrascope::sweep

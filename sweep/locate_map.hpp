#pragma once
// The map of a search by bus: the feeder as the import drew it, each line coloured by the hosting
// capacity at its downstream bus in bands of kW, a ring where the cloud holds a bus below its
// clear-sky answer, and a legend.

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

// The colour of a bus's answer in its band; grey where it has none.
[[nodiscard]] std::string band_colour(const std::optional<double>& kw, double max_kw);

// Throws SweepError where the network file cannot be read.
[[nodiscard]] std::string locate_map_svg(const std::filesystem::path& sky_folder, const std::vector<MapBus>& buses,
                                         const MapFrame& frame);
// Throws WriteError where the encoder fails.
[[nodiscard]] std::string locate_map_png(const std::string& svg);

}  // namespace umbrascope::sweep

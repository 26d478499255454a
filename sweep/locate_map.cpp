#include "sweep/locate_map.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <unordered_map>

#include "core/hosting_bands.hpp"
#include "core/words.hpp"
#include "model/distances.hpp"
#include "model/folder_error.hpp"
#include "output/svg_png.hpp"
#include "scenario/network_buses.hpp"
#include "scenario/track.hpp"
#include "sweep/cases.hpp"
#include "sweep/picture.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

std::string band_colour(const std::optional<double>& kw, double max_kw)
{
    return kw ? hosting_bands[static_cast<std::size_t>(hosting_band(*kw, max_kw))].hex : no_hosting_answer.hex;
}

std::string locate_map_svg(const fs::path& sky_folder, const std::vector<MapBus>& buses, const MapFrame& frame)
{
    scenario::NetworkBuses network;
    std::unordered_map<std::string, double> km;
    try {
        network = scenario::read_network_buses(sky_folder);
        if (const std::optional<std::vector<DrawnDistance>> distances = read_distances(sky_folder))
            for (const DrawnDistance& d : *distances)
                if (d.km)
                    km[lower(d.bus)] = *d.km;
    } catch (const scenario::ScenarioError& error) {
        throw SweepError(error.what());
    } catch (const FolderError& error) {
        throw SweepError(error.what());
    }
    // Each drawn bus's answer: the least of the buses drawn at it.
    struct Drawn {
        std::optional<double> hc, clear_hc;
        bool searched = false;
    };
    std::unordered_map<std::string, Drawn> answer;
    for (const MapBus& bus : buses) {
        Drawn& d = answer[lower(bus.drawn_bus)];
        if (d.searched && !d.hc) {
            continue;  // a bus drawn here is not found: nor is the place
        }
        if (!bus.hc_kw) {
            d = {std::nullopt, std::nullopt, true};
            continue;
        }
        d.hc = d.searched ? std::min(*d.hc, *bus.hc_kw) : *bus.hc_kw;
        d.clear_hc = d.searched && d.clear_hc ? std::min(*d.clear_hc, *bus.clear_hc_kw) : *bus.clear_hc_kw;
        d.searched = true;
    }

    constexpr double map_w = 940, map_h = 640, map_margin = 20, map_top = 44, legend_w = 230;
    double x0 = std::numeric_limits<double>::max(), x1 = -x0, y0 = x0, y1 = -x0;
    for (const scenario::Place& p : network.places) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    if (network.places.empty())
        x0 = x1 = y0 = y1 = 0;
    const double span = std::max({x1 - x0, y1 - y0, 1e-9});
    const double scale = std::min((map_w - legend_w - 2 * map_margin) / std::max(x1 - x0, span * 1e-3),
                                  (map_h - map_top - map_margin) / std::max(y1 - y0, span * 1e-3));
    // The drawing centred in the room beside the legend.
    const double dx = ((map_w - legend_w - 2 * map_margin) - (x1 - x0) * scale) / 2;
    const double dy = ((map_h - map_top - map_margin) - (y1 - y0) * scale) / 2;
    const auto sx = [&](double x) { return map_margin + dx + (x - x0) * scale; };
    const auto sy = [&](double y) { return map_h - map_margin - dy - (y - y0) * scale; };
    const auto at = [](double v) { return decimal_text(v, 1); };

    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + at(map_w) + "\" height=\"" + at(map_h) +
                      "\" viewBox=\"0 0 " + at(map_w) + " " + at(map_h) + "\" font-family=\"sans-serif\">\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    out += "<text x=\"" + at(map_margin) + "\" y=\"26\" font-size=\"16\">" + xml_text(frame.title) + "</text>\n";
    // Lines: coloured by the downstream bus, the one farther from the source.
    for (const auto& [a, b] : network.joined) {
        const std::string& na = network.names[static_cast<std::size_t>(a)];
        const std::string& nb = network.names[static_cast<std::size_t>(b)];
        const auto ka = km.find(lower(na));
        const auto kb = km.find(lower(nb));
        const bool b_down = ka == km.end() || (kb != km.end() && kb->second >= ka->second);
        const auto found = answer.find(lower(b_down ? nb : na));
        const std::optional<double> hc = found != answer.end() ? found->second.hc : std::nullopt;
        const scenario::Place& pa = network.places[static_cast<std::size_t>(a)];
        const scenario::Place& pb = network.places[static_cast<std::size_t>(b)];
        out += "<line x1=\"" + at(sx(pa.x)) + "\" y1=\"" + at(sy(pa.y)) + "\" x2=\"" + at(sx(pb.x)) + "\" y2=\"" +
               at(sy(pb.y)) + "\" stroke=\"" + band_colour(hc, frame.max_kw) + "\" stroke-width=\"" +
               (hc ? "3" : "1.5") + "\" stroke-linecap=\"round\"/>\n";
    }
    // Buses searched: a dot of their band, ringed where the cloud holds them below the clear sky.
    std::vector<std::array<double, 3>> labels;  // left, baseline, width of each label drawn
    for (std::size_t i = 0; i < network.names.size(); ++i) {
        const auto found = answer.find(lower(network.names[i]));
        if (found == answer.end())
            continue;
        const scenario::Place& p = network.places[i];
        const Drawn& d = found->second;
        out += "<circle cx=\"" + at(sx(p.x)) + "\" cy=\"" + at(sy(p.y)) + "\" r=\"4\" fill=\"" +
               band_colour(d.hc, frame.max_kw) + "\"><title>" + xml_text(network.names[i]) + ": " +
               (d.hc ? decimal_text(*d.hc, 1) + " kW, clear sky " + decimal_text(*d.clear_hc, 1) + " kW"
                     : std::string("not found")) +
               "</title></circle>\n";
        // Its name and kW, where they overlap no label drawn before them.
        if (d.hc) {
            const std::string label = network.names[i] + " " + decimal_text(*d.hc, 0);
            const double lx = sx(p.x) + 8, ly = sy(p.y) - 6, lw = 5.6 * static_cast<double>(label.size());
            const bool clear = std::none_of(labels.begin(), labels.end(), [&](const std::array<double, 3>& b) {
                return lx < b[0] + b[2] && b[0] < lx + lw && std::fabs(ly - b[1]) < 11;
            });
            if (clear) {
                labels.push_back({lx, ly, lw});
                out += "<text x=\"" + at(lx) + "\" y=\"" + at(ly) + "\" font-size=\"10\" fill=\"#333\">" + xml_text(label) +
                       "</text>\n";
            }
        }
        if (d.hc && d.clear_hc && *d.hc < *d.clear_hc)
            out += "<circle cx=\"" + at(sx(p.x)) + "\" cy=\"" + at(sy(p.y)) +
                   "\" r=\"7\" fill=\"none\" stroke=\"black\" stroke-width=\"1.2\"/>\n";
    }
    // The legend.
    const double lx = map_w - legend_w + 10;
    double ly = map_top + 10;
    out += "<text x=\"" + at(lx) + "\" y=\"" + at(ly) + "\" font-size=\"12\">kW at the downstream bus</text>\n";
    const double band_kw = frame.max_kw / static_cast<double>(hosting_bands.size());
    for (std::size_t k = 0; k < hosting_bands.size(); ++k) {
        ly += 20;
        const double from = band_kw * static_cast<double>(k), to = band_kw * static_cast<double>(k + 1);
        const std::string words = k + 1 == hosting_bands.size()
                                      ? decimal_text(from, 0) + " to " + decimal_text(to, 0) + " (max)"
                                      : decimal_text(from, 0) + " to below " + decimal_text(to, 0);
        out += "<rect x=\"" + at(lx) + "\" y=\"" + at(ly - 10) + "\" width=\"18\" height=\"10\" fill=\"" +
               hosting_bands[k].hex + "\"/><text x=\"" + at(lx + 24) + "\" y=\"" + at(ly) + "\" font-size=\"11\">" +
               xml_text(words) + "</text>\n";
    }
    ly += 20;
    out += "<rect x=\"" + at(lx) + "\" y=\"" + at(ly - 10) + "\" width=\"18\" height=\"10\" fill=\"" +
           std::string(no_hosting_answer.hex) + "\"/><text x=\"" + at(lx + 24) + "\" y=\"" + at(ly) +
           "\" font-size=\"11\">not searched or not found</text>\n";
    ly += 22;
    out += "<circle cx=\"" + at(lx + 9) + "\" cy=\"" + at(ly - 5) +
           "\" r=\"7\" fill=\"none\" stroke=\"black\" stroke-width=\"1.2\"/><text x=\"" + at(lx + 24) + "\" y=\"" +
           at(ly) + "\" font-size=\"11\">the cloud limits it</text>\n";
    ly += 14;
    out += "<text x=\"" + at(lx + 24) + "\" y=\"" + at(ly) + "\" font-size=\"11\">below the clear sky</text>\n";
    out += "</svg>\n";
    return out;
}

std::string locate_map_png(const std::string& svg) { return svg_to_png(svg); }

}  // namespace umbrascope::sweep

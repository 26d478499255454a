#include "sweep/cases_picture.hpp"

#include <algorithm>
#include <cmath>

#include "core/words.hpp"
#include "output/svg_png.hpp"
#include "sweep/cases.hpp"
#include "sweep/picture.hpp"

namespace umbrascope::sweep {

namespace {

constexpr int panel_w = 420, panel_h = 260;
constexpr int margin_left = 64, margin_top = 34, margin_bottom = 42, margin_right = 16;
constexpr int columns = 2;
constexpr int legend_h = 70;

std::string coordinate(double value) { return decimal_text(value, 2); }

const char* colour_of(const std::string& placement)
{
    if (placement == "near")
        return "#1f77b4";
    if (placement == "far")
        return "#ff7f0e";
    if (placement == "random")
        return "#2ca02c";
    return "#555555";
}

// A mark of the mode's shape, centred at (x, y).
std::string mark(std::size_t mode, double x, double y, const char* colour)
{
    const std::string fill = std::string(" fill=\"") + colour + "\" fill-opacity=\"0.8\" stroke=\"#222222\" stroke-width=\"0.6\"";
    const auto point = [](double px, double py) { return coordinate(px) + "," + coordinate(py) + " "; };
    switch (mode % 5) {
    case 0: return "<circle cx=\"" + coordinate(x) + "\" cy=\"" + coordinate(y) + "\" r=\"4.5\"" + fill + "/>\n";
    case 1: return "<rect x=\"" + coordinate(x - 4) + "\" y=\"" + coordinate(y - 4) + "\" width=\"8\" height=\"8\"" + fill + "/>\n";
    case 2:
        return "<polygon points=\"" + point(x, y - 5.5) + point(x - 5, y + 4) + point(x + 5, y + 4) + "\"" + fill + "/>\n";
    case 3:
        return "<polygon points=\"" + point(x, y - 5.5) + point(x + 5.5, y) + point(x, y + 5.5) + point(x - 5.5, y) + "\"" +
               fill + "/>\n";
    default:
        return "<polygon points=\"" + point(x, y + 5.5) + point(x - 5, y - 4) + point(x + 5, y - 4) + "\"" + fill + "/>\n";
    }
}


}  // namespace

std::string cases_svg(const CasesPicture& picture)
{
    const int count = static_cast<int>(picture.panels.size());
    const int rows = std::max(1, (count + columns - 1) / columns);
    const int width = columns * panel_w;
    const int height = 30 + rows * panel_h + legend_h;
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
                      std::to_string(height) + "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"11\">\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    out += "<text x=\"8\" y=\"18\" font-size=\"13\">Each case's figure by its PV level (% of the feeder's load), for the "
           "criteria that decided or came near</text>\n";
    double top_level = 0;
    for (const Panel& panel : picture.panels)
        for (const CaseDot& dot : panel.dots)
            top_level = std::max(top_level, dot.level);
    top_level = top_level > 0 ? top_level : 100;
    for (int k = 0; k < count; ++k) {
        const Panel& panel = picture.panels[static_cast<std::size_t>(k)];
        const int ox = (k % columns) * panel_w, oy = 30 + (k / columns) * panel_h;
        const double x0 = ox + margin_left, x1 = ox + panel_w - margin_right;
        const double y0 = oy + margin_top, y1 = oy + panel_h - margin_bottom;
        double low = panel.limit.value_or(0), high = panel.limit.value_or(0);
        bool any = panel.limit.has_value();
        for (const CaseDot& dot : panel.dots) {
            low = any ? std::min(low, dot.value) : dot.value;
            high = any ? std::max(high, dot.value) : dot.value;
            any = true;
        }
        if (high - low < 1e-9) {
            low -= 1;
            high += 1;
        }
        const double pad = (high - low) * 0.08;
        low -= pad;
        high += pad;
        const auto x_of = [&](double level) { return x0 + (x1 - x0) * level / top_level; };
        const auto y_of = [&](double value) { return y1 - (y1 - y0) * (value - low) / (high - low); };
        out += "<text x=\"" + coordinate(x0) + "\" y=\"" + coordinate(oy + 20) + "\" font-size=\"12\" font-weight=\"bold\">" +
               xml_text(panel.title) + " (" + xml_text(panel.unit) + ")</text>\n";
        out += "<rect x=\"" + coordinate(x0) + "\" y=\"" + coordinate(y0) + "\" width=\"" + coordinate(x1 - x0) + "\" height=\"" +
               coordinate(y1 - y0) + "\" fill=\"none\" stroke=\"#888888\"/>\n";
        // The axes' ticks: five values up, and every level along.
        for (int t = 0; t <= 4; ++t) {
            const double value = low + (high - low) * t / 4;
            const double digits = std::max(0.0, std::ceil(-std::log10((high - low) / 4)) + 1);
            out += "<text x=\"" + coordinate(x0 - 4) + "\" y=\"" + coordinate(y_of(value) + 4) + "\" text-anchor=\"end\" font-size=\"9\">" +
                   decimal_text(value, static_cast<int>(std::min(digits, 4.0))) + "</text>\n";
        }
        std::vector<double> levels;
        for (const CaseDot& dot : panel.dots)
            levels.push_back(dot.level);
        std::sort(levels.begin(), levels.end());
        levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
        for (const double level : levels)
            out += "<text x=\"" + coordinate(x_of(level)) + "\" y=\"" + coordinate(y1 + 13) +
                   "\" text-anchor=\"middle\" font-size=\"9\">" + level_text(level) + "</text>\n";
        out += "<text x=\"" + coordinate((x0 + x1) / 2) + "\" y=\"" + coordinate(y1 + 28) +
               "\" text-anchor=\"middle\" font-size=\"10\">PV level, % of the feeder's load</text>\n";
        if (panel.limit)
            out += "<line x1=\"" + coordinate(x0) + "\" y1=\"" + coordinate(y_of(*panel.limit)) + "\" x2=\"" + coordinate(x1) +
                   "\" y2=\"" + coordinate(y_of(*panel.limit)) +
                   "\" stroke=\"#d62728\" stroke-width=\"1.5\" stroke-dasharray=\"6 3\"/>\n"
                   "<text x=\"" + coordinate(x1 - 2) + "\" y=\"" + coordinate(y_of(*panel.limit) - 3) +
                   "\" text-anchor=\"end\" font-size=\"9\" fill=\"#d62728\">limit " + coordinate(*panel.limit) + "</text>\n";
        // Each mode's hosting capacity, a line up the panel.
        for (std::size_t m = 0; m < picture.capacity.size() && m < picture.inverters.size(); ++m) {
            if (!picture.capacity[m])
                continue;
            const double x = x_of(*picture.capacity[m]) + 2.0 * static_cast<double>(m);
            out += "<line x1=\"" + coordinate(x) + "\" y1=\"" + coordinate(y0) + "\" x2=\"" + coordinate(x) + "\" y2=\"" + coordinate(y1) +
                   "\" stroke=\"#000000\" stroke-width=\"1.5\"/>\n";
            out += "<text x=\"" + coordinate(x + 3) + "\" y=\"" + coordinate(y0 + 11 + 11 * static_cast<double>(m)) +
                   "\" font-size=\"9\">HC" +
                   (picture.inverters.size() > 1 ? " " + xml_text(picture.inverters[m]) : std::string()) + "</text>\n";
        }
        for (const CaseDot& dot : panel.dots) {
            const auto mode = static_cast<std::size_t>(
                std::find(picture.inverters.begin(), picture.inverters.end(), dot.inverter) - picture.inverters.begin());
            out += mark(dot.placement == "none" ? 0 : mode, x_of(dot.level), y_of(dot.value), colour_of(dot.placement));
        }
    }
    // The legend: colours by placement, shapes by mode.
    const int ly = 30 + rows * panel_h + 18;
    int x = 10;
    for (const char* placement : {"none", "near", "far", "random"}) {
        out += mark(0, x + 5, ly - 4, colour_of(placement));
        const std::string words = std::string(placement) == "none" ? "the base" : placement;
        out += "<text x=\"" + std::to_string(x + 14) + "\" y=\"" + std::to_string(ly) + "\">" + words + "</text>\n";
        x += 30 + static_cast<int>(words.size()) * 7;
    }
    x = 10;
    for (std::size_t m = 0; m < picture.inverters.size(); ++m) {
        out += mark(m, x + 5, ly + 18, "#ffffff");
        out += "<text x=\"" + std::to_string(x + 14) + "\" y=\"" + std::to_string(ly + 22) + "\">" +
               xml_text(picture.inverters[m]) + "</text>\n";
        x += 30 + static_cast<int>(picture.inverters[m].size()) * 7;
    }
    out += "<text x=\"10\" y=\"" + std::to_string(ly + 44) +
           "\">Red dashed: the criterion's limit; black: the hosting capacity over every sky and placement.</text>\n";
    out += "</svg>\n";
    return out;
}

std::string cases_png(const CasesPicture& picture) { return svg_to_png(cases_svg(picture)); }

}  // namespace umbrascope::sweep

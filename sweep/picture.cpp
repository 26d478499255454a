#include "sweep/picture.hpp"

#include <algorithm>

#include "core/words.hpp"
#include "output/svg_png.hpp"
#include "sweep/cases.hpp"

namespace umbrascope::sweep {

namespace {

constexpr int cell = 22;
constexpr int top = 46;
constexpr int legend = 82;

struct Layout {
    int left = 190;  // room for the rows' names
    std::vector<double> levels;
    struct Row {
        std::string sky, placement;
        int seed = 0;
        std::string inverter;
    };
    std::vector<Row> rows;
    int width = 0, height = 0;
    [[nodiscard]] int column_of(double level) const
    {
        return static_cast<int>(std::lower_bound(levels.begin(), levels.end(), level) - levels.begin());
    }
};

Layout layout_of(const Picture& picture, int left)
{
    Layout out;
    out.left = left;
    for (const Cell& c : picture.cells)
        out.levels.push_back(c.level);
    std::sort(out.levels.begin(), out.levels.end());
    out.levels.erase(std::unique(out.levels.begin(), out.levels.end()), out.levels.end());
    for (const PictureSky& sky : picture.skies) {
        bool any = false;
        for (const Cell& c : picture.cells) {
            if (c.sky != sky.name || c.placement == "none" || c.inverter != sky.inverter)
                continue;
            const bool seen = std::any_of(out.rows.begin(), out.rows.end(), [&](const Layout::Row& r) {
                return r.sky == c.sky && r.placement == c.placement && r.seed == c.seed && r.inverter == c.inverter;
            });
            if (!seen)
                out.rows.push_back({c.sky, c.placement, c.seed, c.inverter});
            any = true;
        }
        if (!any)
            out.rows.push_back({sky.name, "none", 0, sky.inverter});
    }
    out.width = out.left + static_cast<int>(out.levels.size()) * cell + 20;
    out.height = top + static_cast<int>(out.rows.size()) * cell + legend;
    return out;
}

// Each row's cells: its own, and its sky's base at level 0.
template <class F>
void each_cell(const Picture& picture, const Layout& layout, F&& draw)
{
    for (std::size_t r = 0; r < layout.rows.size(); ++r) {
        const Layout::Row& row = layout.rows[r];
        for (const Cell& c : picture.cells) {
            const bool own =
                c.sky == row.sky && c.placement == row.placement && c.seed == row.seed && c.inverter == row.inverter;
            const bool base = c.sky == row.sky && c.placement == "none";
            if (own || base)
                draw(c, layout.left + layout.column_of(c.level) * cell, top + static_cast<int>(r) * cell);
        }
    }
}

// The rows of a sky, first and last.
std::pair<int, int> rows_of(const Layout& layout, const PictureSky& sky)
{
    int first = -1, last = -1;
    for (std::size_t r = 0; r < layout.rows.size(); ++r)
        if (layout.rows[r].sky == sky.name && layout.rows[r].inverter == sky.inverter) {
            if (first < 0)
                first = static_cast<int>(r);
            last = static_cast<int>(r);
        }
    return {first, last};
}

int line_x(const Layout& layout, const std::optional<double>& level)
{
    return level ? layout.left + (layout.column_of(*level) + 1) * cell : layout.left;
}


const char* fill_of(Cell::State state)
{
    return state == Cell::passes ? "#2e9e44" : state == Cell::fails ? "#d62728" : "#c8c8c8";
}

}  // namespace

std::string picture_svg(const Picture& picture)
{
    const Layout layout = layout_of(picture, 190);
    const int left = layout.left;
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    // Wide enough for the title and the legend's lines.
    const int width = std::max(layout.width, 740);
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(layout.height) + "\" font-family=\"DejaVu Sans, sans-serif\" font-size=\"11\">\n";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    out += "<text x=\"8\" y=\"16\" font-size=\"13\">Hosting capacity: each case by its PV level (% of the feeder's load)" +
           std::string(picture.partial ? ", partial: grey cases are missing" : "") + "</text>\n";
    for (std::size_t k = 0; k < layout.levels.size(); ++k)
        out += "<text x=\"" + std::to_string(left + static_cast<int>(k) * cell + cell / 2) + "\" y=\"" +
               std::to_string(top - 6) + "\" text-anchor=\"middle\" font-size=\"9\">" + level_text(layout.levels[k]) +
               "</text>\n";
    for (std::size_t r = 0; r < layout.rows.size(); ++r) {
        const Layout::Row& row = layout.rows[r];
        std::string label = row.sky;
        label += ' ';
        if (!row.inverter.empty()) {
            label += row.inverter;
            label += ' ';
        }
        label += row.placement;
        if (row.placement == "random") {
            label += ' ';
            label += std::to_string(row.seed);
        }
        out += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + std::to_string(top + static_cast<int>(r) * cell + 15) +
               "\" text-anchor=\"end\">" + xml_text(label) + "</text>\n";
    }
    each_cell(picture, layout, [&](const Cell& c, int x, int y) {
        out += "<rect x=\"" + std::to_string(x + 1) + "\" y=\"" + std::to_string(y + 1) + "\" width=\"" +
               std::to_string(cell - 2) + "\" height=\"" + std::to_string(cell - 2) + "\" fill=\"" + fill_of(c.state) +
               "\"/>\n";
        if (c.state == Cell::fails)
            out += "<text x=\"" + std::to_string(x + cell / 2) + "\" y=\"" + std::to_string(y + 15) +
                   "\" text-anchor=\"middle\" fill=\"#ffffff\" font-weight=\"bold\">" + std::string(1, c.letter) +
                   "</text>\n";
        if (c.clear_fails)
            out += "<rect x=\"" + std::to_string(x + 1) + "\" y=\"" + std::to_string(y + cell - 5) + "\" width=\"" +
                   std::to_string(cell - 2) + "\" height=\"4\" fill=\"#1f5fd0\"/>\n";
    });
    for (const PictureSky& sky : picture.skies) {
        const auto [first, last] = rows_of(layout, sky);
        if (first < 0)
            continue;
        const std::string y1 = std::to_string(top + first * cell);
        const std::string y2 = std::to_string(top + (last + 1) * cell);
        const std::string x = std::to_string(line_x(layout, sky.hc));
        const std::string xc = std::to_string(line_x(layout, sky.clear_hc) + 3);
        for (const auto& [at, style] : {std::pair{x, std::string("stroke=\"#000000\" stroke-width=\"3\"")},
                                        std::pair{xc, std::string("stroke=\"#1f5fd0\" stroke-width=\"2\" "
                                                                  "stroke-dasharray=\"4 3\"")}}) {
            out += "<line x1=\"";
            out += at;
            out += "\" y1=\"";
            out += y1;
            out += "\" x2=\"";
            out += at;
            out += "\" y2=\"";
            out += y2;
            out += "\" ";
            out += style;
            out += "/>\n";
        }
    }
    const int y = top + static_cast<int>(layout.rows.size()) * cell + 20;
    out += "<text x=\"8\" y=\"" + std::to_string(y) +
           "\">Green passes, red fails: A, B seconds outside range A, B; L, H lowest, highest voltage; T, P tap changes; "
           "S switchings;</text>\n";
    out += "<text x=\"8\" y=\"" + std::to_string(y + 18) +
           "\">O, E a line or transformer over its normal, emergency rating; R power flowing back; C curtailment.</text>\n";
    out += "<text x=\"8\" y=\"" + std::to_string(y + 36) +
           "\">Black line: the hosting capacity under the sky; blue dashed: under a clear sky; a blue bar: the case "
           "fails under a clear sky.</text>\n";
    out += "</svg>\n";
    return out;
}

std::string xml_text(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string picture_png(const Picture& picture) { return svg_to_png(picture_svg(picture)); }

}  // namespace umbrascope::sweep

#include "sweep/picture.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>

#include "core/words.hpp"
#include "output/png_writer.hpp"
#include "sweep/cases.hpp"

namespace umbrascope::sweep {

namespace {

constexpr int cell = 22;
constexpr int top = 46;
constexpr int legend = 64;

struct Layout {
    int left = 190;  // room for the rows' names
    std::vector<double> levels;
    struct Row {
        std::string sky, placement;
        int seed = 0;
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
            if (c.sky != sky.name || c.placement == "none")
                continue;
            const bool seen = std::any_of(out.rows.begin(), out.rows.end(), [&](const Layout::Row& r) {
                return r.sky == c.sky && r.placement == c.placement && r.seed == c.seed;
            });
            if (!seen)
                out.rows.push_back({c.sky, c.placement, c.seed});
            any = true;
        }
        if (!any)
            out.rows.push_back({sky.name, "none", 0});
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
            const bool own = c.sky == row.sky && c.placement == row.placement && c.seed == row.seed;
            const bool base = c.sky == row.sky && c.placement == "none";
            if (own || base)
                draw(c, layout.left + layout.column_of(c.level) * cell, top + static_cast<int>(r) * cell);
        }
    }
}

// The rows of a sky, first and last.
std::pair<int, int> rows_of(const Layout& layout, const std::string& sky)
{
    int first = -1, last = -1;
    for (std::size_t r = 0; r < layout.rows.size(); ++r)
        if (layout.rows[r].sky == sky) {
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

std::string escaped(const std::string& text)
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

const char* fill_of(Cell::State state)
{
    return state == Cell::passes ? "#2e9e44" : state == Cell::fails ? "#d62728" : "#c8c8c8";
}

// The letters a failing cell carries, 5 x 7.
const std::array<std::uint8_t, 7>* glyph(char letter)
{
    static const std::map<char, std::array<std::uint8_t, 7>> glyphs{
        {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
        {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
        {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
        {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
        {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
        {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
        {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
        {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
        {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
        {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}};
    const auto found = glyphs.find(letter);
    return found == glyphs.end() ? nullptr : &found->second;
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
        label += row.placement;
        if (row.placement == "random") {
            label += ' ';
            label += std::to_string(row.seed);
        }
        out += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + std::to_string(top + static_cast<int>(r) * cell + 15) +
               "\" text-anchor=\"end\">" + escaped(label) + "</text>\n";
    }
    each_cell(picture, layout, [&](const Cell& c, int x, int y) {
        out += "<rect x=\"" + std::to_string(x + 1) + "\" y=\"" + std::to_string(y + 1) + "\" width=\"" +
               std::to_string(cell - 2) + "\" height=\"" + std::to_string(cell - 2) + "\" fill=\"" + fill_of(c.state) +
               "\"/>\n";
        if (c.state == Cell::fails)
            out += "<text x=\"" + std::to_string(x + cell / 2) + "\" y=\"" + std::to_string(y + 15) +
                   "\" text-anchor=\"middle\" fill=\"#ffffff\" font-weight=\"bold\">" + std::string(1, c.letter) +
                   "</text>\n";
    });
    for (const PictureSky& sky : picture.skies) {
        const auto [first, last] = rows_of(layout, sky.name);
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
           "S switchings.</text>\n";
    out += "<text x=\"8\" y=\"" + std::to_string(y + 18) +
           "\">Black line: the hosting capacity under the sky; blue dashed: under a clear sky.</text>\n";
    out += "</svg>\n";
    return out;
}

std::string picture_png(const Picture& picture)
{
    // The rows' names are the SVG's: here the grid, its levels and its lines.
    const Layout layout = layout_of(picture, 12);
    const int left = layout.left;
    const auto w = static_cast<std::size_t>(layout.width);
    const auto h = static_cast<std::size_t>(layout.height);
    std::vector<std::uint8_t> rgb(w * h * 3, 255);
    const auto fill = [&](int x0, int y0, int x1, int y1, std::uint32_t colour) {
        for (int y = std::max(y0, 0); y < std::min(y1, layout.height); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, layout.width); ++x) {
                std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)) * 3];
                p[0] = static_cast<std::uint8_t>(colour >> 16);
                p[1] = static_cast<std::uint8_t>(colour >> 8);
                p[2] = static_cast<std::uint8_t>(colour);
            }
    };
    // Each level over its column, in the glyphs' small figures.
    for (std::size_t k = 0; k < layout.levels.size(); ++k) {
        const std::string text = level_text(layout.levels[k]);
        const int x0 = left + static_cast<int>(k) * cell + (cell - static_cast<int>(text.size()) * 6) / 2;
        for (std::size_t i = 0; i < text.size(); ++i)
            if (const std::array<std::uint8_t, 7>* g = glyph(text[i]))
                for (int gy = 0; gy < 7; ++gy)
                    for (int gx = 0; gx < 5; ++gx)
                        if ((g->at(static_cast<std::size_t>(gy)) >> (4 - gx)) & 1)
                            fill(x0 + static_cast<int>(i) * 6 + gx, top - 12 + gy, x0 + static_cast<int>(i) * 6 + gx + 1,
                                 top - 11 + gy, 0x000000);
    }
    each_cell(picture, layout, [&](const Cell& c, int x, int y) {
        fill(x + 1, y + 1, x + cell - 1, y + cell - 1,
             c.state == Cell::passes ? 0x2e9e44 : c.state == Cell::fails ? 0xd62728 : 0xc8c8c8);
        if (c.state != Cell::fails)
            return;
        if (const std::array<std::uint8_t, 7>* g = glyph(c.letter))
            for (int gy = 0; gy < 7; ++gy)
                for (int gx = 0; gx < 5; ++gx)
                    if ((g->at(static_cast<std::size_t>(gy)) >> (4 - gx)) & 1)
                        fill(x + 6 + gx * 2, y + 4 + gy * 2, x + 8 + gx * 2, y + 6 + gy * 2, 0xffffff);
    });
    for (const PictureSky& sky : picture.skies) {
        const auto [first, last] = rows_of(layout, sky.name);
        if (first < 0)
            continue;
        const int y1 = top + first * cell;
        const int y2 = top + (last + 1) * cell;
        const int x = line_x(layout, sky.hc);
        fill(x - 1, y1, x + 2, y2, 0x000000);
        const int xc = line_x(layout, sky.clear_hc) + 3;
        for (int y = y1; y < y2; y += 7)
            fill(xc, y, xc + 2, std::min(y + 4, y2), 0x1f5fd0);
    }
    return encode_rgb_png(layout.width, layout.height, rgb);
}

}  // namespace umbrascope::sweep

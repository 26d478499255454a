#pragma once
// One offline page of a whole run, for anyone with a browser: a single HTML file holding the
// network, every row's bus classes, sunlight and, from a study, voltages and controls, and the
// viewer script that draws them, with nothing to fetch. Its sections are gzip and base64; the
// tables go in blocks of rows, so that a page of any size opens with the block it shows and
// decodes the others as they are needed. The layout is written out in the README, for other tools.

#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core/world.hpp"
#include "model/controls.hpp"
#include "model/sky_field.hpp"

namespace umbrascope {

inline constexpr std::int32_t page_empty = std::numeric_limits<std::int32_t>::min();

struct PageClass {
    Colour colour;
    std::string text;  // its limits, as the legend says them
};

// A control's symbol as the page draws it.
struct PageControl {
    std::string kind;  // "regcontrol" or "capcontrol"
    std::string name;
    std::string element;
    int bus = -1;      // the drawn bus it stands at, from 0; -1 for none
};

struct PageInput {
    std::string title;  // what the run is of: its folder
    int rows = 0;
    int buses = 0;
    std::vector<std::string> names;            // as the network file names them, UTF-8
    std::vector<double> x, y;                  // each bus's marker, in plot units (y down); NaN for none
    std::vector<std::pair<int, int>> connections;  // by bus, from 0
    double frame[4] = {0, 0, 0, 0};            // the plot frame: left, top, right, bottom, plot units
    std::vector<std::string> times;            // each row's time as the band says it
    long row_offset = 0;                       // of a part of a longer sky: its first row there less one,
    long sky_rows = 0;                         //   and that sky's rows (0 for none)
    std::vector<PageClass> classes;            // the legend, in class order
    std::string colour_by;                     // "sunlight", "voltage" or "hosting"
    std::vector<std::string> bus_notes;        // by bus: more to say of it (a search's answer), or ""
    std::vector<std::uint8_t> class_of;        // row by row: each bus's class, an index into classes
    // Row by row: each bus's sun intensity in thousandths. Where `field` gives the sky, the page
    // makes these numbers itself from it and the buses' own coordinates (`net_x`, `net_y`).
    std::vector<std::int32_t> sun;
    std::vector<float> net_x, net_y;           // each bus's coordinates in the network file
    // The order the buses' columns go in, and each one's parent (-1 for none), which comes
    // before it: along the network's connections from its first bus, so that a column is told by
    // the steps of a neighbour's.
    std::vector<int> order, parent;
    std::vector<std::int32_t> lowest;          // row by row: per unit in ten-thousandths; empty without
    std::vector<std::int32_t> highest;         //   voltages, page_empty where a bus has none
    std::vector<double> distance_km;           // each bus's, below 0 where not known
    bool distances_in_km = true;               // else in network units, where no unit was told
    bool profile = false;                      // the profile beside the map
    std::vector<std::pair<int, int>> segments; // the profile's, by bus from 0
    std::vector<int> excursions;               // first rows of runs of rows with a bus outside range A
    int worst_row = 0;
    std::vector<int> worst_bus;                // each row's, from 1; 0 for none (empty without voltages)
    // The buses outside range A in every row (from 0): the feeder's own, left out of the three
    // above; the same three with them counted, for the page's key that brings them back.
    std::vector<int> own_outside;
    std::vector<int> excursions_counted;
    int worst_row_counted = 0;
    std::vector<int> worst_bus_counted;
    std::vector<PageControl> controls;
    const ControlsTable* states = nullptr;     // the controls' states
    const SkyField* field = nullptr;           // a measured sky's, for its shade
    double mapping[6] = {0, 0, 1, 1, 0, 1};    // xp_min, yp_max, plot width, plot height, xc_min, yc_min
    double c_span = 1;                         // network units the plot's unit square spans
    double spacing = 0;                        // how far apart the buses lie (plot units), for discs
    double profile_axes[3] = {0.9, 1.1, 1};    // the profile's lowest and highest per unit, farthest km
    // Each row's clouds as the passes drew them: per shape, 0 (line) or 1 (circle), then its four
    // numbers in plot units (a line's two ends, a circle's centre and radius).
    std::vector<std::vector<float>> clouds;
};

// Rows in each block of the tables, so that a block holds about four million cells.
[[nodiscard]] int page_block_rows(int rows, int buses);

// The page's text. Throws WriteError where a section cannot be compressed.
[[nodiscard]] std::string page_text(const PageInput& input);

// Writes it whole or not at all. Throws WriteError.
void write_page(const std::filesystem::path& path, const PageInput& input);

// The pieces of its encoding, for tests and other writers: base64 as browsers' atob reads it;
// gzip as DecompressionStream("gzip") reads it; a column of integers as byte deltas, each step in
// -127..127 one byte, any other a byte -128 then the value whole, four bytes little-endian.
[[nodiscard]] std::string base64(std::string_view bytes);
[[nodiscard]] std::string gzip(std::string_view bytes);
void append_deltas(std::string& out, const std::int32_t* values, std::size_t count, std::size_t stride);
// A block of a table (rows first to first + count - 1, row by row, `buses` a row) column by column
// in `order`, each value as its step from a prediction: in the block's first row the parent's
// value (0 without one), then the value in the row before plus the parent's step between them.
void append_predicted(std::string& out, const std::int32_t* table, int first, int count, int buses,
                      const std::vector<int>& order, const std::vector<int>& parent);

}  // namespace umbrascope

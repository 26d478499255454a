#pragma once
// The exported frame of the picture shown now, as the exporter writes it and the window saves it:
// the plot frame with its border, cropped from the window's background and the retained picture.
// Options add bus names beside the markers, and a band under the picture with the time, the row
// and a legend of the bus colours; the picture's own pixels above the band are unchanged.

#include <QFont>
#include <QImage>
#include <functional>
#include <optional>

#include "core/run_state.hpp"
#include "output/canvas.hpp"
#include "output/indexed_frame.hpp"
#include "output/profile_picture.hpp"
#include "render/overlay.hpp"
#include "render/picture.hpp"
#include "model/sky_header.hpp"
#include "model/voltages.hpp"

class QPainter;
class QRectF;

namespace umbrascope {

struct FrameOptions {
    bool annotate = false;
    bool labels = false;
    // A frame of width x height pixels, the band included, with the network fitted into it;
    // 0 for the classic frame.
    int width = 0;
    int height = 0;
    double pixel_ratio = 1.0;  // device pixels a screen pixel, for symbols and text on a screen
    // The picture through this view (zoomed or panned, as the picture window shows it) instead of
    // the network fitted; only in a sized frame.
    std::optional<View> shown;
    // How far apart the buses lie, in plot units (bus_spacing), so that in a sized frame their
    // symbols shrink to fit a dense network; 0 keeps them full size.
    double bus_spacing = 0;
    // The study's voltages, where the run has them; with `by_voltage` the band's legend is of the
    // voltage classes (the discs themselves are coloured as they are drawn), and with `profile`
    // a sized frame shows the voltage profile beside the map.
    const RunVoltages* voltages = nullptr;
    bool by_voltage = false;
    bool profile = false;
    const std::vector<ProfileSegment>* segments = nullptr;  // the profile's, for `voltages`
    const ProfileAxes* profile_axes = nullptr;              // the profile's extent over the run
    // A measured sky's field, where the sun table was made from one: the map's white shaded by
    // the clear-sky index at each point.
    const SkyField* field = nullptr;
    // With `show_controls`, the study's regulators and capacitors, a symbol each where it stands,
    // marked in the rows where it acts, and in the band's legend.
    bool show_controls = false;
    const ControlsTable* controls = nullptr;
    const ControlPlaces* control_places = nullptr;
    [[nodiscard]] bool shows_controls() const
    {
        return show_controls && controls != nullptr && control_places != nullptr && !controls->controls().empty();
    }
    [[nodiscard]] bool overlays() const { return field != nullptr || shows_controls(); }
    [[nodiscard]] bool sized() const { return width > 0 && height > 0; }
    [[nodiscard]] bool voltage_band() const { return by_voltage && voltages != nullptr; }
    [[nodiscard]] bool shows_profile() const { return profile && voltages != nullptr && segments != nullptr && sized(); }
};

inline constexpr int largest_frame_width = 3840;
inline constexpr int largest_frame_height = 2160;
inline constexpr int smallest_frame_side = 64;

// What the band says: the row the picture shows (the row the pass drew, also when it failed
// part-way) and the run state it came from.
struct FrameFacts {
    const RunState& st;
    int row = 0;
    // What the sun table's header says of its times (clock or seconds); nullptr for nothing.
    const SkyHeader* sky = nullptr;
    // Said after the row in the band: the bus a jump ringed, say.
    std::string note;
    // Said once beside the voltage legend: the buses outside range A in every row.
    std::string own_outside;
};

inline constexpr int annotation_band_pixels = 44;  // at the classic size
inline constexpr int voltage_band_pixels = 62;     // the same with the voltage legend's line more

// How much larger than the classic frame text and the band are drawn in a frame of this size.
[[nodiscard]] double text_scale(const FrameOptions& options);
[[nodiscard]] int band_pixels(const FrameOptions& options);  // 0 without the band
// The width the map takes in a frame: all of it, or what the profile leaves.
[[nodiscard]] int map_pixels(const FrameOptions& options);

// The view of the picture in a frame: the classic one, the one shown, or the network fitted to
// the size.
[[nodiscard]] View frame_view(const RunState& st, const FrameOptions& options);

// The frame from the recorded picture: the classic frame pixel for pixel as compose_frame makes it
// from the window's picture, or a frame of the options' size; in the frame palette's colours.
// With `view`, the picture is shown through it instead (zoomed or panned).
[[nodiscard]] QImage picture_frame(const Picture& picture, const FrameFacts& facts, const FrameOptions& options,
                                   const View* view = nullptr);
// The same into `frame`, whose pixels are reused when it has the size already.
void draw_picture_frame(QImage& frame, const Picture& picture, const FrameFacts& facts, const FrameOptions& options,
                        const View* view = nullptr);

// The frame of the options' size (a sized one) straight into palette indices, pixel for pixel
// what draw_picture_frame then index_frame give: without the 32-bit picture in between when there
// are no names to write.
void draw_indexed_picture_frame(IndexedFrame& into, const Picture& picture, const FrameFacts& facts,
                                const FrameOptions& options);

// At 1 pixel per 15 twips, in the frame palette's colours only.
[[nodiscard]] QImage compose_frame(const Canvas& canvas, const FrameFacts& facts, const FrameOptions& options);
void index_frame(const QImage& frame, IndexedFrame& into);
// compose_frame then index_frame, with a direct path for plain frames.
void compose_indexed_frame(const Canvas& canvas, const FrameFacts& facts, const FrameOptions& options,
                           IndexedFrame& into);

// Draws the labels and the band with a painter whose unit is one frame pixel, origin at the
// frame's top-left corner; the SVG frames use it with a painter in twips, scaled.
void paint_frame_extras(QPainter& painter, const FrameFacts& facts, const FrameOptions& options);

// Each bus's name above and right of its marker, clear of the branches that run level or upright
// through it; near the right edge, left of the marker instead; else left of it or below. A name
// stands beside its own disc: where no place has it nearer its own bus than any other, or every
// place would overlap a name already written, it is left out, so a dense network shows a readable
// subset that grows as the picture does. With `min_share`, nothing is written unless at least
// that share of the buses in view get their names. Gives how many names were written, and with
// `placed` each one's bus and box.
struct PlacedName {
    int bus = 0;
    QRectF box;
};
int paint_bus_names(QPainter& painter, const RunState& st, const View& view, double width, double height, double scale,
                    double min_share = 0, std::vector<PlacedName>* placed = nullptr);
// The band: the time and row shown, and a legend of the bus colours: the sunlight classes, or
// with `voltages` the voltage classes with their limits; with `controls`, the symbols of the
// regulators and capacitors; with `shade`, the steps of a measured sky's shade.
void paint_time_band(QPainter& painter, const FrameFacts& facts, double top, double width, double scale,
                     bool voltages = false, bool controls = false, bool shade = false);

// The shade and the symbols over a picture rendered through `view` into 32-bit pixels, or into
// the frame palette's indices.
void paint_overlays(std::uint32_t* bits, int width, int height, int stride_pixels, const View& view,
                    const FrameFacts& facts, const FrameOptions& options);
void paint_overlays(std::uint8_t* bits, int width, int height, int stride_pixels, const View& view,
                    const FrameFacts& facts, const FrameOptions& options);

// DejaVu Sans at `pixel_size`, without antialiasing so that text keeps to the frame palette.
[[nodiscard]] QFont frame_font(int pixel_size, bool bold = false);

// The row the picture shows after a pass: i_time has moved on past it unless the pass failed.
[[nodiscard]] int shown_row(const RunState& st, bool pass_failed);

}  // namespace umbrascope

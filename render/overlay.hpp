#pragma once
// What pictures show over the passes' own drawing where a study or a measured sky gives it: the
// measured sky's shade on the map's white, under everything the passes drew, and a symbol for each
// regulator and capacitor at its drawn bus. Drawn into the pixels of a picture already rendered
// through its view, 32-bit or palette indices, so that every output shows the same.

#include <cstdint>
#include <vector>

#include "core/run_state.hpp"
#include "model/controls.hpp"
#include "model/sky_field.hpp"
#include "render/picture.hpp"

namespace umbrascope {

// Tints every pixel of `white` within the plot frame by the shade of the clear-sky index there in
// `row`: `shade_of(level)` for levels 1 to shade_levels.
template <class Pixel>
void shade_map(Pixel* bits, int width, int height, int stride_pixels, const View& view, const RunState& st,
               const SkyField& field, int row, Pixel white, Pixel (*shade_of)(int level));

// Where each control's symbol stands, once a first pass has placed the buses: its drawn bus's
// index (0 where the network has none of that name), and its place among those at that bus.
struct ControlPlaces {
    std::vector<int> bus;
    std::vector<int> slot;    // from 0
    std::vector<int> sharing;  // how many stand at that bus
};
[[nodiscard]] ControlPlaces control_places(const RunState& st, const ControlsTable& controls);

// The centre of control `c`'s symbol in device pixels, `scale` the symbols' size (1 at the classic
// size); false where it has no drawn bus.
[[nodiscard]] bool control_centre(const RunState& st, const View& view, const ControlPlaces& places, int c, double scale,
                                  double& x, double& y);

// The symbols: a regulator a square crossed by a rising diagonal, a capacitor two bars between
// leads, in `ink`, or in `acting` with a frame around it in a row where it acts.
template <class Pixel>
void draw_controls(Pixel* bits, int width, int height, int stride_pixels, const View& view, const RunState& st,
                   const ControlsTable& controls, const ControlPlaces& places, int row, double scale, Pixel ink,
                   Pixel acting);

// The control whose symbol lies within `reach` device pixels of (x, y), the nearest; -1 for none.
[[nodiscard]] int control_near(const RunState& st, const View& view, const ControlsTable& controls,
                               const ControlPlaces& places, double scale, double x, double y, double reach);

}  // namespace umbrascope

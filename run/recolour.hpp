#pragma once
// Bus discs in colours of another reading than the sunlight classes: a surface that hands every
// drawing call on, giving the shaded discs of draw_network the colour a colouring chooses for that
// bus in that row, and handing the discs the colouring draws above the others (a bus outside
// range A) on after the rest, when the last bus's disc is drawn. The passes draw as they always
// do; only what reaches the surfaces behind this one (the picture, the trace, the window) carries
// the other colours and order. Without a colouring it changes nothing.

#include <optional>
#include <vector>

#include "core/run_state.hpp"
#include "model/bus_colouring.hpp"

namespace umbrascope {

class RecolourSurface : public Surface {
public:
    explicit RecolourSurface(Surface& inner, const RunState* st = nullptr) : inner_(&inner), st_(st) {}
    void set_inner(Surface& inner) { inner_ = &inner; }
    void set_state(const RunState& st) { st_ = &st; }
    void set_colouring(const BusColouring* colouring) { colouring_ = colouring; }
    [[nodiscard]] const BusColouring* colouring() const { return colouring_; }

    void draw_line(Single x1, Single y1, Single x2, Single y2, Colour colour) override
    {
        inner_->draw_line(x1, y1, x2, y2, colour);
    }
    void fill_box(Single x1, Single y1, Single x2, Single y2, Colour colour) override
    {
        inner_->fill_box(x1, y1, x2, y2, colour);
    }
    void draw_circle(Single x, Single y, Single radius, Colour colour) override;
    void set_line_style(LineStyle style) override
    {
        style_ = style;
        inner_->set_line_style(style);
    }
    // Hands on the discs held back for later, where a pass ended before its last bus's disc.
    void flush();

private:
    struct Disc {
        Single x, y, radius;
        Colour colour;
    };
    std::vector<Disc> held_;
    Surface* inner_;
    const RunState* st_;
    const BusColouring* colouring_ = nullptr;
    LineStyle style_ = LineStyle::solid;
};

}  // namespace umbrascope

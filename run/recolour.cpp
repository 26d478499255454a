#include "run/recolour.hpp"

namespace umbrascope {

void RecolourSurface::draw_circle(Single x, Single y, Single radius, Colour colour)
{
    // A shaded disc is one of the solid circles of radius 15 to 85 that draw_network's last loop
    // draws at the bus it has placed, in the colour of its class; the marker circles (radius 50)
    // and the dotted clouds are none.
    if (colouring_ == nullptr || st_ == nullptr) {
        inner_->draw_circle(x, y, radius, colour);
        return;
    }
    const RunState& st = *st_;
    const int r = st.radius.value();
    if (style_ == LineStyle::solid && r >= 15 && r <= 85 && (r - 15) % 10 == 0 &&
        radius == static_cast<Single>(r) && x == static_cast<Single>(st.xp_bus.value()) &&
        y == static_cast<Single>(st.yp_bus.value()) && colour == palette(st.shade_color.value())) {
        if (const std::optional<Colour> other = colouring_->disc_colour(st.i_time.value(), st.k.value()))
            colour = *other;
        const bool last = st.k == st.nbus && r == 85;
        if (colouring_->drawn_above(st.i_time.value(), st.k.value()))
            held_.push_back({x, y, radius, colour});
        else
            inner_->draw_circle(x, y, radius, colour);
        if (last)
            flush();
        return;
    }
    inner_->draw_circle(x, y, radius, colour);
}

void RecolourSurface::flush()
{
    for (const Disc& disc : held_)
        inner_->draw_circle(disc.x, disc.y, disc.radius, disc.colour);
    held_.clear();
}

}  // namespace umbrascope

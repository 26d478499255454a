#include "run/export_page.hpp"

#include <cmath>
#include <iterator>
#include <unordered_map>

#include "core/hosting_bands.hpp"
#include "core/text.hpp"
#include "core/words.hpp"
#include "output/frame_picture.hpp"
#include "output/output_file.hpp"
#include "output/profile_picture.hpp"
#include "render/draw_network.hpp"

namespace umbrascope {

namespace {

Integer index(int i) { return Integer(static_cast<std::int16_t>(i)); }

}  // namespace

void PageGatherer::add_row(const Picture& picture, int row)
{
    if (row < 1)
        return;
    if (clouds_.size() < static_cast<std::size_t>(row))
        clouds_.resize(static_cast<std::size_t>(row));
    std::vector<float>& shapes = clouds_[static_cast<std::size_t>(row - 1)];
    shapes.clear();
    for (const Shape& shape : picture.shapes())
        if (shape.role == Role::cloud && shape.kind != ShapeKind::box)
            shapes.insert(shapes.end(), {shape.kind == ShapeKind::line ? 0.0F : 1.0F, shape.a, shape.b, shape.c, shape.d});
}

void add_study(PageInput& in, const RunState& st, const RunVoltages* voltages, bool by_voltage, bool profile,
               const ControlsTable* controls, const SkyField* field)
{
    const auto rows = static_cast<std::size_t>(in.rows);
    const auto buses = static_cast<std::size_t>(in.buses);
    if (voltages != nullptr) {
        in.lowest.resize(rows * buses);
        in.highest.resize(rows * buses);
        in.worst_bus.resize(rows);
        for (int row = 1; row <= in.rows; ++row) {
            for (int k = 1; k <= in.buses; ++k) {
                const std::size_t cell = static_cast<std::size_t>(row - 1) * buses + static_cast<std::size_t>(k - 1);
                const PerUnit low = voltages->lowest(row, k), high = voltages->highest(row, k);
                in.lowest[cell] = low == no_voltage ? page_empty : low;
                in.highest[cell] = high == no_voltage ? page_empty : high;
                if (by_voltage)
                    in.class_of[cell] = static_cast<std::uint8_t>(voltages->class_of(row, k));
            }
            in.worst_bus[static_cast<std::size_t>(row - 1)] = voltages->worst_bus(row);
        }
        if (by_voltage) {
            in.colour_by = "voltage";
            in.classes.clear();
            for (int c = 0; c < voltage_classes; ++c)
                in.classes.push_back({class_colour(static_cast<VoltageClass>(c)),
                                      std::string(class_limits(static_cast<VoltageClass>(c)))});
        }
        in.distance_km = voltages->distances();
        in.distance_km.resize(buses, -1);
        in.distances_in_km = voltages->distances_in_km();
        in.profile = profile;
        for (const ProfileSegment& s : profile_segments(st, *voltages))
            in.segments.emplace_back(s.from - 1, s.to - 1);
        in.excursions = voltages->excursions();
        in.worst_row = voltages->worst_row();
        for (const int bus : voltages->outside_all_run())
            if (bus <= in.buses)
                in.own_outside.push_back(bus - 1);
        if (!in.own_outside.empty()) {
            // What the page's key shows with them counted.
            RunVoltages::Jumps counted = voltages->jumps(true);
            in.excursions_counted = std::move(counted.excursions);
            in.worst_row_counted = counted.worst_row;
            in.worst_bus_counted = std::move(counted.worst_bus);
            in.worst_bus_counted.resize(rows);
        }
        const ProfileAxes axes = profile_extent(*voltages);
        in.profile_axes[0] = axes.y0;
        in.profile_axes[1] = axes.y1;
        in.profile_axes[2] = axes.x1;
    }
    if (controls != nullptr) {
        std::unordered_map<std::string, int> bus_of;
        for (int k = in.buses; k >= 1; --k)
            bus_of[in.names[static_cast<std::size_t>(k - 1)]] = k - 1;
        for (const ControlSeries& control : controls->controls()) {
            const auto found = bus_of.find(control.drawn_bus);
            in.controls.push_back({control.kind, control.name, control.element, found == bus_of.end() ? -1 : found->second});
        }
        in.states = controls;
    }
    in.field = field;
}

void add_hosting(PageInput& in, const HostingMap& hosting)
{
    in.colour_by = "hosting";
    in.classes.clear();
    const double band_kw = hosting.max_kw() / static_cast<double>(hosting_bands.size());
    for (std::size_t b = 0; b < hosting_bands.size(); ++b) {
        const BandColour& c = hosting_bands[b];
        std::string text = decimal_text(band_kw * static_cast<double>(b), 0);
        text += b + 1 == hosting_bands.size() ? " to " : " to below ";
        text += decimal_text(band_kw * static_cast<double>(b + 1), 0);
        text += b + 1 == hosting_bands.size() ? " kW (max)" : " kW";
        in.classes.push_back({Colour{c.r, c.g, c.b}, text});
    }
    in.classes.push_back({Colour{no_hosting_answer.r, no_hosting_answer.g, no_hosting_answer.b}, "not searched or not found"});
    const auto buses = static_cast<std::size_t>(in.buses);
    in.bus_notes.assign(buses, {});
    for (int k = 1; k <= in.buses; ++k) {
        const int band = hosting.band_of(k);
        const auto cls = static_cast<std::uint8_t>(band < 0 ? hosting_bands.size() : static_cast<std::size_t>(band));
        for (int row = 1; row <= in.rows; ++row)
            in.class_of[static_cast<std::size_t>(row - 1) * buses + static_cast<std::size_t>(k - 1)] = cls;
        std::string rows = hosting.rows_of(k);
        if (!rows.empty())
            in.bus_notes[static_cast<std::size_t>(k - 1)] = "hosting capacity (locational_hc.csv):\n" + rows.substr(0, rows.size() - 1);
    }
}

void append_rows(PageInput& into, PageInput&& rows)
{
    if (into.buses != rows.buses)
        throw WriteError("the parts of the page have " + std::to_string(into.buses) + " and " + std::to_string(rows.buses) +
                         " buses");
    const auto append = [](auto& to, auto& from) { to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end())); };
    append(into.times, rows.times);
    append(into.class_of, rows.class_of);
    append(into.sun, rows.sun);
    into.clouds.resize(static_cast<std::size_t>(into.rows));
    rows.clouds.resize(static_cast<std::size_t>(rows.rows));
    append(into.clouds, rows.clouds);
    into.rows += rows.rows;
}

PageInput PageGatherer::finish(const RunState& st, const SkyHeader& sky, const std::string& title,
                               const RunVoltages* voltages, bool by_voltage, bool profile, const ControlsTable* controls,
                               const SkyField* field)
{
    PageInput in;
    in.title = title;
    in.row_offset = sky.row_offset;
    in.sky_rows = sky.rows_total;
    in.rows = std::max(0, st.n_time.value());
    in.buses = std::max(0, st.nbus.value());
    const auto rows = static_cast<std::size_t>(in.rows);
    const auto buses = static_cast<std::size_t>(in.buses);
    for (int k = 1; k <= in.buses; ++k) {
        in.names.push_back(encode_utf8(st.bus_name.at(index(k), [] { return std::string(); })));
        const auto at = bus_marker_position(st, k);
        in.x.push_back(at ? static_cast<double>(at->x) : NAN);
        in.y.push_back(at ? static_cast<double>(at->y) : NAN);
    }
    for (int c = 1; c <= st.nconn.value(); ++c) {
        const int from = st.from_bus.at(index(c), [] { return std::string(); }).value();
        const int to = st.to_bus.at(index(c), [] { return std::string(); }).value();
        if (from >= 1 && from <= in.buses && to >= 1 && to <= in.buses)
            in.connections.emplace_back(from - 1, to - 1);
    }
    const PlotRect frame = frame_rect();
    in.frame[0] = frame.left;
    in.frame[1] = frame.top;
    in.frame[2] = frame.right;
    in.frame[3] = frame.bottom;
    for (int row = 1; row <= in.rows; ++row)
        in.times.push_back(time_label(sky, encode_utf8(cell_text(st.time_val.at(index(row), [] { return std::string(); })))));

    // Each row's classes as the passes class the discs, and the sun intensity in thousandths.
    in.class_of.resize(rows * buses);
    in.sun.resize(rows * buses);
    for (int row = 1; row <= in.rows; ++row)
        for (int k = 1; k <= in.buses; ++k) {
            const std::size_t cell = static_cast<std::size_t>(row - 1) * buses + static_cast<std::size_t>(k - 1);
            Cell value;
            try {
                value = st.sun_table(index(row), index(k));
            } catch (const PassError&) {  // beyond the table's columns: an empty cell
            }
            in.sun[cell] = value.filled() ? static_cast<std::int32_t>(std::llround(double{value.value()} * 1000)) : page_empty;
            const Single v = value.value();
            in.class_of[cell] = static_cast<std::uint8_t>(double{v} > 0.99 ? 0 : v > st.sun_threshold ? 1 : 2);
        }
    in.colour_by = "sunlight";
    in.classes = {{palette(12), "above 0.99"},
                  {palette(10), "above " + encode_utf8(single_text(st.sun_threshold))},
                  {palette(1), "otherwise"}};
    add_study(in, st, voltages, by_voltage, profile, controls, field);
    for (int k = 1; k <= in.buses; ++k) {
        in.net_x.push_back(st.xc.at(index(k), [] { return std::string(); }));
        in.net_y.push_back(st.yc.at(index(k), [] { return std::string(); }));
    }
    // The columns' order: along the connections, outward from each part's first bus.
    std::vector<std::vector<int>> next(buses);
    for (const auto& [a, b] : in.connections) {
        next[static_cast<std::size_t>(a)].push_back(b);
        next[static_cast<std::size_t>(b)].push_back(a);
    }
    in.parent.assign(buses, -1);
    std::vector<bool> seen(buses, false);
    for (std::size_t s = 0; s < buses; ++s) {
        if (seen[s])
            continue;
        seen[s] = true;
        std::size_t at = in.order.size();
        in.order.push_back(static_cast<int>(s));
        for (; at < in.order.size(); ++at)
            for (const int to : next[static_cast<std::size_t>(in.order[at])])
                if (!seen[static_cast<std::size_t>(to)]) {
                    seen[static_cast<std::size_t>(to)] = true;
                    in.parent[static_cast<std::size_t>(to)] = in.order[at];
                    in.order.push_back(to);
                }
    }
    in.mapping[0] = st.xp_min.value();
    in.mapping[1] = st.yp_max.value();
    in.mapping[2] = st.xp_max.value() - st.xp_min.value();
    in.mapping[3] = st.yp_max.value() - st.yp_min.value();
    in.mapping[4] = st.xc_min;
    in.mapping[5] = st.yc_min;
    in.c_span = st.c_span;
    in.spacing = bus_spacing(st);
    in.clouds = clouds_;
    in.clouds.resize(rows);
    return in;
}

}  // namespace umbrascope

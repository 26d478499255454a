#pragma once
// The run state: everything that survives from one pass to the next, under the system's own
// names. Created with every number 0, every text empty and every cell empty, and with the table
// bounds of the run's input size.

#include "core/input.hpp"
#include "core/numeric.hpp"
#include "core/text.hpp"
#include "core/world.hpp"

namespace umbrascope {

inline constexpr std::string_view network_file_name = "cloud_bus_coords_connections.txt";
inline constexpr std::string_view sun_table_file_name = "cloud_sun_intensity_table.txt";
inline constexpr std::string_view track_file_name = "cloud_centers_plot.txt";

struct RunState {
    // Large inputs lift every table's upper bound to the end of the Integer range; the classic
    // bounds are the default.
    explicit RunState(bool large_inputs = false)
        : large(large_inputs),
          bus_num("bus_num", reach(9999)),
          bus_name("bus_name", reach(45)),
          xc("xc", reach(45)),
          yc("yc", reach(25)),
          from_bus("from_bus", reach(100)),
          to_bus("to_bus", reach(100)),
          time_val("time_val", reach(2000)),
          sun_table("sun_table", reach(2000), reach(25))
    {
    }
    [[nodiscard]] int reach(int classic) const { return large ? integer_max : classic; }

    bool large = false;

    // Pass control
    Integer num_pass;
    Integer i_time;
    Integer n_time;

    // Input scanning, shared by the three readers
    char32_t delim = 0;
    Text text_line;
    Integer pos_start;
    Integer pos;
    Integer k;
    Integer c;
    Integer col;

    // Network
    Integer nbus;
    Table<Integer, 0, 9999> bus_num;
    Table<Text, 0, 45> bus_name;
    Table<Single, 0, 45> xc;
    Table<Single, 0, 25> yc;
    Integer last_bus;
    Integer bus_val;
    Text name_field;
    Single x_val = 0;
    Single y_val = 0;
    Integer nconn;
    Table<Integer, 0, 100> from_bus;
    Table<Integer, 0, 100> to_bus;
    long connections_line = 0;  // the network file's "bus_connections" line, so messages can name a connection's line

    // Plot geometry
    Single xc_min = 0;
    Single xc_max = 0;
    Single yc_min = 0;
    Single yc_max = 0;
    Single xc_span = 0;
    Single yc_span = 0;
    Single c_span = 0;
    Integer margin;
    Integer xp_min;
    Integer yp_min;
    Integer xp_max;
    Integer yp_max;
    Integer yp_span;
    Single xn = 0;
    Single yn = 0;
    Integer xp_bus;
    Integer yp_bus;
    Integer radius;

    // Sun table
    Table<Cell, 0, 2000> time_val;
    Table2<Cell, 0, 2000, 0, 25> sun_table;
    Integer ncol;
    Single cell_val = 0;
    Integer shade_color;

    // Clouds
    Single cloud_len = 0;
    Single cloud_r1 = 0;
    Single cloud_r2 = 0;
    Single cloud_angle = 0;
    Single sun_threshold = 0;
    Single pi_val = 0;
    Single cloud_len_xp = 0;
    Single cloud_len_yp = 0;
    Single corner_ax = 0;
    Single corner_ay = 0;
    Single corner_bx = 0;
    Single corner_by = 0;
    Single cloud_x = 0;
    Single cloud_y = 0;
    Single cloud_xp = 0;
    Single cloud_yp = 0;
};

// What one pass works on: the run state, the input slot, and the window's controls and surface.
struct Pass {
    RunState& st;
    InputSlot& input;
    Controls& controls;
    Surface& surface;
};

}  // namespace umbrascope

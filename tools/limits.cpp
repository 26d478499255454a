#include "tools/limits.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

namespace umbrascope::tools {

namespace {

constexpr int clouds = 4;

struct Size {
    int side;  // buses on a side of the square grid
    int connections;
    int rows;
};
constexpr Size classic_size{5, 100, 2000};
constexpr Size large_size{50, 5000, 8000};

std::string fixed(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", v);
    return buffer;
}

// Buses on a square grid, 100 units apart.
double bus_x(int b, int side) { return 100.0 * ((b - 1) % side); }
double bus_y(int b, int side)
{
    const int row = (b - 1) / side;
    return 100.0 * row;
}

// Clouds drift across the grid, scaled with its side (`scale` 1 on the 5 x 5 grid).
double cloud_x(int cloud, int step, double scale)
{
    return std::fmod(-100.0 * scale + 0.3 * step * scale + 130.0 * cloud * scale, 600.0 * scale) - 50.0 * scale;
}
double cloud_y(int cloud, int step, double scale)
{
    return 40.0 * scale + 100.0 * cloud * scale + 20.0 * scale * std::sin(step / 50.0 + cloud);
}

// Connection c: on the 5 x 5 grid a spread of pairs; on larger grids each bus to its right and
// lower neighbours, then diagonals.
std::pair<int, int> connection(int c, int side)
{
    const int buses = side * side;
    if (side == classic_size.side)
        return {c % buses + 1, (c * 7 + 3) % buses + 1};
    const int edges = side * (side - 1);
    if (c < edges)
        return {(c / (side - 1)) * side + c % (side - 1) + 1, (c / (side - 1)) * side + c % (side - 1) + 2};
    if (c < 2 * edges)
        return {c - edges + 1, c - edges + side + 1};
    const int d = (c - 2 * edges) * 7 % ((side - 1) * (side - 1));
    return {(d / (side - 1)) * side + d % (side - 1) + 1, (d / (side - 1)) * side + d % (side - 1) + side + 2};
}

}  // namespace

bool write_limit_inputs(const std::filesystem::path& folder, const LimitOptions& options)
{
    const Size size = options.large ? large_size : classic_size;
    const int buses = size.side * size.side;
    const int rows = size.rows;
    const double scale = size.side / 5.0;
    std::ofstream network(folder / "cloud_bus_coords_connections.txt", std::ios::binary);
    network << "bus_coordinates\n";
    for (int b = 1; b <= buses; ++b)
        network << b << ",Bus " << b << ',' << bus_x(b, size.side) << ',' << bus_y(b, size.side) << '\n';
    network << "bus_connections\n";
    for (int c = 0; c < size.connections; ++c) {
        const auto [from, to] = connection(c, size.side);
        network << from << ',' << to << '\n';
    }

    std::ofstream sun(folder / "cloud_sun_intensity_table.txt", std::ios::binary);
    sun << "Sun table at the limits\nh2\nh3\nh4\nh5\ntime";
    for (int b = 1; b <= buses; ++b)
        sun << ",Bus " << b;
    sun << '\n';
    std::string row;
    for (int r = 1; r <= rows; ++r) {
        row = std::to_string(r * 10);
        for (int b = 1; b <= buses; ++b) {
            row += ',';
            row += fixed(0.5 + 0.5 * std::sin(r / 40.0 + b));
        }
        row += '\n';
        sun << row;
    }

    std::ofstream track(folder / "cloud_centers_plot.txt", std::ios::binary);
    track << "Track at the limits\nt2\nt3\nshape,-,-," << 60 * size.side / 5 << ',' << 30 * size.side / 5 << ','
          << 50 * size.side / 5 << ",-,15,0.4,\n";
    for (int step = 1; step <= rows; ++step) {
        for (int cloud = 0; cloud < clouds; ++cloud) {
            if (options.bad_record_every_tenth_step && step % 10 == 0 && cloud == 1)
                track << step << ",not a number," << fixed(cloud_y(cloud, step, scale)) << '\n';
            else
                track << step << ',' << fixed(cloud_x(cloud, step, scale)) << ',' << fixed(cloud_y(cloud, step, scale))
                      << '\n';
        }
    }
    return network.good() && sun.good() && track.good();
}

}  // namespace umbrascope::tools

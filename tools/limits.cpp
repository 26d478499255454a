#include "tools/limits.hpp"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>

namespace umbrascope::tools {

namespace {

constexpr int buses = 25;
constexpr int connections = 100;
constexpr int rows = 2000;
constexpr int clouds = 4;

std::string fixed(double v)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f", v);
    return buffer;
}

// Buses on a 5 x 5 grid, 100 units apart.
double bus_x(int b) { return 100.0 * ((b - 1) % 5); }
double bus_y(int b)
{
    const int row = (b - 1) / 5;
    return 100.0 * row;
}

double cloud_x(int cloud, int step) { return std::fmod(-100.0 + 0.3 * step + 130.0 * cloud, 600.0) - 50.0; }
double cloud_y(int cloud, int step) { return 40.0 + 100.0 * cloud + 20.0 * std::sin(step / 50.0 + cloud); }

}  // namespace

bool write_limit_inputs(const std::filesystem::path& folder, const LimitOptions& options)
{
    std::ofstream network(folder / "cloud_bus_coords_connections.txt", std::ios::binary);
    network << "bus_coordinates\n";
    for (int b = 1; b <= buses; ++b)
        network << b << ",Bus " << b << ',' << bus_x(b) << ',' << bus_y(b) << '\n';
    network << "bus_connections\n";
    for (int c = 0; c < connections; ++c) {
        const int from = c % buses + 1;
        const int to = (c * 7 + 3) % buses + 1;
        network << from << ',' << to << '\n';
    }

    std::ofstream sun(folder / "cloud_sun_intensity_table.txt", std::ios::binary);
    sun << "Sun table at the limits\nh2\nh3\nh4\nh5\ntime";
    for (int b = 1; b <= buses; ++b)
        sun << ",Bus " << b;
    sun << '\n';
    for (int r = 1; r <= rows; ++r) {
        sun << r * 10;
        for (int b = 1; b <= buses; ++b)
            sun << ',' << fixed(0.5 + 0.5 * std::sin(r / 40.0 + b));
        sun << '\n';
    }

    std::ofstream track(folder / "cloud_centers_plot.txt", std::ios::binary);
    track << "Track at the limits\nt2\nt3\nshape,-,-,60,30,50,-,15,0.4,\n";
    for (int step = 1; step <= rows; ++step) {
        for (int cloud = 0; cloud < clouds; ++cloud) {
            if (options.bad_record_every_tenth_step && step % 10 == 0 && cloud == 1)
                track << step << ",not a number," << fixed(cloud_y(cloud, step)) << '\n';
            else
                track << step << ',' << fixed(cloud_x(cloud, step)) << ',' << fixed(cloud_y(cloud, step)) << '\n';
        }
    }
    return network.good() && sun.good() && track.good();
}

}  // namespace umbrascope::tools

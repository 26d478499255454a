// Writes the bundled example: the IEEE 13-node test feeder as a network file, a cloud track of three
// clouds drifting across it, and the sun table under that track by umbrascope-clouds' model.
// Deterministic: the same files every time. Usage: umbrascope-make-example FOLDER

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <iterator>
#include <vector>

#include "scenario/sun_model.hpp"

namespace {

using namespace umbrascope;

struct Bus {
    const char* name;
    double x;
    double y;
};

// The feeder's published layout, top (SourceBus) to bottom, left to right; y grows upward.
constexpr std::array<Bus, 16> buses{{
    {"SourceBus", 200, 400}, {"650", 200, 350}, {"RG60", 200, 300}, {"646", 0, 250},
    {"645", 100, 250},       {"632", 200, 250}, {"633", 350, 250},  {"634", 400, 250},
    {"670", 200, 200},       {"611", 0, 100},   {"684", 100, 100},  {"671", 200, 100},
    {"692", 250, 100},       {"675", 400, 100}, {"652", 100, 0},    {"680", 200, 0},
}};

// Lines, the switch 671-692, the transformers and the regulator, by bus name.
constexpr std::array<std::array<const char*, 2>, 15> branches{{
    {"SourceBus", "650"}, {"650", "RG60"}, {"RG60", "632"}, {"632", "670"}, {"670", "671"},
    {"671", "680"},       {"632", "633"},  {"632", "645"},  {"645", "646"}, {"692", "675"},
    {"671", "684"},       {"684", "611"},  {"684", "652"},  {"671", "692"}, {"633", "634"},
}};

struct Cloud {
    double x0, y0;  // position at step 1, feeder units
    double vx, vy;  // drift per step
};

constexpr std::array<Cloud, 3> clouds{{
    {-150, 330, 4.5, -0.8},
    {-250, 130, 5.0, 0.3},
    {450, 20, -4.0, 1.2},
}};

constexpr int rows = 120;
constexpr double cloud_len = 100;
constexpr double cloud_r1 = 50;   // the dense core
constexpr double cloud_r2 = 90;   // the thin edge
constexpr double cloud_angle = 20;
constexpr double sun_threshold = 0.6;

int index_of(const char* name)
{
    for (std::size_t i = 0; i < buses.size(); ++i)
        if (std::string(buses[i].name) == name)
            return static_cast<int>(i) + 1;
    return 0;
}

double cloud_x(const Cloud& c, int step) { return c.x0 + c.vx * (step - 1); }
double cloud_y(const Cloud& c, int step) { return c.y0 + c.vy * (step - 1); }

std::string number(double v, int decimals)
{
    std::array<char, 32> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, v);
    std::string text = buffer.data();
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.')
            text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

}  // namespace

int main(int argc, char* argv[])
{
    constexpr const char* usage =
        "usage: umbrascope-make-example FOLDER\n\nWrites the bundled example (the IEEE 13-node test feeder, "
        "three clouds drifting across it and the sun under them) into FOLDER.\n";
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::string folder = argv[1];

    std::ofstream network(folder + "/cloud_bus_coords_connections.txt", std::ios::binary);
    network << "bus_coordinates: IEEE 13-node test feeder (number,name,x,y)\n";
    for (std::size_t i = 0; i < buses.size(); ++i)
        network << i + 1 << ',' << buses[i].name << ',' << number(buses[i].x, 1) << ',' << number(buses[i].y, 1) << '\n';
    network << "bus_connections (from bus index,to bus index)\n";
    for (const auto& branch : branches)
        network << index_of(branch[0]) << ',' << index_of(branch[1]) << '\n';

    std::ofstream track(folder + "/cloud_centers_plot.txt", std::ios::binary);
    track << "Cloud centres, IEEE 13-node test feeder\n";
    track << "Made by umbrascope-make-example\n";
    track << "Parameters: -,-,-,side,radius 1,radius 2,-,angle,threshold; then step,x,y per cloud\n";
    track << "shape,feeder units,-," << number(cloud_len, 1) << ',' << number(cloud_r1, 1) << ','
          << number(cloud_r2, 1) << ",degrees," << number(cloud_angle, 1) << ',' << number(sun_threshold, 2) << ",\n";
    // Each step opens with a parked record outside the feeder, which is never drawn. Early versions
    // lost the first record of every step, and the committed example keeps the records it had then.
    for (int step = 1; step <= rows; ++step) {
        track << step << ",-9999,-9999\n";
        for (const Cloud& cloud : clouds)
            track << step << ',' << number(cloud_x(cloud, step), 1) << ',' << number(cloud_y(cloud, step), 1) << '\n';
    }
    track.close();

    // The sun table under the track as written, as umbrascope-clouds --from-track makes it.
    std::ifstream written(folder + "/cloud_centers_plot.txt", std::ios::binary);
    const std::string track_text{std::istreambuf_iterator<char>(written), std::istreambuf_iterator<char>()};
    const scenario::Track clouds_track = scenario::read_track(track_text, "cloud_centers_plot.txt");
    std::vector<scenario::Place> places;
    scenario::SunHeader header{"the clouds of cloud_centers_plot.txt", "", 10, {}};
    for (const Bus& bus : buses) {
        places.push_back({bus.x, bus.y});
        header.names.emplace_back(bus.name);
    }
    std::ofstream sun(folder + "/cloud_sun_intensity_table.txt", std::ios::binary);
    sun << scenario::sun_table_text(scenario::sun_under(places, clouds_track, rows), header);
    return network && sun && track ? 0 : 1;
}

// Speed of bringing a real feeder in: importing the IEEE 8500-node circuit (12 files, 0.9 MB), and
// cloud scenarios over it, drawn and measured. See docs/performance.md for the figures.

#include <benchmark/benchmark.h>

#include <filesystem>

#include "import/network.hpp"
#include "scenario/drift.hpp"
#include "scenario/sensor.hpp"

namespace {

using namespace umbrascope;
namespace fs = std::filesystem;

const fs::path feeder = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500";

import::Network import_8500()
{
    import::DiskFiles files;
    const import::Circuit circuit = import::read_circuit(feeder / "Master.dss", files);
    const fs::path coords = *files.find(circuit.coordinates->from, circuit.coordinates->name);
    std::string why;
    return import::join_network(import::read_coordinates(*files.read(coords, why), coords.string(), import::Degrees::none), circuit);
}

// The feeder's buses where the picture places them (single precision), and their names.
void places_8500(std::vector<scenario::Place>& buses, scenario::SunHeader& header)
{
    for (const import::Bus& bus : import_8500().buses) {
        buses.push_back({static_cast<float>(bus.x), static_cast<float>(bus.y)});
        header.names.push_back(bus.name);
    }
}

// From the circuit's entry file to the network file's text, as umbrascope-import does it.
void import_8500_node_feeder(benchmark::State& state)
{
    for (auto _ : state) {
        const std::string text = import::network_file_text(import_8500(), "Master.dss");
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(import_8500_node_feeder)->Unit(benchmark::kMillisecond);

// Five clouds over 2,900 one-second rows: the track, the sun table under it and both files' text.
void clouds_over_8500_node_feeder(benchmark::State& state)
{
    std::vector<scenario::Place> buses;
    scenario::SunHeader header{"", "", 1, {}};
    places_8500(buses, header);
    scenario::DriftOptions options;
    options.clouds = 5;
    options.steps = 2900;
    options.interval = 1;
    for (auto _ : state) {
        const scenario::Drift drift = scenario::drifting_clouds(buses, options);
        const std::string track = scenario::track_text(drift.track, drift.about, drift.decimals);
        const scenario::SunTable table =
            scenario::sun_under(buses, scenario::read_track(track, "track"), options.steps);
        const std::string sun = scenario::sun_table_text(table, header);
        benchmark::DoNotOptimize(sun.data());
    }
}
BENCHMARK(clouds_over_8500_node_feeder)->Unit(benchmark::kMillisecond);

// The feeder's own one-second solar series (2,913 samples) as a sensor at its centre, carried over
// it on a wind of 10 m/s: the sun table and its text, as umbrascope-clouds --from-sensor makes them.
void sensor_sky_over_8500_node_feeder(benchmark::State& state)
{
    std::vector<scenario::Place> buses;
    scenario::SunHeader header{"", "", 1, {}};
    places_8500(buses, header);
    import::DiskFiles files;
    std::string why;
    const scenario::SensorSeries series =
        scenario::read_sensor(*files.read(feeder / "Normalized-1s-2900-pts.CSV", why), "Normalized-1s-2900-pts.CSV");
    scenario::SensorSky sky;
    sky.metres_per_unit = 0.3048;
    sky.speed = 10;
    sky.at = {(1.64e6 + 1.68e6) / 2, 1.23e7};
    sky.rows = static_cast<int>(series.values.size());
    for (auto _ : state) {
        const scenario::SunTable table = scenario::sensor_sun(buses, series, sky);
        const std::string sun = scenario::sun_table_text(table, header);
        benchmark::DoNotOptimize(sun.data());
    }
}
BENCHMARK(sensor_sky_over_8500_node_feeder)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

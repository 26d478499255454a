// Speed of the study on the IEEE 8500-node feeder under its own one-second sky (2,913 rows):
// writing the OpenDSS script, and reading back the exports of its 3,636 monitors. The exports are
// made here as an engine writes them (mode 32, "hour, t(sec), |V|..., |I|...", the voltages
// export), with voltages that wander around each bus's base. See docs/performance.md.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "import/elements.hpp"
#include "import/network.hpp"
#include "scenario/sensor.hpp"
#include "study/plan.hpp"
#include "study/study.hpp"

namespace {

using namespace umbrascope;
namespace fs = std::filesystem;

const fs::path feeder = fs::path(UMBRASCOPE_SOURCE_DIR) / "tests/data/feeders/ieee8500";

void put(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A scenario folder for the feeder, as the import and the clouds make it, written once.
struct Scenario {
    fs::path folder;
    fs::path shapes;

    Scenario()
    {
        folder = fs::temp_directory_path() / "umbrascope-study-bench";
        fs::remove_all(folder);
        fs::create_directories(folder / "results");
        import::DiskFiles files;
        const import::Circuit circuit = import::read_circuit(feeder / "Master.dss", files);
        const fs::path coords = *files.find(circuit.coordinates->from, circuit.coordinates->name);
        std::string why;
        const import::Network network = import::join_network(
            import::read_coordinates(*files.read(coords, why), coords.string(), import::Degrees::none), circuit);
        put(folder / "cloud_bus_coords_connections.txt", import::network_file_text(network, "Master.dss"));
        put(folder / "feeder_elements.csv", elements_file_text(import::stand_ins(circuit, network)));
        put(folder / "feeder_circuit.txt", circuit_record_text(import::circuit_record(circuit, network, feeder / "Master.dss")));

        std::vector<scenario::Place> places;
        scenario::SunHeader header{"the sensor", "", 1, {}};
        for (const import::Bus& bus : network.buses) {
            places.push_back({bus.x, bus.y});
            header.names.push_back(bus.name);
        }
        const scenario::SensorSeries series =
            scenario::read_sensor(*files.read(feeder / "Normalized-1s-2900-pts.CSV", why), "sensor");
        scenario::SensorSky sky;
        sky.metres_per_unit = 0.3048;
        sky.speed = 10;
        sky.at = places[places.size() / 2];
        sky.rows = static_cast<int>(series.values.size());
        const scenario::SunTable table = scenario::sensor_sun(places, series, sky);
        put(folder / "cloud_sun_intensity_table.txt", scenario::sun_table_text(table, header));
        shapes = folder / "sun.dss";
        put(shapes, scenario::loadshapes_text(table, header, nullptr, nullptr));
        (void)study::write_study({folder, shapes});
        exports(table.rows);
    }

    // What an engine would have written: a file a monitor and the voltages export.
    void exports(int rows) const
    {
        const std::vector<study::Monitor> monitors = study::read_map(folder / study::map_name);
        std::map<std::string, std::set<int>> nodes;
        for (const study::Monitor& monitor : monitors)
            for (const int node : monitor.nodes)
                if (node > 0)
                    nodes[monitor.bus].insert(node);
        const auto base = [](const std::string& bus) { return bus.rfind("sx", 0) == 0 ? 0.208 : 12.47; };
        std::string voltages = "Bus, BasekV, Node1, Magnitude1, Angle1, pu1\n";
        for (const auto& [bus, at] : nodes) {
            voltages += "\"" + bus + "\", " + std::to_string(base(bus));
            for (const int node : at)
                voltages += ", " + std::to_string(node) + ", " + std::to_string(base(bus) * 577.35) + ", 0.0, 1.0";
            voltages += "\n";
        }
        put(folder / "results/IEEE8500_EXP_VOLTAGES.CSV", voltages);
        std::string text;
        char number[64];
        for (const study::Monitor& monitor : monitors) {
            const std::size_t n = monitor.nodes.size();
            text = "hour,t(sec)";
            for (std::size_t k = 1; k <= n; ++k)
                text += ",\"|V|" + std::to_string(k) + " (volts)\"";
            for (std::size_t k = 1; k <= n; ++k)
                text += ",\"|I|" + std::to_string(k) + " (amps)\"";
            text += "\n";
            const double volts = base(monitor.bus) * 577.35;
            for (int row = 1; row <= rows; ++row) {
                std::snprintf(number, sizeof number, "%d, %.5f", (row / 3600), static_cast<double>(row % 3600));
                text += number;
                for (std::size_t k = 0; k < n; ++k) {
                    std::snprintf(number, sizeof number, ", %g",
                                  monitor.nodes[k] == 0 ? 0.0 : volts * (1 + 0.04 * std::sin(row * 0.01 + static_cast<double>(k))));
                    text += number;
                }
                for (std::size_t k = 0; k < n; ++k) {
                    std::snprintf(number, sizeof number, ", %g", 12.5 + static_cast<double>(k));
                    text += number;
                }
                text += "\n";
            }
            put(folder / "results" / ("IEEE8500_Mon_" + monitor.name + "_1.csv"), text);
        }
    }
};

const Scenario& scenario_8500()
{
    static const Scenario made;
    return made;
}

// From the folder and the circuit to study.dss and its map, as umbrascope-study write does it.
void write_8500_study(benchmark::State& state)
{
    const Scenario& made = scenario_8500();
    for (auto _ : state) {
        const study::WriteResult result = study::write_study({made.folder, made.shapes});
        benchmark::DoNotOptimize(result.monitors);
    }
}
BENCHMARK(write_8500_study)->Unit(benchmark::kMillisecond);

// The 3,636 exports of 2,913 rows (about 480 MB) into the two tables and the report.
void read_8500_study(benchmark::State& state)
{
    const Scenario& made = scenario_8500();
    for (auto _ : state) {
        const study::ReadResult result = study::read_study({made.folder, std::nullopt, std::nullopt, std::nullopt, std::nullopt});
        benchmark::DoNotOptimize(result.summary.data());
    }
}
BENCHMARK(read_8500_study)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

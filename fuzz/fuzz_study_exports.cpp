// The study's readers of what an engine wrote, on any bytes: the first byte picks the reader (a
// monitor's voltages, a monitor's columns, the voltage export, the monitor map, the controls map,
// or a whole run's controls with the input as its tap monitor, its export of the taps or its
// summary of the settle), the rest is the file.

#include <fstream>
#include <string_view>

#include "fuzz/harness.hpp"
#include "study/controls.hpp"
#include "study/exports.hpp"
#include "study/plan.hpp"

using namespace umbrascope;
using namespace umbrascope::study;

namespace {

void put(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

constexpr int rows = 3;

// A run of one regulator over three rows of 1 s, its files whole but for the one the input takes.
void controls_run(std::string_view input, int which)
{
    const std::filesystem::path folder = fuzz::scratch_folder() / "results";
    std::filesystem::create_directories(folder);
    const std::string run = "study_0123abcd_89abcdef";
    std::string tap = "hour, t(sec), \"Tap (pu)\"\n";
    for (int i = 0; i < settle_solves; ++i)
        tap += "0, 1.00000, 1.00625\n";
    for (int row = 1; row <= rows; ++row)
        tap += "0, " + std::to_string(row) + ".00000, 1.0125\n";
    put(folder / ("C_Mon_" + run + "_tap1_1.csv"), which == 0 ? input : std::string_view(tap));
    put(folder / (run + "_taps.csv"),
        which == 1 ? input
                   : std::string_view("Name, RegControl, Tap, Min, Max, Step, Position, Winding\n"
                                      "t, rc , 1.00625, 0.9, 1.1, 0.00625, 1, 2\n"));
    put(folder / (run + "_settle.csv"),
        which == 2 ? input : std::string_view("DateTime, CaseName, Status, ControlIterations\n\"x\", c, SOLVED, 1\n"));
    Sky sky;
    sky.rows = rows;
    sky.interval = 1;
    for (int row = 0; row < rows; ++row)
        sky.times.push_back(std::to_string(row));
    const std::vector<ControlWatch> watches{{"regcontrol", "rc", "Transformer.t", 2, run + "_tap1", "", "t", "a"}};
    const ResultsFolder results(folder);
    const ControlsRead read = read_controls(results, run, watches, sky);
    fuzz::require(read.sky.controls.size() == 1 && read.sky.controls[0].rows.size() == static_cast<std::size_t>(rows));
    const ControlCounts& counts = read.sky.counts[0];
    fuzz::require(counts.min <= counts.start && counts.start <= counts.max && counts.steps_changed <= rows);
    fuzz::require(counts.changes >= counts.steps_changed);
    (void)controls_report_text(read, watches, sky);
    (void)controls_summary(read, watches, sky);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int which = data[0] % 8;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::filesystem::path file = fuzz::scratch_folder() / "export.csv";
    try {
        switch (which) {
        case 0: {
            put(file, input);
            std::vector<double> volts;
            std::vector<bool> found;
            std::vector<char> buffer;
            const std::vector<int> conductors{1, 3, 2};
            read_monitor(file, rows, 10, 1, conductors, volts, found, buffer);
            fuzz::require(volts.size() == rows * conductors.size() && found.size() == conductors.size());
            break;
        }
        case 1: {
            put(file, input);
            const MonitorColumns columns = read_monitor_columns(file);
            fuzz::require(columns.cells.size() == columns.rows() * columns.names.size());
            break;
        }
        case 2:
            put(file, input);
            for (const auto& [bus, voltages] : read_voltage_export(file))
                for (const auto& [node, volts] : voltages.nodes)
                    fuzz::require(node > 0);
            break;
        case 3:
            put(file, input);
            for (const Monitor& monitor : read_map(file))
                fuzz::require(!monitor.nodes.empty() && monitor.nodes.size() <= 1000);
            break;
        case 4:
            put(file, input);
            for (const ControlWatch& watch : read_controls_map(file))
                fuzz::require(!watch.monitor.empty() && watch.terminal >= 1);
            break;
        default:
            controls_run(input, which - 5);
            break;
        }
    } catch (const StudyError& error) {
        fuzz::require(*error.what() != '\0');
    }
    return 0;
}

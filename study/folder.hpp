#pragma once
// What a study reads from a scenario's folder besides the circuit: where the network came from,
// the sky's rows (how many, how far apart, their times, the clock and the network's unit), the
// drawn network itself, and which bus stands for which element.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/csv.hpp"
#include "model/circuit_record.hpp"
#include "model/element_map.hpp"

namespace umbrascope::study {

// Input a study cannot take, or a failed step; the message says which file and why.
class StudyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::string_view script_name = "study.dss";
inline constexpr std::string_view map_name = "study_monitors.csv";
inline constexpr std::string_view controls_map_name = "study_controls.csv";
inline constexpr std::string_view results_name = "results";
inline constexpr std::string_view lowest_table_name = "cloud_voltage_min_table.txt";
inline constexpr std::string_view highest_table_name = "cloud_voltage_max_table.txt";
inline constexpr std::string_view report_name = "voltage_report.csv";
inline constexpr std::string_view clear_report_name = "voltage_report_clear.csv";  // the twin's, where it records them

using umbrascope::append_csv;
using umbrascope::csv_fields;

// A name as one word of an OpenDSS command, quoted where it must be. Throws StudyError for one no
// command can name.
[[nodiscard]] std::string dss_name(const std::string& name);

// The whole of a file. Throws StudyError naming it, as `what`.
[[nodiscard]] std::string read_text(const std::filesystem::path& path, const char* what);

// The folder's feeder_circuit.txt. Throws StudyError where it has none (an import older than the
// record), or no network.
[[nodiscard]] CircuitRecord read_circuit_record(const std::filesystem::path& folder);

// The sun table's rows, without their values.
struct Sky {
    int rows = 0;
    double interval = 0;                // seconds a row
    std::vector<std::string> times;     // each row's time field as written
    std::optional<double> start;        // the clock time of the first row, seconds after midnight
    std::string units;                  // one network unit ("ft", "m", "km"), "" when not told
    std::vector<std::string> header;    // its six header lines
    std::string fingerprint;            // of the whole file
    int first_row = 1;                  // the row a run's first step solves: 1 but in a slice of the run
};
// Reads the sun table of `folder`. The interval comes from its header ("One row every 10 seconds")
// or else from its first two times. Throws StudyError.
[[nodiscard]] Sky read_sky(const std::filesystem::path& folder);
// The drawn network: the network file's buses in order, with their places and connections.
struct Drawn {
    std::vector<std::string> names;
    std::vector<double> x, y;
    std::vector<std::pair<int, int>> connections;  // by index from 0
    [[nodiscard]] std::optional<int> find(std::string_view name) const;  // as spelt, else in any letter case
};
[[nodiscard]] Drawn read_drawn(const std::filesystem::path& folder);

// Each element's bus and the drawn bus for it, from feeder_elements.csv; none where it is not there.
[[nodiscard]] std::vector<StandIn> read_stand_ins(const std::filesystem::path& folder);

// Metres in one network unit for "ft", "m" or "km"; nothing for other text.
[[nodiscard]] std::optional<double> metres_of(std::string_view units);

// The length of the shortest way along the connections from `from` to every bus, in network
// units; below 0 where no way leads.
[[nodiscard]] std::vector<double> distances_from(const Drawn& drawn, int from);

}  // namespace umbrascope::study

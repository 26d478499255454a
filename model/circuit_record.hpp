#pragma once
// feeder_circuit.txt, which umbrascope-import writes beside the network: where the network came
// from (an OpenDSS circuit, or two tables), which a study of it needs, as "key=value" lines.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace umbrascope {

inline constexpr std::string_view circuit_record_name = "feeder_circuit.txt";

struct CircuitRecord {
    std::filesystem::path entry;   // the circuit's entry file; empty for a network of two tables
    std::string circuit;           // its name
    std::string source_bus;        // lower case
    std::string source_drawn_bus;  // as the network file names it; empty where none stands for it
    std::string tables;            // for two tables: what they were
    // What one network unit is by the circuit's line lengths, where they tell.
    std::optional<double> metres_per_unit_by_lines;
    // The circuit's own Set ControlMode, the last it gives, in lower case ("off"); "" for none.
    std::string control_mode;
    int lines_without_units = 0;  // counted in km, as OpenDSS takes them
};

[[nodiscard]] std::string circuit_record_text(const CircuitRecord& record);
// Keys it does not know are passed over.
[[nodiscard]] CircuitRecord read_circuit_record_text(std::string_view text);

}  // namespace umbrascope

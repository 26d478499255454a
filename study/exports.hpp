#pragma once
// OpenDSS's exports as engines write them: a monitor's "<circuit>_Mon_<name>_1.csv" (or without
// the actor's "_1"), in any letter case, modes 0 and 32, with or without blanks after the commas,
// quoted or plain headers, numbers such as 1.38112E-006, lines ending in LF or CRLF; and "Export
// Voltages", whose BasekV (line to line) is each bus's base.

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "study/folder.hpp"

namespace umbrascope::study {

// The export files of a results folder, found by monitor name.
class ResultsFolder {
public:
    // Lists the folder: only the exports of `circuit` (their names' first part, in any letter
    // case) where it is given. Throws StudyError where it cannot be read.
    explicit ResultsFolder(std::filesystem::path folder, const std::string& circuit = {});
    // The monitor's export; nothing where there is none.
    [[nodiscard]] std::optional<std::filesystem::path> monitor(const std::string& name) const;
    // The "Export Voltages" file. Throws StudyError where there is none, or several.
    [[nodiscard]] std::filesystem::path voltages() const;
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    std::string own_;  // the circuit whose exports are taken, as its record spells it; "" for any
    std::unordered_map<std::string, std::filesystem::path> monitors_;  // lower-case name, actor number dropped
    std::vector<std::filesystem::path> voltages_;
};

// A bus of the voltage export: its base and the magnitude of each node the engine solved.
struct BusVoltages {
    double base_kv = 0;                          // line to line
    std::vector<std::pair<int, double>> nodes;   // node, volts
    [[nodiscard]] std::optional<double> volts(int node) const;
};

// Each bus of an "Export Voltages" file by its lower-case name. Throws StudyError.
[[nodiscard]] std::unordered_map<std::string, BusVoltages> read_voltage_export(const std::filesystem::path& file);

// Reads a monitor export's voltage magnitudes, reusing `buffer`: volts[row x conductors.size() + i]
// is conductor conductors[i] (from 1) in row `row` (from 0), and found[i] says whether the file
// has it at all. Checks that it has `rows` rows, one step of `interval` seconds apart from the
// first one step in. Throws StudyError naming the file, also for a file without any voltage.
void read_monitor(const std::filesystem::path& file, int rows, double interval, const std::vector<int>& conductors,
                  std::vector<double>& volts, std::vector<bool>& found, std::vector<char>& buffer);

}  // namespace umbrascope::study

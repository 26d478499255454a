#pragma once
// OpenDSS's exports as engines write them: a monitor's "<circuit>_Mon_<name>_1.csv" (or without
// the actor's "_1"), in any letter case, modes 0 and 32, with or without blanks after the commas,
// quoted or plain headers, numbers such as 1.38112E-006, lines ending in LF or CRLF; and "Export
// Voltages", whose BasekV (line to line) is each bus's base.

#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <string>
#include <unordered_map>
#include <vector>

#include "study/folder.hpp"

namespace umbrascope::study {

// The export files of a results folder: monitors' by their names, and a run's own exports by
// theirs ("study_<sky>_<script>_voltages.csv"), in any letter case.
class ResultsFolder {
public:
    // Lists the folder: only the monitor exports of `circuit` (their names' first part, in any
    // letter case) where it is given. Throws StudyError where it cannot be read.
    explicit ResultsFolder(std::filesystem::path folder, const std::string& circuit = {});
    // The monitor's export; nothing where there is none.
    [[nodiscard]] std::optional<std::filesystem::path> monitor(const std::string& name) const;
    // The file of that name; nothing where there is none.
    [[nodiscard]] std::optional<std::filesystem::path> named(const std::string& name) const;
    // The runs of study scripts whose exports it holds ("study_<sky>_<script>", lower case), and
    // the circuits whose monitor exports it holds, of the circuit asked for or not.
    [[nodiscard]] const std::vector<std::string>& runs() const { return runs_; }
    [[nodiscard]] const std::vector<std::string>& circuits() const { return circuits_; }
    // Whether it holds a monitor export of an older study, named "study_v1" and on.
    [[nodiscard]] bool older_study() const { return older_; }
    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

private:
    std::filesystem::path folder_;
    std::unordered_map<std::string, std::filesystem::path> monitors_;  // lower-case name, actor number dropped
    std::unordered_map<std::string, std::filesystem::path> files_;     // lower-case file name
    std::vector<std::string> runs_;
    std::vector<std::string> circuits_;
    bool older_ = false;
};

// The run whose exports a file or monitor name belongs to: "study_0123abcd_89abcdef" of
// "study_0123abcd_89abcdef_v12"; empty for a name of no run.
[[nodiscard]] std::string run_of(std::string_view name);

// A bus of the voltage export: its base and the magnitude of each node the engine solved.
struct BusVoltages {
    double base_kv = 0;                          // line to line
    std::vector<std::pair<int, double>> nodes;   // node, volts
    [[nodiscard]] std::optional<double> volts(int node) const;
};

// Each bus of an "Export Voltages" file by its lower-case name. Throws StudyError.
[[nodiscard]] std::unordered_map<std::string, BusVoltages> read_voltage_export(const std::filesystem::path& file);

// A monitor export's columns, of any mode: the header's fields as named (quotes and blanks
// dropped), and each row's time (hour x 3600 + t(sec)) and numbers. Throws StudyError naming the
// file for one that is not a monitor export, or a row that is not numbers.
struct MonitorColumns {
    std::vector<std::string> names;  // from the third field: "Tap (pu)", "Step_1", "P1 (kW)", ...
    std::vector<double> times;
    std::vector<double> cells;       // each row's fields from the third, row after row

    [[nodiscard]] std::size_t rows() const { return times.size(); }
    [[nodiscard]] double at(std::size_t row, std::size_t column) const { return cells[row * names.size() + column]; }
};
// Reads a monitor export whole; with `wanted`, only the columns whose lower-case names it takes are
// read, the others left 0.
[[nodiscard]] MonitorColumns read_monitor_columns(const std::filesystem::path& file,
                                                  const std::function<bool(const std::string&)>& wanted = {});

// Reads a monitor export's voltage magnitudes, reusing `buffer`: volts[row x conductors.size() + i]
// is conductor conductors[i] (from 1) in row `row` (from 0), and found[i] says whether the file
// has it at all. Checks that it has `rows` rows, one step of `interval` seconds apart, the first at
// row `first_row`'s time (`first_row` steps in). Throws StudyError naming the file, also for a file without any voltage.
void read_monitor(const std::filesystem::path& file, int rows, double interval, int first_row, const std::vector<int>& conductors,
                  std::vector<double>& volts, std::vector<bool>& found, std::vector<char>& buffer);

}  // namespace umbrascope::study

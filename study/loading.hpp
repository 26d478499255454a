#pragma once
// Every line's and transformer's loading through the study: a monitor of mode 32 on its first
// terminal under the sky and its twin (a bus's voltage monitor where one sits there), its ratings
// as the engine holds them (its property dump), and each element's loading row by row as the
// engine's own overload report computes it: the largest phase conductor's current at the first
// terminal over the normal, or emergency, amps.

#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "import/circuit.hpp"
#include "study/exports.hpp"
#include "study/folder.hpp"

namespace umbrascope::study {

inline constexpr std::string_view branches_map_name = "study_branches.csv";
inline constexpr std::string_view loading_report_name = "loading_report.csv";

// A line or transformer in service, watched at its first terminal.
struct Branch {
    std::string element;        // "Line.650632", as the circuit spells it
    std::string kind;           // "line" or "transformer"
    std::string bus1, bus2;     // its first two terminals' buses, lower case
    std::string monitor;        // under the sky
    std::string clear_monitor;  // under the clear sky; "" where the study runs no twin
    bool rated = false;         // the circuit gives its rating; else the engine's defaults do
    bool shared = false;        // its monitors are a bus's voltage monitors
    int terminal = 1;           // the terminal they watch: a line's second where it feeds a watched bus
};

// A terminal a voltage monitor watches.
struct WatchedTerminal {
    std::string element;
    int terminal = 1;
    std::string monitor;
};

// The lines and transformers (autotransformers and regulators' transformers among them) of the
// circuit in service. One whose first terminal a voltage monitor of `voltage` watches shares it,
// its twin's too, and so does a line whose second terminal one watches (the current there is the
// first's but for the line's charging current); the others' monitors are named `prefix` and
// "i1", "i2", ..., and with `twin` `prefix` and "clear_i1", ...
[[nodiscard]] std::vector<Branch> plan_branches(const import::Circuit& circuit, const std::string& prefix, bool twin,
                                                const std::vector<WatchedTerminal>& voltage = {});

// "element,kind,bus1,bus2,terminal,monitor,clear_monitor,rated" and back; a study written before the
// branches were watched has no map, and reads as none. Throws StudyError.
[[nodiscard]] std::string branches_map_text(const std::vector<Branch>& branches);
[[nodiscard]] std::vector<Branch> read_branches_map(const std::filesystem::path& path);

// The script's lines that make the monitors, or export them: not those the voltage monitors give,
// under the sky and, where `twin_voltages`, under its twin.
[[nodiscard]] std::string branch_monitor_lines(const std::vector<Branch>& branches, bool clear, bool twin_voltages);
[[nodiscard]] std::string branch_export_lines(const std::vector<Branch>& branches, bool clear, bool twin_voltages);

// The engine's property dump (the Dump command's "<circuit>_PropertyDump.txt"), as far as the
// loading needs it: each element's phases and its normal and emergency amps.
struct Rating {
    int phases = 0;
    double normal_a = 0;
    double emergency_a = 0;
};
// By the element's lower-case "class.name". Throws StudyError naming the file.
[[nodiscard]] std::unordered_map<std::string, Rating> read_property_dump(const std::filesystem::path& file);
// Its name in a results folder, for the circuit `circuit`.
[[nodiscard]] std::string property_dump_name(const std::string& circuit);

// One element's loading under one sky.
struct Loading {
    std::string sky;  // "sky" or "clear"
    const Branch* branch = nullptr;
    Rating rating;
    double max_pct = 0;  // of normal
    int max_row = 0;     // the sun-table row, from 1
    double s_over_normal = 0;
    double s_over_emergency = 0;
    double window_pct = 0;  // the highest moving average of the loading, % of normal
    int window_end_row = 0;
};

// A branch monitor's export row by row: the largest current of the element's `phases` phase
// conductors at its first terminal, amps. Throws StudyError naming the file where it is not of
// `rows` rows from sun-table row `first_row`.
[[nodiscard]] std::vector<double> branch_amps(const std::filesystem::path& file, const std::string& element, int phases,
                                              int rows, double interval, int first_row);

// Each branch's loading under the sky (and the twin, where the study ran one), read from the
// run's monitors: rows `rows` from sun-table row `first_row`, `interval` seconds apart, the
// moving average over `window_s` seconds (the whole run where it is shorter). Throws StudyError
// naming a file that is missing or not the run's.
[[nodiscard]] std::vector<Loading> read_loading(const ResultsFolder& results, const std::string& circuit,
                                                const std::vector<Branch>& branches, int rows, double interval,
                                                int first_row, double window_s);

// The loading of a study split in time: each slice's own rows, slice after slice, into each
// element's loading over the whole run, as a whole run's read gives it. A moving average runs on
// across the slices' boundaries.
class LoadingStitch {
public:
    // `again` ends a message of a file missing: what to do about it.
    LoadingStitch(const std::vector<Branch>& branches, int rows, double interval, double window_s,
                  std::string again = "run the slice again");
    // A slice's exports in `results` (its dump among them): its rows `first` to `last`, its own from
    // `own`; a bus's voltage monitor records from `recorded` under the sky, and under the twin too
    // where `twin_voltages`. Slices come in order. Throws StudyError naming a file missing or cut.
    void add(const ResultsFolder& results, const std::string& circuit, int first, int recorded, int own, int last,
             bool twin_voltages);
    [[nodiscard]] std::vector<Loading> finish() const;

private:
    struct Running {
        Loading loading;
        std::vector<double> ring;  // the last `window_` rows' per cent, oldest first from `at`
        std::size_t at = 0;
        double sum = 0;
        int seen = 0;
    };
    std::vector<std::pair<bool, const Branch*>> pieces_;
    std::vector<Running> running_;
    int rows_ = 0;
    double interval_ = 0;
    int window_ = 1;
    std::string again_;
    std::unordered_map<std::string, Rating> ratings_;
};

// loading_report.csv, a row an element and sky.
[[nodiscard]] std::string loading_report_text(const std::vector<Loading>& loading, const Sky& sky);
// The summary's lines: the most loaded element under each sky, and how many carry a rating the
// engine gave by default.
[[nodiscard]] std::vector<std::string> loading_summary(const std::vector<Loading>& loading, const Sky& sky,
                                                       double window_s);

}  // namespace umbrascope::study

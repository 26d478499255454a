#pragma once
// A sweep's folder: what it was planned for (sweep.txt, skies.csv, criteria.txt), its cases
// (cases.csv and a folder each under cases/), and each case's status, written last and whole by
// the one worker every back end runs.

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace umbrascope::sweep {

// Input a sweep cannot take, or a step that failed; the message is one line that says why.
class SweepError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::string_view record_name = "sweep.txt";
inline constexpr std::string_view skies_name = "skies.csv";
inline constexpr std::string_view cases_name = "cases.csv";
inline constexpr std::string_view criteria_name = "criteria.txt";
inline constexpr std::string_view cases_folder_name = "cases";
inline constexpr std::string_view status_name = "status";
inline constexpr std::string_view running_name = "running";
inline constexpr std::string_view case_record_name = "case.txt";
inline constexpr std::string_view engine_log_name = "engine.log";
inline constexpr std::string_view pv_file_name = "PVSystems.dss";
inline constexpr std::string_view entry_file_name = "Study.dss";
// A sky's base case keeps the engine's voltage export of its settle: each bus's base and nodes.
inline constexpr std::string_view bus_bases_name = "bus_bases.csv";

// What a sweep was planned for.
struct Record {
    std::filesystem::path circuit;  // the entry file, absolute
    double feeder_kw = 0;           // the sum of its loads' kW
    int loads = 0;
    double pv_ratio = 2;
    // The circuit's files as the plan read them: all together, then each with its own.
    std::string circuit_fingerprint;
    std::vector<std::pair<std::filesystem::path, std::string>> circuit_files;
    // The circuit's own PV systems in service: in every case as the feeder's existing generation,
    // or taken out of every case (--without-circuit-pv).
    int existing_pv = 0;
    double existing_pv_kw = 0;      // their Pmpp together
    bool without_circuit_pv = false;
    // The load every case is judged at: the engine's LoadMult, and the clock time whose value of
    // their daily or yearly shape the loads are held at ("" where they keep their own shapes).
    double load_mult = 1;
    bool load_mult_given = false;   // by --load-mult, not the circuit's own
    std::string load_at;
    // The seconds of the moving average each case's loading is read over, the criteria's as planned.
    double loading_window_s = 900;
};

struct Sky {
    std::string name;               // the folder's own name, unique in the sweep
    std::filesystem::path folder;   // absolute
    std::filesystem::path shapes;   // its loadshapes, absolute
    std::string fingerprint;        // of its sun table, as planned
    std::string shapes_fingerprint; // of its loadshapes file's bytes, as planned
};

struct Case {
    std::string id;          // a short hash of what defines it
    double level_pct = 0;
    std::string placement;   // random, near or far; none for level 0
    int seed = 0;            // 0 for near, far and level 0
    std::string sky;
    int pv_systems = 0;
    double pv_kw = 0;
    std::string inverter = "unity";  // its PV systems' inverters: unity, pf=0.95, volt-var, ...
    // A search's case (placement "at"): the bus its one PV plant stands at; "" for a sweep's.
    std::string bus;
};

// The placement of a case of a search by bus: one plant of pv_kw at its bus.
inline constexpr std::string_view plant_placement = "at";

[[nodiscard]] std::string record_text(const Record& record);
[[nodiscard]] std::string skies_text(const std::vector<Sky>& skies);
[[nodiscard]] std::string cases_text(const std::vector<Case>& cases);

// The sweep's own files. Each throws SweepError naming the file, and saying to plan the sweep
// where there is none.
[[nodiscard]] Record read_record(const std::filesystem::path& sweep);
[[nodiscard]] std::vector<Sky> read_skies(const std::filesystem::path& sweep);
[[nodiscard]] std::vector<Case> read_cases(const std::filesystem::path& sweep);

// A file's bytes; nothing where it cannot be read.
[[nodiscard]] std::optional<std::string> whole_file(const std::filesystem::path& path);
// The value of a "name = value" line of a sweep's record, a case's or a status.
[[nodiscard]] std::optional<std::string> value_of(std::string_view text, std::string_view name);

[[nodiscard]] std::filesystem::path case_folder(const std::filesystem::path& sweep, const std::string& id);

// A level as cases.csv and messages write it: "45", "12.5".
[[nodiscard]] std::string level_text(double level_pct);

// How a case ended, written last and whole: done or failed, the engine's exit code, the reason in
// one line, the seconds it took, and the engine's convergence warnings.
struct Status {
    bool done = false;
    int exit_code = 0;
    std::string reason;
    double seconds = 0;
    double engine_seconds = 0;  // of them, the engine's
    std::vector<std::string> warnings;
    std::string files;  // the fingerprint of the case's files it ran
};

[[nodiscard]] std::string status_text(const Status& status);
// The case's status; nothing where it has none (not run, or stopped part-way). Throws SweepError
// for a status file that is not one.
[[nodiscard]] std::optional<Status> read_status(const std::filesystem::path& folder);

// The fingerprint of a case's own files (PVSystems.dss, Study.dss, study.dss and study_controls.csv;
// the voltage monitors its sky's cases share are named by its run), as planned; nothing where one
// is missing.
[[nodiscard]] std::optional<std::string> case_files_fingerprint(const std::filesystem::path& folder);
// The fingerprint case.txt recorded at planning; nothing where there is none.
[[nodiscard]] std::optional<std::string> planned_fingerprint(const std::filesystem::path& folder);

// Where a case stands now. A case is running while its marker names a live process; a marker of
// this host whose process is gone (the run was killed, or could not record how the case ended)
// leaves the case not run.
enum class State { done, failed, running, left };
[[nodiscard]] State state_of(const std::filesystem::path& folder);
// Whether a case's running marker names a process of this host that is no longer there.
[[nodiscard]] bool marker_orphaned(const std::filesystem::path& folder);

// A file written whole: its bytes to a temporary file beside it, renamed into place, synced to the
// disk unless `sync` is false (the caller then syncs many at once). Throws SweepError.
void write_whole(const std::filesystem::path& path, std::string_view bytes, bool sync = true);

}  // namespace umbrascope::sweep

#pragma once
// The study's two steps: writing the OpenDSS script for a scenario's folder, and reading what the
// engine (or another) gave back into the voltage tables and the report. Both write whole files
// or nothing.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "import/circuit.hpp"
#include "study/folder.hpp"
#include "study/inverters.hpp"
#include "study/slices.hpp"

namespace umbrascope::study {

struct WriteOptions {
    std::filesystem::path folder;
    std::filesystem::path shapes;  // the loadshapes umbrascope-clouds wrote
    bool twin = true;              // the series again under a clear sky
    int slices = 0;                // also the run split in time into this many slices
    double overlap = 600;          // seconds each slice runs before its own rows
    // Where the slices have run: a slice whose overlap ended with a control elsewhere than the
    // slice before left it begins instead at the slice before's last row, from its states.
    bool hand_on = false;
    // The circuit's own PV systems taken out of service (a sweep's --without-circuit-pv): neither
    // watched nor a monitor's element; a case's own files disable them in the engine.
    bool without_circuit_pv = false;
    // Each line's and transformer's current recorded for its loading; without it the engine runs
    // the study in about half the time, with no loading report.
    bool loading = true;
    // The circuit's own PV systems' inverters (a sweep's cases control their own added ones).
    Inverters inverters;
};

struct WriteResult {
    std::filesystem::path script;
    std::filesystem::path map;
    std::filesystem::path results;
    int monitors = 0;
    int branches = 0;       // lines and transformers whose loading it records
    int default_rated = 0;  // of them, those the circuit gives no rating, rated by the engine's defaults
    int drawn = 0;
    int customers = 0;
    int nodes = 0;
    int rows = 0;
    double interval = 0;
    std::vector<std::string> unseen;  // drawn buses no element in service reaches
    std::vector<std::string> other_case;  // links for files the circuit names in another letter case
    std::vector<std::string> displays;    // where the circuit runs Show, Plot or Visualize
    std::vector<std::string> missing;     // files the circuit reads that are not there: "Master.dss:12: /x/LS.txt"
    int regulators = 0;                   // RegControls recorded
    int capacitors = 0;                   // CapControls recorded
    int pv_systems = 0;
    bool twin = false;
    std::string control_mode;             // the circuit's own, kept; "" for none
    std::vector<std::string> regulators_warned;  // RegControls that cannot regulate as the circuit gives them
    std::vector<std::string> debug_traces;  // elements the circuit gives debugtrace=yes, and where
    // What the engine will do otherwise than the circuit may seem to say: a control of an element
    // the circuit does not define, a PV system without Pmpp.
    std::vector<std::string> circuit_warned;
    std::string run;                      // what names the run's exports
    std::vector<Slice> slices;            // with --slices: each slice's rows
    int overlap_rows = 0;
    std::vector<int> handed_anew;         // with --hand-on: the slices handed on anew, which run again
    std::vector<int> handed_kept;         // and those handed the same states as before, which keep their runs
    // Without --hand-on, over the same slicing: the slices handed on before whose states are not on
    // record beside their scripts, which settle again.
    std::vector<int> handed_lost;
    std::vector<int> unfollowed;          // with --hand-on: slices that followed from no row handed
    bool chained_regulators = false;      // regulators at more than one place along the feeder
    std::vector<std::string> left_at_unity;  // PV systems connected phase to phase, which volt-var leaves at unity
};

// Throws StudyError, or WriteError for a file that could not be written.
[[nodiscard]] WriteResult write_study(const WriteOptions& options);

// The rows a slice is handed on from, one after another, before it is said not to follow.
inline constexpr std::size_t max_hand_tries = 4;

// What the slices' runs hand on: for each slice after the first whose overlap did not follow the
// slice before's run row by row (its controls elsewhere in some row), the slice before's states at
// the row it begins at now; where it was handed those very states before and still did not follow,
// the quietest row near its planned first that it was not handed from yet. A slice handed on that
// followed keeps its row and states. Nothing for a slice that settles and follows.
struct HandOn {
    std::vector<std::optional<Handed>> handed;
    std::vector<int> unfollowed;  // slices handed from every row tried, none of which it followed from
};
// `planned` are the slices as written now, of the run `run`. Throws StudyError where the slices of
// this run have not all run whole.
[[nodiscard]] HandOn hand_on(const std::filesystem::path& folder, const std::vector<Slice>& planned, double overlap_s,
                             const std::string& run, const std::string& circuit, std::vector<ControlWatch> watches,
                             const Sky& sky);

// A PV system a case adds to the circuit, at a bus the circuit has.
struct AddedPv {
    std::string name;       // "sweep_pv1", without its class
    std::string bus;        // its bus, lower case, without node suffixes
    std::string drawn_bus;  // the drawn bus whose sky it takes
    double pmpp_kw = 0;     // its Pmpp
};

// One case of many studies of the same sky: the circuit with PV systems added by files of its own,
// its study written into a folder of its own.
struct StudyCase {
    std::filesystem::path folder;  // its study.dss, maps, results and reports
    std::filesystem::path entry;   // its circuit: the scenario's circuit and its own PV systems
    std::string own_files;         // the bytes of its own files, for the circuit's fingerprint
    std::vector<AddedPv> pv;
    std::string after_shapes;      // lines after the sky's loadshapes: the added PV systems' duty
    bool twin_voltages = false;    // the clear-sky twin records voltages too
    std::filesystem::path shared;  // the voltage monitors' files its sky's cases share; "" for its own
    std::string shared_run;        // the run those files name
};

// What every case of a scenario's sky shares, read and checked once: the sky, the drawn network,
// the circuit and the monitors that see every drawn bus.
struct PreparedStudy;
struct PreparedStudyDeleter {
    void operator()(PreparedStudy* study) const;
};
using PreparedStudyPtr = std::unique_ptr<PreparedStudy, PreparedStudyDeleter>;
// Throws StudyError.
[[nodiscard]] PreparedStudyPtr prepare_study(const WriteOptions& options);
// The prepared study's circuit, as the import read it.
[[nodiscard]] const import::Circuit& prepared_circuit(const PreparedStudy& study);
[[nodiscard]] const Sky& prepared_sky(const PreparedStudy& study);
// The voltage monitors every case of a sweep's sky shares, in files of their own in `folder`
// (made, exported, under the sky and its twin, and their map), and the run they name.
struct SharedMonitors {
    std::filesystem::path folder;
    std::string run;
};
// Throws WriteError.
[[nodiscard]] SharedMonitors write_shared_monitors(const PreparedStudy& study, const std::filesystem::path& shared);

// Writes the study of the folder itself, or of `one` of its cases. Throws StudyError or WriteError.
[[nodiscard]] WriteResult write_prepared(const PreparedStudy& study, const StudyCase* one = nullptr);

struct ReadOptions {
    std::filesystem::path folder;
    std::optional<std::filesystem::path> results;  // default FOLDER/results
    std::optional<std::filesystem::path> table;    // a wide per-unit table instead of the monitors
    std::optional<std::string> units;               // what one network unit is, for the distances
    std::optional<std::string> source;              // the drawn bus distances are measured from
    std::optional<std::filesystem::path> case_folder;  // a case's study and reports, where not in folder
    bool whole = false;                             // the whole run's exports, where the study was also sliced
    bool reports_only = false;                      // the reports, without the tables (a sweep's case)
    double loading_window = 900;                    // seconds of the loading's moving average
};

struct ReadResult {
    std::vector<std::filesystem::path> written;  // in the order written
    std::vector<std::string> summary;   // lines for standard output
    std::vector<std::string> warnings;  // lines for standard error
};

// Throws StudyError, or WriteError.
[[nodiscard]] ReadResult read_study(const ReadOptions& options);

// What stops a RegControl regulating as its circuit gives it: no ptratio (the engine's 60 is far
// from a 120 V base on most feeders), or a vreg its taps cannot reach at its winding's voltage.
[[nodiscard]] std::vector<std::string> regulator_warnings(const import::Circuit& circuit);

// "a, b, c and 4 more": the first few names of a list.
[[nodiscard]] std::string first_names(const std::vector<std::string>& names, std::size_t shown = 8);

}  // namespace umbrascope::study

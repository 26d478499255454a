#pragma once
// The two back ends that run a sweep's cases through the one worker: a local pool of engine
// processes, the default, and a Slurm job array. Each takes only the cases not yet done, so each
// is also the resume.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sweep/cases.hpp"

namespace umbrascope::sweep {

struct Counts {
    int done = 0, failed = 0, running = 0, left = 0;
    std::vector<std::pair<std::string, std::string>> failures;  // case, reason
};

// Where every case of the sweep stands, from the cases' own status files.
[[nodiscard]] Counts sweep_status(const std::filesystem::path& sweep);

struct LocalOptions {
    int jobs = 1;
    std::string engine;   // resolved, with {script}
    double timeout = 0;   // seconds a case's engine may run; 0 for no end
    bool keep_exports = false;
};

struct LocalResult {
    int ran = 0, done = 0, failed = 0, left = 0;
    bool interrupted = false;
    double seconds = 0;
};

// Runs every case that is not done, `jobs` at a time. `progress` gets a line after each case.
// Throws SweepError.
LocalResult run_local(const std::filesystem::path& sweep, const LocalOptions& options,
                      const std::function<void(const std::string&)>& progress);

struct SubmitOptions {
    int cases_per_task = 4;
    std::optional<int> array_limit;  // the %K throttle
    std::optional<std::string> time, partition, account;
    std::string engine;
    double timeout = 0;
    bool keep_exports = false;
    std::filesystem::path program;   // this umbrascope-study, absolute
    std::optional<std::filesystem::path> read_after;  // a sliced study's folder: read it after, not gather
    bool hand_on = false;  // with read_after: hand the slices on after them, round after round
    bool from_round = false;  // submitted by the round after the last submission, whose jobs have ended
    bool search = false;      // a search by bus: the job after each array plans and submits the next round
};

struct Submitted {
    int cases = 0, tasks = 0;
    std::vector<std::string> arrays;  // job ids
    std::string gather;               // its job id
    std::filesystem::path script;
};

// Submits the cases not done as job arrays of tasks, and a gather job after them. Throws
// SweepError, having cancelled whatever of the submission had gone in.
[[nodiscard]] Submitted submit_slurm(const std::filesystem::path& sweep, const SubmitOptions& options);

// The output of a command run without a shell, and its exit code (-1 where it could not start).
struct Ran {
    int exit_code = -1;
    std::string out;  // standard output and standard error together
};
[[nodiscard]] Ran run_program(const std::vector<std::string>& argv);

}  // namespace umbrascope::sweep

#pragma once
// The one worker of a sweep, which the local pool and every Slurm task call: a case is the engine
// on its study.dss, then read; its status, written last and whole, records how it ended. A case
// stopped part-way (Ctrl+C, a task ended by its scheduler) writes no status and so counts as not
// run.

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sweep/cases.hpp"

namespace umbrascope::sweep {

// How OpenDSS runs a script here: a shell command with {script} where the script's path goes.
// `given` (--engine) first, then the environment's UMBRASCOPE_ENGINE, then an OpenDSS command on
// the PATH. Throws SweepError, in one line saying how to give one, where there is none, or where
// the command's program is not there.
[[nodiscard]] std::string resolve_engine(const std::optional<std::string>& given);

// A word the shell takes as it is: 'it''s' quoted.
[[nodiscard]] std::string shell_quoted(const std::string& text);

// Set by Ctrl+C or the scheduler's SIGTERM: the workers end their engines and write no status.
[[nodiscard]] std::atomic<bool>& stop_requested();
// Makes SIGINT and SIGTERM set it.
void catch_stop_signals();

struct CaseRun {
    std::optional<Status> status;  // nothing where it was stopped part-way
};

struct CaseOptions {
    std::string engine;         // resolved, with {script}
    double timeout = 0;         // ends an engine that runs longer, in seconds (0: none)
    bool keep_exports = false;  // keep the engine's exports and the voltage tables beside the reports
};

// Runs one case of `sweep`. Throws SweepError where how it ended cannot be recorded; the case is
// then left not run.
[[nodiscard]] CaseRun run_case(const std::filesystem::path& sweep, const Case& c, const Sky& sky,
                               const CaseOptions& options);

// The command that plans the sweep again, as planned.
[[nodiscard]] std::string plan_command(const std::filesystem::path& sweep);

// A task's cases, from a list "task,case" a submission wrote.
[[nodiscard]] std::vector<std::string> task_cases(const std::filesystem::path& list, int task);

// Runs the cases of one task that are not done, one after another; gives how many failed. Throws
// SweepError.
int run_task(const std::filesystem::path& sweep, const std::filesystem::path& list, int task,
             const CaseOptions& options);

}  // namespace umbrascope::sweep

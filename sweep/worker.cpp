#include "sweep/worker.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/csv.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "output/output_file.hpp"
#include "study/study.hpp"
#include "sweep/inputs.hpp"
#include "sweep/locate.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

namespace {

// The program a shell command starts: its first word, where it is a plain one.
std::string first_word(const std::string& command)
{
    const std::size_t start = command.find_first_not_of(" \t");
    if (start == std::string::npos)
        return {};
    const std::size_t end = command.find_first_of(" \t", start);
    return command.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::optional<fs::path> on_path(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return access(program.c_str(), X_OK) == 0 ? std::optional<fs::path>(program) : std::nullopt;
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    std::string folder;
    while (std::getline(folders, folder, ':')) {
        const fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::nullopt;
}

// What the engine said of its failure: its first message that speaks of an error, with the lines
// that go on with it (an engine's description and probable cause), in one line; else that it said
// none, with its last line, which is what it did last (an export's name, say), not why it failed.
std::string failure_line(const fs::path& log)
{
    std::ifstream in(log, std::ios::binary);
    std::string line, last, error;
    bool in_error = false;
    int gone_on = 0;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty())
            continue;
        last = line;
        const std::string low = lower(line);
        const bool speaks = low.find("error") != std::string::npos || low.find("not found") != std::string::npos ||
                            low.find("exceeded") != std::string::npos || low.find("fail") != std::string::npos;
        if (error.empty() && speaks) {
            error = line;
            in_error = true;
            continue;
        }
        // The lines after it, until the message ends or says enough.
        if (in_error && gone_on < 8 && error.size() < 300) {
            error += " " + line;
            ++gone_on;
        }
    }
    if (error.empty())
        return last.empty() ? std::string("it printed nothing") : "it printed no error; its last line: " + last.substr(0, 160);
    return error.size() > 300 ? error.substr(0, 300) + "..." : error;
}

// What the engine said of convergence, a line each, the first few.
std::vector<std::string> convergence_lines(const fs::path& log)
{
    std::vector<std::string> out;
    std::ifstream in(log, std::ios::binary);
    std::string line;
    while (std::getline(in, line) && out.size() < 5) {
        const std::string low = lower(line);
        if (low.find("converge") != std::string::npos || low.find("max control iterations") != std::string::npos)
            out.push_back("engine: " + line.substr(0, 200));
    }
    return out;
}

// Set from the signal handler: an atomic that needs no lock is safe to store there.
std::atomic<bool> stop_flag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void on_signal(int) { stop_flag.store(true); }

bool stopping() { return stop_flag.load(); }

// A slice of a study split in time: its exports are read again when the study is stitched.
bool is_slice(const fs::path& folder)
{
    std::error_code error;
    return !fs::exists(folder / pv_file_name, error) && !fs::exists(folder / entry_file_name, error);
}

std::string host_name()
{
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// The settle's voltage export of a done case, copied beside its reports as bus_bases.csv. A
// case whose engine wrote none keeps none, and a search asks for it by name.
void keep_bus_bases(const fs::path& folder)
{
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder / "results", error)) {
        const std::string name = entry.path().filename().string();
        constexpr std::string_view tail = "_voltages.csv";
        if (name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0 &&
            name.find("_clear") == std::string::npos) {
            const std::optional<std::string> bytes = whole_file(entry.path());
            if (bytes)
                write_whole(folder / bus_bases_name, *bytes, false);
            return;
        }
    }
}

}  // namespace

std::string shell_quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::atomic<bool>& stop_requested() { return stop_flag; }

void catch_stop_signals()
{
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string resolve_engine(const std::optional<std::string>& given)
{
    std::string command;
    std::string from;
    if (given) {
        command = *given;
        from = "--engine";
    } else if (const char* env = std::getenv("UMBRASCOPE_ENGINE"); env != nullptr && *env != '\0') {
        command = env;
        from = "UMBRASCOPE_ENGINE";
    } else {
        for (const char* program : {"opendsscmd", "OpenDSSCmd"})
            if (const std::optional<fs::path> found = on_path(program)) {
                command = shell_quoted(found->string()) + " {script}";
                from = "the PATH";
                break;
            }
        if (command.empty())
            throw SweepError("no OpenDSS engine is named: give --engine 'COMMAND {script}' (or set UMBRASCOPE_ENGINE), "
                             "the command that runs an OpenDSS script on this machine, {script} standing for its path");
    }
    if (command.find("{script}") == std::string::npos)
        command += " {script}";
    const std::string program = first_word(command);
    if (program.empty() || (program.front() != '\'' && program.front() != '"' && !on_path(program)))
        throw SweepError("the engine " + from + " names, '" + program + "', is not there" +
                         (program.find('/') == std::string::npos ? " (not on the PATH)" : "") +
                         ": give the command that runs an OpenDSS script on this machine, with {script} for its path");
    return command;
}

std::string plan_command(const fs::path& sweep)
{
    // The slices of a study are planned by writing the study again.
    if (const std::optional<std::string> record = whole_file(sweep / record_name))
        if (const std::optional<std::string> command = value_of(*record, "command"))
            return *command;
    std::string out = "umbrascope-study sweep plan " + shell_quoted(sweep.string());
    try {
        const Record record = read_record(sweep);
        out += " --circuit " + shell_quoted(record.circuit.string());
        for (const Sky& sky : read_skies(sweep))
            out += " --sky " + shell_quoted(sky.folder.string());
        std::set<double> levels;
        std::vector<std::string> placements;
        int seeds = 1;
        for (const Case& c : read_cases(sweep)) {
            if (c.placement == plant_placement)
                continue;  // a search's, planned by locate
            levels.insert(c.level_pct);
            if (c.placement != "none" &&
                std::find(placements.begin(), placements.end(), c.placement) == placements.end())
                placements.push_back(c.placement);
            seeds = std::max(seeds, c.seed);
        }
        std::string list;
        for (const double level : levels) {
            if (!list.empty())
                list += ",";
            list += level_text(level);
        }
        out += " --levels " + list;
        for (const std::string& placement : placements)
            out += " --placement " + placement;
        if (seeds > 1)
            out += " --seeds " + std::to_string(seeds);
        const std::string ratio = decimal_text(record.pv_ratio, 6);
        if (ratio != "2")
            out += " --pv-ratio " + ratio;
        if (record.without_circuit_pv)
            out += " --without-circuit-pv";
        if (record.load_mult_given)
            out += " --load-mult " + decimal_text(record.load_mult, 6);
        if (!record.load_at.empty())
            out += " --load-at " + shell_quoted(record.load_at);
        // A folder of a search alone is planned again by locate; of a sweep and a search, by both.
        if (const std::optional<std::string> locate = locate_command(sweep))
            return levels.size() > 1 ? out + ", then " + *locate : *locate;
    } catch (const SweepError&) {
        out += " --circuit ENTRY.dss --sky FOLDER ...";
    }
    return out;
}

CaseRun run_case(const fs::path& sweep, const Case& c, const Sky& sky, const CaseOptions& options)
{
    const std::string& engine = options.engine;
    const double timeout = options.timeout;
    const fs::path folder = case_folder(sweep, c.id);
    const auto started = std::chrono::steady_clock::now();
    const auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    std::error_code error;
    fs::remove(folder / status_name, error);
    {
        std::string marker = "host = " + host_name() + "\npid = " + std::to_string(getpid()) + "\n";
        if (const char* job = std::getenv("SLURM_JOB_ID"))
            marker += "slurm_job = " + std::string(job) + "\n";
        write_whole(folder / running_name, marker);
    }
    Status status;
    // How the case ended, recorded last; where that cannot be written (a full disk), the case is
    // left not run, never running, and the failure goes on to stop the run.
    const auto finish = [&]() -> CaseRun {
        status.seconds = seconds();
        try {
            write_whole(folder / status_name, status_text(status));
        } catch (const SweepError& failure) {
            fs::remove(folder / status_name, error);
            fs::remove(folder / running_name, error);
            throw SweepError("cannot record how case " + c.id + " ended (" + failure.what() +
                             "): it counts as not run; make room, then run the sweep again");
        }
        fs::remove(folder / running_name, error);
        return {status};
    };
    // The case as planned, or refused.
    const std::optional<std::string> files = case_files_fingerprint(folder);
    status.files = files.value_or("");
    if (!files || planned_fingerprint(folder) != files) {
        status.reason = "the case's files (" + folder.string() + ") were " + (files ? "edited" : "removed") +
                        " after planning: plan it again, " + plan_command(sweep);
        return finish();
    }
    // A sweep copied or moved elsewhere: its scripts still name the folders they were planned in.
    {
        std::ifstream in(folder / "study.dss", std::ios::binary);
        std::string head(8192, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        head.resize(static_cast<std::size_t>(in.gcount()));
        if (head.find((folder / "results").string()) == std::string::npos) {
            status.reason = "the case's study.dss was planned in another folder (the sweep was moved or copied): plan it "
                            "again here, " + plan_command(sweep);
            return finish();
        }
    }
    // A run begins with an empty results folder: nothing of an earlier, stopped run is read.
    fs::remove_all(folder / "results", error);
    fs::create_directories(folder / "results", error);

    std::string command = engine;
    const std::string script = shell_quoted((folder / "study.dss").string());
    for (std::size_t at = command.find("{script}"); at != std::string::npos; at = command.find("{script}", at + script.size()))
        command.replace(at, 8, script);
    const std::string log = (folder / engine_log_name).string();
    const std::string where = folder.string();
    // The study's Dump of the circuit's ratings opens no viewer, in an engine that would.
    setenv("DSS_CAPI_ALLOW_EDITOR", "0", 1);
    const pid_t child = fork();
    if (child < 0) {
        status.reason = "cannot start the engine: out of processes";
        return finish();
    }
    if (child == 0) {
        setpgid(0, 0);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, 0);
        if (chdir(where.c_str()) != 0)
            _exit(126);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setpgid(child, child);
    int wait_status = 0;
    bool timed_out = false;
    bool stopped = false;
    for (;;) {
        const pid_t ended = waitpid(child, &wait_status, WNOHANG);
        if (ended == child)
            break;
        if (ended < 0 && errno != EINTR)
            break;
        if (!timed_out && !stopped && (stopping() || (timeout > 0 && seconds() > timeout))) {
            stopped = stopping();
            timed_out = !stopped;
            kill(-child, SIGTERM);
            // An engine that does not end at once is ended: Ctrl+C must stop the run within moments.
            const auto asked = std::chrono::steady_clock::now();
            while (waitpid(child, &wait_status, WNOHANG) == 0) {
                if (std::chrono::steady_clock::now() - asked > std::chrono::milliseconds(stopped ? 500 : 3000)) {
                    kill(-child, SIGKILL);
                    waitpid(child, &wait_status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-child, SIGKILL);  // whatever the engine left running
    status.engine_seconds = seconds();
    if (stopped) {
        fs::remove(folder / running_name, error);
        return {};
    }
    status.warnings = convergence_lines(folder / engine_log_name);
    if (timed_out) {
        status.exit_code = -1;
        status.reason = "the engine ran longer than --case-timeout " + decimal_text(timeout, 0) + " s and was ended";
        return finish();
    }
    if (WIFSIGNALED(wait_status)) {
        status.exit_code = 128 + WTERMSIG(wait_status);
        status.reason = "the engine crashed (signal " + std::to_string(WTERMSIG(wait_status)) + "); see " + log;
        return finish();
    }
    status.exit_code = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    if (status.exit_code > 128 && status.exit_code < 128 + 65) {
        // A shell around the engine says its crash this way.
        status.reason = "the engine crashed (signal " + std::to_string(status.exit_code - 128) + "); see " + log;
        return finish();
    }
    if (status.exit_code != 0) {
        const std::string last = failure_line(folder / engine_log_name);
        status.reason = "the engine exited with " + std::to_string(status.exit_code) +
                        (status.exit_code == 127 ? " (its command was not found)" : "") +
                        (last.empty() ? std::string() : ": " + last) + "; see " + log;
        // An engine that cannot write its exports, or its log, on a full disk.
        const fs::space_info space = fs::space(folder, error);
        if (!error && space.available < (1U << 20))
            status.reason += " (the disk holding the case has " + std::to_string(space.available / 1024) + " kB free)";
        return finish();
    }
    if (stopping()) {
        fs::remove(folder / running_name, error);
        return {};
    }
    try {
        study::ReadOptions read;
        read.folder = sky.folder;
        read.case_folder = folder;
        // A sweep's figures are its reports; the tables beside them are for a look at one case.
        read.reports_only = !options.keep_exports;
        if (!is_slice(folder))
            read.loading_window = read_record(sweep).loading_window_s;
        const study::ReadResult result = study::read_study(read);
        for (const std::string& warning : result.warnings) {
            const std::string low = lower(warning);
            if (low.find("converge") != std::string::npos || low.find("moving") != std::string::npos ||
                low.find("settle") != std::string::npos)
                status.warnings.push_back(warning);
        }
        status.done = true;
        // A sky's base keeps the engine's voltage bases of every bus: a search by bus sizes its
        // plants at them.
        if (c.placement == "none" && !is_slice(folder))
            keep_bus_bases(folder);
        // Every figure is in the reports: the engine's exports go, unless kept.
        if (!options.keep_exports && !is_slice(folder))
            fs::remove_all(folder / "results", error);
    } catch (const study::StudyError& failure) {
        status.reason = std::string("read: ") + failure.what();
    } catch (const WriteError& failure) {
        status.reason = std::string("read: ") + failure.what();
    }
    return finish();
}

std::vector<std::string> task_cases(const fs::path& list, int task)
{
    std::ifstream in(list, std::ios::binary);
    if (!in)
        throw SweepError("cannot read the task list " + list.string());
    std::vector<std::string> out;
    std::string line;
    const std::string lead = std::to_string(task) + ",";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind(lead, 0) == 0)
            out.push_back(line.substr(lead.size()));
    }
    return out;
}

int run_task(const fs::path& sweep, const fs::path& list, int task, const CaseOptions& options)
{
    refuse_changed_inputs(sweep);
    const std::vector<std::string> ids = task_cases(list, task);
    if (ids.empty())
        throw SweepError(list.string() + " gives task " + std::to_string(task) + " no case");
    const std::vector<Case> cases = read_cases(sweep);
    const std::vector<Sky> skies = read_skies(sweep);
    int failed = 0;
    for (const std::string& id : ids) {
        if (stopping())
            break;
        const auto c = std::find_if(cases.begin(), cases.end(), [&](const Case& one) { return one.id == id; });
        if (c == cases.end())
            throw SweepError("task " + std::to_string(task) + " names case " + id + ", which " +
                             (sweep / cases_name).string() + " does not hold: plan and submit again");
        if (state_of(case_folder(sweep, id)) == State::done)
            continue;
        const auto sky = std::find_if(skies.begin(), skies.end(), [&](const Sky& s) { return s.name == c->sky; });
        if (sky == skies.end())
            throw SweepError("case " + id + " is of the sky " + c->sky + ", which " + (sweep / skies_name).string() +
                             " does not hold: plan the sweep again");
        const CaseRun run = run_case(sweep, *c, *sky, options);
        if (run.status && !run.status->done) {
            ++failed;
            std::fprintf(stderr, "umbrascope-study: case %s failed: %s\n", id.c_str(), run.status->reason.c_str());
        } else if (run.status) {
            std::printf("case %s done in %.1f s\n", id.c_str(), run.status->seconds);
            std::fflush(stdout);
        }
    }
    return failed;
}

}  // namespace umbrascope::sweep

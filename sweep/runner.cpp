#include "sweep/runner.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "core/lines.hpp"
#include "core/words.hpp"
#include "sweep/inputs.hpp"
#include "sweep/worker.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

namespace {

std::string duration_text(double seconds)
{
    if (seconds < 90)
        return std::to_string(static_cast<long>(std::lround(seconds))) + " s";
    if (seconds < 5400)
        return std::to_string(static_cast<long>(std::lround(seconds / 60))) + " min";
    return decimal_text(seconds / 3600, 1) + " h";
}

// Whether a case's running marker names a live process of this host other than this one.
bool running_here(const fs::path& folder)
{
    std::FILE* file = std::fopen((folder / running_name).c_str(), "r");
    if (file == nullptr)
        return false;
    char buffer[512] = {};
    const std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    const std::string text(buffer, got);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    if (text.find("host = " + std::string(host) + "\n") == std::string::npos || text.find("slurm_job") != std::string::npos)
        return false;
    const std::size_t at = text.find("pid = ");
    if (at == std::string::npos)
        return false;
    const long pid = std::strtol(text.c_str() + at + 6, nullptr, 10);
    return pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) == 0;
}

std::string trimmed(const std::string& text)
{
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find_last_not_of(" \t\r\n") - start + 1);
}

}  // namespace

Ran run_program(const std::vector<std::string>& argv)
{
    Ran ran;
    int pipe_ends[2];
    if (argv.empty() || pipe(pipe_ends) != 0)
        return ran;
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        return ran;
    }
    if (child == 0) {
        dup2(pipe_ends[1], 1);
        dup2(pipe_ends[1], 2);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        const int in = open("/dev/null", O_RDONLY);
        if (in >= 0)
            dup2(in, 0);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(pipe_ends[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
        if (got > 0)
            ran.out.append(buffer, static_cast<std::size_t>(got));
        else if (got == 0 || errno != EINTR)
            break;
    }
    close(pipe_ends[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ran.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return ran;
}

Counts sweep_status(const fs::path& sweep)
{
    Counts counts;
    for (const Case& c : read_cases(sweep)) {
        const fs::path folder = case_folder(sweep, c.id);
        switch (state_of(folder)) {
        case State::done: ++counts.done; break;
        case State::running: ++counts.running; break;
        case State::left: ++counts.left; break;
        case State::failed: {
            ++counts.failed;
            std::optional<Status> status;
            try {
                status = read_status(folder);
            } catch (const SweepError& error) {
                counts.failures.emplace_back(c.id, error.what());
                break;
            }
            counts.failures.emplace_back(c.id, status ? status->reason : std::string());
            break;
        }
        }
    }
    return counts;
}

LocalResult run_local(const fs::path& sweep, const LocalOptions& options,
                      const std::function<void(const std::string&)>& progress)
{
    refuse_changed_inputs(sweep);
    const std::vector<Case> cases = read_cases(sweep);
    const std::vector<Sky> skies = read_skies(sweep);
    std::vector<const Case*> todo;
    int busy_elsewhere = 0;
    for (const Case& c : cases) {
        const fs::path folder = case_folder(sweep, c.id);
        if (state_of(folder) == State::done)
            continue;
        if (running_here(folder)) {
            ++busy_elsewhere;
            continue;
        }
        if (std::none_of(skies.begin(), skies.end(), [&](const Sky& s) { return s.name == c.sky; }))
            throw SweepError("case " + c.id + " is of the sky " + c.sky + ", which " + (sweep / skies_name).string() +
                             " does not hold: plan the sweep again");
        todo.push_back(&c);
    }
    LocalResult result;
    result.left = static_cast<int>(todo.size());
    const auto started = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
    if (busy_elsewhere > 0)
        progress(std::to_string(busy_elsewhere) + (busy_elsewhere == 1 ? " case is" : " cases are") +
                 " being run by another process here and left to it");
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    double case_seconds = 0;
    std::string first_error;
    const auto worker = [&] {
        for (;;) {
            if (stop_requested().load())
                return;
            const std::size_t at = next.fetch_add(1);
            if (at >= todo.size())
                return;
            const Case& c = *todo[at];
            const Sky& sky = *std::find_if(skies.begin(), skies.end(), [&](const Sky& s) { return s.name == c.sky; });
            CaseRun run;
            try {
                run = run_case(sweep, c, sky, {options.engine, options.timeout, options.keep_exports});
            } catch (const SweepError& error) {
                const std::lock_guard<std::mutex> guard(lock);
                if (first_error.empty())
                    first_error = error.what();
                stop_requested() = true;
                return;
            }
            const std::lock_guard<std::mutex> guard(lock);
            if (!run.status) {
                result.interrupted = true;
                continue;
            }
            ++result.ran;
            --result.left;
            case_seconds += run.status->seconds;
            (run.status->done ? result.done : result.failed) += 1;
            const double mean = case_seconds / result.ran;
            const double to_go = mean * result.left / std::max(1, std::min(options.jobs, std::max(result.left, 1)));
            std::string line = std::to_string(result.done) + " done, " + std::to_string(result.failed) + " failed, " +
                               std::to_string(result.left) + " left";
            if (result.left > 0)
                line += ", about " + duration_text(to_go) + " to go";
            if (!run.status->done)
                line += " (case " + c.id + " failed: " + run.status->reason + ")";
            progress(line);
        }
    };
    std::vector<std::thread> pool;
    const int jobs = std::max(1, std::min(options.jobs, static_cast<int>(todo.size())));
    pool.reserve(static_cast<std::size_t>(jobs));
    for (int j = 0; j < jobs; ++j)
        pool.emplace_back(worker);
    for (std::thread& thread : pool)
        thread.join();
    result.interrupted = result.interrupted || stop_requested().load();
    result.seconds = elapsed();
    if (!first_error.empty())
        throw SweepError(first_error);
    return result;
}

Submitted submit_slurm(const fs::path& sweep, const SubmitOptions& options)
{
    for (const char* program : {"sbatch", "squeue", "scontrol", "scancel"})
        if (run_program({"sh", "-c", std::string("command -v ") + program}).exit_code != 0)
            throw SweepError(std::string(program) + " is not on the PATH: Slurm's client is not installed here; run the "
                             "sweep on this machine with umbrascope-study sweep run " + sweep.string());
    refuse_changed_inputs(sweep);
    const fs::path slurm = sweep / "slurm";
    const fs::path ledger = slurm / "submissions.txt";
    std::error_code error;
    fs::create_directories(slurm / "logs", error);
    if (error)
        throw SweepError("cannot make " + (slurm / "logs").string() + ": " + error.message());
    // Nothing twice: an earlier submission still queued or running holds its cases.
    int submission = 1;
    {
        std::FILE* file = std::fopen(ledger.c_str(), "r");
        std::string text;
        if (file != nullptr) {
            char buffer[4096];
            std::size_t got = 0;
            while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                text.append(buffer, got);
            std::fclose(file);
        }
        std::vector<std::string> jobs;
        each_line(text, [&](std::string_view line, long) {
            if (line.empty() || line.front() == '#')
                return;
            ++submission;
            const std::size_t at = line.find("jobs=");
            if (at == std::string_view::npos)
                return;
            std::string_view ids = line.substr(at + 5);
            ids = ids.substr(0, ids.find(' '));
            jobs.clear();
            std::size_t start = 0;
            while (start < ids.size()) {
                const std::size_t comma = std::min(ids.find(',', start), ids.size());
                if (comma > start)
                    jobs.emplace_back(ids.substr(start, comma - start));
                start = comma + 1;
            }
        });
        if (!jobs.empty() && !options.from_round) {
            std::string list;
            for (const std::string& job : jobs) {
                if (!list.empty())
                    list += ",";
                list += job;
            }
            const Ran queued = run_program({"squeue", "-h", "-o", "%i", "-j", list});
            const bool unknown = queued.out.find("Invalid job id") != std::string::npos;
            if (queued.exit_code != 0 && !unknown)
                throw SweepError("cannot ask Slurm whether the sweep's last submission (jobs " + list +
                                 ") is still queued: " + trimmed(queued.out));
            if (queued.exit_code == 0 && !trimmed(queued.out).empty())
                throw SweepError("the sweep's last submission (jobs " + list + ") is still queued or running: wait for "
                                 "it (squeue -j " + list + ") or cancel it (scancel " + list + "), then submit again");
        }
    }
    std::vector<std::string> todo;
    for (const Case& c : read_cases(sweep))
        if (state_of(case_folder(sweep, c.id)) != State::done)
            todo.push_back(c.id);
    Submitted out;
    out.cases = static_cast<int>(todo.size());
    if (todo.empty())
        return out;
    const int per_task = std::max(1, options.cases_per_task);
    out.tasks = static_cast<int>((todo.size() + static_cast<std::size_t>(per_task) - 1) / static_cast<std::size_t>(per_task));
    int max_array = 1001;
    {
        const Ran config = run_program({"scontrol", "show", "config"});
        each_line(config.out, [&](std::string_view line, long) {
            if (line.rfind("MaxArraySize", 0) == 0) {
                const std::size_t equals = line.find('=');
                if (const std::optional<double> value = number_of(line.substr(equals + 1)); value && *value >= 2)
                    max_array = static_cast<int>(*value);
            }
        });
    }
    const std::string tag = std::to_string(submission);
    const fs::path list = slurm / ("tasks-" + tag + ".csv");
    std::string list_text = "task,case\n";
    for (std::size_t i = 0; i < todo.size(); ++i)
        list_text += std::to_string(i / static_cast<std::size_t>(per_task)) + "," + todo[i] + "\n";
    write_whole(list, list_text);
    out.script = slurm / "cases.sbatch";
    std::string script = "#!/bin/sh\n# A task of a sweep's job array: the cases the list ($1) gives this task, the array's\n"
                         "# index plus the offset ($2), run one after another by the same worker as the local pool.\n";
    script += "exec " + shell_quoted(options.program.string()) + " sweep task " + shell_quoted(sweep.string()) +
              " --list \"$1\" --task $((SLURM_ARRAY_TASK_ID + $2)) --engine " + shell_quoted(options.engine);
    if (options.timeout > 0)
        script += " --case-timeout " + decimal_text(options.timeout, 0);
    if (options.keep_exports)
        script += " --keep-exports";
    script += "\n";
    write_whole(out.script, script);
    const fs::path gather = slurm / "gather.sbatch";
    if ((options.read_after && options.hand_on) || options.search) {
        // The next round from the job after the array: submitted by it, so that nothing waits on
        // the login node.
        std::string round = options.search
                                ? "#!/bin/sh\n# After a round of a search by bus: the next round planned from the cases "
                                  "judged and submitted\n# with another round after it, or the search's answer written.\nexec "
                                : "#!/bin/sh\n# After a round of the study's slices: each slice that did not follow the "
                                  "slice before's run handed on\n# and submitted again with another round after it, or "
                                  "the study stitched.\nexec ";
        round += shell_quoted(options.program.string()) + " sweep round " +
                            shell_quoted(options.search ? sweep.string() : options.read_after->string()) + " --engine " + shell_quoted(options.engine) +
                            " --cases-per-task " + std::to_string(options.cases_per_task);
        if (options.array_limit)
            round += " --array-limit " + std::to_string(*options.array_limit);
        for (const auto& [flag, value] : {std::pair{"--time", options.time}, std::pair{"--partition", options.partition},
                                          std::pair{"--account", options.account}})
            if (value)
                round += std::string(" ") + flag + " " + shell_quoted(*value);
        if (options.timeout > 0)
            round += " --case-timeout " + decimal_text(options.timeout, 0);
        if (options.keep_exports)
            round += " --keep-exports";
        write_whole(gather, round + "\n");
    } else if (options.read_after) {
        write_whole(gather, "#!/bin/sh\n# After the study's slices, whatever became of them: the study stitched, or the "
                            "slices it lacks.\nexec " + shell_quoted(options.program.string()) + " read " +
                                shell_quoted(options.read_after->string()) + "\n");
    }
    else
        write_whole(gather, "#!/bin/sh\n# After the sweep's arrays, whatever became of them: the answer, or the cases it lacks.\nexec " +
                                shell_quoted(options.program.string()) + " sweep gather " + shell_quoted(sweep.string()) + "\n");
    fs::permissions(out.script, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add, error);
    fs::permissions(gather, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add, error);

    std::vector<std::string> common{"sbatch", "--parsable", "--chdir=" + sweep.string()};
    if (options.time)
        common.push_back("--time=" + *options.time);
    if (options.partition)
        common.push_back("--partition=" + *options.partition);
    if (options.account)
        common.push_back("--account=" + *options.account);
    const auto cancel_all = [&] {
        if (!out.arrays.empty()) {
            std::vector<std::string> cancel{"scancel"};
            cancel.insert(cancel.end(), out.arrays.begin(), out.arrays.end());
            (void)run_program(cancel);
        }
    };
    const auto job_id = [](const std::string& text) {
        const std::string id = trimmed(text.substr(0, text.find(';')));
        return !id.empty() && std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }) ? id
                                                                                                           : std::string();
    };
    for (int first = 0; first < out.tasks; first += max_array) {
        const int count = std::min(max_array, out.tasks - first);
        std::vector<std::string> args = common;
        std::string array = "--array=0-" + std::to_string(count - 1);
        if (options.array_limit)
            array += "%" + std::to_string(*options.array_limit);
        args.push_back(array);
        args.push_back("--job-name=umbrascope-sweep");
        args.push_back("--output=" + (slurm / "logs" / "task_%A_%a.out").string());
        args.push_back(out.script.string());
        args.push_back(list.string());
        args.push_back(std::to_string(first));
        const Ran ran = run_program(args);
        const std::string id = job_id(ran.out);
        if (ran.exit_code != 0 || id.empty()) {
            cancel_all();
            throw SweepError("sbatch refused the sweep's job array" +
                             (out.arrays.empty() ? std::string() : " (the arrays it took are cancelled)") + ": " +
                             trimmed(ran.out));
        }
        out.arrays.push_back(id);
    }
    std::string after;
    for (const std::string& id : out.arrays)
        after += ":" + id;
    std::vector<std::string> args = common;
    args.push_back("--dependency=afterany" + after);
    args.push_back("--job-name=umbrascope-gather");
    args.push_back("--output=" + (slurm / "logs" / "gather_%j.out").string());
    args.push_back(gather.string());
    const Ran ran = run_program(args);
    out.gather = job_id(ran.out);
    if (ran.exit_code != 0 || out.gather.empty()) {
        cancel_all();
        throw SweepError("sbatch refused the sweep's gather job (the arrays are cancelled): " +
                         trimmed(ran.out));
    }
    std::string jobs;
    for (const std::string& id : out.arrays)
        jobs += id + ",";
    jobs += out.gather;
    std::FILE* file = std::fopen(ledger.c_str(), "a");
    if (file != nullptr) {
        std::fprintf(file, "%s jobs=%s cases=%d tasks=%d list=%s\n", tag.c_str(), jobs.c_str(), out.cases, out.tasks,
                     list.string().c_str());
        std::fclose(file);
    }
    return out;
}

}  // namespace umbrascope::sweep

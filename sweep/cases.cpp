#include "sweep/cases.hpp"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "core/csv.hpp"
#include "core/fingerprint.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "output/output_file.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

std::optional<std::string> whole_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return bytes.str();
}

namespace {

// Why `sweep` is not a sweep's folder, and what to give instead.
std::string not_a_sweep(const fs::path& sweep, std::string_view name)
{
    std::error_code error;
    const std::string plan = "umbrascope-study sweep plan SWEEP --circuit ENTRY.dss --sky FOLDER ...";
    if (!fs::exists(sweep, error))
        return sweep.string() + " is not there: give the folder a sweep was planned into (" + plan + ")";
    if (!fs::is_directory(sweep, error))
        return sweep.string() + " is a file, not a sweep's folder: give the folder a sweep was planned into (" + plan + ")";
    if (fs::exists(sweep / "study.dss", error))
        return sweep.string() + " is a study, not a sweep, and it is not split in time: write it with --slices N to run "
               "its slices here, or run its study.dss in OpenDSS";
    if (fs::exists(sweep / "cloud_sun_intensity_table.txt", error))
        return sweep.string() + " is a sky (a scenario folder), not a sweep: plan a sweep of it into a folder of its own, "
               "umbrascope-study sweep plan SWEEP --circuit ENTRY.dss --sky " + sweep.string();
    return sweep.string() + " holds no " + std::string(name) + ": it is not a planned sweep; plan one into it with " + plan;
}

std::string must_read(const fs::path& sweep, std::string_view name)
{
    std::optional<std::string> text = whole_file(sweep / name);
    if (!text)
        throw SweepError(not_a_sweep(sweep, name));
    return std::move(*text);
}

}  // namespace

std::optional<std::string> value_of(std::string_view text, std::string_view name)
{
    std::optional<std::string> found;
    each_line(text, [&](std::string_view line, long) {
        const std::size_t equals = line.find(" = ");
        if (equals != std::string_view::npos && line.substr(0, equals) == name)
            found = std::string(line.substr(equals + 3));
    });
    return found;
}

namespace {

template <class F>
void each_csv_row(std::string_view text, const fs::path& path, std::size_t fields, F&& row)
{
    each_line(text, [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        std::optional<std::vector<std::string>> cells = csv_fields(line);
        if (!cells || cells->size() != fields)
            throw SweepError(path.string() + ":" + std::to_string(number) + ": not " + std::to_string(fields) +
                             " fields: plan the sweep again");
        row(*cells, number);
    });
}

}  // namespace

std::string level_text(double level_pct) { return decimal_text(level_pct, 3); }

std::string record_text(const Record& record)
{
    std::string out = "# A sweep of PV levels, placements and skies, planned by umbrascope-study sweep plan.\n";
    out += "circuit = " + record.circuit.string() + "\n";
    out += "feeder_kw = " + decimal_text(record.feeder_kw, 3) + "\n";
    out += "loads = " + std::to_string(record.loads) + "\n";
    out += "pv_ratio = " + decimal_text(record.pv_ratio, 6) + "\n";
    out += "existing_pv = " + std::to_string(record.existing_pv) + "\n";
    out += "existing_pv_kw = " + decimal_text(record.existing_pv_kw, 3) + "\n";
    out += std::string("circuit_pv = ") + (record.without_circuit_pv ? "out of service" : "kept") + "\n";
    out += "load_mult = " + decimal_text(record.load_mult, 6) + (record.load_mult_given ? " (--load-mult)" : "") + "\n";
    out += "loading_window_s = " + decimal_text(record.loading_window_s, 6) + "\n";
    out += "load_at = " + (record.load_at.empty() ? std::string("none") : record.load_at) + "\n";
    out += "circuit_fingerprint = " + record.circuit_fingerprint + "\n";
    for (const auto& [path, print] : record.circuit_files)
        out += "circuit_file = " + print + " " + path.string() + "\n";
    return out;
}

Record read_record(const fs::path& sweep)
{
    const std::string text = must_read(sweep, record_name);
    Record out;
    const std::optional<std::string> circuit = value_of(text, "circuit");
    const std::optional<std::string> kw = value_of(text, "feeder_kw");
    const std::optional<std::string> loads = value_of(text, "loads");
    const std::optional<std::string> ratio = value_of(text, "pv_ratio");
    const std::optional<double> kw_value = kw ? number_of(*kw) : std::nullopt;
    const std::optional<double> loads_value = loads ? number_of(*loads) : std::nullopt;
    const std::optional<double> ratio_value = ratio ? number_of(*ratio) : std::nullopt;
    if (!circuit || !kw_value || !loads_value || !ratio_value)
        throw SweepError((sweep / record_name).string() + " is not whole: plan the sweep again");
    out.circuit = *circuit;
    out.feeder_kw = *kw_value;
    out.loads = static_cast<int>(*loads_value);
    out.pv_ratio = *ratio_value;
    // What a plan before these were recorded leaves out reads as unknown: its inputs are compared
    // with nothing, and the sweep asks to be planned again.
    out.existing_pv = static_cast<int>(number_of(value_of(text, "existing_pv").value_or("0")).value_or(0));
    out.existing_pv_kw = number_of(value_of(text, "existing_pv_kw").value_or("0")).value_or(0);
    out.without_circuit_pv = value_of(text, "circuit_pv") == "out of service";
    const std::string mult = value_of(text, "load_mult").value_or("1");
    out.load_mult_given = mult.find(" (--load-mult)") != std::string::npos;
    out.load_mult = number_of(mult.substr(0, mult.find(' '))).value_or(1);
    out.loading_window_s = number_of(value_of(text, "loading_window_s").value_or("900")).value_or(900);
    out.load_at = value_of(text, "load_at").value_or("none");
    if (out.load_at == "none")
        out.load_at.clear();
    out.circuit_fingerprint = value_of(text, "circuit_fingerprint").value_or("");
    each_line(text, [&](std::string_view line, long) {
        constexpr std::string_view lead = "circuit_file = ";
        if (line.substr(0, lead.size()) != lead)
            return;
        const std::string_view rest = line.substr(lead.size());
        const std::size_t space = rest.find(' ');
        if (space != std::string_view::npos)
            out.circuit_files.emplace_back(fs::path(std::string(rest.substr(space + 1))), std::string(rest.substr(0, space)));
    });
    return out;
}

std::string skies_text(const std::vector<Sky>& skies)
{
    std::string out = "sky,folder,loadshapes,sky_fingerprint,loadshapes_fingerprint\n";
    for (const Sky& sky : skies)
        append_csv_row(out, {sky.name, sky.folder.string(), sky.shapes.string(), sky.fingerprint, sky.shapes_fingerprint});
    return out;
}

std::vector<Sky> read_skies(const fs::path& sweep)
{
    std::vector<Sky> out;
    const std::string text = must_read(sweep, skies_name);
    // A plan before the skies' fingerprints were recorded wrote three columns.
    const std::size_t columns = text.rfind("sky,folder,loadshapes\n", 0) == 0 ? 3 : 5;
    each_csv_row(text, sweep / skies_name, columns, [&](std::vector<std::string>& cells, long) {
        out.push_back({cells[0], cells[1], cells[2], columns == 5 ? cells[3] : "", columns == 5 ? cells[4] : ""});
    });
    return out;
}

std::string cases_text(const std::vector<Case>& cases)
{
    std::string out = "case,level_pct,placement,seed,sky,pv_systems,pv_kw,inverter,bus\n";
    for (const Case& c : cases)
        append_csv_row(out, {c.id, level_text(c.level_pct), c.placement, std::to_string(c.seed), c.sky,
                             std::to_string(c.pv_systems), decimal_text(c.pv_kw, 3), c.inverter, c.bus});
    return out;
}

std::vector<Case> read_cases(const fs::path& sweep)
{
    std::vector<Case> out;
    const fs::path path = sweep / cases_name;
    const std::string text = must_read(sweep, cases_name);
    // A plan before searches by bus wrote no bus.
    const std::size_t columns = text.rfind("case,level_pct,placement,seed,sky,pv_systems,pv_kw,inverter\n", 0) == 0 ? 8 : 9;
    each_csv_row(text, path, columns, [&](std::vector<std::string>& cells, long number) {
        const std::optional<double> level = number_of(cells[1]);
        const std::optional<double> seed = number_of(cells[3]);
        const std::optional<double> systems = number_of(cells[5]);
        const std::optional<double> kw = number_of(cells[6]);
        const bool plant = cells[2] == plant_placement;
        if (!level || !seed || !systems || !kw || cells[0].empty() || cells[7].empty() ||
            plant != (columns == 9 && !cells[8].empty()))
            throw SweepError(path.string() + ":" + std::to_string(number) + ": not a case: plan the sweep again");
        out.push_back({cells[0], *level, cells[2], static_cast<int>(*seed), cells[4], static_cast<int>(*systems), *kw,
                       cells[7], columns == 9 ? cells[8] : std::string()});
    });
    return out;
}

fs::path case_folder(const fs::path& sweep, const std::string& id) { return sweep / cases_folder_name / id; }

std::string status_text(const Status& status)
{
    std::string out = std::string("state = ") + (status.done ? "done" : "failed") + "\n";
    out += "exit = " + std::to_string(status.exit_code) + "\n";
    std::string reason = status.reason;
    for (char& c : reason)
        if (c == '\n' || c == '\r')
            c = ' ';
    out += "reason = " + reason + "\n";
    out += "seconds = " + decimal_text(status.seconds, 3) + "\n";
    out += "engine_seconds = " + decimal_text(status.engine_seconds, 3) + "\n";
    out += "files = " + status.files + "\n";
    for (std::string warning : status.warnings) {
        for (char& c : warning)
            if (c == '\n' || c == '\r')
                c = ' ';
        out += "warning = " + warning + "\n";
    }
    return out;
}

std::optional<Status> read_status(const fs::path& folder)
{
    const std::optional<std::string> text = whole_file(folder / status_name);
    if (!text)
        return std::nullopt;
    Status out;
    const std::optional<std::string> state = value_of(*text, "state");
    if (!state || (*state != "done" && *state != "failed"))
        throw SweepError((folder / status_name).string() + " is not a case's status: run the case again");
    out.done = *state == "done";
    if (const std::optional<std::string> exit = value_of(*text, "exit"))
        out.exit_code = static_cast<int>(number_of(*exit).value_or(0));
    out.reason = value_of(*text, "reason").value_or("");
    if (const std::optional<std::string> seconds = value_of(*text, "seconds"))
        out.seconds = number_of(*seconds).value_or(0);
    if (const std::optional<std::string> engine = value_of(*text, "engine_seconds"))
        out.engine_seconds = number_of(*engine).value_or(0);
    out.files = value_of(*text, "files").value_or("");
    each_line(*text, [&](std::string_view line, long) {
        if (line.rfind("warning = ", 0) == 0)
            out.warnings.emplace_back(line.substr(10));
    });
    return out;
}

std::optional<std::string> case_files_fingerprint(const fs::path& folder)
{
    Fingerprint print;
    // A slice of a study has no circuit files of its own.
    std::error_code error;
    const bool slice = !fs::exists(folder / pv_file_name, error) && !fs::exists(folder / entry_file_name, error);
    for (const std::string_view name : {pv_file_name, entry_file_name, std::string_view("study.dss"),
                                        std::string_view("study_controls.csv")}) {
        if (slice && (name == pv_file_name || name == entry_file_name))
            continue;
        const std::optional<std::string> text = whole_file(folder / name);
        if (!text)
            return std::nullopt;
        print.add(name);
        print.add(*text);
    }
    return print.text();
}

std::optional<std::string> planned_fingerprint(const fs::path& folder)
{
    const std::optional<std::string> text = whole_file(folder / case_record_name);
    return text ? value_of(*text, "files") : std::nullopt;
}

bool marker_orphaned(const fs::path& folder)
{
    const std::optional<std::string> text = whole_file(folder / running_name);
    if (!text)
        return false;
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    // A marker of another host, or of a Slurm job (whose task may yet be running), is taken as it says.
    if (value_of(*text, "host") != std::string(host) || value_of(*text, "slurm_job"))
        return false;
    const std::optional<double> pid = number_of(value_of(*text, "pid").value_or(""));
    if (!pid || *pid < 1)
        return false;
    return kill(static_cast<pid_t>(*pid), 0) != 0 && errno == ESRCH;
}

State state_of(const fs::path& folder)
{
    std::optional<Status> status;
    try {
        status = read_status(folder);
    } catch (const SweepError&) {
        return State::failed;
    }
    if (status)
        return status->done ? State::done : State::failed;
    std::error_code error;
    return fs::exists(folder / running_name, error) && !marker_orphaned(folder) ? State::running : State::left;
}

void write_whole(const fs::path& path, std::string_view bytes, bool sync)
{
    try {
        OutputFile file(path);
        file.write(bytes);
        file.finish(sync);
        file.commit(sync);
    } catch (const WriteError& error) {
        throw SweepError(error.what());
    }
}

}  // namespace umbrascope::sweep

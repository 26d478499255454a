#include "sweep/cases.hpp"

#include <cmath>
#include <fstream>
#include <sstream>

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

std::string must_read(const fs::path& sweep, std::string_view name)
{
    const fs::path path = sweep / name;
    std::optional<std::string> text = whole_file(path);
    if (!text)
        throw SweepError(sweep.string() + " holds no " + std::string(name) +
                         ": it is not a planned sweep; plan it with umbrascope-study sweep plan " + sweep.string() +
                         " --circuit ENTRY.dss --sky FOLDER ...");
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
    return out;
}

std::string skies_text(const std::vector<Sky>& skies)
{
    std::string out = "sky,folder,loadshapes\n";
    for (const Sky& sky : skies)
        append_csv_row(out, {sky.name, sky.folder.string(), sky.shapes.string()});
    return out;
}

std::vector<Sky> read_skies(const fs::path& sweep)
{
    std::vector<Sky> out;
    each_csv_row(must_read(sweep, skies_name), sweep / skies_name, 3,
                 [&](std::vector<std::string>& cells, long) { out.push_back({cells[0], cells[1], cells[2]}); });
    return out;
}

std::string cases_text(const std::vector<Case>& cases)
{
    std::string out = "case,level_pct,placement,seed,sky,pv_systems,pv_kw\n";
    for (const Case& c : cases)
        append_csv_row(out, {c.id, level_text(c.level_pct), c.placement, std::to_string(c.seed), c.sky,
                             std::to_string(c.pv_systems), decimal_text(c.pv_kw, 3)});
    return out;
}

std::vector<Case> read_cases(const fs::path& sweep)
{
    std::vector<Case> out;
    const fs::path path = sweep / cases_name;
    each_csv_row(must_read(sweep, cases_name), path, 7, [&](std::vector<std::string>& cells, long number) {
        const std::optional<double> level = number_of(cells[1]);
        const std::optional<double> seed = number_of(cells[3]);
        const std::optional<double> systems = number_of(cells[5]);
        const std::optional<double> kw = number_of(cells[6]);
        if (!level || !seed || !systems || !kw || cells[0].empty())
            throw SweepError(path.string() + ":" + std::to_string(number) + ": not a case: plan the sweep again");
        out.push_back({cells[0], *level, cells[2], static_cast<int>(*seed), cells[4], static_cast<int>(*systems), *kw});
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
    return fs::exists(folder / running_name, error) ? State::running : State::left;
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

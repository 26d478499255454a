#include "study/study.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <queue>
#include <thread>

#include "core/fingerprint.hpp"
#include "core/run_state.hpp"
#include "core/words.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "model/distances.hpp"
#include "model/folder_error.hpp"
#include "model/sky_header.hpp"
#include "output/output_file.hpp"
#include "study/controls.hpp"
#include "study/exports.hpp"
#include "study/plan.hpp"
#include "study/voltages.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view run_placeholder = "study_@RUN@";
constexpr std::string_view run_mark = "Every export of this script is named ";
constexpr std::string_view circuit_print_mark = "! For the circuit's files as they were read, fingerprint";

fs::path full_path(const fs::path& path)
{
    std::error_code error;
    const fs::path canonical = fs::weakly_canonical(path, error);
    return error ? fs::absolute(path).lexically_normal() : canonical;
}

// The first few kilobytes of a file.
std::string head_of(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

// The sky a shapes file says it was made with, from its first lines.
std::optional<std::string> shape_fingerprint(const fs::path& shapes)
{
    const std::string head = head_of(shapes);
    const std::size_t line = head.find("! For the sky of its sun table");
    return line == std::string::npos ? std::nullopt : named_fingerprint(std::string_view(head).substr(line));
}

// The points of the first loadshape in a shapes file, read from its first lines only.
std::optional<long> shape_points(const fs::path& shapes)
{
    const std::string head = head_of(shapes);
    const std::size_t at = lower(head).find("npts=");
    if (at == std::string::npos)
        return std::nullopt;
    long points = 0;
    const auto [end, error] = std::from_chars(head.data() + at + 5, head.data() + head.size(), points);
    return error == std::errc() ? std::optional<long>(points) : std::nullopt;
}

// Whether a shapes file defines the clear sky's loadshape, and whether its header says the shapes
// carry a clear-sky factor.
struct ClearShape {
    bool defined = false;
    bool factors = false;
};

ClearShape clear_shape_of(const fs::path& shapes)
{
    ClearShape out;
    std::ifstream in(shapes, std::ios::binary);
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        if (number == 1)
            out.factors = line.find("times the factor of") != std::string::npos;
        if (line.size() > 24 && lower(std::string_view(line).substr(0, 24)) == "new loadshape.clear_sky ") {
            out.defined = true;
            break;
        }
    }
    return out;
}

// The circuit's files as the import reads them, their bytes fingerprinted in the order read, so
// that a study can tell when the circuit changed.
class FingerprintedFiles : public import::SourceFiles {
public:
    std::optional<fs::path> find(const fs::path& from, std::string_view name) override { return disk_.find(from, name); }
    std::optional<std::string> read(const fs::path& path, std::string& why) override
    {
        std::optional<std::string> bytes = disk_.read(path, why);
        if (bytes) {
            print_.add(path.string());
            print_.add(*bytes);
        }
        return bytes;
    }
    fs::path folder_of(const fs::path& file) override { return disk_.folder_of(file); }
    [[nodiscard]] std::string text() const { return print_.text(); }

private:
    import::DiskFiles disk_;
    Fingerprint print_;
};

// The text with every `from` made `to`, in one pass.
std::string replaced(const std::string& text, std::string_view from, const std::string& to)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    std::size_t done = 0;
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, done)) {
        out.append(text, done, at - done);
        out += to;
        done = at + from.size();
    }
    out.append(text, done, std::string::npos);
    return out;
}

void commit_all(std::vector<OutputFile>& files)
{
    for (OutputFile& file : files)
        file.finish();
    for (OutputFile& file : files)
        file.commit();
}

std::string and_more(const std::vector<std::string>& names) { return first_names(names, 3); }

// Refuses a results folder that does not hold the whole of one run of the script now in the
// folder, saying whose exports it holds instead and what to run.
void refuse_unless_whole(const ResultsFolder& results, const std::string& run, const std::string& circuit,
                         const fs::path& folder, bool given)
{
    if (results.named(end_marker_name(run)))
        return;
    const std::string compile = "run it in OpenDSS (compile \"" + (folder / script_name).string() + "\"), then read again";
    const std::string where = results.folder().string();
    // The engine stops in a settle whose controls never come to rest ("Max Control Iterations
    // Exceeded"): nothing after it was exported.
    const bool began = results.named(begin_marker_name(run)).has_value();
    const auto stopped_in = [&](const char* which, const std::string& before) {
        return StudyError(where + ": the engine stopped in the settle " + which + ", before it exported " + before +
                          ": OpenDSS stops there when the regulators and capacitors do not come to rest (its \"Max "
                          "Control Iterations Exceeded\"). Look at their settings (umbrascope-study write names a "
                          "regulator that cannot regulate as given), or raise the circuit's Set MaxControlIter, then "
                          "write the study again and run it");
    };
    if (began && !results.named(settle_summary_name(run, false)))
        throw stopped_in("at the first row's sky", "anything");
    // The sky's series ran and was exported (its head's monitor last but the PV systems'), and the
    // twin's settle never ended.
    if (began && !results.named(end_marker_name(run)) && results.monitor(run + "_head") &&
        !results.named(settle_summary_name(run, true)))
        throw stopped_in("of the clear-sky twin", "the twin's series");
    if (std::find(results.runs().begin(), results.runs().end(), run) != results.runs().end())
        throw StudyError(where + " holds some of the exports of the study now in " + folder.string() +
                         " but not its last, " + end_marker_name(run) +
                         ": its run in OpenDSS stopped before the end (or failed); " + compile);
    // Exports of other circuits alone: the wrong folder, whatever their runs.
    const std::string own = lower(circuit);
    std::vector<std::string> others;
    for (const std::string& name : results.circuits())
        if (name != own)
            others.push_back(name);
    const bool any_own = std::find(results.circuits().begin(), results.circuits().end(), own) != results.circuits().end();
    if (!circuit.empty() && !others.empty() && !any_own)
        throw StudyError(where + " holds the exports of another circuit (" + and_more(others) + "), not of " + circuit +
                         ", which " + folder.string() + "'s network was imported from: " +
                         (given ? "check the folder given with --results, or " : std::string()) + compile);
    const std::string sky = run.substr(0, 14);  // "study_" and the sky's part
    std::vector<std::string> same_sky, other_sky;
    for (const std::string& other : results.runs())
        (other.substr(0, 14) == sky ? same_sky : other_sky).push_back(other);
    if (!same_sky.empty())
        throw StudyError(where + " holds the exports of another study of this sky (" + and_more(same_sky) +
                         "): a study.dss written again since, or one of another folder, not the " +
                         (folder / script_name).string() + " now there (" + run + "); " + compile);
    if (!other_sky.empty())
        throw StudyError(where + " holds the exports of a study of an earlier sky (" + and_more(other_sky) +
                         "), not of the sky " + folder.string() + " holds now, for which its study.dss was written: " +
                         compile);
    if (results.older_study())
        throw StudyError(where + " holds the exports of a study written by an earlier umbrascope-study, whose exports "
                         "name no run: write the study again (umbrascope-study write " + folder.string() +
                         " --loadshapes SHAPES), then " + compile);
    throw StudyError(where + " holds no exports of the study: " + compile);
}

// Each drawn bus's distance from the source, in km: along the circuit's lines where the import
// measured it, else along the drawn connections' coordinates (`metres` a network unit), from the
// buses that have one or from `source`. Buses reached by coordinates are named in `by_coordinates`.
std::vector<double> drawn_distances(const Drawn& drawn, const std::optional<std::vector<DrawnDistance>>& along,
                                    std::optional<int> source, std::optional<double> metres,
                                    std::vector<std::string>& by_coordinates)
{
    const std::size_t n = drawn.names.size();
    std::vector<double> km(n, -1);
    std::vector<bool> seeded(n, false);
    if (along && !source)
        for (const DrawnDistance& row : *along)
            if (const std::optional<int> at = drawn.find(row.bus); at && row.km) {
                km[static_cast<std::size_t>(*at)] = *row.km;
                seeded[static_cast<std::size_t>(*at)] = true;
            }
    const bool any_line = std::find(seeded.begin(), seeded.end(), true) != seeded.end();
    if (!any_line && source) {
        km[static_cast<std::size_t>(*source)] = 0;
        seeded[static_cast<std::size_t>(*source)] = true;
    }
    if (!metres && any_line)
        return km;
    // On along the drawn connections, from every bus with a distance at once.
    const double scale = metres ? *metres / 1000 : 1;
    std::vector<std::vector<std::pair<int, double>>> next(n);
    for (const auto& [a, b] : drawn.connections) {
        const auto i = static_cast<std::size_t>(a);
        const auto j = static_cast<std::size_t>(b);
        const double length = std::hypot(drawn.x[i] - drawn.x[j], drawn.y[i] - drawn.y[j]) * scale;
        next[i].emplace_back(b, length);
        next[j].emplace_back(a, length);
    }
    using Reached = std::pair<double, int>;
    std::priority_queue<Reached, std::vector<Reached>, std::greater<>> queue;
    for (std::size_t i = 0; i < n; ++i)
        if (seeded[i])
            queue.emplace(km[i], static_cast<int>(i));
    while (!queue.empty()) {
        const auto [d, at] = queue.top();
        queue.pop();
        if (d > km[static_cast<std::size_t>(at)])
            continue;
        for (const auto& [to, length] : next[static_cast<std::size_t>(at)]) {
            const auto t = static_cast<std::size_t>(to);
            if (seeded[t])
                continue;
            if (km[t] < 0 || d + length < km[t]) {
                km[t] = d + length;
                queue.emplace(km[t], to);
            }
        }
    }
    if (any_line)
        for (std::size_t i = 0; i < n; ++i)
            if (!seeded[i] && km[i] >= 0)
                by_coordinates.push_back(drawn.names[i]);
    return km;
}

}  // namespace

std::string first_names(const std::vector<std::string>& names, std::size_t shown)
{
    std::string text;
    const std::size_t n = std::min(names.size(), shown);
    for (std::size_t i = 0; i < n; ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    if (names.size() > n)
        text += " and " + std::to_string(names.size() - n) + " more";
    return text;
}

struct PreparedStudy {
    WriteOptions options;
    fs::path folder;
    Sky sky;
    Drawn drawn;
    std::string circuit_name;
    fs::path entry;
    std::string clear_shape;
    import::Circuit circuit;
    std::string circuit_files;  // the circuit's files' bytes, fingerprinted with a case's own
    Plan plan;
    std::vector<ControlWatch> watches;
};

void PreparedStudyDeleter::operator()(PreparedStudy* study) const { delete study; }

const import::Circuit& prepared_circuit(const PreparedStudy& study) { return study.circuit; }
const Sky& prepared_sky(const PreparedStudy& study) { return study.sky; }

PreparedStudyPtr prepare_study(const WriteOptions& options)
{
    PreparedStudyPtr out(new PreparedStudy);
    out->options = options;
    const fs::path folder = full_path(options.folder);
    out->folder = folder;
    const CircuitRecord record = read_circuit_record(folder);
    if (record.entry.empty())
        throw StudyError(options.folder.string() + "'s network was imported from two tables" +
                         (record.tables.empty() ? std::string() : " (" + record.tables + ")") +
                         ", not from an OpenDSS circuit, so there is no circuit to study; bring voltages from another "
                         "engine with umbrascope-study read --table FILE " + options.folder.string());
    std::error_code error;
    if (!fs::is_regular_file(record.entry, error))
        throw StudyError("the circuit " + record.entry.string() + ", which " + options.folder.string() +
                         "'s network was imported from, is not there: import it again from where it is now with "
                         "umbrascope-import --force CIRCUIT.dss " + options.folder.string());
    // Advice to make loadshapes names this folder's own, never a file of another study, which the
    // command would overwrite.
    const std::string advised = full_path(options.shapes).parent_path() == folder
                                    ? options.shapes.string()
                                    : (options.folder / options.shapes.filename()).string();
    if (!fs::is_regular_file(options.shapes, error))
        throw StudyError("no loadshapes at " + options.shapes.string() + ": make them with umbrascope-clouds --force "
                         "--loadshapes " + advised + " ... " + options.folder.string());
    out->sky = read_sky(folder);
    const Sky& sky = out->sky;
    out->drawn = read_drawn(folder);
    if (const std::optional<std::string> other = sun_table_mismatch(folder))
        throw StudyError(*other);
    // The loadshapes name the sky they were made with.
    if (const std::optional<std::string> made = shape_fingerprint(options.shapes); made && *made != sky.fingerprint)
        throw StudyError(options.shapes.string() + " was made with another sky than " +
                         (folder / sun_table_file_name).string() +
                         std::string(advised == options.shapes.string()
                                         ? ": make both again at once"
                                         : ": give this folder's own loadshapes, or make them") +
                         ", umbrascope-clouds --force --loadshapes " + advised + " ... " + options.folder.string());
    if (const std::optional<long> points = shape_points(options.shapes); points && *points != sky.rows)
        throw StudyError(options.shapes.string() + " holds loadshapes of " + std::to_string(*points) +
                         " points, while the sun table has " + std::to_string(sky.rows) +
                         " rows: make them again with the sky, umbrascope-clouds --force --loadshapes " + advised + " ... " +
                         options.folder.string());
    // The twin's clear sky: the loadshapes' own, or, where they carry no factor, 1 throughout.
    if (options.twin) {
        const ClearShape clear = clear_shape_of(options.shapes);
        if (!clear.defined && clear.factors)
            throw StudyError(options.shapes.string() + " carries a clear-sky factor but holds no clear_sky loadshape for "
                             "the study's clear-sky twin: make it again with umbrascope-clouds --force --loadshapes " +
                             advised + " ... " + options.folder.string() + " (or write the study with --no-twin)");
        if (!clear.defined)
            out->clear_shape = "New Loadshape.clear_sky npts=1 sinterval=" + decimal_text(sky.interval, 6) + " mult=[1]";
    }
    const std::vector<StandIn> stand_ins = read_stand_ins(folder);
    FingerprintedFiles files;
    try {
        out->circuit = import::read_circuit(record.entry, files);
    } catch (const import::ImportError& failure) {
        throw StudyError(failure.what());
    }
    out->circuit_files = files.text();
    out->circuit_name = record.circuit;
    out->entry = record.entry;
    const std::string prefix = std::string(run_placeholder) + "_";
    out->plan = plan_monitors(out->circuit, out->drawn, stand_ins, prefix);
    if (out->plan.monitors.empty())
        throw StudyError("no element in service of " + record.entry.string() + " reaches a bus of " +
                         (folder / network_file_name).string() + ": import the circuit again");
    out->watches = plan_controls(out->circuit, out->drawn, prefix, options.twin);
    return out;
}

WriteResult write_study(const WriteOptions& options) { return write_prepared(*prepare_study(options)); }

std::vector<std::string> regulator_warnings(const import::Circuit& circuit)
{
    std::vector<std::string> out;
    for (const import::Control& control : circuit.controls) {
        if (control.kind != "regcontrol")
            continue;
        const double ptratio = control.ptratio.value_or(60);
        std::string text = "RegControl." + control.name;
        if (!control.ptratio)
            text += " gives no ptratio, so the engine takes 60";
        if (control.winding_kv) {
            // The control's voltage at the winding's own, against its set point: the taps reach
            // about 10 % either way.
            const double volts = *control.winding_kv * 1000 / ptratio;
            const bool reachable = control.vreg >= 0.9 * volts && control.vreg <= 1.1 * volts;
            if (!control.ptratio || !reachable)
                text += std::string(control.ptratio ? "" : ":") + " its winding of " + decimal_text(*control.winding_kv, 4) +
                        " kV (as its PT sees it) reads " + decimal_text(volts, 1) + " V over ptratio " +
                        decimal_text(ptratio, 3) + ", " +
                        (reachable ? std::string("near its vreg of ") + decimal_text(control.vreg, 2) + " V"
                                   : std::string("which its taps cannot bring to its vreg of ") +
                                         decimal_text(control.vreg, 2) + " V: give a ptratio of about " +
                                         decimal_text(*control.winding_kv * 1000 / control.vreg, 1));
            if (control.ptratio && reachable)
                continue;
        } else if (control.ptratio) {
            continue;
        } else {
            text += ", which puts a 120 V set point at 7.2 kV: give the ptratio of its winding";
        }
        out.push_back(text);
    }
    return out;
}

SharedMonitors write_shared_monitors(const PreparedStudy& study, const fs::path& shared)
{
    const fs::path folder = full_path(shared);
    const std::string names[] = {"voltage_monitors.dss", "voltage_exports.dss", "clear_voltage_monitors.dss",
                                 "clear_voltage_exports.dss", std::string(map_name)};
    std::string texts[] = {voltage_monitor_lines(study.plan, false), voltage_export_lines(study.plan, false),
                           voltage_monitor_lines(study.plan, true), voltage_export_lines(study.plan, true),
                           map_text(study.plan)};
    Fingerprint print;
    print.add(study.sky.fingerprint);
    for (const std::string& text : texts)
        print.add(text);
    SharedMonitors out{folder, "study_" + study.sky.fingerprint.substr(0, 8) + "_" + print.text().substr(0, 8)};
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        throw WriteError("cannot make " + folder.string() + ": " + error.message());
    std::vector<OutputFile> written;
    for (std::size_t k = 0; k < std::size(names); ++k) {
        written.emplace_back(folder / names[k]);
        written.back().write(replaced(texts[k], run_placeholder, out.run));
    }
    commit_all(written);
    return out;
}

WriteResult write_prepared(const PreparedStudy& study, const StudyCase* one)
{
    const Sky& sky = study.sky;
    const fs::path folder = one != nullptr ? full_path(one->folder) : study.folder;
    std::vector<ControlWatch> watches = study.watches;
    std::string circuit_print = study.circuit_files;
    if (one != nullptr) {
        // The case's PV systems, numbered on from the circuit's own.
        const std::string prefix = std::string(run_placeholder) + "_";
        int pv = 0;
        for (const ControlWatch& watch : watches)
            pv += watch.kind == "pv" ? 1 : 0;
        for (const AddedPv& added : one->pv) {
            const std::string monitor = "pv" + std::to_string(++pv);
            std::string clear;
            if (study.options.twin) {
                clear = prefix;
                clear += "clear_";
                clear += monitor;
            }
            watches.push_back({"pv", added.name, "PVSystem." + added.name, 1, prefix + monitor, clear, added.bus,
                               added.drawn_bus});
        }
        Fingerprint print;
        print.add(circuit_print);
        print.add(one->own_files);
        circuit_print = print.text();
    }

    WriteResult result;
    result.script = folder / script_name;
    result.map = folder / map_name;
    result.results = folder / results_name;
    ScriptFacts facts;
    facts.circuit = one != nullptr ? full_path(one->entry) : study.entry;
    facts.circuit_name = study.circuit_name;
    facts.shapes = full_path(study.options.shapes);
    facts.folder = folder;
    facts.results = result.results;
    facts.rows = sky.rows;
    facts.interval = sky.interval;
    facts.sky_fingerprint = sky.fingerprint;
    facts.circuit_fingerprint = circuit_print;
    facts.run = std::string(run_placeholder);
    facts.control_mode = study.circuit.control_mode;
    facts.twin = study.options.twin;
    facts.clear_shape = study.clear_shape;
    if (one != nullptr) {
        facts.after_shapes = one->after_shapes;
        facts.twin_voltages = one->twin_voltages && study.options.twin;
    }
    for (const ControlWatch& watch : watches) {
        result.regulators += watch.kind == "regcontrol" ? 1 : 0;
        result.capacitors += watch.kind == "capcontrol" ? 1 : 0;
        result.pv_systems += watch.kind == "pv" ? 1 : 0;
    }
    facts.pv_systems = result.pv_systems > 0;
    // Every export is named by the run: the sky's fingerprint and the script's own, so that the
    // exports of another study, of another sky or of an earlier script are never taken for its.
    const bool shared = one != nullptr && !one->shared.empty();
    if (shared)
        facts.shared = one->shared;
    std::string script = script_text(facts, study.plan, watches);
    std::string map = shared ? std::string() : map_text(study.plan);
    std::string controls = controls_map_text(watches);
    if (shared) {
        // A sweep's cases share their voltage monitors, and so their run's name; each case runs
        // in a results folder of its own, emptied first.
        result.run = one->shared_run;
    } else {
        Fingerprint print;
        for (const std::string* text : {&script, &map, &controls})
            print.add(*text);
        result.run = "study_" + sky.fingerprint.substr(0, 8) + "_" + print.text().substr(0, 8);
    }
    script = replaced(script, run_placeholder, result.run);
    map = replaced(map, run_placeholder, result.run);
    controls = replaced(controls, run_placeholder, result.run);

    std::error_code error;
    fs::create_directories(result.results, error);
    if (error)
        throw WriteError("cannot make the results folder " + result.results.string() + ": " + error.message());
    std::vector<OutputFile> written;
    written.emplace_back(result.script);
    written.back().write(script);
    if (shared) {
        result.map = one->shared / map_name;
    } else {
        written.emplace_back(result.map);
        written.back().write(map);
    }
    written.emplace_back(folder / controls_map_name);
    written.back().write(controls);
    // A sweep writes many cases, then makes them durable at once.
    if (one != nullptr) {
        for (OutputFile& file : written)
            file.finish(false);
        for (OutputFile& file : written)
            file.commit(false);
    } else {
        commit_all(written);
    }
    result.monitors = static_cast<int>(study.plan.monitors.size());
    result.drawn = study.plan.drawn;
    result.customers = study.plan.customers;
    result.nodes = study.plan.nodes;
    result.rows = sky.rows;
    result.interval = sky.interval;
    result.unseen = study.plan.unseen;
    result.other_case = study.circuit.other_case;
    result.twin = study.options.twin;
    result.control_mode = study.circuit.control_mode;
    result.regulators_warned = regulator_warnings(study.circuit);
    result.debug_traces = study.circuit.debug_traces;
    for (const import::Site& site : study.circuit.displays)
        result.displays.push_back(site.text());
    for (const import::MissingFile& missing : study.circuit.missing)
        result.missing.push_back(missing.site.text() + ": " + missing.looked.string());
    return result;
}

ReadResult read_study(const ReadOptions& options)
{
    const fs::path& folder = options.folder;
    // A sweep's case keeps its study and reports in a folder of its own; the sky is the scenario's.
    const fs::path& out = options.case_folder ? *options.case_folder : folder;
    const Sky sky = read_sky(folder);
    const Drawn drawn = read_drawn(folder);
    if (const std::optional<std::string> other = sun_table_mismatch(folder))
        throw StudyError(*other);
    std::optional<CircuitRecord> record;
    std::error_code missing;
    if (fs::exists(folder / circuit_record_name, missing))
        record = read_circuit_record(folder);
    const bool controls_off = record && lower(record->control_mode) == "off";
    ReadResult result;
    VoltageTables tables;
    std::string from;
    std::string base_low, base_high;
    std::optional<ControlsRead> controls;
    std::vector<ControlWatch> watches;
    std::optional<VoltageTables> clear_tables;
    if (options.table) {
        FromTable read = tables_from_wide(*options.table, drawn, sky);
        if (read.columns == 0)
            throw StudyError(options.table->string() + ": no column names a bus of " +
                             (folder / network_file_name).string() +
                             " (the first line is time,BUS,BUS,... by the network file's names)");
        if (!read.unknown.empty())
            result.warnings.push_back(std::to_string(read.unknown.size()) +
                                      (read.unknown.size() == 1 ? " column" : " columns") + " of " +
                                      options.table->string() + " name no drawn bus and were passed over: " +
                                      first_names(read.unknown));
        tables = std::move(read.tables);
        from = "the table " + options.table->filename().string() + ", for the sky fingerprint " + sky.fingerprint;
        base_low = base_high = "Per unit as the table gives it, each value both the lowest and the highest";
    } else {
        if (record && record->entry.empty())
            throw StudyError(folder.string() + "'s network was imported from two tables" +
                             (record->tables.empty() ? std::string() : " (" + record->tables + ")") +
                             ", so no OpenDSS study of it was written: bring its voltages from another engine with "
                             "umbrascope-study read --table FILE " + folder.string());
        const fs::path script_path = out / script_name;
        if (!fs::exists(script_path, missing))
            throw StudyError("there is no " + script_path.string() + ": write the study first (umbrascope-study write " +
                             folder.string() + " --loadshapes SHAPES), run it in OpenDSS, then read it");
        // A study written for another sky has monitors of another run.
        const std::string script = head_of(script_path);
        // The circuit's files as the study read them: a file edited since is named, the results
        // being of the circuit as it was. (A sweep's case adds its own files; its worker checks them.)
        if (const std::size_t mark = script.find(circuit_print_mark); mark != std::string::npos && record &&
                                                                         !record->entry.empty() && !options.case_folder) {
            const std::optional<std::string> written = named_fingerprint(std::string_view(script).substr(mark));
            FingerprintedFiles files;
            try {
                (void)import::read_circuit(record->entry, files);
                if (written && files.text() != *written)
                    result.warnings.push_back(
                        "the circuit " + record->entry.string() + " (or a file it reads) has changed since " +
                        script_path.string() + " was written: the results are of the circuit as it was then; write the "
                        "study again and run it to study the circuit as it is");
            } catch (const import::ImportError& failure) {
                result.warnings.push_back("the circuit " + record->entry.string() + " cannot be read now (" +
                                          failure.what() + "): the results are of the circuit as it was");
            }
        }
        if (const std::optional<std::string> made = named_fingerprint(script); made && *made != sky.fingerprint)
            throw StudyError(script_path.string() + " was written for another sky than " +
                             (folder / sun_table_file_name).string() +
                             " holds now: write the study again (umbrascope-study write " + folder.string() +
                             " --loadshapes SHAPES), run it in OpenDSS, then read it");
        const std::size_t mark = script.find(run_mark);
        const std::string run = mark == std::string::npos ? std::string() : run_of(std::string_view(script).substr(mark + run_mark.size()));
        if (run.empty())
            throw StudyError(script_path.string() + " was written by an earlier umbrascope-study, whose exports name no run: "
                             "write the study again (umbrascope-study write " + folder.string() +
                             " --loadshapes SHAPES), run it in OpenDSS, then read it");
        const ResultsFolder results(options.results.value_or(out / results_name),
                                    record && !options.results ? record->circuit : std::string());
        refuse_unless_whole(results, run, record ? record->circuit : std::string(), out, options.results.has_value());
        // A sweep's case names the folder of the voltage monitors it shares with the others.
        fs::path map_path = out / map_name;
        if (const std::size_t at = script.find(shared_monitors_mark); at != std::string::npos) {
            const std::size_t start = at + shared_monitors_mark.size();
            map_path = fs::path(script.substr(start, script.find('\n', start) - start)) / map_name;
        }
        const std::vector<Monitor> monitors = read_map(map_path);
        watches = read_controls_map(out / controls_map_name);
        const auto of_run = [&](const std::string& name) { return run_of(lower(name)) == run; };
        if (!std::all_of(monitors.begin(), monitors.end(), [&](const Monitor& m) { return of_run(m.name); }) ||
            !std::all_of(watches.begin(), watches.end(), [&](const ControlWatch& w) { return of_run(w.monitor); }))
            throw StudyError(map_path.string() + " and " + (out / controls_map_name).string() +
                             " are not of the study.dss beside them (" + run +
                             "): write the study again, run it in OpenDSS, then read it");
        const std::optional<fs::path> voltages = results.named(voltages_export_name(run));
        if (!voltages)
            throw StudyError(results.folder().string() + " holds no " + voltages_export_name(run) +
                             ", which gives each bus's voltage base: the run of the study did not finish; run it again");
        FromMonitors read = tables_from_monitors(results, monitors, drawn, sky, *voltages);
        if (!read.no_base.empty())
            result.warnings.push_back(
                std::to_string(read.no_base.size()) + (read.no_base.size() == 1 ? " bus has" : " buses have") +
                " no voltage base (BasekV 0 or missing in " + read.voltages_file + "): " + first_names(read.no_base) +
                "; their voltages are left out, and a drawn bus with no other stays empty: give the circuit's "
                "Set VoltageBases=[...] and CalcVoltageBases, then run the study again");
        if (!read.left_out.empty())
            result.warnings.push_back(
                std::to_string(read.left_out.size()) + " monitor " +
                (read.left_out.size() == 1 ? "column was" : "columns were") +
                " left out, the engine's conductors there not being the nodes the circuit's script suggests: " +
                first_names(read.left_out, 4) + " (see " + std::string(map_name) + ")");
        controls = read_controls(results, run, watches, sky);
        if (script.find(twin_voltages_mark) != std::string::npos) {
            std::vector<Monitor> clear = monitors;
            for (Monitor& monitor : clear)
                monitor.name = clear_voltage_monitor(monitor.name);
            clear_tables = tables_from_monitors(results, clear, drawn, sky, *voltages).tables;
        }
        tables = std::move(read.tables);
        from = "the OpenDSS monitors in " + results.folder().string() + " (" + run + ")" + ", for the sky fingerprint " +
               sky.fingerprint;
        const std::string base = "Per unit on each bus's line-to-neutral base, BasekV / sqrt(3) of " + read.voltages_file;
        const std::string of = " of the phase nodes 1, 2 and 3 of the drawn bus and of the customers' buses it stands for";
        base_low = base + "; the lowest" + of;
        base_high = base + "; the highest" + of;
    }

    // Distances from the source: along the circuit's lines, as the import measured them, else
    // along the drawn connections.
    std::optional<int> source;
    if (options.source) {
        source = drawn.find(*options.source);
        if (!source)
            throw StudyError("--source " + *options.source + ": no bus of that name in " +
                             (folder / network_file_name).string());
    }
    std::optional<std::vector<DrawnDistance>> along;
    try {
        along = read_distances(folder);
    } catch (const FolderError& failure) {
        throw StudyError(failure.what());
    }
    const bool lines = along && !options.source &&
                       std::any_of(along->begin(), along->end(), [](const DrawnDistance& d) { return d.km.has_value(); });
    if (!lines && !source && record && !record->source_drawn_bus.empty())
        source = drawn.find(record->source_drawn_bus);
    const std::string units = options.units.value_or(sky.units);
    const std::optional<double> metres = metres_of(units);
    std::vector<std::string> by_coordinates;
    std::vector<double> distance(drawn.names.size(), -1);
    if (lines || source)
        distance = drawn_distances(drawn, lines ? along : std::nullopt, lines ? std::nullopt : source, metres, by_coordinates);
    const bool km = lines || metres.has_value();
    if (!lines && !source)
        result.warnings.push_back("the distances in " + std::string(report_name) +
                                  " are left empty: the folder does not record the circuit's source; give --source BUS");
    else if (!lines && !along && record && !record->entry.empty())
        result.warnings.push_back("the distances in " + std::string(report_name) + " run along the drawn connections' "
                                  "coordinates: " + folder.string() + " was imported before the import measured the "
                                  "circuit's lines; import it again (umbrascope-import --force) for distances along them");
    if (!by_coordinates.empty())
        result.warnings.push_back(std::to_string(by_coordinates.size()) +
                                  (by_coordinates.size() == 1 ? " bus is" : " buses are") +
                                  " joined by no line of the circuit: their distances run along the drawn connections' "
                                  "coordinates, from the nearest bus the lines reach: " + first_names(by_coordinates));
    if (lines && record && record->lines_without_units > 0)
        result.warnings.push_back(record->lines_without_units == 1
                                      ? "1 line of the circuit gives no units=, so its length counts as km in the "
                                        "distances, as OpenDSS takes it"
                                      : std::to_string(record->lines_without_units) +
                                            " lines of the circuit give no units=, so their lengths count as km in the "
                                            "distances, as OpenDSS takes them");

    // The tables are written side by side, a core each: they are most of the time a read takes.
    std::vector<OutputFile> files;
    std::vector<std::string_view> names{lowest_table_name, highest_table_name, report_name};
    if (controls) {
        names.push_back(controls_report_name);
        names.push_back(controls_table_name);
    }
    if (clear_tables)
        names.push_back(clear_report_name);
    files.reserve(names.size());
    for (const std::string_view name : names) {
        files.emplace_back(out / name);
        result.written.push_back(out / name);
    }
    const auto table = [&](bool highest) {
        OutputFile& file = files[highest ? 1 : 0];
        write_voltage_table(tables, highest, drawn, sky, from, highest ? base_high : base_low,
                            [&](std::string_view piece) { file.write(piece); });
    };
    std::exception_ptr failure;
    std::thread highest([&] {
        try {
            table(true);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        table(false);
        files[2].write(report_text(tables, drawn, sky, distance, km));
        if (controls) {
            files[3].write(controls_report_text(*controls, watches, sky));
            // Controls that were off moved nothing: said where the counts are, so that 0 is not read
            // as no cost.
            if (controls_off)
                files[3].write("sky,control_mode,off,,,,,,,,,,\n");
            files[4].write(controls_table(*controls, sky, "Made by umbrascope-study from " + from)
                               .text(sky.header.size() > 3 ? sky.header[3] : std::string(), sky.times));
        }
        if (clear_tables)
            files.back().write(report_text(*clear_tables, drawn, sky, distance, km));
    } catch (...) {
        highest.join();
        throw;
    }
    highest.join();
    if (failure)
        std::rethrow_exception(failure);
    commit_all(files);
    result.summary = summary(tables, drawn, sky);
    if (controls) {
        result.summary.push_back(
            controls_off ? "The circuit sets ControlMode=OFF, which the study kept: its regulators and capacitors did "
                           "not act, so the counts below say nothing of what the cloud would cost them. " +
                               controls_summary(*controls, sky)
                         : controls_summary(*controls, sky));
        for (std::string& warning : controls_warnings(*controls))
            result.warnings.push_back(std::move(warning));
    }
    return result;
}

}  // namespace umbrascope::study

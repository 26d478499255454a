#include "study/study.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <functional>
#include <optional>
#include <set>

#include "core/fingerprint.hpp"
#include "core/paths.hpp"
#include "core/run_state.hpp"
#include "core/words.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "model/sky_header.hpp"
#include "output/output_file.hpp"
#include "study/controls.hpp"
#include "study/hand_on.hpp"
#include "study/plan.hpp"
#include "study/script_files.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

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

}  // namespace

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
    std::vector<Branch> branches;
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
    import::FingerprintedFiles files;
    try {
        out->circuit = import::read_circuit(record.entry, files);
    } catch (const import::ImportError& failure) {
        throw StudyError(failure.what());
    }
    out->circuit_files = files.text();
    out->circuit_name = record.circuit;
    out->entry = record.entry;
    const std::string prefix = std::string(run_placeholder) + "_";
    // Without its own PV systems, the circuit's monitors and watches are planned as if they were not there.
    std::optional<import::Circuit> without_pv;
    if (options.without_circuit_pv) {
        without_pv = out->circuit;
        const auto pv = [](const auto& element) { return lower(element.name.substr(0, 9)) == "pvsystem."; };
        std::erase_if(without_pv->wired, pv);
        std::erase_if(without_pv->power_elements, pv);
    }
    const import::Circuit& planned = without_pv ? *without_pv : out->circuit;
    out->plan = plan_monitors(planned, out->drawn, stand_ins, prefix);
    if (out->plan.monitors.empty())
        throw StudyError("no element in service of " + record.entry.string() + " reaches a bus of " +
                         (folder / network_file_name).string() + ": import the circuit again");
    out->watches = plan_controls(planned, out->drawn, prefix, options.twin);
    // A line's or transformer's loading comes with a bus's voltage where one monitor sees both.
    std::vector<WatchedTerminal> watched;
    for (const Monitor& monitor : out->plan.monitors)
        watched.push_back({monitor.element, monitor.terminal, monitor.name});
    if (options.loading)
        out->branches = plan_branches(planned, prefix, options.twin, watched);
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
                               added.drawn_bus, added.pmpp_kw});
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
    } else if (study.options.inverters.controlled()) {
        // The circuit's own PV systems under control, each its Pmpp (the engine's 500 kW where it gives none).
        std::vector<ControlledPv> pv;
        for (const ControlWatch& watch : watches) {
            if (watch.kind != "pv")
                continue;
            // A single phase across two phase nodes (a delta or a split-phase connection).
            bool phase_to_phase = false;
            for (const import::WiredElement& element : study.circuit.wired)
                if (lower(element.name) == lower(watch.element) && !element.terminals.empty() &&
                    element.terminals.front()) {
                    const std::vector<int>& nodes = element.terminals.front()->nodes;
                    phase_to_phase = nodes.size() == 2 && nodes[0] != 0 && nodes[1] != 0;
                }
            pv.push_back({watch.name, watch.pmpp_kw > 0 ? watch.pmpp_kw : 500, phase_to_phase});
        }
        result.left_at_unity = left_at_unity(study.options.inverters, pv);
        if (pv.empty())
            throw StudyError("--inverter " + study.options.inverters.mode + ": the circuit has no PV system in service "
                             "whose inverter it could control");
        facts.after_shapes = inverter_lines(study.options.inverters, pv);
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
    std::string script = script_text(facts, study.plan, watches, study.branches);
    std::string map = shared ? std::string() : map_text(study.plan);
    std::string controls = controls_map_text(watches);
    std::string branches = branches_map_text(study.branches);
    if (shared) {
        // A sweep's cases share their voltage monitors, and so their run's name; each case runs
        // in a results folder of its own, emptied first.
        result.run = one->shared_run;
    } else {
        Fingerprint print;
        for (const std::string* text : {&script, &map, &controls, &branches})
            print.add(*text);
        result.run = "study_" + sky.fingerprint.substr(0, 8) + "_" + print.text().substr(0, 8);
    }
    // The run split in time: a script a slice, each in a folder of its own, of the same run and
    // its monitors, and the slicing that read stitches them by.
    std::vector<std::pair<fs::path, std::string>> slice_scripts;
    Slicing slicing;
    std::vector<std::optional<Handed>> handed;  // what each slice is handed, where it is
    if (one == nullptr && study.options.slices > 0) {
        result.overlap_rows = static_cast<int>(std::ceil(study.options.overlap / sky.interval - 1e-9));
        slicing.slices = plan_slices(sky.rows, study.options.slices, result.overlap_rows);
        const int count = static_cast<int>(slicing.slices.size());
        handed.resize(slicing.slices.size());
        if (study.options.hand_on) {
            HandOn handing = hand_on(folder, slicing.slices, study.options.overlap, result.run, study.circuit_name,
                                     watches, sky);
            handed = std::move(handing.handed);
            result.unfollowed = std::move(handing.unfollowed);
        } else {
            hold_handed(folder, slicing.slices, study.options.overlap, result, handed);
        }
        // A handed slice begins at the row it is handed from.
        for (std::size_t k = 0; k < handed.size(); ++k)
            if (handed[k]) {
                slicing.slices[k].handed = handed_print(*handed[k]);
                if (handed[k]->first > 0)
                    slicing.slices[k].first = handed[k]->first;
            }
        // Regulators at more than one place along the feeder act on each other's voltage: a slice's
        // overlap may end a tap from the whole run's, and handing on takes rounds.
        std::set<std::string> places;
        for (const import::Control& control : study.circuit.controls)
            if (control.kind == "regcontrol" && control.bus >= 0)
                places.insert(study.circuit.buses[static_cast<std::size_t>(control.bus)]);
        result.chained_regulators = places.size() > 1;
        for (const Slice& slice : slicing.slices) {
            ScriptFacts part = facts;
            const fs::path at = slice_folder(folder, slice.number, count);
            part.folder = at;
            part.study_folder = folder;
            part.results = at / results_name;
            part.first_row = slice.first;
            part.rows = slice.last - slice.first + 1;
            part.slice_mark = std::string(slice_mark) + folder.string() + ": slice " + std::to_string(slice.number) +
                              " of " + std::to_string(count) + ", rows " + std::to_string(slice.own) + " to " +
                              std::to_string(slice.last) + " its own, from row " + std::to_string(slice.first) +
                              " (" + std::to_string(slice.own - slice.first) + " rows of overlap before them" +
                              (slice.handed.empty() ? std::string()
                                                    : ", its controls handed on from slice " +
                                                          std::to_string(slice.number - 1) + "'s run") +
                              ")";
            part.slice_export = slice_export_name(std::string(run_placeholder), slice);
            part.unrecorded = slice.recorded() - slice.first;
            part.handed = handed[static_cast<std::size_t>(slice.number) - 1];
            slice_scripts.emplace_back(at, script_text(part, study.plan, watches, study.branches));
        }
    }
    script = replaced(script, run_placeholder, result.run);
    map = replaced(map, run_placeholder, result.run);
    controls = replaced(controls, run_placeholder, result.run);
    branches = replaced(branches, run_placeholder, result.run);
    for (std::size_t k = 0; k < slice_scripts.size(); ++k) {
        auto& [at, text] = slice_scripts[k];
        text = replaced(text, run_placeholder, result.run);
        // A slice handed on anew runs again; one handed the same states keeps its run.
        if (!slicing.slices[k].handed.empty()) {
            std::error_code error;
            const bool kept = fs::exists(at / script_name, error) && read_text(at / script_name, "slice's script") == text;
            (kept ? result.handed_kept : result.handed_anew).push_back(slicing.slices[k].number);
        }
    }
    slicing.run = result.run;
    slicing.rows = sky.rows;
    slicing.overlap_s = study.options.overlap;
    result.slices = slicing.slices;

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
    written.emplace_back(folder / branches_map_name);
    written.back().write(branches);
    // The slices' folders this writing makes go again where it fails: nothing of it is left.
    std::vector<fs::path> made_now;
    if (!slice_scripts.empty() && !fs::exists(folder / slices_folder_name, error))
        made_now.push_back(folder / slices_folder_name);
    else
        for (const auto& [at, text] : slice_scripts)
            if (!fs::exists(at, error))
                made_now.push_back(at);
    try {
        for (std::size_t k = 0; k < slice_scripts.size(); ++k) {
            const auto& [at, text] = slice_scripts[k];
            fs::create_directories(at / results_name, error);
            if (error)
                throw WriteError("cannot make the slice's results folder " + (at / results_name).string() + ": " +
                                 error.message());
            written.emplace_back(at / script_name);
            written.back().write(text);
            written.emplace_back(at / controls_map_name);
            written.back().write(controls);
            if (handed[k]) {
                written.emplace_back(at / handed_file_name);
                written.back().write(handed_text(*handed[k]));
            }
        }
        if (!slice_scripts.empty()) {
            written.emplace_back(folder / slices_folder_name / slicing_name);
            written.back().write(slicing_text(slicing));
        }
        // A sweep writes many cases, then makes them durable at once.
        if (one != nullptr) {
            for (OutputFile& file : written)
                file.finish(false);
            for (OutputFile& file : written)
                file.commit(false);
        } else {
            commit_all(written);
        }
    } catch (...) {
        written.clear();
        for (const fs::path& path : made_now)
            fs::remove_all(path, error);
        throw;
    }
    if (one == nullptr) {
        // Slices of an earlier writing are of another run: they go, with their results.
        const fs::path slices = folder / slices_folder_name;
        if (slice_scripts.empty()) {
            fs::remove_all(slices, error);
        } else {
            std::vector<fs::path> stale;
            for (const fs::directory_entry& entry : fs::directory_iterator(slices / "cases", error))
                if (std::none_of(slice_scripts.begin(), slice_scripts.end(),
                                 [&](const auto& made) { return made.first.filename() == entry.path().filename(); }))
                    stale.push_back(entry.path());
            for (const fs::path& path : stale)
                fs::remove_all(path, error);
            // A slice that settles now keeps no states handed to it before.
            for (std::size_t k = 0; k < slice_scripts.size(); ++k)
                if (!handed[k])
                    fs::remove(slice_scripts[k].first / handed_file_name, error);
        }
    }
    result.monitors = static_cast<int>(study.plan.monitors.size());
    result.branches = static_cast<int>(study.branches.size());
    result.default_rated = static_cast<int>(
        std::count_if(study.branches.begin(), study.branches.end(), [](const Branch& b) { return !b.rated; }));
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
    for (const std::string& control : study.circuit.unmatched_controls)
        result.circuit_warned.push_back(control + ": the engine stops there, and the study with it");
    for (const import::WiredElement& element : study.circuit.wired)
        if (element.element_class == "pvsystem" && !element.pmpp)
            result.circuit_warned.push_back(element.name + " gives no Pmpp, so the engine takes its default, 500 kW, and "
                                            "controls_report.csv leaves ramp_pct_per_min blank");
    for (const import::Site& site : study.circuit.displays)
        result.displays.push_back(site.text());
    for (const import::MissingFile& missing : study.circuit.missing)
        result.missing.push_back(missing.site.text() + ": " + missing.looked.string());
    return result;
}

}  // namespace umbrascope::study

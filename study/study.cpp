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

#include "core/csv.hpp"
#include "core/fingerprint.hpp"
#include "core/lines.hpp"
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
    throw StudyError(where + " holds no exports of the study: " + compile +
                     " (where OpenDSS ran it and stopped with an error in the circuit, the error it printed says "
                     "what to mend)");
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

namespace {

// Where each control of a run was in its own row `row` (from 0): what a slice after it is handed.
std::vector<HandedState> states_at(const ControlsRun& run, std::size_t row)
{
    std::vector<HandedState> out;
    // The row is one of the run's own: the slicing keeps each overlap within the slice before's.
    for (std::size_t i = 0; i < run.controls.size(); ++i) {
        const ControlSeries& series = run.controls[i];
        out.push_back({series.kind, series.name, series.element, series.rows.at(row),
                       series.regulator() ? std::string() : run.steps.at(i).at(row)});
    }
    return out;
}

// The fingerprint a slicing records of the states a slice is handed.
std::string handed_print(const Handed& handed)
{
    Fingerprint print;
    for (const std::vector<HandedState>* states : {&handed.sky, &handed.clear})
        for (const HandedState& state : *states)
            print.add(state.name + "=" + std::to_string(state.position) + "/" + state.steps + ";");
    return print.text().substr(0, 8);
}

// The states a slice was handed, beside its script, so that writing the same study again hands
// them again without the slices' runs.
constexpr std::string_view handed_header = "under,kind,name,element,tap,steps";

std::string handed_text(const Handed& handed)
{
    std::string out = std::string(handed_header) + "\n";
    for (const bool clear : {false, true})
        for (const HandedState& state : clear ? handed.clear : handed.sky)
            append_csv_row(out, {clear ? "clear" : "sky", state.kind, state.name, state.element,
                                 std::to_string(state.position), state.steps});
    return out;
}

// What handed.csv in `at` records, where it is whole and its fingerprint is `print`; else nothing.
std::optional<Handed> read_handed(const fs::path& at, const std::string& print, int from_slice)
{
    std::error_code error;
    if (!fs::is_regular_file(at / handed_file_name, error))
        return std::nullopt;
    Handed handed;
    handed.from_slice = from_slice;
    bool whole = true;
    each_line(read_text(at / handed_file_name, "slice's handed states"), [&](std::string_view line, long number) {
        if (number == 1) {
            whole = whole && line == handed_header;
            return;
        }
        const std::optional<std::vector<std::string>> cells = csv_fields(line);
        const std::optional<double> tap = cells && cells->size() == 6 ? number_of((*cells)[4]) : std::nullopt;
        if (!tap || *tap != std::round(*tap) || std::fabs(*tap) > 1e6 ||
            ((*cells)[0] != "sky" && (*cells)[0] != "clear")) {
            whole = false;
            return;
        }
        const std::vector<std::string>& c = *cells;
        ((c[0] == "clear") ? handed.clear : handed.sky).push_back({c[1], c[2], c[3], static_cast<int>(*tap), c[5]});
    });
    if (!whole || handed_print(handed) != print)
        return std::nullopt;
    return handed;
}

// Writing the same study again, in the same slices, hands each slice that was handed on the same
// states again: the run is the same, so the slice before's run is too. A slice whose states are not
// on record settles again, and the result says so.
void hold_handed(const fs::path& folder, const std::vector<Slice>& planned, WriteResult& result,
                 std::vector<std::optional<Handed>>& handed)
{
    std::optional<Slicing> ran;
    try {
        ran = read_slicing(folder);
    } catch (const StudyError&) {
        return;  // a slicing that does not read is written anew, as is every slice of it
    }
    if (!ran || ran->run != result.run || ran->slices.size() != planned.size())
        return;
    const int count = static_cast<int>(planned.size());
    for (std::size_t k = 0; k < planned.size(); ++k) {
        const Slice& was = ran->slices[k];
        if (was.handed.empty() || was.first != planned[k].first || was.own != planned[k].own ||
            was.last != planned[k].last)
            continue;
        handed[k] = read_handed(slice_folder(folder, was.number, count), was.handed, was.number - 1);
        if (!handed[k])
            result.handed_lost.push_back(was.number);
    }
}

}  // namespace

std::vector<std::optional<Handed>> hand_on(const fs::path& folder, const std::vector<Slice>& planned,
                                           const std::string& run, const std::string& circuit,
                                           std::vector<ControlWatch> watches, const Sky& sky)
{
    // The monitors by the names the run gave them.
    for (ControlWatch& watch : watches) {
        watch.monitor = replaced(watch.monitor, run_placeholder, run);
        watch.clear_monitor = replaced(watch.clear_monitor, run_placeholder, run);
    }
    const int count = static_cast<int>(planned.size());
    const std::string run_them = "run the slices (umbrascope-study sweep run " + folder.string() +
                                 "), then write the study again with --hand-on";
    const std::optional<Slicing> ran = read_slicing(folder);
    const bool same = ran && ran->run == run && ran->slices.size() == planned.size() &&
                      std::equal(planned.begin(), planned.end(), ran->slices.begin(), [](const Slice& a, const Slice& b) {
                          return a.own == b.own && a.last == b.last;
                      });
    if (!same)
        throw StudyError("--hand-on hands the controls on from the slices' own runs, and " + folder.string() +
                         " holds no run of these " + std::to_string(count) +
                         " slices of this study: write it with --slices " + std::to_string(count) + " first, " +
                         run_them);
    std::vector<ControlsRead> reads;
    for (const Slice& slice : ran->slices) {
        const fs::path at = slice_folder(folder, slice.number, count);
        // "slice 2 of 12", what is wrong with it, and what to do.
        const auto refused = [&](const std::string& what) {
            std::string text = "slice " + std::to_string(slice.number) + " of " + std::to_string(count);
            text += what;
            text += run_them;
            return StudyError(text);
        };
        std::error_code error;
        if (!fs::is_directory(at / results_name, error))
            throw refused(" has not run: ");
        const ResultsFolder results(at / results_name, circuit);
        try {
            refuse_unless_whole(results, run, circuit, at, false);
        } catch (const StudyError& failure) {
            throw refused(std::string(" is not whole (") + failure.what() + "): ");
        }
        if (!results.named(slice_export_name(run, slice)))
            throw refused(" (" + results.folder().string() + ") holds the run of its script before: ");
        Sky part = sky;
        part.rows = slice.last - slice.first + 1;
        part.first_row = slice.first;
        reads.push_back(read_controls(results, run, watches, part, slice.own - slice.first));
    }
    std::vector<std::optional<Handed>> out(planned.size());
    for (std::size_t k = 1; k < reads.size(); ++k) {
        const ControlsRead& before = reads[k - 1];
        const ControlsRead& mine = reads[k];
        const bool elsewhere = !controls_differing(before.sky, mine.sky).empty() ||
                               (before.clear && mine.clear && !controls_differing(*before.clear, *mine.clear).empty());
        if ((!elsewhere && ran->slices[k].handed.empty()) || planned[k].first >= planned[k].own)
            continue;
        // The slice's first row is one of the slice before's own.
        const auto row = static_cast<std::size_t>(planned[k].first - ran->slices[k - 1].own);
        Handed handed;
        handed.from_slice = static_cast<int>(k);
        handed.sky = states_at(before.sky, row);
        if (before.clear)
            handed.clear = states_at(*before.clear, row);
        out[k] = std::move(handed);
    }
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
        if (study.options.hand_on)
            handed = hand_on(folder, slicing.slices, result.run, study.circuit_name, watches, sky);
        else
            hold_handed(folder, slicing.slices, result, handed);
        for (std::size_t k = 0; k < handed.size(); ++k)
            if (handed[k])
                slicing.slices[k].handed = handed_print(*handed[k]);
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
            slice_scripts.emplace_back(at, script_text(part, study.plan, watches));
        }
    }
    script = replaced(script, run_placeholder, result.run);
    map = replaced(map, run_placeholder, result.run);
    controls = replaced(controls, run_placeholder, result.run);
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

namespace {

// A slice the sweep's worker ran: whole, and of the slicing the study records, or refused.
ReadResult check_slice(const fs::path& folder, const fs::path& out, const std::string& mark, const std::string& run,
                       const std::string& circuit)
{
    const std::size_t at = mark.find(": slice ");
    const std::optional<double> number =
        at == std::string::npos ? std::nullopt : number_of(mark.substr(at + 8, mark.find(' ', at + 8) - at - 8));
    const std::optional<Slicing> slicing = read_slicing(folder);
    if (!number || !slicing || *number < 1 || *number > static_cast<double>(slicing->slices.size()) ||
        slicing->run != run)
        throw StudyError((out / script_name).string() + " is not a slice of the study " + folder.string() +
                         " records now: write the study again with --slices, then run its slices");
    const Slice& slice = slicing->slices[static_cast<std::size_t>(*number) - 1];
    const ResultsFolder results(out / results_name, circuit);
    refuse_unless_whole(results, run, circuit, out, false);
    if (!results.named(slice_export_name(run, slice)))
        throw StudyError(results.folder().string() + " holds the exports of another slicing of the study, not of rows " +
                         std::to_string(slice.first) + " to " + std::to_string(slice.last) + ": run the slice again");
    ReadResult result;
    result.summary.push_back("Slice " + std::to_string(slice.number) + " of " + std::to_string(slicing->slices.size()) +
                             ": rows " + std::to_string(slice.first) + " to " + std::to_string(slice.last) +
                             " exported whole; umbrascope-study read " + folder.string() + " stitches the slices");
    return result;
}

struct SlicesRead {
    FromMonitors first;                    // the whole run's tables, and what the first slice told
    std::optional<ControlsRead> controls;
    std::optional<VoltageTables> clear;
    std::vector<std::string> summary;
    std::string report;                    // slices_report.csv
};

// The command that writes the slices again, handing the controls on: the study's own write, its
// loadshapes as its script redirects them after the circuit.
std::string hand_on_command(const fs::path& folder, const Slicing& slicing, bool twin)
{
    std::string shapes = "SHAPES";
    std::error_code error;
    if (fs::exists(folder / script_name, error)) {
        bool compiled = false;
        each_line(read_text(folder / script_name, "study script"), [&](std::string_view line, long) {
            if (line.rfind("Compile ", 0) == 0)
                compiled = true;
            else if (compiled && line.rfind("Redirect ", 0) == 0 && line.size() > 11 && shapes == "SHAPES")
                shapes = std::string(line.substr(10, line.size() - 11));
        });
    }
    return "umbrascope-study write " + folder.string() + " --loadshapes " + shapes + (twin ? "" : " --no-twin") +
           " --slices " + std::to_string(slicing.slices.size()) + " --overlap " + decimal_text(slicing.overlap_s, 6) +
           " --hand-on";
}

// Every slice's own rows into the whole run's tables, the overlap of each dropped and the control
// counts added up, and what each boundary says of the overlap. Refuses a slice not run whole, or
// run for another slicing, naming it and the command that runs it.
SlicesRead read_slices(const fs::path& folder, const Slicing& slicing, const std::string& circuit,
                       const std::string& run, const std::vector<Monitor>& monitors,
                       const std::vector<ControlWatch>& watches, const Drawn& drawn, const Sky& sky, bool twin_voltages)
{
    const int count = static_cast<int>(slicing.slices.size());
    if (slicing.rows != sky.rows)
        throw StudyError((folder / slices_folder_name / slicing_name).string() + " slices " +
                         std::to_string(slicing.rows) + " rows, the sun table has " + std::to_string(sky.rows) +
                         ": write the study again with --slices, then run its slices");
    Stitch stitch(slicing, static_cast<int>(drawn.names.size()));
    std::vector<Boundary> boundaries;
    SlicesRead out;
    const std::string run_them = "umbrascope-study sweep run " + folder.string();
    // "slice 2 of 12" and what is wrong with it, then the command that runs the slices.
    const auto refused = [&](const Slice& slice, std::initializer_list<std::string_view> what) {
        std::string text = "slice " + std::to_string(slice.number) + " of " + std::to_string(count);
        for (const std::string_view part : what)
            text += part;
        text += run_them;
        return StudyError(text);
    };
    for (const Slice& slice : slicing.slices) {
        const fs::path at = slice_folder(folder, slice.number, count);
        std::error_code error;
        if (!fs::is_directory(at / results_name, error))
            throw refused(slice, {" has no results (", (at / results_name).string(), "): run the slices, "});
        const ResultsFolder results(at / results_name, circuit);
        try {
            refuse_unless_whole(results, run, circuit, at, false);
        } catch (const StudyError& failure) {
            throw refused(slice, {" is not whole: ", failure.what(), "; or run the slices, "});
        }
        if (!results.named(slice_export_name(run, slice)))
            throw refused(slice, {" (", results.folder().string(),
                                  ") holds the exports of another slicing of the study, not of its rows ",
                                  std::to_string(slice.first), " to ", std::to_string(slice.last),
                                  ": run the slices again, "});
        const std::optional<fs::path> voltages = results.named(voltages_export_name(run));
        if (!voltages)
            throw refused(slice, {" holds no ", voltages_export_name(run), ": run the slices again, "});
        Sky part = sky;
        part.rows = slice.last - slice.first + 1;
        part.first_row = slice.first;
        // The voltages from the overlap's last row on; the controls and powers over all of it.
        Sky recorded = sky;
        recorded.rows = slice.last - slice.recorded() + 1;
        recorded.first_row = slice.recorded();
        FromMonitors read = tables_from_monitors(results, monitors, drawn, recorded, *voltages);
        stitch.add_voltages(slice, read.tables, false, drawn.names, boundaries);
        if (slice.number == 1) {
            read.tables = {};
            out.first = std::move(read);
        }
        stitch.add_controls(slice, read_controls(results, run, watches, part, slice.own - slice.first), boundaries);
        if (twin_voltages) {
            std::vector<Monitor> clear = monitors;
            for (Monitor& monitor : clear)
                monitor.name = clear_voltage_monitor(monitor.name);
            stitch.add_voltages(slice, tables_from_monitors(results, clear, drawn, recorded, *voltages).tables, true,
                                drawn.names, boundaries);
        }
    }
    out.first.tables = std::move(stitch.voltages(false));
    if (twin_voltages)
        out.clear = std::move(stitch.voltages(true));
    out.controls = std::move(stitch.controls());
    std::sort(boundaries.begin(), boundaries.end(), [](const Boundary& a, const Boundary& b) { return a.row < b.row; });
    out.report = "boundary_row,time,largest_difference_pu,bus,controls_differing,clear_controls_differing\n";
    double largest = 0;
    std::string where;
    int taps = 0, clear_taps = 0;
    const auto listed = [](const std::vector<std::string>& names) {
        std::string text;
        for (const std::string& name : names)
            text += (text.empty() ? "" : "; ") + name;
        return text;
    };
    for (const Boundary& b : boundaries) {
        append_csv_row(out.report, {std::to_string(b.row), row_time(sky, b.row), decimal_text(b.volts, 4), b.bus,
                                    listed(b.controls), listed(b.clear_controls)});
        clear_taps += b.clear_controls.empty() ? 0 : 1;
        if (b.volts > largest || where.empty()) {
            largest = b.volts;
            where = "bus " + b.bus + " at row " + std::to_string(b.row) + " (" + row_time(sky, b.row) + ")";
        }
        taps += b.controls.empty() ? 0 : 1;
    }
    std::vector<std::string> handed;
    for (const Slice& slice : slicing.slices)
        if (!slice.handed.empty())
            handed.push_back(std::to_string(slice.number));
    std::string line = "Stitched " + std::to_string(count) + (count == 1 ? " slice" : " slices") + " of the run, " +
                       decimal_text(slicing.overlap_s, 3) + " s of overlap before each";
    if (!handed.empty()) {
        line += handed.size() == 1 ? " but slice " : " but slices ";
        for (std::size_t k = 0; k < handed.size(); ++k)
            line += (k == 0 ? std::string() : k + 1 == handed.size() ? std::string(" and ") : std::string(", ")) + handed[k];
        line += handed.size() == 1 ? ", handed on: its overlap begins" : ", handed on: each one's overlap begins";
        line += " with the controls where the slice before's run had them";
    }
    if (!boundaries.empty())
        line += ": where an overlap ends, it differed from the slice before by at most " + decimal_text(largest, 4) +
                " pu (" + where + "), and " +
                (taps == 0 ? std::string("every regulator's tap and capacitor's steps were the same")
                           : "the controls differed at " + std::to_string(taps) + " of the " +
                                 std::to_string(boundaries.size()) + " boundaries") +
                (clear_taps == 0 ? std::string()
                 : taps == 0     ? "; under the clear sky they differed at " + std::to_string(clear_taps) + " of the " +
                                   std::to_string(boundaries.size())
                                 : " (under the clear sky at " + std::to_string(clear_taps) + ")") +
                "; " + std::string(slices_report_name) + " says at each";
    if (taps > 0 || clear_taps > 0)
        line += ". To begin those slices where the slice before left its controls: " +
                hand_on_command(folder, slicing, out.controls && out.controls->clear) +
                ", then run the slices again (only those it writes anew run) and read";
    out.summary.push_back(line + ".");
    return out;
}

}  // namespace

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
    std::vector<std::string> slices_summary;
    std::string slices_report;
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
        const std::string circuit = record ? record->circuit : std::string();
        // A slice of a study split in time, run by the sweep's worker: its exports are checked
        // whole here, and read with the other slices' when the study is read.
        if (const std::size_t at = script.find(slice_mark); at != std::string::npos && options.case_folder)
            return check_slice(folder, out, script.substr(at), run, circuit);
        std::optional<Slicing> slicing;
        if (!options.case_folder && !options.whole && !options.results)
            slicing = read_slicing(folder);
        if (slicing && slicing->run != run)
            throw StudyError((folder / slices_folder_name).string() + " holds the slices of another writing of " +
                             script_path.string() + ": write the study again with --slices, run the slices, then "
                             "read it (or read the whole run with --whole)");
        const ResultsFolder results(options.results.value_or(out / results_name), record && !options.results ? circuit : std::string());
        if (!slicing)
            refuse_unless_whole(results, run, circuit, out, options.results.has_value());
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
        FromMonitors read;
        std::optional<fs::path> voltages;
        if (slicing) {
            SlicesRead sliced = read_slices(folder, *slicing, circuit, run, monitors, watches, drawn, sky,
                                            script.find(twin_voltages_mark) != std::string::npos);
            read = std::move(sliced.first);
            controls = std::move(sliced.controls);
            clear_tables = std::move(sliced.clear);
            slices_summary = std::move(sliced.summary);
            slices_report = std::move(sliced.report);
        } else {
            voltages = results.named(voltages_export_name(run));
            if (!voltages)
                throw StudyError(results.folder().string() + " holds no " + voltages_export_name(run) +
                                 ", which gives each bus's voltage base: the run of the study did not finish; run it again");
            read = tables_from_monitors(results, monitors, drawn, sky, *voltages);
        }
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
        if (!slicing)
            controls = read_controls(results, run, watches, sky);
        if (!slicing && script.find(twin_voltages_mark) != std::string::npos) {
            std::vector<Monitor> clear = monitors;
            for (Monitor& monitor : clear)
                monitor.name = clear_voltage_monitor(monitor.name);
            clear_tables = tables_from_monitors(results, clear, drawn, sky, *voltages).tables;
        }
        tables = std::move(read.tables);
        from = slicing ? "the OpenDSS monitors of " + std::to_string(slicing->slices.size()) + " slices of the run in " +
                             (folder / slices_folder_name).string() + " (" + run + "), stitched"
                       : "the OpenDSS monitors in " + results.folder().string() + " (" + run + ")";
        from += ", for the sky fingerprint " + sky.fingerprint;
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
    if (!slices_report.empty())
        names.push_back(slices_report_name);
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
                files[3].write("sky,control_mode,off" + std::string(controls_report_columns - 3, ',') + "\n");
            files[4].write(controls_table(*controls, sky, "Made by umbrascope-study from " + from)
                               .text(sky.header.size() > 3 ? sky.header[3] : std::string(), sky.times));
        }
        if (clear_tables)
            files[names.size() - (slices_report.empty() ? 1 : 2)].write(report_text(*clear_tables, drawn, sky, distance, km));
        if (!slices_report.empty())
            files.back().write(slices_report);
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
                               controls_summary(*controls, watches, sky)
                         : controls_summary(*controls, watches, sky));
        for (std::string& warning : controls_warnings(*controls, watches))
            result.warnings.push_back(std::move(warning));
    }
    result.summary.insert(result.summary.end(), slices_summary.begin(), slices_summary.end());
    return result;
}

}  // namespace umbrascope::study

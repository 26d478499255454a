#include "study/study.hpp"

#include <algorithm>
#include <cmath>
#include <exception>
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
#include "study/loading.hpp"
#include "study/plan.hpp"
#include "study/sliced_read.hpp"
#include "study/script_files.hpp"
#include "study/voltages.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

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
    std::vector<Branch> branches;
    std::vector<Loading> loading;
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
            import::FingerprintedFiles files;
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
            // Each slice's own rows of each line's and transformer's current, one slice after another.
            branches = read_branches_map(out / branches_map_name);
            LoadingStitch stitch(branches, sky.rows, sky.interval, options.loading_window);
            const int count = static_cast<int>(slicing->slices.size());
            for (const Slice& slice : slicing->slices)
                stitch.add(ResultsFolder(slice_folder(folder, slice.number, count) / results_name, circuit), circuit,
                           slice.first, slice.recorded(), slice.own, slice.last,
                           script.find(twin_voltages_mark) != std::string::npos);
            loading = stitch.finish();
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
        if (!slicing) {
            controls = read_controls(results, run, watches, sky);
            // A study written before the loading was recorded has no branches' map, and no loading.
            branches = read_branches_map(out / branches_map_name);
            if (!std::all_of(branches.begin(), branches.end(), [&](const Branch& b) { return of_run(b.monitor); }))
                throw StudyError((out / branches_map_name).string() + " is not of the study.dss beside it (" + run +
                                 "): write the study again, run it in OpenDSS, then read it");
            loading = read_loading(results, circuit, branches, sky.rows, sky.interval, 1, options.loading_window);
        }
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
    // A sweep's case keeps its reports alone.
    const bool tables_too = !options.reports_only;
    std::vector<OutputFile> files;
    std::vector<std::string_view> names;
    if (tables_too)
        names = {lowest_table_name, highest_table_name};
    names.push_back(report_name);
    if (controls) {
        names.push_back(controls_report_name);
        if (tables_too)
            names.push_back(controls_table_name);
    }
    if (clear_tables)
        names.push_back(clear_report_name);
    if (!slices_report.empty())
        names.push_back(slices_report_name);
    if (!loading.empty())
        names.push_back(loading_report_name);
    files.reserve(names.size());
    for (const std::string_view name : names) {
        files.emplace_back(out / name);
        result.written.push_back(out / name);
    }
    const auto file_of = [&](std::string_view name) -> OutputFile& {
        return files[static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin())];
    };
    const auto table = [&](bool highest) {
        OutputFile& file = file_of(highest ? highest_table_name : lowest_table_name);
        write_voltage_table(tables, highest, drawn, sky, from, highest ? base_high : base_low,
                            [&](std::string_view piece) { file.write(piece); });
    };
    std::exception_ptr failure;
    std::thread highest;
    if (tables_too)
        highest = std::thread([&] {
            try {
                table(true);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    try {
        if (tables_too)
            table(false);
        file_of(report_name).write(report_text(tables, drawn, sky, distance, km));
        if (controls) {
            OutputFile& report = file_of(controls_report_name);
            report.write(controls_report_text(*controls, watches, sky));
            // Controls that were off moved nothing: said where the counts are, so that 0 is not read
            // as no cost.
            if (controls_off)
                report.write("sky,control_mode,off" + std::string(controls_report_columns - 3, ',') + "\n");
            if (tables_too)
                file_of(controls_table_name)
                    .write(controls_table(*controls, sky, "Made by umbrascope-study from " + from)
                               .text(sky.header.size() > 3 ? sky.header[3] : std::string(), sky.times));
        }
        if (clear_tables)
            file_of(clear_report_name).write(report_text(*clear_tables, drawn, sky, distance, km));
        if (!slices_report.empty())
            file_of(slices_report_name).write(slices_report);
        if (!loading.empty())
            file_of(loading_report_name).write(loading_report_text(loading, sky));
    } catch (...) {
        if (highest.joinable())
            highest.join();
        throw;
    }
    if (highest.joinable())
        highest.join();
    if (failure)
        std::rethrow_exception(failure);
    commit_all(files);
    result.summary = summary(tables, drawn, sky);
    if (controls) {
        // What the PV systems could have given and did not, where an inverter or a rating held them back.
        const std::optional<Curtailment> cut = curtailment(controls->sky, sky.interval);
        const std::optional<Curtailment> clear_cut =
            controls->clear ? curtailment(*controls->clear, sky.interval) : std::nullopt;
        double absorbed = 0;
        for (const double kvar : controls->sky.pv_kvar)
            absorbed += kvar < 0 ? -kvar * sky.interval / 3600 : 0;
        const auto said = [](const Curtailment& c) {
            return decimal_text(c.kwh, 3) + " kWh (" +
                   decimal_text(c.available_kwh > 0 ? 100 * c.kwh / c.available_kwh : 0, 2) + " %)";
        };
        if (cut && (cut->kwh >= 0.001 || (clear_cut && clear_cut->kwh >= 0.001) || absorbed >= 0.001))
            result.summary.push_back(
                "The PV systems gave " + said(*cut) +
                " less than their panels could under the sky" +
                (clear_cut ? ", " + said(*clear_cut) + " under a clear sky" : std::string()) + ", and absorbed " +
                decimal_text(absorbed, 3) + " kvarh under the sky (controls_report.csv, pv_kw).");
        result.summary.push_back(
            controls_off ? "The circuit sets ControlMode=OFF, which the study kept: its regulators and capacitors did "
                           "not act, so the counts below say nothing of what the cloud would cost them. " +
                               controls_summary(*controls, watches, sky)
                         : controls_summary(*controls, watches, sky));
        for (std::string& warning : controls_warnings(*controls, watches))
            result.warnings.push_back(std::move(warning));
    }
    for (std::string& line : loading_summary(loading, sky, options.loading_window))
        result.summary.push_back(std::move(line));
    result.summary.insert(result.summary.end(), slices_summary.begin(), slices_summary.end());
    return result;
}

}  // namespace umbrascope::study

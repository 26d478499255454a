#include "study/study.hpp"

#include <charconv>
#include <exception>
#include <thread>
#include <fstream>

#include "core/fingerprint.hpp"
#include "core/run_state.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "output/output_file.hpp"
#include "model/sky_header.hpp"
#include "study/exports.hpp"
#include "study/plan.hpp"
#include "study/voltages.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

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
    std::ifstream in(shapes, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t at = lower(head).find("npts=");
    if (at == std::string::npos)
        return std::nullopt;
    long points = 0;
    const auto [end, error] = std::from_chars(head.data() + at + 5, head.data() + head.size(), points);
    return error == std::errc() ? std::optional<long>(points) : std::nullopt;
}

void commit_all(std::vector<OutputFile>& files)
{
    for (OutputFile& file : files)
        file.finish();
    for (OutputFile& file : files)
        file.commit();
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

WriteResult write_study(const WriteOptions& options)
{
    const fs::path folder = full_path(options.folder);
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
    if (!fs::is_regular_file(options.shapes, error))
        throw StudyError("no loadshapes at " + options.shapes.string() + ": make them with umbrascope-clouds --force "
                         "--loadshapes " + options.shapes.string() + " ... " + options.folder.string());
    const Sky sky = read_sky(folder);
    const Drawn drawn = read_drawn(folder);
    if (const std::optional<std::string> other = sun_table_mismatch(folder))
        throw StudyError(*other);
    // The loadshapes name the sky they were made with.
    if (const std::optional<std::string> made = shape_fingerprint(options.shapes); made && *made != sky.fingerprint)
        throw StudyError(options.shapes.string() + " was made with another sky than " +
                         (folder / sun_table_file_name).string() +
                         ": make both again at once, umbrascope-clouds --force --loadshapes " + options.shapes.string() +
                         " ... " + options.folder.string());
    if (const std::optional<long> points = shape_points(options.shapes); points && *points != sky.rows)
        throw StudyError(options.shapes.string() + " holds loadshapes of " + std::to_string(*points) +
                         " points, while the sun table has " + std::to_string(sky.rows) +
                         " rows: make them again with the sky, umbrascope-clouds --force --loadshapes " +
                         options.shapes.string() + " ...");
    const std::vector<StandIn> stand_ins = read_stand_ins(folder);
    import::Circuit circuit;
    try {
        import::DiskFiles files;
        circuit = import::read_circuit(record.entry, files);
    } catch (const import::ImportError& failure) {
        throw StudyError(failure.what());
    }
    const Plan plan = plan_monitors(circuit, drawn, stand_ins);
    if (plan.monitors.empty())
        throw StudyError("no element in service of " + record.entry.string() + " reaches a bus of " +
                         (folder / "cloud_bus_coords_connections.txt").string() + ": import the circuit again");

    WriteResult result;
    result.script = folder / script_name;
    result.map = folder / map_name;
    result.results = folder / results_name;
    ScriptFacts facts{record.entry, record.circuit,  full_path(options.shapes), folder, result.results,
                      sky.rows,     sky.interval,    sky.fingerprint};
    const std::string script = script_text(facts, plan);
    const std::string map = map_text(plan);
    fs::create_directories(result.results, error);
    if (error)
        throw WriteError("cannot make the results folder " + result.results.string() + ": " + error.message());
    std::vector<OutputFile> files;
    files.emplace_back(result.script);
    files.back().write(script);
    files.emplace_back(result.map);
    files.back().write(map);
    commit_all(files);
    result.monitors = static_cast<int>(plan.monitors.size());
    result.drawn = plan.drawn;
    result.customers = plan.customers;
    result.nodes = plan.nodes;
    result.rows = sky.rows;
    result.interval = sky.interval;
    result.unseen = plan.unseen;
    result.other_case = circuit.other_case;
    for (const import::Site& site : circuit.displays)
        result.displays.push_back(site.text());
    return result;
}

ReadResult read_study(const ReadOptions& options)
{
    const fs::path& folder = options.folder;
    const Sky sky = read_sky(folder);
    const Drawn drawn = read_drawn(folder);
    if (const std::optional<std::string> other = sun_table_mismatch(folder))
        throw StudyError(*other);
    std::optional<CircuitRecord> record;
    std::error_code missing;
    if (fs::exists(folder / "feeder_circuit.txt", missing))
        record = read_circuit_record(folder);
    ReadResult result;
    VoltageTables tables;
    std::string from;
    std::string base_low, base_high;
    if (options.table) {
        FromTable read = tables_from_wide(*options.table, drawn, sky);
        if (read.columns == 0)
            throw StudyError(options.table->string() + ": no column names a bus of " +
                             (folder / "cloud_bus_coords_connections.txt").string() +
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
        // A study written for another sky has monitors of another run.
        const std::string script = head_of(folder / script_name);
        if (const std::optional<std::string> made = named_fingerprint(script); made && *made != sky.fingerprint)
            throw StudyError((folder / script_name).string() + " was written for another sky than " +
                             (folder / sun_table_file_name).string() +
                             " holds now: write the study again (umbrascope-study write), run it in OpenDSS, then read it");
        const std::vector<Monitor> monitors = read_map(folder / map_name);
        // Only the exports of this folder's circuit, where its record names it: a results folder may
        // still hold those of a circuit imported here before.
        const ResultsFolder results(options.results.value_or(folder / results_name),
                                    record && !options.results ? record->circuit : std::string());
        FromMonitors read = tables_from_monitors(results, monitors, drawn, sky);
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
        tables = std::move(read.tables);
        from = "the OpenDSS monitors in " + results.folder().string() +
               (read.circuit.empty() ? std::string() : " (circuit " + read.circuit + ")") + ", for the sky fingerprint " +
               sky.fingerprint;
        const std::string base = "Per unit on each bus's line-to-neutral base, BasekV / sqrt(3) of " + read.voltages_file;
        const std::string of = " of the phase nodes 1, 2 and 3 of the drawn bus and of the customers' buses it stands for";
        base_low = base + "; the lowest" + of;
        base_high = base + "; the highest" + of;
    }

    // Distances along the drawn network from the source's drawn bus.
    std::optional<std::string> source = options.source;
    if (!source && record && !record->source_drawn_bus.empty())
        source = record->source_drawn_bus;
    std::vector<double> distance(drawn.names.size(), -1);
    if (source) {
        const std::optional<int> at = drawn.find(*source);
        if (!at)
            throw StudyError("--source " + *source + ": no bus of that name in " +
                             (folder / "cloud_bus_coords_connections.txt").string());
        distance = distances_from(drawn, *at);
    } else {
        result.warnings.push_back("the distances in " + std::string(report_name) +
                                  " are left empty: the folder does not record the circuit's source; give --source BUS");
    }
    const std::string units = options.units.value_or(sky.units);
    const std::optional<double> metres = metres_of(units);
    if (metres)
        for (double& d : distance)
            if (d >= 0)
                d = d * *metres / 1000;

    // The two tables are written side by side, a core each: they are most of the time a read takes.
    std::vector<OutputFile> files;
    files.reserve(3);
    for (const std::string_view name : {lowest_table_name, highest_table_name, report_name}) {
        files.emplace_back(folder / name);
        result.written.push_back(folder / name);
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
        files[2].write(report_text(tables, drawn, sky, distance, metres.has_value()));
    } catch (...) {
        highest.join();
        throw;
    }
    highest.join();
    if (failure)
        std::rethrow_exception(failure);
    commit_all(files);
    result.summary = summary(tables, drawn, sky);
    return result;
}

}  // namespace umbrascope::study

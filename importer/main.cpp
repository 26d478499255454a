// umbrascope-import: makes Umbrascope's network file from an OpenDSS circuit or from two tables.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/command_line.hpp"
#include "core/words.hpp"
#include "core/run_state.hpp"
#include "import/elements.hpp"
#include "import/network.hpp"
#include "model/study_files.hpp"
#include "output/output_file.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::import;
namespace fs = std::filesystem;

constexpr const char* usage_text = R"(Usage: umbrascope-import [OPTION]... CIRCUIT.dss FOLDER
       umbrascope-import [OPTION]... --buses BUSES.csv --branches BRANCHES.csv FOLDER

Makes Umbrascope's network file, FOLDER/cloud_bus_coords_connections.txt, from an OpenDSS circuit
or from two tables, and beside it FOLDER/feeder_elements.csv, which names the drawn bus standing
for each load, PV system, generator and storage element of the circuit, and FOLDER/feeder_circuit.txt,
which records the circuit's entry file, its name and its source bus for umbrascope-study. FOLDER is created if
missing; the files are written whole or not at all. A FOLDER that holds a sun table or a cloud
track already is refused, since they were made for the network there: give --force to replace
the network anyway, or import into a new folder.

From an OpenDSS circuit: give the file you would give OpenDSS. Redirect and Compile are followed
(relative to the file that names them, file names in any letter case), and every element in
service that names two or more buses joins them (bus1= and bus2=, buses=[a b], a transformer's
bus= per winding); node suffixes such as 632.1.2.3 are dropped. An element out of service joins
nothing: enabled=no (or false, or 0), Open CLASS.NAME and Disable CLASS.NAME take it out, Close
and Enable put it back, the last word in the script's order holding; so open tie switches stay
open. The buses are those of the coordinate file: the one given with --coords, or else the one
the circuit's last Buscoords or LatLongCoords command names ("name, x, y" lines; LatLongCoords
gives latitude and longitude, which become metres east and north of the feeder's south-west
corner). Two buses with coordinates are connected when the circuit joins them directly or through
buses without coordinates.

feeder_elements.csv has the header "element,bus,drawn_bus" and a line for each Load, PVSystem,
Generator and Storage element in service, in the order the circuit defines them: its name as
spelt after New, its bus1 (lower case, without node suffix) and the drawn bus that stands for it:
its own bus if drawn, else the drawn bus nearest by hops through elements in service, walking only
through buses that are not drawn (the earlier in the coordinate file on a tie); empty if none.
umbrascope-clouds reads it when it writes loadshapes, to give each PV system the sunlight of
its drawn bus.

From two tables: BUSES.csv holds "name,x,y" lines and BRANCHES.csv "from,to" lines by bus name,
each with an optional header line. A branch may pass through names without coordinates.

Options:
  --coords FILE     the circuit's bus coordinates ("name, x, y" lines)
  --lonlat          the coordinates are degrees, longitude first (x is the longitude): made metres
                    east and north of the south-west corner, as LatLongCoords does
  --latlon          the coordinates are degrees, latitude first, as LatLongCoords has them
  --buses FILE      the bus table of the two-table form
  --branches FILE   the branch table of the two-table form
  --force           replace the network in a FOLDER that holds a sun table or a cloud track
  --version         show the version and exit
  --help            show this text and exit

Then make a sun table and a cloud track with umbrascope-clouds FOLDER.
Exit status: 0 when the files were written, 2 for a wrong command line or input that cannot be
imported (one line on standard error names the file and line); nothing is written then.
)";

constexpr int classic_buses = 25;
constexpr int classic_connections = 100;

std::string read_whole(SourceFiles& files, const fs::path& path, const char* what)
{
    std::string why;
    std::optional<std::string> bytes = files.read(path, why);
    if (!bytes)
        throw ImportError(std::string("cannot read the ") + what + " " + path.string() + ": " + why);
    return std::move(*bytes);
}

struct Imported {
    Network network;
    Circuit circuit;
    CoordinateTable facts;  // the coordinate table's counts, without its buses
    bool branch_table = false;
    bool degrees = false;         // the coordinates were degrees, made metres
    DegreesFit look_like_degrees;    // how the coordinates as they stand look like degrees
    std::vector<std::string> outlying;  // buses far from all the others: "B7 at (7e+30, 0)"
    std::string coordinates;      // the coordinate file, for messages
    std::string origin;
};

// Buses that lie a thousand times the feeder's spread from the middle of the others: a slip in a
// coordinate (7e30 for 7.30) stretches the picture until the feeder is a dot.
std::vector<std::string> outlying_buses(const CoordinateTable& table)
{
    std::vector<std::string> out;
    const std::size_t n = table.buses.size();
    if (n < 3)
        return out;
    std::vector<double> xs, ys;
    for (const Bus& bus : table.buses) {
        xs.push_back(bus.x);
        ys.push_back(bus.y);
    }
    std::sort(xs.begin(), xs.end());
    std::sort(ys.begin(), ys.end());
    const auto at = [&](const std::vector<double>& v, double part) { return v[static_cast<std::size_t>(part * static_cast<double>(n - 1))]; };
    const double spread = std::max({at(xs, 0.9) - at(xs, 0.1), at(ys, 0.9) - at(ys, 0.1), 1.0});
    const double mid_x = at(xs, 0.5), mid_y = at(ys, 0.5);
    for (const Bus& bus : table.buses)
        if (std::fabs(bus.x - mid_x) > 1000 * spread || std::fabs(bus.y - mid_y) > 1000 * spread) {
            char text[96];
            std::snprintf(text, sizeof text, " at (%g, %g)", bus.x, bus.y);
            out.push_back(bus.name + text);
        }
    return out;
}

// The coordinates, with a note of whether they look like degrees when they were not read as such.
CoordinateTable coordinates_of(std::string_view text, const std::string& file, Degrees degrees, Imported& into,
                               bool bus_table)
{
    CoordinateTable table = bus_table ? read_bus_table(text, file, degrees) : read_coordinates(text, file, degrees);
    into.degrees = degrees != Degrees::none;
    if (!into.degrees)
        into.look_like_degrees = look_like_degrees(table);
    into.outlying = outlying_buses(table);
    into.coordinates = file;
    return table;
}

Imported from_circuit(const fs::path& circuit_file, const std::optional<fs::path>& coords, std::optional<Degrees> degrees)
{
    DiskFiles files;
    std::error_code error;
    if (fs::is_directory(circuit_file, error))
        throw ImportError(circuit_file.string() + " is a folder: give the circuit's entry file in it, the one you "
                                                  "would give OpenDSS (often Master.dss or Run_....dss)");
    if (!fs::is_regular_file(circuit_file, error))
        throw ImportError(circuit_file.string() + ": no such file");
    Imported result;
    result.circuit = read_circuit(circuit_file, files);
    CoordinateTable table;
    if (coords) {
        table = coordinates_of(read_whole(files, *coords, "coordinate file"), coords->string(),
                               degrees.value_or(Degrees::none), result, false);
    } else {
        if (!result.circuit.coordinates)
            throw ImportError(circuit_file.string() + ": no coordinates found: the circuit has no Buscoords or "
                                                      "LatLongCoords command; give its coordinate file with --coords FILE");
        const CoordinateCommand& command = *result.circuit.coordinates;
        const std::optional<fs::path> path = files.find(command.from, command.name);
        if (!path)
            throw ImportError(command.site.text() + ": the coordinate file " + command.name + " is not in " +
                              (command.from.empty() ? std::string(".") : command.from.string()) + " (in any letter case)");
        const Degrees named = command.latlong ? Degrees::latitude_first : Degrees::none;
        table = coordinates_of(read_whole(files, *path, "coordinate file"), path->string(), degrees.value_or(named),
                               result, false);
    }
    result.facts = CoordinateTable{{}, table.repeated, table.first_repeated, table.skipped, table.first_skipped};
    result.network = join_network(std::move(table), result.circuit);
    result.origin = circuit_file.filename().string();
    return result;
}

Imported from_tables(const fs::path& buses, const fs::path& branches, std::optional<Degrees> degrees)
{
    DiskFiles files;
    Imported result;
    CoordinateTable table = coordinates_of(read_whole(files, buses, "bus table"), buses.string(),
                                           degrees.value_or(Degrees::none), result, true);
    std::vector<std::string> known;
    known.reserve(table.buses.size());
    for (const Bus& bus : table.buses)
        known.push_back(bus.key);
    result.circuit = read_branch_table(read_whole(files, branches, "branch table"), branches.string(), known);
    result.facts = CoordinateTable{{}, table.repeated, table.first_repeated, table.skipped, table.first_skipped};
    result.branch_table = true;
    result.network = join_network(std::move(table), result.circuit);
    result.origin = buses.filename().string() + " and " + branches.filename().string();
    return result;
}

// The files of a scenario made for the network in `folder`, which a new network would not fit.
std::vector<std::string> scenario_files(const fs::path& folder)
{
    std::vector<std::string> found;
    std::error_code error;
    for (const std::string_view name : {sun_table_file_name, track_file_name})
        if (fs::exists(folder / name, error))
            found.emplace_back(name);
    return found;
}

}  // namespace

int main(int argc, char* argv[])
{
    CommandLine line("umbrascope-import", argc, argv, usage_text);
    std::optional<fs::path> coords, buses, branches;
    std::optional<Degrees> degrees;
    bool force = false;
    std::vector<fs::path> operands;
    while (line.next()) {
        if (!line.is_option()) {
            operands.emplace_back(line.arg());
        } else if (line.arg() == "--coords") {
            coords = line.value();
        } else if (line.arg() == "--buses") {
            buses = line.value();
        } else if (line.arg() == "--branches") {
            branches = line.value();
        } else if (line.arg() == "--lonlat" || line.arg() == "--latlon") {
            line.flag();
            const Degrees given = line.arg() == "--lonlat" ? Degrees::longitude_first : Degrees::latitude_first;
            if (degrees && *degrees != given)
                line.usage_error("give --lonlat or --latlon, not both");
            degrees = given;
        } else if (line.arg() == "--force") {
            line.flag();
            force = true;
        } else {
            line.unknown_option();
        }
    }
    const bool tables = buses || branches;
    if (tables && (!buses || !branches))
        line.usage_error("the two-table form needs both --buses and --branches");
    if (tables && coords)
        line.usage_error("--coords belongs to a circuit, not to the two-table form");
    if (operands.size() != (tables ? 1U : 2U))
        line.usage_error((tables ? std::string("give the output FOLDER after the two tables")
                                 : std::string("give an OpenDSS circuit file and the output FOLDER")) +
                         ", not " + std::to_string(operands.size()) + (operands.size() == 1 ? " name" : " names"));

    const fs::path folder = operands.back();
    const std::vector<std::string> made_for_old = scenario_files(folder);
    if (!made_for_old.empty() && !force)
        line.fail(folder.string() + " holds " + joined_names(made_for_old) + ", made for the network there: give --force to " +
                  "replace the network anyway (and make them again with umbrascope-clouds --force), or import into a " +
                  "new folder");

    Imported imported;
    std::string text;
    std::string elements;
    std::string record;
    std::string distances;
    std::vector<std::string> meshed;  // drawn buses reached by more than one path along the lines
    try {
        imported = tables ? from_tables(*buses, *branches, degrees) : from_circuit(operands.front(), coords, degrees);
        text = network_file_text(imported.network, imported.origin);
        elements = elements_file_text(stand_ins(imported.circuit, imported.network));
        // A study compiles the circuit from wherever it is run: the entry file's own path, through
        // any symbolic link, so that its Redirects resolve from the circuit's folder.
        std::error_code error;
        const fs::path entry = tables ? fs::path() : fs::canonical(operands.front(), error);
        CircuitRecord made;
        if (tables)
            made.tables = imported.origin;
        else
            made = circuit_record(imported.circuit, imported.network,
                                  error ? fs::absolute(operands.front()).lexically_normal() : entry);
        record = circuit_record_text(made);
        std::vector<DrawnDistance> along;
        if (tables)
            for (const Bus& bus : imported.network.buses)
                along.push_back({bus.name, std::nullopt, false});
        else
            along = distances_along_lines(imported.circuit, imported.network);
        for (const DrawnDistance& d : along)
            if (d.meshed)
                meshed.push_back(d.bus);
        distances = distances_file_text(along);
    } catch (const ImportError& error) {
        line.fail(error.what());
    }

    const fs::path file = folder / network_file_name;
    // A scenario made for the network there still fits when the network is the same.
    bool network_changed = true;
    {
        std::ifstream before(file, std::ios::binary);
        const std::string old_text{std::istreambuf_iterator<char>(before), std::istreambuf_iterator<char>()};
        // The same buses and connections, whatever file they were imported from this time (the
        // first line names it).
        const auto body = [](const std::string& t) { return std::string_view(t).substr(std::min(t.find('\n'), t.size())); };
        network_changed = !before || body(old_text) != body(text);
    }
    try {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error)
            throw WriteError("cannot make the folder " + folder.string() + ": " + error.message());
        // The files are made in full before any takes its name.
        OutputFile network(file);
        network.write(text);
        OutputFile map(folder / elements_file_name);
        map.write(elements);
        OutputFile circuit(folder / circuit_record_name);
        circuit.write(record);
        OutputFile along(folder / distances_file_name);
        along.write(distances);
        for (OutputFile* made : {&network, &map, &circuit, &along})
            made->finish();
        for (OutputFile* made : {&network, &map, &circuit, &along})
            made->commit();
    } catch (const WriteError& error) {
        line.fail(error.what());
    }

    const Network& network = imported.network;
    std::printf("Wrote %s: %s\n", file.string().c_str(), summary(network, imported.circuit, imported.facts, imported.branch_table).c_str());
    if (imported.degrees)
        std::printf("The coordinates of %s were degrees: the network is in metres east and north of the feeder's "
                    "south-west corner (umbrascope-clouds --units m).\n",
                    imported.coordinates.c_str());
    if (!tables)
        std::printf("Wrote %s: %zu loads, PV systems, generators and storage elements with the drawn bus for each.\n",
                    (folder / elements_file_name).string().c_str(), imported.circuit.power_elements.size());
    if (!meshed.empty()) {
        const std::string names = names_and_more(meshed, 6);
        std::fprintf(stderr,
                     "umbrascope-import: warning: %zu drawn %s reached from the source by more than one path along the "
                     "lines (a meshed part of the feeder): %s; %s gives the shortest, which can differ from the "
                     "engine's distance along a tree of its own, and marks %s (paths: more than one)\n",
                     meshed.size(), meshed.size() == 1 ? "bus is" : "buses are", names.c_str(),
                     std::string(distances_file_name).c_str(), meshed.size() == 1 ? "it" : "them");
    }
    if (!imported.outlying.empty()) {
        const std::string names = names_and_more(imported.outlying, 4);
        std::fprintf(stderr,
                     "umbrascope-import: warning: %zu %s of %s %s more than a thousand times the feeder's spread from "
                     "the others, which shrinks the rest of the picture to a dot: %s; check %s\n",
                     imported.outlying.size(), imported.outlying.size() == 1 ? "bus" : "buses",
                     imported.coordinates.c_str(), imported.outlying.size() == 1 ? "lies" : "lie", names.c_str(),
                     imported.outlying.size() == 1 ? "its coordinate" : "their coordinates");
    }
    if (const DegreesFit fit = imported.look_like_degrees; fit.longitude_first && fit.latitude_first)
        std::fprintf(stderr,
                     "umbrascope-import: warning: the coordinates of %s look like longitude and latitude (every x "
                     "and y within 90, all within one unit): give --lonlat if x is the longitude, --latlon if it is "
                     "the latitude, to have them in metres\n",
                     imported.coordinates.c_str());
    else if (fit.longitude_first)
        std::fprintf(stderr,
                     "umbrascope-import: warning: the coordinates of %s look like longitude and latitude (every x "
                     "within 180, every y within 90, all within one unit): give --lonlat, x being the longitude, to "
                     "have them in metres\n",
                     imported.coordinates.c_str());
    else if (fit.latitude_first)
        std::fprintf(stderr,
                     "umbrascope-import: warning: the coordinates of %s look like latitude and longitude (every x "
                     "within 90, every y within 180, all within one unit): give --latlon, x being the latitude, to "
                     "have them in metres\n",
                     imported.coordinates.c_str());
    if (const std::vector<std::string> study = study_files(folder); !study.empty() && network_changed)
        std::fprintf(stderr,
                     "umbrascope-import: warning: %s in %s %s of the network it held before: write the study again "
                     "(umbrascope-study write %s --loadshapes SHAPES), run it in OpenDSS and read it; the voltages "
                     "there are not of this network\n",
                     joined_names(study).c_str(), folder.string().c_str(), study.size() == 1 ? "is" : "are",
                     folder.string().c_str());
    if (!made_for_old.empty() && network_changed)
        std::fprintf(stderr,
                     "umbrascope-import: warning: %s in %s %s made for the network it held before: make %s again "
                     "with umbrascope-clouds --force %s\n",
                     joined_names(made_for_old).c_str(), folder.string().c_str(), made_for_old.size() == 1 ? "was" : "were",
                     made_for_old.size() == 1 ? "it" : "them", folder.string().c_str());
    const bool large = network.buses.size() > static_cast<std::size_t>(classic_buses) ||
                       network.connections.size() > static_cast<std::size_t>(classic_connections);
    if (!made_for_old.empty() && !network_changed)
        std::printf("The network is the same as before: %s still %s it.\n", joined_names(made_for_old).c_str(),
                    made_for_old.size() == 1 ? "fits" : "fit");
    else
        std::printf("Next: umbrascope-clouds %s%s makes a sun table and a cloud track for it.\n",
                    made_for_old.empty() ? "" : "--force ", folder.string().c_str());
    if (large)
        std::printf("It is past the %d buses and %d connections Umbrascope takes by default: view it with "
                    "umbrascope --large %s\n",
                    classic_buses, classic_connections, folder.string().c_str());
    return 0;
}

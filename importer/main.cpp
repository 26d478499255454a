// umbrascope-import: makes Umbrascope's network file from an OpenDSS circuit or from two tables.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "cli/command_line.hpp"
#include "core/run_state.hpp"
#include "import/network.hpp"
#include "output/output_file.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::import;
namespace fs = std::filesystem;

constexpr const char* usage_text = R"(Usage: umbrascope-import [--coords FILE] CIRCUIT.dss FOLDER
       umbrascope-import --buses BUSES.csv --branches BRANCHES.csv FOLDER

Makes Umbrascope's network file, FOLDER/cloud_bus_coords_connections.txt, from an OpenDSS circuit
or from two tables. FOLDER is created if missing; the file is written whole or not at all.

From an OpenDSS circuit: give the file you would give OpenDSS. Redirect and Compile are followed
(relative to the file that names them, file names in any letter case), and every element that
names two or more buses joins them (bus1= and bus2=, buses=[a b], a transformer's bus= per
winding); node suffixes such as 632.1.2.3 are dropped. The buses are those of the coordinate file:
the one given with --coords, or else the one the circuit's last Buscoords or LatLongCoords command
names ("name, x, y" lines; latitude and longitude become metres east and north of the feeder's
south-west corner). Two buses with coordinates are connected when the circuit joins them directly
or through buses without coordinates.

From two tables: BUSES.csv holds "name,x,y" lines and BRANCHES.csv "from,to" lines by bus name,
each with an optional header line. A branch may pass through names without coordinates.

Options:
  --coords FILE     the circuit's bus coordinates ("name, x, y" lines)
  --buses FILE      the bus table of the two-table form
  --branches FILE   the branch table of the two-table form
  --version         show the version and exit
  --help            show this text and exit

Then make a sun table and a cloud track with umbrascope-clouds FOLDER.
Exit status: 0 when the file was written, 2 for a wrong command line or input that cannot be
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
    std::string origin;
};

Imported from_circuit(const fs::path& circuit_file, const std::optional<fs::path>& coords)
{
    DiskFiles files;
    std::error_code error;
    if (!fs::is_regular_file(circuit_file, error))
        throw ImportError(circuit_file.string() + ": no such file");
    Imported result;
    result.circuit = read_circuit(circuit_file, files);
    CoordinateTable table;
    if (coords) {
        table = read_coordinates(read_whole(files, *coords, "coordinate file"), coords->string(), false);
    } else {
        if (!result.circuit.coordinates)
            throw ImportError(circuit_file.string() + ": no coordinates found: the circuit has no Buscoords or "
                                                      "LatLongCoords command; give its coordinate file with --coords FILE");
        const CoordinateCommand& command = *result.circuit.coordinates;
        const std::optional<fs::path> path = files.find(command.from, command.name);
        if (!path)
            throw ImportError(command.site.text() + ": the coordinate file " + command.name + " is not in " +
                              (command.from.empty() ? std::string(".") : command.from.string()) + " (in any letter case)");
        table = read_coordinates(read_whole(files, *path, "coordinate file"), path->string(), command.latlong);
    }
    result.facts = CoordinateTable{{}, table.repeated, table.first_repeated, table.skipped, table.first_skipped};
    result.network = join_network(std::move(table), result.circuit);
    result.origin = circuit_file.filename().string();
    return result;
}

Imported from_tables(const fs::path& buses, const fs::path& branches)
{
    DiskFiles files;
    Imported result;
    CoordinateTable table = read_bus_table(read_whole(files, buses, "bus table"), buses.string());
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

}  // namespace

int main(int argc, char* argv[])
{
    CommandLine line("umbrascope-import", argc, argv, usage_text);
    std::optional<fs::path> coords, buses, branches;
    std::vector<fs::path> operands;
    while (line.next()) {
        if (!line.is_option())
            operands.emplace_back(line.arg());
        else if (line.arg() == "--coords")
            coords = line.value();
        else if (line.arg() == "--buses")
            buses = line.value();
        else if (line.arg() == "--branches")
            branches = line.value();
        else
            line.usage_error("unknown option '" + line.arg() + "'");
    }
    const bool tables = buses || branches;
    if (tables && (!buses || !branches))
        line.usage_error("the two-table form needs both --buses and --branches");
    if (tables && coords)
        line.usage_error("--coords belongs to a circuit, not to the two-table form");
    if (operands.size() != (tables ? 1U : 2U))
        line.usage_error(tables ? "give the output FOLDER after the two tables"
                                : "give an OpenDSS circuit file and the output FOLDER");

    const fs::path folder = operands.back();
    Imported imported;
    std::string text;
    try {
        imported = tables ? from_tables(*buses, *branches) : from_circuit(operands.front(), coords);
        text = network_file_text(imported.network, imported.origin);
    } catch (const ImportError& error) {
        line.fail(error.what());
    }

    const fs::path file = folder / network_file_name;
    try {
        std::error_code error;
        fs::create_directories(folder, error);
        if (error)
            throw WriteError("cannot make the folder " + folder.string() + ": " + error.message());
        write_file(file, text);
    } catch (const WriteError& error) {
        line.fail(error.what());
    }

    const Network& network = imported.network;
    std::printf("Wrote %s: %s\n", file.string().c_str(), summary(network, imported.circuit, imported.facts, imported.branch_table).c_str());
    const bool large = network.buses.size() > static_cast<std::size_t>(classic_buses) ||
                       network.connections.size() > static_cast<std::size_t>(classic_connections);
    std::printf("Next: umbrascope-clouds %s makes a sun table and a cloud track for it.\n", folder.string().c_str());
    if (large)
        std::printf("It is past the %d buses and %d connections Umbrascope takes by default: view it with "
                    "umbrascope --large %s\n",
                    classic_buses, classic_connections, folder.string().c_str());
    return 0;
}

// umbrascope-clouds: a cloud scenario for any network: a cloud track and the sun table under it.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "cli/command_line.hpp"
#include "core/run_state.hpp"
#include "output/output_file.hpp"
#include "scenario/drift.hpp"
#include "scenario/network_buses.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::scenario;
namespace fs = std::filesystem;

constexpr const char* usage_text = R"(Usage: umbrascope-clouds [OPTION]... FOLDER

Makes a cloud scenario for the network in FOLDER/cloud_bus_coords_connections.txt: clouds that
enter on the upwind side at random places and drift across the network with the wind, written as
FOLDER/cloud_centers_plot.txt, and the sun intensity of every bus under them, row by row, as
FOLDER/cloud_sun_intensity_table.txt. Existing files are only replaced with --force.

The sun under a cloud whose centre is at distance d, with radius 1 (r1) and radius 2 (r2):
0.25 + 0.25 d / r1 inside r1, 0.5 + 0.45 (d - r1) / (r2 - r1) out to r2, and 1 beyond. A bus
takes the least value over the clouds of its row, times the row's clear-sky factor, to three
decimals.

Options (a value follows a space or an equals sign: --clouds 5 or --clouds=5):
  --clouds N         clouds (default 3)
  --steps N          rows of the sun table, one cloud step each (default 120; with --from-track,
                     the track's last step)
  --interval S       seconds a row; the time column is (row - 1) x S (default 10)
  --wind SPEED,FROM  wind speed in network units a second and the compass direction it blows
                     from in degrees (default: from the west, 270, at the speed that takes a
                     cloud across the network in half the run)
  --core R1          radius 1, the dense core (default 8 % of the network's larger span)
  --edge R2          radius 2, the thin edge (default 15 %)
  --side L           side of the turned square drawn for a cloud (default 16 %)
  --angle DEG        turn of the square (default 20)
  --threshold T      sun intensity below which a bus is drawn shaded (default 0.6)
  --seed S           the random draw; the same seed gives the same files (default 1)
  --from-track FILE  take the clouds of an existing track instead; writes only the sun table
  --clear-sky FILE   one factor a row, one number a line (such as measured irradiance divided by
                     its clear-sky value); each row's intensities are multiplied by it
  --loadshapes FILE  also write one OpenDSS loadshape a bus to FILE, its multipliers the bus's
                     intensities, for a time-series power flow under the same clouds
  --force            replace the sun table and track already in FOLDER
  --version          show the version and exit
  --help             show this text and exit

Exit status: 0 when the files were written, 2 for a wrong command line or input that cannot be
used (one line on standard error says why); nothing is written then.
)";

constexpr int classic_rows = 2000;

struct Options {
    DriftOptions drift;
    bool steps_given = false;
    std::vector<std::string> shape_options;  // given options that only a drawn scenario takes
    std::optional<fs::path> from_track;
    std::optional<fs::path> clear_sky;
    std::optional<fs::path> loadshapes;
    bool force = false;
    fs::path folder;
};

Options parse(CommandLine& line)
{
    Options options;
    std::optional<fs::path> folder;
    constexpr double far = 1e30;
    while (line.next()) {
        const std::string arg = line.arg();
        if (!line.is_option()) {
            if (folder)
                line.usage_error("give one FOLDER, not '" + folder->string() + "' and '" + arg + "'");
            folder = arg;
            continue;
        }
        const bool shape = arg == "--clouds" || arg == "--wind" || arg == "--core" || arg == "--edge" ||
                           arg == "--side" || arg == "--angle" || arg == "--threshold" || arg == "--seed";
        if (shape)
            options.shape_options.push_back(arg);
        if (arg == "--clouds") {
            options.drift.clouds = static_cast<int>(line.whole_number(0, 1000));
        } else if (arg == "--steps") {
            options.drift.steps = static_cast<int>(line.whole_number(1, 32767));
            options.steps_given = true;
        } else if (arg == "--interval") {
            options.drift.interval = line.number(1e-3, 86400);
        } else if (arg == "--wind") {
            const std::string text = line.value();
            const std::size_t comma = text.find(',');
            char* end = nullptr;
            const double speed = std::strtod(text.c_str(), &end);
            const double from = comma == std::string::npos ? -1 : std::strtod(text.c_str() + comma + 1, &end);
            if (comma == std::string::npos || *end != '\0' || end == text.c_str() + comma + 1 || !(speed >= 0) ||
                speed > far || !(from >= 0 && from <= 360))
                line.usage_error("--wind takes SPEED,FROM: a speed of 0 or more and the compass degrees the wind "
                                 "blows from, 0 to 360 (270 is from the west), not '" + text + "'");
            options.drift.speed = speed;
            options.drift.from = from;
        } else if (arg == "--core") {
            options.drift.core = line.number(1e-30, far);
        } else if (arg == "--edge") {
            options.drift.edge = line.number(1e-30, far);
        } else if (arg == "--side") {
            options.drift.side = line.number(0, far);
        } else if (arg == "--angle") {
            options.drift.angle = line.number(-360, 360);
        } else if (arg == "--threshold") {
            options.drift.threshold = line.number(0, 1);
        } else if (arg == "--seed") {
            options.drift.seed = static_cast<std::uint64_t>(line.whole_number(0, 2147483647L));
        } else if (arg == "--from-track") {
            options.from_track = line.value();
        } else if (arg == "--clear-sky") {
            options.clear_sky = line.value();
        } else if (arg == "--loadshapes") {
            options.loadshapes = line.value();
        } else if (arg == "--force") {
            line.flag();
            options.force = true;
        } else {
            line.usage_error("unknown option '" + arg + "'");
        }
    }
    if (!folder)
        line.usage_error("give the FOLDER that holds the network file");
    if (options.from_track && !options.shape_options.empty())
        line.usage_error(options.shape_options.front() + " does not go with --from-track: the clouds come from the track");
    options.folder = *folder;
    return options;
}

std::string read_file(const fs::path& path, const char* what)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!in && !in.eof())
        throw ScenarioError(std::string("cannot read the ") + what + " " + path.string() + ": " +
                            (errno != 0 ? std::strerror(errno) : "read error"));
    return bytes;
}

}  // namespace

int main(int argc, char* argv[])
{
    CommandLine line("umbrascope-clouds", argc, argv, usage_text);
    const Options options = parse(line);
    const fs::path sun_path = options.folder / sun_table_file_name;
    const fs::path track_path = options.folder / track_file_name;

    std::string sun_text, track_out, loadshapes;
    SunTable table;
    int network_connections = 0;
    std::string summary;
    try {
        std::error_code error;
        if (!options.force)
            for (const fs::path& path : {sun_path, track_path})
                if ((path == sun_path || !options.from_track) && fs::exists(path, error))
                    throw ScenarioError(path.string() + " is there already; give --force to replace it");
        const NetworkBuses network = read_network_buses(options.folder);
        network_connections = network.connections;
        if (network.places.empty())
            throw ScenarioError((options.folder / network_file_name).string() + " holds no buses");

        Track track;
        SunHeader header;
        header.interval = options.drift.interval;
        header.names = network.names;
        if (options.from_track) {
            track = read_track(read_file(*options.from_track, "track file"), options.from_track->string());
            header.made_from = "the clouds of " + options.from_track->filename().string();
            summary = std::to_string(track.records.size()) + " cloud records of " + options.from_track->string();
        } else {
            const Drift drift = drifting_clouds(network.places, options.drift);
            track_out = track_text(drift.track, drift.about, drift.decimals);
            track = read_track(track_out, track_path.string());  // the sun follows the track as written
            header.made_from = drift.about;
            summary = drift.about;
        }
        const int rows = options.from_track && !options.steps_given ? track.last_step() : options.drift.steps;
        if (rows < 1)
            throw ScenarioError(options.from_track->string() + ": no cloud records, so no rows; give --steps N");

        std::vector<double> factors;
        if (options.clear_sky) {
            factors = read_clear_sky(read_file(*options.clear_sky, "clear-sky file"), options.clear_sky->string());
            if (factors.size() < static_cast<std::size_t>(rows))
                throw ScenarioError(options.clear_sky->string() + " has " + std::to_string(factors.size()) +
                                    " factors for " + std::to_string(rows) + " rows");
            // A clear sky is 1; a bright edge of a cloud gives a little more, irradiance in W/m2 far more.
            const double largest = *std::max_element(factors.begin(), factors.begin() + rows);
            if (largest > 2)
                throw ScenarioError(options.clear_sky->string() + " has factors up to " + std::to_string(largest) +
                                    ", while 1 is a clear sky: divide measured irradiance by its clear-sky value first");
            header.clear_sky = options.clear_sky->filename().string();
        }
        table = sun_under(network.places, track, rows, options.clear_sky ? &factors : nullptr);
        sun_text = sun_table_text(table, header);
        if (options.loadshapes)
            loadshapes = loadshapes_text(table, header);


    } catch (const ScenarioError& error) {
        line.fail(error.what());
    }

    // Every file is made in full before any takes its name.
    try {
        OutputFile sun(sun_path);
        sun.write(sun_text);
        std::optional<OutputFile> track;
        if (!track_out.empty()) {
            track.emplace(track_path);
            track->write(track_out);
        }
        std::optional<OutputFile> shapes;
        if (options.loadshapes) {
            shapes.emplace(*options.loadshapes);
            shapes->write(loadshapes);
        }
        sun.finish();
        if (track)
            track->finish();
        if (shapes)
            shapes->finish();
        sun.commit();
        if (track)
            track->commit();
        if (shapes)
            shapes->commit();
    } catch (const WriteError& error) {
        line.fail(error.what());
    }

    std::printf("Wrote %s: %d rows for %d buses, from %s\n", sun_path.string().c_str(), table.rows, table.buses,
                summary.c_str());
    if (!track_out.empty())
        std::printf("Wrote %s\n", track_path.string().c_str());
    if (options.loadshapes)
        std::printf("Wrote %s: %d loadshapes of %d points\n", options.loadshapes->string().c_str(), table.buses,
                    table.rows);
    std::error_code error;
    const bool large = table.buses > 25 || network_connections > 100 || table.rows > classic_rows;
    if (options.from_track && !fs::equivalent(*options.from_track, track_path, error)) {
        std::printf("The picture draws the clouds of %s; copy %s there to see these", track_path.string().c_str(),
                    options.from_track->string().c_str());
        std::printf(fs::exists(track_path, error) ? ".\n" : ", since the folder has no track file yet.\n");
        if (!fs::exists(track_path, error))
            return 0;
    }
    std::printf("View it with: umbrascope%s %s\n", large ? " --large" : "", options.folder.string().c_str());
    return 0;
}

// umbrascope-clouds: a cloud scenario for any network: a cloud track and the sun table under it,
// from drifting clouds, an existing track, or a measured sky carried over the feeder by the wind.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "cli/command_line.hpp"
#include "core/run_state.hpp"
#include "output/output_file.hpp"
#include "scenario/drift.hpp"
#include "scenario/network_buses.hpp"
#include "scenario/sensor.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::scenario;
namespace fs = std::filesystem;

constexpr const char* usage_text = R"(Usage: umbrascope-clouds [OPTION]... FOLDER

Makes a cloud scenario for the network in FOLDER/cloud_bus_coords_connections.txt: the sun
intensity of every bus, row by row, as FOLDER/cloud_sun_intensity_table.txt, and the clouds
drawn over it as FOLDER/cloud_centers_plot.txt. By default clouds enter on the upwind side at
random places and drift across the network with the wind; --from-track takes the clouds of an
existing track; --from-sensor spreads one measured series over the feeder. Existing files are
only replaced with --force.

The sun table is the clear-sky index: what the clouds let through, 1 in full sun (a cloud's
bright edge may give a little more). Under a cloud whose centre is at distance d, with radius 1
(r1) and radius 2 (r2): 0.25 + 0.25 d / r1 inside r1, 0.5 + 0.45 (d - r1) / (r2 - r1) out to r2,
and 1 beyond; a bus takes the least value over the clouds of its row, to three decimals.

A measured sky (--from-sensor): the series stands at the sensor and drifts with the wind as a
frozen cloud field, so a bus at b sees the shade lag = ((b - sensor) . w) x metres a unit / speed
seconds after the sensor, w = (-sin FROM, -cos FROM) being the way the wind blows (x east, y
north). Row r is at t = (r - 1) x interval; a bus takes the series linearly interpolated at
t - lag, held at its first and last samples beyond its ends, divided by --sensor-scale. By default
the rows cover the series. The track then holds the parameter line alone (its threshold, and its
radii and side for the record).

Options (a value follows a space or an equals sign: --clouds 5 or --clouds=5):
  --units U          what one network unit is: ft, m or km. Then --wind is in metres a second and
                     --core, --edge and --side are in metres (written into the track in network
                     units), and the summary tells the feeder's and the clouds' sizes in metres.
                     Without it all sizes are in network units.
  --clouds N         clouds (default 3)
  --steps N          rows of the sun table, one cloud step each, 1 to 32766 (default 120; with
                     --from-track, the track's last step; with --from-sensor, as many as the
                     series covers)
  --interval S       seconds a row; the time column is (row - 1) x S (default 10; with
                     --from-sensor, the sensor's interval)
  --wind SPEED,FROM  wind speed (network units a second, or m/s with --units) and the compass
                     direction it blows from in degrees: 0 north, 90 east, 270 west (default: from
                     the west, at the speed that takes a cloud across the network in half the run)
  --core R1          radius 1, the dense core (default 8 % of the network's larger span)
  --edge R2          radius 2, the thin edge (default 15 %)
  --side L           side of the turned square drawn for a cloud (default 16 %)
  --angle DEG        turn of the square (default 20)
  --threshold T      sun intensity below which a bus is drawn shaded (default 0.6)
  --seed S           the random draw; the same seed gives the same files (default 1)
  --from-track FILE  take the clouds of an existing track instead; writes only the sun table
  --from-sensor FILE a measured series, one value a line (of a line with commas, its last field;
                     lines that are not a number are passed over); needs --units, --wind and
                     --sensor-interval
  --sensor-interval D  seconds between the series' samples: sample k is at k x D seconds
  --sensor-at BUS    the bus where the series was measured (default: the centre of the buses)
  --sensor-scale X   divide the series by X to make it the clear-sky index (default 1), e.g. the
                     clear-sky irradiance in W/m2 of a pyranometer's series
  --clear-sky FILE   one factor a row, one number a line (such as clear-sky irradiance over the day
                     divided by its peak): the loadshapes carry the index times the factor, the
                     power a PV panel makes; the sun table stays the index. Needs --loadshapes.
  --loadshapes FILE  also write one OpenDSS loadshape a bus to FILE; when FOLDER holds the
                     feeder_elements.csv that umbrascope-import writes, FILE then gives each PV
                     system the loadshape of its drawn bus (Edit PVSystem.NAME daily= duty=), so
                     that Redirect FILE after the circuit runs a time-series power flow under the
                     same sky
  --force            replace the sun table and track already in FOLDER
  --version          show the version and exit
  --help             show this text and exit

The summary tells the largest one-row drop of the index at a single bus and in the mean over all
buses: how much the feeder's spread smooths it.
Exit status: 0 when the files were written, 2 for a wrong command line or input that cannot be
used (one line on standard error says why); nothing is written then.
)";

constexpr int classic_rows = 2000;
constexpr int runnable_rows = 32766;  // a run's last row must leave room to count one more

struct Options {
    DriftOptions drift;
    bool steps_given = false;
    bool interval_given = false;
    std::vector<std::string> shape_options;  // given options that only drawn clouds take
    std::vector<std::string> cloud_options;  // given options that only drifting clouds take
    std::optional<std::string> units;
    double metres = 1;  // a network unit, with --units
    std::optional<double> core, edge, side;  // as given
    std::optional<fs::path> from_track;
    std::optional<fs::path> from_sensor;
    std::optional<double> sensor_interval;
    std::optional<std::string> sensor_at;
    double sensor_scale = 1;
    std::vector<std::string> sensor_options;
    std::optional<fs::path> clear_sky;
    std::optional<fs::path> loadshapes;
    bool force = false;
    fs::path folder;
};

std::optional<double> number_of(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

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
        if (arg == "--clouds" || arg == "--wind" || arg == "--core" || arg == "--edge" || arg == "--side" ||
            arg == "--angle" || arg == "--threshold" || arg == "--seed")
            options.shape_options.push_back(arg);
        if (arg == "--clouds" || arg == "--angle" || arg == "--seed")
            options.cloud_options.push_back(arg);
        if (arg.rfind("--sensor-", 0) == 0)
            options.sensor_options.push_back(arg);
        if (arg == "--units") {
            std::string units = line.value();
            for (char& c : units)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (units == "ft")
                options.metres = 0.3048;
            else if (units == "m")
                options.metres = 1;
            else if (units == "km")
                options.metres = 1000;
            else
                line.usage_error("--units takes ft, m or km: what one network unit is, not '" + units + "'");
            options.units = units;
        } else if (arg == "--clouds") {
            options.drift.clouds = static_cast<int>(line.whole_number(0, 1000));
        } else if (arg == "--steps") {
            options.drift.steps = static_cast<int>(line.whole_number(1, runnable_rows));
            options.steps_given = true;
        } else if (arg == "--interval") {
            options.drift.interval = line.number(1e-3, 86400);
            options.interval_given = true;
        } else if (arg == "--wind") {
            const std::string text = line.value();
            const std::size_t comma = text.find(',');
            const std::optional<double> speed =
                comma == std::string::npos ? std::nullopt : number_of(std::string_view(text).substr(0, comma));
            const std::optional<double> from =
                comma == std::string::npos ? std::nullopt : number_of(std::string_view(text).substr(comma + 1));
            if (!speed || !from || *speed < 0 || *speed > far || *from < 0 || *from > 360)
                line.usage_error("--wind takes SPEED,FROM: two numbers, a speed of 0 or more and the compass degrees "
                                 "the wind blows from, 0 to 360 (270 is from the west), not '" + text + "'");
            options.drift.speed = *speed;
            options.drift.from = *from;
        } else if (arg == "--core") {
            options.core = line.number(1e-30, far);
        } else if (arg == "--edge") {
            options.edge = line.number(1e-30, far);
        } else if (arg == "--side") {
            options.side = line.number(0, far);
        } else if (arg == "--angle") {
            options.drift.angle = line.number(-360, 360);
        } else if (arg == "--threshold") {
            options.drift.threshold = line.number(0, 1);
        } else if (arg == "--seed") {
            options.drift.seed = static_cast<std::uint64_t>(line.whole_number(0, 2147483647L));
        } else if (arg == "--from-track") {
            options.from_track = line.value();
        } else if (arg == "--from-sensor") {
            options.from_sensor = line.value();
        } else if (arg == "--sensor-interval") {
            options.sensor_interval = line.number(1e-3, 86400);
        } else if (arg == "--sensor-at") {
            options.sensor_at = line.value();
        } else if (arg == "--sensor-scale") {
            options.sensor_scale = line.number(1e-9, far);
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
    if (options.from_track && options.from_sensor)
        line.usage_error("--from-track and --from-sensor are two skies: give one");
    if (options.from_track && !options.shape_options.empty())
        line.usage_error(options.shape_options.front() + " does not go with --from-track: the clouds come from the track");
    if (!options.from_sensor && !options.sensor_options.empty())
        line.usage_error(options.sensor_options.front() + " goes with --from-sensor FILE");
    if (options.from_sensor) {
        if (!options.cloud_options.empty())
            line.usage_error(options.cloud_options.front() + " does not go with --from-sensor: the sky comes from the sensor");
        if (!options.units || !options.drift.speed || !options.sensor_interval)
            line.usage_error(std::string("--from-sensor needs ") + (!options.units ? "--units (ft, m or km)"
                                                                   : !options.drift.speed ? "--wind SPEED,FROM in m/s"
                                                                                          : "--sensor-interval, the seconds between its samples") +
                             ": the lag of each bus comes from its distance along the wind over the wind's speed");
        if (!(*options.drift.speed > 0))
            line.usage_error("--from-sensor needs a wind above 0 m/s: a still sky never moves over the feeder");
    }
    if (options.clear_sky && !options.loadshapes)
        line.usage_error("--clear-sky gives the loadshapes the sun's course over the day (the sun table is the clear-sky "
                         "index): give --loadshapes FILE too");
    // Metres and m/s into network units.
    options.drift.metres_per_unit = options.units ? std::optional<double>(options.metres) : std::nullopt;
    if (options.units && options.drift.speed)
        *options.drift.speed /= options.metres;
    const auto in_units = [&](const std::optional<double>& given) {
        return given ? std::optional<double>(*given / (options.units ? options.metres : 1)) : std::nullopt;
    };
    options.drift.core = in_units(options.core);
    options.drift.edge = in_units(options.edge);
    options.drift.side = in_units(options.side);
    if (options.from_sensor && !options.interval_given)
        options.drift.interval = *options.sensor_interval;
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

// "%.3g"-like, without an exponent for the sizes a feeder has.
std::string figure(double value, int decimals)
{
    std::string out;
    append_decimal(out, value, decimals);
    return out;
}

// " (42 MB)" for a file of that size, nothing for a small one.
std::string megabytes(const std::string& text)
{
    return text.size() < 10'000'000 ? std::string() : " (" + std::to_string(text.size() / 1'000'000) + " MB)";
}

std::string duration(double seconds)
{
    if (seconds < 120)
        return figure(seconds, 1) + " s";
    if (seconds < 7200)
        return figure(seconds / 60, 1) + " min";
    return figure(seconds / 3600, 1) + " h";
}

// The network's larger span, and its extent along the wind blowing from `from`.
struct Extent {
    double span = 0;
    double along = 0;
    Place centre;
};

Extent extent_of(const std::vector<Place>& buses, double from)
{
    const double toward = (from + 180) * std::acos(-1.0) / 180;
    double x_min = buses[0].x, x_max = x_min, y_min = buses[0].y, y_max = y_min;
    double a_min = HUGE_VAL, a_max = -HUGE_VAL;
    for (const Place& bus : buses) {
        x_min = std::min(x_min, bus.x), x_max = std::max(x_max, bus.x);
        y_min = std::min(y_min, bus.y), y_max = std::max(y_max, bus.y);
        const double a = bus.x * std::sin(toward) + bus.y * std::cos(toward);
        a_min = std::min(a_min, a), a_max = std::max(a_max, a);
    }
    return {std::max(x_max - x_min, y_max - y_min), a_max - a_min, {(x_min + x_max) / 2, (y_min + y_max) / 2}};
}

// What the sizes are: in metres with --units, else in network units with a word on --units.
std::string sizes_text(const Options& options, const CloudShape& shape, const Extent& extent, double speed, bool clouds)
{
    if (!options.units)
        return "Sizes are in network units: the feeder is " + figure(extent.span, 1) + " across" +
               (clouds ? ", the clouds' cores " + figure(shape.core, 1) + " and their edges " + figure(shape.edge, 1) +
                             " in radius"
                       : std::string()) +
               "; give --units ft, m or km to work in metres and m/s.";
    const double m = options.metres;
    std::string text = "The feeder is " + figure(extent.span * m / 1000, 2) + " km across";
    if (clouds)
        text += "; the clouds' cores are " + figure(shape.core * m, 0) + " m and their edges " + figure(shape.edge * m, 0) +
                " m in radius";
    if (!(speed > 0))
        return text + "; on a still wind the clouds stand where they are.";
    text += "; on a wind of " + figure(speed * m, 2) + " m/s the sky crosses the feeder's " +
            figure(extent.along * m / 1000, 2) + " km along the wind in " + duration(extent.along / speed) + ".";
    return text;
}

std::string drops_text(const SunTable& table)
{
    const Drops drops = largest_drops(table);
    if (!(drops.single > 0))
        return "The index never drops from one row to the next.";
    std::string text = "Largest one-row drop of the index: " + figure(drops.single, 3) + " at a single bus (row " +
                       std::to_string(drops.single_row) + "), " + figure(drops.mean, 3) + " in the mean over all " +
                       std::to_string(table.buses) + " buses (row " + std::to_string(drops.mean_row) + ")";
    if (drops.mean > 0)
        text += ": the feeder's spread smooths it " + figure(drops.single / drops.mean, 1) + " times";
    return text + ".";
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
    std::vector<std::string> notes;
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

        SunHeader header;
        header.interval = options.drift.interval;
        header.names = network.names;
        int rows = options.drift.steps;
        if (options.from_sensor) {
            const SensorSeries series = read_sensor(read_file(*options.from_sensor, "sensor file"), options.from_sensor->string());
            SensorSky sky;
            sky.interval = *options.sensor_interval;
            sky.scale = options.sensor_scale;
            sky.metres_per_unit = options.metres;
            sky.speed = *options.drift.speed * options.metres;
            sky.from = options.drift.from;
            sky.row_interval = options.drift.interval;
            const Extent extent = extent_of(network.places, sky.from);
            sky.at = extent.centre;
            std::string at = "the centre of the buses";
            if (options.sensor_at) {
                // The name as the network file spells it, or else the one bus it names in another
                // letter case, as circuits name buses.
                const auto lower = [](std::string text) {
                    for (char& c : text)
                        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                    return text;
                };
                auto found = std::find(network.names.begin(), network.names.end(), *options.sensor_at);
                if (found == network.names.end()) {
                    const auto same = [&](const std::string& name) { return lower(name) == lower(*options.sensor_at); };
                    found = std::find_if(network.names.begin(), network.names.end(), same);
                    if (found != network.names.end() && std::find_if(found + 1, network.names.end(), same) != network.names.end())
                        throw ScenarioError("--sensor-at " + *options.sensor_at + ": several buses have that name in "
                                            "other letter cases; give it as the network file spells it");
                }
                if (found == network.names.end())
                    throw ScenarioError("--sensor-at " + *options.sensor_at + ": no bus of that name in " +
                                        (options.folder / network_file_name).string());
                sky.at = network.places[static_cast<std::size_t>(found - network.names.begin())];
                at = "bus " + *options.sensor_at;
            }
            // A clear sky is 1; a cloud's bright edge gives a little more, irradiance in W/m2 far more.
            const double brightest = *std::max_element(series.values.begin(), series.values.end()) / sky.scale;
            if (brightest > 2)
                throw ScenarioError(options.from_sensor->string() + " reaches " + figure(brightest, 2) +
                                    (sky.scale == 1 ? std::string() : " after --sensor-scale") +
                                    ", while 1 is a clear sky: give --sensor-scale X, the series' clear-sky value (e.g. "
                                    "1000 for irradiance in W/m2), to make it the clear-sky index");
            const double covered = static_cast<double>(series.values.size() - 1) * sky.interval;
            if (!options.steps_given) {
                const double needed = std::floor(covered / sky.row_interval + 1e-9) + 1;
                if (needed > runnable_rows) {
                    const double fits = std::ceil(covered / (runnable_rows - 1) * 1000) / 1000;
                    throw ScenarioError(options.from_sensor->string() + ": " + std::to_string(series.values.size()) +
                                        " samples cover " + figure(covered, 3) + " s, " + figure(needed, 0) +
                                        " rows at " + figure(sky.row_interval, 3) + " s a row: past the " +
                                        std::to_string(runnable_rows) + " rows a run can show; give --interval " +
                                        figure(fits, 3) + " or more, or --steps N for the first N rows");
                }
                rows = static_cast<int>(needed);
            }
            sky.rows = rows;
            table = sensor_sun(network.places, series, sky);
            // The track holds the parameter line for the threshold; its radii and side are for the record.
            DriftOptions shape = options.drift;
            shape.clouds = 0;
            shape.steps = rows;
            const Drift drift = drifting_clouds(network.places, shape);
            header.made_from = "the sensor " + options.from_sensor->filename().string() + " at " + at +
                               ", carried on a wind of " + figure(sky.speed, 3) + " m/s from " + figure(sky.from, 3) +
                               " degrees";
            track_out = track_text(drift.track, header.made_from, drift.decimals);
            double earliest = HUGE_VAL, latest = -HUGE_VAL;
            for (const Place& bus : network.places) {
                earliest = std::min(earliest, lag_seconds(bus, sky));
                latest = std::max(latest, lag_seconds(bus, sky));
            }
            summary = header.made_from;
            notes.push_back(sizes_text(options, drift.track.shape, extent, *options.drift.speed, false));
            notes.push_back("The buses see the sensor's sky from " + duration(std::max(0.0, -earliest)) + " before it to " +
                            duration(std::max(0.0, latest)) + " after it.");
            if (series.passed_over > 0)
                notes.push_back(std::to_string(series.passed_over) + (series.passed_over == 1 ? " line" : " lines") + " of " +
                                options.from_sensor->string() + " held no number and " +
                                (series.passed_over == 1 ? "was" : "were") + " passed over.");
        } else {
            Track track;
            if (options.from_track) {
                track = read_track(read_file(*options.from_track, "track file"), options.from_track->string());
                header.made_from = "the clouds of " + options.from_track->filename().string();
                summary = std::to_string(track.records.size()) + " cloud records of " + options.from_track->string();
                if (!options.steps_given) {
                    rows = track.last_step();
                    if (rows > runnable_rows)
                        throw ScenarioError(options.from_track->string() + ": its last step, " + std::to_string(rows) +
                                            ", is past the " + std::to_string(runnable_rows) +
                                            " rows a run can show; give --steps N for the first N");
                }
            } else {
                const Drift drift = drifting_clouds(network.places, options.drift);
                track_out = track_text(drift.track, drift.about, drift.decimals);
                track = read_track(track_out, track_path.string());  // the sun follows the track as written
                header.made_from = drift.about;
                summary = drift.about;
                notes.push_back(sizes_text(options, drift.track.shape, extent_of(network.places, options.drift.from),
                                           drift.speed, true));
            }
            if (rows < 1)
                throw ScenarioError(options.from_track->string() + ": no cloud records, so no rows; give --steps N");
            table = sun_under(network.places, track, rows);
        }

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
        sun_text = sun_table_text(table, header);
        if (options.loadshapes) {
            // The PV systems of an imported circuit take their drawn bus's shape.
            const fs::path elements = options.folder / "feeder_elements.csv";
            std::optional<std::vector<PvSystem>> pv;
            if (fs::exists(elements, error))
                pv = read_pv_systems(read_file(elements, "elements file"), elements.string());
            loadshapes = loadshapes_text(table, header, options.clear_sky ? &factors : nullptr, pv ? &*pv : nullptr);
            if (pv)
                notes.push_back(pv->empty() ? "The circuit has no PV systems: " + options.loadshapes->string() +
                                                  " says how to give its loads the shapes."
                                            : options.loadshapes->string() + " gives each of the circuit's " +
                                                  std::to_string(pv->size()) + " PV systems its drawn bus's loadshape.");
        }
        notes.push_back(drops_text(table));
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

    std::printf("Wrote %s%s: %d rows for %d buses, from %s\n", sun_path.string().c_str(), megabytes(sun_text).c_str(),
                table.rows, table.buses, summary.c_str());
    if (!track_out.empty())
        std::printf("Wrote %s\n", track_path.string().c_str());
    if (options.loadshapes)
        std::printf("Wrote %s%s: %d loadshapes of %d points%s\n", options.loadshapes->string().c_str(),
                    megabytes(loadshapes).c_str(), table.buses, table.rows,
                    options.clear_sky ? ", the index times the clear-sky factors" : "");
    for (const std::string& note : notes)
        std::printf("%s\n", note.c_str());
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

#include "scenario/command.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include "cli/command_line.hpp"
#include "core/fingerprint.hpp"
#include "core/run_state.hpp"
#include "core/words.hpp"
#include "model/circuit_record.hpp"
#include "model/element_map.hpp"
#include "model/study_files.hpp"
#include "output/output_file.hpp"
#include "scenario/network_buses.hpp"
#include "scenario/sensor.hpp"

namespace umbrascope::scenario {

namespace fs = std::filesystem;

const char* const clouds_usage = R"(Usage: umbrascope-clouds [OPTION]... FOLDER

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
  --steps N          rows of the sun table, one cloud step each, 1 to 1000000 (default 120; with
                     --from-track, the track's last step; with --from-sensor, as many as the
                     series covers)
  --interval S       seconds a row; the time column is (row - 1) x S (default 10; with
                     --from-sensor, the sensor's interval)
  --start HH:MM:SS   the clock time of the first row (with --from-sensor, of the series' first
                     sample), recorded in the sun table: the window, the films and the reports then
                     tell clock time
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
  --sensor-max-gap S  the longest run of lines without a number (blank, NaN, 1e400) inside the
                     series that is filled along the line between its neighbours, in seconds
                     (default 60); each such line keeps its place in time, and a longer gap is
                     refused, naming its lines
  --sensor-at BUS    the bus where the series was measured (default: the centre of the buses)
  --sensor-scale X   divide the series by X to make it the clear-sky index (default 1), e.g. the
                     clear-sky irradiance in W/m2 of a pyranometer's series
  --sensor-clear-sky FILE  the clear sky itself, one value a line, one per sample of the series (or
                     one per row of the table), in the series' units: the index is the measured
                     value over it, which takes the sun's course over the day out of a W/m2 series
                     (a clear sky of 0, at night, gives 0); instead of --sensor-scale
  --sensor-window START,END  take only that part of the series: seconds from its start, or clock
                     times HH:MM:SS, with --start giving the clock time of its first sample; the
                     rows then run from START to END, each bus still seeing the series at its own
                     lag
  --clear-sky FILE   one factor a row, one number a line (such as clear-sky irradiance over the day
                     divided by its peak): the loadshapes carry the index times the factor, the
                     power a PV panel makes; the sun table stays the index. Needs --loadshapes.
  --site LAT,LON[,ELEVATION]  the sun's course at this place (degrees north and east, metres above
                     the sea; default 0 m) on --date: for every row the sun's true position
                     (the Astronomical Almanac's algorithm, Michalsky 1988: within 0.01 degrees
                     over 1950-2050) and the irradiance of a clear sky on level ground (Haurwitz's
                     model; Ineichen-Perez's with --linke-turbidity), written to
                     cloud_clear_sky.csv beside the sun table (row,time,zenith_deg,azimuth_deg,
                     clear_sky_w_m2). It is used where --clear-sky and --sensor-clear-sky would
                     be: the loadshapes carry the index times the clear sky in kW/m2 (1 at 1000
                     W/m2, where a PV system's Pmpp is rated), and so does the study's clear-sky
                     twin; a --from-sensor series without --sensor-scale is taken as W/m2 and
                     divided by it, sample by sample, to make the index
  --date YYYY-MM-DD  the day of --site; --start is then the local clock time of the first row
                     (default 00:00:00)
  --utc-offset +HH:MM  how far the local clock is ahead of universal time, daylight saving
                     included, e.g. -06:00 (default: the longitude's hour, and the summary says so)
  --linke-turbidity T  the Linke turbidity of the site's air (about 2 for clean, 3 to 4 for
                     common, 5 and more for hazy): the clear sky by Ineichen-Perez instead
  --loadshapes FILE  also write OpenDSS loadshapes to FILE, each named sky_ and its bus's name;
                     when FOLDER holds the feeder_elements.csv that umbrascope-import writes and
                     the circuit has PV systems, one for each drawn bus a PV system takes, and an
                     Edit giving each PV system the loadshape of its drawn bus (Edit
                     PVSystem.NAME daily= duty=), so that Redirect FILE after the circuit runs a
                     time-series power flow under the same sky; else one for every bus
  --all-buses        with --loadshapes, a loadshape for every bus even where PV systems take few
  --force            replace the sun table and track already in FOLDER
  --version          show the version and exit
  --help             show this text and exit

The summary tells the largest one-row drop of the index at a single bus and in the mean over all
buses: how much the feeder's spread smooths it.
Exit status: 0 when the files were written, 2 for a wrong command line or input that cannot be
used (one line on standard error says why); nothing is written then.
)";

namespace {

constexpr int classic_rows = 2000;

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

// A small file's text, or nothing where it is not there.
std::string read_file_if_there(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error) ? read_file(path, "file") : std::string();
}

std::string figure(double value, int decimals)
{
    std::string out;
    append_decimal(out, value, decimals);
    return out;
}

// " (42 MB)" for a file of that size, nothing for a small one.
std::string megabytes(std::uintmax_t bytes)
{
    return bytes < 10'000'000 ? std::string() : " (" + std::to_string(bytes / 1'000'000) + " MB)";
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
std::string sizes_text(const CloudsOptions& options, const CloudShape& shape, const Extent& extent, double speed,
                       bool clouds)
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

// The largest drops, over all buses or over those of `only` (the PV systems' drawn buses).
std::string drops_text(const SunTable& table, const std::vector<bool>* only, int pv_buses)
{
    const Drops drops = only == nullptr ? largest_drops(table) : largest_drops(table, *only);
    if (!(drops.single > 0))
        return "The index never drops from one row to the next.";
    const std::string over = only == nullptr ? "all " + std::to_string(table.buses) + " buses"
                                             : "the " + std::to_string(pv_buses) + " drawn buses of the PV systems";
    std::string text = "Largest one-row drop of the index: " + figure(drops.single, 3) + " at a single bus (row " +
                       std::to_string(drops.single_row) + "), " + figure(drops.mean, 3) + " in the mean over " + over +
                       " (row " + std::to_string(drops.mean_row) + ")";
    if (drops.mean > 0)
        text += ": the feeder's spread smooths it " + figure(drops.single / drops.mean, 1) + " times";
    return text + ".";
}

// The bus of --sensor-at: as the network file spells it, or else the one bus of that name in
// another letter case, as circuits name buses.
std::size_t sensor_bus(const CloudsOptions& options, const std::vector<std::string>& names)
{
    const std::string& wanted = *options.sensor_at;
    auto found = std::find(names.begin(), names.end(), wanted);
    if (found == names.end()) {
        const auto same = [&](const std::string& name) { return lower(name) == lower(wanted); };
        found = std::find_if(names.begin(), names.end(), same);
        if (found != names.end() && std::find_if(found + 1, names.end(), same) != names.end())
            throw ScenarioError("--sensor-at " + wanted +
                                ": several buses have that name in other letter cases; give it as the network file "
                                "spells it");
    }
    if (found == names.end())
        throw ScenarioError("--sensor-at " + wanted + ": no bus of that name in " +
                            (options.folder / network_file_name).string());
    return static_cast<std::size_t>(found - names.begin());
}

// The part of the series the rows cover: seconds from its start.
struct Window {
    double first = 0;
    double last = 0;
    bool clock = false;  // given as clock times
};

Window window_of(const CloudsOptions& options, double covered)
{
    Window window{0, covered, false};
    if (!options.sensor_window)
        return window;
    const std::string& text = *options.sensor_window;
    const std::size_t comma = text.find(',');
    const auto moment = [&](std::string_view part) -> std::optional<double> {
        if (part.find(':') != std::string_view::npos) {
            const std::optional<double> clock = clock_seconds(part);
            if (!clock)
                return std::nullopt;
            window.clock = true;
            return *clock - options.start.value_or(0);
        }
        return number_of(part);
    };
    const std::optional<double> first = comma == std::string::npos ? std::nullopt : moment(std::string_view(text).substr(0, comma));
    const std::optional<double> last = comma == std::string::npos ? std::nullopt : moment(std::string_view(text).substr(comma + 1));
    if (!first || !last)
        throw ScenarioError("--sensor-window takes START,END: seconds from the series' start or clock times HH:MM:SS, "
                            "not '" + text + "'");
    // Clock times mean nothing without the clock time of the series' first sample.
    if (window.clock && !options.start)
        throw ScenarioError("--sensor-window " + text + " gives clock times, but not when the series starts: give the "
                            "clock time of its first sample with --start HH:MM:SS (--start 00:00:00 for a series that "
                            "starts at midnight), or the window in seconds from its start");
    const std::string start_clock = clock_text(options.start.value_or(0));
    const auto told = [&](double seconds) {
        return window.clock ? clock_text(options.start.value_or(0) + seconds) : figure(seconds, 3) + " s";
    };
    if (*first < 0)
        throw ScenarioError("--sensor-window starts at " + told(*first) + ", before the series, which starts at " +
                            (window.clock ? start_clock : std::string("0 s")) +
                            (window.clock && !options.start ? " (give its clock time with --start)" : ""));
    if (!(*last > *first))
        throw ScenarioError("--sensor-window " + text + " ends before it starts");
    if (*last > covered + 1e-9)
        throw ScenarioError("--sensor-window ends at " + told(*last) + ", past the series' end at " + told(covered) +
                            " (" + options.from_sensor->string() + ")");
    window.first = *first;
    window.last = *last;
    return window;
}

std::string date_text(const CivilDate& date)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

std::string offset_text(double seconds)
{
    const int minutes = static_cast<int>(std::lround(std::fabs(seconds) / 60)) % (24 * 60);
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", seconds < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return text;
}

// The sun's course from `first`, seconds after the date's local midnight, `interval` apart.
CourseOptions course_options(const CloudsOptions& options, double first, double interval)
{
    CourseOptions course;
    course.site = *options.site;
    course.date = *options.date;
    course.utc_offset = options.utc_offset.value_or(std::round(options.site->longitude / 15) * 3600);
    course.start = first;
    course.interval = interval;
    course.linke_turbidity = options.linke_turbidity;
    return course;
}

// The largest clear-sky index a measured value over its clear sky may give: a cloud's bright edge
// reaches about 1.5.
constexpr double brightest_index = 2;

// A W/m2 series is divided by the sun's course at --site, unless --sensor-scale makes it the index.
bool course_divides(const CloudsOptions& options) { return options.site && !options.sensor_scale; }

// The measured series as the clear-sky index, with what the user should know of it.
SensorSeries index_series(const CloudsOptions& options, std::vector<std::string>& notes, std::vector<double>& per_row)
{
    SensorSeries series = read_sensor(read_file(*options.from_sensor, "sensor file"), options.from_sensor->string(),
                                      options.sensor_interval.value_or(1), options.sensor_max_gap);
    if (series.passed_over > 0)
        notes.push_back(std::to_string(series.passed_over) + (series.passed_over == 1 ? " line" : " lines") + " of " +
                        options.from_sensor->string() + " before its first number or after its last held no number and " +
                        (series.passed_over == 1 ? "was" : "were") + " passed over.");
    if (series.interpolated > 0) {
        const std::string where = names_and_more(series.gaps, 8);
        notes.push_back(std::to_string(series.interpolated) + (series.interpolated == 1 ? " sample" : " samples") + " of " +
                        options.from_sensor->string() + " held no number (" + where +
                        "): each kept its place in time, filled along the line between the samples on either side.");
    }
    if (!options.sensor_clear_sky && !course_divides(options))
        return series;
    std::string file;
    std::vector<double> clear;
    if (options.sensor_clear_sky) {
        file = options.sensor_clear_sky->string();
        clear = read_clear_sky(read_file(*options.sensor_clear_sky, "clear-sky file"), file);
    } else {
        // The clear sky at each sample's own time, its first at --start.
        file = "the sun's course at --site";
        const std::vector<CourseRow> course =
            sun_course(course_options(options, options.start.value_or(0), options.sensor_interval.value_or(1)),
                       static_cast<long>(series.values.size()));
        for (const CourseRow& row : course)
            clear.push_back(row.clear);
    }
    if (clear.size() != series.values.size()) {
        per_row = clear;  // checked against the rows once they are known
        return series;
    }
    int dark = 0, held = 0;
    for (std::size_t k = 0; k < clear.size(); ++k) {
        if (clear[k] > 0) {
            // Near sunrise and sunset the clear sky is a few W/m2 and a sensor's offset or noise over
            // it is no index at all: held between 0 and the brightest a cloud's edge gives.
            const double index = series.values[k] / clear[k];
            series.values[k] = std::clamp(index, 0.0, brightest_index);
            held += series.values[k] == index ? 0 : 1;
        } else {
            series.values[k] = 0;
            ++dark;
        }
    }
    if (dark > 0)
        notes.push_back(std::to_string(dark) + (dark == 1 ? " sample" : " samples") + " of " + file +
                        " had a clear sky of 0 (the sun down): their index is 0.");
    if (held > 0)
        notes.push_back(std::to_string(held) + (held == 1 ? " sample" : " samples") + " of " +
                        options.from_sensor->string() + " over " + file + " came out below 0 or above " +
                        decimal_text(brightest_index, 0) + " (where the clear sky is small, near sunrise and sunset): " +
                        (held == 1 ? "its index is held" : "their index is held") + " at the nearer of the two.");
    return series;
}

void measured_sky(const CloudsOptions& options, const NetworkBuses& network, Scenario& out)
{
    std::vector<double> clear_per_row;
    const SensorSeries series = index_series(options, out.notes, clear_per_row);
    SensorSky sky;
    sky.interval = *options.sensor_interval;
    sky.scale = options.sensor_scale.value_or(1);
    sky.metres_per_unit = options.metres;
    sky.speed = *options.drift.speed * options.metres;
    sky.from = options.drift.from;
    sky.row_interval = options.drift.interval;
    const Extent extent = extent_of(network.places, sky.from);
    sky.at = extent.centre;
    std::string at = "the centre of the buses";
    if (options.sensor_at) {
        sky.at = network.places[sensor_bus(options, network.names)];
        at = "bus " + *options.sensor_at;
    }
    // A clear sky is 1; a cloud's bright edge gives a little more, irradiance in W/m2 far more.
    if (!options.sensor_clear_sky && !course_divides(options)) {
        const double brightest = *std::max_element(series.values.begin(), series.values.end()) / sky.scale;
        if (brightest > 2)
            throw ScenarioError(options.from_sensor->string() + " reaches " + figure(brightest, 2) +
                                (sky.scale == 1 ? std::string() : " after --sensor-scale") +
                                ", while 1 is a clear sky: give --sensor-scale X, the series' clear-sky value (e.g. "
                                "1000 for irradiance in W/m2), or --sensor-clear-sky FILE, the clear sky sample by "
                                "sample, to make it the clear-sky index");
    }
    const double covered = static_cast<double>(series.values.size() - 1) * sky.interval;
    const Window window = window_of(options, covered);
    sky.first = window.first;
    int rows = options.drift.steps;
    if (!options.steps_given) {
        const double span = window.last - window.first;
        const double needed = std::floor(span / sky.row_interval + 1e-9) + 1;
        if (needed > longest_sky_rows) {
            const double fits = std::max(1.0, std::ceil(span / (longest_sky_rows - 1) - 1e-9));
            throw ScenarioError(options.from_sensor->string() + ": " + figure(span, 3) + " s of the series" +
                                (options.sensor_window ? " in the window" : "") + " make " + figure(needed, 0) +
                                " rows at " + figure(sky.row_interval, 3) + " s a row: past the " +
                                std::to_string(longest_sky_rows) + " rows a sky may have; give --interval " +
                                figure(fits, 0) + " (seconds a row), --sensor-window START,END for a part of the "
                                "series, or --steps N for the first N rows");
        }
        rows = static_cast<int>(needed);
    }
    sky.rows = rows;
    if (!clear_per_row.empty() && clear_per_row.size() != static_cast<std::size_t>(rows))
        throw ScenarioError(options.sensor_clear_sky->string() + " holds " + std::to_string(clear_per_row.size()) +
                            " clear-sky values, for neither the series' " + std::to_string(series.values.size()) +
                            " samples nor the table's " + std::to_string(rows) + " rows");
    out.table = sensor_sun(network.places, series, sky);
    if (!clear_per_row.empty()) {
        // One clear sky a row: each row's index is its measured value over that row's clear sky.
        int dark = 0;
        for (int row = 0; row < rows; ++row) {
            const double clear = clear_per_row[static_cast<std::size_t>(row)];
            dark += clear > 0 ? 0 : 1;
            for (int bus = 0; bus < out.table.buses; ++bus) {
                Stored& value = out.table.thousandths[static_cast<std::size_t>(row) * static_cast<std::size_t>(out.table.buses) +
                                                      static_cast<std::size_t>(bus)];
                value = clear > 0 ? stored(thousandths(std::clamp(static_cast<double>(value) / 1000 / clear, 0.0, brightest_index)))
                                  : 0;
            }
        }
        if (dark > 0)
            out.notes.push_back(std::to_string(dark) + (dark == 1 ? " row" : " rows") + " of " +
                                options.sensor_clear_sky->string() + " had a clear sky of 0 (the sun down): their index is 0.");
    }
    if (window.clock || options.start || options.site)
        out.header.start = options.start.value_or(0) + window.first;
    // The field the table was made from, for pictures to shade the map by.
    SkyField field = sky_field(series, sky);
    field.row_clear = clear_per_row;
    out.field = std::move(field);
    // The track holds the parameter line for the threshold; its radii and side are for the record.
    DriftOptions shape = options.drift;
    shape.clouds = 0;
    shape.steps = rows;
    const Drift drift = drifting_clouds(network.places, shape);
    out.header.made_from = "the sensor " + options.from_sensor->filename().string() + " at " + at +
                           ", carried on a wind of " + figure(sky.speed, 3) + " m/s from " + figure(sky.from, 3) +
                           " degrees";
    if (options.sensor_clear_sky)
        out.header.made_from += ", over the clear sky of " + options.sensor_clear_sky->filename().string();
    else if (course_divides(options))
        out.header.made_from += ", over the clear sky of the sun's course at its site";
    out.track = track_text(drift.track, out.header.made_from, drift.decimals);
    double earliest = HUGE_VAL, latest = -HUGE_VAL;
    for (const Place& bus : network.places) {
        earliest = std::min(earliest, lag_seconds(bus, sky));
        latest = std::max(latest, lag_seconds(bus, sky));
    }
    out.summary = out.header.made_from;
    out.notes.insert(out.notes.begin(), sizes_text(options, drift.track.shape, extent, *options.drift.speed, false));
    out.notes.push_back("The buses see the sensor's sky from " + duration(std::max(0.0, -earliest)) + " before it to " +
                        duration(std::max(0.0, latest)) + " after it.");
}

void drawn_sky(const CloudsOptions& options, const NetworkBuses& network, Scenario& out)
{
    int rows = options.drift.steps;
    const fs::path track_path = options.folder / track_file_name;
    Track track;
    if (options.from_track) {
        track = read_track(read_file(*options.from_track, "track file"), options.from_track->string());
        out.header.made_from = "the clouds of " + options.from_track->filename().string();
        out.summary = std::to_string(track.records.size()) + " cloud records of " + options.from_track->string();
        if (!options.steps_given) {
            rows = track.last_step();
            if (rows > longest_sky_rows)
                throw ScenarioError(options.from_track->string() + ": its last step, " + std::to_string(rows) +
                                    ", is past the " + std::to_string(longest_sky_rows) +
                                    " rows a sky may have; give --steps N for the first N");
        }
    } else {
        const Drift drift = drifting_clouds(network.places, options.drift);
        out.track = track_text(drift.track, drift.about, drift.decimals);
        track = read_track(out.track, track_path.string());  // the sun follows the track as written
        out.header.made_from = drift.about;
        out.summary = drift.about;
        out.notes.push_back(
            sizes_text(options, drift.track.shape, extent_of(network.places, options.drift.from), drift.speed, true));
    }
    if (rows < 1)
        throw ScenarioError(options.from_track->string() + ": no cloud records, so no rows; give --steps N");
    out.table = sun_under(network.places, track, rows);
    out.header.start = options.start;
}

}  // namespace

CloudsOptions parse_clouds_options(CommandLine& line)
{
    CloudsOptions options;
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
            const std::string units = lower(line.value());
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
            options.drift.steps = static_cast<int>(line.whole_number(1, longest_sky_rows));
            options.steps_given = true;
        } else if (arg == "--interval") {
            options.drift.interval = line.number(1e-3, 86400);
            options.interval_given = true;
        } else if (arg == "--start") {
            const std::string text = line.value();
            options.start = clock_seconds(text);
            if (!options.start)
                line.usage_error("--start takes a clock time HH:MM:SS, from 00:00:00 to 23:59:59, not '" + text + "'");
        } else if (arg == "--wind") {
            const std::string text = line.value();
            const std::size_t comma = text.find(',');
            const std::optional<double> speed =
                comma == std::string::npos ? std::nullopt : number_of(std::string_view(text).substr(0, comma));
            const std::optional<double> from =
                comma == std::string::npos ? std::nullopt : number_of(std::string_view(text).substr(comma + 1));
            if (speed && from && *from >= 0 && *from <= 360 && *speed > far)
                line.usage_error("--wind: a speed of " + text.substr(0, comma) +
                                 " m/s is past the largest this takes, 1e30 m/s: give SPEED,FROM with a speed of 0 to "
                                 "1e30");
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
        } else if (arg == "--sensor-max-gap") {
            options.sensor_max_gap = line.number(0, 86400);
        } else if (arg == "--sensor-interval") {
            options.sensor_interval = line.number(1e-3, 86400);
        } else if (arg == "--sensor-at") {
            options.sensor_at = line.value();
        } else if (arg == "--sensor-scale") {
            options.sensor_scale = line.number(1e-9, far);
        } else if (arg == "--sensor-clear-sky") {
            options.sensor_clear_sky = line.value();
        } else if (arg == "--sensor-window") {
            options.sensor_window = line.value();
        } else if (arg == "--clear-sky") {
            options.clear_sky = line.value();
        } else if (arg == "--site") {
            const std::string text = line.value();
            options.site = site_of(text);
            if (!options.site)
                line.usage_error("--site takes LAT,LON or LAT,LON,ELEVATION: degrees north from -90 to 90, degrees "
                                 "east from -180 to 180 and metres above the sea from -500 to 9000, not '" + text + "'");
        } else if (arg == "--date") {
            const std::string text = line.value();
            options.date = date_of(text);
            if (!options.date)
                line.usage_error("--date takes a day of the calendar as YYYY-MM-DD, from 1900 to 2100, not '" + text + "'");
        } else if (arg == "--utc-offset") {
            const std::string text = line.value();
            options.utc_offset = utc_offset_of(text);
            if (!options.utc_offset)
                line.usage_error("--utc-offset takes +HH:MM or -HH:MM, from -14:00 to +14:00 (e.g. -06:00), not '" +
                                 text + "'");
        } else if (arg == "--linke-turbidity") {
            options.linke_turbidity = line.number(1, 10);
        } else if (arg == "--loadshapes") {
            options.loadshapes = line.value();
        } else if (arg == "--all-buses") {
            line.flag();
            options.all_buses = true;
        } else if (arg == "--force") {
            line.flag();
            options.force = true;
        } else {
            line.unknown_option();
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
        if (options.sensor_clear_sky && options.sensor_scale)
            line.usage_error("--sensor-clear-sky and --sensor-scale both make the series the clear-sky index: give one");
        if (options.sensor_window && options.steps_given)
            line.usage_error("--sensor-window and --steps both say which rows: give one");
    }
    if (options.clear_sky && !options.loadshapes)
        line.usage_error("--clear-sky gives the loadshapes the sun's course over the day (the sun table is the clear-sky "
                         "index): give --loadshapes FILE too");
    if (options.site && !options.date)
        line.usage_error("--site needs --date YYYY-MM-DD, the day of the sun's course");
    if (!options.site && (options.date || options.utc_offset || options.linke_turbidity))
        line.usage_error(std::string(options.date ? "--date" : options.utc_offset ? "--utc-offset" : "--linke-turbidity") +
                         " goes with --site LAT,LON, the place of the sun's course");
    if (options.site && (options.clear_sky || options.sensor_clear_sky))
        line.usage_error(std::string(options.clear_sky ? "--clear-sky" : "--sensor-clear-sky") +
                         " and --site are two clear skies: give one");
    if (options.all_buses && !options.loadshapes)
        line.usage_error("--all-buses goes with --loadshapes FILE");
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

Scenario make_scenario(const CloudsOptions& options)
{
    const fs::path sun_path = options.folder / sun_table_file_name;
    const fs::path track_path = options.folder / track_file_name;
    std::error_code error;
    if (!fs::exists(options.folder / network_file_name, error))
        throw ScenarioError(options.folder.string() + " holds no network (" + std::string(network_file_name) +
                            "): make it with umbrascope-import CIRCUIT.dss " + options.folder.string() +
                            ", or from two tables with umbrascope-import --buses B.csv --branches C.csv " +
                            options.folder.string());
    if (!options.force)
        for (const fs::path& path : {sun_path, track_path})
            if ((path == sun_path || !options.from_track) && fs::exists(path, error))
                throw ScenarioError(path.string() + " is there already; give --force to replace it");
    const NetworkBuses network = read_network_buses(options.folder);
    if (network.places.empty())
        throw ScenarioError((options.folder / network_file_name).string() + " holds no buses");

    Scenario out;
    out.connections = network.connections;
    out.header.interval = options.drift.interval;
    out.header.names = network.names;
    out.header.units = options.units.value_or("");
    if (options.from_sensor)
        measured_sky(options, network, out);
    else
        drawn_sky(options, network, out);

    const int rows = out.table.rows;
    if (options.clear_sky) {
        out.factors = read_clear_sky(read_file(*options.clear_sky, "clear-sky file"), options.clear_sky->string());
        if (out.factors.size() < static_cast<std::size_t>(rows))
            throw ScenarioError(options.clear_sky->string() + " has " + std::to_string(out.factors.size()) +
                                " factors for " + std::to_string(rows) + " rows");
        // A clear sky is 1; a bright edge of a cloud gives a little more, irradiance in W/m2 far more.
        const double largest = *std::max_element(out.factors.begin(), out.factors.begin() + rows);
        if (largest > 2)
            throw ScenarioError(options.clear_sky->string() + " has factors up to " + std::to_string(largest) +
                                ", while 1 is a clear sky: divide measured irradiance by its clear-sky value first");
        out.header.clear_sky = options.clear_sky->filename().string();
    }
    if (options.site) {
        if (!out.header.start)
            out.header.start = 0.0;  // the course's rows are clock times of the date
        const CourseOptions course = course_options(options, *out.header.start, options.drift.interval);
        const std::vector<CourseRow> rows_of_course = sun_course(course, rows);
        out.factors.clear();
        double brightest = 0;
        for (const CourseRow& row : rows_of_course) {
            out.factors.push_back(row.clear / 1000);  // kW/m2: 1 where a PV system makes its Pmpp
            brightest = std::max(brightest, row.clear);
        }
        out.course = course_text(rows_of_course);
        out.header.clear_sky = std::string(course_file_name);
        const std::string where = decimal_text(course.site.latitude, 4) + "," + decimal_text(course.site.longitude, 4);
        out.notes.push_back("The sun's course at " + where + " on " + date_text(course.date) + " by " + model_name(course) +
                            ": a clear sky of " + decimal_text(brightest, 0) + " W/m2 at most over the rows, written to " +
                            (options.folder / course_file_name).string() + "; the loadshapes carry the index times it "
                            "in kW/m2.");
        if (!options.utc_offset)
            out.notes.push_back("No --utc-offset: the local clock is taken as " + offset_text(course.utc_offset) +
                                ", the longitude's hour; give --utc-offset +HH:MM for the clock of the place "
                                "(daylight saving time included).");
        if (brightest == 0) {
            // The whole day, every five minutes, tells a polar night from rows taken in the night.
            CourseOptions day = course;
            day.start = 0;
            day.interval = 300;
            const std::vector<CourseRow> whole = sun_course(day, 288);
            const bool polar = std::all_of(whole.begin(), whole.end(), [](const CourseRow& row) { return row.clear == 0; });
            out.warnings.push_back(
                polar ? "the sun stays below the horizon all day at " + where + " on " + date_text(course.date) +
                            " (a polar night): the clear sky is 0 in every row, and so are the loadshapes and the "
                            "study's clear-sky twin"
                      : "the sun is below the horizon in every row, from " + clock_text(rows_of_course.front().local) +
                            " to " + clock_text(rows_of_course.back().local) + " at " + where + " on " +
                            date_text(course.date) + ": the clear sky is 0 throughout, and so are the loadshapes and "
                            "the study's clear-sky twin; check --start and --utc-offset");
        }
    }
    // The PV systems of an imported circuit: their drawn buses take loadshapes, and the smoothing
    // that matters to a PV study is over them.
    const fs::path elements = options.folder / elements_file_name;
    if (fs::exists(elements, error))
        out.pv = read_pv_systems(read_file(elements, "elements file"), elements.string());
    const std::string record_text = read_file_if_there(options.folder / circuit_record_name);
    const CircuitRecord record = read_circuit_record_text(record_text);
    const bool from_tables = !record_text.empty() && record.entry.empty();
    // The circuit's line lengths tell what a network unit is, where the coordinates are to scale.
    {
        if (const std::optional<double> lines = record.metres_per_unit_by_lines; lines && *lines > 0) {
            const std::string told = figure(*lines, *lines < 10 ? 3 : 0);
            if (options.units && (*lines / options.metres > 3 || options.metres / *lines > 3))
                out.warnings.push_back("by the circuit's line lengths one network unit is about " + told +
                                       " m, not 1 " + *options.units +
                                       ": its coordinates may be a drawing, not to scale; the sizes, speeds and times "
                                       "here follow --units " + *options.units);
            if (!options.units)
                for (const auto& [unit, metres] : {std::pair{"ft", 0.3048}, std::pair{"m", 1.0}, std::pair{"km", 1000.0}})
                    if (*lines / metres < 1.25 && metres / *lines < 1.25)
                        out.notes.push_back(std::string("By the circuit's line lengths one network unit is about ") +
                                            told + " m: --units " + unit + " would fit.");
        }
    }
    if (options.loadshapes && out.pv && from_tables)
        out.notes.push_back("The network came from two tables, without a circuit's elements: " +
                            options.loadshapes->string() + " holds a loadshape for every bus.");
    else if (options.loadshapes && out.pv)
        out.notes.push_back(out.pv->empty() ? "The circuit has no PV systems: " + options.loadshapes->string() +
                                                  " says how to give its loads the shapes."
                                            : options.loadshapes->string() + " gives each of the circuit's " +
                                                  std::to_string(out.pv->size()) + " PV systems its drawn bus's loadshape.");
    std::vector<bool> pv_buses;
    int pv_count = 0;
    if (out.pv && !out.pv->empty()) {
        pv_buses.assign(network.names.size(), false);
        for (const PvSystem& system : *out.pv) {
            const auto found = std::find(network.names.begin(), network.names.end(), system.drawn_bus);
            if (found != network.names.end() && !pv_buses[static_cast<std::size_t>(found - network.names.begin())]) {
                pv_buses[static_cast<std::size_t>(found - network.names.begin())] = true;
                ++pv_count;
            }
        }
    }
    out.notes.push_back(drops_text(out.table, pv_count > 0 ? &pv_buses : nullptr, pv_count));
    return out;
}

Written write_scenario(const CloudsOptions& options, const Scenario& scenario)
{
    Written written;
    const std::optional<std::string> sky_before = file_fingerprint(options.folder / sun_table_file_name);
    OutputFile sun(options.folder / sun_table_file_name);
    Fingerprint sky;
    write_sun_table(scenario.table, scenario.header, [&](std::string_view piece) {
        sun.write(piece);
        sky.add(piece);
        written.sun_bytes += piece.size();
    });
    // The loadshapes name the sky they were made with, so that a study can tell a stale pair.
    SunHeader header = scenario.header;
    header.sky_fingerprint = sky.text();
    std::optional<OutputFile> track;
    if (!scenario.track.empty()) {
        track.emplace(options.folder / track_file_name);
        track->write(scenario.track);
    }
    std::optional<OutputFile> shapes;
    if (options.loadshapes) {
        shapes.emplace(*options.loadshapes);
        written.shapes = write_loadshapes(scenario.table, header,
                                          options.clear_sky || options.site ? &scenario.factors : nullptr,
                                          scenario.pv ? &*scenario.pv : nullptr, options.all_buses,
                                          [&](std::string_view piece) {
                                              shapes->write(piece);
                                              written.shapes_bytes += piece.size();
                                          });
    }
    // A measured sky's field, named with the sky; a field left from an earlier one goes, as the
    // sky it was made for does.
    std::optional<OutputFile> course;
    if (!scenario.course.empty()) {
        course.emplace(options.folder / course_file_name);
        course->write(scenario.course);
    }
    std::optional<OutputFile> field;
    if (scenario.field) {
        SkyField named = *scenario.field;
        named.sky_fingerprint = header.sky_fingerprint;
        field.emplace(options.folder / sky_field_name);
        field->write(sky_field_text(named));
    }
    // Every file is made in full before any takes its name.
    sun.finish();
    for (std::optional<OutputFile>* file : {&track, &shapes, &course, &field})
        if (*file)
            (*file)->finish();
    sun.commit();
    for (std::optional<OutputFile>* file : {&track, &shapes, &course, &field})
        if (*file)
            (*file)->commit();
    std::error_code error;
    if (!scenario.field)
        fs::remove(options.folder / sky_field_name, error);
    if (scenario.course.empty())
        fs::remove(options.folder / course_file_name, error);
    if (sky_before && *sky_before != header.sky_fingerprint)
        written.stale = study_files(options.folder);
    return written;
}

std::vector<std::string> report(const CloudsOptions& options, const Scenario& scenario, const Written& written)
{
    std::vector<std::string> lines;
    const fs::path sun_path = options.folder / sun_table_file_name;
    const fs::path track_path = options.folder / track_file_name;
    const SunTable& table = scenario.table;
    lines.push_back("Wrote " + sun_path.string() + megabytes(written.sun_bytes) + ": " + std::to_string(table.rows) +
                    (table.rows == 1 ? " row for " : " rows for ") + std::to_string(table.buses) +
                    (table.buses == 1 ? " bus, from " : " buses, from ") + scenario.summary);
    if (!scenario.track.empty())
        lines.push_back("Wrote " + track_path.string());
    if (options.loadshapes)
        lines.push_back("Wrote " + options.loadshapes->string() + megabytes(written.shapes_bytes) + ": " +
                        std::to_string(written.shapes) + (written.shapes == 1 ? " loadshape" : " loadshapes") + " of " +
                        std::to_string(table.rows) + " points" +
                        (options.clear_sky ? ", the index times the clear-sky factors"
                         : options.site ? ", the index times the sun's course in kW/m2"
                                        : "") +
                        ", and clear_sky, the same rows under a clear sky, for the study's twin");
    lines.insert(lines.end(), scenario.notes.begin(), scenario.notes.end());
    std::error_code error;
    const bool large = table.buses > 25 || scenario.connections > 100 || table.rows > classic_rows;
    if (options.from_track && !fs::equivalent(*options.from_track, track_path, error)) {
        const bool has_track = fs::exists(track_path, error);
        lines.push_back("The picture draws the clouds of " + track_path.string() + "; copy " +
                        options.from_track->string() + " there to see these" +
                        (has_track ? "." : ", since the folder has no track file yet."));
        if (!has_track)
            return lines;
    }
    lines.push_back("View it with: umbrascope" + std::string(large ? " --large " : " ") + options.folder.string());
    return lines;
}

}  // namespace umbrascope::scenario

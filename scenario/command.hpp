#pragma once
// umbrascope-clouds apart from its main: the options it takes, the scenario they make (the sun
// table, the track and the loadshapes) and the files it writes, whole or not at all.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.hpp"
#include "model/sky_field.hpp"
#include "scenario/drift.hpp"
#include "scenario/sun_course.hpp"
#include "scenario/sun_model.hpp"

namespace umbrascope {
class CommandLine;
}

namespace umbrascope::scenario {

extern const char* const clouds_usage;

// The sun's course row by row, written beside the sun table with --site.
inline constexpr std::string_view course_file_name = "cloud_clear_sky.csv";

// The rows a sky may have: a day at one second many times over. (The window and the exporter
// keep their own limits, and say so when a table passes them.)
inline constexpr int longest_sky_rows = 1'000'000;

struct CloudsOptions {
    DriftOptions drift;
    bool steps_given = false;
    bool interval_given = false;
    std::vector<std::string> shape_options;  // given options that only drawn clouds take
    std::vector<std::string> cloud_options;  // given options that only drifting clouds take
    std::optional<std::string> units;
    double metres = 1;  // a network unit, with --units
    std::optional<double> core, edge, side;  // as given
    std::optional<std::filesystem::path> from_track;
    std::optional<std::filesystem::path> from_sensor;
    std::optional<double> sensor_interval;
    double sensor_max_gap = 60;   // seconds of samples without a number filled between their neighbours
    std::optional<std::string> sensor_at;
    std::optional<double> sensor_scale;
    std::optional<std::filesystem::path> sensor_clear_sky;
    std::optional<std::string> sensor_window;  // "START,END" as given
    std::vector<std::string> sensor_options;
    std::optional<double> start;               // --start, seconds after midnight
    std::optional<std::filesystem::path> clear_sky;
    std::optional<Site> site;                  // --site: the sun's course at this place
    std::optional<CivilDate> date;
    std::optional<double> utc_offset;          // seconds the local clock is ahead of universal time
    std::optional<double> linke_turbidity;
    std::optional<std::filesystem::path> loadshapes;
    bool all_buses = false;
    bool force = false;
    std::filesystem::path folder;
};

// Reads the command line; a wrong one ends the program with the hint to --help.
[[nodiscard]] CloudsOptions parse_clouds_options(CommandLine& line);

using umbrascope::clock_seconds;

struct Scenario {
    SunTable table;
    SunHeader header;
    std::string track;                           // the track file's text; empty with --from-track
    std::vector<double> factors;                 // clear-sky factors, with --clear-sky or --site
    std::string course;                          // the sun's course row by row, with --site
    std::optional<std::vector<PvSystem>> pv;     // the circuit's PV systems, where the import named them
    int connections = 0;                         // of the network
    std::string summary;                         // what the sky was made from
    std::vector<std::string> notes;              // for the user, after the files
    std::vector<std::string> warnings;           // for standard error
    std::optional<SkyField> field;               // a measured sky's, for pictures to shade the map by
};

// Makes the scenario for the network in the options' folder. Throws ScenarioError.
[[nodiscard]] Scenario make_scenario(const CloudsOptions& options);

struct Written {
    std::uintmax_t sun_bytes = 0;
    std::uintmax_t shapes_bytes = 0;
    int shapes = 0;
    std::vector<std::string> stale;  // the study's files in the folder, made for the sky before
};

// Writes the sun table, the track and the loadshapes, every one made in full before any takes its
// name. Throws WriteError, or ScenarioError for a table no file can hold.
[[nodiscard]] Written write_scenario(const CloudsOptions& options, const Scenario& scenario);

// What was written and what to do next, a line each, for standard output.
[[nodiscard]] std::vector<std::string> report(const CloudsOptions& options, const Scenario& scenario,
                                              const Written& written);

}  // namespace umbrascope::scenario

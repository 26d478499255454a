#include "study/folder.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <queue>

#include "core/fingerprint.hpp"
#include "core/lines.hpp"
#include "core/run_state.hpp"
#include "import/source_files.hpp"
#include "model/folder_error.hpp"
#include "model/sky_header.hpp"
#include "scenario/command.hpp"
#include "scenario/network_buses.hpp"
#include "scenario/sun_model.hpp"
#include "scenario/track.hpp"

namespace umbrascope::study {

std::string dss_name(const std::string& name)
{
    try {
        return scenario::dss_word(name);
    } catch (const scenario::ScenarioError& error) {
        throw StudyError(error.what());
    }
}

namespace fs = std::filesystem;

std::string read_text(const fs::path& path, const char* what)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw StudyError(std::string("cannot read the ") + what + " " + path.string() + ": " +
                         (errno != 0 ? std::strerror(errno) : "it cannot be opened"));
    std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw StudyError(std::string("cannot read the ") + what + " " + path.string() + ": read error");
    return bytes;
}

CircuitRecord read_circuit_record(const fs::path& folder)
{
    const fs::path path = folder / "feeder_circuit.txt";
    std::error_code error;
    if (!fs::exists(folder / network_file_name, error))
        throw StudyError(folder.string() + " holds no network: import the circuit with umbrascope-import CIRCUIT.dss " +
                         folder.string() + ", then make its sky with umbrascope-clouds --loadshapes SHAPES " +
                         folder.string());
    if (!fs::exists(path, error))
        throw StudyError(folder.string() + " has no feeder_circuit.txt, the record of the circuit its network was "
                         "imported from: import the circuit again with umbrascope-import --force CIRCUIT.dss " +
                         folder.string());
    return read_circuit_record_text(read_text(path, "circuit record"));
}

Sky read_sky(const fs::path& folder)
{
    const fs::path path = folder / sun_table_file_name;
    std::error_code error;
    if (!fs::exists(path, error))
        throw StudyError(folder.string() + " has no sun table (" + std::string(sun_table_file_name) +
                         "): make one with umbrascope-clouds " + folder.string());
    // Line by line: a day's table for a large feeder is hundreds of megabytes, of which only the
    // times are wanted.
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw StudyError("cannot read the sun table " + path.string() + ": " + std::strerror(errno));
    Sky sky;
    std::string line;
    for (long number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        if (number <= 6)
            sky.header.push_back(line);
        else
            sky.times.push_back(line.substr(0, line.find(',')));
    }
    if (in.bad())
        throw StudyError("cannot read the sun table " + path.string() + ": read error");
    if (sky.header.size() < 6)
        throw StudyError(path.string() + " has " + std::to_string(sky.header.size()) +
                         " lines, fewer than the six header lines of a sun table");
    sky.rows = static_cast<int>(sky.times.size());
    if (sky.rows == 0)
        throw StudyError(path.string() + " has no rows");
    const SkyHeader said = sky_header_of(sky.header);
    sky.interval = said.interval.value_or(0);
    sky.start = said.start;
    sky.units = said.units;
    sky.fingerprint = file_fingerprint(path).value_or("");
    if (!(sky.interval > 0) && sky.rows > 1) {
        const std::optional<double> first = number_of(sky.times[0]);
        const std::optional<double> second = number_of(sky.times[1]);
        if (first && second && *second > *first)
            sky.interval = *second - *first;
    }
    if (!(sky.interval > 0))
        throw StudyError(path.string() + ": cannot tell the seconds between its rows: its header does not say "
                         "(\"One row every 10 seconds\") and its first two times do not tell");
    return sky;
}

std::optional<int> Drawn::find(std::string_view name) const
{
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return static_cast<int>(i);
    const std::string wanted = lower(name);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (lower(names[i]) == wanted)
            return static_cast<int>(i);
    return std::nullopt;
}

Drawn read_drawn(const fs::path& folder)
{
    scenario::NetworkBuses buses;
    try {
        buses = scenario::read_network_buses(folder);
    } catch (const scenario::ScenarioError& error) {
        throw StudyError(error.what());
    }
    Drawn drawn;
    drawn.names = std::move(buses.names);
    for (const scenario::Place& place : buses.places) {
        drawn.x.push_back(place.x);
        drawn.y.push_back(place.y);
    }
    const auto n = static_cast<int>(drawn.names.size());
    for (const auto& [from, to] : buses.joined)
        if (from >= 0 && from < n && to >= 0 && to < n)
            drawn.connections.emplace_back(from, to);
    return drawn;
}

std::vector<StandIn> read_stand_ins(const fs::path& folder)
{
    try {
        return read_element_map(folder);
    } catch (const FolderError& error) {
        throw StudyError(error.what());
    }
}

std::optional<double> metres_of(std::string_view units)
{
    const std::string word = lower(trim_blanks(units));
    if (word == "ft")
        return 0.3048;
    if (word == "m")
        return 1.0;
    if (word == "km")
        return 1000.0;
    return std::nullopt;
}

std::vector<double> distances_from(const Drawn& drawn, int from)
{
    const std::size_t n = drawn.names.size();
    std::vector<std::vector<std::pair<int, double>>> next(n);
    for (const auto& [a, b] : drawn.connections) {
        const auto i = static_cast<std::size_t>(a);
        const auto j = static_cast<std::size_t>(b);
        const double length = std::hypot(drawn.x[i] - drawn.x[j], drawn.y[i] - drawn.y[j]);
        next[i].emplace_back(b, length);
        next[j].emplace_back(a, length);
    }
    std::vector<double> distance(n, -1);
    if (from < 0 || static_cast<std::size_t>(from) >= n)
        return distance;
    using Reached = std::pair<double, int>;
    std::priority_queue<Reached, std::vector<Reached>, std::greater<>> queue;
    distance[static_cast<std::size_t>(from)] = 0;
    queue.emplace(0, from);
    while (!queue.empty()) {
        const auto [d, at] = queue.top();
        queue.pop();
        if (d > distance[static_cast<std::size_t>(at)])
            continue;
        for (const auto& [to, length] : next[static_cast<std::size_t>(at)]) {
            double& best = distance[static_cast<std::size_t>(to)];
            if (best < 0 || d + length < best) {
                best = d + length;
                queue.emplace(best, to);
            }
        }
    }
    return distance;
}

}  // namespace umbrascope::study

#include "model/sky_header.hpp"

#include <cmath>
#include <fstream>

#include "core/clock.hpp"
#include "core/lines.hpp"
#include "core/words.hpp"
#include "model/row_part.hpp"
#include "core/run_state.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

std::string without_cr(std::string line)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// The names of the network file's buses, as its coordinate lines give them.
std::vector<std::string> network_names(const fs::path& folder)
{
    std::vector<std::string> names;
    std::ifstream in(folder / network_file_name, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        line = without_cr(std::move(line));
        if (line.find("bus_connections") != std::string::npos)
            break;
        if (line.find("bus_coordinates") != std::string::npos)
            continue;
        const std::size_t first = line.find(',');
        if (first == std::string::npos)
            continue;
        names.push_back(line.substr(first + 1, line.find(',', first + 1) - first - 1));
    }
    return names;
}

}  // namespace

SkyHeader sky_header_of(const std::vector<std::string>& lines)
{
    SkyHeader sky;
    if (lines.size() < 6)
        return sky;
    constexpr std::string_view every = "One row every ";
    if (lines[3].rfind(every, 0) == 0 && lines[3].find(" second") != std::string::npos) {
        sky.seconds = true;
        const std::string_view rest = std::string_view(lines[3]).substr(every.size());
        sky.interval = number_of(rest.substr(0, rest.find(' ')));
        constexpr std::string_view first = ", the first at ";
        if (const std::size_t at = lines[3].find(first); at != std::string::npos)
            sky.start = clock_seconds(std::string_view(lines[3]).substr(at + first.size()));
    }
    constexpr std::string_view unit = "one network unit is 1 ";
    if (const std::size_t at = lines[4].find(unit); at != std::string::npos)
        sky.units = lines[4].substr(at + unit.size());
    // The buses it was made for, where umbrascope-clouds named them.
    if (lines[1].rfind("Made by umbrascope-clouds", 0) == 0 && lines[5].rfind("time,", 0) == 0 &&
        lines[5].rfind("time,then buses", 0) != 0)
        for (std::size_t at = lines[5].find(','); at != std::string::npos;) {
            const std::size_t next = lines[5].find(',', at + 1);
            sky.names.push_back(lines[5].substr(at + 1, next == std::string::npos ? next : next - at - 1));
            at = next;
        }
    return sky;
}

SkyHeader read_sky_header(const fs::path& folder)
{
    std::ifstream in(folder / sun_table_file_name, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; lines.size() < 6 && std::getline(in, line);)
        lines.push_back(without_cr(std::move(line)));
    SkyHeader sky = sky_header_of(lines);
    const PartRows part = read_part_rows(folder);
    sky.row_offset = part.offset;
    sky.rows_total = part.rows;
    return sky;
}

std::string time_label(const SkyHeader& sky, const std::string& time)
{
    if (time.empty())
        return "time -";
    const std::optional<double> seconds = number_of(time);
    if (sky.start && seconds)
        return clock_text(*sky.start + *seconds);
    if (sky.seconds)
        return "t = " + time + " s";
    return "time " + time;
}

std::optional<std::string> sun_table_mismatch(const fs::path& folder)
{
    const SkyHeader sky = read_sky_header(folder);
    if (sky.names.empty())
        return std::nullopt;
    const std::vector<std::string> network = network_names(folder);
    if (network.empty() || network == sky.names)
        return std::nullopt;
    std::size_t at = 0;
    while (at < network.size() && at < sky.names.size() && network[at] == sky.names[at])
        ++at;
    const std::string sun = (folder / sun_table_file_name).string();
    const std::string net = (folder / network_file_name).string();
    std::string why = sun + " was made for another network: its header names " + std::to_string(sky.names.size()) +
                      " buses, " + net + " holds " + std::to_string(network.size());
    if (at < network.size() && at < sky.names.size())
        why += ", and its bus " + std::to_string(at + 1) + " is " + sky.names[at] + " where the network's is " + network[at];
    return why + "; make the sky again for this network with umbrascope-clouds --force " + folder.string();
}

}  // namespace umbrascope

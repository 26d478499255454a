#include "model/hosting_map.hpp"

#include <unordered_map>

#include "core/csv.hpp"
#include "core/hosting_bands.hpp"
#include "core/lines.hpp"
#include "core/text.hpp"
#include "core/words.hpp"
#include "model/folder_error.hpp"
#include "model/read_file.hpp"

namespace umbrascope {

namespace fs = std::filesystem;

namespace {

std::vector<std::vector<std::string>> csv_of(const fs::path& path, const char* what)
{
    const std::string text = read_whole_file(path, what);
    std::vector<std::vector<std::string>> rows;
    each_line(text, [&](std::string_view line, long number) {
        if (line.empty())
            return;
        std::optional<std::vector<std::string>> cells = csv_fields(line);
        if (!cells || (!rows.empty() && cells->size() != rows.front().size()))
            throw FolderError(path.string() + ":" + std::to_string(number) + ": not a row of " + what +
                              ": gather the sweep again");
        rows.push_back(std::move(*cells));
    });
    if (rows.empty())
        throw FolderError(path.string() + " is empty: gather the sweep again");
    return rows;
}

}  // namespace

std::optional<fs::path> hosting_sky(const fs::path& folder)
{
    std::error_code error;
    if (!fs::exists(folder / "locate.txt", error) || !fs::exists(folder / "locational_hc.csv", error))
        return std::nullopt;
    try {
        const std::vector<std::vector<std::string>> skies = csv_of(folder / "skies.csv", "the sweep's skies");
        if (skies.size() < 2 || skies[1].size() < 2)
            return std::nullopt;
        return fs::path(skies[1][1]);
    } catch (const FolderError&) {
        return std::nullopt;
    }
}

HostingMap HostingMap::read(const fs::path& sweep)
{
    HostingMap out;
    out.sweep_ = sweep;
    const std::string settings = read_whole_file(sweep / "locate.txt", "the search's settings");
    each_line(settings, [&](std::string_view line, long) {
        constexpr std::string_view lead = "max_kw = ";
        if (line.substr(0, lead.size()) == lead)
            out.max_kw_ = number_of(line.substr(lead.size())).value_or(0);
    });
    if (!(out.max_kw_ > 0))
        throw FolderError((sweep / "locate.txt").string() + " gives no max_kw: plan the search again");
    std::unordered_map<std::string, std::string> drawn;
    const std::vector<std::vector<std::string>> buses = csv_of(sweep / "locate_buses.csv", "the search's buses");
    for (std::size_t i = 1; i < buses.size(); ++i)
        drawn[buses[i][0]] = lower(buses[i][1]);
    std::vector<std::vector<std::string>> rows = csv_of(sweep / "locational_hc.csv", "locational_hc.csv");
    out.header_ = rows.front();
    if (out.header_.size() < 5 || out.header_[0] != "bus" || out.header_[4] != "hc_kw")
        throw FolderError((sweep / "locational_hc.csv").string() + " is not a locational_hc.csv of this program");
    for (std::size_t i = 1; i < rows.size(); ++i) {
        Answer answer;
        const auto at = drawn.find(rows[i][0]);
        answer.drawn_bus = at != drawn.end() ? at->second : lower(rows[i][0]);
        answer.hc_kw = number_of(rows[i][4]);
        answer.fields = std::move(rows[i]);
        out.answers_.push_back(std::move(answer));
    }
    return out;
}

void HostingMap::bind(const RunState& st)
{
    unbound_ = nullptr;
    index_buses(st);
}

void HostingMap::index_buses(const RunState& st) const
{
    const int n = st.nbus.value();
    by_bus_.assign(static_cast<std::size_t>(std::max(n, 0)) + 1, {});
    std::unordered_map<std::string, int> index;
    for (int k = 1; k <= n; ++k)
        index.emplace(lower(encode_utf8(st.bus_name.at(Integer(static_cast<std::int16_t>(k)), [] { return std::string(); }))), k);
    for (std::size_t a = 0; a < answers_.size(); ++a)
        if (const auto at = index.find(answers_[a].drawn_bus); at != index.end())
            by_bus_[static_cast<std::size_t>(at->second)].push_back(a);
}

void HostingMap::bind_now() const
{
    if (unbound_ == nullptr || unbound_->nbus <= 0)
        return;
    const RunState& st = *unbound_;
    unbound_ = nullptr;
    index_buses(st);
}

int HostingMap::band_of(int bus) const
{
    bind_now();
    if (bus < 1 || static_cast<std::size_t>(bus) >= by_bus_.size())
        return -1;
    std::optional<double> least;
    for (const std::size_t a : by_bus_[static_cast<std::size_t>(bus)]) {
        if (!answers_[a].hc_kw)
            return -1;
        least = least ? std::min(*least, *answers_[a].hc_kw) : *answers_[a].hc_kw;
    }
    return least ? hosting_band(*least, max_kw_) : -1;
}

std::optional<Colour> HostingMap::disc_colour(int, int bus) const
{
    const int band = band_of(bus);
    const BandColour& c = band < 0 ? no_hosting_answer : hosting_bands[static_cast<std::size_t>(band)];
    return Colour{c.r, c.g, c.b};
}

bool HostingMap::drawn_above(int, int bus) const { return band_of(bus) >= 0; }

std::string HostingMap::rows_of(int bus) const
{
    std::string out;
    if (bus < 1 || static_cast<std::size_t>(bus) >= by_bus_.size())
        return out;
    for (const std::size_t a : by_bus_[static_cast<std::size_t>(bus)]) {
        const std::vector<std::string>& fields = answers_[a].fields;
        for (std::size_t i = 0; i < header_.size() && i < fields.size(); ++i)
            if (!fields[i].empty())
                out += header_[i] + " = " + fields[i] + "\n";
    }
    return out;
}

}  // namespace umbrascope

#include "study/loading.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/clock.hpp"
#include "core/lines.hpp"
#include "core/parallel.hpp"
#include "core/words.hpp"
#include "study/voltages.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

std::vector<Branch> plan_branches(const import::Circuit& circuit, const std::string& prefix, bool twin,
                                  const std::vector<WatchedTerminal>& voltage)
{
    // Each element's watched terminal, its first where a monitor watches both.
    std::unordered_map<std::string, const WatchedTerminal*> watched;
    for (const WatchedTerminal& terminal : voltage)
        if (terminal.terminal <= 2) {
            const auto [at, made] = watched.emplace(lower(terminal.element), &terminal);
            if (!made && terminal.terminal < at->second->terminal)
                at->second = &terminal;
        }
    std::vector<Branch> out;
    int own = 0;
    for (const import::WiredElement& element : circuit.wired) {
        const bool line = element.element_class == "line";
        if ((!line && element.element_class != "transformer" && element.element_class != "autotrans") ||
            element.terminals.empty() || !element.terminals.front())
            continue;
        const auto bus = [&](std::size_t t) {
            return t < element.terminals.size() && element.terminals[t]
                       ? circuit.buses[static_cast<std::size_t>(element.terminals[t]->bus)]
                       : std::string();
        };
        if (const auto found = watched.find(lower(element.name));
            found != watched.end() && (found->second->terminal == 1 || line)) {
            const std::string& monitor = found->second->monitor;
            const std::size_t at = monitor.rfind("_v");
            out.push_back({element.name, line ? "line" : "transformer", bus(0), bus(1), monitor,
                           twin ? monitor.substr(0, at + 1) + "clear_" + monitor.substr(at + 1) : std::string(),
                           element.rated, true, found->second->terminal});
            continue;
        }
        const std::string monitor = "i" + std::to_string(++own);
        std::string clear;
        if (twin) {
            clear = prefix;
            clear += "clear_";
            clear += monitor;
        }
        out.push_back({element.name, line ? "line" : "transformer", bus(0), bus(1), prefix + monitor, std::move(clear),
                       element.rated, false, 1});
    }
    return out;
}

std::string branches_map_text(const std::vector<Branch>& branches)
{
    std::string out = "element,kind,bus1,bus2,terminal,monitor,clear_monitor,rated\n";
    for (const Branch& branch : branches)
        append_csv_row(out, {branch.element, branch.kind, branch.bus1, branch.bus2, std::to_string(branch.terminal),
                             branch.monitor, branch.clear_monitor, branch.rated ? "yes" : "no"});
    return out;
}

std::vector<Branch> read_branches_map(const fs::path& path)
{
    std::error_code error;
    if (!fs::exists(path, error))
        return {};
    std::vector<Branch> out;
    each_line(read_text(path, "branches map"), [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        const std::optional<std::vector<std::string>> fields = csv_fields(line);
        if (!fields || fields->size() != 8 || ((*fields)[1] != "line" && (*fields)[1] != "transformer") ||
            ((*fields)[4] != "1" && (*fields)[4] != "2") || (*fields)[5].empty() ||
            ((*fields)[7] != "yes" && (*fields)[7] != "no"))
            throw StudyError(path.string() + ":" + std::to_string(number) +
                             ": a line is element,kind,bus1,bus2,terminal,monitor,clear_monitor,rated");
        const std::vector<std::string>& f = *fields;
        const int terminal = f[4] == "2" ? 2 : 1;
        out.push_back({f[0], f[1], f[2], f[3], f[5], f[6], f[7] == "yes", false, terminal});
    });
    return out;
}

std::string branch_monitor_lines(const std::vector<Branch>& branches, bool clear, bool twin_voltages)
{
    std::string out;
    for (const Branch& branch : branches)
        if (!branch.shared || (clear && !twin_voltages))
            out += "New Monitor." + (clear ? branch.clear_monitor : branch.monitor) + " element=" + dss_name(branch.element) +
               " terminal=" + std::to_string(branch.terminal) + " mode=32\n";
    return out;
}

std::string branch_export_lines(const std::vector<Branch>& branches, bool clear, bool twin_voltages)
{
    std::string out;
    for (const Branch& branch : branches)
        if (!branch.shared || (clear && !twin_voltages))
            out += "Export Monitors " + (clear ? branch.clear_monitor : branch.monitor) + "\n";
    return out;
}

std::string property_dump_name(const std::string& circuit)
{
    return circuit + "_PropertyDump.txt";
}

std::unordered_map<std::string, Rating> read_property_dump(const fs::path& file)
{
    std::unordered_map<std::string, Rating> out;
    Rating* at = nullptr;
    bool any = false;
    each_line(read_text(file, "engine's property dump"), [&](std::string_view line, long) {
        if (line.substr(0, 4) == "New ") {
            any = true;
            std::string_view name = line.substr(4);
            while (!name.empty() && (name.front() == '"' || name.front() == ' '))
                name.remove_prefix(1);
            while (!name.empty() && (name.back() == '"' || name.back() == ' ' || name.back() == '\r'))
                name.remove_suffix(1);
            at = &out[lower(name)];
            return;
        }
        if (at == nullptr || line.substr(0, 2) != "~ ")
            return;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            return;
        const std::string property = lower(line.substr(2, equals - 2));
        std::string_view value = line.substr(equals + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' '))
            value.remove_suffix(1);
        if (property == "phases") {
            int phases = 0;
            if (std::from_chars(value.data(), value.data() + value.size(), phases).ec == std::errc())
                at->phases = phases;
        } else if (property == "normamps" || property == "emergamps") {
            if (const std::optional<double> amps = number_of(value))
                (property == "normamps" ? at->normal_a : at->emergency_a) = *amps;
        }
    });
    if (!any)
        throw StudyError(file.string() + " is not the engine's property dump (it "
                                         "names no element): run the study "
                                         "again");
    return out;
}

std::vector<double> branch_amps(const fs::path& file, const std::string& element, int phases, int rows, double interval,
                                int first_row)
{
    const MonitorColumns columns =
        read_monitor_columns(file, [](const std::string& column) { return column.substr(0, 3) == "|i|"; });
    std::vector<std::size_t> phase_columns;
    for (int k = 1; k <= phases; ++k) {
        const std::string wanted = "|i|" + std::to_string(k);
        const auto found = std::find_if(columns.names.begin(), columns.names.end(), [&](const std::string& c) {
            const std::string named = lower(c);
            return named.substr(0, wanted.size()) == wanted &&
                   (named.size() == wanted.size() || named[wanted.size()] == ' ');
        });
        if (found == columns.names.end())
            throw StudyError(file.string() + " has no current of conductor " + std::to_string(k) + " of " + element +
                             " (a monitor of mode 32 exports |I|1 (amps), ...)");
        phase_columns.push_back(static_cast<std::size_t>(found - columns.names.begin()));
    }
    if (static_cast<int>(columns.rows()) != rows ||
        (rows > 0 && std::fabs(columns.times.front() - first_row * interval) > 1e-3 * interval))
        throw StudyError(file.string() + " holds " + std::to_string(columns.rows()) + " rows, not the run's " +
                         std::to_string(rows) + " from row " + std::to_string(first_row) + ": run the study again");
    std::vector<double> out(columns.rows());
    for (std::size_t row = 0; row < columns.rows(); ++row)
        for (const std::size_t column : phase_columns)
            out[row] = std::max(out[row], columns.at(row, column));
    return out;
}

std::vector<Loading> read_loading(const ResultsFolder& results, const std::string& circuit,
                                  const std::vector<Branch>& branches, int rows, double interval, int first_row,
                                  double window_s)
{
    // A whole run is one slice, all its rows its own.
    LoadingStitch whole(branches, rows, interval, window_s, "the run of the study did not finish; run it again");
    whole.add(results, circuit, first_row, first_row, first_row, first_row + rows - 1, false);
    return whole.finish();
}

LoadingStitch::LoadingStitch(const std::vector<Branch>& branches, int rows, double interval, double window_s,
                             std::string again)
    : rows_(rows), interval_(interval), window_(std::clamp(static_cast<int>(std::lround(window_s / interval)), 1, rows)),
      again_(std::move(again))
{
    for (const bool clear : {false, true})
        for (const Branch& branch : branches)
            if (!(clear ? branch.clear_monitor : branch.monitor).empty())
                pieces_.emplace_back(clear, &branch);
    running_.resize(pieces_.size());
    for (std::size_t k = 0; k < pieces_.size(); ++k) {
        running_[k].loading.sky = pieces_[k].first ? "clear" : "sky";
        running_[k].loading.branch = pieces_[k].second;
        running_[k].ring.assign(static_cast<std::size_t>(window_), 0);
    }
}

void LoadingStitch::add(const ResultsFolder& results, const std::string& circuit, int first, int recorded, int own,
                        int last, bool twin_voltages)
{
    if (pieces_.empty())
        return;
    if (ratings_.empty()) {
        const std::optional<fs::path> dump = results.named(lower(property_dump_name(circuit)));
        if (!dump)
            throw StudyError(results.folder().string() + " holds no " + property_dump_name(circuit) +
                             ", which gives each line's and transformer's rating: " + again_);
        ratings_ = read_property_dump(*dump);
    }
    share_out(pieces_.size(), threads_for(pieces_.size()), [&](std::size_t, std::size_t piece) {
        const auto [clear, at] = pieces_[piece];
        const Branch& branch = *at;
        Running& state = running_[piece];
        const std::string& name = clear ? branch.clear_monitor : branch.monitor;
        const auto rating = ratings_.find(lower(branch.element));
        if (rating == ratings_.end() || rating->second.phases < 1 || rating->second.normal_a <= 0 ||
            rating->second.emergency_a <= 0)
            throw StudyError(results.folder().string() + "'s property dump gives no phases, NormAmps or EmergAmps of " +
                             branch.element + ": " + again_);
        state.loading.rating = rating->second;
        const std::optional<fs::path> file = results.monitor(name);
        if (!file)
            throw StudyError(results.folder().string() + " holds no export of the monitor " + name + " (" +
                             branch.element + "): " + again_);
        // A bus's voltage monitor begins again at the overlap's last row; the others record all of it.
        const std::string tail = name.substr(name.rfind('_') + 1);
        const bool voltage_monitor = !tail.empty() && tail.front() == 'v';
        const int from = voltage_monitor && (!clear || twin_voltages) ? recorded : first;
        const std::vector<double> amps =
            branch_amps(*file, branch.element, rating->second.phases, last - from + 1, interval_, from);
        Loading& loading = state.loading;
        const double normal = rating->second.normal_a;
        for (int row = own; row <= last; ++row) {
            const double a = amps[static_cast<std::size_t>(row - from)];
            const double pct = 100 * a / normal;
            if (state.seen == 0 || pct > loading.max_pct) {
                loading.max_pct = pct;
                loading.max_row = row;
            }
            loading.s_over_normal += a > normal ? interval_ : 0;
            loading.s_over_emergency += a > rating->second.emergency_a ? interval_ : 0;
            // The moving average over the last `window_` rows, the ring holding them.
            state.sum += pct - state.ring[state.at];
            state.ring[state.at] = pct;
            state.at = (state.at + 1) % state.ring.size();
            ++state.seen;
            if (state.seen >= window_ && (state.seen == window_ || state.sum / window_ > loading.window_pct)) {
                loading.window_pct = state.sum / window_;
                loading.window_end_row = row;
            }
        }
    });
}

std::vector<Loading> LoadingStitch::finish() const
{
    std::vector<Loading> out;
    out.reserve(running_.size());
    for (const Running& state : running_)
        if (state.seen == rows_)
            out.push_back(state.loading);
    return out;
}

std::string loading_report_text(const std::vector<Loading>& loading, const Sky& sky)
{
    std::string out = "sky,element,kind,bus1,bus2,normal_a,emergency_a,rated_by,max_pct_normal,"
                      "max_row,max_time,"
                      "s_over_normal,s_over_emergency,window_pct_normal,window_end_row\n";
    // The clock time where the sky has one, else the sun table's own time field.
    const auto time_of = [&](int row) {
        if (sky.start)
            return clock_text(*sky.start + (row - 1) * sky.interval);
        return row >= 1 && row <= static_cast<int>(sky.times.size()) ? sky.times[static_cast<std::size_t>(row - 1)]
                                                                     : std::string();
    };
    for (const Loading& l : loading)
        append_csv_row(out, {l.sky, l.branch->element, l.branch->kind, l.branch->bus1, l.branch->bus2,
                             decimal_text(l.rating.normal_a, 3), decimal_text(l.rating.emergency_a, 3),
                             l.branch->rated ? "circuit" : "engine default", decimal_text(l.max_pct, 3),
                             std::to_string(l.max_row), time_of(l.max_row), decimal_text(l.s_over_normal, 3),
                             decimal_text(l.s_over_emergency, 3), decimal_text(l.window_pct, 3),
                             std::to_string(l.window_end_row)});
    return out;
}

std::vector<std::string> loading_summary(const std::vector<Loading>& loading, const Sky& sky, double window_s)
{
    std::vector<std::string> out;
    if (loading.empty())
        return out;
    const auto worst = [&](const std::string& of) -> const Loading* {
        const Loading* best = nullptr;
        for (const Loading& l : loading)
            if (l.sky == of && (best == nullptr || l.max_pct > best->max_pct))
                best = &l;
        return best;
    };
    const auto seconds = [](double s) {
        return decimal_text(s, s == std::floor(s) ? 0 : 1) + (s == 1 ? " second" : " seconds");
    };
    const Loading* sky_worst = worst("sky");
    const double run_s = sky.rows * sky.interval;
    const std::string window = window_s >= run_s ? std::string("the whole run") : seconds(window_s);
    const Loading* clear_worst = worst("clear");
    std::string line = "The most loaded line or transformer under the sky: " + sky_worst->branch->element + " at " +
                       decimal_text(sky_worst->max_pct, 1) + " % of its normal rating (" +
                       decimal_text(sky_worst->rating.normal_a, 1) + " A, " +
                       (sky_worst->branch->rated ? "the circuit's" : "the engine's default") + ") at row " +
                       std::to_string(sky_worst->max_row) + " (" + row_time(sky, sky_worst->max_row) + "), " +
                       seconds(sky_worst->s_over_normal) + " over it, at most " +
                       decimal_text(sky_worst->window_pct, 1) + " % on average over " + window;
    if (clear_worst != nullptr)
        line += "; under the clear sky " + clear_worst->branch->element + " at " +
                decimal_text(clear_worst->max_pct, 1) + " %, " + seconds(clear_worst->s_over_normal) + " over it";
    out.push_back(line + " (loading_report.csv).");
    std::size_t elements = 0, defaulted = 0;
    for (const Loading& l : loading)
        if (l.sky == "sky") {
            ++elements;
            defaulted += l.branch->rated ? 0 : 1;
        }
    if (defaulted > 0)
        out.push_back(std::to_string(defaulted) + " of the " + std::to_string(elements) +
                      " lines and transformers carry the engine's default rating, "
                      "the circuit giving none (a line "
                      "400 A normal, 600 A emergency): their loading is against a "
                      "rating nobody gave "
                      "(rated_by in loading_report.csv).");
    return out;
}

}  // namespace umbrascope::study

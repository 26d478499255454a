#include "study/plan.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <limits>
#include <unordered_map>

#include "core/lines.hpp"
#include "core/words.hpp"
#include "import/elements.hpp"
#include "import/source_files.hpp"
#include "scenario/sun_model.hpp"
#include "scenario/track.hpp"

namespace umbrascope::study {

namespace fs = std::filesystem;

namespace {

constexpr int unwatched = -1;

// Customers' own elements first (a load sees what its customer gets), then lines, transformers,
// shunt capacitors and reactors, and the source last.
int preference(const std::string& element_class)
{
    if (element_class == "load" || element_class == "pvsystem" || element_class == "generator" ||
        element_class == "storage")
        return 0;
    if (element_class == "line")
        return 1;
    if (element_class == "transformer" || element_class == "autotrans")
        return 2;
    if (element_class == "capacitor" || element_class == "reactor")
        return 3;
    return 4;
}

// The phase nodes (1, 2, 3) a terminal's conductors meet, as bits 1 to 3.
unsigned phase_bits(const std::vector<int>& nodes)
{
    unsigned bits = 0;
    for (const int node : nodes)
        if (node >= 1 && node <= 3)
            bits |= 1U << static_cast<unsigned>(node);
    return bits;
}

int count_bits(unsigned bits)
{
    int n = 0;
    for (; bits != 0; bits &= bits - 1)
        ++n;
    return n;
}

struct Candidate {
    std::size_t element = 0;
    std::size_t terminal = 0;  // from 0
    unsigned bits = 0;
};

// A path as one word of an OpenDSS command.
std::string quoted_path(const fs::path& path)
{
    const std::string text = path.string();
    if (text.find('"') == std::string::npos)
        return '"' + text + '"';
    if (text.find('\'') == std::string::npos)
        return '\'' + text + '\'';
    throw StudyError("the path " + text + " holds both kinds of quote, which no OpenDSS command can name");
}


// Each bus's count of elements in series from `source`, through elements in service; the most
// an int holds where none leads there.
std::vector<int> hops_from(const import::Circuit& circuit, int source)
{
    std::vector<std::vector<int>> next_to(circuit.buses.size());
    for (const import::Span& span : circuit.spans) {
        next_to[static_cast<std::size_t>(span.from)].push_back(span.to);
        next_to[static_cast<std::size_t>(span.to)].push_back(span.from);
    }
    constexpr int unreached = std::numeric_limits<int>::max();
    std::vector<int> hops(circuit.buses.size(), unreached);
    std::vector<int> queue;
    if (source >= 0) {
        hops[static_cast<std::size_t>(source)] = 0;
        queue.push_back(source);
    }
    for (std::size_t k = 0; k < queue.size(); ++k)
        for (const int next : next_to[static_cast<std::size_t>(queue[k])])
            if (hops[static_cast<std::size_t>(next)] == unreached) {
                hops[static_cast<std::size_t>(next)] = hops[static_cast<std::size_t>(queue[k])] + 1;
                queue.push_back(next);
            }
    return hops;
}

}  // namespace

Plan plan_monitors(const import::Circuit& circuit, const Drawn& drawn, const std::vector<StandIn>& stand_ins,
                   const std::string& prefix)
{
    std::unordered_map<std::string, int> bus_index;
    for (std::size_t b = 0; b < circuit.buses.size(); ++b)
        bus_index.emplace(circuit.buses[b], static_cast<int>(b));

    // The drawn bus each watched circuit bus counts for: its own where it is drawn, else the one
    // that stands for the customer at it.
    std::vector<int> counts_for(circuit.buses.size(), unwatched);
    std::vector<bool> is_drawn(circuit.buses.size(), false);
    Plan plan;
    for (std::size_t d = 0; d < drawn.names.size(); ++d) {
        const auto found = bus_index.find(import::bus_key(drawn.names[d]));
        if (found == bus_index.end()) {
            plan.unseen.push_back(drawn.names[d]);
            continue;
        }
        counts_for[static_cast<std::size_t>(found->second)] = static_cast<int>(d);
        is_drawn[static_cast<std::size_t>(found->second)] = true;
    }
    for (const StandIn& stand_in : stand_ins) {
        const auto found = bus_index.find(stand_in.bus);
        const std::optional<int> d = stand_in.drawn_bus.empty() ? std::nullopt : drawn.find(stand_in.drawn_bus);
        if (found != bus_index.end() && d && counts_for[static_cast<std::size_t>(found->second)] == unwatched)
            counts_for[static_cast<std::size_t>(found->second)] = *d;
    }

    // The terminals at each watched bus.
    std::vector<std::vector<Candidate>> at_bus(circuit.buses.size());
    for (std::size_t e = 0; e < circuit.wired.size(); ++e) {
        const import::WiredElement& element = circuit.wired[e];
        for (std::size_t t = 0; t < element.terminals.size(); ++t) {
            const std::optional<import::Terminal>& terminal = element.terminals[t];
            if (!terminal || counts_for[static_cast<std::size_t>(terminal->bus)] == unwatched)
                continue;
            if (const unsigned bits = phase_bits(terminal->nodes); bits != 0)
                at_bus[static_cast<std::size_t>(terminal->bus)].push_back({e, t, bits});
        }
    }

    // At each bus, greedily the terminal that sees the most nodes not yet seen. Among as many, one
    // whose monitor gives a line's or transformer's loading too: the line that feeds the bus (its
    // second terminal, whose current is its first's but for the line's charging), else a first
    // terminal, of a branch no monitor watches yet; then by class.
    std::vector<bool> branch_watched(circuit.wired.size(), false);
    const auto branch_terminal = [&](const Candidate& candidate) {
        const std::string& of = circuit.wired[candidate.element].element_class;
        return (candidate.terminal == 0 && (of == "line" || of == "transformer" || of == "autotrans")) ||
               (candidate.terminal == 1 && of == "line");
    };
    const auto rank = [&](const Candidate& candidate) {
        if (branch_terminal(candidate) && !branch_watched[candidate.element])
            return candidate.terminal == 1 ? -2 : -1;
        return preference(circuit.wired[candidate.element].element_class);
    };
    struct Chosen {
        int drawn;
        std::size_t bus;
        Candidate candidate;
    };
    std::vector<Chosen> chosen;
    std::vector<bool> drawn_seen(drawn.names.size(), false);
    for (std::size_t b = 0; b < circuit.buses.size(); ++b) {
        if (counts_for[b] == unwatched || at_bus[b].empty())
            continue;
        unsigned left = 0;
        for (const Candidate& candidate : at_bus[b])
            left |= candidate.bits;
        plan.nodes += count_bits(left);
        if (is_drawn[b])
            ++plan.drawn;
        else
            ++plan.customers;
        drawn_seen[static_cast<std::size_t>(counts_for[b])] = true;
        while (left != 0) {
            const Candidate* best = nullptr;
            int best_new = 0;
            for (const Candidate& candidate : at_bus[b]) {
                const int fresh = count_bits(candidate.bits & left);
                if (fresh > best_new || (fresh == best_new && fresh > 0 && rank(candidate) < rank(*best))) {
                    best = &candidate;
                    best_new = fresh;
                }
            }
            chosen.push_back({counts_for[b], b, *best});
            if (branch_terminal(*best))
                branch_watched[best->element] = true;
            left &= ~best->bits;
        }
    }
    for (std::size_t d = 0; d < drawn.names.size(); ++d)
        if (!drawn_seen[d] && std::find(plan.unseen.begin(), plan.unseen.end(), drawn.names[d]) == plan.unseen.end())
            plan.unseen.push_back(drawn.names[d]);
    std::stable_sort(chosen.begin(), chosen.end(), [](const Chosen& a, const Chosen& b) { return a.drawn < b.drawn; });

    for (const Chosen& pick : chosen) {
        const import::WiredElement& element = circuit.wired[pick.candidate.element];
        const import::Terminal& terminal = *element.terminals[pick.candidate.terminal];
        plan.monitors.push_back({prefix + "v" + std::to_string(plan.monitors.size() + 1), element.name,
                                 static_cast<int>(pick.candidate.terminal) + 1, circuit.buses[pick.bus],
                                 drawn.names[static_cast<std::size_t>(pick.drawn)], terminal.nodes});
    }
    return plan;
}

std::string map_text(const Plan& plan)
{
    std::string out = "monitor,element,terminal,conductor,bus,node,drawn_bus\n";
    for (const Monitor& monitor : plan.monitors)
        for (std::size_t k = 0; k < monitor.nodes.size(); ++k)
            append_csv_row(out, {monitor.name, monitor.element, std::to_string(monitor.terminal), std::to_string(k + 1),
                                 monitor.bus, std::to_string(monitor.nodes[k]), monitor.drawn_bus});
    return out;
}

std::vector<Monitor> read_map(const fs::path& path)
{
    std::error_code error;
    if (!fs::exists(path, error))
        throw StudyError("there is no " + path.string() + ", which says what each monitor column is: write the "
                         "study with umbrascope-study write FOLDER --loadshapes SHAPES first");
    std::vector<Monitor> monitors;
    each_line(read_text(path, "monitor map"), [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        const std::optional<std::vector<std::string>> fields = csv_fields(line);
        const auto whole = [](const std::string& text) -> std::optional<int> {
            int value = 0;
            const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (text.empty() || failed != std::errc() || end != text.data() + text.size())
                return std::nullopt;
            return value;
        };
        std::optional<int> terminal, conductor, node;
        if (fields && fields->size() == 7) {
            terminal = whole((*fields)[2]);
            conductor = whole((*fields)[3]);
            node = whole((*fields)[5]);
        }
        if (!terminal || !conductor || !node || *conductor < 1 || *conductor > 1000)
            throw StudyError(path.string() + ":" + std::to_string(number) +
                             ": a line is monitor,element,terminal,conductor,bus,node,drawn_bus");
        const std::vector<std::string>& f = *fields;
        if (monitors.empty() || monitors.back().name != f[0])
            monitors.push_back({f[0], f[1], *terminal, f[4], f[6], {}});
        Monitor& monitor = monitors.back();
        if (monitor.nodes.size() < static_cast<std::size_t>(*conductor))
            monitor.nodes.resize(static_cast<std::size_t>(*conductor), 0);
        monitor.nodes[static_cast<std::size_t>(*conductor - 1)] = *node;
    });
    return monitors;
}

std::vector<ControlWatch> plan_controls(const import::Circuit& circuit, const Drawn& drawn, const std::string& prefix,
                                        bool twin)
{
    // The drawn bus that stands for each circuit bus, as the import chose it for the customers.
    import::Network network;
    for (std::size_t d = 0; d < drawn.names.size(); ++d)
        network.buses.push_back({drawn.names[d], import::bus_key(drawn.names[d]), 0, 0, {}});
    const std::vector<int> nearest = import::nearest_drawn(circuit, network);
    const auto drawn_of = [&](int bus) {
        return bus >= 0 && nearest[static_cast<std::size_t>(bus)] >= 0
                   ? drawn.names[static_cast<std::size_t>(nearest[static_cast<std::size_t>(bus)])]
                   : std::string();
    };
    const auto bus_of = [&](int bus) { return bus >= 0 ? circuit.buses[static_cast<std::size_t>(bus)] : std::string(); };
    std::vector<ControlWatch> watches;
    const auto add = [&](std::string kind, std::string name, std::string element, int terminal, int bus,
                         const std::string& monitor, double pmpp_kw = 0, bool reversible = false) {
        watches.push_back({std::move(kind), std::move(name), std::move(element), terminal, prefix + monitor,
                           twin ? prefix + "clear_" + monitor : std::string(), bus_of(bus), drawn_of(bus), pmpp_kw,
                           reversible});
    };
    int taps = 0, caps = 0;
    for (const import::Control& control : circuit.controls) {
        const bool regulator = control.kind == "regcontrol";
        add(control.kind, control.name, control.element, regulator ? control.winding : 1, control.bus,
            regulator ? "tap" + std::to_string(++taps) : "cap" + std::to_string(++caps));
    }
    // The circuit's source, at its bus (sourcebus where New Circuit names none).
    int source = -1;
    for (std::size_t b = 0; b < circuit.buses.size(); ++b)
        if (circuit.buses[b] == circuit.source_bus)
            source = static_cast<int>(b);
    add("head", "source", "Vsource.source", 1, source, "head");
    int pv = 0;
    for (const import::WiredElement& element : circuit.wired)
        if (element.element_class == "pvsystem" && !element.terminals.empty() && element.terminals.front())
            add("pv", element.name.substr(element.name.find('.') + 1), element.name, 1, element.terminals.front()->bus,
                "pv" + std::to_string(++pv), element.pmpp.value_or(0));

    // The power through each regulator, at its transformer's terminal fewest elements from the
    // source (the first where both are as near, or neither is reached).
    const std::vector<int> hops = hops_from(circuit, source);
    int flows = 0;
    for (const import::Control& control : circuit.controls) {
        if (control.kind != "regcontrol")
            continue;
        const auto wired = std::find_if(circuit.wired.begin(), circuit.wired.end(), [&](const import::WiredElement& e) {
            return lower(e.name) == lower(control.element);
        });
        if (wired == circuit.wired.end())
            continue;
        std::size_t upstream = wired->terminals.size();
        for (std::size_t t = 0; t < wired->terminals.size(); ++t)
            if (wired->terminals[t] &&
                (upstream == wired->terminals.size() ||
                 hops[static_cast<std::size_t>(wired->terminals[t]->bus)] <
                     hops[static_cast<std::size_t>(wired->terminals[upstream]->bus)]))
                upstream = t;
        if (upstream == wired->terminals.size())
            continue;
        add("regflow", control.name, control.element, static_cast<int>(upstream) + 1, wired->terminals[upstream]->bus,
            "flow" + std::to_string(++flows), 0, control.reversible);
    }
    return watches;
}

std::string pv_state_monitor(const std::string& pv_monitor)
{
    const std::size_t at = pv_monitor.rfind("_pv");
    return at == std::string::npos ? pv_monitor + "state" : pv_monitor.substr(0, at + 3) + "state" + pv_monitor.substr(at + 3);
}

std::string controls_map_text(const std::vector<ControlWatch>& watches)
{
    std::string out = "kind,name,element,terminal,monitor,clear_monitor,bus,drawn_bus,pmpp_kw,reversible\n";
    for (const ControlWatch& watch : watches)
        append_csv_row(out, {watch.kind, watch.name, watch.element, std::to_string(watch.terminal), watch.monitor,
                             watch.clear_monitor, watch.bus, watch.drawn_bus,
                             watch.pmpp_kw > 0 ? decimal_text(watch.pmpp_kw, 6) : std::string(),
                             watch.reversible ? "yes" : ""});
    return out;
}

std::vector<ControlWatch> read_controls_map(const fs::path& path)
{
    std::error_code error;
    if (!fs::exists(path, error))
        throw StudyError("there is no " + path.string() + ", which says what the study recorded of the regulators, "
                         "capacitors and power: write the study with umbrascope-study write FOLDER --loadshapes SHAPES, run it, "
                         "then read it");
    std::vector<ControlWatch> watches;
    each_line(read_text(path, "controls map"), [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        std::optional<std::vector<std::string>> fields = csv_fields(line);
        int terminal = 0;
        // A map written before Pmpp was recorded knows none: -1.
        std::optional<double> pmpp = fields && fields->size() == 8 ? -1.0 : 0.0;
        const bool rated = fields && fields->size() == 10;
        if (rated && !(*fields)[8].empty())
            pmpp = number_of((*fields)[8]);
        const bool fits = fields && (fields->size() == 8 || rated) && pmpp && (*pmpp >= 0 || !rated) &&
                          (!rated || (*fields)[9].empty() || (*fields)[9] == "yes") &&
                          std::from_chars((*fields)[3].data(), (*fields)[3].data() + (*fields)[3].size(), terminal).ec ==
                              std::errc() &&
                          terminal >= 1;
        const std::string kind = fits ? (*fields)[0] : std::string();
        if (!fits || (kind != "regcontrol" && kind != "capcontrol" && kind != "head" && kind != "pv" && kind != "regflow") ||
            (*fields)[4].empty())
            throw StudyError(path.string() + ":" + std::to_string(number) +
                             ": a line is kind,name,element,terminal,monitor,clear_monitor,bus,drawn_bus,pmpp_kw,reversible");
        std::vector<std::string>& f = *fields;
        watches.push_back({f[0], f[1], f[2], terminal, f[4], f[5], f[6], f[7], *pmpp, rated && f[9] == "yes"});
    });
    return watches;
}

std::string settle_summary_name(const std::string& run, bool clear)
{
    return run + (clear ? "_clear_settle.csv" : "_settle.csv");
}

std::string voltages_export_name(const std::string& run) { return run + "_voltages.csv"; }

std::string taps_export_name(const std::string& run, bool clear) { return run + (clear ? "_clear_taps.csv" : "_taps.csv"); }

std::string end_marker_name(const std::string& run) { return run + "_end.csv"; }

std::string begin_marker_name(const std::string& run) { return run + "_begin.csv"; }

namespace {

// OpenDSS's own spelling of a control mode.
std::string mode_word(const std::string& mode)
{
    if (mode == "off")
        return "Off";
    if (mode == "static")
        return "Static";
    if (mode == "event")
        return "Event";
    if (mode == "time")
        return "Time";
    if (mode == "multirate")
        return "MultiRate";
    return mode;
}

}  // namespace

std::string clear_voltage_monitor(const std::string& name)
{
    const std::size_t at = name.rfind("_v");
    return at == std::string::npos ? "clear_" + name : name.substr(0, at + 1) + "clear_" + name.substr(at + 1);
}

std::string voltage_monitor_lines(const Plan& plan, bool clear)
{
    std::string out;
    for (const Monitor& monitor : plan.monitors) {
        out += "New Monitor.";
        out += clear ? clear_voltage_monitor(monitor.name) : monitor.name;
        out += " element=";
        out += dss_name(monitor.element);
        out += " terminal=";
        out += std::to_string(monitor.terminal);
        out += " mode=32\n";
    }
    return out;
}

std::string voltage_export_lines(const Plan& plan, bool clear)
{
    std::string out;
    for (const Monitor& monitor : plan.monitors) {
        out += "Export Monitors ";
        out += clear ? clear_voltage_monitor(monitor.name) : monitor.name;
        out += '\n';
    }
    return out;
}

std::string script_text(const ScriptFacts& facts, const Plan& plan, const std::vector<ControlWatch>& watches,
                        const std::vector<Branch>& branches)
{
    const std::string interval = decimal_text(facts.interval, 6);
    const std::string rows = std::to_string(facts.rows);
    // The engine's clock one step before the first row: a Solve steps on, then solves.
    const double before = (facts.first_row - 1) * facts.interval;
    const double hours = std::floor(before / 3600 + 1e-9);
    const std::string time = "Set Time=(" + decimal_text(hours, 0) + "," + decimal_text(before - hours * 3600, 6) + ")\n";
    const bool off = facts.control_mode == "off";
    // The circuit's own control mode holds through the study: Off stays off; otherwise the settle
    // acts at once (Static) and the series in the circuit's mode, Time where it sets none.
    const std::string settle_mode = off ? "Off" : "Static";
    const std::string series_mode = facts.control_mode.empty() ? "Time" : mode_word(facts.control_mode);
    int regulators = 0, pv = 0;
    for (const ControlWatch& watch : watches) {
        regulators += watch.kind == "regcontrol" ? 1 : 0;
        pv += watch.kind == "pv" ? 1 : 0;
    }
    const std::string results = quoted_path(facts.results);

    std::string out;
    out += "! The time series of the sky over " + (facts.circuit_name.empty() ? std::string("the circuit") : facts.circuit_name) +
           ", written by umbrascope-study for " + facts.folder.string() + ".\n";
    out += "! Run it in OpenDSS from any folder: compile " + quoted_path(facts.folder / "study.dss") + "\n";
    out += "! It solves " + rows + (facts.rows == 1 ? " step of " : " steps of ") + interval +
           " s, one a row of the sun table, and writes what its\n";
    out += "! monitors saw into " + facts.results.string() + ", from where\n";
    out += "!     umbrascope-study read " + (facts.study_folder.empty() ? facts.folder : facts.study_folder).string() + "\n";
    out += "! brings the lowest and highest voltage of every drawn bus, row by row, beside the sun table, and\n";
    out += "! what the regulators, the capacitors and the feeder's head did.\n";
    out += "! For the sky of its sun table, fingerprint " + facts.sky_fingerprint + "\n";
    out += "! For the circuit's files as they were read, fingerprint " + facts.circuit_fingerprint + "\n";
    out += "! Every export of this script is named " + facts.run + "_...: read takes those of this script alone.\n";
    if (facts.twin_voltages)
        out += std::string(twin_voltages_mark) + "\n";
    if (!facts.slice_mark.empty())
        out += facts.slice_mark + "\n";
    if (!facts.shared.empty())
        out += std::string(shared_monitors_mark) + facts.shared.string() + "\n";
    out += "\n";
    // The voltage monitors: here, or in the files every case of a sweep's sky shares.
    const auto shared_or = [&](const char* name, const std::function<std::string()>& lines) {
        out += facts.shared.empty() ? lines() : "Redirect " + quoted_path(facts.shared / name) + "\n";
    };

    const auto circuit_and_sky = [&](bool clear) {
        out += "Compile " + quoted_path(facts.circuit) + "\n";
        out += "Redirect " + quoted_path(facts.shapes) + "\n";
        if (!facts.clear_shape.empty() && facts.twin)
            out += facts.clear_shape + "\n";
        out += facts.after_shapes;
        if (clear && facts.pv_systems)
            out += "Batchedit PVSystem..* daily=clear_sky duty=clear_sky\n";
        out += "Set DataPath=" + results + "\n";
    };
    const auto settle = [&](bool clear) {
        out += "Set Mode=Duty Number=1 Stepsize=" + interval + "\n";
        // Handed on, the controls are put where the slice before left them and stay there.
        out += "Set ControlMode=" + (facts.handed ? std::string("Off") : settle_mode) + "\n";
        for (const ControlWatch& watch : watches)
            if (watch.kind == "regcontrol" || watch.kind == "capcontrol")
                out += "New Monitor." + (clear ? watch.clear_monitor : watch.monitor) + " element=" + dss_name(watch.element) +
                       " terminal=" + std::to_string(watch.terminal) + (watch.kind == "regcontrol" ? " mode=2\n" : " mode=6\n");
        if (facts.handed)
            for (const HandedState& state : clear ? facts.handed->clear : facts.handed->sky) {
                if (state.kind == "regcontrol") {
                    out += "Edit RegControl." + dss_name(state.name) + " TapNum=" + std::to_string(state.position) + "\n";
                    continue;
                }
                out += "Edit " + dss_name(state.element) + " States=[";
                for (std::size_t k = 0; k < state.steps.size(); ++k) {
                    if (k > 0)
                        out += ' ';
                    out += state.steps[k];
                }
                out += "]\n";
            }
        for (int solve = 0; solve < settle_solves; ++solve)
            out += time + "Solve\n";
        out += "Export Summary " + quoted_path(settle_summary_name(facts.run, clear)) + "\n";
        if (!clear)
            out += "Export Voltages " + quoted_path(voltages_export_name(facts.run)) + "\n";
        if (regulators > 0)
            out += "Export Taps " + quoted_path(taps_export_name(facts.run, clear)) + "\n";
        // Every element's properties as the engine holds them, the lines' and transformers'
        // ratings among them, defaults included.
        if (!clear && !branches.empty())
            out += "Dump\n";
    };
    const auto power_monitors = [&](bool clear) {
        for (const ControlWatch& watch : watches)
            if (watch.kind == "head" || watch.kind == "pv" || watch.kind == "regflow")
                out += "New Monitor." + (clear ? watch.clear_monitor : watch.monitor) + " element=" + dss_name(watch.element) +
                       " terminal=" + std::to_string(watch.terminal) + " mode=1 ppolar=no\n";
        // What each PV system could give, against what it gave: its curtailment.
        for (const ControlWatch& watch : watches)
            if (watch.kind == "pv")
                out += "New Monitor." + pv_state_monitor(clear ? watch.clear_monitor : watch.monitor) +
                       " element=" + dss_name(watch.element) + " terminal=1 mode=3\n";
        out += branch_monitor_lines(branches, clear, facts.twin_voltages);
    };
    const auto series = [&](bool clear) {
        const bool voltages = !clear || facts.twin_voltages;
        if (facts.unrecorded > 0 && facts.unrecorded < facts.rows && voltages) {
            // The overlap's voltages are the slice before's to give: the voltage monitors start
            // again at its last row, which the stitching compares, and the engine exports no more.
            out += "Set Number=" + std::to_string(facts.unrecorded) + "\n";
            out += time;
            out += "Set ControlMode=" + series_mode + "\n";
            out += "Solve\n";
            out += "Batchedit Monitor.^" + facts.run + (clear ? "_clear_v" : "_v") + "[0-9]+$ action=reset\n";
            out += "Set Number=" + std::to_string(facts.rows - facts.unrecorded) + "\n";
            out += "Solve\n";
            return;
        }
        out += "Set Number=" + rows + "\n";
        out += time;
        out += "Set ControlMode=" + series_mode + "\n";
        out += "Solve\n";
    };
    const auto exports = [&](bool clear) {
        for (const ControlWatch& watch : watches) {
            out += "Export Monitors " + (clear ? watch.clear_monitor : watch.monitor) + "\n";
            if (watch.kind == "pv")
                out += "Export Monitors " + pv_state_monitor(clear ? watch.clear_monitor : watch.monitor) + "\n";
        }
        out += branch_export_lines(branches, clear, facts.twin_voltages);
    };

    out += "! 1. The circuit as umbrascope-import read it, then the sky: the loadshapes umbrascope-clouds made,\n";
    out += "!    with an Edit giving each PV system the loadshape of its drawn bus.\n";
    circuit_and_sky(false);
    out += "! The run's first mark: where the engine stops in the settle, read can tell it began.\n";
    out += "Export Summary " + quoted_path(begin_marker_name(facts.run)) + "\n";
    out += "\n";

    if (facts.handed) {
        const std::string handed_from = "slice " + std::to_string(facts.handed->from_slice);
        out += "! 2. Handed on: each regulator's tap and each capacitor's steps begin where " + handed_from + "'s run had\n";
        out += "!    them at this first row, instead of settling there: they are set, and the Solves at the\n";
        out += "!    first step's time leave them as they are (Off); the overlap then runs as the whole run did\n";
        out += "!    there, in the circuit's control mode. Monitors of mode 2 record each regulator's tap and of mode\n";
    } else {
        out += "! 2. The settle: the regulators and capacitors come to rest at the first row's sky. Duty mode at\n";
        out += "!    the first step's time puts every PV system and load at its first row; each Solve there lets\n";
        out += "!    the controls act at once (" + settle_mode + "), again and again, until a Solve moves nothing\n";
        out += "!    (the summary's last line says so). Monitors of mode 2 record each regulator's tap and of mode\n";
    }
    out += "!    6 each capacitor's steps, through the settle and then the series. Then each bus's voltage\n";
    out += "!    base goes into the results (BasekV, line to line, from the circuit's Set VoltageBases), and\n";
    out += "!    the regulators' taps with their range and step.";
    out += branches.empty() ? std::string("\n")
                            : std::string(" Dump writes every element's properties as the engine\n"
                                          "!    holds them, the lines' and transformers' ratings (NormAmps, EmergAmps) among them.\n");
    if (off)
        out += "!    The circuit sets ControlMode=Off, which the study keeps: its controls do not act.\n";
    settle(false);
    out += "\n";

    out += "! 3. " + std::to_string(plan.monitors.size()) + " monitors on element terminals that together see every phase node of the " +
           std::to_string(plan.drawn) + " drawn buses\n";
    out += plan.customers == 0 ? std::string("!    (no customer's bus stands apart from them); study_monitors.csv, beside this script, says which\n")
                               : "!    and of the " + std::to_string(plan.customers) +
                                     " customers' buses they stand for; study_monitors.csv, beside this script, says which\n";
    out += "!    bus and node each voltage column is. Mode 32: the magnitudes of the voltages and currents.\n";
    out += "!    Then the power the circuit takes from its source and each of its " + std::to_string(pv) +
           " PV systems' output (mode 1, P and Q),\n";
    out += "!    with each PV system's state (mode 3: its panel's kW and efficiency, what it could give);\n";
    if (regulators > 0)
        out += "!    and the power through each regulator, at its side toward the source (mode 1);\n";
    if (!branches.empty())
        out += "!    And the current through each of the " + std::to_string(branches.size()) +
               " lines and transformers at its first terminal (mode 32), for its loading;\n"
               "!    study_branches.csv says which.\n";
    out += "!    study_controls.csv says what each of these monitors is.\n";
    shared_or("voltage_monitors.dss", [&] { return voltage_monitor_lines(plan, false); });
    power_monitors(false);
    out += "\n";

    out += "! 4. The time series: " + rows + (facts.rows == 1 ? " step of " : " steps of ") + interval +
           (facts.first_row == 1 ? std::string(" s. Monitor row k is sun-table row k, the first\n")
                                 : " s. Monitor row k is sun-table row k + " + std::to_string(facts.first_row - 1) +
                                       ", the first\n");
    out += "!    one step in, as a loadshape's point k is. The controls act step by step in ControlMode=" + series_mode + ";\n";
    out += "!    to change it, change its line here (a Set Mode line would set it to Time again).\n";
    if (facts.unrecorded > 0 && facts.unrecorded < facts.rows)
        out += "!    The voltage monitors begin again after the first " + std::to_string(facts.unrecorded) +
               " steps, the overlap's but its last: their row k is\n!    sun-table row k + " +
               std::to_string(facts.first_row + facts.unrecorded - 1) + ".\n";
    out += "!    The loads keep the circuit's own loadshapes: in this mode a load follows its duty= shape,\n";
    out += "!    else its daily= shape, else it stays at its base. To give them others, add lines such as\n";
    out += "!    Edit Load.NAME duty=SHAPE, or Batchedit Load..* duty=SHAPE, after the Redirect of the sky.\n";
    series(false);
    out += "\n";

    out += "! 5. What each monitor saw, a file each: <circuit>_Mon_<monitor>_1.csv in the results.\n";
    shared_or("voltage_exports.dss", [&] { return voltage_export_lines(plan, false); });
    exports(false);
    out += "\n";

    if (facts.twin) {
        out += "! 6. The clear-sky twin: the same circuit, settle and series with every PV system under a clear\n";
        out += "!    sky (the clear_sky loadshape: 1, times the sun's course where umbrascope-clouds was given\n";
        out += "!    one), so that what the cloud costs the regulators and capacitors is the difference.";
        out += facts.twin_voltages ? " It\n!    records the voltages too, with monitors named clear_.\n" : " Its\n!    voltages are not recorded.\n";
        out += "Clear\n";
        circuit_and_sky(true);
        settle(true);
        power_monitors(true);
        if (facts.twin_voltages)
            shared_or("clear_voltage_monitors.dss", [&] { return voltage_monitor_lines(plan, true); });
        series(true);
        if (facts.twin_voltages)
            shared_or("clear_voltage_exports.dss", [&] { return voltage_export_lines(plan, true); });
        exports(true);
        out += "\n";
    }
    if (!facts.slice_export.empty())
        out += "Export Summary " + quoted_path(facts.slice_export) + "\n";
    out += "! " + std::string(facts.twin ? "7" : "6") + ". The run is whole: umbrascope-study read takes its exports only where this is there.\n";
    out += "Export Summary " + quoted_path(end_marker_name(facts.run)) + "\n";
    return out;
}

}  // namespace umbrascope::study

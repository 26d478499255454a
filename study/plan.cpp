#include "study/plan.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <unordered_map>

#include "core/lines.hpp"
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

std::string word(const std::string& name)
{
    try {
        return scenario::dss_word(name);
    } catch (const scenario::ScenarioError& error) {
        throw StudyError(error.what());
    }
}

}  // namespace

Plan plan_monitors(const import::Circuit& circuit, const Drawn& drawn, const std::vector<StandIn>& stand_ins)
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

    // At each bus, greedily the terminal that sees the most nodes not yet seen.
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
                if (fresh > best_new ||
                    (fresh == best_new && fresh > 0 &&
                     preference(circuit.wired[candidate.element].element_class) <
                         preference(circuit.wired[best->element].element_class))) {
                    best = &candidate;
                    best_new = fresh;
                }
            }
            chosen.push_back({counts_for[b], b, *best});
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
        plan.monitors.push_back({"study_v" + std::to_string(plan.monitors.size() + 1), element.name,
                                 static_cast<int>(pick.candidate.terminal) + 1, circuit.buses[pick.bus],
                                 drawn.names[static_cast<std::size_t>(pick.drawn)], terminal.nodes});
    }
    return plan;
}

std::string map_text(const Plan& plan)
{
    std::string out = "monitor,element,terminal,conductor,bus,node,drawn_bus\n";
    for (const Monitor& monitor : plan.monitors)
        for (std::size_t k = 0; k < monitor.nodes.size(); ++k) {
            for (const std::string& field : {monitor.name, monitor.element, std::to_string(monitor.terminal),
                                             std::to_string(k + 1), monitor.bus, std::to_string(monitor.nodes[k])}) {
                append_csv(out, field);
                out += ',';
            }
            append_csv(out, monitor.drawn_bus);
            out += '\n';
        }
    return out;
}

std::vector<Monitor> read_map(const fs::path& path)
{
    std::error_code error;
    if (!fs::exists(path, error))
        throw StudyError("there is no " + path.string() + ", which says what each monitor column is: write the "
                         "study with umbrascope-study write first");
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

std::string script_text(const ScriptFacts& facts, const Plan& plan)
{
    std::string interval;
    append_decimal(interval, facts.interval, 6);
    const std::string rows = std::to_string(facts.rows);
    std::string out;
    out += "! The time series of the sky over " + (facts.circuit_name.empty() ? std::string("the circuit") : facts.circuit_name) +
           ", written by umbrascope-study for " + facts.folder.string() + ".\n";
    out += "! Run it in OpenDSS from any folder: compile " + quoted_path(facts.folder / "study.dss") + "\n";
    out += "! It solves " + rows + " steps of " + interval + " s, one a row of the sun table, and writes what its\n";
    out += "! monitors saw into " + facts.results.string() + ", from where\n";
    out += "!     umbrascope-study read " + facts.folder.string() + "\n";
    out += "! brings the lowest and highest voltage of every drawn bus, row by row, beside the sun table.\n";
    out += "! For the sky of its sun table, fingerprint " + facts.sky_fingerprint + "\n\n";

    out += "! 1. The circuit as umbrascope-import read it, then the sky: the loadshapes umbrascope-clouds made,\n";
    out += "!    with an Edit giving each PV system the loadshape of its drawn bus.\n";
    out += "Compile " + quoted_path(facts.circuit) + "\n";
    out += "Redirect " + quoted_path(facts.shapes) + "\n\n";

    out += "! 2. Settle the regulators' taps and the capacitors' controls in a snapshot, so that the time series\n";
    out += "!    starts from where the circuit rests rather than with taps moving for its first minutes. Then\n";
    out += "!    each bus's voltage base goes into the results: a node's per-unit voltage is its magnitude over\n";
    out += "!    BasekV / sqrt(3), BasekV being line to line (from the circuit's Set VoltageBases).\n";
    out += "Set Mode=Snapshot\n";
    out += "Set ControlMode=Static\n";
    out += "Solve\n";
    out += "Set DataPath=" + quoted_path(facts.results) + "\n";
    out += "Export Voltages\n\n";

    out += "! 3. " + std::to_string(plan.monitors.size()) + " monitors on element terminals that together see every phase node of the " +
           std::to_string(plan.drawn) + " drawn buses\n";
    out += "!    and of the " + std::to_string(plan.customers) +
           " customers' buses they stand for; study_monitors.csv, beside this script, says which\n";
    out += "!    bus and node each voltage column is. Mode 32: the magnitudes of the voltages and currents.\n";
    for (const Monitor& monitor : plan.monitors)
        out += "New Monitor." + monitor.name + " element=" + word(monitor.element) + " terminal=" +
               std::to_string(monitor.terminal) + " mode=32\n";
    out += "\n";

    out += "! 4. The time series: " + rows + " steps of " + interval + " s. Monitor row k is sun-table row k, the first\n";
    out += "!    one step in, as a loadshape's point k is. Setting the mode sets the control mode to Time,\n";
    out += "!    which lets the regulators and capacitors act step by step: to change it (Static, Event or\n";
    out += "!    Off), change the line after the mode's.\n";
    out += "!    The loads keep the circuit's own loadshapes: in this mode a load follows its duty= shape,\n";
    out += "!    else its daily= shape, else it stays at its base. To give them others, add lines such as\n";
    out += "!    Edit Load.NAME duty=SHAPE, or Batchedit Load..* duty=SHAPE, before the mode's line.\n";
    out += "Set Mode=Duty Number=" + rows + " Stepsize=" + interval + "\n";
    out += "Set ControlMode=Time\n";
    out += "Solve\n\n";

    out += "! 5. What each monitor saw, a file each: <circuit>_Mon_<monitor>_1.csv in the results.\n";
    for (const Monitor& monitor : plan.monitors)
        out += "Export Monitors " + monitor.name + "\n";
    return out;
}

}  // namespace umbrascope::study

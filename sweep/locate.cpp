#include "sweep/locate.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/csv.hpp"
#include "core/parallel.hpp"
#include "core/lines.hpp"
#include "core/paths.hpp"
#include "core/words.hpp"
#include "import/circuit.hpp"
#include "import/source_files.hpp"
#include "model/circuit_record.hpp"
#include "model/distances.hpp"
#include "model/element_map.hpp"
#include "model/folder_error.hpp"
#include "output/output_file.hpp"
#include "study/exports.hpp"
#include "study/folder.hpp"
#include "study/study.hpp"
#include "study/voltages.hpp"
#include "sweep/criteria.hpp"
#include "sweep/gather.hpp"
#include "sweep/inputs.hpp"
#include "sweep/locate_map.hpp"
#include "sweep/search.hpp"
#include "sweep/worker.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

namespace {

std::string kw_words(double kw) { return decimal_text(kw, 3); }

// What a search was planned for, as locate.txt keeps it.
struct Settings {
    std::string buses = "three-phase";  // or "file PATH"
    SizeGrid grid;
    std::string inverter = "unity";
    double kva_ratio = 1.1;
    std::optional<double> response;
    std::optional<fs::path> volt_var, volt_watt;
    std::vector<std::string> skies;  // the search's, by name: a sweep may hold others
};

std::string settings_text(const Settings& s)
{
    std::string out = "# A search by bus for the largest PV plant each can take, planned by umbrascope-study sweep locate.\n";
    out += "buses = " + s.buses + "\n";
    out += "max_kw = " + decimal_text(s.grid.max_kw, 6) + "\n";
    out += "resolution_kw = " + decimal_text(s.grid.resolution_kw, 6) + "\n";
    out += "inverter = " + s.inverter + "\n";
    out += "kva_ratio = " + decimal_text(s.kva_ratio, 6) + "\n";
    out += "inverter_response = " + (s.response ? decimal_text(*s.response, 6) : std::string("default")) + "\n";
    out += "volt_var_curve = " + (s.volt_var ? s.volt_var->string() : std::string("default")) + "\n";
    out += "volt_watt_curve = " + (s.volt_watt ? s.volt_watt->string() : std::string("default")) + "\n";
    for (const std::string& sky : s.skies)
        out += "sky = " + sky + "\n";
    return out;
}

Settings read_settings(const fs::path& sweep)
{
    const std::optional<std::string> text = whole_file(sweep / locate_name);
    if (!text)
        throw SweepError(sweep.string() + " holds no search by bus: plan one with umbrascope-study sweep locate " +
                         sweep.string() + " --circuit ENTRY.dss --sky FOLDER");
    Settings s;
    const auto number = [&](const char* name) {
        const std::optional<double> value = number_of(value_of(*text, name).value_or(""));
        if (!value)
            throw SweepError((sweep / locate_name).string() + " is not whole (" + name + "): plan the search again");
        return *value;
    };
    s.buses = value_of(*text, "buses").value_or("three-phase");
    s.grid = {number("max_kw"), number("resolution_kw")};
    s.inverter = value_of(*text, "inverter").value_or("unity");
    s.kva_ratio = number("kva_ratio");
    if (const std::string r = value_of(*text, "inverter_response").value_or("default"); r != "default")
        s.response = number_of(r);
    if (const std::string v = value_of(*text, "volt_var_curve").value_or("default"); v != "default")
        s.volt_var = v;
    if (const std::string v = value_of(*text, "volt_watt_curve").value_or("default"); v != "default")
        s.volt_watt = v;
    each_line(*text, [&](std::string_view line, long) {
        constexpr std::string_view lead = "sky = ";
        if (line.substr(0, lead.size()) == lead)
            s.skies.emplace_back(line.substr(lead.size()));
    });
    return s;
}

// A candidate bus: the circuit's name, the drawn bus whose sky it takes, and its distance.
struct Candidate {
    std::string bus;  // lower case
    std::string drawn_bus;
    std::optional<double> km;
};

std::string candidates_text(const std::vector<Candidate>& candidates)
{
    std::string out = "bus,drawn_bus,distance_km\n";
    for (const Candidate& c : candidates)
        append_csv_row(out, {c.bus, c.drawn_bus, c.km ? decimal_text(*c.km, 6) : std::string()});
    return out;
}

std::vector<Candidate> read_candidates(const fs::path& sweep)
{
    const fs::path path = sweep / locate_buses_name;
    const std::optional<std::string> text = whole_file(path);
    if (!text)
        throw SweepError(path.string() + " is not there: plan the search again (umbrascope-study sweep locate)");
    std::vector<Candidate> out;
    each_line(*text, [&](std::string_view line, long number) {
        if (number == 1 || line.empty())
            return;
        const std::optional<std::vector<std::string>> cells = csv_fields(line);
        if (!cells || cells->size() != 3)
            throw SweepError(path.string() + ":" + std::to_string(number) + ": not 3 fields: plan the search again");
        out.push_back({(*cells)[0], (*cells)[1], number_of((*cells)[2])});
    });
    return out;
}

// The plan options a round plans with: the sweep's own, as recorded.
PlanOptions round_options(const fs::path& sweep, const Record& record, const std::vector<Sky>& skies, const Settings& s)
{
    PlanOptions plan;
    plan.sweep = sweep;
    plan.circuit = record.circuit;
    for (const Sky& sky : skies)
        plan.skies.push_back(sky.folder);
    plan.levels = {0};
    plan.placements = {"random"};
    plan.pv_ratio = record.pv_ratio;
    plan.without_circuit_pv = record.without_circuit_pv;
    if (record.load_mult_given)
        plan.load_mult = record.load_mult;
    plan.load_at = record.load_at;
    plan.inverters = {s.inverter};
    plan.kva_ratio = s.kva_ratio;
    plan.inverter_response = s.response;
    plan.volt_var_curve = s.volt_var;
    plan.volt_watt_curve = s.volt_watt;
    return plan;
}

// One bus as the search sizes its plant: the engine's base and nodes from a sky's base case.
struct Sized {
    Candidate candidate;
    double base_kv = 0;  // line to line
    std::vector<int> nodes;
    [[nodiscard]] int phases() const { return static_cast<int>(nodes.size()); }
    [[nodiscard]] double plant_kv() const { return phases() == 1 ? base_kv / std::sqrt(3.0) : base_kv; }
    [[nodiscard]] std::string bus1() const
    {
        std::string out = candidate.bus;
        for (const int node : nodes)
            out += "." + std::to_string(node);
        return out;
    }
};

// What one case of a plant said.
struct Verdict {
    std::string id;
    bool done = false;
    bool passes = false, clear_passes = false;
    std::optional<Failure> failure, clear_failure;
    std::string reason;  // why it is not done: failed, not run
};

// A bus under one sky: its cases by step.
struct BusSky {
    std::map<int, Verdict> steps;
    Bracket sky, clear;
};

// Everything a round and the report need: the search judged as it stands.
struct Judged {
    Settings settings;
    Record record;
    std::vector<Sky> skies;
    std::vector<Sized> buses;
    std::vector<std::map<std::string, BusSky>> by_sky;  // by bus index, then sky
    bool bases_left = false;
    int round = 0;
    std::vector<std::string> notes;
    std::map<std::string, study::Sky> times;
};

// The circuit's source bus, as the import recorded it.
std::string source_of(const std::vector<Sky>& skies)
{
    if (skies.empty())
        return {};
    try {
        return study::read_circuit_record(skies.front().folder).source_bus;
    } catch (const study::StudyError&) {
        return {};
    }
}

int rounds_planned(const fs::path& sweep)
{
    const std::optional<std::string> text = whole_file(sweep / locate_rounds_name);
    int rounds = 0;
    if (text)
        each_line(*text, [&](std::string_view line, long number) {
            if (number > 1 && !line.empty())
                ++rounds;
        });
    return rounds;
}

Judged judge_search(const fs::path& sweep)
{
    refuse_changed_inputs(sweep);
    Judged out;
    out.settings = read_settings(sweep);
    out.record = read_record(sweep);
    out.skies = read_skies(sweep);
    // The search's own skies, where the sweep holds others too.
    if (!out.settings.skies.empty())
        std::erase_if(out.skies, [&](const Sky& sky) {
            return std::find(out.settings.skies.begin(), out.settings.skies.end(), sky.name) == out.settings.skies.end();
        });
    out.round = rounds_planned(sweep);
    const std::vector<Case> cases = read_cases(sweep);
    const fs::path criteria_path = sweep / criteria_name;
    const Criteria criteria = parse_criteria(whole_file(criteria_path).value_or(""), criteria_path.string());
    const SizeGrid& grid = out.settings.grid;

    // Each sky's base: the buses' bases, and what the plants are judged against.
    std::map<std::string, BaseCase> bases;
    std::optional<fs::path> bus_bases;
    for (const Sky& sky : out.skies) {
        const auto base = std::find_if(cases.begin(), cases.end(), [&](const Case& c) {
            return c.sky == sky.name && c.placement == "none";
        });
        if (base == cases.end())
            throw SweepError("the sky " + sky.name + " has no base case: plan the search again");
        const fs::path folder = case_folder(sweep, base->id);
        if (state_of(folder) != State::done) {
            out.bases_left = true;
            continue;
        }
        bases[sky.name] = read_base_case(folder, criteria);
        if (!bus_bases && fs::exists(folder / bus_bases_name))
            bus_bases = folder / bus_bases_name;
        try {
            out.times[sky.name] = study::read_sky(sky.folder);
        } catch (const study::StudyError& error) {
            throw SweepError(error.what());
        }
    }
    if (out.bases_left)
        return out;
    if (!bus_bases)
        throw SweepError("no base case of " + sweep.string() + " kept its buses' voltage bases (" +
                         std::string(bus_bases_name) + "): plan the search again with umbrascope-study sweep locate, "
                         "which runs the bases again");

    // The buses: each at the engine's base and nodes; the feeder's primary voltage is the base most
    // of its three-phase buses have.
    std::unordered_map<std::string, study::BusVoltages> solved;
    try {
        solved = study::read_voltage_export(*bus_bases);
    } catch (const study::StudyError& error) {
        throw SweepError(error.what());
    }
    const std::vector<Candidate> candidates = read_candidates(sweep);
    std::vector<Sized> sized;
    std::vector<std::string> unsolved;
    std::map<long long, int> three_phase_at;  // by base kV in volts
    const std::string source = lower(source_of(out.skies));
    for (const auto& [name, bus] : solved) {
        int phases = 0;
        for (const auto& [node, volts] : bus.nodes)
            phases += node >= 1 && node <= 3 ? 1 : 0;
        if (phases == 3 && name != source && bus.base_kv > 0)
            ++three_phase_at[std::llround(bus.base_kv * 1000)];
    }
    long long primary = 0;
    int most = 0;
    for (const auto& [volts, count] : three_phase_at)
        if (count > most) {
            most = count;
            primary = volts;
        }
    const bool by_voltage = out.settings.buses == "primary" || out.settings.buses == "three-phase";
    for (const Candidate& c : candidates) {
        const auto at = solved.find(c.bus);
        if (at == solved.end() || !(at->second.base_kv > 0)) {
            unsolved.push_back(c.bus);
            continue;
        }
        Sized one{c, at->second.base_kv, {}};
        for (const auto& [node, volts] : at->second.nodes)
            if (node >= 1 && node <= 3 && std::find(one.nodes.begin(), one.nodes.end(), node) == one.nodes.end())
                one.nodes.push_back(node);
        std::sort(one.nodes.begin(), one.nodes.end());
        if (one.nodes.empty()) {
            unsolved.push_back(c.bus);
            continue;
        }
        if (by_voltage && std::llround(one.base_kv * 1000) != primary)
            continue;
        if (out.settings.buses == "three-phase" && one.phases() != 3)
            continue;
        sized.push_back(std::move(one));
    }
    if (!unsolved.empty() && !by_voltage)
        out.notes.push_back(std::to_string(unsolved.size()) + (unsolved.size() == 1 ? " bus has" : " buses have") +
                            " no voltage in the engine's solution of the base (" + study::first_names(unsolved, 4) +
                            "): left out");
    if (by_voltage)
        out.notes.push_back("The feeder's primary voltage: " + decimal_text(static_cast<double>(primary) / 1000, 3) +
                            " kV, the base of most of its three-phase buses");
    out.buses = std::move(sized);

    // Each plant case, judged against its sky's base.
    std::unordered_map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < out.buses.size(); ++i)
        index[out.buses[i].candidate.bus] = i;
    out.by_sky.resize(out.buses.size());
    std::vector<const Case*> plants;
    for (const Case& c : cases)
        if (c.placement == plant_placement && index.count(c.bus) != 0 && out.settings.inverter == c.inverter &&
            bases.count(c.sky) != 0)
            plants.push_back(&c);
    std::vector<Verdict> verdicts(plants.size());
    share_out(plants.size(), threads_for(plants.size()), [&](std::size_t, std::size_t i) {
        const Case& c = *plants[i];
        Verdict& v = verdicts[i];
        v.id = c.id;
        const fs::path folder = case_folder(sweep, c.id);
        std::optional<Status> status;
        try {
            status = read_status(folder);
        } catch (const SweepError& error) {
            v.reason = error.what();
            return;
        }
        if (!status || !status->done || planned_fingerprint(folder) != status->files) {
            v.reason = status && !status->done ? "failed: " + status->reason : status ? "planned again since it ran" : "not run";
            return;
        }
        const study::Sky& times = out.times.at(c.sky);
        const CaseFigures f = case_figures(folder, bases.at(c.sky), criteria, times.rows * times.interval / 3600);
        v.failure = judge(f, criteria, false);
        v.clear_failure = judge(f, criteria, true);
        v.passes = !v.failure;
        v.clear_passes = !v.clear_failure;
        v.done = true;
    });
    for (std::size_t i = 0; i < plants.size(); ++i) {
        const std::optional<int> step = grid.step_of(plants[i]->pv_kw);
        if (!step)
            continue;  // of another grid, planned before
        out.by_sky[index.at(plants[i]->bus)][plants[i]->sky].steps[*step] = std::move(verdicts[i]);
    }
    for (std::size_t b = 0; b < out.buses.size(); ++b)
        for (const Sky& sky : out.skies) {
            BusSky& one = out.by_sky[b][sky.name];
            std::map<int, bool> judged, clear;
            std::vector<int> pending;
            for (const auto& [step, v] : one.steps) {
                if (!v.done) {
                    pending.push_back(step);
                    continue;
                }
                judged[step] = v.passes;
                clear[step] = v.clear_passes;
            }
            one.sky = bracket(grid, judged, pending);
            one.clear = bracket(grid, clear, pending);
        }
    return out;
}

}  // namespace

std::optional<std::string> locate_command(const fs::path& sweep)
{
    if (!has_search(sweep))
        return std::nullopt;
    const Settings s = read_settings(sweep);
    const Record record = read_record(sweep);
    std::string out = "umbrascope-study sweep locate " + shell_quoted(sweep.string()) + " --circuit " +
                      shell_quoted(record.circuit.string());
    for (const Sky& sky : read_skies(sweep))
        if (s.skies.empty() || std::find(s.skies.begin(), s.skies.end(), sky.name) != s.skies.end())
            out += " --sky " + shell_quoted(sky.folder.string());
    constexpr std::string_view file = "file ";
    out += " --buses " + (s.buses.rfind(file, 0) == 0 ? shell_quoted(s.buses.substr(file.size())) : s.buses);
    out += " --max-kw " + decimal_text(s.grid.max_kw, 6) + " --resolution " + decimal_text(s.grid.resolution_kw, 6);
    if (s.inverter != "unity")
        out += " --inverter " + shell_quoted(s.inverter);
    if (record.without_circuit_pv)
        out += " --without-circuit-pv";
    if (record.load_mult_given)
        out += " --load-mult " + decimal_text(record.load_mult, 6);
    if (!record.load_at.empty())
        out += " --load-at " + shell_quoted(record.load_at);
    return out;
}

bool has_search(const fs::path& sweep)
{
    std::error_code error;
    return fs::exists(sweep / locate_name, error);
}

LocateResult plan_locate(const LocateOptions& options)
{
    const PlanOptions& plan = options.plan;
    if (plan.skies.empty())
        throw SweepError("give at least one --sky FOLDER");
    if (options.max_kw && !(*options.max_kw > 0))
        throw SweepError("--max-kw takes a size above 0 kW: the largest plant the search tries");
    if (options.resolution_kw && !(*options.resolution_kw > 0))
        throw SweepError("--resolution takes a size above 0 kW");
    if (plan.inverters.size() != 1)
        throw SweepError("a search by bus takes one --inverter MODE; search again into another folder for another mode");
    const fs::path circuit_path = full_path(plan.circuit);
    std::error_code error;
    if (!fs::is_regular_file(circuit_path, error))
        throw SweepError("--circuit " + plan.circuit.string() + " is not a file");
    // Each sky of this circuit, before anything else is read from it.
    for (const fs::path& given : plan.skies)
        refuse_sky_of_another_circuit(given, circuit_path);
    import::Circuit circuit;
    try {
        import::DiskFiles files;
        circuit = import::read_circuit(circuit_path, files);
    } catch (const import::ImportError& failure) {
        throw SweepError(failure.what());
    }
    double feeder_kw = 0;
    for (const import::LoadSite& load : circuit.loads)
        feeder_kw += load.kw;
    const double max_kw = options.max_kw.value_or(feeder_kw);
    if (!(max_kw > 0))
        throw SweepError("the feeder's loads total 0 kW, the default --max-kw: give --max-kw K, the largest plant to try");
    const double resolution = options.resolution_kw.value_or(max_kw / 64);
    if (resolution > max_kw)
        throw SweepError("--resolution " + kw_words(resolution) + " kW is larger than the maximum, " + kw_words(max_kw) +
                         " kW: give a resolution below it, such as " + kw_words(max_kw / 64) + " (a 64th)");
    if (max_kw / resolution > 100000)
        throw SweepError("--resolution " + kw_words(resolution) + " kW makes more than 100,000 sizes up to " +
                         kw_words(max_kw) + " kW: give a coarser one");

    // Which buses the circuit reaches from its source, along its elements in service.
    std::unordered_map<std::string, std::size_t> bus_index;
    for (std::size_t i = 0; i < circuit.buses.size(); ++i)
        bus_index[circuit.buses[i]] = i;
    std::vector<std::vector<int>> next(circuit.buses.size());
    for (const std::vector<int>& element : circuit.elements)
        for (std::size_t a = 0; a + 1 < element.size(); ++a)
            for (std::size_t b = a + 1; b < element.size(); ++b) {
                next[static_cast<std::size_t>(element[a])].push_back(element[b]);
                next[static_cast<std::size_t>(element[b])].push_back(element[a]);
            }
    std::vector<bool> reached(circuit.buses.size(), false);
    if (const auto source = bus_index.find(lower(circuit.source_bus)); source != bus_index.end()) {
        std::deque<std::size_t> queue{source->second};
        reached[source->second] = true;
        while (!queue.empty()) {
            const std::size_t at = queue.front();
            queue.pop_front();
            for (const int to : next[at])
                if (!reached[static_cast<std::size_t>(to)]) {
                    reached[static_cast<std::size_t>(to)] = true;
                    queue.push_back(static_cast<std::size_t>(to));
                }
        }
    }

    // Where each bus is drawn: itself where the map has it, else where the import drew its elements.
    const fs::path first = full_path(plan.skies.front());
    std::unordered_map<std::string, std::string> drawn_of;
    std::unordered_map<std::string, double> km_of;
    try {
        for (const StandIn& element : read_element_map(first))
            if (!element.bus.empty() && !element.drawn_bus.empty())
                drawn_of.emplace(lower(element.bus), element.drawn_bus);
        if (const std::optional<std::vector<DrawnDistance>> distances = read_distances(first))
            for (const DrawnDistance& d : *distances) {
                drawn_of[lower(d.bus)] = d.bus;
                if (d.km)
                    km_of[d.bus] = *d.km;
            }
    } catch (const FolderError& failure) {
        throw SweepError(failure.what());
    }
    const auto candidate = [&](const std::string& bus) {
        Candidate c{bus, drawn_of.at(bus), std::nullopt};
        if (const auto km = km_of.find(c.drawn_bus); km != km_of.end())
            c.km = km->second;
        return c;
    };
    std::vector<Candidate> candidates;
    std::string buses = options.buses;
    if (buses == "primary" || buses == "three-phase") {
        // Every drawn bus the source reaches; the engine's bases choose among them once the base has run.
        std::set<std::string> taken;
        for (std::size_t i = 0; i < circuit.buses.size(); ++i) {
            const std::string& bus = circuit.buses[i];
            const auto drawn = drawn_of.find(bus);
            if (!reached[i] || bus == lower(circuit.source_bus) || drawn == drawn_of.end() || lower(drawn->second) != bus)
                continue;
            if (taken.insert(bus).second)
                candidates.push_back(candidate(bus));
        }
    } else if (buses == "loads") {
        std::set<std::string> taken;
        for (const import::LoadSite& load : circuit.loads) {
            const std::string& bus = circuit.buses[static_cast<std::size_t>(load.bus)];
            if (reached[static_cast<std::size_t>(load.bus)] && drawn_of.count(bus) != 0 && taken.insert(bus).second)
                candidates.push_back(candidate(bus));
        }
    } else {
        const fs::path file = full_path(buses);
        const std::optional<std::string> text = whole_file(file);
        if (!text)
            throw SweepError("--buses " + buses + " is not primary, three-phase, loads or a file that can be read");
        buses = "file " + file.string();
        std::set<std::string> taken;
        each_line(*text, [&](std::string_view line, long number) {
            std::string_view given = line;
            while (!given.empty() && (given.front() == ' ' || given.front() == '\t'))
                given.remove_prefix(1);
            while (!given.empty() && (given.back() == ' ' || given.back() == '\t' || given.back() == '\r'))
                given.remove_suffix(1);
            std::string bus = lower(given);
            if (bus.empty() || bus.front() == '#')
                return;
            bus = import::bus_key(bus);
            const std::string where = file.string() + ":" + std::to_string(number) + ": ";
            const auto at = bus_index.find(bus);
            if (at == bus_index.end())
                throw SweepError(where + "the circuit has no bus " + bus);
            if (!reached[at->second])
                throw SweepError(where + "no element in service reaches bus " + bus + " from the source " +
                                 circuit.source_bus);
            if (drawn_of.count(bus) == 0)
                throw SweepError(where + "bus " + bus + " is drawn nowhere on the feeder's map, so it has no sky: "
                                 "import the circuit with its coordinates");
            if (taken.insert(bus).second)
                candidates.push_back(candidate(bus));
        });
    }
    if (candidates.empty())
        throw SweepError("--buses " + options.buses + " gives no bus to search");

    // Each sky's base, shared with the sweep: planned as the sweep plans it.
    LocateResult result;
    PlanOptions bases = plan;
    bases.levels = {0};
    bases.placements = {"random"};
    bases.plants.clear();
    for (const Candidate& c : candidates)
        bases.search_buses.push_back(c.drawn_bus);
    if (fs::exists(fs::path(plan.sweep) / record_name, error))
        bases.pv_ratio = read_record(plan.sweep).pv_ratio;
    result.planned = plan_sweep(bases);
    const fs::path sweep = full_path(plan.sweep);
    // A base run before bases were kept runs again.
    for (const Case& c : result.planned.cases)
        if (c.placement == "none" && state_of(case_folder(sweep, c.id)) == State::done &&
            !fs::exists(case_folder(sweep, c.id) / bus_bases_name, error)) {
            fs::remove(case_folder(sweep, c.id) / status_name, error);
            result.notes.push_back("The base of " + c.sky + " runs again, to keep its buses' voltage bases");
        }
    Settings settings;
    settings.buses = buses;
    settings.grid = {max_kw, resolution};
    settings.inverter = plan.inverters.front();
    for (const fs::path& sky : plan.skies)
        settings.skies.push_back(full_path(sky).filename().string());
    settings.kva_ratio = plan.kva_ratio;
    settings.response = plan.inverter_response;
    if (plan.volt_var_curve)
        settings.volt_var = full_path(*plan.volt_var_curve);
    if (plan.volt_watt_curve)
        settings.volt_watt = full_path(*plan.volt_watt_curve);
    write_whole(sweep / locate_buses_name, candidates_text(candidates));
    write_whole(sweep / locate_rounds_name, "round,cases\n");
    write_whole(sweep / locate_name, settings_text(settings));
    result.candidates = static_cast<int>(candidates.size());
    result.max_kw = max_kw;
    result.resolution_kw = resolution;
    return result;
}

SearchRound advance_search(const fs::path& sweep, bool plan)
{
    const Judged judged = judge_search(sweep);
    SearchRound out;
    out.round = judged.round;
    out.bases_left = judged.bases_left;
    out.notes = judged.notes;
    if (judged.bases_left)
        return out;
    out.buses = static_cast<int>(judged.buses.size());
    std::vector<Plant> plants;
    for (std::size_t b = 0; b < judged.buses.size(); ++b) {
        const Sized& bus = judged.buses[b];
        bool found = true;
        std::set<std::pair<std::string, int>> wanted;
        for (const Sky& sky : judged.skies) {
            const BusSky& one = judged.by_sky[b].at(sky.name);
            for (const Bracket* side : {&one.sky, &one.clear}) {
                found = found && side->found;
                for (const int step : side->next)
                    wanted.emplace(sky.name, step);
                if (side->waiting)
                    for (const auto& [step, v] : one.steps)
                        if (!v.done && v.reason.rfind("failed", 0) == 0 && step > side->passes &&
                            step < side->fails.value_or(judged.settings.grid.steps() + 1))
                            out.blocked.push_back("bus " + bus.candidate.bus + ": case " + v.id + " " + v.reason);
            }
            if (one.sky.contrary || one.clear.contrary)
                out.contrary.push_back(bus.candidate.bus);
        }
        out.found += found ? 1 : 0;
        for (const auto& [sky, step] : wanted)
            plants.push_back({sky, bus.candidate.bus, bus.bus1(), bus.candidate.drawn_bus, bus.phases(), bus.plant_kv(),
                              judged.settings.grid.kw(step)});
    }
    std::sort(out.blocked.begin(), out.blocked.end());
    out.blocked.erase(std::unique(out.blocked.begin(), out.blocked.end()), out.blocked.end());
    std::sort(out.contrary.begin(), out.contrary.end());
    out.contrary.erase(std::unique(out.contrary.begin(), out.contrary.end()), out.contrary.end());
    out.left = out.buses - out.found;
    if (!plan || plants.empty())
        return out;
    PlanOptions options = round_options(sweep, judged.record, judged.skies, judged.settings);
    options.plants = std::move(plants);
    const PlanResult planned = plan_sweep(options);
    out.planned = static_cast<int>(options.plants.size());
    (void)planned;
    out.round = judged.round + 1;
    std::string rounds = whole_file(sweep / locate_rounds_name).value_or("round,cases\n");
    rounds += std::to_string(out.round) + "," + std::to_string(out.planned) + "\n";
    write_whole(sweep / locate_rounds_name, rounds);
    return out;
}

LocateReport write_locate_report(const fs::path& sweep, bool partial)
{
    const Judged judged = judge_search(sweep);
    LocateReport out;
    if (judged.bases_left)
        throw SweepError("a sky's base has not run yet: run the search, umbrascope-study sweep run " + sweep.string());
    const SizeGrid& grid = judged.settings.grid;
    std::string csv = "bus,kv,phases,distance_km,hc_kw,clear_hc_kw,criterion,where,row,time,value,probes,bracket_kw\n";
    std::vector<MapBus> drawn;
    struct Answer {
        std::string bus;
        double kw = 0;
        std::string criterion;
    };
    std::vector<Answer> answers;
    int left = 0, limited_by_cloud = 0;
    std::vector<std::string> contrary;  // buses where a larger size passed after a smaller failed
    for (std::size_t b = 0; b < judged.buses.size(); ++b) {
        const Sized& bus = judged.buses[b];
        bool found = true;
        std::optional<double> hc, clear_hc;
        std::string bracket_text;
        int probes = 0;
        // What failed the smallest failing size: under a sky first, else the clear sky.
        std::optional<std::pair<int, std::pair<Failure, std::string>>> smallest;
        for (const Sky& sky : judged.skies) {
            const BusSky& one = judged.by_sky[b].at(sky.name);
            found = found && one.sky.found && one.clear.found;
            if ((one.sky.contrary || one.clear.contrary) &&
                (contrary.empty() || contrary.back() != bus.candidate.bus))
                contrary.push_back(bus.candidate.bus);
            const double kw = grid.kw(one.sky.passes);
            if (!hc || kw < *hc) {
                hc = kw;
                bracket_text = kw_words(kw) + "-" + (one.sky.fails ? kw_words(grid.kw(*one.sky.fails)) : std::string());
            }
            const double clear_kw = grid.kw(one.clear.passes);
            clear_hc = clear_hc ? std::min(*clear_hc, clear_kw) : clear_kw;
            for (const auto& [step, v] : one.steps) {
                probes += v.done ? 1 : 0;
                const std::optional<Failure>& f = v.failure ? v.failure : v.clear_failure;
                if (v.done && f && (!smallest || step < smallest->first))
                    smallest = {step, {*f, sky.name}};
            }
        }
        if (!found)
            ++left;
        std::vector<std::string> row{bus.candidate.bus, decimal_text(bus.base_kv, 3), std::to_string(bus.phases()),
                                     bus.candidate.km ? decimal_text(*bus.candidate.km, 3) : std::string()};
        if (found || partial) {
            row.push_back(found ? kw_words(*hc) : std::string());
            row.push_back(found ? kw_words(*clear_hc) : std::string());
        } else {
            row.insert(row.end(), {std::string(), std::string()});
        }
        if (smallest) {
            const Failure& f = smallest->second.first;
            const study::Sky& times = judged.times.at(smallest->second.second);
            row.insert(row.end(), {f.criterion, f.bus, f.row > 0 ? std::to_string(f.row) : std::string(),
                                   f.row > 0 && f.row <= times.rows ? study::row_time(times, f.row) : std::string(),
                                   f.value});
        } else {
            row.insert(row.end(), {std::string(), std::string(), std::string(), std::string(), std::string()});
        }
        row.push_back(std::to_string(probes));
        row.push_back(found ? bracket_text : std::string());
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                csv += ',';
            append_csv(csv, row[i]);
        }
        csv += '\n';
        if (found) {
            answers.push_back({bus.candidate.bus, *hc, smallest ? smallest->second.first.criterion : std::string()});
            limited_by_cloud += *hc < *clear_hc ? 1 : 0;
        }
        drawn.push_back({bus.candidate.drawn_bus, found ? hc : std::nullopt, found ? clear_hc : std::nullopt});
    }
    if (left > 0 && !partial) {
        out.summary.push_back(std::to_string(left) + (left == 1 ? " bus is" : " buses are") + " not found yet");
        return out;
    }
    out.answered = true;
    std::sort(answers.begin(), answers.end(), [](const Answer& a, const Answer& b) { return a.kw < b.kw; });
    std::string summary;
    const auto say = [&](const std::string& text) {
        out.summary.push_back(text);
        summary += text + "\n";
    };
    say("Locational hosting capacity: the largest PV plant each of " + std::to_string(judged.buses.size()) +
        " buses can take alone, under " + std::to_string(judged.skies.size()) +
        (judged.skies.size() == 1 ? " sky" : " skies") + " and the clear sky, to within " + kw_words(grid.resolution_kw) +
        " kW up to " + kw_words(grid.max_kw) + " kW (" + judged.settings.inverter + " inverters)" +
        (left > 0 ? "; partial: " + std::to_string(left) + " not found" : std::string()));
    if (!answers.empty()) {
        const Answer& least = answers.front();
        const Answer& most = answers.back();
        const std::size_t n = answers.size();
        const double median = n % 2 == 1 ? answers[n / 2].kw : (answers[n / 2 - 1].kw + answers[n / 2].kw) / 2;
        say("Least " + kw_words(least.kw) + " kW at bus " + least.bus +
            (least.criterion.empty() ? std::string() : " (" + least.criterion + ")") + "; most " + kw_words(most.kw) +
            " kW at bus " + most.bus + "; median " + kw_words(median) + " kW");
        say("The cloud limits " + std::to_string(limited_by_cloud) + " of " + std::to_string(n) +
            (n == 1 ? " bus" : " buses") + " below its clear-sky answer");
    }
    if (!contrary.empty())
        say("Passing was not monotone in size at " + study::first_names(contrary, 8) +
            ": a larger plant passed where a smaller failed; the smaller failure holds");
    for (const std::string& note : judged.notes)
        say(note);
    // The map: the feeder's lines coloured by the capacity at their downstream bus.
    MapFrame frame;
    frame.max_kw = grid.max_kw;
    frame.title = "Locational hosting capacity (" + judged.settings.inverter + " inverters), kW";
    const std::string svg = locate_map_svg(judged.skies.front().folder, drawn, frame);
    std::string png;
    try {
        png = locate_map_png(svg);
    } catch (const WriteError& error) {
        throw SweepError(std::string("cannot draw locational_hc.png: ") + error.what());
    }
    // The four written whole and named together: one that fails leaves the earlier answer as it was.
    std::vector<OutputFile> files;
    try {
        for (const auto& [name, bytes] : {std::pair<std::string_view, std::string_view>{locational_name, csv},
                                          {"locational_hc.svg", svg},
                                          {"locational_hc.png", png},
                                          {"locational_summary.txt", summary}}) {
            files.emplace_back(sweep / name);
            files.back().write(bytes);
            files.back().finish();
            out.written.push_back(sweep / name);
        }
        for (OutputFile& file : files)
            file.commit();
    } catch (const WriteError& error) {
        throw SweepError(error.what());
    }
    return out;
}

}  // namespace umbrascope::sweep

#include "sweep/plan.hpp"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include <unistd.h>

#include "core/fingerprint.hpp"
#include "core/lines.hpp"
#include "core/paths.hpp"
#include "core/words.hpp"
#include "model/circuit_record.hpp"
#include "model/distances.hpp"
#include "model/element_map.hpp"
#include "model/folder_error.hpp"
#include "output/output_file.hpp"
#include "scenario/sun_model.hpp"
#include "study/study.hpp"
#include "sweep/criteria.hpp"
#include "study/inverters.hpp"
#include "sweep/inputs.hpp"
#include "sweep/load_at.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;
using scenario::dss_word;
using scenario::shape_name;

namespace {

std::string head_of(const fs::path& path, std::size_t bytes)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(bytes, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

// The loadshapes umbrascope-clouds made for the sky now in `folder`: a .dss file in it whose
// first lines say so.
fs::path find_shapes(const fs::path& folder, const std::string& fingerprint)
{
    std::vector<fs::path> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error) || lower(entry.path().extension().string()) != ".dss")
            continue;
        const std::string head = head_of(entry.path(), 1024);
        if (head.rfind("! Loadshapes made by umbrascope-clouds", 0) == 0 && named_fingerprint(head) == fingerprint)
            found.push_back(entry.path());
    }
    if (found.empty())
        throw SweepError("the sky " + folder.string() + " holds no loadshapes made with its sun table: make them with "
                         "umbrascope-clouds --force --loadshapes " + (folder / "sun.dss").string() + " ... " +
                         folder.string());
    if (found.size() > 1) {
        std::sort(found.begin(), found.end());
        throw SweepError("the sky " + folder.string() + " holds two loadshapes files made with its sun table, " +
                         found[0].filename().string() + " and " + found[1].filename().string() +
                         ": remove the one the sweep should not take");
    }
    return full_path(found.front());
}

// The names of the loadshapes a shapes file defines, in lower case.
std::unordered_set<std::string> shapes_defined(const fs::path& shapes)
{
    std::unordered_set<std::string> names;
    std::ifstream in(shapes, std::ios::binary);
    std::string line;
    constexpr std::string_view lead = "new loadshape.";
    while (std::getline(in, line)) {
        if (line.size() <= lead.size() || lower(std::string_view(line).substr(0, lead.size())) != lead)
            continue;
        std::string_view name = std::string_view(line).substr(lead.size());
        if (!name.empty() && (name.front() == '"' || name.front() == '\'')) {
            const char quote = name.front();
            name.remove_prefix(1);
            name = name.substr(0, name.find(quote));
        } else {
            name = name.substr(0, name.find_first_of(" \t"));
        }
        names.insert(lower(name));
    }
    return names;
}

std::string seed_text(int seed) { return std::to_string(seed); }

std::string case_id(const Record& record, const std::string& sky, const std::string& sky_print, double level,
                    const std::string& placement, int seed, const std::string& inverter = {})
{
    Fingerprint print;
    print.add("umbrascope sweep case\n");
    print.add(record.circuit.string() + "\n" + sky + "\n" + sky_print + "\n" + level_text(level) + "\n" + placement +
              "\n" + seed_text(seed) + "\n" + decimal_text(record.pv_ratio, 6) + "\n");
    // Inverters under control name their cases; unity ones keep the names they had before.
    if (!inverter.empty())
        print.add("inverters " + inverter + "\n");
    return print.text().substr(0, 12);
}

std::string kw_text(double kw) { return decimal_text(kw, 3); }

// The circuit of a case: the feeder as its author wrote it, what every case of the sweep changes
// in it (`common`), then the case's own PV systems.
std::string study_entry_text(const Case& c, const fs::path& circuit, const std::string& common, const fs::path& pv)
{
    std::string out = "! The circuit of sweep case " + c.id + ": the feeder as its author wrote it, then the case's PV systems.\n";
    out += "! Paths are absolute: Compile moves OpenDSS into this file's folder, and a Redirect resolves from there.\n";
    out += "Redirect \"" + circuit.string() + "\"\n";
    out += common;
    out += "Redirect \"" + pv.string() + "\"\n";
    return out;
}

// A PV system of the circuit itself, in service.
struct OwnPv {
    std::string name;       // "pv_1", without its class
    std::string drawn_bus;  // whose sky it takes; "" where the import drew it at none
    double pmpp_kw = 0;     // as the circuit gives it, else the engine's 500
    bool rated = true;      // the circuit gives its Pmpp
};

}  // namespace

void refuse_sky_of_another_circuit(const fs::path& sky, const fs::path& circuit)
{
    CircuitRecord record;
    try {
        record = study::read_circuit_record(full_path(sky));
    } catch (const study::StudyError& failure) {
        throw SweepError(failure.what());
    }
    if (record.entry.empty() || full_path(record.entry) != circuit)
        throw SweepError("the sky " + sky.string() + " is of another network: it was imported from " +
                         (record.entry.empty() ? std::string("two tables") : record.entry.string()) + ", not from " +
                         circuit.string() + "; make it with umbrascope-import " + circuit.string() +
                         " FOLDER and umbrascope-clouds --loadshapes");
}

std::vector<std::size_t> site_order(const std::vector<Site>& sites, const std::string& placement, int seed)
{
    std::vector<std::size_t> order(sites.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    if (placement == "random") {
        // Fisher-Yates on the generator's own numbers, so that a seed gives the same order everywhere.
        std::mt19937_64 generator(0x5EEDC10D5ULL + static_cast<std::uint64_t>(seed) * 0x9E3779B97F4A7C15ULL);
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1], order[static_cast<std::size_t>(generator() % i)]);
        return order;
    }
    const bool near = placement == "near";
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const std::optional<double>& x = sites[a].km;
        const std::optional<double>& y = sites[b].km;
        if (!x || !y)
            return x.has_value() && !y.has_value();
        return near ? *x < *y : *x > *y;
    });
    return order;
}

std::vector<Placed> place_pv(const std::vector<Site>& sites, const std::vector<std::size_t>& order, double ratio,
                             double target_kw)
{
    std::vector<Placed> placed;
    double total = 0;
    for (const std::size_t site : order) {
        if (target_kw - total < 0.0005)
            break;
        const double full = std::round(ratio * sites[site].kw * 1000) / 1000;
        if (full <= 0)
            continue;
        const double kw = std::min(full, std::round((target_kw - total) * 1000) / 1000);
        if (kw < 0.0005)
            break;
        placed.push_back({site, kw});
        total += kw;
    }
    if (target_kw - total > 0.05)
        throw SweepError("the loads' sites hold " + kw_text(total) + " kW of PV at --pv-ratio " + decimal_text(ratio, 3) +
                         ", short of the " + kw_text(target_kw) + " kW asked: raise --pv-ratio or lower the levels");
    return placed;
}

std::string pv_file_text(const Case& c, const std::vector<Site>& sites, const std::vector<Placed>& placed, double ratio)
{
    std::string out = c.placement == plant_placement
                          ? "! The PV plant of search case " + c.id + ": " + kw_text(c.pv_kw) + " kW at bus " + c.bus + ".\n"
                          : "! PV systems of sweep case " + c.id + ": " + level_text(c.level_pct) + " % of the feeder's load, " +
                      kw_text(c.pv_kw) + " kW at " + std::to_string(placed.size()) + " loads, placed " + c.placement +
                      (c.placement == "random" ? " (seed " + std::to_string(c.seed) + ")" : std::string()) + ", each " +
                      decimal_text(ratio, 3) + " x its load's kW, the last trimmed.\n";
    out += "! Their sky (duty) is given after the loadshapes, in the case's study.dss.\n";
    for (const Placed& p : placed) {
        const Site& site = sites[p.site];
        const std::string name = "sweep_" + site.load.substr(site.load.find('.') + 1);
        out += "New " + dss_word("PVSystem." + name) + " phases=" + std::to_string(site.phases) +
               " bus1=" + dss_word(site.bus1) + " kV=" + decimal_text(site.kv, 6) + " kVA=" + kw_text(p.kw) +
               " Pmpp=" + kw_text(p.kw) + " irradiance=1" + (site.delta ? " conn=delta" : "") + "\n";
    }
    return out;
}

PlanResult plan_sweep(const PlanOptions& options)
{
    // The command line's own checks, again for any caller.
    if (options.skies.empty())
        throw SweepError("give at least one --sky FOLDER");
    if (options.levels.empty())
        throw SweepError("give the levels, --levels 0,25,50,...");
    for (std::size_t i = 0; i < options.levels.size(); ++i) {
        const double level = options.levels[i];
        if (!std::isfinite(level) || level < 0 || level > 1000)
            throw SweepError("--levels: " + level_text(level) + " is not a level from 0 to 1000 (per cent of the feeder's load)");
        if (i > 0 && level <= options.levels[i - 1])
            throw SweepError("--levels must increase: " + level_text(level) + " follows " + level_text(options.levels[i - 1]));
        // Cases and reports name a level to three decimals: two that read alike would be one.
        if (i > 0 && level_text(level) == level_text(options.levels[i - 1]))
            throw SweepError("--levels " + level_text(options.levels[i - 1]) + " and " + level_text(level) +
                             " are the same to three decimals, as the sweep names its levels: give levels that differ");
    }
    if (options.load_mult && (!(*options.load_mult > 0) || !std::isfinite(*options.load_mult) || *options.load_mult > 100))
        throw SweepError("--load-mult takes a number above 0 (the engine's LoadMult, such as 0.3), up to 100");
    std::set<std::string> placements;
    for (const std::string& placement : options.placements) {
        if (placement != "random" && placement != "near" && placement != "far")
            throw SweepError("--placement takes random, near or far, not '" + placement + "'");
        if (!placements.insert(placement).second)
            throw SweepError("--placement " + placement + " is given twice");
    }
    if (options.placements.empty())
        throw SweepError("give a --placement: random, near or far");
    // Each inverter mode, its settings as every case of it takes them.
    std::vector<study::Inverters> inverters;
    std::set<std::string> modes;
    try {
        for (const std::string& mode : options.inverters) {
            study::Inverters one = study::inverter_mode(mode);
            if (!modes.insert(one.mode).second)
                throw SweepError("--inverter " + mode + " is given twice");
            one.kva_ratio = options.kva_ratio;
            if (options.inverter_response)
                one.var_response_s = one.watt_response_s = *options.inverter_response;
            if (options.volt_var_curve)
                one.volt_var = study::read_curve(study::read_text(*options.volt_var_curve, "volt-var curve"),
                                                 options.volt_var_curve->string());
            if (options.volt_watt_curve)
                one.volt_watt = study::read_curve(study::read_text(*options.volt_watt_curve, "volt-watt curve"),
                                                  options.volt_watt_curve->string());
            inverters.push_back(std::move(one));
        }
    } catch (const study::StudyError& failure) {
        throw SweepError(failure.what());
    }
    if (inverters.empty())
        throw SweepError("give an --inverter: unity, pf=0.95, volt-var, volt-watt or volt-var+volt-watt");
    const bool controlled = std::any_of(inverters.begin(), inverters.end(), [](const study::Inverters& i) { return i.controlled(); });
    if (!controlled && (options.kva_ratio != 1.1 || options.inverter_response || options.volt_var_curve || options.volt_watt_curve))
        throw SweepError(std::string(options.kva_ratio != 1.1 ? "--kva-ratio" : options.inverter_response ? "--inverter-response" : options.volt_var_curve ? "--volt-var-curve" : "--volt-watt-curve") +
                         " goes with an --inverter MODE other than unity");
    if (!(options.kva_ratio >= 1) || options.kva_ratio > 10)
        throw SweepError("--kva-ratio takes a number from 1 to 10: each inverter's kVA over its Pmpp");
    if (options.seeds < 1 || options.seeds > 100000)
        throw SweepError("--seeds takes a whole number from 1");
    if (!(options.pv_ratio > 0) || !std::isfinite(options.pv_ratio))
        throw SweepError("--pv-ratio takes a number above 0");
    Criteria criteria;
    std::string criteria_file;
    if (options.criteria) {
        std::ifstream in(*options.criteria, std::ios::binary);
        if (!in)
            throw SweepError("cannot read the criteria file " + options.criteria->string());
        std::ostringstream bytes;
        bytes << in.rdbuf();
        criteria_file = bytes.str();
        criteria = parse_criteria(criteria_file, options.criteria->string());
    } else if (std::ifstream kept(fs::path(options.sweep) / criteria_name, std::ios::binary); kept) {
        // Planned again without criteria: the sweep keeps its own.
        std::ostringstream bytes;
        bytes << kept.rdbuf();
        criteria = parse_criteria(bytes.str(), (fs::path(options.sweep) / criteria_name).string());
    }

    PlanResult result;
    Record& record = result.record;
    record.circuit = full_path(options.circuit);
    record.pv_ratio = options.pv_ratio;
    record.without_circuit_pv = options.without_circuit_pv;
    record.load_at = options.load_at;
    record.loading_window_s = criteria.loading_window_s;
    std::error_code error;
    if (!fs::is_regular_file(record.circuit, error))
        throw SweepError("--circuit " + options.circuit.string() + " is not a file");
    {
        // The circuit's files as read now: a run, a submission and the gather compare them again.
        CircuitPrints prints = circuit_prints(record.circuit);
        record.circuit_fingerprint = std::move(prints.all);
        record.circuit_files = std::move(prints.files);
    }

    // The skies, each a scenario folder of this circuit, with its loadshapes.
    struct SkyPlan {
        Sky sky;
        study::PreparedStudyPtr study;
        std::string fingerprint;
        study::SharedMonitors shared;
    };
    std::vector<SkyPlan> skies;
    std::set<fs::path> folders;
    std::set<std::string> names;
    for (const fs::path& given : options.skies) {
        SkyPlan plan;
        plan.sky.folder = full_path(given);
        plan.sky.name = plan.sky.folder.filename().string();
        if (!folders.insert(plan.sky.folder).second)
            throw SweepError("--sky " + given.string() + " is given twice");
        if (!names.insert(lower(plan.sky.name)).second)
            throw SweepError("two skies are named " + plan.sky.name +
                             ": the sweep names a sky by its folder, so give each a folder of its own name");
        if (!fs::is_directory(plan.sky.folder, error))
            throw SweepError("--sky " + given.string() + " is not a folder");
        refuse_sky_of_another_circuit(given, record.circuit);
        try {
            const study::Sky sky = study::read_sky(plan.sky.folder);
            plan.fingerprint = sky.fingerprint;
            plan.sky.shapes = find_shapes(plan.sky.folder, sky.fingerprint);
            study::WriteOptions write{plan.sky.folder, plan.sky.shapes, true};
            write.without_circuit_pv = options.without_circuit_pv;
            plan.study = study::prepare_study(write);
        } catch (const study::StudyError& failure) {
            throw SweepError(failure.what());
        }
        fingerprint_sky(plan.sky);
        skies.push_back(std::move(plan));
    }

    // The sites: the circuit's loads, each at its drawn bus.
    const import::Circuit& circuit = study::prepared_circuit(*skies.front().study);
    const fs::path first = skies.front().sky.folder;
    std::unordered_map<std::string, std::string> drawn_of;
    std::unordered_map<std::string, double> km_of;
    try {
        for (const StandIn& element : read_element_map(first))
            drawn_of[lower(element.element)] = element.drawn_bus;
        if (const std::optional<std::vector<DrawnDistance>> distances = read_distances(first))
            for (const DrawnDistance& d : *distances)
                if (d.km)
                    km_of[d.bus] = *d.km;
    } catch (const FolderError& failure) {
        throw SweepError(failure.what());
    }
    std::vector<Site> sites;
    std::vector<std::string> undrawn;
    for (const import::LoadSite& load : circuit.loads) {
        Site site;
        site.load = load.name;
        site.bus = circuit.buses[static_cast<std::size_t>(load.bus)];
        site.bus1 = load.bus1;
        site.phases = load.phases;
        site.kv = load.kv;
        site.kw = load.kw;
        site.delta = load.delta;
        record.feeder_kw += load.kw;
        ++record.loads;
        const auto drawn = drawn_of.find(lower(load.name));
        if (drawn == drawn_of.end() || drawn->second.empty()) {
            undrawn.push_back(load.name);
            continue;
        }
        site.drawn_bus = drawn->second;
        if (const auto km = km_of.find(site.drawn_bus); km != km_of.end())
            site.km = km->second;
        sites.push_back(std::move(site));
    }
    // What would stop the engine: as write says it.
    if (!circuit.other_case.empty()) {
        std::string links;
        for (const std::string& link : circuit.other_case)
            links += "; " + link;
        result.warnings.push_back("the circuit names " + std::to_string(circuit.other_case.size()) +
                                  (circuit.other_case.size() == 1 ? " file" : " files") +
                                  " in another letter case, which OpenDSS does not find where file names are "
                                  "case-sensitive, as on Linux: make the links before the run" + links);
    }
    for (const import::MissingFile& missing : circuit.missing)
        result.warnings.push_back("the circuit reads a file that is not there, which OpenDSS will fail to find: " +
                                  missing.site.text() + ": " + missing.looked.string());
    for (const std::string& regulator : study::regulator_warnings(circuit))
        result.warnings.push_back(regulator);
    if (!circuit.displays.empty())
        result.warnings.push_back("the circuit runs Show, Plot or Visualize, which open windows in OpenDSS or fail "
                                  "where it cannot open one: comment them out");
    if (circuit.loads.empty())
        throw SweepError("the circuit " + record.circuit.string() + " has no loads in service: a sweep places its PV "
                         "systems at loads, and its levels are per cent of their kW");
    if (!(record.feeder_kw > 0))
        throw SweepError("the loads of " + record.circuit.string() + " total " + kw_text(record.feeder_kw) +
                         " kW: the levels are per cent of the feeder's load, which must be above 0");
    if (!undrawn.empty())
        result.warnings.push_back(std::to_string(undrawn.size()) + (undrawn.size() == 1 ? " load stands" : " loads stand") +
                                  " at no drawn bus and takes no PV: " + study::first_names(undrawn));
    int unmeasured = 0;
    for (const Site& site : sites)
        unmeasured += site.km ? 0 : 1;
    if (unmeasured > 0 && (placements.count("near") != 0 || placements.count("far") != 0))
        result.warnings.push_back(std::to_string(unmeasured) + (unmeasured == 1 ? " load has" : " loads have") +
                                  " no distance from the source: near and far take them last");
    // The circuit's own PV systems: the feeder's existing generation, each under its drawn bus's
    // sky in every case, the base included; or out of service in every case.
    std::vector<OwnPv> own;
    std::vector<std::string> unrated;
    for (const import::WiredElement& element : circuit.wired) {
        if (element.element_class != "pvsystem")
            continue;
        OwnPv pv{element.name.substr(element.name.find('.') + 1), "", element.pmpp.value_or(500), element.pmpp.has_value()};
        if (const auto drawn = drawn_of.find(lower(element.name)); drawn != drawn_of.end())
            pv.drawn_bus = drawn->second;
        if (!pv.rated)
            unrated.push_back(element.name);
        record.existing_pv_kw += pv.pmpp_kw;
        ++record.existing_pv;
        own.push_back(std::move(pv));
    }
    if (!unrated.empty() && !options.without_circuit_pv)
        result.warnings.push_back(study::first_names(unrated) + (unrated.size() == 1 ? " gives" : " give") +
                                  " no Pmpp, so the engine takes its default, 500 kW, as the existing PV counts it");
    std::string common;  // what every case's circuit changes in the feeder's
    if (options.without_circuit_pv) {
        for (const OwnPv& pv : own)
            common += "Edit " + dss_word("PVSystem." + pv.name) + " enabled=no\n";
        if (!own.empty())
            common = "! The circuit's own PV systems, out of service in every case (--without-circuit-pv).\n" + common;
    }
    // The load every case is judged at.
    record.load_mult = options.load_mult.value_or(circuit.load_mult.value_or(1));
    record.load_mult_given = options.load_mult.has_value();
    if (options.load_mult)
        common += "! Every case at the same load: the engine's LoadMult (--load-mult).\nSet LoadMult=" +
                  decimal_text(*options.load_mult, 6) + "\n";
    if (!options.load_at.empty()) {
        const study::Sky& sky = study::prepared_sky(*skies.front().study);
        LoadsHeld held;
        try {
            held = hold_loads_at(circuit, options.load_at, sky.interval);
        } catch (const SweepError& failure) {
            throw SweepError("--load-at " + options.load_at + ": " + failure.what());
        }
        common += held.lines;
        result.notes.push_back(held.said);
    }
    // Its loading is read over the criteria's window: a case read over another runs again.
    common += "! Each line's and transformer's loading is read over a moving average of " +
              decimal_text(criteria.loading_window_s, 6) + " s (loading_window_s).\n";
    {
        std::string load = "Every case is judged at the loads ";
        if (!options.load_at.empty())
            load += "held at their shapes' value at " + options.load_at;
        else
            load += "as the circuit gives them (" +
                    std::string(options.load_mult ? "" : "its own loadshapes, else their base kW; ") +
                    "--load-at HH:MM holds them at their shapes' value then)";
        load += ", times LoadMult " + decimal_text(record.load_mult, 3) +
                (options.load_mult ? std::string(" (--load-mult)")
                 : circuit.load_mult ? std::string(" (the circuit's own)")
                                     : std::string(" (--load-mult M for a light daytime load)"));
        result.notes.push_back(load);
    }

    // Every sky must give every site's drawn bus its shape, and every PV system of the circuit kept
    // its own.
    for (const SkyPlan& plan : skies) {
        const std::unordered_set<std::string> defined = shapes_defined(plan.sky.shapes);
        std::vector<std::string> missing;
        std::set<std::string> named;
        for (const Site& site : sites)
            if (defined.count(lower(shape_name(site.drawn_bus))) == 0 && named.insert(site.drawn_bus).second)
                missing.push_back(site.drawn_bus);
        if (!options.without_circuit_pv)
            for (const OwnPv& pv : own)
                if (!pv.drawn_bus.empty() && defined.count(lower(shape_name(pv.drawn_bus))) == 0 &&
                    named.insert(pv.drawn_bus).second)
                    missing.push_back(pv.drawn_bus);
        for (const std::string& drawn : options.search_buses)
            if (defined.count(lower(shape_name(drawn))) == 0 && named.insert(drawn).second)
                missing.push_back(drawn);
        for (const Plant& plant : options.plants)
            if (plant.sky == plan.sky.name && defined.count(lower(shape_name(plant.drawn_bus))) == 0 &&
                named.insert(plant.drawn_bus).second)
                missing.push_back(plant.drawn_bus);
        if (!missing.empty())
            throw SweepError(plan.sky.shapes.string() + " holds no loadshape for " + std::to_string(missing.size()) +
                             " drawn " + (missing.size() == 1 ? "bus" : "buses") + " where loads, plants or the circuit's PV stand (" +
                             study::first_names(missing, 4) +
                             "): make the sky's loadshapes for every bus, umbrascope-clouds --force --all-buses "
                             "--loadshapes " + plan.sky.shapes.string() + " ... " + plan.sky.folder.string());
    }
    std::vector<std::string> undrawn_pv;
    for (const OwnPv& pv : own)
        if (pv.drawn_bus.empty())
            undrawn_pv.push_back("PVSystem." + pv.name);
    if (!undrawn_pv.empty() && !options.without_circuit_pv)
        throw SweepError(study::first_names(undrawn_pv) + (undrawn_pv.size() == 1 ? " stands" : " stand") +
                         " at no drawn bus, so no sky can be given " + (undrawn_pv.size() == 1 ? "it" : "them") +
                         ": import the circuit again (umbrascope-import --force), or plan with --without-circuit-pv");
    if (!own.empty())
        result.notes.push_back(
            "The circuit's own PV: " + std::to_string(own.size()) + (own.size() == 1 ? " system, " : " systems, ") +
            decimal_text(record.existing_pv_kw, 1) + " kW (Pmpp), " +
            (options.without_circuit_pv ? std::string("out of service in every case (--without-circuit-pv)")
                                        : "in every case, the base included, each under its bus's sky: the levels "
                                          "add PV on top of it (--without-circuit-pv takes it out)"));

    // A sweep planned before keeps its circuit and ratio. Its cases that this plan does not hold
    // stay, with their results, where they were planned for the same inputs; those of a circuit,
    // a sky or a load that has changed since are stale, and go.
    const fs::path sweep = full_path(options.sweep);
    std::vector<Case> earlier;
    std::vector<Sky> earlier_skies;
    bool same_inputs = false;
    if (fs::exists(sweep / record_name, error)) {
        const Record before = read_record(sweep);
        if (before.circuit != record.circuit || std::fabs(before.pv_ratio - record.pv_ratio) > 1e-9)
            throw SweepError(sweep.string() + " was planned for " + before.circuit.string() + " at --pv-ratio " +
                             decimal_text(before.pv_ratio, 3) + ": plan this one into a folder of its own");
        earlier = read_cases(sweep);
        earlier_skies = read_skies(sweep);
        same_inputs = before.circuit_fingerprint == record.circuit_fingerprint &&
                      before.without_circuit_pv == record.without_circuit_pv &&
                      std::fabs(before.load_mult - record.load_mult) < 1e-9 && before.load_at == record.load_at &&
                      std::fabs(before.loading_window_s - record.loading_window_s) < 1e-9;
    }

    // The matrix: each sky's base, then each placement's seeds, level by level.
    std::vector<std::pair<Case, std::vector<Placed>>> planned;
    for (const SkyPlan& plan : skies) {
        Case base{case_id(record, plan.sky.name, plan.fingerprint, 0, "none", 0), 0, "none", 0, plan.sky.name, 0, 0};
        planned.emplace_back(base, std::vector<Placed>{});
        for (const study::Inverters& inverter : inverters)
        for (const std::string& placement : options.placements) {
            const int seeds = placement == "random" ? options.seeds : 1;
            for (int s = 1; s <= seeds; ++s) {
                const int seed = placement == "random" ? s : 0;
                const std::vector<std::size_t> order = site_order(sites, placement, seed);
                for (const double level : options.levels) {
                    if (level == 0)
                        continue;
                    const double target = std::round(level / 100 * record.feeder_kw * 1000) / 1000;
                    std::vector<Placed> placed;
                    try {
                        placed = place_pv(sites, order, record.pv_ratio, target);
                    } catch (const SweepError& failure) {
                        throw SweepError("level " + level_text(level) + " %: " + failure.what());
                    }
                    double total = 0;
                    for (const Placed& p : placed)
                        total += p.kw;
                    // The settings every case of a controlled mode takes, in its name.
                    const std::string settings =
                        inverter.controlled() ? inverter.mode + " " + study::inverter_lines(inverter, {{"x", 1}}) : "";
                    planned.emplace_back(Case{case_id(record, plan.sky.name, plan.fingerprint, level, placement, seed,
                                                      settings),
                                              level, placement, seed, plan.sky.name, static_cast<int>(placed.size()),
                                              total, inverter.mode},
                                         std::move(placed));
                }
            }
        }
    }

    // A search's plants: each a case of one PV system at its bus, sized to the bus's kV.
    for (const Plant& plant : options.plants) {
        const auto sky = std::find_if(skies.begin(), skies.end(), [&](const SkyPlan& p) { return p.sky.name == plant.sky; });
        if (sky == skies.end())
            throw SweepError("a plant at " + plant.bus + " names the sky " + plant.sky + ", which the plan does not hold");
        Site site;
        site.load = "Plant." + plant.bus;
        site.bus = plant.bus;
        site.bus1 = plant.bus1;
        site.drawn_bus = plant.drawn_bus;
        site.phases = plant.phases;
        site.kv = plant.kv;
        site.kw = plant.kw;
        sites.push_back(site);
        const study::Inverters& inverter = inverters.front();
        const std::string settings =
            inverter.controlled() ? inverter.mode + " " + study::inverter_lines(inverter, {{"x", 1}}) : "";
        const double kw = number_of(kw_text(plant.kw)).value_or(0);
        const double level = kw / record.feeder_kw * 100;
        Case c{case_id(record, plant.sky, sky->fingerprint, level,
                       std::string(plant_placement) + " " + plant.bus + " " + kw_text(kw), 0, settings),
               level, std::string(plant_placement), 0, plant.sky, 1, kw, inverter.mode, plant.bus};
        planned.emplace_back(c, std::vector<Placed>{{sites.size() - 1, kw}});
    }

    // Each case's folder: its PV systems, its circuit and its study, written where not already
    // there as planned.
    fs::create_directories(sweep / cases_folder_name, error);
    if (error)
        throw SweepError("cannot make " + (sweep / cases_folder_name).string() + ": " + error.message());
    // The voltage monitors each sky's cases share.
    for (SkyPlan& plan : skies) {
        try {
            plan.shared = study::write_shared_monitors(*plan.study, sweep / "skies" / plan.sky.name);
        } catch (const WriteError& failure) {
            throw SweepError(failure.what());
        }
    }
    std::size_t sky_index = 0;
    std::set<std::string> unity_kept;  // added PV systems volt-var and volt-watt leave at unity
    for (auto& [c, placed] : planned) {
        for (sky_index = 0; skies[sky_index].sky.name != c.sky;)
            ++sky_index;
        const fs::path folder = case_folder(sweep, c.id);
        // Written again each time: a case whose files come out as they were planned before keeps
        // its status and results; one that changes (another program, or files edited since) runs again.
        const std::optional<std::string> planned_before = planned_fingerprint(folder);
        fs::create_directories(folder, error);
        if (error)
            throw SweepError("cannot make " + folder.string() + ": " + error.message());
        const std::string pv_text = pv_file_text(c, sites, placed, record.pv_ratio);
        const std::string entry_text = study_entry_text(c, record.circuit, common, folder / pv_file_name);
        study::StudyCase one;
        one.folder = folder;
        one.entry = folder / entry_file_name;
        one.own_files = entry_text + pv_text;
        one.twin_voltages = true;
        one.shared = skies[sky_index].shared.folder;
        one.shared_run = skies[sky_index].shared.run;
        // The circuit's own PV under its buses' sky, as the sky's loadshapes give it where they were
        // made with them; the case's own after.
        if (!options.without_circuit_pv)
            for (const OwnPv& pv : own) {
                const std::string shape = dss_word(shape_name(pv.drawn_bus));
                one.after_shapes += "Edit ";
                one.after_shapes += dss_word("PVSystem." + pv.name);
                one.after_shapes += " daily=" + shape;
                one.after_shapes += " duty=" + shape + "\n";
            }
        for (const Placed& p : placed) {
            const Site& site = sites[p.site];
            const std::string name = "sweep_" + site.load.substr(site.load.find('.') + 1);
            one.pv.push_back({name, site.bus, site.drawn_bus, number_of(kw_text(p.kw)).value_or(0)});
            const std::string shape = dss_word(shape_name(site.drawn_bus));
            one.after_shapes += "Edit ";
            one.after_shapes += dss_word("PVSystem." + name);
            one.after_shapes += " daily=";
            one.after_shapes += shape;
            one.after_shapes += " duty=";
            one.after_shapes += shape;
            one.after_shapes += '\n';
        }
        // Its PV systems' inverters, after their sky.
        if (c.inverter != "unity") {
            std::vector<study::ControlledPv> pv_under_control;
            for (std::size_t k = 0; k < placed.size(); ++k) {
                const Site& site = sites[placed[k].site];
                std::size_t live = 0;
                for (const int node : import::bus_nodes(site.bus1))
                    live += node != 0 ? 1 : 0;
                pv_under_control.push_back({one.pv[k].name, one.pv[k].pmpp_kw,
                                            site.phases == 1 && (site.delta || live >= 2)});
            }
            const std::string& mode = c.inverter;
            const auto settings = std::find_if(inverters.begin(), inverters.end(),
                                               [&](const study::Inverters& i) { return i.mode == mode; });
            one.after_shapes += study::inverter_lines(*settings, pv_under_control);
            for (const std::string& name : study::left_at_unity(*settings, pv_under_control))
                unity_kept.insert(name);
        }
        try {
            write_whole(folder / pv_file_name, pv_text, false);
            write_whole(folder / entry_file_name, entry_text, false);
            (void)study::write_prepared(*skies[sky_index].study, &one);
        } catch (const study::StudyError& failure) {
            throw SweepError(failure.what());
        } catch (const WriteError& failure) {
            throw SweepError(failure.what());
        }
        const std::optional<std::string> print = case_files_fingerprint(folder);
        if (planned_before && print && *planned_before == *print) {
            ++result.kept;
            continue;
        }
        for (const std::string_view stale : {status_name, running_name})
            fs::remove(folder / stale, error);
        fs::remove_all(folder / "results", error);
        write_whole(folder / case_record_name, "case = " + c.id + "\nfiles = " + print.value_or("") + "\n", false);
        ++result.written;
    }
    if (!unity_kept.empty())
        result.warnings.push_back(
            std::to_string(unity_kept.size()) + " added PV " + (unity_kept.size() == 1 ? "system is" : "systems are") +
            " connected phase to phase (" + study::first_names({unity_kept.begin(), unity_kept.end()}, 4) +
            "): the engine's InvControl reads such a system's voltage line to neutral against its line-to-line rating "
            "(0.58 pu on a sound feeder) and would hold its output back for a sag that is not there, so volt-var and "
            "volt-watt leave " + (unity_kept.size() == 1 ? "it" : "them") + " at unity");
    // Every case's files on the disk before cases.csv names them.
    ::sync();

    // cases.csv last: the new matrix, then any case planned before that it no longer holds and
    // that is of the same inputs as this plan.
    std::set<std::string> ids;
    for (const auto& [c, placed] : planned)
        if (ids.insert(c.id).second)
            result.cases.push_back(c);
    std::vector<Sky> all_skies;
    std::set<std::string> sky_names;
    for (const SkyPlan& plan : skies)
        if (sky_names.insert(plan.sky.name).second)
            all_skies.push_back(plan.sky);
    // An earlier sky this plan does not name keeps its cases while it is as it was.
    std::set<std::string> current;
    for (const Sky& sky : earlier_skies) {
        if (sky_names.count(sky.name) != 0) {
            const auto now = std::find_if(skies.begin(), skies.end(), [&](const SkyPlan& p) { return p.sky.name == sky.name; });
            if (sky_change(sky, now->sky).empty())
                current.insert(sky.name);
            continue;
        }
        Sky now = sky;
        try {
            fingerprint_sky(now);
        } catch (const SweepError&) {
            continue;
        }
        if (!sky.fingerprint.empty() && sky_change(sky, now).empty()) {
            current.insert(sky.name);
            all_skies.push_back(sky);
            sky_names.insert(sky.name);
        }
    }
    for (const Case& c : earlier) {
        if (ids.count(c.id) != 0)
            continue;
        if (same_inputs && current.count(c.sky) != 0) {
            ids.insert(c.id);
            result.cases.push_back(c);
            continue;
        }
        fs::remove_all(case_folder(sweep, c.id), error);
        ++result.replaced;
    }
    if (options.criteria)
        write_whole(sweep / criteria_name, criteria_file);
    else if (!fs::exists(sweep / criteria_name, error))
        write_whole(sweep / criteria_name, criteria_text(Criteria{}));
    write_whole(sweep / record_name, record_text(record));
    write_whole(sweep / skies_name, skies_text(all_skies));
    write_whole(sweep / cases_name, cases_text(result.cases));
    return result;
}

}  // namespace umbrascope::sweep

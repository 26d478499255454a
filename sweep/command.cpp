#include "sweep/command.hpp"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/command_line.hpp"
#include "core/words.hpp"
#include "study/study.hpp"
#include "sweep/gather.hpp"
#include "sweep/locate.hpp"
#include "sweep/plan.hpp"
#include "sweep/runner.hpp"
#include "sweep/slices.hpp"
#include "sweep/worker.hpp"

namespace umbrascope::sweep {

namespace fs = std::filesystem;

namespace {

constexpr const char* usage_text = R"(Usage: umbrascope-study sweep plan SWEEP --circuit ENTRY.dss --sky FOLDER... --levels L,L,...
                                [--placement random|near|far]... [--seeds N] [--pv-ratio R] [--criteria FILE]
                                [--without-circuit-pv] [--load-mult M] [--load-at [MM-DD ]HH:MM]
                                [--inverter MODE]... [--kva-ratio R] [--inverter-response S]
                                [--volt-var-curve FILE] [--volt-watt-curve FILE]
       umbrascope-study sweep locate SWEEP --circuit ENTRY.dss --sky FOLDER... [--buses primary|three-phase|loads|FILE]
                                [--max-kw K] [--resolution R] [--criteria FILE] [--inverter MODE] ...
       umbrascope-study sweep run SWEEP [--jobs N] [--engine 'COMMAND {script}'] [--case-timeout S]
                                [--keep-exports] [--hand-on]
       umbrascope-study sweep submit SWEEP [--cases-per-task B] [--array-limit K] [--time T] [--partition P]
                                [--account A] [--engine 'COMMAND {script}'] [--case-timeout S]
                                [--keep-exports] [--hand-on]
       umbrascope-study sweep status SWEEP
       umbrascope-study sweep gather SWEEP [--partial]

How much PV a feeder can host under a moving cloud: one OpenDSS study a case, PV levels x
placements x seeds x skies, gathered into one answer that names what limits it.

plan: writes the case matrix into SWEEP. The feeder's load is the sum of its loads' kW as the
engine compiles them (kW=, or kVA= x pf=; 10 kW where a load gives neither), before any
loadmult or loadshape. Candidate sites are the loads: a PV system a load at most, on its load's
bus, phases and kV, sized R x the load's kW (default 2), taking its drawn bus's sky (duty). The
sites are taken in the placement's order (random by seed, near: nearest the source first, far:
farthest first, by the distances umbrascope-import measured along the lines) until the PV
totals the level, the last trimmed; a higher level holds every system of a lower one. Level 0,
the feeder without added PV, is a case of each sky: the base. The circuit's own PV systems stay
in every case, the base included, each under its drawn bus's sky, and are counted apart
(--without-circuit-pv takes them out of service in every case). Each --sky is a scenario folder
made by umbrascope-import of ENTRY.dss and umbrascope-clouds --loadshapes (a loadshape for every
bus where loads or the circuit's PV stand). Writes SWEEP/cases.csv
(case,level_pct,placement,seed,sky,pv_systems,pv_kw), and for each case SWEEP/cases/CASE/ with its
PVSystems.dss, Study.dss and study.dss. It records the fingerprints of the circuit's files and of
each sky, which run, submit, each task and gather compare first: a change is named, with the
command that plans again. Planning again replaces the cases of a changed circuit, sky or load, and
keeps the others and their results.

locate: plans a search by bus into SWEEP (a sweep's folder, or a new one): for each candidate bus,
the largest PV plant it can take alone, under each sky and under the clear sky, to within R kW
(default K/64) up to K kW (default the feeder's load). The plant is one PV system at the bus, of
its phases and kV as the engine solved them in the sky's base (line to line, line to neutral for
one phase), under the bus's own sky. Candidates: three-phase (the default: the buses at the
feeder's primary voltage, the base most of its three-phase buses have, with three phases),
primary (any phases), loads (every bus a load stands at), or a FILE of buses, one a line. Each size
run is a case of SWEEP, run by the same worker as a sweep's; each sky's base is the sweep's. A
first round tries a quarter, a half, three quarters and all of K; then each bus's bracket (the
largest size passing below the smallest failing) is halved round by round. Passing is taken to be
monotone in size: where a larger size passed after a smaller failed, the smaller holds, and run
and gather say where. run runs round after round until every bus is found; submit sends each
round as a job array whose job after plans and submits the next. gather writes
SWEEP/locational_hc.csv (bus,kv,phases,distance_km,hc_kw,clear_hc_kw,criterion,where,row,time,value,
probes,bracket_kw: the answer under the worst sky and under the clear sky, what failed the smallest
failing size, the engine runs, the last passing and failing sizes), locational_hc.svg and .png
(the feeder's lines coloured by the capacity at their downstream bus) and locational_summary.txt.
umbrascope SWEEP shows the answers on the map, and umbrascope-export makes a page of them (its
colouring by hosting).

run: runs every case not done in a local pool of --jobs engines: the engine on the case's
study.dss, then read; a done case keeps its reports, not the engine's exports (--keep-exports
keeps them, and the voltage tables). Each case's status file says done or failed and why. Ctrl+C
stops at once, ending the engines; the cases done stay done, a case stopped part-way counts as not
run. Run it again to rerun what failed or was stopped. On a study split in time (write --slices N),
runs its slices; with --hand-on, then hands on each slice whose overlap did not follow the slice
before's run and runs it again, round by round, until every slice follows.

submit: the same cases as a Slurm job array of tasks of B cases, each task running
umbrascope-study sweep task SWEEP --task ID (the local pool's worker), and a gather job after
them (afterany). Split into arrays of at most the cluster's MaxArraySize. Submit again to run
only the cases not done. With --hand-on, a study's slices are handed on round by round by a job
after each array, which submits the next.

status: counts the cases done, failed, running and left, from their status files; of a search by
bus, its round, the buses found and left, and each failed case a bus awaits.

gather: writes SWEEP/sweep_report.csv (a row a case, from its own reports: the PV added and the
circuit's own, the voltages, the controls' wear, the head's kW and the LoadMult it was judged at),
SWEEP/hosting_capacity.csv (a row a sky and placement, and all of each: hc_min, the highest level
at which every case passes at it and below; hc_median_pct, the median of the placement's seeds;
hc_max, at which some case passes; the same under the clear-sky twins; the answer, the lower of
the two, and which limits it; partial and censored; the first failing case under each and what
failed it), hosting_capacity.png and .svg, and sweep_summary.txt. A missing case ends its
placement's answer below it, and a sky whose base is missing has no answer. Where a case is
missing or failed it names them, states no hosting capacity and exits 2, unless --partial.

Criteria (--criteria FILE, name = value lines, # a comment; copied into SWEEP/criteria.txt):
  max_seconds_outside_a = 0     the most seconds a bus may spend outside ANSI range A
  max_seconds_outside_b = 0     the same for range B
  min_voltage = 0.95            the lowest voltage a bus may reach, per unit
  max_voltage = 1.05            the highest
  max_tap_increase = off        tap changes above the same sky's level-0 case
  max_tap_increase_pct = off    the same, per cent of max(base, 1)
  max_switching_increase = off  capacitor switchings above the level-0 case
  exclude_base_violations = yes a bus outside a range in the sky's level-0 case counts for none
  max_tap_changes_per_hour_increase = off   tap changes an hour above the level-0 case
  max_loading_pct = 100         a line's or transformer's moving average, % of its normal rating
  max_emergency_pct = 100       its loading at any second, % of its emergency rating
  loading_window_s = 900        the moving average's seconds (as planned)
  judge_default_ratings = no    judge elements rated only by the engine's defaults too
  max_reverse_s_head = off      seconds power may flow back through the head
  max_reverse_s_regulator = off the same through any one regulator
  max_curtailment_pct = off     the PV's energy the inverters may hold back, per cent
A line or transformer over a rating in the level-0 case fails a case only where the case's PV
makes it worse by more than one percentage point.

Options:
  --circuit ENTRY.dss    (plan) the circuit the skies were imported from
  --sky FOLDER           (plan) a scenario folder of that circuit with its loadshapes; repeatable
  --levels L,L,...       (plan) PV levels, per cent of the feeder's load, increasing, 0 to 1000
  --placement P          (plan) random, near or far; repeatable (default random)
  --seeds N              (plan) random placements a level (default 1)
  --inverter MODE        (plan) the added PV systems' inverters, repeatable as placements are
                         (default unity): unity, pf=0.95 (absorbing), volt-var, volt-watt or
                         volt-var+volt-watt, as umbrascope-study write --inverter takes them; each
                         mode's cases share their sky's base and have an answer of their own
  --kva-ratio R          (plan) each inverter's kVA over its Pmpp (default 1.1)
  --inverter-response S  (plan) seconds the inverters take to answer (default 5 volt-var, 10 volt-watt)
  --volt-var-curve FILE, --volt-watt-curve FILE  (plan) "voltage,value" curves instead of the
                         IEEE 1547-2018 Category B ones
  --buses B              (locate) primary, three-phase (default), loads, or a file of buses
  --max-kw K             (locate) the largest plant tried (default the feeder's load)
  --resolution R         (locate) how near each answer is found, kW (default K/64)
  --pv-ratio R           (plan) each PV system's kW over its load's kW (default 2)
  --criteria FILE        (plan) the criteria, as above
  --without-circuit-pv   (plan) the circuit's own PV systems out of service in every case
  --load-mult M          (plan) every case at the engine's LoadMult M (0.3: a light daytime load)
  --load-at HH:MM        (plan) every load held at its daily shape's value at that clock time;
                         MM-DD HH:MM for loads with only a yearly shape
  --jobs N               (run) engines at once (default: the machine's cores)
  --engine 'COMMAND {script}'  (run, submit) how OpenDSS runs a script here, {script} its path;
                         default UMBRASCOPE_ENGINE, else opendsscmd on the PATH
  --case-timeout S       (run, submit) end a case whose engine runs longer than S seconds
  --keep-exports         (run, submit) keep each done case's engine exports and voltage tables
  --hand-on              (run, submit) a study's slices handed on round by round
  --cases-per-task B     (submit) cases a task runs, one after another (default 4)
  --array-limit K        (submit) tasks running at once (the array's %K)
  --time T, --partition P, --account A   (submit) as sbatch takes them
  --partial              (gather) state the answer from the cases there are, marked partial
  --help                 show this text and exit

Exit status: 0 when done, 1 when run or status leaves cases failed, 2 for a wrong command line, input
that cannot be used, or a gather that lacks cases (one line on standard error says why).
)";

std::vector<double> parse_levels(CommandLine& line, const std::string& text)
{
    std::vector<double> levels;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string piece = text.substr(start, comma - start);
        const std::optional<double> level = number_of(piece);
        if (!level)
            line.usage_error("--levels takes per cents separated by commas, such as 0,25,50; not '" + piece + "'");
        if (*level < 0 || *level > 1000)
            line.usage_error("--levels: " + piece + " is not a level from 0 to 1000 (per cent of the feeder's load)");
        if (!levels.empty() && *level <= levels.back())
            line.usage_error("--levels must increase: " + piece + " follows " + level_text(levels.back()));
        if (!levels.empty() && level_text(*level) == level_text(levels.back()))
            line.usage_error("--levels " + level_text(levels.back()) + " and " + piece +
                             " are the same to three decimals, as the sweep names its levels: give levels that differ");
        levels.push_back(*level);
        start = comma + 1;
    }
    return levels;
}

// "Slice 3", "Slices 3, 5 and 9": the first word of a line.
std::string slices_named(const std::vector<int>& numbers)
{
    std::string text = study::slices_named(numbers);
    text.front() = 'S';
    return text;
}

// A search's answer written, and said: each file, then its summary.
LocateReport print_locate_report(const fs::path& sweep, bool partial)
{
    LocateReport report = write_locate_report(sweep, partial);
    for (const fs::path& path : report.written)
        std::printf("Wrote %s\n", path.string().c_str());
    for (const std::string& text : report.summary)
        std::printf("%s\n", text.c_str());
    return report;
}

fs::path this_program(const char* argv0)
{
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::absolute(argv0) : self;
}

}  // namespace

int sweep_main(int argc, char* argv[])
{
    // The verb after "sweep" is an operand like the folder; CommandLine sees them from argv[1].
    CommandLine line("umbrascope-study sweep", argc - 1, argv + 1, usage_text);
    std::string verb;
    std::optional<fs::path> sweep, circuit, criteria, list;
    std::vector<fs::path> skies;
    std::vector<std::string> placements, inverters;
    std::optional<double> kva_ratio, inverter_response;
    std::optional<fs::path> volt_var_curve, volt_watt_curve;
    std::optional<std::vector<double>> levels;
    std::optional<long> seeds, jobs, per_task, array_limit, task;
    std::optional<double> ratio, timeout, load_mult;
    std::optional<std::string> engine, time, partition, account, load_at;
    bool partial = false, without_circuit_pv = false, keep_exports = false, hand_on = false;
    std::optional<std::string> buses;
    std::optional<double> max_kw, resolution;
    const auto only = [&](bool ok, const std::string& option, const char* verbs) {
        if (!ok)
            line.usage_error(option + " goes with " + verbs);
    };
    std::vector<std::pair<std::string, std::string>> given;  // option, verbs it goes with
    while (line.next()) {
        if (!line.is_option()) {
            if (verb.empty())
                verb = line.arg();
            else if (!sweep)
                sweep = line.arg();
            else
                line.usage_error("give one SWEEP folder, not '" + sweep->string() + "' and '" + line.arg() + "'");
            continue;
        }
        const std::string& option = line.arg();
        if (option == "--circuit") {
            circuit = line.value();
            given.emplace_back(option, "plan locate");
        } else if (option == "--sky") {
            skies.emplace_back(line.value());
            given.emplace_back(option, "plan locate");
        } else if (option == "--levels") {
            levels = parse_levels(line, line.value());
            given.emplace_back(option, "plan");
        } else if (option == "--placement") {
            placements.push_back(line.value());
            if (placements.back() != "random" && placements.back() != "near" && placements.back() != "far")
                line.usage_error("--placement takes random, near or far, not '" + placements.back() + "'");
            for (std::size_t i = 0; i + 1 < placements.size(); ++i)
                if (placements[i] == placements.back())
                    line.usage_error("--placement " + placements.back() + " is given twice");
            given.emplace_back(option, "plan");
        } else if (option == "--seeds") {
            seeds = line.whole_number(1, 100000);
            given.emplace_back(option, "plan");
        } else if (option == "--pv-ratio") {
            ratio = line.number(1e-6, 1000);
            given.emplace_back(option, "plan");
        } else if (option == "--criteria") {
            criteria = line.value();
            given.emplace_back(option, "plan locate");
        } else if (option == "--without-circuit-pv") {
            line.flag();
            without_circuit_pv = true;
            given.emplace_back(option, "plan locate");
        } else if (option == "--load-mult") {
            load_mult = line.number(1e-6, 100);
            given.emplace_back(option, "plan locate");
        } else if (option == "--load-at") {
            load_at = line.value();
            given.emplace_back(option, "plan locate");
        } else if (option == "--inverter") {
            inverters.push_back(line.value());
            given.emplace_back(option, "plan locate");
        } else if (option == "--kva-ratio") {
            kva_ratio = line.number(1, 10);
            given.emplace_back(option, "plan locate");
        } else if (option == "--inverter-response") {
            inverter_response = line.number(0.01, 3600);
            given.emplace_back(option, "plan locate");
        } else if (option == "--volt-var-curve") {
            volt_var_curve = line.value();
            given.emplace_back(option, "plan locate");
        } else if (option == "--volt-watt-curve") {
            volt_watt_curve = line.value();
            given.emplace_back(option, "plan locate");
        } else if (option == "--buses") {
            buses = line.value();
            given.emplace_back(option, "locate");
        } else if (option == "--max-kw") {
            max_kw = line.number(0, 1e9);
            if (!(*max_kw > 0))
                line.usage_error("--max-kw takes a size above 0 kW: the largest plant the search tries");
            given.emplace_back(option, "locate");
        } else if (option == "--resolution") {
            resolution = line.number(0, 1e9);
            if (!(*resolution > 0))
                line.usage_error("--resolution takes a size above 0 kW: how near the search finds each answer");
            given.emplace_back(option, "locate");
        } else if (option == "--keep-exports") {
            line.flag();
            keep_exports = true;
            given.emplace_back(option, "run submit task round");
        } else if (option == "--hand-on") {
            line.flag();
            hand_on = true;
            given.emplace_back(option, "run submit round");
        } else if (option == "--jobs") {
            jobs = line.whole_number(1, 1024);
            given.emplace_back(option, "run");
        } else if (option == "--engine") {
            engine = line.value();
            given.emplace_back(option, "run submit task round");
        } else if (option == "--case-timeout") {
            timeout = line.number(1, 1e7);
            given.emplace_back(option, "run submit task round");
        } else if (option == "--cases-per-task") {
            per_task = line.whole_number(1, 100000);
            given.emplace_back(option, "submit round");
        } else if (option == "--array-limit") {
            array_limit = line.whole_number(1, 100000);
            given.emplace_back(option, "submit round");
        } else if (option == "--time") {
            time = line.value();
            given.emplace_back(option, "submit round");
        } else if (option == "--partition") {
            partition = line.value();
            given.emplace_back(option, "submit round");
        } else if (option == "--account") {
            account = line.value();
            given.emplace_back(option, "submit round");
        } else if (option == "--partial") {
            line.flag();
            partial = true;
            given.emplace_back(option, "gather");
        } else if (option == "--task") {
            task = line.whole_number(0, 100000000);
            given.emplace_back(option, "task");
        } else if (option == "--list") {
            list = line.value();
            given.emplace_back(option, "task");
        } else {
            line.unknown_option();
        }
    }
    static const std::vector<std::string> verbs{"plan", "locate", "run", "submit", "status", "gather", "task", "round"};
    if (std::find(verbs.begin(), verbs.end(), verb) == verbs.end())
        line.usage_error(verb.empty() ? "say plan, locate, run, submit, status or gather"
                                      : "say plan, locate, run, submit, status or gather, not '" + verb + "'");
    if (!sweep)
        line.usage_error("give the SWEEP folder");
    // Engines run in the cases' folders: every path they are given is whole.
    sweep = fs::absolute(*sweep).lexically_normal();
    for (const auto& [option, with] : given) {
        std::string list_of;
        std::size_t start = 0;
        bool ok = false;
        while (start < with.size()) {
            const std::size_t space = std::min(with.find(' ', start), with.size());
            ok = ok || with.substr(start, space - start) == verb;
            start = space + 1;
        }
        only(ok, option,
             with.rfind("run submit", 0) == 0 ? "run and submit"
             : with == "submit round"         ? "submit"
             : with == "plan locate"          ? "plan and locate"
                                              : with.c_str());
    }
    if (verb == "plan") {
        if (!circuit)
            line.usage_error("plan needs --circuit ENTRY.dss, the circuit the skies were imported from");
        if (skies.empty())
            line.usage_error("plan needs a --sky FOLDER, a scenario of that circuit with its loadshapes");
        if (!levels)
            line.usage_error("plan needs --levels, such as 0,25,50,75,100 (per cent of the feeder's load)");
    }
    if (verb == "locate") {
        if (!circuit)
            line.usage_error("locate needs --circuit ENTRY.dss, the circuit the skies were imported from");
        if (skies.empty())
            line.usage_error("locate needs a --sky FOLDER, a scenario of that circuit with its loadshapes");
        if (inverters.size() > 1)
            line.usage_error("locate takes one --inverter MODE; search into another folder for another mode");
        if (max_kw && resolution && *resolution > *max_kw)
            line.usage_error("--resolution " + decimal_text(*resolution, 3) + " kW is larger than --max-kw " +
                             decimal_text(*max_kw, 3) + " kW: give a resolution below the maximum");
    }
    if (verb == "task" && (!task || !list))
        line.usage_error("task needs --task ID and --list FILE, as a submission's script gives them");
    // A study written with --slices: its slices are the cases.
    std::optional<fs::path> sliced;
    if (verb != "plan" && verb != "locate" && verb != "gather")
        if (const std::optional<fs::path> slices = slices_sweep(*sweep)) {
            sliced = sweep;
            sweep = *slices;
        }
    if (hand_on && !sliced)
        line.usage_error("--hand-on goes with a study split in time (umbrascope-study write FOLDER --slices N), whose "
                         "slices it hands on round by round; " + sweep->string() + " is not one");
    if (verb == "gather" && slices_sweep(*sweep))
        line.usage_error(sweep->string() + " is a study split in time: umbrascope-study read " + sweep->string() +
                         " stitches its slices");

    // What plan and locate both take: the circuit, the skies, the criteria, the load and the inverters.
    const auto plan_options = [&] {
        PlanOptions options;
        options.sweep = *sweep;
        options.circuit = *circuit;
        options.skies = skies;
        options.criteria = criteria;
        options.without_circuit_pv = without_circuit_pv;
        options.load_mult = load_mult;
        options.load_at = load_at.value_or("");
        if (!inverters.empty())
            options.inverters = inverters;
        options.kva_ratio = kva_ratio.value_or(1.1);
        options.inverter_response = inverter_response;
        options.volt_var_curve = volt_var_curve;
        options.volt_watt_curve = volt_watt_curve;
        return options;
    };
    try {
        if (verb == "plan") {
            PlanOptions options = plan_options();
            options.levels = *levels;
            options.placements = placements.empty() ? std::vector<std::string>{"random"} : placements;
            options.seeds = static_cast<int>(seeds.value_or(1));
            options.pv_ratio = ratio.value_or(2);
            const PlanResult planned = plan_sweep(options);
            std::printf("The feeder's load: %s kW over %d %s, the sum of their kW as the engine compiles them: the "
                        "levels are per cent of it\n",
                        decimal_text(planned.record.feeder_kw, 1).c_str(), planned.record.loads,
                        planned.record.loads == 1 ? "load" : "loads");
            for (const std::string& note : planned.notes)
                std::printf("%s\n", note.c_str());
            std::printf("Wrote %s: %zu %s (%d written now, %d already there as planned", (fs::path(*sweep) / cases_name).string().c_str(),
                        planned.cases.size(), planned.cases.size() == 1 ? "case" : "cases", planned.written, planned.kept);
            if (planned.replaced > 0)
                std::printf("; %d planned before for a circuit, sky or load that has changed since, removed", planned.replaced);
            std::printf(")\n");
            std::printf("Next: umbrascope-study sweep run %s (or submit, on a Slurm cluster), then gather\n",
                        sweep->string().c_str());
            std::fflush(stdout);
            for (const std::string& warning : planned.warnings)
                std::fprintf(stderr, "umbrascope-study sweep: warning: %s\n", warning.c_str());
            return 0;
        }
        if (verb == "locate") {
            LocateOptions options;
            options.plan = plan_options();
            if (buses)
                options.buses = *buses;
            options.max_kw = max_kw;
            options.resolution_kw = resolution;
            const LocateResult planned = plan_locate(options);
            for (const std::string& note : planned.planned.notes)
                std::printf("%s\n", note.c_str());
            for (const std::string& note : planned.notes)
                std::printf("%s\n", note.c_str());
            const std::string chosen = buses.value_or("three-phase");
            const bool by_voltage = chosen == "three-phase" || chosen == "primary";
            const std::string given_buses = by_voltage ? std::string() : " (--buses " + chosen + ")";
            std::printf("Planned a search for the largest PV plant each bus can take, up to %s kW to within %s kW, "
                        "among %d %s%s; each sky's base runs first, and its engine's solution gives the buses' kV and "
                        "phases%s\n",
                        decimal_text(planned.max_kw, 3).c_str(), decimal_text(planned.resolution_kw, 3).c_str(),
                        planned.candidates,
                        by_voltage ? "drawn buses the source reaches" : planned.candidates == 1 ? "bus" : "buses",
                        given_buses.c_str(),
                        chosen == "three-phase" ? ", and chooses those three-phase at the feeder's primary voltage"
                        : chosen == "primary"   ? ", and chooses those at the feeder's primary voltage"
                                                : "");
            std::printf("Next: umbrascope-study sweep run %s (or submit, on a Slurm cluster): round after round until "
                        "every bus is found\n",
                        sweep->string().c_str());
            std::fflush(stdout);
            for (const std::string& warning : planned.planned.warnings)
                std::fprintf(stderr, "umbrascope-study sweep: warning: %s\n", warning.c_str());
            return 0;
        }
        if (verb == "status") {
            if (!sliced && has_search(*sweep)) {
                const SearchRound search = advance_search(*sweep, false);
                if (search.bases_left)
                    std::printf("Search by bus: the skies' bases have not all run yet\n");
                else
                    std::printf("Search by bus: round %d, %d of %d %s found, %d left\n", search.round, search.found,
                                search.buses, search.buses == 1 ? "bus" : "buses", search.left);
                for (const std::string& blocked : search.blocked)
                    std::printf("  waits on %s: run it again with umbrascope-study sweep run %s\n", blocked.c_str(),
                                sweep->string().c_str());
            }
            const Counts counts = sweep_status(*sweep);
            std::printf("%d done, %d failed, %d running, %d left of %d %s\n", counts.done, counts.failed,
                        counts.running, counts.left, counts.done + counts.failed + counts.running + counts.left,
                        sliced ? "slices" : "cases");
            for (std::size_t i = 0; i < counts.failures.size() && i < 20; ++i)
                std::printf("  failed %s: %s\n", counts.failures[i].first.c_str(), counts.failures[i].second.c_str());
            if (counts.failures.size() > 20)
                std::printf("  and %zu more failed\n", counts.failures.size() - 20);
            return counts.failed > 0 ? 1 : 0;
        }
        if (verb == "gather" && has_search(*sweep)) {
            const LocateReport report = print_locate_report(*sweep, partial);
            if (!report.answered) {
                std::fflush(stdout);
                std::fprintf(stderr, "umbrascope-study sweep: no locational hosting capacity stated: run the search on "
                                     "(umbrascope-study sweep run %s, or submit), or gather --partial\n",
                             sweep->string().c_str());
                return 2;
            }
            // The sweep's own answer too, where it has levels of its own.
            const std::vector<Case> all = read_cases(*sweep);
            if (std::none_of(all.begin(), all.end(), [](const Case& c) {
                    return c.placement != "none" && c.placement != plant_placement;
                }))
                return 0;
        }
        if (verb == "gather") {
            const GatherResult gathered = gather_sweep({*sweep, partial});
            for (const fs::path& path : gathered.written)
                std::printf("Wrote %s\n", path.string().c_str());
            if (!gathered.answered) {
                std::fflush(stdout);
                std::fprintf(stderr,
                             "umbrascope-study sweep: no hosting capacity stated: %zu %s the answer needs %s missing or "
                             "failed: ",
                             gathered.missing.size(), gathered.missing.size() == 1 ? "case" : "cases",
                             gathered.missing.size() == 1 ? "is" : "are");
                for (std::size_t i = 0; i < gathered.missing.size() && i < 5; ++i)
                    std::fprintf(stderr, "%s%s", i > 0 ? ", " : "", gathered.missing[i].c_str());
                if (gathered.missing.size() > 5)
                    std::fprintf(stderr, " and %zu more (sweep_summary.txt lists them)", gathered.missing.size() - 5);
                std::fprintf(stderr,
                             ". Run them with umbrascope-study sweep run %s (or submit), then gather again; or gather "
                             "--partial for an answer from the cases there are\n",
                             sweep->string().c_str());
                return 2;
            }
            for (const std::string& text : gathered.summary)
                std::printf("%s\n", text.c_str());
            if (!gathered.missing.empty())
                std::printf("Partial: %zu cases missing or failed (sweep_summary.txt lists them)\n",
                            gathered.missing.size());
            return 0;
        }
        (void)read_cases(*sweep);  // a folder that is not a sweep is named before the engine
        const std::string command = resolve_engine(engine);
        if (verb == "task") {
            catch_stop_signals();
            const int failed = run_task(*sweep, *list, static_cast<int>(*task), {command, timeout.value_or(0), keep_exports});
            return failed > 0 || stop_requested().load() ? 1 : 0;
        }
        if (verb == "run") {
            catch_stop_signals();
            LocalOptions options;
            options.jobs = static_cast<int>(jobs.value_or(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN))));
            options.engine = command;
            options.timeout = timeout.value_or(0);
            options.keep_exports = keep_exports;
            const bool terminal = isatty(2) != 0;
            const auto progress = [&](const std::string& text) {
                if (terminal)
                    std::fprintf(stderr, "\r\033[K%s", text.c_str());
                else
                    std::fprintf(stderr, "%s\n", text.c_str());
                std::fflush(stderr);
            };
            LocalResult result = run_local(*sweep, options, progress);
            if (terminal && result.ran > 0)
                std::fprintf(stderr, "\n");
            // Handed on round by round: each slice that did not follow the slice before's run
            // begins again where that run had its controls, until every slice follows or no slice
            // is written anew.
            if (hand_on && sliced && !result.interrupted && result.failed == 0) {
                const int most = 4 * static_cast<int>(read_cases(*sweep).size()) + 1;
                for (int round = 1; round <= most; ++round) {
                    const HandOnRound handed = hand_on_round(*sliced);
                    if (handed.anew.empty()) {
                        if (handed.unfollowed.empty())
                            std::printf("Every slice follows the slice before's run over its overlap\n");
                        else
                            std::printf("%s handed on from every row %s could be, and followed from none: "
                                        "umbrascope-study read %s says why\n",
                                        slices_named(handed.unfollowed).c_str(),
                                        handed.unfollowed.size() == 1 ? "it" : "they", sliced->string().c_str());
                        break;
                    }
                    std::printf("Round %d: %s handed on anew, run again\n", round, slices_named(handed.anew).c_str());
                    std::fflush(stdout);
                    const LocalResult more = run_local(*sweep, options, progress);
                    if (terminal && more.ran > 0)
                        std::fprintf(stderr, "\n");
                    result.ran += more.ran;
                    result.done += more.done;
                    result.failed += more.failed;
                    result.left = more.left;
                    result.seconds += more.seconds;
                    result.interrupted = more.interrupted;
                    if (more.interrupted || more.failed > 0)
                        break;
                }
            }
            // A search by bus: round after round, each planned from the cases judged so far, until
            // every bus is found or a case it awaits failed.
            std::optional<SearchRound> search;
            if (!sliced && has_search(*sweep) && !result.interrupted) {
                for (;;) {
                    search = advance_search(*sweep, true);
                    if (search->planned == 0 || search->bases_left)
                        break;
                    std::printf("Round %d: %d %s planned; %d of %d %s found\n", search->round, search->planned,
                                search->planned == 1 ? "case" : "cases", search->found, search->buses,
                                search->buses == 1 ? "bus" : "buses");
                    std::fflush(stdout);
                    const LocalResult more = run_local(*sweep, options, progress);
                    if (terminal && more.ran > 0)
                        std::fprintf(stderr, "\n");
                    result.ran += more.ran;
                    result.done += more.done;
                    result.failed += more.failed;
                    result.left = more.left;
                    result.seconds += more.seconds;
                    result.interrupted = more.interrupted;
                    if (more.interrupted)
                        break;
                }
            }
            const char* unit = sliced ? "slice" : "case";
            const char* units = sliced ? "slices" : "cases";
            if (result.interrupted) {
                std::printf("Stopped: %d %s done, %d failed now; %d left (a %s stopped part-way counts as not run). Run "
                            "again to go on.\n",
                            result.done, result.done == 1 ? unit : units, result.failed, result.left, unit);
                return 1;
            }
            const int engines = std::max(1, std::min(options.jobs, std::max(result.ran, 1)));
            std::printf("Ran %d %s in %.1f s with %d %s: %d done, %d failed\n", result.ran,
                        result.ran == 1 ? unit : units, result.seconds, engines, engines == 1 ? "engine" : "engines",
                        result.done, result.failed);
            if (search && !search->bases_left) {
                for (const std::string& blocked : search->blocked)
                    std::printf("No answer yet for %s\n", blocked.c_str());
                if (!search->contrary.empty())
                    std::printf("Passing was not monotone in size at %s: a larger plant passed where a smaller failed; "
                                "the smaller failure holds\n",
                                study::first_names(search->contrary, 6).c_str());
                if (search->left == 0) {
                    (void)print_locate_report(*sweep, false);
                } else {
                    std::printf("%d of %d %s not found yet\n", search->left, search->buses,
                                search->buses == 1 ? "bus" : "buses");
                }
            }
            if (result.failed > 0)
                std::printf("umbrascope-study sweep status %s names the failed and why; run again to rerun them\n",
                            sweep->string().c_str());
            else if (search && search->left == 0 && !search->bases_left)
                ;
            else if (sliced)
                std::printf("Next: umbrascope-study read %s\n", sliced->string().c_str());
            else
                std::printf("Next: umbrascope-study sweep gather %s\n", sweep->string().c_str());
            return result.failed > 0 ? 1 : 0;
        }
        SubmitOptions options;
        options.cases_per_task = static_cast<int>(per_task.value_or(4));
        if (array_limit)
            options.array_limit = static_cast<int>(*array_limit);
        options.time = time;
        options.partition = partition;
        options.account = account;
        options.engine = command;
        options.timeout = timeout.value_or(0);
        options.keep_exports = keep_exports;
        options.program = this_program(argv[0]);
        options.read_after = sliced;
        options.hand_on = hand_on || verb == "round";
        options.search = !sliced && has_search(*sweep);
        if (verb == "round" && !sliced && !options.search)
            line.usage_error("round goes with a study split in time or a search by bus, as a submission's round script "
                             "gives it");
        if (options.search) {
            // The next round of the search, planned from the cases judged; the bases first.
            const SearchRound search = advance_search(*sweep, true);
            for (const std::string& blocked : search.blocked)
                std::printf("No answer yet for %s\n", blocked.c_str());
            if (search.planned > 0)
                std::printf("Round %d: %d %s planned; %d of %d %s found\n", search.round, search.planned,
                            search.planned == 1 ? "case" : "cases", search.found, search.buses,
                            search.buses == 1 ? "bus" : "buses");
            // After a round whose cases failed and planned nothing new, the failed wait for the user.
            if (verb == "round" && search.bases_left) {
                const Counts counts = sweep_status(*sweep);
                if (counts.failed > 0) {
                    for (const auto& [id, reason] : counts.failures)
                        std::printf("  failed %s: %s\n", id.c_str(), reason.c_str());
                    std::printf("A sky's base failed, and the search needs it: submit again once it can run "
                                "(umbrascope-study sweep submit %s)\n",
                                sweep->string().c_str());
                    return 1;
                }
            }
            if (verb == "round" && search.planned == 0 && !search.bases_left) {
                if (search.left == 0) {
                    (void)print_locate_report(*sweep, false);
                    return 0;
                }
                std::printf("%d of %d %s not found: their searches await failed cases; submit again once they can "
                            "run (umbrascope-study sweep submit %s)\n",
                            search.left, search.buses, search.buses == 1 ? "bus" : "buses", sweep->string().c_str());
                return 1;
            }
            if (verb == "round")
                options.from_round = true;
        }
        if (verb == "round" && sliced) {
            // After a round of slices on Slurm: hand on, then submit the slices written anew with
            // another round after them, or stitch the study.
            const HandOnRound handed = hand_on_round(*sliced);
            if (handed.anew.empty()) {
                study::ReadOptions read;
                read.folder = *sliced;
                const study::ReadResult stitched = study::read_study(read);
                for (const std::string& text : stitched.summary)
                    std::printf("%s\n", text.c_str());
                for (const std::string& warning : stitched.warnings)
                    std::fprintf(stderr, "umbrascope-study: warning: %s\n", warning.c_str());
                return 0;
            }
            std::printf("%s handed on anew\n", slices_named(handed.anew).c_str());
            options.from_round = true;
        }
        const Submitted submitted = submit_slurm(*sweep, options);
        if (submitted.cases == 0) {
            if (options.search) {
                const LocateReport report = print_locate_report(*sweep, false);
                return report.answered ? 0 : 1;
            }
            if (sliced)
                std::printf("Every slice is done: umbrascope-study read %s\n", sliced->string().c_str());
            else
                std::printf("Every case is done: umbrascope-study sweep gather %s\n", sweep->string().c_str());
            return 0;
        }
        std::string arrays;
        for (const std::string& id : submitted.arrays) {
            if (!arrays.empty())
                arrays += ",";
            arrays += id;
        }
        std::printf("Submitted %d %s as %d %s: job array%s %s, then the %s, job %s\n", submitted.cases,
                    sliced ? (submitted.cases == 1 ? "slice" : "slices") : (submitted.cases == 1 ? "case" : "cases"),
                    submitted.tasks, submitted.tasks == 1 ? "task" : "tasks", submitted.arrays.size() == 1 ? "" : "s",
                    arrays.c_str(),
                    sliced           ? "read that stitches them"
                    : options.search ? "job that plans and submits the next round"
                                     : "gather",
                    submitted.gather.c_str());
        if (sliced)
            std::printf("Watch them with squeue -j %s,%s and umbrascope-study sweep status %s; the read writes the "
                        "study's tables and reports into %s\n",
                        arrays.c_str(), submitted.gather.c_str(), sliced->string().c_str(), sliced->string().c_str());
        else
            std::printf("Watch them with squeue -j %s,%s and umbrascope-study sweep status %s; the gather writes "
                        "%s/sweep_summary.txt\n",
                        arrays.c_str(), submitted.gather.c_str(), sweep->string().c_str(), sweep->string().c_str());
        return 0;
    } catch (const SweepError& error) {
        line.fail(error.what());
    }
    return 0;
}

}  // namespace umbrascope::sweep

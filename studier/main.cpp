// umbrascope-study: the OpenDSS study of a scenario's sky, and every drawn bus's voltage back from it.

#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/command_line.hpp"
#include "output/output_file.hpp"
#include "core/words.hpp"
#include "model/folder_error.hpp"
#include "study/study.hpp"
#include "sweep/command.hpp"
#include "sweep/slices.hpp"
#include "sweep/cases.hpp"

namespace {

using namespace umbrascope;
using namespace umbrascope::study;
namespace fs = std::filesystem;

constexpr const char* usage_text = R"(Usage: umbrascope-study write FOLDER --loadshapes SHAPES [--no-twin] [--no-loading]
                             [--inverter MODE [--kva-ratio R] [--inverter-response S]
                              [--volt-var-curve FILE] [--volt-watt-curve FILE]]
                             [--slices N [--overlap S] [--hand-on]]
       umbrascope-study read FOLDER [--results DIR] [--table FILE] [--units U] [--source BUS] [--whole]
                             [--loading-window S]
       umbrascope-study sweep plan|locate|run|submit|status|gather SWEEP ...   (see umbrascope-study sweep --help)

Runs a time-series power flow of the sky in FOLDER (made by umbrascope-import and
umbrascope-clouds) in OpenDSS, and brings back every drawn bus's voltage beside the sun table and
what the sky cost the feeder's regulators and capacitors.

write: writes FOLDER/study.dss, a plain OpenDSS script, FOLDER/study_monitors.csv, which says
what each voltage monitor column is (element, terminal, conductor -> bus and node), and
FOLDER/study_controls.csv, which says what the other monitors record. Compiled in OpenDSS
(compile "FOLDER/study.dss"), the script compiles the circuit the import read and redirects
SHAPES (the loadshapes of umbrascope-clouds --loadshapes); settles the regulators and capacitors
at the first row's sky (duty solves at its time, the controls acting at once, until a solve moves
nothing); exports each bus's voltage base and the regulators' taps; puts monitors on element
terminals that together see every phase node (1, 2, 3) of every drawn bus and of every customer's
bus a drawn bus stands for (feeder_elements.csv), on each RegControl's tapped winding (its tap)
and its transformer's terminal nearest the source (the power through it),
each CapControl's capacitor (its steps), the circuit's source (the power it gives) and each PV
system (its output); runs one duty step a row of the sun table; then all of it again with every
PV system under a clear sky, the twin (not with --no-twin); and exports the monitors into
FOLDER/results. The circuit's own Set ControlMode holds throughout (Off stays off). Every export
is named by the run (study_<sky>_<script>_...), so that read takes the exports of this script
alone. Its comments say how to change the control mode and the loads' shapes. Its paths are
absolute, so it runs from any folder; to run it on another machine, copy the circuit and FOLDER
there, import and write again (or edit the paths at its top). Files the circuit reads that are
not there (mult=(file=...)) are named with the path OpenDSS will look for.

read: writes FOLDER/cloud_voltage_min_table.txt and FOLDER/cloud_voltage_max_table.txt, in the
sun table's layout: for every row and drawn bus, the lowest and the highest per-unit voltage
among the phase nodes of the drawn bus and of the customers' buses it stands for, four decimals,
an empty field where a bus has none; FOLDER/voltage_report.csv, a row a drawn bus: its distance
from the circuit's source along the circuit's lines (as umbrascope-import measured them; along
the drawn connections where no line leads), its lowest and highest voltage and their rows, and
the seconds it spent outside ANSI C84.1 service ranges A (0.95 to 1.05 pu) and B (110/120 to
127/120 pu), counted on the engine's own values; FOLDER/controls_report.csv, a row a RegControl,
CapControl and ramp under the sky and under the clear sky:
  sky,kind,name,element,winding,start,changes,steps_changed,min,max,ramp_per_s,ramp_row,kwh,
  changes_per_hour,reverse_s,seconds_at_limit,ramp_pct_per_min
(start: the tap after the settle in whole steps from the middle of its range, or the capacitor's
steps in service; changes: taps moved, or capacitor steps switched, summed over the steps, and
changes_per_hour the same over the run's hours, and a regulator's seconds_at_limit the seconds
it spent at its lowest or highest tap, where it regulates no more; steps_changed: steps in which it moved; min and
max over the settled state and the steps; the ramps head_kw, head_kvar (the power the circuit
takes from its source) and pv_kw (the PV systems' output): start the value in row 1, min and max,
the largest one-step change per second, signed, and the row it ends in, kwh the energy over the
run, and for head_kw reverse_s, the seconds the head carried power back toward the source (for a
regulator the same through it, watched at its transformer's terminal nearest the source), for
pv_kw ramp_pct_per_min, its largest one-minute change in per cent of the PV systems' Pmpp; with
the circuit's ControlMode=OFF a row sky,control_mode,off says its controls did not act); and FOLDER/cloud_controls_table.txt, each control's state row by row,
which the window and the exporter show. Per unit is each node's magnitude over its bus's
line-to-neutral base, BasekV / sqrt(3) of the voltage export. Then it prints a summary: what
left the ranges, the worst bus, value and time, and what the cloud cost the regulators,
capacitors and the head. It takes only the whole run of the study.dss now in FOLDER: exports of
an earlier sky, of another study or another circuit, or of a run that stopped, are refused, and
nothing is written.

Options:
  --loadshapes SHAPES  (write) the loadshapes file the study redirects after the circuit
  --no-twin          (write) leave out the clear-sky twin: the report then has no clear rows
  --no-loading       (write) record no line's or transformer's current: no loading_report.csv,
                     and the engine's run about half as long on a feeder of thousands of elements
  --inverter MODE    (write) the circuit's own PV systems' inverters: unity (as the circuit gives
                     them), pf=0.95 (a fixed power factor, absorbing), volt-var, volt-watt or
                     volt-var+volt-watt (the engine's InvControl, IEEE 1547-2018 Category B: volt-var
                     (0.92, +44 %), (0.98, 0), (1.02, 0), (1.08, -44 %) of the inverter's kVA;
                     volt-watt 100 % of Pmpp at 1.06 pu to 20 % at 1.10 pu); each inverter's kVA
                     --kva-ratio times its Pmpp; the engine's control iterations raised to 100
  --kva-ratio R      (write) each inverter's kVA over its PV system's Pmpp (default 1.1)
  --inverter-response S  (write) seconds the inverters take to answer a step of voltage (default
                     5 for volt-var, 10 for volt-watt; the engine's LPFTau is a fifth of it)
  --volt-var-curve FILE, --volt-watt-curve FILE  (write) the curves instead: "voltage,value" lines,
                     the voltage per unit rising, the value (of the kVA; of Pmpp) never rising
  --slices N         (write) also split the run in time into N slices, for a long sky (a day at one
                     second): FOLDER/slices/cases/sliceNN/study.dss, each solving its own rows after
                     settling --overlap seconds before them, as the whole run settles at row 1, the
                     twin too. Run them side by side with umbrascope-study sweep run FOLDER (a local
                     pool of engines) or sweep submit FOLDER (a Slurm job array); read then
                     stitches their own rows into the same tables and reports as the whole run's,
                     the overlaps dropped and the control counts added up, and says in
                     slices_report.csv how far each overlap's last row was from the slice before.
                     FOLDER/study.dss still runs the whole.
  --overlap S        (write) seconds each slice runs before its own rows (default 600; at most a
                     slice's length)
  --hand-on          (write, with --slices, once the slices have run) where a slice's overlap did
                     not follow the slice before's run, its regulators' taps or capacitors' steps
                     elsewhere in some row (read says where in slices_report.csv), write that slice
                     again to begin its overlap with each control where the slice before's run had
                     it, instead of settling; from another row where it was handed those very
                     states and still did not follow. The other slices stay as they were. Run the
                     slices again (only those written anew run) and read; umbrascope-study sweep
                     run FOLDER --hand-on goes round by round in one command.
  --whole            (read) read the whole run's exports in FOLDER/results where the study was
                     also written in slices
  --results DIR      (read) where the exports are (default FOLDER/results): files named
                     <circuit>_Mon_<monitor>_1.csv or <circuit>_Mon_<monitor>.csv in any letter
                     case, and the run's own study_<sky>_<script>_*.csv
  --table FILE       (read) a wide per-unit table from any engine instead: "time,BUS,BUS,..." then
                     a row a sun-table row, columns by drawn-bus name in any order and letter
                     case, an empty field for no value; each value is the lowest and the highest
  --units U          (read) what one network unit is, ft, m or km, for the distances in km
                     (default: as umbrascope-clouds --units recorded it in the sun table)
  --source BUS       (read) the drawn bus distances are measured from (default: the one standing
                     for the circuit's source)
  --loading-window S (read) seconds of the moving average of each line's and transformer's loading
                     in loading_report.csv (default 900; the whole run where it is shorter; at most
                     a day)
  --version          show the version and exit
  --help             show this text and exit

sweep: how much PV the feeder can host under a moving cloud: PV levels x placements x skies, one
study a case, run in a local pool or as a Slurm job array, gathered into one answer.

Exit status: 0 when the files were written, 2 for a wrong command line or input that cannot be
used (one line on standard error says why); nothing is written then.
)";

std::string seconds(double value)
{
    std::string out;
    append_decimal(out, value, 6);
    return out;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Sweeps of many studies have a command line of their own.
    if (argc > 1 && std::string_view(argv[1]) == "sweep")
        return sweep::sweep_main(argc, argv);
    CommandLine line("umbrascope-study", argc, argv, usage_text);
    std::string verb;
    std::optional<fs::path> folder, shapes, results, table;
    std::optional<std::string> units, source;
    bool no_twin = false, whole = false, hand_on = false, no_loading = false;
    std::optional<long> slices;
    std::optional<double> overlap, loading_window, kva_ratio, inverter_response;
    std::optional<std::string> inverter;
    std::optional<fs::path> var_curve, watt_curve;
    while (line.next()) {
        if (!line.is_option()) {
            if (verb.empty())
                verb = line.arg();
            else if (!folder)
                folder = line.arg();
            else
                line.usage_error("give one FOLDER, not '" + folder->string() + "' and '" + line.arg() + "'");
        } else if (line.arg() == "--loadshapes") {
            shapes = line.value();
        } else if (line.arg() == "--no-twin") {
            line.flag();
            no_twin = true;
        } else if (line.arg() == "--no-loading") {
            line.flag();
            no_loading = true;
        } else if (line.arg() == "--inverter") {
            inverter = line.value();
        } else if (line.arg() == "--kva-ratio") {
            kva_ratio = line.number(1, 10);
        } else if (line.arg() == "--inverter-response") {
            inverter_response = line.number(0.01, 3600);
        } else if (line.arg() == "--volt-var-curve") {
            var_curve = line.value();
        } else if (line.arg() == "--volt-watt-curve") {
            watt_curve = line.value();
        } else if (line.arg() == "--slices") {
            slices = line.whole_number(1, 100000);
        } else if (line.arg() == "--overlap") {
            overlap = line.number(0, 86400 * 366);
        } else if (line.arg() == "--hand-on") {
            line.flag();
            hand_on = true;
        } else if (line.arg() == "--whole") {
            line.flag();
            whole = true;
        } else if (line.arg() == "--results") {
            results = line.value();
        } else if (line.arg() == "--table") {
            table = line.value();
        } else if (line.arg() == "--units") {
            units = line.value();
            if (!metres_of(*units))
                line.usage_error("--units takes ft, m or km: what one network unit is, not '" + *units + "'");
        } else if (line.arg() == "--source") {
            source = line.value();
        } else if (line.arg() == "--loading-window") {
            loading_window = line.number(1e-3, 86400);
        } else {
            line.unknown_option();
        }
    }
    if (verb != "write" && verb != "read")
        line.usage_error(verb.empty() ? "say write, read or sweep" : "say write, read or sweep, not '" + verb + "'");
    if (!folder)
        line.usage_error("give the scenario's FOLDER");
    const bool writing = verb == "write";
    if (writing && !shapes)
        line.usage_error("write needs --loadshapes SHAPES, the loadshapes umbrascope-clouds --loadshapes wrote");
    if (writing && (results || table || units || source || loading_window))
        line.usage_error(std::string(results ? "--results" : table ? "--table" : units ? "--units" : source ? "--source" : "--loading-window") +
                         " goes with read");
    if (!inverter && (kva_ratio || inverter_response || var_curve || watt_curve))
        line.usage_error(std::string(kva_ratio ? "--kva-ratio" : inverter_response ? "--inverter-response" : var_curve ? "--volt-var-curve" : "--volt-watt-curve") +
                         " goes with --inverter MODE");
    if (!writing && (shapes || no_twin || slices || overlap || hand_on || no_loading || inverter))
        line.usage_error(std::string(shapes       ? "--loadshapes"
                                     : no_twin    ? "--no-twin"
                                     : slices     ? "--slices"
                                     : overlap    ? "--overlap"
                                     : no_loading ? "--no-loading"
                                     : inverter   ? "--inverter"
                                                  : "--hand-on") +
                         " goes with write");
    if (overlap && !slices)
        line.usage_error("--overlap goes with --slices N: the seconds each slice runs before its own rows");
    if (hand_on && !slices)
        line.usage_error("--hand-on goes with --slices N, as the slices were written and run");
    if (writing && whole)
        line.usage_error("--whole goes with read");
    if (whole && (table || results))
        line.usage_error(std::string(table ? "--table" : "--results") + " is read whole already: leave out --whole");
    if (table && results)
        line.usage_error("--table and --results are two sources of voltages: give one");

    try {
        if (writing) {
            WriteOptions options{*folder, *shapes, !no_twin};
            options.slices = static_cast<int>(slices.value_or(0));
            options.overlap = overlap.value_or(600);
            options.hand_on = hand_on;
            options.loading = !no_loading;
            if (inverter) {
                options.inverters = inverter_mode(*inverter);
                options.inverters.kva_ratio = kva_ratio.value_or(1.1);
                if (inverter_response)
                    options.inverters.var_response_s = options.inverters.watt_response_s = *inverter_response;
                if (var_curve)
                    options.inverters.volt_var = read_curve(read_text(*var_curve, "volt-var curve"), var_curve->string());
                if (watt_curve)
                    options.inverters.volt_watt =
                        read_curve(read_text(*watt_curve, "volt-watt curve"), watt_curve->string());
            }
            const WriteResult written = write_study(options);
            if (!written.slices.empty())
                sweep::adopt_slices(fs::absolute(*folder).lexically_normal(), fs::absolute(*shapes).lexically_normal());
            std::printf("Wrote %s: %d monitor%s see%s the %d phase node%s of %d drawn bus%s%s over %d step%s of %s s\n",
                        written.script.string().c_str(), written.monitors, written.monitors == 1 ? "" : "s",
                        written.monitors == 1 ? "s" : "", written.nodes, written.nodes == 1 ? "" : "s", written.drawn,
                        written.drawn == 1 ? "" : "es",
                        written.customers == 0
                            ? ""
                            : (" and " + std::to_string(written.customers) + " customers' buses").c_str(),
                        written.rows, written.rows == 1 ? "" : "s", seconds(written.interval).c_str());
            std::printf("Wrote %s: the bus and node of each monitor column\n", written.map.string().c_str());
            std::printf("It records %d RegControl%s%s, %d CapControl%s, the power the circuit takes from its source and "
                        "%d PV system%s' output%s; %s says which monitor watches each\n",
                        written.regulators, written.regulators == 1 ? "" : "s",
                        written.regulators == 0   ? ""
                        : written.regulators == 1 ? " (its tap, and the power through it)"
                                                  : " (their taps, and the power through them)",
                        written.capacitors,
                        written.capacitors == 1 ? "" : "s", written.pv_systems, written.pv_systems == 1 ? "" : "s",
                        written.twin ? ", under the sky and under a clear sky" : " (no clear-sky twin)",
                        (*folder / controls_map_name).string().c_str());
            if (options.inverters.controlled())
                std::printf("Its PV systems' inverters: %s, each inverter's kVA %s times its Pmpp; the engine's control "
                            "iterations raised to 100, a run whose controls do not settle stopping with the engine's "
                            "error\n",
                            options.inverters.mode.c_str(), decimal_text(options.inverters.kva_ratio, 3).c_str());
            if (written.branches > 0)
                std::printf("It records the current through each of the %d line%s and transformer%s for its loading, "
                            "against the ratings the engine dumps; %s says which%s\n",
                            written.branches, written.branches == 1 ? "" : "s", written.branches == 1 ? "" : "s",
                            (*folder / branches_map_name).string().c_str(),
                            written.default_rated == 0
                                ? ""
                                : ("; " + std::to_string(written.default_rated) + " of them the circuit gives no rating, "
                                   "so the engine's default rates " + (written.default_rated == 1 ? "it" : "them") +
                                   " (a line 400 A normal, 600 A emergency)").c_str());
            if (!written.control_mode.empty())
                std::printf("The circuit's own Set ControlMode=%s holds through the study\n", written.control_mode.c_str());
            std::printf("Next: %srun it in OpenDSS (compile \"%s\"), which writes into %s, then: umbrascope-study read %s\n",
                        written.other_case.empty() ? "" : "make the links the warning below gives, then ",
                        written.script.string().c_str(), written.results.string().c_str(), folder->string().c_str());
            if (!written.slices.empty()) {
                const Slice& last = written.slices.back();
                std::printf("Wrote %zu slices of it into %s, each of about %d rows after %d rows (%s s) of overlap: run "
                            "them side by side with umbrascope-study sweep run %s (or sweep submit, on a Slurm cluster); "
                            "then umbrascope-study read %s stitches them (read --whole reads the whole run instead)\n",
                            written.slices.size(), (*folder / slices_folder_name).string().c_str(),
                            last.last - last.own + 1, written.overlap_rows, seconds(options.overlap).c_str(),
                            folder->string().c_str(), folder->string().c_str());
                if (written.chained_regulators && !hand_on)
                    std::printf("Its regulators stand one after another along the feeder, each acting on the voltage "
                                "the others regulate: a slice's overlap may end a tap from where the whole run has it, "
                                "and each slice handed on changes the next one's start, so handing on takes rounds. "
                                "umbrascope-study sweep run %s --hand-on runs the slices and hands them on round by "
                                "round until each follows the slice before's run\n",
                                folder->string().c_str());
                const auto listed = [](const std::vector<int>& numbers) {
                    std::string text;
                    for (std::size_t k = 0; k < numbers.size(); ++k) {
                        text += k == 0 ? "" : k + 1 == numbers.size() ? " and " : ", ";
                        text += std::to_string(numbers[k]);
                    }
                    return text;
                };
                if (hand_on && written.handed_anew.empty())
                    std::printf("Handed on: %s; the slices keep their runs\n",
                                written.handed_kept.empty()
                                    ? "nothing, as every slice's overlap ended where the slice before left its controls"
                                    : ("slice" + std::string(written.handed_kept.size() == 1 ? " " : "s ") +
                                       listed(written.handed_kept) + " as before, from the same states")
                                          .c_str());
                else if (hand_on)
                    std::printf("Handed on to slice%s %s: %s overlap with the regulators and capacitors where the "
                                "slice before's run had them; %s again with umbrascope-study sweep run %s (the "
                                "other slices keep their runs), then read\n",
                                written.handed_anew.size() == 1 ? "" : "s", listed(written.handed_anew).c_str(),
                                written.handed_anew.size() == 1 ? "it begins its" : "each begins its",
                                written.handed_anew.size() == 1 ? "it runs" : "they run", folder->string().c_str());
                if (hand_on && !written.unfollowed.empty())
                    std::printf("Slice%s %s followed the slice before's run from none of the rows %s was handed on "
                                "from: umbrascope-study read %s says why\n",
                                written.unfollowed.size() == 1 ? "" : "s", listed(written.unfollowed).c_str(),
                                written.unfollowed.size() == 1 ? "it" : "each", folder->string().c_str());
                std::vector<int> held = written.handed_kept;
                held.insert(held.end(), written.handed_anew.begin(), written.handed_anew.end());
                std::sort(held.begin(), held.end());
                if (!hand_on && !held.empty())
                    std::printf("Slice%s %s stay%s handed on, as written before (write with --hand-on to hand the "
                                "controls on again from the slices' runs)\n",
                                held.size() == 1 ? "" : "s", listed(held).c_str(), held.size() == 1 ? "s" : "");
                if (!written.handed_lost.empty())
                    std::fprintf(stderr,
                                 "umbrascope-study: warning: slice%s %s %s handed on, but the %s beside %s script "
                                 "is missing or not what %s records: %s again and %s anew; after the slices run, "
                                 "write with --hand-on to hand %s on again\n",
                                 written.handed_lost.size() == 1 ? "" : "s", listed(written.handed_lost).c_str(),
                                 written.handed_lost.size() == 1 ? "was" : "were", std::string(handed_file_name).c_str(),
                                 written.handed_lost.size() == 1 ? "its" : "each one's",
                                 std::string(slicing_name).c_str(),
                                 written.handed_lost.size() == 1 ? "it settles" : "they settle",
                                 written.handed_lost.size() == 1 ? "runs" : "run",
                                 written.handed_lost.size() == 1 ? "it" : "them");
            }
            std::fflush(stdout);
            if (!written.unseen.empty())
                std::fprintf(stderr,
                             "umbrascope-study: warning: %zu drawn %s reached by no element in service and will have "
                             "no voltage: %s\n",
                             written.unseen.size(), written.unseen.size() == 1 ? "bus is" : "buses are",
                             first_names(written.unseen).c_str());
            if (!written.other_case.empty()) {
                std::fprintf(stderr,
                             "umbrascope-study: warning: the circuit names %zu %s in another letter case, which "
                             "OpenDSS does not find where file names are case-sensitive, as on Linux; a link under "
                             "the name the circuit uses serves:\n",
                             written.other_case.size(), written.other_case.size() == 1 ? "file" : "files");
                for (const std::string& link : written.other_case)
                    std::fprintf(stderr, "    %s\n", link.c_str());
            }
            if (!written.missing.empty()) {
                std::fprintf(stderr,
                             "umbrascope-study: warning: the circuit reads %zu %s that %s not there, which OpenDSS will "
                             "fail to find:\n",
                             written.missing.size(), written.missing.size() == 1 ? "file" : "files",
                             written.missing.size() == 1 ? "is" : "are");
                for (const std::string& missing : written.missing)
                    std::fprintf(stderr, "    %s\n", missing.c_str());
            }
            if (!written.debug_traces.empty())
                std::fprintf(stderr,
                             "umbrascope-study: warning: the circuit gives debugtrace=yes to %s, so OpenDSS writes a "
                             "trace of %s every step (REG_<name>.csv and the like), large over a whole series, into "
                             "%s, the study's data path: give debugtrace=no for the study\n",
                             first_names(written.debug_traces, 3).c_str(),
                             written.debug_traces.size() == 1 ? "it" : "them", written.results.string().c_str());
            if (!written.left_at_unity.empty())
                std::fprintf(stderr,
                             "umbrascope-study: warning: %zu PV %s connected phase to phase (%s): the engine's "
                             "InvControl reads such a system's voltage line to neutral against its line-to-line rating "
                             "(0.58 pu on a sound feeder) and would hold its output back for a sag that is not there, "
                             "so %s left at unity\n",
                             written.left_at_unity.size(), written.left_at_unity.size() == 1 ? "system is" : "systems are",
                             first_names(written.left_at_unity, 4).c_str(),
                             written.left_at_unity.size() == 1 ? "it is" : "they are");
            for (const std::string& warned : written.circuit_warned)
                std::fprintf(stderr, "umbrascope-study: warning: %s\n", warned.c_str());
            for (const std::string& regulator : written.regulators_warned)
                std::fprintf(stderr, "umbrascope-study: warning: %s; the study runs it as given\n", regulator.c_str());
            if (!written.displays.empty())
                std::fprintf(stderr,
                             "umbrascope-study: warning: the circuit runs Show, Plot or Visualize (%s), which open "
                             "windows in OpenDSS, or fail where it cannot open one: comment them out, or import the "
                             "circuit from a file that does not run them\n",
                             first_names(written.displays, 3).c_str());
        } else {
            ReadOptions options{*folder, results, table, units, source};
            options.whole = whole;
            options.loading_window = loading_window.value_or(900);
            const ReadResult read = read_study(options);
            for (const fs::path& path : read.written)
                std::printf("Wrote %s\n", path.string().c_str());
            for (const std::string& text : read.summary)
                std::printf("%s\n", text.c_str());
            std::fflush(stdout);
            for (const std::string& warning : read.warnings)
                std::fprintf(stderr, "umbrascope-study: warning: %s\n", warning.c_str());
        }
    } catch (const StudyError& error) {
        line.fail(error.what());
    } catch (const WriteError& error) {
        line.fail(error.what());
    } catch (const FolderError& error) {
        line.fail(error.what());
    } catch (const sweep::SweepError& error) {
        line.fail(error.what());
    }
    return 0;
}

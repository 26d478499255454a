#!/usr/bin/env bash
# A sweep of IEEE 13 in a real OpenDSS engine: 3 levels x 2 placements x 2 short skies, run in the
# local pool and as a Slurm job array on a single-node Slurm of the test's own, the two answers the
# same; the feeder's load as the engine compiles it; then a task killed mid-case: the gather names
# its cases and refuses, a second submit runs just them, and the answer is whole again.
#   tests/sweep_engine_test.sh BUILD_DIR SOURCE_DIR ENGINE
# Exits 77, saying why, where no engine runs or Slurm cannot start (outside CI; in CI both must).
set -euo pipefail
build=$1
source=$2
engine=$3
study="$build/umbrascope-study"
skip() {
    if [ "${CI:-}" = "true" ]; then
        echo "FAILED: $* (in CI the sweep must run in the engine and on Slurm)"
        exit 1
    fi
    echo "SKIPPED: $*"
    exit 77
}
fail() { echo "FAILED: $*"; exit 1; }
[ -x "$engine" ] && "$engine" -c "new circuit.probe" -c solve > /dev/null 2>&1 ||
    skip "no OpenDSS engine runs at $engine (it needs libklu1 and libmetis5)"

work=$(mktemp -d /tmp/umbrascope-sweep-XXXXXX)
slurm=$work/slurm
cleanup() {
    "$source/tests/slurm/stop.sh" "$slurm" > /dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# The feeder and two skies of 12 rows of 5 s, each with a loadshape for every bus.
mkdir -p "$work/circuit"
cp "$source/tests/data/feeders/ieee13/"* "$work/circuit/"
ln -s IEEELineCodes.DSS "$work/circuit/IEEELineCodes.dss"
for sky in morning:2,270:11:00:00 noon:4,180:12:00:00; do
    name=${sky%%:*}
    rest=${sky#*:}
    wind=${rest%%:*}
    start=${rest#*:}
    "$build/umbrascope-import" "$work/circuit/IEEE13Nodeckt.dss" "$work/$name" > /dev/null
    "$build/umbrascope-clouds" --units ft --wind "$wind" --from-sensor \
        "$source/tests/data/feeders/ieee8500/Normalized-1s-2900-pts.CSV" --sensor-interval 1 --interval 5 --steps 12 \
        --start "$start" --loadshapes "$work/$name/sun.dss" "$work/$name" > /dev/null 2>&1
done
plan() {
    "$study" sweep plan "$1" --circuit "$work/circuit/IEEE13Nodeckt.dss" --sky "$work/morning" --sky "$work/noon" \
        --levels 0,50,100 --placement near --placement random > /dev/null
}
cases() { echo $(( $(wc -l < "$1/cases.csv") - 1 )); }

# The local pool.
plan "$work/local"
[ "$(cases "$work/local")" = 10 ] || fail "planned $(cases "$work/local") cases, not 10"
"$study" sweep run "$work/local" --jobs 2 --engine "$engine {script}" > "$work/local.out" 2>&1 ||
    fail "the local pool: $(cat "$work/local.out")"
"$study" sweep gather "$work/local" > "$work/gather.out" || fail "gather: $(cat "$work/gather.out")"
grep -q "Hosting capacity under the sky morning" "$work/gather.out" || fail "no answer: $(cat "$work/gather.out")"
echo "local pool: $(grep -c . "$work/local/sweep_report.csv") lines of sweep_report.csv"

# The feeder's load is the engine's: the sum of its loads' kW as it compiled them.
(cd "$work" && "$engine" "$work/circuit/IEEE13Nodeckt.dss" -c "export loads \"$work/loads.csv\"" > /dev/null)
engine_kw=$(awk -F, 'NR > 1 { sum += $5 } END { printf "%.1f", sum }' "$work/loads.csv")
sweep_kw=$(awk -F' = ' '$1 == "feeder_kw" { printf "%.1f", $2 }' "$work/local/sweep.txt")
[ "$engine_kw" = "$sweep_kw" ] || fail "the feeder's load: the sweep says $sweep_kw kW, the engine $engine_kw kW"

# Every figure is the case's own report: each case's lowest voltage and its tap changes (the bus set
# aside for range A, RG60, is never the lowest here).
column() { awk -F, -v name="$1" 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == name) print i }' "$work/local/sweep_report.csv"; }
v_min_at=$(column v_min)
taps_at=$(column taps_sky)
awk -F, -v a="$v_min_at" -v b="$taps_at" 'NR > 1 { print $1 "," $a "," $b }' "$work/local/sweep_report.csv" > "$work/figures.csv"
while IFS=, read -r id v_min taps; do
    own=$(awk -F, 'NR > 1 && $3 != "" && (m == "" || $3 + 0 < m + 0) { m = $3 } END { print m }' \
        "$work/local/cases/$id/voltage_report.csv")
    [ "$own" = "$v_min" ] || fail "case $id: v_min $v_min in sweep_report.csv, $own in its voltage report"
    own=$(awk -F, '$1 == "sky" && $2 == "regcontrol" { n += $7 } END { print n + 0 }' "$work/local/cases/$id/controls_report.csv")
    [ "$own" = "$taps" ] || fail "case $id: taps_sky $taps in sweep_report.csv, $own in its controls report"
done < "$work/figures.csv"

# Each case's most loaded line or transformer is the engine's own: the case's study run again to
# that row alone, the engine's Export Capacity there gives the same per cent of its normal rating.
loading_at=$(column max_loading_pct)
element_at=$(column loading_element)
checked=0
for id in $(awk -F, 'NR > 1 { print $1 }' "$work/local/cases.csv"); do
    element=$(awk -F, -v a="$element_at" -v id="$id" '$1 == id { print $a }' "$work/local/sweep_report.csv")
    pct=$(awk -F, -v a="$loading_at" -v id="$id" '$1 == id { print $a }' "$work/local/sweep_report.csv")
    row=$(awk -F, -v e="$element" '$1 == "sky" && $2 == e { print $10 }' "$work/local/cases/$id/loading_report.csv")
    [ -n "$element" ] && [ -n "$row" ] || continue
    script="$work/local/cases/$id/study.dss"
    awk -v row="$row" -v out="$work/capacity.csv" '
        /^Set Number=/ && !done { print "Set Number=" row; series = 1; next }
        { print }
        series && /^Solve$/ { print "Export Capacity \"" out "\""; exit }' "$script" > "$work/to_row.dss"
    (cd "$work" && DSS_CAPI_ALLOW_EDITOR=0 "$engine" "$work/to_row.dss" > /dev/null 2>&1) || fail "case $id to row $row"
    rm -rf "$work/local/cases/$id/results"  # the partial run's exports, into the case's results
    engine_pct=$(awk -F, -v e="$element" 'tolower($1) == tolower(e) { gsub(/ /, "", $3); print $3 }' "$work/capacity.csv")
    awk -v a="$pct" -v b="$engine_pct" 'BEGIN { d = a - b; exit !(b != "" && d < 0.02 && d > -0.02) }' ||
        fail "case $id: $element at $pct % in sweep_report.csv, $engine_pct % in the engine's capacity export at row $row"
    checked=$((checked + 1))
done
[ "$checked" -ge 5 ] || fail "only $checked cases' loading was checked against the engine"
echo "loading: $checked cases' most loaded element the engine's own % of its normal rating"

# The load judged at: LoadMult 0.3 in every case, the head's kW in the base case the engine's own
# at that LoadMult (IEEE 13 has no PV, so the head takes the same in every row).
"$study" sweep plan "$work/light" --circuit "$work/circuit/IEEE13Nodeckt.dss" --sky "$work/morning" --levels 0 \
    --placement near --load-mult 0.3 > "$work/light.out" || fail "plan --load-mult: $(cat "$work/light.out")"
grep -q "times LoadMult 0.3 (--load-mult)" "$work/light.out" || fail "plan did not say the load: $(cat "$work/light.out")"
"$study" sweep run "$work/light" --engine "$engine {script}" --keep-exports > /dev/null 2>&1 || fail "the light sweep"
# A done case keeps its reports, not the engine's exports, unless they are kept.
light=$(awk -F, 'NR == 2 { print $1 }' "$work/light/cases.csv")
[ -n "$(ls "$work/light/cases/$light/results")" ] && [ -e "$work/light/cases/$light/cloud_voltage_max_table.txt" ] ||
    fail "--keep-exports kept no exports or tables"
for id in $(awk -F, 'NR > 1 { print $1 }' "$work/local/cases.csv"); do
    [ ! -e "$work/local/cases/$id/results" ] && [ ! -e "$work/local/cases/$id/cloud_voltage_max_table.txt" ] ||
        fail "case $id kept the engine's exports or the tables"
    [ -s "$work/local/cases/$id/voltage_report.csv" ] || fail "case $id lost its voltage report"
done
"$study" sweep gather "$work/light" > "$work/light-gather.out" || fail "the light gather"
head_max=$(awk -F, 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "head_kw_max") at = i } NR == 2 { print $at }' \
    "$work/light/sweep_report.csv")
(cd "$work" && "$engine" "$work/circuit/IEEE13Nodeckt.dss" -c "Set LoadMult=0.3" \
    -c "New Monitor.head element=Vsource.source terminal=1 mode=1 ppolar=no" -c "Set Mode=Duty Number=1 Stepsize=5" \
    -c "Set ControlMode=Static" -c solve -c "Export Monitors head" > /dev/null)
engine_head=$(awk -F, 'NR == 2 { printf "%.3f", -($3 + $5 + $7) }' "$work/circuit/IEEE13Nodeckt_Mon_head_1.csv")
awk -v a="$head_max" -v b="$engine_head" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d <= 0.001 * b) }' ||
    fail "the base case's head at LoadMult 0.3: $head_max kW in sweep_report.csv, $engine_head kW from the engine"
grep -q "LoadMult 0.3; without added PV the head took" "$work/light/sweep_summary.txt" ||
    fail "the summary did not say the load: $(cat "$work/light/sweep_summary.txt")"
echo "the load judged at: the base's head $head_max kW, the engine's $engine_head kW at LoadMult 0.3"

# Slurm: the same cases as a job array.
started=$("$source/tests/slurm/start.sh" "$slurm") || skip "Slurm did not start (tests/slurm/start.sh)"
export "$started"
wait_queue() {
    for _ in $(seq 1 600); do
        [ -z "$(squeue -h 2>/dev/null)" ] && return 0
        sleep 0.5
    done
    fail "the Slurm jobs did not end: $(squeue)"
}
# A search by bus (checked below, with the local pool's): submitted first, so that its rounds, which
# chain by themselves and mostly wait on the scheduler, run beside the sweep's array.
printf '671\n680\n611\n' > "$work/buses.txt"
res=1500
for where in locate-local locate-slurm; do
    "$study" sweep locate "$work/$where" --circuit "$work/circuit/IEEE13Nodeckt.dss" --sky "$work/noon" \
        --buses "$work/buses.txt" --max-kw 12000 --resolution $res > /dev/null || fail "locate"
done
"$study" sweep submit "$work/locate-slurm" --cases-per-task 2 --engine "$engine {script}" > "$work/locate-submit.out" ||
    fail "submit of the search: $(cat "$work/locate-submit.out")"
grep -q "^Submitted 1 case as 1 task: .*then the job that plans and submits the next round" "$work/locate-submit.out" &&
    ! grep -q "^Round" "$work/locate-submit.out" ||
    fail "the search's first submit, of its base alone, said: $(cat "$work/locate-submit.out")"
plan "$work/slurm-sweep"
"$study" sweep submit "$work/slurm-sweep" --cases-per-task 3 --engine "$engine {script}" > "$work/submit.out" ||
    fail "submit: $(cat "$work/submit.out")"
grep -q "Submitted 10 cases as 4 tasks" "$work/submit.out" || fail "submit said: $(cat "$work/submit.out")"
wait_queue
"$study" sweep status "$work/slurm-sweep" | grep -q "^10 done, 0 failed, 0 running, 0 left" ||
    fail "status after Slurm: $("$study" sweep status "$work/slurm-sweep")"
ls "$work/slurm-sweep/slurm/logs/"gather_*.out > /dev/null || fail "the gather job did not run"
for file in sweep_report.csv hosting_capacity.csv; do
    cmp "$work/local/$file" "$work/slurm-sweep/$file" || fail "$file differs between the local pool and Slurm"
done
echo "Slurm: the same sweep_report.csv and hosting_capacity.csv as the local pool"

# Inverters as a case dimension: unity and volt-var, their cases sharing the sky's base, the same
# answers on the local pool and on Slurm, and volt-var's cases controlling their PV systems.
for where in inv-local inv-slurm; do
    "$study" sweep plan "$work/$where" --circuit "$work/circuit/IEEE13Nodeckt.dss" --sky "$work/noon" --levels 0,100 \
        --placement near --inverter unity --inverter volt-var > /dev/null || fail "plan --inverter"
done
[ "$(cases "$work/inv-local")" = 3 ] || fail "planned $(cases "$work/inv-local") cases with two inverter modes, not 3"
"$study" sweep run "$work/inv-local" --jobs 2 --engine "$engine {script}" > /dev/null 2>&1 || fail "the inverters' local pool"
"$study" sweep submit "$work/inv-slurm" --cases-per-task 1 --engine "$engine {script}" > "$work/submit.out" ||
    fail "submit of the inverters' sweep: $(cat "$work/submit.out")"
wait_queue
"$study" sweep gather "$work/inv-local" > "$work/inv.out" || fail "gather of the inverters' sweep: $(cat "$work/inv.out")"
"$study" sweep gather "$work/inv-slurm" > /dev/null || fail "gather of the inverters' sweep on Slurm"
for file in sweep_report.csv hosting_capacity.csv; do
    cmp "$work/inv-local/$file" "$work/inv-slurm/$file" || fail "$file of the inverters' sweep differs between the local pool and Slurm"
done
grep -q "^With volt-var inverters: Hosting capacity under the sky noon" "$work/inv.out" || fail "no volt-var answer: $(cat "$work/inv.out")"
vv=$(awk -F, '$8 == "volt-var" { print $1 }' "$work/inv-local/cases.csv")
grep -q "^New InvControl.umbrascope_inverters .*Mode=VOLTVAR" "$work/inv-local/cases/$vv/study.dss" ||
    fail "the volt-var case controls no inverter"
echo "inverters: unity and volt-var, the same answers on the local pool and on Slurm"

# A search by bus: the largest plant at three buses (one single-phase), round after round in the
# local pool, and on Slurm as one submit whose rounds chain by themselves; the same answers. Each
# bus's answer passes and the size a resolution above it fails, judged from the cases' own voltage
# reports: no bus outside range A for a second (the base's own set aside), under the sky and the
# clear sky.
"$study" sweep run "$work/locate-local" --jobs 2 --engine "$engine {script}" > "$work/locate.out" 2>&1 ||
    fail "the search in the local pool: $(cat "$work/locate.out")"
grep -q "^Round 1: 12 cases planned; 0 of 3 buses found" "$work/locate.out" && grep -q "^Round 2: " "$work/locate.out" ||
    fail "the local search did not go round by round, four sizes a bus first: $(cat "$work/locate.out")"
rounds=$(grep -c . "$work/locate-slurm/slurm/submissions.txt")
cmp "$work/locate-local/locational_hc.csv" "$work/locate-slurm/locational_hc.csv" ||
    fail "locational_hc.csv differs between the local pool and Slurm: $(cat "$work/locate-slurm/slurm/logs/"gather_*.out)"
"$study" sweep status "$work/locate-slurm" | grep -q "^Search by bus: round [0-9]*, 3 of 3 buses found, 0 left" ||
    fail "status of the search: $("$study" sweep status "$work/locate-slurm")"
outside() {  # the buses outside range A for a second in a voltage report, but those in $2
    awk -F, -v aside="$2" 'NR > 1 && $7 + $8 > 0 && index("," aside ",", "," $1 ",") == 0 { print $1 }' "$1"
}
base=$(awk -F, '$3 == "none" { print $1 }' "$work/locate-local/cases.csv")
aside=$(outside "$work/locate-local/cases/$base/voltage_report.csv" "" | paste -sd,)
passes() {  # the case of bus $1 at $2 kW passes in the voltage report $3
    local id
    id=$(awk -F, -v bus="$1" -v kw="$2" '$3 == "at" && $9 == bus && $7 + 0 == kw + 0 { print $1 }' "$work/locate-local/cases.csv")
    [ -n "$id" ] || fail "no case of bus $1 at $2 kW"
    [ -z "$(outside "$work/locate-local/cases/$id/$3" "$aside")" ]
}
while IFS=, read -r bus kv phases km hc clear criterion rest; do
    [ "$criterion" = max_seconds_outside_a ] || fail "bus $bus: limited by $criterion, which this test does not judge"
    for answer in "$hc voltage_report.csv" "$clear voltage_report_clear.csv"; do
        set -- $answer
        [ "$1" = 0 ] || passes "$bus" "$1" "$2" || fail "bus $bus: its answer $1 kW fails in $2"
        [ "$(( $1 + res ))" -gt 12000 ] || ! passes "$bus" "$(( $1 + res ))" "$2" ||
            fail "bus $bus: $(( $1 + res )) kW, a resolution above its answer, passes in $2"
    done
done < <(sed 1d "$work/locate-local/locational_hc.csv")
awk -F, '$1 == "611" && $3 != 1 { exit 1 }' "$work/locate-local/locational_hc.csv" || fail "611's plant is not single-phase"
echo "search by bus: the same locational_hc.csv on the local pool and on Slurm ($rounds submissions); each" \
    "answer passes, a resolution above fails"

# A study split in time: its slices as the array's tasks, then the read that stitches them, the
# same tables as the local pool's slices.
for where in sliced-local sliced-slurm; do
    cp -r "$work/morning" "$work/$where"
    "$study" write "$work/$where" --loadshapes "$work/$where/sun.dss" --slices 3 --overlap 10 > /dev/null ||
        fail "write --slices"
done
"$study" sweep run "$work/sliced-local" --jobs 2 --engine "$engine {script}" > /dev/null 2>&1 || fail "the slices in the local pool"
"$study" read "$work/sliced-local" > /dev/null || fail "read of the local pool's slices"
"$study" sweep submit "$work/sliced-slurm" --cases-per-task 1 --engine "$engine {script}" > "$work/submit.out" ||
    fail "submit of the slices: $(cat "$work/submit.out")"
grep -q "Submitted 3 slices as 3 tasks.*then the read that stitches them" "$work/submit.out" ||
    fail "the slices' submit said: $(cat "$work/submit.out")"
wait_queue
"$study" sweep status "$work/sliced-slurm" | grep -q "^3 done, 0 failed, 0 running, 0 left of 3 slices" ||
    fail "status of the slices: $("$study" sweep status "$work/sliced-slurm")"
grep -q "Stitched 3 slices of the run" "$work/sliced-slurm/slices/slurm/logs/"gather_*.out ||
    fail "the read after the slices said: $(cat "$work/sliced-slurm/slices/slurm/logs/"gather_*.out)"
cmp <(sed 1,3d "$work/sliced-local/cloud_voltage_max_table.txt") <(sed 1,3d "$work/sliced-slurm/cloud_voltage_max_table.txt") ||
    fail "the voltages differ between the slices run locally and on Slurm"
for file in controls_report.csv slices_report.csv; do
    cmp "$work/sliced-local/$file" "$work/sliced-slurm/$file" || fail "$file differs between the slices run locally and on Slurm"
done
echo "Slurm: a study's slices as an array, stitched by the read after them as the local pool's"

# A day split in time whose third slice ends its overlap a tap from the whole run (the feeder of
# tests/data/slices/ieee13): handed on round by round in one command, locally and as a chain of
# Slurm submissions, each round's job submitting the next; both stitch to the whole run's taps.
mkdir -p "$work/handed"
cp "$source/tests/data/feeders/ieee13/"* "$work/handed/"
ln -s IEEELineCodes.DSS "$work/handed/IEEELineCodes.dss"
cat > "$work/handed/Study.dss" <<'DSS'
Redirect IEEE13Nodeckt.dss
New PVSystem.pv671 phases=3 bus1=671 kV=4.16 kVA=1500 Pmpp=1500 irradiance=1
New PVSystem.pv675 phases=3 bus1=675 kV=4.16 kVA=1500 Pmpp=1500 irradiance=1
New PVSystem.pv680 phases=3 bus1=680 kV=4.16 kVA=1500 Pmpp=1500 irradiance=1
New PVSystem.pv633 phases=3 bus1=633 kV=4.16 kVA=1500 Pmpp=1500 irradiance=1
DSS
"$build/umbrascope-import" "$work/handed/Study.dss" "$work/day" > /dev/null
"$build/umbrascope-clouds" --units ft --wind 2,270 --from-sensor "$source/tests/data/sky/one-day-1s-site1.csv" \
    --sensor-interval 1 --sensor-scale 500 --sensor-window 36000,37800 --interval 10 --start 00:00:00 \
    --loadshapes "$work/day/sun.dss" "$work/day" > /dev/null 2>&1
"$study" write "$work/day" --loadshapes "$work/day/sun.dss" > /dev/null
(cd "$work" && "$engine" "$work/day/study.dss" > /dev/null) || fail "the whole day's run"
"$study" read "$work/day" > /dev/null || fail "the whole day's read"
for where in day-local day-slurm; do
    cp -r "$work/day" "$work/$where"
    "$study" write "$work/$where" --loadshapes "$work/$where/sun.dss" --slices 3 --overlap 120 > /dev/null ||
        fail "write --slices of the day"
done
"$study" sweep run "$work/day-local" --jobs 2 --hand-on --engine "$engine {script}" > "$work/hand.out" 2>&1 ||
    fail "sweep run --hand-on: $(cat "$work/hand.out")"
grep -q "^Round 1: Slice 3 handed on anew, run again" "$work/hand.out" || fail "no round handed slice 3 on: $(cat "$work/hand.out")"
grep -q "^Every slice follows the slice before's run over its overlap" "$work/hand.out" ||
    fail "the rounds did not end with every slice following: $(cat "$work/hand.out")"
"$study" read "$work/day-local" > "$work/hand-read.out" || fail "the read after the rounds"
grep -q -- "--hand-on" "$work/hand-read.out" && fail "read still offers a hand-on: $(cat "$work/hand-read.out")"
taps() { awk -F, '$2 == "regcontrol" { print $1, $3, $7 }' "$1/controls_report.csv"; }
cmp <(taps "$work/day") <(taps "$work/day-local") || fail "the handed day's tap changes differ from the whole run's"
# Each line's and transformer's loading, stitched from the slices' own rows, is the whole run's.
awk -F, 'NR == FNR { if (FNR > 1) whole[$1 "," $2] = $9 "," $12 "," $14; next }
         FNR > 1 { split(whole[$1 "," $2], w, ",")
                   d = $9 - w[1]; e = $14 - w[3]
                   if (w[1] == "" || d > 0.01 || d < -0.01 || e > 0.01 || e < -0.01 || $12 != w[2]) {
                       print $1 "," $2 ": " $9 "," $12 "," $14 " stitched, " whole[$1 "," $2] " whole"; bad = 1 }
                   n++ }
         END { exit bad || n == 0 }' "$work/day/loading_report.csv" "$work/day-local/loading_report.csv" > "$work/loading.diff" ||
    fail "the stitched day's loading differs from the whole run's: $(head -5 "$work/loading.diff")"
"$study" sweep submit "$work/day-slurm" --cases-per-task 1 --hand-on --engine "$engine {script}" > "$work/submit.out" ||
    fail "submit --hand-on: $(cat "$work/submit.out")"
wait_queue
grep -q "Slice 3 handed on anew" "$work/day-slurm/slices/slurm/logs/"gather_*.out ||
    fail "no round on Slurm handed slice 3 on: $(cat "$work/day-slurm/slices/slurm/logs/"gather_*.out)"
grep -q "Stitched 3 slices of the run" "$work/day-slurm/slices/slurm/logs/"gather_*.out ||
    fail "the last round on Slurm did not stitch the day: $(cat "$work/day-slurm/slices/slurm/logs/"gather_*.out)"
[ "$(grep -c . "$work/day-slurm/slices/slurm/submissions.txt")" = 2 ] ||
    fail "the rounds were not two submissions: $(cat "$work/day-slurm/slices/slurm/submissions.txt")"
cmp <(sed 1,3d "$work/day-local/cloud_voltage_max_table.txt") <(sed 1,3d "$work/day-slurm/cloud_voltage_max_table.txt") ||
    fail "the handed day differs between the local pool and Slurm"
echo "a day's slices handed on round by round in one command, locally and as a chain on Slurm, the whole run's taps"

# A task killed mid-case: its engine hangs on one case until the task is cancelled.
plan "$work/killed"
victim=$(awk -F, 'NR == 5 { print $1 }' "$work/killed/cases.csv")
cat > "$work/engine.sh" <<SCRIPT
#!/bin/sh
case "\$1" in *$victim*) [ -e "$work/no-hang" ] || sleep 600 ;; esac
exec "$engine" "\$1"
SCRIPT
chmod +x "$work/engine.sh"
"$study" sweep submit "$work/killed" --cases-per-task 2 --engine "$work/engine.sh {script}" > "$work/submit.out" ||
    fail "submit: $(cat "$work/submit.out")"
for _ in $(seq 1 240); do
    [ -e "$work/killed/cases/$victim/running" ] && break
    sleep 0.5
done
[ -e "$work/killed/cases/$victim/running" ] || fail "the hanging case never started"
# Nothing twice: while the submission runs, another is refused, and nothing more is queued.
queued=$(squeue -h | wc -l)
if "$study" sweep submit "$work/killed" --engine "$work/engine.sh {script}" > "$work/twice.out" 2>&1; then
    fail "a second submit while the first runs was taken: $(cat "$work/twice.out")"
fi
grep -q "is still queued or running" "$work/twice.out" || fail "the second submit said: $(cat "$work/twice.out")"
[ "$(squeue -h | wc -l)" -le "$queued" ] || fail "the refused submit queued jobs: $(squeue)"
task=$(grep -F ",$victim" "$work/killed/slurm/tasks-1.csv" | cut -d, -f1)
array=$(awk '{ sub("jobs=", "", $2); split($2, ids, ","); print ids[1] }' "$work/killed/slurm/submissions.txt" 2>/dev/null || true)
[ -n "$array" ] || array=$(squeue -h -o '%F' -n umbrascope-sweep | head -n 1)
scancel "${array}_${task}"
wait_queue
set +e
"$study" sweep gather "$work/killed" > "$work/gather.out" 2> "$work/gather.err"
status=$?
set -e
[ "$status" = 2 ] || fail "the gather of a sweep with a killed task exited $status: $(cat "$work/gather.err")"
grep -q "$victim" "$work/gather.err" || fail "the gather did not name the killed case $victim: $(cat "$work/gather.err")"
grep -q "umbrascope-study sweep run" "$work/gather.err" || fail "the gather gave no command: $(cat "$work/gather.err")"
[ ! -e "$work/killed/hosting_capacity.csv" ] || fail "an answer was stated without the killed task's cases"
left=0
for id in $(grep "^$task," "$work/killed/slurm/tasks-1.csv" | cut -d, -f2); do
    grep -q "^state = done" "$work/killed/cases/$id/status" 2>/dev/null || left=$((left + 1))
    grep -q "$id" "$work/gather.err" || grep -q "^state = done" "$work/killed/cases/$id/status" ||
        fail "the gather did not name the killed task's case $id"
done
touch "$work/no-hang"
"$study" sweep submit "$work/killed" --cases-per-task 2 --engine "$work/engine.sh {script}" > "$work/submit.out" ||
    fail "the second submit: $(cat "$work/submit.out")"
grep -Eq "Submitted $left cases? as 1 task:" "$work/submit.out" ||
    fail "the second submit did not take just the killed task's $left cases: $(cat "$work/submit.out")"
wait_queue
"$study" sweep gather "$work/killed" > "$work/gather.out" || fail "gather after the second submit: $(cat "$work/gather.out")"
cmp "$work/local/hosting_capacity.csv" "$work/killed/hosting_capacity.csv" || fail "the answer after the resubmit differs"
echo "a killed task: its $left cases named, refused, rerun by a second submit, the answer whole"
"$source/tests/slurm/stop.sh" "$slurm"
pgrep -f "$slurm/slurm.conf" > /dev/null && fail "the test's Slurm daemons did not stop"
echo "passed"

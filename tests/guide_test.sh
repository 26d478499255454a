#!/usr/bin/env bash
# The guide's examples still run: every command of its sh blocks names a program of this build,
# a subcommand it has and options it takes; and the blocks that need only the bundled data run as
# written, in order, in a folder of their own, with the programs of this build for build/run/ and
# the OpenDSS engine where the guide says to run the study in OpenDSS. The blocks of the 8500-node
# feeder, a day, a sweep and the package are checked for their options alone. Exits 77, saying
# why, where no engine runs.
#   tests/guide_test.sh BUILD_DIR SOURCE_DIR ENGINE
set -euo pipefail
# shellcheck source=tests/examples_support.sh
source "$(dirname "$0")/examples_support.sh"
build=$1
source=$2
engine=$3
guide=$source/docs/guide.md
work=$(mktemp -d /tmp/umbrascope-guide-XXXXXX)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# Each sh block, its continuation lines joined, as "N<TAB>line".
awk '/^```sh/ { n++; on = 1; next } on && /^```/ { on = 0; next }
     on { if (held != "") { $0 = held " " $0; held = "" }
          if (/\\$/) { held = substr($0, 1, length($0) - 1); next }
          print n "\t" $0 }' "$guide" > "$work/lines"
blocks=$(cut -f1 "$work/lines" | sort -un | wc -l)
[ "$blocks" -ge 10 ] || { echo "FAILED: the guide has $blocks sh blocks, not 10 or more"; exit 1; }

# 1. Every command names a program, subcommand and options this build has.
failures=0
commands=0
while IFS=$'\t' read -r block line; do
    set -f
    # shellcheck disable=SC2086
    set -- $line
    set +f
    program=${1##*/}
    case "$1" in
        build/run/umbrascope* | umbrascope*) ;;
        *) continue ;;
    esac
    commands=$((commands + 1))
    if [ ! -x "$build/$program" ]; then
        echo "block $block: $program is not a program of this build: $line"
        failures=$((failures + 1))
        continue
    fi
    help=$("$build/$program" --help 2>&1 || true)
    if [ "$program" = umbrascope-study ]; then
        case "${2:-}" in
            write | read) ;;
            sweep)
                case "${3:-}" in
                    plan | locate | run | submit | status | gather) help="$help $("$build/$program" sweep --help 2>&1 || true)" ;;
                    *) echo "block $block: umbrascope-study sweep has no ${3:-} (plan, locate, run, submit, status, gather): $line"
                       failures=$((failures + 1)) ;;
                esac ;;
            *) echo "block $block: umbrascope-study has no ${2:-} (write, read, sweep): $line"
               failures=$((failures + 1)) ;;
        esac
    fi
    for word in "$@"; do
        [ "$word" = "#" ] && break
        case "$word" in
            --*)
                option=${word%%=*}
                if ! grep -q -- "$option\b" <<< "$help"; then
                    echo "block $block: $program takes no $option: $line"
                    failures=$((failures + 1))
                fi ;;
        esac
    done
done < "$work/lines"
[ "$commands" -ge 20 ] || { echo "FAILED: only $commands commands found in the guide's blocks"; exit 1; }
[ "$failures" -eq 0 ] || { echo "FAILED: $failures of the guide's commands would not run"; exit 1; }
echo "the guide's $commands commands name programs, subcommands and options of this build"

# 2. The blocks of the bundled data run as written.
if [ ! -x "$engine" ] || ! "$engine" -c "new circuit.probe" -c solve > /dev/null 2>&1; then
    echo "SKIPPED (the runs): no OpenDSS engine runs at $engine, which the guide's study needs"
    exit 77
fi
ln -s "$source/tests" "$work/tests"
ln -s "$source/examples" "$work/examples"
mkdir "$work/docs"
awk '/^```sh/ { n++; on = 1; text = ""; next }
     on && /^```/ { on = 0
                    if (text !~ /ieee8500\/Master|feeders\/ieee8500 study|site\.csv|--input day|\/tmp\/feeder|sweep |scripts\/package|cmake |sudo /)
                        printf "%s# --- end of block %d\n", text, n
                    next }
     on { text = text $0 "\n" }' "$guide" |
    sed -e "s#build/run/#$build/#g" \
        -e "s#^\# then, in OpenDSS: compile .*#\"$engine\" feeder/study.dss > /dev/null#" \
        -e "/\/umbrascope --large/d" > "$work/run.sh"
ran=$(grep -c '^# --- end of block' "$work/run.sh")
grep -q "\"$engine\" feeder/study.dss" "$work/run.sh" || { echo "FAILED: the guide no longer says where to run the study"; exit 1; }
cd "$work"
run_examples "the guide's examples" run.sh run.out
for made in study.html docs/ieee13.gif run.mp4 event.mp4 run.trace; do
    [ -s "$made" ] || { echo "FAILED: the guide's examples made no $made"; exit 1; }
done
echo "the guide's $ran blocks of the bundled data ran as written: $(grep -vc '^#' run.sh) commands"

#!/usr/bin/env bash
# The README's examples run as written: each ```sh block of its tour, in a folder of its own, with
# the programs of this build for build/run/ and the OpenDSS engine for opendsscmd. The window's
# line is left to the window's own tests. Exits 77, saying why, where no engine runs.
#   tests/readme_test.sh BUILD_DIR SOURCE_DIR ENGINE
set -euo pipefail
# shellcheck source=tests/examples_support.sh
source "$(dirname "$0")/examples_support.sh"
build=$1
source=$2
engine=$3
if [ ! -x "$engine" ] || ! "$engine" -c "new circuit.probe" -c solve > /dev/null 2>&1; then
    echo "SKIPPED: no OpenDSS engine runs at $engine, which the README's study needs"
    exit 77
fi
work=$(mktemp -d /tmp/umbrascope-readme-XXXXXX)
trap 'rm -rf "$work"' EXIT
ln -s "$source/tests" "$work/tests"
# The blocks of sh between "## A study in five commands" and the next section.
awk '/^## A study in five commands/ { on = 1; next } /^## / { on = 0 } on && /^```sh/ { block = 1; next }
     block && /^```/ { block = 0; print "# --- end of block"; next } block { print }' "$source/README.md" > "$work/blocks.sh"
blocks=$(grep -c '^# --- end of block' "$work/blocks.sh")
[ "$blocks" -ge 3 ] || { echo "FAILED: the README's tour has $blocks sh blocks, not 3"; exit 1; }
sed -e "s#build/run/#$build/#g" -e "s#opendsscmd#$engine#g" -e "/^$(printf '%s' "$build" | sed 's#[/.]#\\&#g')\/umbrascope --large/d" \
    "$work/blocks.sh" > "$work/tour.sh"
cd "$work"
run_examples "the README's tour" tour.sh tour.out
grep -q "Hosting capacity under the sky morning" tour.out || { echo "FAILED: the sweep said:"; tail tour.out; exit 1; }
[ -s study.html ] || { echo "FAILED: no page"; exit 1; }
echo "the README's tour ran as written: $(grep -c . tour.sh) lines"

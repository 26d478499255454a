#!/usr/bin/env bash
# Makes scenario/ again: the regulated feeder of circuit/ under 120 rows of 5 s of the 8500-node
# feeder's measured sky, its study written by umbrascope-study and run by an OpenDSS engine.
#   tests/data/study/regulated/make.sh BUILD_DIR ENGINE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1
engine=$2
work=/tmp/umbrascope-fixture
rm -rf "$work" && mkdir -p "$work"
cp -r "$here/circuit" "$work/circuit"
"$build/umbrascope-import" --coords "$work/circuit/coords.csv" "$work/circuit/Feeder.dss" "$work/scenario" > /dev/null
"$build/umbrascope-clouds" --units m --wind 5,270 --from-sensor "$here/../../feeders/ieee8500/Normalized-1s-2900-pts.CSV" \
    --sensor-interval 1 --interval 5 --steps 120 --loadshapes "$work/scenario/sun.dss" "$work/scenario" > /dev/null 2>&1
"$build/umbrascope-study" write "$work/scenario" --loadshapes "$work/scenario/sun.dss" > /dev/null
"$engine" "$work/scenario/study.dss" > /dev/null
rm -rf "$here/scenario"
cp -r "$work/scenario" "$here/scenario"

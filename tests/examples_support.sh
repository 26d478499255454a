# shellcheck shell=bash
# What the README's and the guide's example tests share: runs SCRIPT, the examples as written, in
# the working folder into OUT, and fails, naming WHAT, where it stops or the study's read does not
# say what the IEEE 13 study brings back.
#   run_examples WHAT SCRIPT OUT
run_examples() {
    local what=$1 script=$2 out=$3
    if ! bash -euo pipefail "$script" > "$out" 2>&1; then
        echo "FAILED: $what stopped:"
        tail -n 20 "$out"
        exit 1
    fi
    grep -q "16 buses of 16 have voltages over 2913 rows of 1 s" "$out" || { echo "FAILED: read said:"; tail "$out"; exit 1; }
}

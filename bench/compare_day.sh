#!/usr/bin/env bash
# The sliced study against the whole one, as docs/performance.md reports them: every voltage cell
# of the two tables (the largest difference and the share within 2e-4 pu) and each regulator's and
# capacitor's changes under the sky and under the clear sky.
#   bench/compare_day.sh WHOLE_FOLDER SLICED_FOLDER
# Each folder holds the tables and reports of one read: read --whole, then copy; then read.
set -euo pipefail
whole=$1
sliced=$2
for table in cloud_voltage_min_table.txt cloud_voltage_max_table.txt; do
    paste -d'|' "$whole/$table" "$sliced/$table" | awk -F'|' -v table="$table" '
        NR > 6 {
            n1 = split($1, a, ","); split($2, b, ",")
            if (a[1] != b[1]) { print "rows differ at line " NR; exit 1 }
            for (i = 2; i <= n1; ++i) {
                if (a[i] == "" && b[i] == "") continue
                if (a[i] == "" || b[i] == "") { missing++; continue }
                d = a[i] - b[i]; if (d < 0) d = -d
                cells++
                if (d <= 0.00020001) near++
                if (d <= 0.00100001) within++
                if (d > most) { most = d; where = "row " NR - 6 " column " i - 1 }
            }
        }
        END { printf "%s: %d cells, largest difference %.4f pu (%s), %.4f %% within 2e-4 pu, %.4f %% within 1e-3 pu, %d empty in one only\n",
                     table, cells, most, where, 100 * near / cells, 100 * within / cells, missing }'
done
join -t, -j1 \
    <(awk -F, '($2 == "regcontrol" || $2 == "capcontrol") { print $1 ":" $3 "," $7 }' "$whole/controls_report.csv" | sort) \
    <(awk -F, '($2 == "regcontrol" || $2 == "capcontrol") { print $1 ":" $3 "," $7 }' "$sliced/controls_report.csv" | sort) |
    awk -F, '{ d = $3 - $2; printf "%s: %d changes whole, %d sliced (%+d)\n", $1, $2, $3, d }'

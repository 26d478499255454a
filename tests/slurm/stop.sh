#!/usr/bin/env bash
# Stops the Slurm that start.sh started in FOLDER: its daemons, then munged.
#   tests/slurm/stop.sh FOLDER
folder=$1
for pidfile in "$folder/slurmd.pid" "$folder/slurmctld.pid" "$folder/munge/munged.pid"; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
done
exit 0

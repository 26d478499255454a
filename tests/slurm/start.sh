#!/usr/bin/env bash
# Starts a single-node Slurm of the tests' own, as root, from Debian's slurmctld, slurmd and munge:
# its configuration, state, sockets and logs all in FOLDER, on ports of its own. Prints the
# environment that reaches it (SLURM_CONF=...). Exits 77 where it cannot start, saying why.
#   tests/slurm/start.sh FOLDER
set -uo pipefail
folder=$1
skip() { echo "cannot start Slurm: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "it needs root"
for program in munged slurmctld slurmd sbatch squeue scontrol sinfo; do
    command -v "$program" > /dev/null || skip "$program is not installed (Debian's slurmctld slurmd munge)"
done
mkdir -p "$folder"/{state,spool,munge} || skip "cannot make $folder"
chmod 700 "$folder/munge"
host=$(hostname -s)
# Ports of its own, so that it meets no other Slurm on the machine.
base=$(( 20000 + ($$ % 20000) ))
dd if=/dev/urandom of="$folder/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$folder/munge/munge.key"
munged --force --key-file="$folder/munge/munge.key" --socket="$folder/munge/munge.socket" \
    --pid-file="$folder/munge/munged.pid" --log-file="$folder/munge/munged.log" \
    --seed-file="$folder/munge/munged.seed" || skip "munged did not start: $(tail -n 3 "$folder/munge/munged.log" 2>/dev/null)"
cat > "$folder/slurm.conf" <<CONF
ClusterName=umbrascope-tests
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CryptoType=crypto/munge
AuthInfo=socket=$folder/munge/munge.socket
SlurmctldPort=$base
SlurmdPort=$((base + 1))
StateSaveLocation=$folder/state
SlurmdSpoolDir=$folder/spool
SlurmctldPidFile=$folder/slurmctld.pid
SlurmdPidFile=$folder/slurmd.pid
SlurmctldLogFile=$folder/slurmctld.log
SlurmdLogFile=$folder/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SwitchType=switch/none
MpiDefault=none
SchedulerType=sched/backfill
# The backfill pass each second, not each 30: a job whose dependency is met, or an array just
# submitted, starts within a second or so here, where the tests wait on chains of jobs.
SchedulerParameters=bf_interval=1
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MaxArraySize=${UMBRASCOPE_MAX_ARRAY:-1001}
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=tests Nodes=$host Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF=$folder/slurm.conf
slurmctld -f "$SLURM_CONF" -i || skip "slurmctld did not start: $(tail -n 3 "$folder/slurmctld.log" 2>/dev/null)"
slurmd -f "$SLURM_CONF" || skip "slurmd did not start: $(tail -n 3 "$folder/slurmd.log" 2>/dev/null)"
for _ in $(seq 1 100); do
    if sinfo -h -o %T 2>/dev/null | grep -q -E '^idle'; then
        echo "SLURM_CONF=$SLURM_CONF"
        exit 0
    fi
    sleep 0.2
done
skip "the node did not come up: $(tail -n 3 "$folder/slurmd.log" 2>/dev/null)"

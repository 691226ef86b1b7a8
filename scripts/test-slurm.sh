#!/usr/bin/env bash
# The sweep workflow through a real scheduler: starts a one-node SLURM on this machine (munged
# as the munge user, slurmctld and slurmd from a slurm.conf naming this host, no accounting),
# runs workflow/Snakefile with snakemake's --cluster "sbatch --parsable ...", one batch job per
# run and one for collect, and compares the study with the one-process sweep file by file (the
# seconds aside). The daemons are stopped and the folders removed however it ends; the whole
# is bounded: every wait, and the workflow by EMCLADE_SLURM_SECONDS (default 300).
#   bash scripts/test-slurm.sh [BUILD_DIR]     (emclade-sweep in BUILD_DIR, default build)
# Needs root and Debian's slurm-wlm, munge and snakemake (scripts/install-deps.sh --test).
# Exit 0: the same files; 1: a difference or a failure; 77: skipped (not root, no packages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
exe=$build/emclade-sweep
limit=${EMCLADE_SLURM_SECONDS:-300}

say() { echo "test-slurm.sh: $*" >&2; }
if [ "$(id -u)" -ne 0 ]; then say "skipped: needs root (it starts munged, slurmctld, slurmd)"; exit 77; fi
for tool in munged slurmctld slurmd sbatch srun sinfo scontrol snakemake; do
  if ! command -v "$tool" >/dev/null; then
    say "skipped: $tool is not installed (bash scripts/install-deps.sh --test)"
    exit 77
  fi
done
[ -x "$exe" ] || { say "no $exe: build it first"; exit 1; }

work=$(mktemp -d /tmp/emclade-slurm.XXXXXX)
chmod 755 "$work"
host=$(hostname -s)
export SLURM_CONF=$work/slurm.conf
started_munge=0

stop() {
  local pidfile
  [ -s "$work/slurmctld.pid" ] && timeout 10 scancel --user=root >/dev/null 2>&1 || true
  for pidfile in "$work/slurmd.pid" "$work/slurmctld.pid"; do
    [ -s "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  done
  if [ "$started_munge" = 1 ] && [ -s /run/munge/munged.pid ]; then
    kill "$(cat /run/munge/munged.pid)" 2>/dev/null || true
  fi
  sleep 1
  for pidfile in "$work/slurmd.pid" "$work/slurmctld.pid"; do
    [ -s "$pidfile" ] && kill -9 "$(cat "$pidfile")" 2>/dev/null || true
  done
}
finish() {
  local code=$1
  stop
  if [ "$code" -ne 0 ]; then
    for log in slurmctld.log slurmd.log; do
      [ -f "$work/$log" ] && { say "last lines of $log:"; tail -n 15 "$work/$log" >&2; }
    done
  fi
  rm -rf "$work"
  exit "$code"
}
trap 'finish $?' EXIT
trap 'say "interrupted"; exit 1' INT TERM

# Waits up to $1 seconds for the command after it to succeed.
await() {
  local seconds=$1
  shift
  for _ in $(seq 1 "$((seconds * 2))"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.5
  done
  return 1
}

# munge: its folders owned by the munge user, a key if there is none, munged as that user.
if ! pgrep -x munged >/dev/null; then
  mkdir -p /etc/munge /run/munge /var/log/munge /var/lib/munge
  if [ ! -s /etc/munge/munge.key ]; then
    if command -v mungekey >/dev/null; then mungekey --create --force >/dev/null 2>&1 || true; fi
    [ -s /etc/munge/munge.key ] || dd if=/dev/urandom of=/etc/munge/munge.key bs=1024 count=1 2>/dev/null
  fi
  chown -R munge:munge /etc/munge /run/munge /var/log/munge /var/lib/munge
  chmod 700 /etc/munge /var/log/munge /var/lib/munge
  chmod 755 /run/munge
  chmod 400 /etc/munge/munge.key
  runuser -u munge -- munged
  started_munge=1
fi
await 20 munge -n || { say "munged does not answer"; exit 1; }

cpus=$(nproc)
memory=$(awk '/MemTotal/ { print int($2 / 1024 / 2) }' /proc/meminfo)
mkdir -p "$work/state" "$work/spool"
cat >"$SLURM_CONF" <<EOF
ClusterName=emclade-test
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
SlurmctldPort=6917
SlurmdPort=6918
AuthType=auth/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
MpiDefault=none
ReturnToService=2
NodeName=$host CPUs=$cpus RealMemory=$memory State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld
slurmd
await 60 bash -c "sinfo -h -N -o %t | grep -qx -e idle -e mix" || { say "the node does not come up"; sinfo -N >&2 || true; exit 1; }
[ "$(timeout 60 srun -N1 -t 1 hostname)" = "$(hostname)" ] || { say "srun hostname does not answer"; exit 1; }
say "SLURM up on $host ($cpus CPUs, $memory MB)"

# The workflow, one batch job per run and one for collect, and the same sweep in one process.
cd "$work"
cp "$root/examples/example.str" in.str
cat >config.yaml <<EOF
input: in.str
out: cluster.sweep
k: "1-3"
replicates: 2
seed: 5
start: ""
max_iterations: 10000
tolerance: 0.0001
reader_options: ""
extra_options: ""
prepare: false
shards: 0
threads_per_job: 1
emclade_sweep: $exe
mem_mb_fallback: 200
runtime_minutes_fallback: 10
EOF
timeout -k 10 "$limit" snakemake --snakefile "$root/workflow/Snakefile" --configfile config.yaml --directory "$work" \
  --jobs 4 --latency-wait 10 --quiet \
  --cluster "sbatch --parsable --cpus-per-task={threads} --mem={resources.mem_mb}M --time={resources.runtime} --output=$work/slurm-%j.out" \
  --cluster-cancel scancel >snakemake.log 2>&1 || {
  say "snakemake failed (or ran out of time):"
  tail -n 30 snakemake.log >&2
  tail -n 5 slurm-*.out >&2 || true
  exit 1
}
jobs=$(ls slurm-*.out 2>/dev/null | wc -l)
[ "$jobs" -ge 7 ] || { say "expected 7 batch jobs (6 runs, collect), found $jobs"; exit 1; }
"$exe" in.str --k 1-3 --replicates 2 --seed 5 --out one.sweep --quiet >/dev/null

# File by file: the seconds column of runs.tsv and the report's seconds masked.
masked() {
  case $2 in
    runs.tsv) awk -F'\t' -v OFS='\t' 'NR > 1 { $8 = "#" } { print }' "$1/$2" ;;
    report.html) sed 's/<span class="seconds">[^<]*<\/span>/#/g' "$1/$2" ;;
    *) cat "$1/$2" ;;
  esac
}
differ=0
one=$(cd one.sweep && find . -type f -not -path './runs/*' | sort)
cluster=$(cd cluster.sweep && find . -type f -not -path './runs/*' | sort)
if [ "$one" != "$cluster" ]; then
  say "the folders hold other files:"
  diff <(echo "$one") <(echo "$cluster") >&2 || true
  differ=1
fi
for file in $one; do
  file=${file#./}
  if ! cmp -s <(masked one.sweep "$file") <(masked cluster.sweep "$file"); then
    say "$file differs"
    differ=1
  fi
done
[ "$differ" = 0 ] || exit 1
say "$jobs batch jobs; the study is the one-process sweep's, file by file ($(echo "$one" | wc -l) files)"

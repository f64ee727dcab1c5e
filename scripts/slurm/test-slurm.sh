#!/bin/bash
# A one-node Slurm cluster on this machine, for the array job of tavrick-batch:
# munged on a key and socket of its own, slurmctld and slurmd with their own
# configuration, state, spool, logs and loopback ports under a temporary
# directory. Runs the sbatch array script over the demo store in 4 shards,
# merges the parts and compares them byte for byte with one unsharded run.
# Everything it started is stopped on exit, also after a failure.
#
# Usage: scripts/slurm/test-slurm.sh [BUILD_DIR]   (run by `make test-slurm`, as root)
set -euo pipefail

src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-build}" && pwd)
batch="$build/batch/tavrick-batch"
store_cmd="$build/tools/tavrick-store"
for b in "$batch" "$store_cmd"; do
  [ -x "$b" ] || { echo "test-slurm: $b is missing; build first" >&2; exit 1; }
done
[ "$(id -u)" = 0 ] || { echo "test-slurm: needs root (slurmd runs jobs as their user)" >&2; exit 1; }

tmp=$(mktemp -d /tmp/tavrick-slurm-XXXXXX)
chmod 700 "$tmp"
mkdir -p "$tmp/state" "$tmp/spool" "$tmp/log" "$tmp/run" "$tmp/out"

stop() {
  status=$?
  for pidfile in "$tmp/run/slurmd.pid" "$tmp/run/slurmctld.pid" "$tmp/run/munged.pid"; do
    [ -s "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  if [ "$status" != 0 ]; then
    echo "test-slurm: failed; the daemons' logs:" >&2
    tail -n 30 "$tmp"/log/* "$tmp"/out/*.log 2>/dev/null >&2 || true
  fi
  rm -rf "$tmp"
  exit "$status"
}
trap stop EXIT
trap 'exit 1' INT TERM

# Two free loopback ports in an unusual range.
port_free() { ! (echo > "/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
ctl_port=""
for p in $(seq 46817 2 46917); do
  if port_free "$p" && port_free $((p + 1)); then ctl_port=$p; break; fi
done
[ -n "$ctl_port" ] || { echo "test-slurm: no free port pair in 46817..46918" >&2; exit 1; }
d_port=$((ctl_port + 1))

# munged: a generated key, its own socket, pid, seed and log.
dd if=/dev/urandom of="$tmp/munge.key" bs=1024 count=1 status=none
chmod 400 "$tmp/munge.key"
munged --force --key-file="$tmp/munge.key" --socket="$tmp/run/munge.socket" \
  --pid-file="$tmp/run/munged.pid" --seed-file="$tmp/run/munged.seed" \
  --log-file="$tmp/log/munged.log"

node=$(hostname -s)
cpus=$(nproc)
cat > "$tmp/slurm.conf" <<CONF
ClusterName=tavricktest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctl_port
SlurmdPort=$d_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$tmp/run/munge.socket
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
SchedulerType=sched/builtin
MpiDefault=none
JobCompType=jobcomp/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
PlugStackConfig=$tmp/plugstack.conf
StateSaveLocation=$tmp/state
SlurmdSpoolDir=$tmp/spool
SlurmctldPidFile=$tmp/run/slurmctld.pid
SlurmdPidFile=$tmp/run/slurmd.pid
SlurmctldLogFile=$tmp/log/slurmctld.log
SlurmdLogFile=$tmp/log/slurmd.log
ReturnToService=2
NodeName=$node NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
: > "$tmp/plugstack.conf"
export SLURM_CONF="$tmp/slurm.conf"

slurmctld -f "$SLURM_CONF" -i
slurmd -f "$SLURM_CONF" -N "$node"
# Until the node takes work.
for _ in $(seq 100); do
  state=$(sinfo -h -n "$node" -o %T 2>/dev/null || true)
  case "$state" in idle*|mixed*|allocated*) break ;; esac
  sleep 0.2
done
case "$state" in idle*|mixed*|allocated*) ;; *)
  echo "test-slurm: node '$node' did not come up (state '$state')" >&2; exit 1 ;;
esac

export TAVRICK_EXPERIMENT="$tmp/demo.db"
"$store_cmd" demo > /dev/null
lines="$src/batch/ba133_lines.csv"

# The reference: one unsharded run (status 1 is rows that could not be fitted).
"$batch" --lines "$lines" --jobs 1 --out "$tmp/whole.csv" || [ $? = 1 ]

sbatch --wait --quiet --array=0-3 --chdir="$tmp/out" \
  --export=ALL,LINES="$lines",OUTDIR="$tmp/out",TAVRICK_BATCH="$batch" \
  "$src/scripts/slurm/tavrick-batch.sbatch"

"$batch" merge "$tmp"/out/part-{0,1,2,3}.csv --out "$tmp/merged.csv"
if cmp "$tmp/whole.csv" "$tmp/merged.csv"; then
  echo "test-slurm: 4 array tasks merged = the unsharded run ($(($(wc -l < "$tmp/whole.csv") - 1)) rows)"
else
  echo "test-slurm: merged shards differ from the unsharded run" >&2
  diff "$tmp/whole.csv" "$tmp/merged.csv" | head -20 >&2
  exit 1
fi

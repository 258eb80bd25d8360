#!/bin/sh
# A one-node Slurm cluster of the test's own, in a scratch folder of the build (munge and Slurm's
# daemons as root, without systemd, on ports no other run uses), and the README's recipes on it:
# srun with the node from SLURM_LOCALID, the wrapper that carries the program's code out, scancel
# during a run, sbatch. Everything is stopped and removed afterwards, whatever the outcome.
#   slurm_test.sh BUILD_DIR   BUILD_DIR holds the native nodestart and the tests' probe_child
# Exits 77 (skipped) only when the daemons cannot start here.
set -eu
"$(dirname "$0")/../../scripts/install-deps.sh" linux
build=$(cd "$1" && pwd)
tool=$build/nodestart
probe=$build/probe_child
work=$(mktemp -d "$build/slurm-test.XXXXXX")
fail() { echo "FAIL: $*"; exit 1; }

stop() {
  for signal in TERM KILL; do
    for daemon in slurmd slurmctld munged; do kill -"$signal" "$(cat "$work/$daemon.pid")" || true; done
    sleep 1
  done 2>/dev/null
  rm -rf "$work"
}
trap 'stop' EXIT
trap 'exit 1' INT TERM

# Two ports next to each other that nothing listens on, from a start of this run's own.
port=$((20000 + $$ % 20000))
while ss -Htln | awk '{ print $4 }' | grep -Eq ":($port|$((port + 1)))\$"; do port=$((port + 2)); done

host=$(hostname -s)
mkdir -p "$work/state" "$work/spool"
cat >"$work/slurm.conf" <<CONF
ClusterName=nodestart
SlurmctldHost=$host
SlurmUser=root
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
AuthInfo=socket=$work/munge.socket
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
ReturnToService=2
NodeName=$host CPUs=$(nproc) State=UNKNOWN
PartitionName=test Nodes=ALL Default=YES OverSubscribe=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$work/slurm.conf"

mungekey --create --keyfile="$work/munge.key"
started=true
munged --force --socket="$work/munge.socket" --key-file="$work/munge.key" \
  --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge.seed" ||
  started=false
$started && slurmctld -f "$SLURM_CONF" || started=false
$started && slurmd -f "$SLURM_CONF" -N "$host" || started=false
waited=0
while $started && ! sinfo -h -o %t 2>/dev/null | grep -qx idle; do
  [ "$waited" -lt 30 ] || started=false
  sleep 1 && waited=$((waited + 1))
done
if ! $started; then
  echo "SKIP: Slurm's daemons do not start here:"
  tail -n 5 "$work"/*.log 2>/dev/null || true
  exit 77
fi
echo "slurm: one node ($host, $(nproc) CPUs) idle after $waited s, ports $port and $((port + 1))"

count() { printf '%s\n' "$1" | grep -c -- "$2" || true; }

# The README's per-task recipe: each task prefers the node of its local id.
nodes=$(ls -d /sys/devices/system/node/node[0-9]* | wc -l)
out=$(srun -n 2 sh -c "exec '$tool' \$((SLURM_LOCALID % $nodes)) '$probe' --exit=0") &&
  [ "$(count "$out" "Preferred NUMA node: 0\$")" = "$((nodes == 1 ? 2 : 1))" ] &&
  [ "$(count "$out" '^ Child process exited with code 0$')" = 2 ] || fail "srun -n 2: $out"
echo "ok - srun -n 2: each task's summary with its node, and its end"

# The README's wrapper carries the program's own code out to srun.
status=0
srun -n 1 sh -c "'$tool' 0 '$probe' --exit=3 | awk '{ print; fflush() } /^ Child process exited with code / { code = \$NF } END { exit code == \"\" ? 2 : code }'" \
  >"$work/wrapped.txt" 2>&1 || status=$?
[ "$status" = 3 ] || fail "srun's status $status, not the program's 3: $(cat "$work/wrapped.txt")"
echo "ok - the wrapper carries the program's code 3 out to srun"

# scancel during a run: every task's program hears it, and each tool reports the program's end.
srun -n 2 sh -c "exec '$tool' 0 '$probe' --ready --catch=15 --until-caught --run-ms=20000 --exit=9" \
  >"$work/cancelled.txt" 2>&1 &
# The tool's "Waiting" line has no end of its own, so a line of the program's may follow it.
for wait in $(seq 200); do
  [ "$(count "$(cat "$work/cancelled.txt")" 'probe ready$')" = 2 ] && break || sleep 0.1
done
scancel "$(squeue -h -o %i | head -n 1)"
wait || true
out=$(cat "$work/cancelled.txt")
[ "$(count "$out" '^ Child process exited with code 9$')" = 2 ] || fail "scancel, the ends: $out"
heard=$(printf '%s\n' "$out" | sed -n 's/^.*caught 15 x\([0-9]*\)$/\1/p' | tr '\n' ' ' | sed 's/ $//')
[ "$(echo "$heard" | wc -w)" = 2 ] && ! echo "$heard" | grep -qw 0 || fail "scancel, heard: $out"
echo "ok - scancel reaches both tasks' programs (SIGTERM heard: $heard times), each reports code 9"

# sbatch of a two-line script: the tool's output lands in the job's file.
printf '#!/bin/sh\n"%s" 0 "%s" --exit=4\n' "$tool" "$probe" >"$work/job.sh"
sbatch --wait -o "$work/job.out" "$work/job.sh" >/dev/null || fail "sbatch: $(cat "$work/job.out")"
grep -q '^   Preferred NUMA node: 0$' "$work/job.out" &&
  grep -qx ' Child process exited with code 4' "$work/job.out" || fail "sbatch: $(cat "$work/job.out")"
echo "ok - sbatch: the job's file holds the summary and the end"
echo "slurm: 4 cases passed"

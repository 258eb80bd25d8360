#!/bin/sh
# Measures the probe's look at a running program against numastat -p on the same process, side by
# side in one run: at 10,000 threads, at 1,000,000 mappings, and at both. Prints each one's
# median time and peak resident memory over the runs, which take turns. Not a test: the figures
# depend on the machine. A million mappings need vm.max_map_count above it: as root, the script
# raises it for the run and puts it back.
#   BENCH_RUNS   runs of each command (default 3)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh checks
scripts/install-deps.sh vm  # /usr/bin/time
runs=${BENCH_RUNS:-3}
out=build/bench
mkdir -p "$out"
cmake --preset linux >/dev/null
cmake --build --preset linux --target nodestart-probe probe_child >/dev/null
probe=build/linux/nodestart-probe
child=build/linux/probe_child

limit=$(cat /proc/sys/vm/max_map_count)
pid=
finish() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  [ "$(cat /proc/sys/vm/max_map_count)" = "$limit" ] || echo "$limit" >/proc/sys/vm/max_map_count
}
trap finish EXIT
if [ "$limit" -lt 1100000 ] && [ "$(id -u)" = 0 ]; then echo 1100000 >/proc/sys/vm/max_map_count; fi

# The median of the numbers on standard input.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-34s %-10s %10s %12s\n' case command seconds "peak KiB"
for options in "--threads=10000" "--mappings=1000000" "--threads=10000 --mappings=1000000"; do
  # shellcheck disable=SC2086
  "$child" --run-ms=600000 $options --ready >"$out/child.txt" &
  pid=$!
  until grep -q "probe ready" "$out/child.txt"; do
    kill -0 "$pid" 2>/dev/null || { echo "the program for $options could not start" >&2; exit 1; }
    sleep 1
  done
  : >"$out/probe.txt"
  : >"$out/numastat.txt"
  run=1
  while [ "$run" -le "$runs" ]; do
    /usr/bin/time -f "%e %M" -a -o "$out/probe.txt" "$probe" --pid="$pid" >/dev/null
    /usr/bin/time -f "%e %M" -a -o "$out/numastat.txt" numastat -p "$pid" >/dev/null
    run=$((run + 1))
  done
  for command in probe numastat; do
    printf '%-34s %-10s %10s %12s\n' "$options" "$command" \
      "$(cut -d' ' -f1 "$out/$command.txt" | median)" "$(cut -d' ' -f2 "$out/$command.txt" | median)"
  done
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
done

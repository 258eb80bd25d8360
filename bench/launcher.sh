#!/bin/sh
# Measures what the launcher costs on Linux, side by side in one run, and prints a table of
# medians and ratios against the goals. The start-up goal is relative to the floor, a minimal
# static launcher built here, since no launcher that waits can start faster than that. Not a
# test: the figures depend on the machine.
#   BENCH_RUNS   runs of each command (default 1000)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh checks
scripts/install-deps.sh windows
runs=${BENCH_RUNS:-1000}
out=build/bench
mkdir -p "$out"

cmake --preset linux >/dev/null
cmake --build --preset linux --target nodestart >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target nodestart >/dev/null
tool=build/linux/nodestart
floor=$out/floor_launcher
cc -O2 -static -o "$floor" bench/floor_launcher.c
true_program=/bin/true

# Start-up cost: the launcher against the floor, numactl and running the program directly. The runs
# go in rounds that take turns, so that a machine growing busier or quieter favours none of them;
# the figure for each is the median of its round medians.
rounds=5
: >"$out/startup.csv"
round=1
while [ "$round" -le "$rounds" ]; do
  hyperfine --shell=none --warmup 20 --runs $(( (runs + rounds - 1) / rounds )) --style none \
    --export-csv "$out/round.csv" \
    "$tool 0 $true_program" "$floor 0 $true_program" "numactl --preferred=0 $true_program" \
    "$true_program" \
    >/dev/null 2>"$out/hyperfine.log"
  tail -n +2 "$out/round.csv" >>"$out/startup.csv"
  round=$((round + 1))
done

# Peak resident memory of the launcher while it waits for its child.
"$tool" 0 sleep 1 >/dev/null &
launcher=$!
sleep 0.5
peak_kib=$(awk '/^VmHWM:/ { print $2 }' "/proc/$launcher/status")
wait "$launcher"

# The Windows executable and the DLLs it imports.
exe=build/windows/nodestart.exe
exe_kib=$(( ($(stat -c %s "$exe") + 1023) / 1024 ))
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { printf "%s ", $3 }')
case "$imports" in
  *libstdc++*|*libgcc*|*libwinpthread*) system_only=no ;;
  *) system_only=yes ;;
esac

awk -F, -v peak="$peak_kib" -v exe="$exe_kib" -v imports="$imports" -v system_only="$system_only" \
  -v machine="$(nproc) cores, $(uname -sr)" -v date="$(date -u +%Y-%m-%d)" '
  function verdict(ok) { return ok ? "met" : "missed" }
  # Rows come round by round, four commands a round: nodestart, the floor, numactl, direct.
  { i = (NR - 1) % 4 + 1; name[i] = $1; n[i]++; round_median[i, n[i]] = $4 * 1000 }
  END {
    for (i = 1; i <= 4; i++) {  # sort the round medians, take the middle one
      for (a = 1; a <= n[i]; a++) for (b = a + 1; b <= n[i]; b++)
        if (round_median[i, b] < round_median[i, a]) {
          t = round_median[i, a]; round_median[i, a] = round_median[i, b]; round_median[i, b] = t
        }
      median[i] = round_median[i, int((n[i] + 1) / 2)]
    }
    printf "nodestart launcher benchmark, %s, %s\n\n", date, machine
    printf "%-44s %10s\n", "median start-to-end time (" n[1] " rounds)", "ms"
    for (i = 1; i <= 4; i++) printf "  %-42s %10.3f\n", name[i], median[i]
    vs_floor = median[1] / median[2]
    printf "\n%-44s %10s  %-10s %s\n", "measure", "value", "goal", ""
    printf "  %-42s %10.2f  %-10s %s\n", "nodestart / floor launcher", vs_floor, "<= 1.10", verdict(vs_floor <= 1.10)
    # For the record: what no waiting launcher changes.
    printf "  %-42s %10.2f\n", "nodestart / numactl --preferred", median[1] / median[3]
    printf "  %-42s %10.2f\n", "nodestart / direct run", median[1] / median[4]
    printf "  %-42s %10.2f\n", "floor launcher / direct run", median[2] / median[4]
    printf "  %-42s %10d  %-10s %s\n", "peak resident while waiting (KiB)", peak, "<= 1024", verdict(peak <= 1024)
    printf "  %-42s %10d  %-10s %s\n", "nodestart.exe size (KiB)", exe, "<= 256", verdict(exe <= 256)
    printf "  %-42s %10s  %-10s %s\n", "nodestart.exe imports system DLLs only", system_only, "yes", verdict(system_only == "yes")
    printf "    (%s)\n", imports
  }' "$out/startup.csv"

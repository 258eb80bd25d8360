#!/bin/sh
# Runs every fuzz target for a bounded time, FUZZ_SECONDS each (default 30), from the seed corpus;
# as many at once as there are processors, each fuzzer using one.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh checks
seconds=${FUZZ_SECONDS:-30}
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz

# fuzz TARGET: one target's run; its verdict in build/linux-fuzz/TARGET.verdict.
fuzz() {
  # New inputs go to the build folder; the seeds in the tree stay as they are.
  work=build/linux-fuzz/corpus/$1
  log=build/linux-fuzz/$1.log
  mkdir -p "$work"
  if "build/linux-fuzz/${1}_fuzz" -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="build/linux-fuzz/$1-" "$work" "tests/fuzz/corpus/$1" >"$log" 2>&1; then
    echo "fuzz $1: $(grep -o 'Done [0-9]* runs' "$log" | tail -n 1), no failure"
  else
    echo "fuzz $1: FAILED (see $log)"
    tail -n 30 "$log"
    echo failed >"build/linux-fuzz/$1.verdict"
  fi
}

rm -f build/linux-fuzz/*.verdict
set -- node_param lossless_utf8 command_line command_line_split
processors=$(nproc)
while [ $# -gt 0 ]; do
  running=0
  while [ $# -gt 0 ] && [ "$running" -lt "$processors" ]; do
    fuzz "$1" &
    shift
    running=$((running + 1))
  done
  wait
done
if ls build/linux-fuzz/*.verdict >/dev/null 2>&1; then exit 1; fi

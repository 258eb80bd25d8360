#!/bin/sh
# Runs every fuzz target for a bounded time, FUZZ_SECONDS each (default 30), from the seed corpus.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh checks
seconds=${FUZZ_SECONDS:-30}
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz
failed=0
for target in node_param lossless_utf8 command_line command_line_split; do
  # New inputs go to the build folder; the seeds in the tree stay as they are.
  work=build/linux-fuzz/corpus/$target
  log=build/linux-fuzz/$target.log
  mkdir -p "$work"
  if "build/linux-fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="build/linux-fuzz/$target-" \
      "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -o 'Done [0-9]* runs' "$log" | tail -n 1), no failure"
  else
    echo "fuzz $target: FAILED (see $log)"
    tail -n 30 "$log"
    failed=1
  fi
done
exit "$failed"

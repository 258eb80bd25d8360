#!/bin/sh
# Everything CI checks: static analysis, bounded fuzzing, a check that the benchmark runs, then
# the test suites of the native, sanitizer and Windows (under Wine) builds.
#   FUZZ_SECONDS  time for each fuzz target (default 30)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
scripts/static-analysis.sh
scripts/fuzz.sh
BENCH_RUNS=${BENCH_RUNS:-100} bench/launcher.sh
for preset in linux linux-asan windows; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

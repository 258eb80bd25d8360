#!/bin/sh
# Everything CI checks: static analysis, bounded fuzzing, a check that the benchmark runs, the
# native suite under the sanitizers, then the release workflow: the native and Windows (under
# Wine) builds with all their tests, the multi-node virtual machines and the packages.
#   FUZZ_SECONDS  time for each fuzz target (default 30)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
scripts/static-analysis.sh
scripts/fuzz.sh
BENCH_RUNS=${BENCH_RUNS:-100} bench/launcher.sh
cmake --preset linux-asan
cmake --build --preset linux-asan
ctest --preset linux-asan
cmake --workflow --preset release

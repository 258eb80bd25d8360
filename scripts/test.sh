#!/bin/sh
# Everything CI checks: static analysis, bounded fuzzing, a check that the benchmark runs, the
# native suite under the sanitizers, then the release workflow: the native and Windows (under
# Wine) builds with all their tests, the multi-node virtual machines and the packages. Fails, too,
# if any of it left something in /tmp or the home folder.
#   FUZZ_SECONDS      time for each fuzz target (default 30)
#   NODESTART_VM_KVM  auto, off or stuck: how the virtual machines use KVM (tests/vm/)
set -eu
cd "$(dirname "$0")/.."
mkdir -p build
# What is there before; a program's own files deeper down are its business.
listing() { find /tmp -mindepth 1 -maxdepth 1; find "$HOME" -mindepth 1 -maxdepth 2; }
listing | sort >build/before-test.txt

scripts/install-deps.sh all
scripts/static-analysis.sh
scripts/fuzz.sh
BENCH_RUNS=${BENCH_RUNS:-100} bench/launcher.sh
cmake --preset linux-asan
cmake --build --preset linux-asan
ctest --preset linux-asan
scripts/release.sh

left=$(listing | sort | comm -13 build/before-test.txt -)
if [ -n "$left" ]; then
  echo "FAIL: the tests left these behind:" && printf '%s\n' "$left" | sed 's/^/  /'
  exit 1
fi
echo "nothing left in /tmp or $HOME"

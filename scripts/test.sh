#!/bin/sh
# Everything CI checks: static analysis, bounded fuzzing, a check that the benchmark runs, the
# native suite under the sanitizers, then the release: the native, Windows (under Wine) and arm64
# (under qemu-user) builds with all their tests, the multi-node virtual machines, the packages and
# their reproducibility. Fails, too, if the tests left something in /tmp or the home folder.
#   FUZZ_SECONDS      time for each fuzz target (default 30)
#   NODESTART_VM_KVM  auto, off or stuck: how the virtual machines use KVM (tests/vm/)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

# What is there before the tests (once the packages are in); a program's own files deeper down
# are its business.
mkdir -p build
listing() { find /tmp -mindepth 1 -maxdepth 1; find "$HOME" -mindepth 1 -maxdepth 2; }
listing | sort >build/before-test.txt

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

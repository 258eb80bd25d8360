#!/bin/sh
# Everything CI checks: static analysis, bounded fuzzing, a check that the benchmark runs, the
# native suite under the sanitizers, then the release: the native, Windows (under Wine) and arm64
# (under qemu-user) builds with all their tests, the multi-node virtual machines, the packages and
# their reproducibility. Fails, too, if the tests left something in their temporary or home
# folder, or under the suite's names in the outer ones.
#   FUZZ_SECONDS      time for each fuzz target (default 30)
#   NODESTART_VM_KVM  auto, off or stuck: how the virtual machines use KVM (tests/vm/)
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

# The tests get a temporary folder and a home folder of their own, removed at the end; what they
# leave there, or under the suite's own names in the outer ones, fails the run. What others make
# meanwhile in /tmp or the home folder is theirs.
outer_tmp=${TMPDIR:-/tmp}
outer_home=$HOME
own=$(mktemp -d "$outer_tmp/nodestart-test-run.XXXXXX")
trap 'rm -rf "$own"' EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir "$own/tmp" "$own/home"
export TMPDIR="$own/tmp" HOME="$own/home"

scripts/static-analysis.sh
scripts/fuzz.sh
BENCH_RUNS=${BENCH_RUNS:-100} bench/launcher.sh
cmake --preset linux-asan
cmake --build --preset linux-asan
ctest --preset linux-asan
scripts/release.sh

left=$({
  find "$own/tmp" "$own/home" -mindepth 1 -maxdepth 1
  find "$outer_tmp" "$outer_home" -mindepth 1 -maxdepth 1 -name 'nodestart*' -newer "$own" \
    ! -path "$own"
})
if [ -n "$left" ]; then
  echo "FAIL: the tests left these behind:" && printf '%s\n' "$left" | sed 's/^/  /'
  exit 1
fi
echo "nothing left in the tests' temporary and home folders"

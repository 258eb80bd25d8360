#!/bin/sh
# Builds and packs the release twice, from two clones of the sources' last commit at two paths, at
# two times, under two time zones, umasks and locales, without the tests and without keys, and
# compares every package, SBOM, SHA256SUMS and nodestart.exe byte for byte; diffoscope shows any
# difference.
#   reproducible_test.sh SOURCE_DIR WORK_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
"$here/../../scripts/install-deps.sh" all
source=$(cd "$1" && pwd)
work=$2/reproducible
rm -rf "$work" && mkdir -p "$work"
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# What differs between two files, by Debian's diffoscope, installed only when it is needed.
show_difference() {
  command -v diffoscope >/dev/null ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      diffoscope-minimal >/dev/null 2>&1 || true
  diffoscope --text - "$1" "$2" | head -n 80 || cmp -l "$1" "$2" | head -n 20 || true
}

[ -z "$(git -C "$source" status --porcelain)" ] ||
  echo "note: the sources have changes that are not committed; this checks the last commit"

# release FOLDER TZ UMASK LOCALE: a clone in FOLDER, built and packed as a release is
release() {
  (
    umask "$3"
    export TZ="$2" LC_ALL="$4"
    unset SOURCE_DATE_EPOCH NODESTART_OPENPGP_KEY NODESTART_AUTHENTICODE_CERT NODESTART_AUTHENTICODE_KEY
    git clone --quiet "$source" "$1"
    "$1/scripts/release.sh" --no-tests >"$work/$(basename "$1").log" 2>&1
  ) || { tail -n 30 "$work/$(basename "$1").log"; fail "the release in $1 did not build"; }
}

release "$work/first" UTC 022 C
sleep 1  # a second apart at least, so that a compile time would show
# No space in this path: CPack will not make an RPM under one.
release "$work/second-clone" Pacific/Kiritimati 077 C.UTF-8

differ=0
for file in packages/SHA256SUMS packages/nodestart_*.deb packages/nodestart-*.rpm packages/nodestart-*.zip \
  packages/*.spdx.json windows/nodestart.exe; do
  for first in "$work"/first/build/release/$file; do
    second="$work/second-clone/build/release/${first#"$work"/first/build/release/}"
    if cmp -s "$first" "$second"; then
      echo "same: ${first#"$work"/first/build/release/}"
    else
      echo "DIFFERENT: ${first#"$work"/first/build/release/}"
      show_difference "$first" "$second"
      differ=1
    fi
  done
done
[ "$differ" = 0 ] || fail "two builds of one commit differ"
cat "$work/first/build/release/packages/SHA256SUMS"

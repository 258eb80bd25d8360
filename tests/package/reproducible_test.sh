#!/bin/sh
# Builds and packs the release twice, from two clones of the sources' last commit at two paths, at
# two times, under two time zones, umasks and locales, without the tests and without keys, the
# second by verifying-a-release.md's steps, and compares every package, SBOM, SHA256SUMS and
# nodestart.exe byte for byte; diffoscope shows any difference. Then the versions a tree calls
# itself, untagged, tagged and changed.
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

# release NAME TZ UMASK LOCALE COMMAND...: COMMAND, building a release as NAME, its output in a log
release() {
  log=$work/$1.log
  (
    umask "$3"
    export TZ="$2" LC_ALL="$4"
    unset SOURCE_DATE_EPOCH NODESTART_OPENPGP_KEY NODESTART_AUTHENTICODE_CERT NODESTART_AUTHENTICODE_KEY
    shift 4
    "$@"
  ) >"$log" 2>&1 || { tail -n 30 "$log"; echo "FAIL: the release $1"; return 1; }
}

release first UTC 022 C sh -c 'git clone --quiet "$1" "$2" && "$2/scripts/release.sh" --no-tests' - \
  "$source" "$work/first" || exit 1
sleep 1  # a second apart at least, so that a compile time would show
# The second by the steps of verifying-a-release.md, as written, against the first's SHA256SUMS.
# No space in its path: CPack will not make an RPM under one.
sums=$work/first/build/release/packages/SHA256SUMS
awk '/<!-- checked as written/ { on = 1; next } on && /^    / { sub(/^    /, ""); print; next } on { exit }' \
  "$source/docs/verifying-a-release.md" |
  sed "s|/path/to/the/release/SHA256SUMS|$sums|; s|REPOSITORY|$source|" >"$work/steps.sh"
mkdir "$work/second-clone"
steps=0
release second-clone Pacific/Kiritimati 077 C.UTF-8 sh -ec 'cd "$1" && . "$2"' - "$work/second-clone" \
  "$work/steps.sh" || steps=1

differ=0
for file in packages/SHA256SUMS packages/nodestart_*.deb packages/nodestart-*.rpm packages/nodestart-*.zip \
  packages/*.spdx.json windows/nodestart.exe; do
  for first in "$work"/first/build/release/$file; do
    second="$work/second-clone/nodestart/build/release/${first#"$work"/first/build/release/}"
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
[ "$steps" = 0 ] || fail "verifying-a-release.md's steps, as written"
cat "$sums"

# The version a tree calls itself, configured as a release is: the commit's, the tag's alone on
# the tagged commit, and never the release's once a file is changed.
version=$(sed -n 's/.* nodestart-\(.*\)-win64\.zip$/\1/p' "$sums")
base=${version%%+*} commit=$(git -C "$work/first" rev-parse --short=7 HEAD)
for case in "true:$base+git.$commit" "git tag v$base:$base" "sed -i 1d README.md:$base+git.$commit.dirty"; do
  configured=$(cd "$work/first" && ${case%:*} && cmake --preset release >/dev/null &&
    sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' build/release/CPackConfig.cmake)
  [ "$configured" = "${case##*:}" ] || fail "after $case: version $configured"
done

#!/bin/sh
# Packs the Debian package, checks it with lintian, installs it into a scratch root and runs the
# installed tool and manual page there.
#   deb_test.sh BUILD_DIR VERSION
set -eu
"$(dirname "$0")/../../scripts/install-deps.sh" linux
build=$1
version=$2
scratch=$(mktemp -d "$build/package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$scratch/nodestart_${version}_amd64.deb
[ -f "$deb" ] || fail "no $deb"

# No errors; the warnings and notes that are left are printed.
mkdir "$scratch/tmp"  # lintian's temporary files stay with the test's
TMPDIR=$scratch/tmp lintian --info "$deb" >"$scratch/lintian.log" 2>&1 || true
cat "$scratch/lintian.log"
! grep -q '^E: ' "$scratch/lintian.log" || fail "lintian found errors"

dpkg-deb -x "$deb" "$scratch/root"
tool=$scratch/root/usr/bin/nodestart
out=$("$tool" 0 /bin/sh -c '"exit 3"') || fail "the installed tool failed: $out"
printf '%s\n' "$out" | grep -qx " NodeStart $version - starts a program with a preferred NUMA node" ||
  fail "no banner with the version: $out"
[ "$(printf '%s\n' "$out" | tail -n 1)" = " Child process exited with code 3" ] || fail "$out"

page=$scratch/root/usr/share/man/man1/nodestart.1.gz
MANWIDTH=80 man --warnings -l "$page" >"$scratch/page.txt" 2>"$scratch/man-warnings.txt"
[ ! -s "$scratch/man-warnings.txt" ] || { cat "$scratch/man-warnings.txt"; fail "man warns"; }
grep -q "nodestart $version" "$scratch/page.txt" || fail "the manual page does not show the version"
for file in copyright changelog.gz CHANGELOG.md.gz README.md; do
  [ -f "$scratch/root/usr/share/doc/nodestart/$file" ] || fail "no $file"
done
echo "package: $(basename "$deb") installs and runs"

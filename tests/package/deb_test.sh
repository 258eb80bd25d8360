#!/bin/sh
# Packs the Debian package, checks it with lintian, installs it into a scratch root and runs the
# installed tool and manual page there.
#   deb_test.sh BUILD_DIR VERSION ARCH [EMULATOR...]   ARCH as Debian names it; a package for
#                                                     another architecture runs under EMULATOR
set -eu
"$(dirname "$0")/../../scripts/install-deps.sh" linux
build=$1
version=$2
arch=$3
shift 3
scratch=$(mktemp -d "$build/package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$scratch/nodestart_${version}_$arch.deb
[ -f "$deb" ] || fail "no $deb"

# No errors; the warnings and notes that are left are printed.
mkdir "$scratch/tmp"  # lintian's temporary files stay with the test's
TMPDIR=$scratch/tmp lintian --info "$deb" >"$scratch/lintian.log" 2>&1 || true
cat "$scratch/lintian.log"
! grep -q '^E: ' "$scratch/lintian.log" || fail "lintian found errors"

dpkg-deb -x "$deb" "$scratch/root"
tool=$scratch/root/usr/bin/nodestart
status=0
out=$("$@" "$tool" 0 /bin/sh -c '"exit 3"') || status=$?
printf '%s\n' "$out" | grep -qx " NodeStart $version - starts a program with a preferred NUMA node" ||
  fail "no banner with the version: $out"
if [ $# -gt 0 ]; then
  # qemu-user has no memory policies (ENOSYS): the tool reports that and starts nothing.
  [ "$status" = 2 ] && [ "$(printf '%s\n' "$out" | tail -n 1)" = \
    " ERROR - CreateProcess: Function not implemented" ] || fail "status $status: $out"
else
  [ "$status" = 0 ] && [ "$(printf '%s\n' "$out" | tail -n 1)" = " Child process exited with code 3" ] ||
    fail "status $status: $out"
fi

# The shipped probe, started by the tool: every page on node 0 here; under qemu-user, which has no
# memory policies, the probe alone, which cannot measure there and says why.
probe=$scratch/root/usr/bin/nodestart-probe
if [ $# -gt 0 ]; then
  status=0
  out=$("$@" "$probe" 16 2>&1) || status=$?
  [ "$status" = 2 ] && [ "$out" = "nodestart-probe: move_pages: Function not implemented" ] ||
    fail "probe: status $status: $out"
else
  out=$("$tool" 0 "$probe" 16) || fail "the tool on the probe failed: $out"
  pages=$((16 * 1024 * 1024 / $(getconf PAGESIZE)))
  printf '%s\n' "$out" | grep -qx "node 0: $pages pages" &&
    printf '%s\n' "$out" | grep -qxE "memory policy: preferred(-many)? 0( with NUMA balancing)?" || fail "probe: $out"
fi

for page in nodestart nodestart-probe; do
  MANWIDTH=80 man --warnings -l "$scratch/root/usr/share/man/man1/$page.1.gz" >"$scratch/page.txt" \
    2>"$scratch/man-warnings.txt"
  [ ! -s "$scratch/man-warnings.txt" ] || { cat "$scratch/man-warnings.txt"; fail "man warns"; }
  grep -q "nodestart $version" "$scratch/page.txt" || fail "$page's manual page lacks the version"
done
for file in copyright changelog.gz CHANGELOG.md.gz README.md; do
  [ -f "$scratch/root/usr/share/doc/nodestart/$file" ] || fail "no $file"
done
echo "package: $(basename "$deb") installs and runs"

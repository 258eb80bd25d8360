#!/bin/sh
# Packs the Debian or the RPM package, checks it with lintian or rpmlint, installs it into a
# scratch root, checks what it declares it links statically and runs the installed tool and
# manual pages there.
#   linux_package_test.sh deb|rpm BUILD_DIR VERSION ARCH COMPILER [EMULATOR...]
#     ARCH as the format names it; a package for another architecture runs under EMULATOR
set -eu
"$(dirname "$0")/../../scripts/install-deps.sh" linux
rpmlint_settings=$(cd "$(dirname "$0")/../../packaging" && pwd)/rpmlint.toml
format=$1
build=$2
version=$3
arch=$4
compiler=$5
shift 5
. "$(dirname "$0")/scratch.sh"

generator=$(echo "$format" | tr a-z A-Z)
(cd "$build" && cpack -G "$generator" -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
case "$format" in
  deb) package=$scratch/nodestart_${version}_$arch.deb documents="copyright changelog.gz" ;;
  rpm) package=$scratch/nodestart-$version-1.$arch.rpm documents=copyright ;;
  *) fail "no package format $format" ;;
esac
[ -f "$package" ] || fail "no $package"

# No errors; the warnings and notes that are left are printed. Their files stay with the test's.
mkdir "$scratch/tmp"
if [ "$format" = deb ]; then
  TMPDIR=$scratch/tmp lintian --info "$package" >"$scratch/lint.log" 2>&1 || true
  dpkg-deb -x "$package" "$scratch/root"
else
  HOME=$scratch/tmp rpmlint -c "$rpmlint_settings" "$package" >"$scratch/lint.log" 2>&1 || true
  grep -q ' 0 errors' "$scratch/lint.log" || echo "E: rpmlint did not finish" >>"$scratch/lint.log"
  mkdir "$scratch/root"
  # Debian's rpm warns on every call that it is not Debian's package manager: shown on failure.
  rpm -i --root "$scratch/root" --dbpath /rpmdb --nodeps --noscripts --ignorearch "$package" \
    2>"$scratch/rpm.log" || { cat "$scratch/rpm.log"; fail "rpm could not install $package"; }
fi
cat "$scratch/lint.log"
! grep -Eq '^E: |: E: ' "$scratch/lint.log" || fail "the package check found errors"

# The C library and the C++ runtime it links statically: the Debian source package whose code
# each is (its package's own, or the one a cross library's Built-Using names) in the Debian
# package, the project in the RPM, at the version it is of, and both in the SBOM and the notices.
for library in glibc:libc.a:glibc 'libstdc++:libstdc++.a:gcc-[0-9]*'; do
  file=${library#*:} && file=${file%:*}
  owner=$(dpkg-query --search "$(realpath "$("$compiler" -print-file-name="$file")")" | cut -d: -f1)
  wanted=$(dpkg-query --show --showformat='${source:Package} (= ${source:Version}), ${Built-Using}' \
    "$owner" | tr , '\n' | sed 's/^ *//' | grep -m1 "^${library##*:} (")
  if [ "$format" = deb ]; then
    declared=$(dpkg-deb --field "$package" Static-Built-Using)
  else
    declared=$(rpm --dbpath "$scratch/rpmdb" -qp --provides "$package" 2>/dev/null)
    wanted="bundled(${library%%:*}) = $(echo "$wanted" | sed 's/.*(= //; s/)$//; s/^[0-9]*://; s/-[^-]*$//')"
  fi
  printf '%s\n' "$declared" | grep -qF "$wanted" || fail "$library: no \"$wanted\" in: $declared"
done
python3 "$(dirname "$0")/sbom_check.py" "$(echo "$scratch"/*.spdx.json)" "$scratch/root" "$version" \
  "$compiler" "$format" || fail "the SBOM does not hold"

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
  if [ -r /proc/sys/kernel/numa_balancing ]; then
    printf '%s\n' "$out" | grep -qxE "kernel NUMA balancing: (on|off|.*memory tiering)" || fail "probe: $out"
  fi
  # A program the tool started, seen from outside: its pages on its node, its threads, its policy.
  "$tool" 0 "$probe" --watch=3 16 >/dev/null &
  tool_pid=$!
  sleep 1
  child=$(tr -d " " <"/proc/$tool_pid/task/$tool_pid/children")
  out=$("$probe" --pid="$child") || fail "probe --pid: $out"
  printf '%s\n' "$out" | grep -qE "^node 0: [0-9.]+ MiB \(100\.0%\) in [0-9]+ pages of " &&
    printf '%s\n' "$out" | grep -qx "thread $child: ran on processor [0-9]*, node 0" &&
    printf '%s\n' "$out" | grep -qxE "memory policy: preferred(-many)? 0( with NUMA balancing)?" ||
    fail "probe --pid: $out"
  # One the user may not inspect, and one that has ended: each says so, status 2.
  status=0
  out=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$probe" --pid="$child" 2>&1) || status=$?
  [ "$status" = 2 ] && printf '%s\n' "$out" | grep -q ": not permitted to inspect process $child: " ||
    fail "probe --pid as another user: status $status: $out"
  wait "$tool_pid"
  status=0
  out=$("$probe" --pid="$child" 2>&1) || status=$?
  [ "$status" = 2 ] && printf '%s\n' "$out" | grep -qE ": no process $child is running( |$)" ||
    fail "probe --pid of an ended program: status $status: $out"
  # Completion where bash-completion looks for it: the nodes, the program and then its own
  # completion, the probe's options, and for --node-of each device --nodes names, no virtual one.
  completes() {  # completes WORDS...: what bash offers for the last word, one a line
    XDG_DATA_DIRS=$scratch/root/usr/share PATH=$scratch/root/usr/bin:$PATH bash -c '
      . /usr/share/bash-completion/bash_completion
      line=$(printf "%s " "$@") && line=${line% } && line=${line// = /=} && line=${line// : /:}
      COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE=$line COMP_POINT=${#line}
      __load_completion "$1" && $(complete -p "$1" | sed "s/.* -F \([^ ]*\) .*/\1/") &&
        printf "%s\n" "${COMPREPLY[@]}"' completes "$@" 2>/dev/null
  }
  nodes=$(ls /sys/devices/system/node | sed -n 's/^node//p' | sort)
  [ "$(completes nodestart "" | sort)" = "$nodes" ] || fail "completion of NODE: $(completes nodestart "")"
  [ "$(completes nodestart 0 nodestart-pr)" = nodestart-probe ] &&
    [ "$(completes nodestart 0 nodestart-probe --no)" = "$(printf -- '--nodes\n--node-of=')" ] ||
    fail "completion of the program and its options: $(completes nodestart 0 nodestart-probe --no)"
  offered=$(completes nodestart-probe --node-of = "")
  for device in $("$probe" --nodes | sed -n '2,$ s/.*(\(.*\))$/\1/p' | tr -d ,) lo; do
    [ "$(printf '%s\n' "$offered" | grep -cx "$device")" = "$([ "$device" = lo ] && echo 0 || echo 1)" ] ||
      fail "completion of --node-of= offers $(printf "%s\n" "$offered" | tr "\n" " "), wrongly for $device"
  done
  # A PCI address past its colons, which bash breaks words at: the rest of each that matches.
  first=$(ls /sys/bus/pci/devices | head -n 1)
  if [ -n "$first" ]; then
    typed=$(printf %.9s "$first")
    # shellcheck disable=SC2046 # a word between colons
    offered=$(completes nodestart-probe --node-of = $(echo "$typed" | sed 's/:/ : /g'))
    [ "$offered" = "$(ls /sys/bus/pci/devices | grep "^$typed" | cut -d : -f 3)" ] ||
      fail "completion of --node-of=$typed offers: $offered"
  fi

  status=0
  out=$("$probe" 1 2>&1 >/dev/full) || status=$?
  [ "$status" = 2 ] && [ "$out" = "nodestart-probe: write to standard output: No space left on device" ] ||
    fail "probe on a full output: status $status: $out"
fi

for page in nodestart nodestart-probe; do
  MANWIDTH=80 man --warnings -l "$scratch/root/usr/share/man/man1/$page.1.gz" >"$scratch/page.txt" \
    2>"$scratch/man-warnings.txt"
  [ ! -s "$scratch/man-warnings.txt" ] || { cat "$scratch/man-warnings.txt"; fail "man warns"; }
  grep -q "nodestart $version" "$scratch/page.txt" || fail "$page's manual page lacks the version"
done
for file in $documents CHANGELOG.md.gz README.md RELEASES.md CONTRIBUTING.md; do
  [ -f "$scratch/root/usr/share/doc/nodestart/$file" ] || fail "no $file"
done
links_hold "$scratch/root/usr/share/doc/nodestart"
echo "package: $(basename "$package") installs and runs"

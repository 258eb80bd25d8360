#!/bin/sh
# Packs the Windows zip, checks its SBOM, unpacks it and runs the tool from it under Wine.
#   zip_test.sh BUILD_DIR VERSION COMPILER WINE_COMMAND...
set -eu
"$(dirname "$0")/../../scripts/install-deps.sh" windows
build=$1
version=$2
compiler=$3
shift 3
. "$(dirname "$0")/scratch.sh"

(cd "$build" && cpack -G ZIP -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
zip=$scratch/nodestart-$version-win64.zip
[ -f "$zip" ] || fail "no $zip"
unzip -q "$zip" -d "$scratch/unpacked"
folder=$scratch/unpacked/nodestart-$version-win64
for file in nodestart.exe nodestart-probe.exe README.md RELEASES.md CONTRIBUTING.md LICENSE \
  THIRD-PARTY-NOTICES.txt CHANGELOG.md; do
  [ -f "$folder/$file" ] || fail "no $file in the zip"
done
links_hold "$folder"
python3 "$(dirname "$0")/sbom_check.py" "$scratch/nodestart-$version-win64.spdx.json" "$folder" \
  "$version" "$compiler" zip || fail "the SBOM does not hold"

# Wine has no preferred-node attribute: the tool reports that and starts nothing.
status=0
"$@" "$folder/nodestart.exe" 0 cmd.exe /c exit 3 >"$scratch/out.txt" || status=$?
out=$(tr -d '\r' <"$scratch/out.txt")
printf '%s\n' "$out" | grep -qx " NodeStart $version - starts a program with a preferred NUMA node" ||
  fail "no banner with the version: $out"
printf '%s\n' "$out" | grep -q "^ ERROR - UpdateProcThreadAttribute: " || fail "$out"
[ "$status" = 2 ] || fail "status $status"

# The probe runs and reports its pages; Wine's node for them is no proof of anything.
"$@" "$folder/nodestart-probe.exe" 16 >"$scratch/probe.txt" || fail "the probe failed"
out=$(tr -d '\r' <"$scratch/probe.txt")
printf '%s\n' "$out" | grep -qx "nodestart-probe: 16 MiB, 4096 pages of 4096 bytes" &&
  printf '%s\n' "$out" | grep -qx "node [0-9]*: 4096 pages" || fail "probe: $out"
# Its report file may have any name: the arguments are taken as UTF-16 (Wine reads the name's
# bytes as the locale's, which a release fixes to C).
LC_ALL=C.UTF-8 "$@" "$folder/nodestart-probe.exe" 1 "$scratch/中.txt" >/dev/null ||
  fail "probe with a file"
[ -s "$scratch/中.txt" ] || fail "the probe's report file is missing"
# Both programs carry their version and run as the invoking user.
for exe in nodestart nodestart-probe; do
  tr -d '\000' <"$folder/$exe.exe" | grep -q "OriginalFilename$exe.exe" || fail "$exe: no version"
  grep -q 'level="asInvoker"' "$folder/$exe.exe" || fail "$exe: no manifest"
done
echo "package: $(basename "$zip") unpacks and runs under Wine"

#!/bin/sh
# Installs the Debian packages a build needs, only those that are missing.
#   install-deps.sh build     the native build alone (scripts/example.sh)
#   install-deps.sh release   the packages alone, without their tests (release.sh --no-tests)
#   install-deps.sh linux     native build and its tests, the Debian package's among them
#   install-deps.sh windows   cross build and its tests under Wine
#   install-deps.sh checks    static analysis, fuzzing and the benchmark
#   install-deps.sh vm        the multi-node virtual machines of the placement tests
#   install-deps.sh arm64     the arm64 cross build, its tests under qemu-user, its machines
#   install-deps.sh node      Node.js and npm, for the check of the CI definition, if not at hand
#   install-deps.sh all       all of them
set -eu

build="cmake ninja-build g++ libgtest-dev"
release="cmake ninja-build g++ rpm g++-mingw-w64-x86-64-posix g++-aarch64-linux-gnu"
linux="$build googletest clang-format numactl lintian man-db
  openmpi-bin rpm rpmlint slurm-wlm munge gnupg gpgv sqv openssl make procps python3 bash-completion pci.ids"
windows="cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64 unzip
  osslsigncode"
checks="gcc clang libclang-rt-dev clang-tidy cppcheck hyperfine numactl git"
vm="qemu-system-x86 busybox-static cpio numactl time"
arm64="g++-aarch64-linux-gnu qemu-user-static binfmt-support qemu-system-arm cpio
  device-tree-compiler"
case "${1:-all}" in
  build) wanted=$build ;;
  release) wanted=$release ;;
  linux) wanted=$linux ;;
  windows) wanted=$windows ;;
  checks) wanted=$checks ;;
  vm) wanted=$vm ;;
  arm64) wanted=$arm64 ;;
  node) command -v node >/dev/null && command -v npm >/dev/null && exit 0; wanted="nodejs npm" ;;
  all) wanted="$linux $windows $checks $vm $arm64" ;;
  *) echo "usage: $0 [build|release|linux|windows|checks|vm|arm64|node|all]" >&2; exit 2 ;;
esac

missing=""
for package in $wanted; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing="$missing $package"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages:$missing (install them as root)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
# The native build alone takes nothing more than it needs: without them, g++ brings no fonts
# and image libraries (libc-devtools).
recommends=""
[ "${1:-all}" = build ] && recommends=--no-install-recommends
# shellcheck disable=SC2086
apt-get install -y -q $recommends $missing

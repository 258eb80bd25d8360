#!/bin/sh
# Builds, tests and packs a release of every platform into build/release/packages, with SBOMs
# and SHA256SUMS: unsigned, bit for bit the same wherever, whenever and by whomever it is run from
# one commit.
# The instant it stamps is SOURCE_DATE_EPOCH if set, else the last commit's time (see
# CMakeLists.txt); the umask, time zone and locale, which packing would show, are fixed here.
# With NODESTART_OPENPGP_KEY, NODESTART_AUTHENTICODE_CERT and NODESTART_AUTHENTICODE_KEY set, the
# packing signs the RPMs, SHA256SUMS and the .exe files (docs/releasing.md says how).
#   release.sh [--no-tests]   --no-tests: build and pack only, installing what that needs (as root)
set -eu
cd "$(dirname "$0")/.."
umask 022
export TZ=UTC LC_ALL=C
if [ "${1:-}" = --no-tests ]; then
  scripts/install-deps.sh release
  cmake --preset release -DBUILD_TESTING=OFF
  cmake --build --preset release
  cpack --preset release
else
  cmake --workflow --preset release
fi
rm -rf build/release/packages/_CPack_Packages  # CPack's staging, not part of the release

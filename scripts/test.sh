#!/bin/sh
# Builds both presets and runs all their tests: native, then Windows under Wine.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
for preset in linux windows; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done

#!/bin/sh
# Builds the native tool and runs it on an example; installs only what the build needs.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset linux >/dev/null
cmake --build --preset linux --target nodestart nodestart-probe
# The machine's nodes and the devices on each, to choose from; then the probe, started on node 0,
# shows where its memory landed and the policy it was given.
build/linux/nodestart-probe --nodes
echo
build/linux/nodestart 0 build/linux/nodestart-probe 64

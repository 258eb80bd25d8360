#!/bin/sh
# Builds the native tool and runs it on an example.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target nodestart nodestart-probe
# The probe, started on node 0, shows where its memory landed and the policy it was given.
build/linux/nodestart 0 build/linux/nodestart-probe 64

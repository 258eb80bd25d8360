#!/bin/sh
# Builds the native tool and runs it on an example.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target nodestart
# numactl, started on node 0, shows the memory policy it was given.
build/linux/nodestart 0 numactl --show

#!/bin/sh
# Builds the native tool and runs it on an example.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target nodestart
build/linux/nodestart 0 echo "hello from node 0"

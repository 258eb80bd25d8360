# Sourced by each package test once it has $build: a scratch folder there, removed at the end
# whatever happens, and the way to fail.
scratch=$(mktemp -d "$build/package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

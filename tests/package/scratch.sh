# Sourced by each package test once it has $build: a scratch folder there, removed at the end
# whatever happens, the way to fail, and a check of the shipped documents' links.
scratch=$(mktemp -d "$build/package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Every relative link in the Markdown documents under a folder names a file that is there.
links_hold() {
  find "$1" -name '*.md' | while IFS= read -r document; do
    grep -oE '\]\([^)#]*[)#]' "$document" | sed 's/^](//; s/[)#]$//' | while IFS= read -r target; do
      case "$target" in '' | *://* | mailto:*) continue ;; esac
      [ -e "$(dirname "$document")/$target" ] || fail "$document links $target, which is not shipped"
    done
  done
}

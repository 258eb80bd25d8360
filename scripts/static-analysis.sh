#!/bin/sh
# clang-tidy (checks in .clang-tidy) and cppcheck over the whole tree, both builds; any finding
# fails.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
scripts/install-deps.sh windows
scripts/install-deps.sh checks
cmake --preset linux >/dev/null
cmake --preset windows >/dev/null

# Sources are analysed with the build that compiles them.
windows_sources=$(git ls-files 'platform/windows/*.cpp' '*_windows.cpp')
linux_sources=$(git ls-files '*.cpp' | grep -v -e '_windows\.cpp$' -e '^platform/windows/' -e '^tests/fuzz/')

# clang-tidy reads the mingw build with clang's own Windows target and mingw's C++ headers (not
# gcc's intrinsics headers, which only gcc understands).
mingw_includes=$(echo | x86_64-w64-mingw32-g++-posix -E -x c++ - -v 2>&1 |
  sed -n '/<...> search starts here/,/End of search list/p' | grep '^ ' |
  grep -v -e '/include$' -e '/include-fixed$' -e '/lib/gcc/.*mingw32/include$' |
  sed 's/^ */--extra-arg=-isystem/')
mingw_includes="$mingw_includes --extra-arg=-isystem/usr/x86_64-w64-mingw32/include"

echo "clang-tidy: $(echo "$linux_sources" | wc -l) native and $(echo "$windows_sources" | wc -l) Windows sources"
# Its "N warnings generated." lines, all about system headers, are shown only when a check fails.
log=build/clang-tidy.log
if ! {
  echo "$linux_sources" | xargs -P 2 -n 4 clang-tidy -p build/linux --quiet &&
    # shellcheck disable=SC2086
    echo "$windows_sources" launch/launch_on_preferred_node.cpp invocation/entry.cpp | tr ' ' '\n' |
    xargs -P 2 -n 4 clang-tidy -p build/windows --quiet --extra-arg=--target=x86_64-w64-mingw32 \
      $mingw_includes
} >"$log" 2>&1; then
  cat "$log"
  exit 1
fi

echo "cppcheck:"
# Left out: FormatArg converts implicitly by design, and a raw loop reads better here than
# std::transform.
cppcheck_options="--quiet --error-exitcode=1 --std=c++17 --language=c++ --inline-suppr
  --library=googletest --enable=warning,style,performance,portability
  --suppress=missingIncludeSystem --suppress=unmatchedSuppression --suppress=useStlAlgorithm
  --suppress=noExplicitConstructor:text/format_wide.h -I . -I tests"
# shellcheck disable=SC2086
cppcheck $cppcheck_options -U_WIN32 invocation launch platform probe text tests
# shellcheck disable=SC2086
cppcheck $cppcheck_options -D_WIN32 $windows_sources
echo "static analysis: clean"

#!/usr/bin/env bash
# Static checks: clang-tidy with the committed .clang-tidy files, and cppcheck, over convert/,
# cli/, tests/ and ui/. Any finding fails. A finding that stays is silenced where it occurs
# (NOLINT, or a check left out in a .clang-tidy) with the reason beside it.
#
# clang-tidy reads the host build's compile commands for the portable code and the tests, and
# the windows64 build's for the Windows-only sources (ui/, *_win.cpp), parsed as MinGW code with
# that compiler's own C++ headers. tests/e2e/ is left to its own work in progress.
#
# Usage: tests/static/check.sh [HOST_BUILD [WINDOWS64_BUILD]]  (default build/native and
# build/windows64; each is configured when it has no compile_commands.json yet)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root" || exit 1
host=${1:-build/native}
windows=${2:-build/windows64}
tidy=clang-tidy-14
command -v "$tidy" >/dev/null || tidy=clang-tidy
jobs=2

[ -f "$host/compile_commands.json" ] || cmake --preset native -B "$host" >/dev/null || exit 1
[ -f "$windows/compile_commands.json" ] || cmake --preset windows64 -B "$windows" >/dev/null ||
  exit 1

# Source files of one build under the checked folders, one per line, each once.
sources_of() {
  python3 - "$1" "$root" <<'PY'
import json, os, sys
build, root = sys.argv[1], sys.argv[2]
seen = set()
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    path = os.path.relpath(os.path.join(entry["directory"], entry["file"]), root)
    top = path.split(os.sep)[0]
    if top in ("convert", "cli", "tests", "ui") and not path.startswith("tests/e2e/"):
        if path not in seen:
            seen.add(path)
            print(path)
PY
}

failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Host build: everything it compiles.
mapfile -t hostFiles < <(sources_of "$host")
printf '%s\n' "${hostFiles[@]}" |
  xargs -P "$jobs" -n 1 "$tidy" -p "$host" --quiet >"$log" 2>&1
hostRc=$?

# Windows build: only what the host build does not compile. The MinGW compiler's C++ headers
# are named, since clang would otherwise look for its own.
mingw=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[0]["command"].split()[0])' \
  "$windows/compile_commands.json")
mingwArgs=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++)
while read -r dir; do
  mingwArgs+=("--extra-arg-before=-isystem$dir")
done < <(echo | "$mingw" -E -x c++ - -v 2>&1 |
  sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's|^ \(/.*/c++.*\)$|\1|p')
mapfile -t winFiles < <(sources_of "$windows" | grep -vxF -f <(printf '%s\n' "${hostFiles[@]}"))
printf '%s\n' "${winFiles[@]}" |
  xargs -P "$jobs" -n 1 "$tidy" -p "$windows" --quiet "${mingwArgs[@]}" >>"$log" 2>&1
winRc=$?

findings=$(grep -cE '(warning|error): .*\[[a-z0-9.,-]+\]$' "$log")
if [ "$hostRc" -ne 0 ] || [ "$winRc" -ne 0 ] || [ "$findings" -ne 0 ]; then
  grep -E '(warning|error): |^Error' "$log"
  echo "clang-tidy: $findings findings in $((${#hostFiles[@]} + ${#winFiles[@]})) files"
  failed=$((failed + 1))
else
  echo "clang-tidy: ${#hostFiles[@]} host and ${#winFiles[@]} Windows files, no findings"
fi

# cppcheck reads the sources without a build, Windows code included (with its Win32 library
# description). useStlAlgorithm is left out: it proposes an algorithm for every plain loop.
cppcheckArgs=(--enable=warning,style,performance,portability --std=c++17 --language=c++
  --library=googletest --library=windows --inline-suppr --quiet --error-exitcode=1
  --suppress=missingIncludeSystem --suppress=useStlAlgorithm -I . -I tests)
# Headers are checked where they are included: alone, each member looks unused.
mapfile -t cppcheckFiles < <(find convert cli ui tests -path tests/e2e -prune -o \
  -type f -name '*.cpp' -print | sort)
if cppcheck "${cppcheckArgs[@]}" "${cppcheckFiles[@]}" >"$log" 2>&1; then
  echo "cppcheck: ${#cppcheckFiles[@]} files, no findings"
else
  cat "$log"
  echo "cppcheck: findings above"
  failed=$((failed + 1))
fi

echo "static: $((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Static checks with zero findings allowed: clang-tidy (the committed .clang-tidy) over the
# program's sources in convert/, sound/, cli/ and ui/, and cppcheck over those and tests/. A
# finding that stays is silenced where it occurs, with the reason beside it. Prints "lint: N
# passed, M failed".
# The tests are left to cppcheck, the compilers' warnings and the sanitizers: clang-tidy takes
# about ten seconds for each test file, most of the test command's time.
#
# clang-tidy reads the host build's compile commands for the portable code and the tests, and the
# windows64 build's for the Windows-only sources, parsed as MinGW code with that compiler's own
# C++ headers (clang would otherwise look for its own).
# Usage: scripts/lint.sh [HOST_BUILD [WINDOWS64_BUILD]]   (default build/native, build/windows64)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
host=${1:-build/native}
windows=${2:-build/windows64}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
for pair in "native $host" "windows64 $windows"; do
  set -- $pair
  [ -f "$2/compile_commands.json" ] || cmake --preset "$1" -B "$2" >/dev/null || exit 1
done

# The checked sources one build compiles, each once.
sources_of() {
  python3 -c 'import json, os, sys
seen = set()
for e in json.load(open(os.path.join(sys.argv[1], "compile_commands.json"))):
    p = os.path.relpath(os.path.join(e["directory"], e["file"]))
    # cli/main.cpp is left to cppcheck: the templates of the argument parser cost clang-tidy
    # half a minute for its fifty lines of its own.
    top = p.split(os.sep)[0] in ("convert", "sound", "cli", "ui") and p != "cli/main.cpp"
    if top and p.endswith(".cpp") and p not in seen:
        seen.add(p)
        print(p)' "$1"
}
mingw=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[0]["command"].split()[0])' \
  "$windows/compile_commands.json")
mingwArgs=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++)
while read -r dir; do mingwArgs+=("--extra-arg-before=-isystem$dir"); done < <(
  echo | "$mingw" -E -x c++ - -v 2>&1 | sed -n 's|^ \(/.*/c++.*\)$|\1|p')

log=$(mktemp) && copies=$(mktemp -d)
trap 'rm -rf "$log" "$copies"' EXIT
# Copies of the compile commands, which a build running beside the checks may write anew.
for b in host windows; do mkdir "$copies/$b" && cp "${!b}/compile_commands.json" "$copies/$b/"; done
mapfile -t hostFiles < <(sources_of "$host")
mapfile -t winFiles < <(sources_of "$windows" | grep -vxF -f <(printf '%s\n' "${hostFiles[@]}"))
{
  printf '%s\n' "${hostFiles[@]}" | xargs -P 2 -n 1 "$tidy" -p "$copies/host" --quiet
  printf '%s\n' "${winFiles[@]}" | xargs -P 2 -n 1 "$tidy" -p "$copies/windows" --quiet \
    "${mingwArgs[@]}"
} >"$log" 2>&1
tidyRc=$?
findings=$(grep -cE '(warning|error): ' "$log")
failed=0
if [ "$tidyRc" -ne 0 ] || [ "$findings" -ne 0 ]; then
  grep -E '(warning|error): |^Error' "$log"
  failed=1
fi
echo "clang-tidy: ${#hostFiles[@]} host and ${#winFiles[@]} Windows files, $findings findings"

# cppcheck reads the sources without a build, Windows code included. Headers are checked where
# they are included; useStlAlgorithm is left out: it proposes an algorithm for every plain loop.
if ! cppcheck --enable=warning,style,performance,portability --std=c++17 --language=c++ \
  --library=googletest --library=windows --inline-suppr --quiet --error-exitcode=1 \
  --suppress=missingIncludeSystem --suppress=useStlAlgorithm -I . -I tests \
  $(find convert sound cli ui tests -type f -name '*.cpp' | sort) >"$log" 2>&1; then
  cat "$log"
  failed=$((failed + 1))
fi
echo "lint: $((2 - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]

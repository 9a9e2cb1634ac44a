#!/usr/bin/env bash
# The one test command: installs what is missing, proves the run command, builds every preset
# and runs every test (host, both Windows builds under Wine with the window's end-to-end tests,
# sanitizers, fuzzing, static checks). Steps that mostly wait on Wine run beside the CPU-bound
# ones. Each step's output is in build/test-all/STEP.log. Ends with "test-all: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
bash scripts/setup-deps.sh || exit 1
logs=$root/build/test-all
rm -rf "$logs" && mkdir -p "$logs"

# Runs one named step into its log and records "rc passed failed": CTest's totals, or a closing
# "N passed, M failed" line, or else the step as one test.
step() {
  local name=$1 rc counts ok bad
  shift
  echo "--- $name: $*"
  "$@" >"$logs/$name.log" 2>&1
  rc=$?
  counts=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$logs/$name.log" | tail -n 1 |
             awk '{print $NF - $1, $1}')
  [ -n "$counts" ] || counts=$(grep -Eo '[0-9]+ passed, [0-9]+ failed' "$logs/$name.log" |
                                 tail -n 1 | awk '{print $1, $3}')
  read -r ok bad <<<"${counts:-0 0}"
  [ "$rc" -eq 0 ] || [ "$bad" -gt 0 ] || bad=1
  [ -n "$counts" ] || [ "$rc" -ne 0 ] || ok=1
  echo "$rc $ok $bad" >"$logs/$name.result"
  [ "$rc" -eq 0 ] || { echo "--- $name FAILED (exit $rc), last lines of $logs/$name.log:"; tail -n 40 "$logs/$name.log"; }
  return "$rc"
}
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2; }
# A fresh prefix takes several seconds to start: made once here, before CTest's time-outs run.
wine_tests() { (. cmake/wine-lib.sh && wine_prefix "build/$1/wineprefix") &&
  ctest --preset "$1" --no-tests=ignore; }
# The run command's last line is the screenshot it saved.
run_command() { local shot; shot=$(scripts/run.sh | tail -n 1) && [ -s "$shot" ] && echo "$shot"; }

# Wine's servers linger after their last program; none may outlive the run.
stop_wine() { for p in build/*/wineprefix; do WINEPREFIX=$root/$p wineserver -k 2>/dev/null; done; true; }
trap stop_wine EXIT
start=$(date +%s)
step run-command run_command
for preset in native windows windows64; do step "build-$preset" build "$preset"; done
step native-tests ctest --preset native &
step windows-tests wine_tests windows &
step windows64-tests wine_tests windows64 &
step native-asan bash -c 'cmake --preset native-asan >/dev/null &&
  cmake --build --preset native-asan -j2 && ctest --preset native-asan'
step fuzzing tests/fuzz/run.sh
step lint scripts/lint.sh build/native build/windows64
wait

read -r passed failed < <(cat "$logs"/*.result | awk '{p += $2; f += $3} END {print p + 0, f + 0}')
broken=$(grep -lv '^0 ' "$logs"/*.result | xargs -r -n 1 basename | sed 's/\.result$//' | xargs)
[ -z "$broken" ] || echo "test-all: failed steps: $broken"
echo "test-all: $(( $(date +%s) - start )) s"
echo "test-all: $passed passed, $failed failed"
[ -z "$broken" ]

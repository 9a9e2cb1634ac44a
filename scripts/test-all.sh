#!/usr/bin/env bash
# The one test command: installs what is missing, proves the run command, builds every preset and
# runs every test, the Wine suites beside the CPU-bound steps, builds tonequay-cli for macOS and
# the last commit's release twice. Logs: build/test-all/STEP.log.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
bash scripts/setup-deps.sh || exit 1
logs=$root/build/test-all && rm -rf "$logs" && mkdir -p "$logs"

# Runs one named step into its log and records "rc passed failed": CTest's totals, else a closing
# "N passed, M failed" line, else the step as one test; a failing step counts one failure at least.
step() {
  local name=$1 rc=0
  echo "--- $name: ${*:2}"
  "${@:2}" >"$logs/$name.log" 2>&1 || rc=$?
  awk -v rc=$rc '/tests failed out of/ {f = $(NF - 5); p = $NF - f; n = 1}
    !n && /[0-9]+ passed, [0-9]+ failed/ {for (i = 2; i <= NF; i++) if ($i ~ /^passed,?$/) {
      p = $(i - 1); f = $(i + 1)}; c = 1}
    END {if (!n && !c) p = !rc; if (rc && !f) f = 1; print rc, p + 0, f + 0}' \
    "$logs/$name.log" >"$logs/$name.result"
  [ "$rc" -eq 0 ] || { echo "--- $name FAILED ($rc):" && tail -n 40 "$logs/$name.log"; }
}
build() { cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2; }
asan() { build native-asan && ctest --preset native-asan; }
# A fresh prefix takes several seconds to start: made once here, before CTest's time-outs run.
wine_tests() { (. cmake/wine-lib.sh && wine_prefix build/$1/wineprefix) && ctest --preset "$1" -j2; }
# The run command's last line is the screenshot it saved; no Wine server may outlive the run.
run_command() { local shot; shot=$(scripts/run.sh | tail -n 1) && [ -s "$shot" ] && echo "$shot"; }
trap 'for p in build/*/wineprefix; do WINEPREFIX=$root/$p wineserver -k 2>/dev/null; done' EXIT

# The static checks need only the compile commands, and the run command mostly waits on Wine.
for preset in native windows64; do cmake --preset "$preset" >/dev/null; done
step lint scripts/lint.sh build/native build/windows64 &
step run-command run_command &
step build-native build native
wait
for preset in windows windows64; do
  step "build-$preset" build "$preset"
  step "$preset-tests" wine_tests "$preset" &
done
step native-tests ctest --preset native &
step native-asan asan
step fuzzing tests/fuzz/run.sh
step macos scripts/macos-build.sh
# The last commit built twice from fresh clones: both releases must be the same bytes.
step reproducible scripts/release.sh --verify
wait
read -r passed failed < <(cat "$logs"/*.result | awk '{p += $2; f += $3} END {print p + 0, f + 0}')
broken=$(grep -lv '^0 ' "$logs"/*.result | xargs -r -n 1 basename | sed 's/\.result$//' | xargs)
[ -z "$broken" ] || echo "test-all: failed steps: $broken"
echo "test-all: $SECONDS s"
echo "test-all: $passed passed, $failed failed"
[ -z "$broken" ]

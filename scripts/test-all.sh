#!/usr/bin/env bash
# The one test command: installs what is missing, builds every preset and runs every test
# (host, 32-bit Windows build, 64-bit Windows build under Wine with the window's end-to-end
# tests, sanitizers, fuzzing and static checks). Prints "N passed, M failed" at the end.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup-deps.sh || exit 1

passed=0
failed=0
steps_failed=()

# Runs one named step, counting CTest's own totals when it prints them.
step() {
  local name=$1
  shift
  echo "=== $name"
  local log
  log=$(mktemp)
  "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local totals
  totals=$(grep -Eo '[0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$totals" ]; then
    local bad total
    bad=$(echo "$totals" | awk '{print $1}')
    total=$(echo "$totals" | awk '{print $NF}')
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
  fi
  if [ "$rc" -ne 0 ]; then
    [ -n "$totals" ] || failed=$((failed + 1))
    steps_failed+=("$name")
  fi
  rm -f "$log"
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j2
}

cleanup() {
  for prefix in build/windows64/wineprefix build/windows/wineprefix; do
    [ -d "$prefix" ] && WINEPREFIX=$root/$prefix /usr/lib/wine/wineserver64 -k 2>/dev/null
  done
  return 0
}
trap cleanup EXIT

step "native build" build native
step "native tests" ctest --preset native
step "windows (32-bit) build" build windows
step "windows (32-bit) tests" ctest --preset windows --no-tests=ignore
step "windows64 build" build windows64
# A fresh prefix takes several seconds to start; make it once before the tests time out on it.
step "wine prefix" bash -c ". cmake/wine-lib.sh && wine_prefix build/windows64/wineprefix"
step "windows64 tests" ctest --preset windows64
step "native-asan build" build native-asan
step "native-asan tests" ctest --preset native-asan
step "fuzzing" tests/fuzz/run.sh
step "static checks" tests/static/check.sh build/native build/windows64

echo
if [ ${#steps_failed[@]} -ne 0 ]; then
  echo "test-all: failed steps: ${steps_failed[*]}"
fi
echo "test-all: $passed passed, $failed failed"
[ ${#steps_failed[@]} -eq 0 ]

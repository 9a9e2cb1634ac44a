#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset: clang, libFuzzer, AddressSanitizer and UBSan) and
# runs each one from its seed corpus in the repository. A broken property or a sanitizer report
# fails the run and keeps the input that caused it.
#
# Usage: tests/fuzz/run.sh               a fixed number of runs per target, about a minute in all
#        tests/fuzz/run.sh --minutes N   N minutes per target with a random seed (before a release)
# TONEQUAY_FUZZ_BUILD names the build folder (default build/fuzz).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${TONEQUAY_FUZZ_BUILD:-$root/build/fuzz}
minutes=0
if [ "${1:-}" = "--minutes" ] && [ -n "${2:-}" ]; then
  minutes=$2
elif [ $# -ne 0 ]; then
  sed -n '2,8p' "$0" >&2
  exit 2
fi

# Runs per target for the fixed run, and the largest input each takes.
targets=(fuzz_header fuzz_names fuzz_batch)
declare -A runs=([fuzz_header]=80000 [fuzz_names]=500000 [fuzz_batch]=60000)
declare -A maxLen=([fuzz_header]=64 [fuzz_names]=300 [fuzz_batch]=2048)

cd "$root" || exit 1
cmake --preset fuzz -B "$build" >/dev/null || exit 1
cmake --build "$build" --target "${targets[@]}" -j2 || exit 1

passed=0
failed=0
for target in "${targets[@]}"; do
  work=$build/fuzz-work/$target
  rm -rf "$work"
  mkdir -p "$work/corpus"
  cp "$root/tests/fuzz/corpus/$target/"* "$work/corpus/"
  if [ "$minutes" = 0 ]; then
    limits=(-runs="${runs[$target]}" -seed=1)
  else
    limits=(-max_total_time=$((minutes * 60)) -seed=0)
  fi
  # New inputs go to the work copy of the corpus; the repository's seeds stay as they are.
  "$build/tests/fuzz/$target" "${limits[@]}" -max_len="${maxLen[$target]}" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1
  rc=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$work/log" | tail -n 1)
  corpus=$(find "$work/corpus" -type f | wc -l)
  if [ "$rc" -eq 0 ]; then
    echo "$target: ${executions:-?} executions in ${seconds:-?} s, corpus grew to $corpus inputs, nothing found"
    passed=$((passed + 1))
  else
    echo "$target: FAILED after ${executions:-?} executions (exit $rc); log $work/log"
    grep -E "property broken|ERROR: |SUMMARY: " "$work/log" | head -n 5
    find "$work" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
      -o -name 'oom-*' \) -printf '  kept input: %p\n'
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

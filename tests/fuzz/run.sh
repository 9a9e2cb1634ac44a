#!/usr/bin/env bash
# Builds the fuzz target (clang, libFuzzer, AddressSanitizer, UBSan) and runs it from a copy of its
# seeds: 25000 runs, or N minutes with a random seed before a release (tests/fuzz/run.sh --minutes N).
# A broken property or a sanitizer report fails the run and keeps its input in build/fuzz/fuzz-work.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${TONEQUAY_FUZZ_BUILD:-$root/build/fuzz} && work=$build/fuzz-work
limits=(-runs=25000 -seed=1)
[ "${1:-}" = "--minutes" ] && limits=(-max_total_time=$((${2:?minutes} * 60)) -seed=0)
cd "$root" && cmake --preset fuzz -B "$build" >/dev/null && cmake --build "$build" --target fuzz_batch -j2 || exit 1
rm -rf "$work" && mkdir -p "$work/corpus" && cp tests/fuzz/corpus/fuzz_batch/* "$work/corpus/"
"$build/tests/fuzz_batch" "${limits[@]}" -max_len=1024 -timeout=10 -artifact_prefix="$work/" "$work/corpus" \
  >"$work/log" 2>&1 && { grep -E '^Done [0-9]+ runs' "$work/log"; exit 0; }
grep -E "property broken|ERROR: |SUMMARY: " "$work/log" | head -n 5
echo "fuzz_batch failed; log $work/log, input kept in $work/" && exit 1

#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer, UBSan) and runs each from a copy of
# its seeds: a fixed number of runs, or N minutes each with a random seed before a release
# (tests/fuzz/run.sh --minutes N). A broken property or a sanitizer report fails the run and
# keeps its input in build/fuzz/fuzz-work/TARGET.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${TONEQUAY_FUZZ_BUILD:-$root/build/fuzz}
# About five seconds each (the whole fit ten); the chunk walk's bound of 256 chunks takes 2 KiB of
# headers to reach.
declare -A runs=([fuzz_batch]=25000 [fuzz_wave]=1000000 [fuzz_decoder]=200000 [fuzz_fit]=3000)
declare -A maxLen=([fuzz_batch]=1024 [fuzz_wave]=4096 [fuzz_decoder]=4096 [fuzz_fit]=4096)
cd "$root" && cmake --preset fuzz -B "$build" >/dev/null &&
  cmake --build "$build" --target "${!runs[@]}" -j2 || exit 1
for target in fuzz_batch fuzz_wave fuzz_decoder fuzz_fit; do
  limits=(-runs="${runs[$target]}" -seed=1)
  [ "${1:-}" = "--minutes" ] && limits=(-max_total_time=$((${2:?minutes} * 60)) -seed=0)
  work=$build/fuzz-work/$target
  rm -rf "$work" && mkdir -p "$work/corpus" && cp "tests/fuzz/corpus/$target"/* "$work/corpus/"
  # The fit streams whatever the files say: a hostile one must not take more memory than this.
  "$build/tests/$target" "${limits[@]}" -max_len="${maxLen[$target]}" -timeout=10 \
    -rss_limit_mb=1024 -malloc_limit_mb=64 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/log" 2>&1 &&
    { echo "$target: $(grep -E '^Done [0-9]+ runs' "$work/log")" && continue; }
  grep -E "property broken|ERROR: |SUMMARY: " "$work/log" | head -n 5
  echo "$target failed; log $work/log, input kept in $work/" && exit 1
done

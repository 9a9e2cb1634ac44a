#!/usr/bin/env bash
# Builds the release packages from this tree into dist/: the Windows zip from the release-windows
# preset and the Debian package of tonequay-cli from release-native, each without its tests.
# Lints the package and prints each file with its SHA-256 (also kept in dist/SHA256SUMS).
# The packages depend on the sources alone: every time stamp is SOURCE_DATE_EPOCH (the last
# commit's time unless set), no build path reaches a binary, and scripts/pack.sh fixes what
# CPack leaves to the machine. --verify proves it: it builds the last commit in two fresh
# clones in folders of different lengths and compares both dist/ folders byte for byte.
# Usage: scripts/release.sh [--verify]   (as root on a fresh Debian 12 it installs what is missing)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

verify() {
  local commit start left right file failed=0 passed=0
  commit=$(git rev-parse HEAD)
  # The second folder is on another file system where there is one (tmpfs): what a package
  # takes from the file system (listing order, block counts) then differs between the two.
  work=$(mktemp -d) && other=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d -p "$work") &&
    trap 'rm -rf "$work" "$other"' EXIT
  left=$work/a right=$other/second/build-of-the-same-commit
  for dir in "$left" "$right"; do
    # --shared reaches the commit even when no branch holds it; the clone is fresh all the same.
    git clone -q --shared --no-checkout "$root" "$dir"
    git -C "$dir" checkout -q --detach "$commit"
    start=$SECONDS
    env -u SOURCE_DATE_EPOCH bash "$dir/scripts/release.sh" >"$dir.log" 2>&1 ||
      { tail -n 40 "$dir.log"; echo "release: 0 passed, 1 failed"; return 1; }
    echo "release.sh in $dir: $((SECONDS - start)) s"
  done
  echo "commit $commit"
  cat "$left/dist/SHA256SUMS"
  while read -r file; do
    if [ ! -f "$right/dist/$file" ]; then
      echo "FAIL $file: only in the first build" && failed=$((failed + 1))
    elif ! cmp "$left/dist/$file" "$right/dist/$file"; then  # names the first differing byte
      echo "FAIL $file differs" && failed=$((failed + 1))
    else
      echo "PASS $file is the same" && passed=$((passed + 1))
    fi
  done < <(cd "$left/dist" && find . -type f | sed 's|^\./||' | sort)
  while read -r file; do
    [ -f "$left/dist/$file" ] ||
      { echo "FAIL $file: only in the second build" && failed=$((failed + 1)); }
  done < <(cd "$right/dist" && find . -type f | sed 's|^\./||' | sort)
  echo "release: $passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
}
if [ "${1:-}" = --verify ]; then
  verify
  exit
fi

bash scripts/setup-deps.sh >&2
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
export TZ=UTC LC_ALL=C.UTF-8
umask 022

rm -rf dist
mkdir dist
for preset in release-native release-windows; do
  echo "release.sh: building the $preset preset" >&2
  # A fresh folder: the changelog's date and every object and link come from this commit.
  rm -rf "build/$preset"
  cmake --preset "$preset" >/dev/null
  log=build/$preset/release-build.log
  cmake --build --preset "$preset" -j2 >"$log" 2>&1 || { tail -n 40 "$log" >&2; exit 1; }
  scripts/pack.sh "build/$preset" dist >/dev/null
done
lintian --fail-on error dist/*.deb >&2
cd dist
sha256sum -- *.zip *.deb | tee SHA256SUMS

#!/usr/bin/env bash
# Builds the release packages from this tree into dist/: the Windows zip from the windows
# preset and the Debian package of tonequay-cli from the native preset. Lints the package and
# prints each file with its SHA-256 (also kept in dist/SHA256SUMS).
# Usage: scripts/release.sh   (root on a fresh Debian 12 installs what is missing first)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup-deps.sh >&2

rm -rf dist
mkdir dist
for preset in native windows; do
  echo "release.sh: building the $preset preset" >&2
  cmake --preset "$preset" >/dev/null
  log=build/$preset/release-build.log
  cmake --build --preset "$preset" -j2 >"$log" 2>&1 || { tail -n 40 "$log" >&2; exit 1; }
  cpack --config "build/$preset/CPackConfig.cmake" -B dist >/dev/null
done
rm -rf dist/_CPack_Packages
lintian --fail-on error dist/*.deb >&2
cd dist
sha256sum -- *.zip *.deb | tee SHA256SUMS

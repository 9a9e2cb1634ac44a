#!/usr/bin/env bash
# Installs every Debian package the builds, the programs and the tests need; does nothing when
# all are present. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ make python3 time
  libgtest-dev googletest libcli11-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 fonts-wine
  xvfb x11-utils x11-apps imagemagick
  clang-14 libclang-rt-14-dev clang-tidy cppcheck clang-format
  dpkg-dev file lintian devscripts man-db zip unzip locales libxfixes3
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
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

#!/usr/bin/env bash
# Builds tonequay.exe and runs it under Wine in a prefix of the build's own. With a display the
# window opens there and the script returns when the user closes it; without one the program
# runs on a private Xvfb, a screenshot of its window is saved, and the program is closed.
# Usage: scripts/run.sh            (root on a fresh Debian 12 installs what is missing first)
#   TONEQUAY_BUILD_DIR=dir  build and run in another folder than the preset's
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

title="Tonequay v1.0 by Varnel"
build_timeout=1800
window_timeout=60

say() { printf 'run.sh: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }
have() { command -v "$1" >/dev/null 2>&1; }
is_root() { [ "$(id -u)" -eq 0 ]; }

install_missing() {
  local missing=()
  for tool in cmake ninja i686-w64-mingw32-g++-posix Xvfb xwd xwininfo convert; do
    have "$tool" || missing+=("$tool")
  done
  [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
  [ ${#missing[@]} -eq 0 ] && return
  is_root || die "missing ${missing[*]}; run scripts/setup-deps.sh as root first"
  [ -f scripts/setup-deps.sh ] || die "missing ${missing[*]} and scripts/setup-deps.sh"
  say "installing ${missing[*]} and the rest of the build's tools"
  bash scripts/setup-deps.sh
}

apt_install() {
  is_root || die "missing package $*; install it as root"
  say "installing $*"
  DEBIAN_FRONTEND=noninteractive timeout 900 apt-get install -y --no-install-recommends "$@" \
    >/dev/null
}

# Some kernels cannot start 32-bit programs at all; Wine then runs only 64-bit Windows programs,
# so the same sources are built for x86-64 instead. 32-bit code that starts only through a
# registered emulator is too slow and too fragile for Wine, and counts as not running.
can_run_32bit() {
  timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1 &&
    ! grep -qs 'qemu-i386' /proc/sys/fs/binfmt_misc/* 2>/dev/null
}

choose_build() {
  [ -z "${TONEQUAY_BUILD_DIR:-}" ] || TONEQUAY_BUILD_DIR=$(realpath -m "$TONEQUAY_BUILD_DIR")
  if can_run_32bit; then
    build=${TONEQUAY_BUILD_DIR:-$root/build/windows}
    configure=(cmake --preset windows -B "$build")
    return
  fi
  say "this machine cannot run 32-bit programs; building and running the 64-bit program"
  have x86_64-w64-mingw32-g++-posix || apt_install g++-mingw-w64-x86-64-posix
  build=${TONEQUAY_BUILD_DIR:-$root/build/windows64}
  if cmake --list-presets 2>/dev/null | grep -q '"windows64"'; then
    configure=(cmake --preset windows64 -B "$build")
  else
    configure=(cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
               "-DCMAKE_TOOLCHAIN_FILE=$root/cmake/mingw-x86_64.cmake")
  fi
}

build_program() {
  say "building in ${build#"$root"/}"
  # The logs sit beside the build folder, whose parent a fresh clone does not have yet.
  mkdir -p "$(dirname "$build")"
  timeout "$build_timeout" "${configure[@]}" >"$build.configure.log" 2>&1 ||
    die "configure failed, see $build.configure.log"
  timeout "$build_timeout" cmake --build "$build" -j2 --target tonequay >"$build.build.log" 2>&1 ||
    die "build failed, see $build.build.log"
  exe="$build/ui/tonequay.exe"
  [ -f "$exe" ] || die "no $exe after the build"
}

# The loaders, the server and the prefix are the ones the tests use.
prepare_prefix() {
  # shellcheck source=cmake/wine-env.sh
  . "$root/cmake/wine-env.sh"
  export WINEPREFIX="$build/wineprefix"
  timeout 300 "$root/cmake/wine-prefix.sh" "$WINEPREFIX" || die "could not create $WINEPREFIX"
  # Wine draws the caption buttons with Marlett and maps the program's stock font to its own
  # MS Sans Serif; without its font files both fall back to something else.
  [ -f /usr/share/wine/fonts/marlett.ttf ] || apt_install fonts-wine
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then
    cp /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$fonts/" 2>/dev/null || true
  fi
}

display_works() { [ -n "${DISPLAY:-}" ] && timeout 10 xwininfo -root >/dev/null 2>&1; }

run_on_display() {
  say "starting $exe on $DISPLAY; close its window to return"
  status=0
  "$root/cmake/wine-run.sh" "$WINEPREFIX" "$exe" || status=$?
  timeout 30 "$WINESERVER" -w || true
  exit "$status"
}

free_display() {
  for n in $(seq 99 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { echo "$n"; return; }
  done
  die "no free X display number between :99 and :140"
}

window_geometry() {
  # "W H X Y" of the program's window, or nothing while it is not mapped.
  timeout 10 xwininfo -name "$title" 2>/dev/null | awk '
    /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
    /Width:/ {w = $NF} /Height:/ {h = $NF} /Map State: IsViewable/ {v = 1}
    END {if (v) print w, h, x, y}' || true
}

cleanup() {
  if [ -n "${app_pid:-}" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "${WINESERVER:-}" ]; then timeout 30 "$WINESERVER" -k 2>/dev/null || true; fi
  if [ -n "${xvfb_pid:-}" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}

run_headless() {
  local n
  n=$(free_display)
  export DISPLAY=":$n"
  trap cleanup EXIT
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$build/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 1 50); do display_works && break; sleep 0.2; done
  display_works || die "Xvfb did not start on $DISPLAY, see $build/xvfb.log"

  say "starting $exe on Xvfb $DISPLAY"
  "$root/cmake/wine-run.sh" "$WINEPREFIX" "$exe" >"$build/tonequay-run.log" 2>&1 &
  app_pid=$!
  local geometry="" waited=0
  while [ -z "$geometry" ]; do
    kill -0 "$app_pid" 2>/dev/null || die "the program ended early, see $build/tonequay-run.log"
    [ "$waited" -lt $((window_timeout * 2)) ] || die "no window after ${window_timeout}s"
    sleep 0.5
    waited=$((waited + 1))
    geometry=$(window_geometry)
  done
  sleep 2  # the posted font messages and the first paint

  local shot="$build/tonequay-screenshot.png" w h x y
  read -r w h x y <<<"$geometry"
  timeout 30 xwd -root -silent | timeout 30 convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage \
    "png:$shot" || die "screenshot failed"

  # A close request, as the window's close box sends it; the program quits with 0 when idle.
  timeout 30 "$TONEQUAY_WINE64" taskkill /im tonequay.exe >/dev/null 2>&1 || true
  local status=""
  for _ in $(seq 1 40); do
    kill -0 "$app_pid" 2>/dev/null || { status=0; wait "$app_pid" || status=$?; break; }
    sleep 0.25
  done
  [ -n "$status" ] || say "the program did not close by itself; stopping Wine"
  app_pid=""
  cleanup
  xvfb_pid=""
  trap - EXIT
  [ "${status:-1}" -eq 0 ] || die "the program exited with ${status:-no status}"
  say "window ${w}x${h} at ${x},${y}; program closed with exit code 0"
  echo "$shot"
}

install_missing
choose_build
build_program
prepare_prefix
if display_works; then run_on_display; else run_headless; fi

#!/usr/bin/env bash
# Builds tonequay.exe and runs it under Wine in a prefix of the build's own. With a display the
# window opens there and the script returns when the user closes it; without one the program
# runs on a private Xvfb, a screenshot of its window is saved, and the program is closed.
# Usage: scripts/run.sh            (root on a fresh Debian 12 installs what is missing first)
#   TONEQUAY_BUILD_DIR=dir  build and run in another folder than the preset's
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
# shellcheck source=cmake/wine-lib.sh
. "$root/cmake/wine-lib.sh"

title="Tonequay v1.0 by Varnel"
say() { printf 'run.sh: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }
have() { command -v "$1" >/dev/null 2>&1; }

install_missing() {
  local missing=() tool
  for tool in cmake ninja i686-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++-win32 Xvfb xwd xwininfo convert; do
    have "$tool" || missing+=("$tool")
  done
  [ -x /usr/lib/wine/wine64 ] && [ -f /usr/share/wine/fonts/marlett.ttf ] || missing+=(wine64)
  [ ${#missing[@]} -eq 0 ] && return
  [ "$(id -u)" -eq 0 ] || die "missing ${missing[*]}; run scripts/setup-deps.sh as root first"
  say "installing ${missing[*]} and the rest of the build's tools"
  bash scripts/setup-deps.sh
}

# Where the kernel runs no 32-bit code, Wine runs only 64-bit programs: the same sources are
# built for x86-64 instead.
choose_build() {
  local preset=windows
  if ! wine_can_run32; then
    say "this machine cannot run 32-bit programs; building and running the 64-bit program"
    preset=windows64
  fi
  build=$(realpath -m "${TONEQUAY_BUILD_DIR:-$root/build/$preset}")
  configure=(cmake --preset "$preset" -B "$build")
}

build_program() {
  say "building in ${build#"$root"/}"
  # The logs sit beside the build folder, whose parent a fresh clone does not have yet.
  mkdir -p "$(dirname "$build")"
  timeout 1800 "${configure[@]}" >"$build.configure.log" 2>&1 ||
    die "configure failed, see $build.configure.log"
  timeout 1800 cmake --build "$build" -j2 --target tonequay >"$build.build.log" 2>&1 ||
    die "build failed, see $build.build.log"
  exe="$build/ui/tonequay.exe"
  [ -f "$exe" ] || die "no $exe after the build"
  loader=$(wine_loader "$exe") || die "Wine cannot run $exe here"
  timeout 300 bash -c ". '$root/cmake/wine-lib.sh' && wine_prefix '$build/wineprefix'" ||
    die "could not create $build/wineprefix"
  export WINEPREFIX=$build/wineprefix
}

display_works() { [ -n "${DISPLAY:-}" ] && timeout 10 xwininfo -root >/dev/null 2>&1; }

# "W H X Y" of the program's window once it is mapped, or nothing.
window_geometry() {
  timeout 10 xwininfo -name "$title" 2>/dev/null | awk '
    /Absolute upper-left X/ {x = $NF} /Absolute upper-left Y/ {y = $NF}
    /Width:/ {w = $NF} /Height:/ {h = $NF} /Map State: IsViewable/ {v = 1}
    END {if (v) print w, h, x, y}' || true
}

run_headless() {
  trap 'wine_stop' EXIT
  wine_xvfb "$build/xvfb.log" || die "Xvfb did not start, see $build/xvfb.log"
  say "starting $exe on Xvfb $DISPLAY"
  "$loader" "$exe" >"$build/tonequay-run.log" 2>&1 &
  local app=$! geometry="" shot="$build/tonequay-screenshot.png" last="" now="" w h x y status=""
  # Every wait is for what it needs, bounded: the window mapped, then two equal pictures of it
  # (the children take their font from posted messages, and then repaint). Beside the lint and a
  # build Wine starts slowly (its window once took over a minute): the window and the close are
  # awaited by the clock, minutes long, not by a count of polls that each take longer there.
  local deadline=$((SECONDS + 300))
  until [ -n "$geometry" ] || [ "$SECONDS" -ge "$deadline" ]; do
    kill -0 "$app" 2>/dev/null || die "the program ended early, see $build/tonequay-run.log"
    geometry=$(window_geometry)
    [ -n "$geometry" ] || sleep 0.1
  done
  [ -n "$geometry" ] || die "no window after 300 s"
  read -r w h x y <<<"$geometry"
  for _ in $(seq 50); do
    timeout 30 xwd -root -silent | timeout 30 convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage \
      "png:$shot" || die "screenshot failed"
    now=$(md5sum <"$shot")
    [ "$now" = "$last" ] && break
    last=$now
    sleep 0.2
  done
  # A close request, as the window's close box sends it; the program quits with 0 when idle.
  timeout 30 "$loader" taskkill /im tonequay.exe >/dev/null 2>&1 || true
  deadline=$((SECONDS + 120))
  while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$app" 2>/dev/null || { status=0; wait "$app" || status=$?; break; }
    sleep 0.1
  done
  [ -n "$status" ] || say "the program did not close by itself; stopping Wine"
  wine_stop
  trap - EXIT
  [ "${status:-1}" -eq 0 ] || die "the program exited with ${status:-no status}"
  say "window ${w}x${h} at ${x},${y}; program closed with exit code 0"
  echo "$shot"
}

install_missing
choose_build
build_program
if display_works; then
  say "starting $exe on $DISPLAY; close its window to return"
  status=0
  "$loader" "$exe" || status=$?
  timeout 30 "$WINESERVER" -w || true
  exit "$status"
fi
run_headless

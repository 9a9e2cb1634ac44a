# shellcheck shell=bash
# Sourced by every script that runs a Windows build under Wine or on a private X screen: which
# loader runs a program, a prefix made once, an Xvfb on a free display, and stopping it all.
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit server serves both word sizes.
export WINESERVER=/usr/lib/wine/wineserver64

# Some kernels run no 32-bit code; one that starts it only through an emulator counts as not
# running it either, being too slow and too fragile for Wine.
wine_can_run32() {
  timeout 30 /usr/lib/wine/wine --version >/dev/null 2>&1 &&
    ! grep -qs qemu-i386 /proc/sys/fs/binfmt_misc/* 2>/dev/null
}

# Prints the loader for a PE file: its header's machine field tells 32-bit (0x14c) from 64-bit.
wine_loader() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  case $(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ') in
    8664) echo /usr/lib/wine/wine64 ;;
    014c) wine_can_run32 && echo /usr/lib/wine/wine ;;
    *) return 1 ;;
  esac
}

# Makes PREFIX once and exports it: no crash dialog (a crash must fail a test, not hang it), no
# window manager (Wine draws the captions itself and shows windows at once), and Wine's own
# fonts (Marlett for caption buttons, the sans serif behind the stock fonts).
wine_prefix() {
  export WINEPREFIX
  WINEPREFIX=$(realpath -m "$1")
  [ -f "$WINEPREFIX/.tonequay-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$WINEPREFIX/.tonequay-ready" ] && exit 0
    local wine=/usr/lib/wine/wine64
    timeout 300 "$wine" wineboot -i >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
    timeout 60 "$WINESERVER" -w
    cp /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$WINEPREFIX/drive_c/windows/Fonts/"
    touch "$WINEPREFIX/.tonequay-ready"
  ) 9>"$WINEPREFIX.lock" >/dev/null 2>&1
}

# Starts a 1024 x 768 Xvfb on the first free display from :90, waits until it accepts clients
# and exports DISPLAY; XVFB_PID names it for wine_stop.
wine_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$1" 2>&1 &
    XVFB_PID=$!
    # Xvfb creates its socket once it accepts clients; it ends at once when the display is taken.
    for _ in $(seq 400); do
      if ! kill -0 "$XVFB_PID" 2>/dev/null || [ -S "/tmp/.X11-unix/X$n" ]; then break; fi
      sleep 0.05
    done
    if [ -S "/tmp/.X11-unix/X$n" ] && kill -0 "$XVFB_PID" 2>/dev/null; then
      export DISPLAY=:$n
      return 0
    fi
    wait "$XVFB_PID" 2>/dev/null
  done
  XVFB_PID=
  return 1
}

# Ends every Wine process of WINEPREFIX, then the Xvfb wine_xvfb started, if any.
wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && timeout 20 "$WINESERVER" -k >/dev/null 2>&1
  [ -n "${WINEPREFIX:-}" ] && timeout 20 "$WINESERVER" -w >/dev/null 2>&1
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  fi
  return 0
}

#!/usr/bin/env bash
# Creates a Wine prefix once: no Mono or Gecko prompts, no crash dialog (a crash must fail a
# test, not hang it), and no window manager (Wine draws captions and hides windows at once).
# Usage: wine-prefix.sh PREFIX
set -euo pipefail
prefix=$1
[ -f "$prefix/.tonequay-ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.tonequay-ready" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w
touch "$prefix/.tonequay-ready"

#!/usr/bin/env bash
# Creates a Wine prefix once: no Mono or Gecko prompts, no crash dialog (a crash must fail a
# test, not hang it), and no window manager (Wine draws captions and hides windows at once).
# Usage: wine-prefix.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")
[ -f "$prefix/.tonequay-ready" ] && exit 0
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.tonequay-ready" ] && exit 0
export WINEPREFIX=$prefix
"$TONEQUAY_WINE64" wineboot -i >/dev/null 2>&1 || true
"$TONEQUAY_WINE64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
  >/dev/null 2>&1
"$TONEQUAY_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
  >/dev/null 2>&1
"$WINESERVER" -w
# Wine draws caption buttons with Marlett and maps the stock fonts onto its own; without those
# font files in the prefix both fall back to something else.
"$(dirname "${BASH_SOURCE[0]}")/wine-fonts.sh" "$prefix"
touch "$prefix/.tonequay-ready"

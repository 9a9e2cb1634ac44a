#!/usr/bin/env bash
# Copies Wine's own fonts (Marlett for caption buttons, the sans serif behind the stock fonts)
# into a prefix, so windows draw as they would on Windows.
# Usage: wine-fonts.sh PREFIX
set -euo pipefail
fonts="$1/drive_c/windows/Fonts"
[ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ] || exit 0
cp /usr/share/wine/fonts/*.ttf /usr/share/wine/fonts/*.fon "$fonts/" 2>/dev/null || true

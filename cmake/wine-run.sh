#!/usr/bin/env bash
# Runs a Windows executable under Wine in the given prefix, creating the prefix on first use.
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
prefix=$(realpath -m "$1")
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$here/wine-prefix.sh" "$prefix"
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
export WINEPREFIX=$prefix
# The PE header's machine field tells a 32-bit program (0x14c) from a 64-bit one (0x8664).
peOffset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
machine=$(od -An -tx2 -j$((peOffset + 4)) -N2 "$1" | tr -d ' ')
if [ "$machine" = "8664" ]; then
  exec "$TONEQUAY_WINE64" "$@"
fi
if [ -z "$TONEQUAY_WINE32" ]; then
  echo "wine-run.sh: this machine cannot run 32-bit code; use the windows64 build" >&2
  exit 127
fi
exec "$TONEQUAY_WINE32" "$@"

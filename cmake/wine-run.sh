#!/usr/bin/env bash
# Runs a Windows executable under Wine in the given prefix, making the prefix on first use.
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
# shellcheck source=wine-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-lib.sh"
wine_prefix "$1"
shift
loader=$(wine_loader "$1") || { echo "wine-run.sh: Wine cannot run $1 on this machine" >&2; exit 127; }
exec "$loader" "$@"

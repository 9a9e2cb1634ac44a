#!/usr/bin/env bash
# Runs a Windows executable under Wine in the given prefix, making the prefix on first use.
# Usage: wine-run.sh PREFIX PROGRAM.exe [ARGS...]
#   TONEQUAY_WINE_RERUNS=N  how many times a run Wine's loader aborted is made again (2; 0: never)
set -euo pipefail
# shellcheck source=wine-lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine-lib.sh"
wine_prefix "$1"
shift
loader=$(wine_loader "$1") || { echo "wine-run.sh: Wine cannot run $1 on this machine" >&2; exit 127; }
reruns=${TONEQUAY_WINE_RERUNS:-2}
[ "$reruns" -gt 0 ] || exec "$loader" "$@"
# On a loaded machine Wine's loader sometimes aborts as the program exits, with code 127 and
# "Inconsistency detected by ld.so: dl-fini.c" on stderr: the program has finished, its exit code
# is lost. Only then is the run made again. The programs run here unaided (the unit tests, the
# release check's conversion into a folder of its own) make what they use themselves and write
# their outputs anew, so a rerun gives the program's own verdict, a failure as a failure. The
# Python suites set 0: they rerun from the folder as it was before (tests/support/tq.py).
log=$(mktemp) && trap 'rm -f "$log"' EXIT
exec 3>&1
while :; do
  # stderr goes on through tee and into the log; stdout goes straight to its place.
  "$loader" "$@" 2>&1 >&3 3>&- | tee "$log" >&2 && status=0 || status=${PIPESTATUS[0]}
  [ "$status" -eq 127 ] && grep -q 'Inconsistency detected by ld.so: dl-fini.c' "$log" &&
    [ $((reruns--)) -gt 0 ] || exit "$status"
  echo "wine-run.sh: Wine's loader aborted as $1 exited; running it again" >&2
done

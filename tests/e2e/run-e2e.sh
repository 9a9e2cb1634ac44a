#!/usr/bin/env bash
# Usage: run-e2e.sh WORKDIR PROGRAM.exe DRIVER.exe: runs the e2e driver under Wine on a private
# Xvfb, in a prefix of its own, and stops both; exits with its code, or 77 where Wine cannot.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../cmake/wine-lib.sh
. "$here/../../cmake/wine-lib.sh"
work=$(realpath -m "$1") program=$(realpath "$2") driver=$(realpath "$3")
loader=$(wine_loader "$program") || { echo "SKIP: Wine cannot run $program on this machine"; exit 77; }
mkdir -p "$work"
exec 9>"$work/.lock"  # the prefix and its drive serve one run at a time
flock -w 600 9 || exit 2
trap wine_stop EXIT
trap 'exit 130' INT TERM HUP
wine_prefix "$work/wineprefix" || exit 2
wine_stop  # a server left from an earlier run would not see the drives set up below
wine_xvfb "$work/xvfb.log" || { echo "run-e2e: no free X display"; exit 2; }

# The fixtures get a drive of their own; the X11 helper answers in the work folder it sits in.
cp "$here/x11.py" "$work/"
ln -sfn "$work/fixtures" "$WINEPREFIX/dosdevices/t:"

# On a loaded machine Wine's loader may abort as the driver exits (127, its ld.so line on stderr),
# losing the driver's verdict: only then is it run again, from fresh fixtures, so its own verdict
# stands. stderr is read from a file, whole when the driver ends; a pipe waits on all of Wine.
for attempt in 1 2 3; do
  rm -rf "$work/fixtures" "$work/url.log" && mkdir -p "$work/fixtures"
  timeout -k 10 "${TONEQUAY_E2E_LIMIT:-200}" "$loader" "$driver" "Z:${program//\//\\}" 'T:\' \
    "Z:${work//\//\\}\\" 2>"$work/stderr.log"
  status=$?
  grep -v 'volume label and serial' "$work/stderr.log" >&2
  [ "$status" -eq 127 ] && [ "$attempt" -lt 3 ] &&
    grep -q 'Inconsistency detected by ld.so: dl-fini.c' "$work/stderr.log" || exit "$status"
  echo "run-e2e: Wine's loader aborted as the driver exited; running it again"
done

#!/usr/bin/env bash
# Runs the e2e driver against tonequay.exe under Wine on a private 1024 x 768 Xvfb, in a prefix
# of its own, and always stops what it started: Wine and Xvfb.
# Usage: run-e2e.sh WORKDIR PROGRAM.exe DRIVER.exe [SCENARIO...]
# Exits with the driver's code, or 77 (a skip for CTest) where Wine cannot run the program.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=../../cmake/wine-lib.sh
. "$here/../../cmake/wine-lib.sh"
work=$(realpath -m "$1") program=$(realpath "$2") driver=$(realpath "$3")
shift 3
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
rm -rf "$work/fixtures" "$work/url.log"
mkdir -p "$work/fixtures"
cp "$here/x11.py" "$work/"
ln -sfn "$work/fixtures" "$WINEPREFIX/dosdevices/t:"

winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
echo "run-e2e: $program on $DISPLAY; the screenshot goes to $work/tonequay-window.png"
timeout -k 10 "${TONEQUAY_E2E_LIMIT:-400}" "$loader" "$driver" "$(winpath "$program")" 'T:\' \
  "$(winpath "$work")\\" "$@" 2> >(grep -v --line-buffered 'volume label and serial' >&2)
status=$?
[ $status -eq 124 ] && echo "FAIL run-e2e: the driver did not finish in time"
exit $status

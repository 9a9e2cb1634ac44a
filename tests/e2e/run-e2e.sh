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
rm -rf "$work/fixtures" "$work/url.log" && mkdir -p "$work/fixtures"
cp "$here/x11.py" "$work/"
ln -sfn "$work/fixtures" "$WINEPREFIX/dosdevices/t:"

timeout -k 10 "${TONEQUAY_E2E_LIMIT:-200}" "$loader" "$driver" "Z:${program//\//\\}" 'T:\' \
  "Z:${work//\//\\}\\" 2> >(grep -v --line-buffered 'volume label and serial' >&2)

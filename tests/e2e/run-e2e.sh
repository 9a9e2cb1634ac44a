#!/usr/bin/env bash
# Runs the e2e driver against tonequay.exe under Wine on a 1024 x 768 Xvfb screen, in a Wine
# prefix of its own, and always stops what it started: wineserver, Xvfb, the tiny volumes.
# Usage: run-e2e.sh WORKDIR PROGRAM.exe DRIVER.exe RECORDER.exe [SCENARIO...]
# Exits with the driver's code, or 77 (a skip for CTest) when Wine here cannot run the program.
set -uo pipefail

if [ $# -lt 4 ]; then
  echo "usage: $0 WORKDIR PROGRAM.exe DRIVER.exe RECORDER.exe [SCENARIO...]" >&2
  exit 2
fi
work=$1
program=$(realpath "$2") driver=$(realpath "$3") recorder=$(realpath "$4")
shift 4
limit=${TONEQUAY_E2E_LIMIT:-100}  # seconds for one run of the driver, a guard against hangs
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/wineprefix
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# The PE header names the machine, and so the Wine loader the program needs.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  case $(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ') in
    014c) echo i386 ;;
    8664) echo x86-64 ;;
    *) echo unknown ;;
  esac
}
machine=$(pe_machine "$program")
case $machine in
  i386) loader=/usr/lib/wine/wine ;;
  x86-64) loader=/usr/lib/wine/wine64 ;;
  *) echo "run-e2e: $program is not a Windows executable" >&2; exit 2 ;;
esac
if ! "$loader" --version >/dev/null 2>&1; then
  echo "SKIP: Wine cannot run $machine programs on this machine ($loader does not start;" \
       "a kernel without 32-bit support runs no 32-bit code). Configure a build with" \
       "-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake to run these scenarios here."
  exit 77
fi
for tool in Xvfb timeout flock; do
  command -v "$tool" >/dev/null || { echo "run-e2e: $tool is missing" >&2; exit 2; }
done

# One run at a time per work folder: the prefix, the drives and the volumes are shared.
exec 9>"$work/.lock"
flock -w 300 9 || { echo "run-e2e: $work is busy" >&2; exit 2; }

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The 64-bit server serves both word sizes; the wrapper script in PATH picks the same one.
[ -x /usr/lib/wine/wineserver64 ] && export WINESERVER=/usr/lib/wine/wineserver64
wineserver() { "${WINESERVER:-$(command -v wineserver)}" "$@"; }
xvfb_pid=
mounted=()
cleanup() {
  timeout 20 wineserver -k >/dev/null 2>&1
  timeout 20 wineserver -w >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  for dir in "${mounted[@]}"; do
    umount "$dir" 2>/dev/null || umount -l "$dir" 2>/dev/null
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# A screen of our own: the first free display among :92 to :95.
display=
for n in 92 93 94 95; do
  lock=/tmp/.X$n-lock
  if [ -f "$lock" ] && kill -0 "$(tr -d ' ' <"$lock")" 2>/dev/null; then continue; fi
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -S "/tmp/.X11-unix/X$n" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$xvfb_pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$n" ]; then
    display=:$n
    break
  fi
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
done
[ -n "$display" ] || { echo "run-e2e: no free display among :92 to :95" >&2; exit 2; }
export DISPLAY=$display

# A wineserver left from an earlier run would not see the drives set up below.
timeout 20 wineserver -k >/dev/null 2>&1
timeout 20 wineserver -w >/dev/null 2>&1

if [ ! -f "$prefix/.tonequay-e2e-ready" ]; then
  rm -rf "$prefix"
  "$loader" wineboot -i >"$work/wineboot.log" 2>&1
  timeout 60 wineserver -w
  "$here/../../cmake/wine-fonts.sh" "$prefix"
  touch "$prefix/.tonequay-e2e-ready"
fi

# The fixtures get a drive of their own; the tiny volumes back the full-disk cases.
rm -rf "$work/fixtures" "$work/shots" "$work/url.log"
mkdir -p "$work/fixtures" "$work/shots"
ln -sfn "$work/fixtures" "$prefix/dosdevices/t:"
tiny_args=()
mount_tiny() {  # DIR DRIVE OPTION
  mkdir -p "$1"
  if mountpoint -q "$1"; then umount "$1" 2>/dev/null || return 1; fi
  if mount -t tmpfs -o size=256k,mode=0777 tonequay-e2e "$1" 2>/dev/null; then
    mounted+=("$1")
    ln -sfn "$1" "$prefix/dosdevices/$2:"
    tiny_args+=("$3" "${2^^}:\\")
  else
    echo "note: cannot mount a tmpfs at $1 (not root?): the scenarios that need it are skipped"
  fi
}
mount_tiny "$work/small" s --small-disk
mount_tiny "$work/fill" u --fill-disk

winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# The web-site label opens its address through the shell: a recorder stands in for the
# browser and appends each address to the log.
recorder_command="\"$(winpath "$recorder")\" \"$(winpath "$work/url.log")\" \"%1\""
reg_escaped=${recorder_command//\\/\\\\}
reg_escaped=${reg_escaped//\"/\\\"}
{
  echo 'REGEDIT4'
  echo
  echo '[HKEY_CURRENT_USER\Software\Wine\X11 Driver]'
  echo '"Managed"="N"'
  echo '[HKEY_CURRENT_USER\Software\Wine\WineDbg]'
  echo '"ShowCrashDialog"=dword:00000000'
  for scheme in http https; do
    echo "[-HKEY_CLASSES_ROOT\\$scheme\\shell\\open\\ddeexec]"
    echo "[HKEY_CLASSES_ROOT\\$scheme]"
    echo '"URL Protocol"=""'
    echo "[HKEY_CLASSES_ROOT\\$scheme\\shell\\open\\command]"
    echo "@=\"$reg_escaped\""
  done
} >"$work/e2e.reg"
timeout 60 "$loader" regedit /S "$(winpath "$work/e2e.reg")" >/dev/null 2>&1

echo "run-e2e: $machine program on $display, prefix $prefix"
timeout -k 10 "$limit" "$loader" "$driver" \
  --program "$(winpath "$program")" \
  --fixtures 'T:\' \
  "${tiny_args[@]}" \
  --url-log "$(winpath "$work/url.log")" \
  --shots "$(winpath "$work/shots")" \
  --limit $((limit - 5)) \
  "$@" 2> >(grep -v --line-buffered 'FS volume label and serial are not available' >&2)
status=$?
[ $status -eq 124 ] && echo "FAIL run-e2e: the driver did not finish within $limit seconds"
exit $status

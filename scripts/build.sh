#!/usr/bin/env bash
# Configures and builds:
#   build/i686        the product (win32 thread model) and its benchmark;
#   build/i686-tests  the same sources as 32-bit test programs (posix thread
#                     model, which GoogleTest needs), where the machine can
#                     run them;
#   build/x86_64      the 64-bit test programs and every test of the suite.
# With the argument "product": only the product, in build/i686.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

configure() {  # folder, toolchain, extra options
  local dir="$root/build/$1" toolchain=$2; shift 2
  # CMake keeps the compilers it found: a changed toolchain needs a new folder.
  local stamp
  stamp=$(sha256sum "$root/cmake/$toolchain.cmake" | cut -d' ' -f1)
  if [ "$(cat "$dir/.toolchain" 2>/dev/null)" != "$stamp" ]; then
    rm -rf "$dir"
    mkdir -p "$dir"
    echo "$stamp" > "$dir/.toolchain"
  fi
  cmake -S "$root" -B "$dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" "$@" >/dev/null
}

configure i686 mingw-i686
if [ "${1:-}" = product ]; then
  cmake --build "$root/build/i686" --target TavokRemover
  exit 0
fi
cmake --build "$root/build/i686"

i686_tests=""
if "$root/scripts/runs-32bit.sh"; then
  configure i686-tests mingw-i686-posix -DTAVOK_TESTS=ON -DTAVOK_TEST_PROGRAMS_ONLY=ON
  cmake --build "$root/build/i686-tests" --target engine_tests ui_tests product_tests
  i686_tests="$root/build/i686-tests"
fi

configure x86_64 mingw-x86_64 -DTAVOK_TESTS=ON \
  -DTAVOK_PRODUCT_EXE="$root/build/i686/ui/TavokRemover.exe" \
  -DTAVOK_I686_TESTS="$i686_tests"
cmake --build "$root/build/x86_64"

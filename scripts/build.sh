#!/usr/bin/env bash
# Configures and builds:
#   build/i686        the product (win32 thread model) and its benchmark;
#   build/i686-tests  the same sources as 32-bit test programs (posix thread
#                     model, which GoogleTest needs), built on every machine
#                     so that a fault of 32-bit code breaks every build, and
#                     run only where the machine runs 32-bit code;
#   build/x86_64-product  the program as an x86_64 build with the same own
#                     runtime, which the tests start on every machine;
#   build/x86_64      the 64-bit test programs and every test of the suite.
# With the argument "product": only the product, in build/i686.
# With the argument "run": only the program that scripts/run.sh starts: the
# product where the machine runs 32-bit code, else the x86_64 program.
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

runs32=0
"$root/scripts/runs-32bit.sh" && runs32=1

# The x86_64 tree is configured the same way whatever is built in it, so
# that the full build after a "run" build only adds to it.
configure_x86_64() {
  local i686_tests=""
  [ $runs32 -eq 1 ] && i686_tests="$root/build/i686-tests"
  configure x86_64 mingw-x86_64 -DTAVOK_TESTS=ON \
    -DTAVOK_PRODUCT_EXE="$root/build/i686/ui/TavokRemover.exe" \
    -DTAVOK_PRODUCT_EXE_X86_64="$root/build/x86_64-product/ui/TavokRemover.exe" \
    -DTAVOK_I686_TESTS="$i686_tests"
}

build_x86_64_product() {
  configure x86_64-product mingw-x86_64-product
  cmake --build "$root/build/x86_64-product" --target TavokRemover
}

case "${1:-}" in
product)
  configure i686 mingw-i686
  cmake --build "$root/build/i686" --target TavokRemover
  exit 0
  ;;
run)
  if [ $runs32 -eq 1 ]; then
    configure i686 mingw-i686
    cmake --build "$root/build/i686" --target TavokRemover
  else
    build_x86_64_product
  fi
  exit 0
  ;;
esac

configure i686 mingw-i686
cmake --build "$root/build/i686"

configure i686-tests mingw-i686-posix -DTAVOK_TESTS=ON -DTAVOK_TEST_PROGRAMS_ONLY=ON
cmake --build "$root/build/i686-tests" --target engine_tests ui_tests product_tests runtime_tests

build_x86_64_product

configure_x86_64
cmake --build "$root/build/x86_64"

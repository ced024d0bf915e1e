#!/usr/bin/env bash
# Configures and builds both targets: build/i686 (the product) and
# build/x86_64 (with the tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

configure() {  # arch, extra options
  local arch=$1; shift
  local dir="$root/build/$arch"
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" "$@" >/dev/null
  fi
  cmake --build "$dir"
}

configure i686
configure x86_64 -DTAVOK_TESTS=ON -DTAVOK_PRODUCT_EXE="$root/build/i686/ui/TavokRemover.exe"

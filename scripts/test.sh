#!/usr/bin/env bash
# Installs what is missing, builds and runs every test in the build tree's
# own Wine prefix: the 64-bit test programs, and, where the machine runs
# 32-bit code, the 32-bit ones and the shipped i686 program (tests *_i686).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
"$root/scripts/runs-32bit.sh" ||
  echo "Skipping the *_i686 tests: this machine cannot execute 32-bit code, or 32-bit Wine is not installed."

# Two prefixes, each with its own server and desktop: the engine tests run
# in the second while the window and program tests run in the first.
prefix="$root/build/x86_64/wineprefix"
engine_prefix="$root/build/x86_64/wineprefix-engine"
"$root/scripts/wine-prefix.sh" start "$prefix"
"$root/scripts/wine-prefix.sh" start "$engine_prefix" --copy-of "$prefix"
"$root/scripts/wine-prefix.sh" start "$prefix"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"; "$root/scripts/wine-prefix.sh" stop "$engine_prefix"' EXIT

ctest --test-dir "$root/build/x86_64" --output-on-failure -j2 "$@"

#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test under
# 64-bit Wine in the build tree's own prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

prefix="$root/build/x86_64/wineprefix"
"$root/scripts/wine-prefix.sh" start "$prefix"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT

ctest --test-dir "$root/build/x86_64" --output-on-failure -j2 "$@"

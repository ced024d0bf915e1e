#!/usr/bin/env bash
# Builds everything and prints the benchmark's figures, beside OpenSSL's MD5
# on the same machine, for the i686 build (where the machine runs 32-bit
# code) and the x86_64 build. Optional argument: number of files in the tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

openssl_md5=$(openssl speed -seconds 2 -bytes 1048576 md5 2>/dev/null |
  awk '$1 == "md5" { v = $NF; sub(/k$/, "", v); printf "%.0f", v / 1000 }')

prefix="$root/build/bench-prefix"
"$root/scripts/wine-prefix.sh" start "$prefix"
trap '"$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all
if "$root/scripts/runs-32bit.sh"; then
  echo "== i686 build (the shipped toolchain), 32-bit Wine in a WoW64 prefix"
  /usr/lib/wine/wine "$root/build/i686/bench/ScanBench.exe" "$openssl_md5" "${1:-50000}"
else
  echo "== i686 build: not measured, this machine cannot execute 32-bit code"
fi
echo "== x86_64 build, 64-bit Wine"
/usr/lib/wine/wine64 "$root/build/x86_64/bench/ScanBench.exe" "$openssl_md5" "${1:-50000}"

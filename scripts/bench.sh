#!/usr/bin/env bash
# Builds everything and prints the benchmark's figures, beside OpenSSL's MD5
# on the same machine, for the i686 build (where the machine runs 32-bit
# code) and the x86_64 build. Optional argument: number of files in the tree.
# As root (ntfs-3g's FUSE mount), the same tree on an NTFS image at N: too:
# its file table read beside the walk.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

openssl_md5=$(openssl speed -seconds 2 -bytes 1048576 md5 2>/dev/null |
  awk '$1 == "md5" { v = $NF; sub(/k$/, "", v); printf "%.0f", v / 1000 }')

prefix="$root/build/bench-prefix"
"$root/scripts/wine-prefix.sh" start "$prefix"
ntfs_fixture=(python3 "$root/tests/host/ntfs_fixture.py")
ntfs_folder="$root/build/bench-ntfs"
ntfs=()
trap '[ ${#ntfs[@]} -eq 0 ] || "${ntfs_fixture[@]}" remove "$ntfs_folder" n "$prefix"
  "$root/scripts/wine-prefix.sh" stop "$prefix"' EXIT
if [ "$(id -u)" -eq 0 ]; then
  ntfs=(N)
  "${ntfs_fixture[@]}" bench "$ntfs_folder" n "${1:-50000}" "$prefix"
else
  echo "The NTFS image needs ntfs-3g's FUSE mount, which needs root: its file table is not measured."
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all
if "$root/scripts/runs-32bit.sh"; then
  echo "== i686 build (the shipped toolchain), 32-bit Wine in a WoW64 prefix"
  /usr/lib/wine/wine "$root/build/i686/bench/ScanBench.exe" "$openssl_md5" "${1:-50000}" "${ntfs[@]}"
else
  echo "== i686 build: not measured, this machine cannot execute 32-bit code"
fi
echo "== x86_64 build, 64-bit Wine"
/usr/lib/wine/wine64 "$root/build/x86_64/bench/ScanBench.exe" "$openssl_md5" "${1:-50000}" "${ntfs[@]}"

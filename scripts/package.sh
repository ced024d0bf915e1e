#!/usr/bin/env bash
# Builds the product and its release package,
# build/release/TavokRemover-<version>-win32.zip (program, read-me,
# SHA256SUMS), and prints the SHA-256 of the program and of the package.
# The version is the one of the version block in res/TavokRemover.rc; the
# entries are dated SOURCE_DATE_EPOCH, or else the commit's date, so that
# the same commit always gives the same package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" product
"$root/scripts/build.sh" product

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}
if [ -z "$epoch" ]; then
  echo "No commit to take the date from: set SOURCE_DATE_EPOCH." >&2
  exit 1
fi
if [ -n "$(git -C "$root" status --porcelain 2>/dev/null || true)" ]; then
  echo "Note: the source tree has uncommitted changes; the package is not that of its commit." >&2
fi

/usr/bin/python3 "$root/scripts/package.py" "$root/res/TavokRemover.rc" \
  "$root/build/i686/ui/TavokRemover.exe" "$root/release/README.txt" \
  "$root/build/release" "$epoch"

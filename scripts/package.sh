#!/usr/bin/env bash
# Builds the product and its release package,
# build/release/TavokRemover-<version>-win32.zip (program, read-me in
# English and simplified Chinese and its Chinese half in GBK, licence,
# SHA256SUMS and SHA1SUMS), and prints the SHA-256 of the program and of
# the package. The version is the one of the version block in
# res/TavokRemover.rc; the read-me names the commit (SOURCE_COMMIT, or else
# the checked-out one, marked "-dirty" when the tree has changes); the
# entries are dated SOURCE_DATE_EPOCH, or else the commit's date, so that
# the same commit always gives the same package.
#
# With a code-signing certificate named in the environment (TAVOK_SIGN_PKCS12,
# or TAVOK_SIGN_CERT and TAVOK_SIGN_KEY; see scripts/package.py), the
# packaged program is signed, SHA-1 and nested SHA-256, and the hashes of
# the program without its signature are printed too: they are what anyone
# gets by building the commit. Without one it stays unsigned and says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh" product
"$root/scripts/build.sh" product

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}
if [ -z "$epoch" ]; then
  echo "No commit to take the date from: set SOURCE_DATE_EPOCH." >&2
  exit 1
fi
commit=${SOURCE_COMMIT:-$(git -C "$root" rev-parse HEAD 2>/dev/null || true)}
if [ -z "$commit" ]; then
  echo "No commit to name: set SOURCE_COMMIT." >&2
  exit 1
fi
if [ -z "${SOURCE_COMMIT:-}" ] && [ -n "$(git -C "$root" status --porcelain 2>/dev/null || true)" ]; then
  echo "Note: the source tree has uncommitted changes; the package is not that of its commit." >&2
  commit="$commit-dirty"
fi

/usr/bin/python3 "$root/scripts/package.py" "$root/res/TavokRemover.rc" \
  "$root/build/i686/ui/TavokRemover.exe" "$root" \
  "$root/build/release" "$epoch" "$commit"

#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need,
# when they are missing. Where the machine executes 32-bit code, that
# includes 32-bit Wine, which runs the shipped i686 program. With the
# argument "product": only what building the product and its package needs,
# and signing it where a certificate is named (scripts/package.py).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

# What building the product and its release package needs ("product"
# installs only these).
product_packages=(cmake ninja-build g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 python3)
# Signing the program; the tests sign with a certificate of their own.
signing_packages=(osslsigncode openssl)
packages=(
  "${product_packages[@]}" "${signing_packages[@]}" make binutils
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  googletest wine64 python3-pil
  xvfb xauth xdotool imagemagick fonts-wqy-microhei locales
  # mkntfs and ntfs-3g make and fill the NTFS images of the file-table tests.
  ntfs-3g
  # Wine's own fonts; Marlett draws the caption buttons.
  fonts-wine
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
updated=0

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  # A mirror in the middle of a sync serves an index that fails its check:
  # the list is fetched again a little later.
  local try
  for try in 1 2 3; do
    if [ $updated -eq 0 ]; then
      local said
      said=$($sudo apt-get update -qq 2>&1) || true
      [ -n "$said" ] && printf '%s\n' "$said" >&2
      printf '%s\n' "$said" | grep -q '^E:' || updated=1
    fi
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" && return 0
    updated=0
    sleep 20
  done
  return 1
}

if [ "${1:-}" = product ]; then
  if [ -n "${TAVOK_SIGN_PKCS12:-}${TAVOK_SIGN_CERT:-}" ]; then
    install_missing "${product_packages[@]}" "${signing_packages[@]}"
  else
    install_missing "${product_packages[@]}"
  fi
  exit 0
fi
install_missing "${packages[@]}"

# Wine names files in the charset of the glibc locale of the process; where
# that locale is not installed, every non-ASCII name fails. The tests run
# under these.
installed=$(locale -a 2>/dev/null)
for l in zh_CN en_US zh_TW ja_JP zh_HK; do
  printf '%s\n' "$installed" | grep -qx "$l.utf8" || $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8"
done

if "$root/scripts/runs-32bit.sh" --cpu; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    updated=0
  fi
  # Without it the 32-bit tests are skipped, not failed: the 32-bit test
  # programs are still built.
  install_missing wine32:i386 libc6:i386 ||
    echo "32-bit Wine could not be installed now: the *_i686 tests will be skipped." >&2
fi

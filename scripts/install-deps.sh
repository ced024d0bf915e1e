#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need,
# when they are missing.
set -euo pipefail

packages=(
  cmake ninja-build make
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  googletest wine64 openssl python3 python3-pil
  xvfb xauth xdotool imagemagick fonts-wqy-microhei locales
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine names files in the charset of the glibc locale of the process; where
# that locale is not installed, every non-ASCII name fails. The tests run
# under these.
installed=$(locale -a 2>/dev/null)
for l in zh_CN en_US zh_TW ja_JP zh_HK; do
  printf '%s\n' "$installed" | grep -qx "$l.utf8" || $sudo localedef -i "$l" -f UTF-8 "$l.UTF-8"
done

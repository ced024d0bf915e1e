#!/bin/sh
# Folders that the 8-bit find functions reach only through their short
# names, made on the host side because Windows cannot create some of them.
# One tree per build and locale given, since each run removes its planted
# copies.
#   make-name-fixture.sh ROOT LOCALE...
set -eu
root=$1
shift
a=$(printf '%070d' 0 | tr 0 a)
b=$(printf '%070d' 0 | tr 0 b)
c=$(printf '%070d' 0 | tr 0 c)
d=$(printf '%070d' 0 | tr 0 d)
rm -rf "$root"
for build in x86_64 i686; do
  for locale in "$@"; do
    top="$root/$build/$locale"
    # A plain name; one no code page spells (the emoji); characters no Windows
    # path holds; a path past MAX_PATH; and a name that code pages 936, 950
    # and 932 spell with a backslash as a second byte.
    for dir in "$top/plain" "$top/样本😀" "$top/bad*\"<>|?:\\name" "$top/long/$a/$b/$c/$d" "$top/誠表許"; do
      mkdir -p "$dir"
      printf 'tavok-name-fixture worm\n' > "$dir/worm.exe"
      printf 'clean\n' > "$dir/clean.txt"
    done
    # Wine copies the backslash into this one's short name as well.
    printf 'clean\n' > "$top/b\\ad.exe"
  done
done

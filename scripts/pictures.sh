#!/usr/bin/env bash
# Renders the main dialog (idle, and after a scan that found files), the
# summary box that closes such a scan and the About dialog in the four
# languages under a virtual X server, in Wine's virtual desktop, and saves
# them as docs/*.png; and the main dialog after such a scan at 150 %
# (Wine's LogPixels 144) in English and simplified Chinese. The scanned and summary states are staged by the
# showcase program. Wine's own fonts (fonts-wine) must be installed, or the
# caption buttons show the letters of the missing Marlett font.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

showcase="$root/build/x86_64/tests/showcase.exe"
prefix="$root/build/run-prefix"
wine=/usr/lib/wine/wine64
mkdir -p "$root/docs"

. "$root/scripts/xvfb.sh"
start_xvfb

cleanup() {
  "$root/scripts/wine-prefix.sh" stop "$prefix"
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

"$root/scripts/wine-prefix.sh" start "$prefix" --display
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# The virtual desktop starts programs by their Windows path, and no drive
# maps the build tree: the program is copied onto the prefix's C: drive.
mkdir -p "$prefix/drive_c/showcase"
cp "$showcase" "$prefix/drive_c/showcase/showcase.exe"

set_dpi() {  # the screen's logical inch, read by each process as it starts
  "$wine" reg.exe add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
    </dev/null >/dev/null 2>&1
}

shoot() {  # locale, state, output name[, DPI]
  /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
  set_dpi "${4:-96}"
  LC_ALL="$1.UTF-8" timeout 60 "$wine" explorer.exe /desktop=shot,1024x768 'C:\showcase\showcase.exe' "$2" \
    </dev/null >/dev/null 2>&1 &
  local pid=$!
  sleep 5
  import -window root "$root/build/shot.png"
  # The desktop's flat background is cut away.
  convert "$root/build/shot.png" -trim +repage "$root/docs/$3.png"
  /usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true
  wait "$pid" 2>/dev/null || true
  echo "docs/$3.png"
}

for pair in zh_CN:zh-cn en_US:en zh_TW:zh-tw ja_JP:ja; do
  locale=${pair%%:*}
  name=${pair##*:}
  shoot "$locale" idle "main-$name"
  shoot "$locale" rows "main-scanned-$name"
  shoot "$locale" summary "summary-$name"
  shoot "$locale" about "about-$name"
done

# At 150 %: the dialog, its font, the banner and the icons drawn larger.
shoot zh_CN rows main-scanned-zh-cn-150 144
shoot en_US rows main-scanned-en-150 144
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
set_dpi 96
/usr/lib/wine/wineserver -k </dev/null >/dev/null 2>&1 || true

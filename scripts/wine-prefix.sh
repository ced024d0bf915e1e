#!/usr/bin/env bash
# Makes a private Wine prefix (null display driver, no drive letter for the
# host's root, a CD-ROM drive R: of its own) and starts a persistent
# wineserver for it. With --display the prefix draws on $DISPLAY, with
# Wine's own fonts, and has no R:.
# With --copy-of another ready prefix, a new prefix is made as a copy of
# that one (its server is stopped for the copy), much faster than anew.
#   wine-prefix.sh start PREFIX [--display | --copy-of PREFIX]
#   wine-prefix.sh stop PREFIX
set -euo pipefail
action=$1
mkdir -p "$2"
export WINEPREFIX=$(cd "$2" && pwd)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver

# A prefix made before 32-bit Wine was installed has no 32-bit half: it
# is remade when that changes.
kind=win64
[ -x /usr/lib/wine/wine ] && kind=wow64

case "$action" in
start)
  if [ "${3:-}" = "--copy-of" ] && [ "$(cat "$WINEPREFIX/.tavok-ready" 2>/dev/null)" != "$kind" ] &&
     [ "$(cat "$4/.tavok-ready" 2>/dev/null)" = "$kind" ]; then
    WINEPREFIX=$(cd "$4" && pwd) "$server" -k </dev/null >/dev/null 2>&1 || true
    WINEPREFIX=$(cd "$4" && pwd) "$server" -w
    rm -rf "$WINEPREFIX"
    cp -a "$4" "$WINEPREFIX"
  fi
  if [ "$(cat "$WINEPREFIX/.tavok-ready" 2>/dev/null)" != "$kind" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot.exe --init </dev/null >/dev/null 2>&1
    "$server" -w
    if [ "${3:-}" != "--display" ]; then
      "$wine" reg.exe add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
    fi
    "$server" -w
    # The first start under a new locale rewrites the prefix's locale
    # settings; do that once here, one locale after another.
    for locale in zh_CN en_US zh_TW ja_JP zh_HK; do
      LC_ALL=$locale.UTF-8 "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
      "$server" -w
    done
    echo "$kind" > "$WINEPREFIX/.tavok-ready"
  fi
  # Debian's Wine 8 looks for its own fonts (package fonts-wine) in
  # /usr/share/fonts, where they are not: a prefix that draws gets them in
  # its Fonts folder, or the caption buttons show the letters of the
  # missing Marlett.
  if [ "${3:-}" = "--display" ] && [ -d /usr/share/wine/fonts ]; then
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
  fi
  # A program that crashes ends at once, as a failed test, instead of
  # waiting in Wine's debugger.
  if grep -q '^"Debugger"="winedbg' "$WINEPREFIX/system.reg" 2>/dev/null; then
    "$wine" reg.exe add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
      </dev/null >/dev/null 2>&1
  fi
  # Never let a scan reach the host's file system.
  rm -f "$WINEPREFIX/dosdevices/z:" "$WINEPREFIX/dosdevices/z::"
  # The tests' prefix has a folder of its own that Wine reports as a CD-ROM
  # drive, R:. Wine's mount manager reads the drive types when it starts,
  # so the server is stopped once after the type is first set.
  if [ "${3:-}" != "--display" ]; then
    mkdir -p "$WINEPREFIX/tavok-cdrom"
    ln -sfn ../tavok-cdrom "$WINEPREFIX/dosdevices/r:"
    if ! grep -q '^"r:"="cdrom"' "$WINEPREFIX/system.reg" 2>/dev/null; then
      "$wine" reg.exe add 'HKLM\Software\Wine\Drives' /v r: /d cdrom /f </dev/null >/dev/null 2>&1
      "$server" -k </dev/null >/dev/null 2>&1 || true
      "$server" -w
    fi
  fi
  # Answers with an error when a server of this prefix already runs.
  "$server" -p </dev/null >/dev/null 2>&1 || true
  # Start Wine's own background processes now, with their output going
  # nowhere: inherited by a test, they would hold its output pipe open.
  "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
  ;;
stop)
  "$server" -k </dev/null >/dev/null 2>&1 || true
  ;;
esac

#!/usr/bin/env bash
# Builds the tool (that program alone, no tests) and starts it under Wine in
# its own prefix, build/run-prefix, which maps no drive to the host's root,
# so a scan walks only that prefix's C: drive. Where the machine executes
# 32-bit code this is the shipped i686 program under 32-bit Wine; elsewhere
# the x86_64 build of the same sources under 64-bit Wine. The script says
# which one it started.
#
# With a display ($DISPLAY set) the window opens there. Without one the
# tool runs in a virtual X server: the script presses Scan, waits for the
# summary box, saves a screenshot and prints its path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" run

if "$root/scripts/runs-32bit.sh"; then
  exe="$root/build/i686/ui/TavokRemover.exe"
  wine=/usr/lib/wine/wine
  echo "Starting the i686 build, the shipped program, under 32-bit Wine: $exe"
else
  exe="$root/build/x86_64-product/ui/TavokRemover.exe"
  wine=/usr/lib/wine/wine64
  echo "Starting the x86_64 build under 64-bit Wine (this machine cannot execute 32-bit code): $exe"
fi
prefix="$root/build/run-prefix"
xvfb_pid=""

cleanup() {
  "$root/scripts/wine-prefix.sh" stop "$prefix"
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}

if [ -z "${DISPLAY:-}" ]; then
  . "$root/scripts/xvfb.sh"
  start_xvfb
  headless=1
else
  headless=0
fi
trap cleanup EXIT

# Wine's background processes start here and must see the display.
"$root/scripts/wine-prefix.sh" start "$prefix" --display
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ "$headless" -eq 0 ]; then
  "$wine" "$exe"
  exit 0
fi

"$wine" "$exe" </dev/null >/dev/null 2>&1 &
app_pid=$!

# Every title of the main dialog contains the detection name.
window=""
for _ in $(seq 300); do
  window=$(xdotool search --onlyvisible --name 'Tavok' 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "the main dialog did not appear" >&2; exit 1; }
sleep 1

# Scan is the default button and has the focus: Enter starts the scan.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers Return

# The summary box is the second visible top-level window of the tool.
summary=""
for _ in $(seq 1200); do
  summary=$(xdotool search --onlyvisible --pid "$app_pid" --name '.' 2>/dev/null | grep -vx "$window" | head -n 1 || true)
  [ -z "$summary" ] && summary=$(xdotool search --onlyvisible --name '^(Message|提示)$' 2>/dev/null | head -n 1 || true)
  [ -n "$summary" ] && break
  sleep 0.1
done
[ -n "$summary" ] || { echo "no summary box after the scan" >&2; exit 1; }
sleep 1

shot="$root/build/run-screenshot.png"
import -window root "$shot"
echo "Screenshot after the scan: $shot"

# Dismiss the summary and leave the dialog.
xdotool key --clearmodifiers Return
sleep 1
xdotool key --clearmodifiers Escape
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true

#!/usr/bin/env bash
# The window example under a virtual X server: a few frames, a click on the overlay's
# "ACT/Sharpening" toggle made of real pointer events (which the example forwards to the overlay
# as window messages), then a screenshot.
#
#     windowExample.sh <tavo-window-example> <output folder>
set -euo pipefail
example="$1"
out="$2"
mkdir -p "$out"
# Under AddressSanitizer: Mesa's GLX driver is unloaded before the leak check, so what it
# keeps can be neither told apart nor suppressed by module; the library's own leaks are checked
# by its EGL tests, where nothing is unloaded.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
rm -f "$out/window.png" "$out/stdout.txt"

# Xvfb picks a free display itself and writes its number to the descriptor.
exec 3> "$out/display.txt"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$out/xvfb.txt" 2>&1 &
xvfb=$!
exec 3>&-
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
  [ -s "$out/display.txt" ] && break
  sleep 0.1
done
export DISPLAY=":$(cat "$out/display.txt")"

"$example" --width 800 --height 600 --screenshot "$out/window.png" > "$out/stdout.txt" 2> "$out/stderr.txt" &
app=$!

# Waits up to $2 seconds for a line $1 in the example's output.
wait_for() {
  for _ in $(seq $(( $2 * 10 ))); do
    grep -qx "$1" "$out/stdout.txt" && return 0
    kill -0 "$app" 2>/dev/null || { echo "the example ended early"; cat "$out/stderr.txt"; return 1; }
    sleep 0.1
  done
  echo "no \"$1\" within $2 s:"; cat "$out/stdout.txt"; return 1
}
wait_for ready 120
wait_for "sharpening: on" 5
window="$(xdotool search --sync --name '^tavo-window-example$' | head -n1)"

# The overlay's window opens at (60, 60) with ImGui's default style at scale 1: a 19-pixel title
# bar, 8 pixels of padding, the FPS line (17 pixels with spacing), then the "Toggles" header
# (19 pixels); opened, its first buttons follow 23 pixels apart: "Backlight", "ACT/Sharpening".
xdotool mousemove --window "$window" 100 113 click 1
sleep 2
xdotool mousemove --window "$window" 100 159 click 1
wait_for "sharpening: off" 60
xdotool mousemove --window "$window" 700 500
sleep 1

# Escape ends the example, which renders one more frame for the screenshot.
xdotool key --window "$window" Escape
for _ in $(seq 600); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
wait "$app"
app=""
[ -s "$out/window.png" ] || { echo "no screenshot"; exit 1; }
echo "screenshot: $out/window.png"

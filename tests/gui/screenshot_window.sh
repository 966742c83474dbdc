#!/bin/sh
# Starts QuorvikItaliano.exe under Wine on the current X display, waits until its window shows
# the flag, saves a PNG of the window for people to look at, and ends the program.
# Usage: screenshot_window.sh RUN_UNDER_WINE LOADER PREFIX PROGRAM OUTPUT.png
set -eu
runner=$1
loader=$2
prefix=$3
program=$4
output=$5

if [ -z "${DISPLAY:-}" ]; then
  echo "No X display: run the tests under xvfb-run." >&2
  exit 1
fi
mkdir -p "$(dirname "$output")"

"$runner" "$loader" "$prefix" "$program" 2>/dev/null &
program_pid=$!
trap 'kill "$program_pid" 2>/dev/null || true' EXIT

. "$(dirname "$0")/../support/x_window.sh"
window_geometry() { window_geometry_of quorvikitaliano.exe; }

window_is_mapped() { [ -n "$(window_geometry)" ]; }

capture() { import -window root -crop "$(window_geometry)" +repage "$1" 2>/dev/null; }

# The flag's green band is at the top-left of the client area once the window has painted.
flag_is_painted() {
  capture "$output" || return 1
  [ "$(convert "$output" -format '%[pixel:p{10,10}]' info:)" = "srgb(0,176,69)" ]
}

# The controls paint after the window itself: done when two pictures in a row are the same.
painting_has_settled() {
  previous=$output.previous.png
  mv "$output" "$previous"
  capture "$output" || return 1
  compare -metric AE "$output" "$previous" null: >/dev/null 2>&1
}

if ! wait_for window_is_mapped; then
  echo "The main window did not appear." >&2
  exit 1
fi
if ! wait_for flag_is_painted; then
  echo "The window never showed the flag at its top-left; last picture: $output" >&2
  exit 1
fi
if ! wait_for painting_has_settled; then
  echo "The window kept changing; last picture: $output" >&2
  exit 1
fi
rm -f "$output.previous.png"
echo "Screenshot of the main window: $output ($(window_geometry))"

#!/bin/sh
# Shows the window on a 144-DPI screen, in a Wine prefix of its own, and checks that it grows
# by half: client area, and the flag with its bands still sharp. Saves the picture.
# Usage: high_dpi_window.sh RUN_UNDER_WINE LOADER PREFIX PROGRAM OUTPUT.png
set -eu
runner=$1
loader=$2
prefix=$3
program=$4
output=$5

"$runner" "$loader" "$prefix" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
  /d 144 /f >/dev/null
sh "$(dirname "$0")/screenshot_window.sh" "$runner" "$loader" "$prefix" "$program" "$output"

status=0
expect() {
  if [ "$2" != "$3" ]; then
    echo "$1: expected $3, found $2" >&2
    status=1
  fi
}
pixel() { convert "$output" -format "%[pixel:p{$1,$2}]" info:; }

# 6705 x 2730 twips at 9.6 twips a pixel.
expect "client area" "$(identify -format '%wx%h' "$output")" 671x273
# The 75 x 56 flag drawn 113 x 84: bands of about 37 pixels.
expect "green band" "$(pixel 18 40)" "srgb(0,176,69)"
expect "white band" "$(pixel 56 40)" "srgb(255,255,255)"
expect "red band" "$(pixel 94 83)" "srgb(255,0,0)"
expect "right of the flag" "$(pixel 114 40)" "$(pixel 114 100)"
expect "below the flag" "$(pixel 56 85)" "$(pixel 114 100)"
exit $status

#!/usr/bin/env bash
# Builds the Italian language patch, installs the sample product at
# C:\Programmi\Quorvik\Quorvik.exe inside a Wine prefix of the project's own, and opens the
# patch's window there: on your display when there is one, otherwise on a virtual display,
# where it saves a screenshot and says where it is.
#
# Every run installs a fresh, English sample product, so the patch can be tried again.
# QUORVIK_BUILD_ROOT chooses where the build folders and the prefix go (default: build/).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# Wine needs a UTF-8 locale for non-ASCII file names: C.UTF-8 where the user's is not one.
. "$root/scripts/utf8-locale.sh"
"$root/scripts/install-deps.sh"

build_root=${QUORVIK_BUILD_ROOT:-$root/build}
prefix=$build_root/run-prefix
runner=$root/cmake/run-under-wine.sh
loader64=/usr/lib/wine/wine64
loader32=/usr/lib/wine/wine

# Builds the program and the sample product with one preset; prints nothing but errors.
build() {
  local preset=$1
  local folder=$build_root/$preset
  echo "Building the $preset programs in $folder ..."
  "$root/scripts/configure-preset.sh" "$preset" -B "$folder" >"$folder.configure.log" 2>&1 ||
    { cat "$folder.configure.log" >&2; return 1; }
  cmake --build "$folder" -j2 --target QuorvikItaliano SampleQuorvik >"$folder.build.log" 2>&1 ||
    { tail -n 40 "$folder.build.log" >&2; return 1; }
}

mkdir -p "$build_root"
build win32
# The prefix is made (once) by the 64-bit loader, which runs both kinds of program. Courier New,
# the window's font, is not part of Wine: a metric-compatible monospaced font stands in for it.
monospace="DejaVu Sans Mono"
fc-list 2>/dev/null | grep -q 'Liberation Mono' && monospace="Liberation Mono"
"$runner" "$loader64" "$prefix" reg add 'HKCU\Software\Wine\Fonts\Replacements' \
  /v 'Courier New' /t REG_SZ /d "$monospace" /f >/dev/null
# The registry change leaves the prefix's Wine session (and its desktop) up for a moment; a
# program started in it would open its window there, on no screen when the virtual display
# below is used. Let the session end first.
WINEPREFIX="$prefix" wineserver -w

if [ "$("$root/scripts/windows-preset.sh")" = win32 ]; then
  preset=win32
  loader=$loader32
else
  echo "This machine has no 32-bit Wine (install-deps.sh said why): running the 64-bit build of the same sources."
  preset=win64
  loader=$loader64
  build win64
fi
program=$build_root/$preset/app/QuorvikItaliano.exe
sample=$build_root/$preset/tools/sample_product/Quorvik.exe

install_folder=$prefix/drive_c/Programmi/Quorvik
mkdir -p "$install_folder"
cp -f "$sample" "$install_folder/Quorvik.exe"
echo "Installed the sample product (English) at C:\\Programmi\\Quorvik\\Quorvik.exe"
echo "  = $install_folder/Quorvik.exe"

if [ -n "${DISPLAY:-}" ] && xwininfo -root >/dev/null 2>&1; then
  echo "Opening the patch on display $DISPLAY. Press \"Perform Update\", or close the window."
  status=0
  "$runner" "$loader" "$prefix" "$program" || status=$?
  echo "The patch ended with exit code $status."
  exit "$status"
fi

screenshot=$build_root/run-screenshots/main-window.png
echo "No display: opening the patch on a virtual display to take a screenshot."
xvfb-run -a sh "$root/tests/gui/screenshot_window.sh" "$runner" "$loader" "$prefix" "$program" \
  "$screenshot"

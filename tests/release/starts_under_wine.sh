#!/bin/sh
# Starts the released (signed) programs of FOLDER under 32-bit Wine, as a user would on Windows:
# quorvik-patch.exe must print its version and report a missing file as an invalid path (exit
# 3), and QuorvikItaliano.exe must show its window with the flag painted. The Wine prefix PREFIX
# is made if needed and its wineserver ended afterwards. Needs an X display (xvfb-run -a).
# Usage: starts_under_wine.sh FOLDER VERSION PREFIX
set -eu
folder=$1
version=$2
prefix=$3
here=$(cd "$(dirname "$0")" && pwd)
runner=$here/../../cmake/run-under-wine.sh
loader=/usr/lib/wine/wine
trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true' EXIT

fail() {
  echo "starts_under_wine.sh: $*" >&2
  exit 1
}

printed=$("$runner" "$loader" "$prefix" "$folder/quorvik-patch.exe" --version | tr -d '\r')
[ "$printed" = "quorvik-patch $version" ] || fail "quorvik-patch.exe --version printed '$printed'"
status=0
"$runner" "$loader" "$prefix" "$folder/quorvik-patch.exe" check 'C:\no such folder\Quorvik.exe' \
  >/dev/null 2>&1 || status=$?
[ $status -eq 3 ] || fail "quorvik-patch.exe check on a missing file exited $status, not 3"
echo "quorvik-patch.exe starts: version $version, exit 3 for a missing file."

sh "$here/../gui/screenshot_window.sh" "$runner" "$loader" "$prefix" \
  "$folder/QuorvikItaliano.exe" "$prefix.main-window.png" ||
  fail "QuorvikItaliano.exe did not show its window"
echo "QuorvikItaliano.exe starts and shows its window."

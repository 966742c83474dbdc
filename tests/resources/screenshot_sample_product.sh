#!/bin/sh
# Pictures of the sample product before and after the patch, for people to look at: starts a
# copy of its program file under Wine on the current X display and saves a PNG of its window
# (English), patches the copy with quorvik-patch, and saves a PNG of the window again (Italian).
# Usage: screenshot_sample_product.sh RUN_UNDER_WINE LOADER PREFIX SAMPLE_EXE PATCH_EXE FOLDER
set -eu
runner=$1
loader=$2
prefix=$3
sample=$4
patcher=$5
folder=$6

if [ -z "${DISPLAY:-}" ]; then
  echo "No X display: run the tests under xvfb-run." >&2
  exit 1
fi
mkdir -p "$folder"
install=$(mktemp -d)
product_pid=
cleanup() {
  [ -n "$product_pid" ] && kill "$product_pid" 2>/dev/null || true
  rm -rf "$install"
}
trap cleanup EXIT
cp "$sample" "$install/Quorvik.exe"

. "$(dirname "$0")/../support/x_window.sh"
window_geometry() { window_geometry_of quorvik.exe; }

window_is_mapped() { [ -n "$(window_geometry)" ]; }
window_is_gone() { [ -z "$(window_geometry)" ]; }

# The texts are painted once the window shows their green and two pictures in a row agree.
texts_are_painted() {
  next="${1%.png}.next.png"
  import -window root -crop "$(window_geometry)" +repage "$next" 2>/dev/null || return 1
  if [ -f "$1" ] && compare -metric AE "$next" "$1" null: 2>/dev/null &&
    convert "$1" -format %c histogram:info: | grep -q '#00CC00'; then
    rm -f "$next"
    return 0
  fi
  mv -f "$next" "$1"
  return 1
}

# Starts the product, saves its picture as $1 once painted, and ends it.
shoot() {
  rm -f "$1"
  "$runner" "$loader" "$prefix" "$install/Quorvik.exe" &
  product_pid=$!
  wait_for window_is_mapped || { echo "The sample product showed no window." >&2; return 1; }
  wait_for texts_are_painted "$1" || { echo "The sample product painted no text: $1" >&2; return 1; }
  kill "$product_pid" 2>/dev/null || true
  wait "$product_pid" 2>/dev/null || true
  product_pid=
  wait_for window_is_gone
  echo "Screenshot of the sample product: $1"
}

shoot "$folder/sample-product-english.png"
"$runner" "$loader" "$prefix" "$patcher" patch "$install/Quorvik.exe"
shoot "$folder/sample-product-italian.png"

#!/usr/bin/env bash
# Builds the native and the shipped 32-bit Windows programs and runs every test: natively on
# Linux, and the Windows programs under Wine in a virtual X display (inside an emulated guest,
# scripts/guest.sh, where this machine cannot execute 32-bit code).
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine needs a UTF-8 locale for non-ASCII file names: C.UTF-8 where the user's is not one.
. scripts/utf8-locale.sh
scripts/install-deps.sh

scripts/configure-preset.sh native
cmake --build --preset native
ctest --preset native

# The shipped 32-bit program always builds, and must need no DLL but Windows' own.
scripts/configure-preset.sh win32
cmake --build --preset win32
scripts/check-imports.sh i686-w64-mingw32-objdump build/win32
# ... and must start on Windows XP SP3, on any i686 processor.
scripts/check-windows-minimum.py i686-w64-mingw32-objdump build/win32/app/QuorvikItaliano.exe \
  build/win32/cli/quorvik-patch.exe

# The Windows tests run on the shipped 32-bit build: under this machine's Wine where it can
# execute 32-bit code, otherwise in an emulated guest. QUORVIK_WINDOWS_TESTS=guest runs them in
# the guest in any case; QUORVIK_WINDOWS_TESTS=win64 runs them on the same sources built for
# 64-bit Windows instead, a quicker check under this machine's own Wine.
windows=${QUORVIK_WINDOWS_TESTS:-win32}
if [ "$windows" = win32 ] && [ "$(scripts/windows-preset.sh)" != win32 ]; then
  echo "This machine cannot execute 32-bit code; the Windows tests run in an emulated guest."
  windows=guest
fi
status=0
if [ "$windows" = guest ]; then
  started=$SECONDS
  scripts/guest-image.sh >/dev/null
  echo "Guest image ready after $((SECONDS - started)) s."
  started=$SECONDS
  # Wine prefixes are not copied: the guest makes its own from the one in its image.
  scripts/guest.sh --copy build/win32 --exclude '/wineprefix*' --timeout 2700 -- \
    xvfb-run -a ctest --preset win32 || status=$?
  echo "The Windows tests in the guest took $((SECONDS - started)) s, boot included."
else
  if [ "$windows" != win32 ]; then
    scripts/configure-preset.sh "$windows"
    cmake --build --preset "$windows"
  fi
  xvfb-run -a ctest --preset "$windows" || status=$?
  WINEPREFIX="$PWD/build/$windows/wineprefix" wineserver -k 2>/dev/null || true
fi

# Power cuts at random moments of patch runs, on disks of their own in the emulated guest.
scripts/power-cut.sh || status=$?

# The release zip: the same bytes from two clean clones, holding the win32 programs built above.
scripts/test-release.sh || status=$?
exit $status

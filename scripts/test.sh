#!/usr/bin/env bash
# Builds every preset and runs every test: natively on Linux, and the Windows programs under
# Wine in a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine needs a UTF-8 locale for non-ASCII file names: C.UTF-8 where the user's is not one.
. scripts/utf8-locale.sh
scripts/install-deps.sh

cmake --preset native
cmake --build --preset native
ctest --preset native

# The shipped 32-bit program always builds, and must need no DLL but Windows' own.
cmake --preset win32
cmake --build --preset win32
scripts/check-imports.sh i686-w64-mingw32-objdump build/win32
# ... and must start on Windows XP SP3, on any i686 processor.
scripts/check-windows-minimum.py i686-w64-mingw32-objdump build/win32/app/QuorvikItaliano.exe \
  build/win32/cli/quorvik-patch.exe

windows=$(scripts/windows-preset.sh)
if [ "$windows" != win32 ]; then
  echo "This machine cannot execute 32-bit code; the Windows tests run on the 64-bit build."
  cmake --preset "$windows"
  cmake --build --preset "$windows"
fi
status=0
xvfb-run -a ctest --preset "$windows" || status=$?
WINEPREFIX="$PWD/build/$windows/wineprefix" wineserver -k 2>/dev/null || true
exit $status

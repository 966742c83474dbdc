#!/usr/bin/env bash
# Fails when a built Windows program imports a DLL that Windows itself does not ship, i.e. when
# it would not run as a single self-contained .exe.
# Usage: check-imports.sh OBJDUMP BUILD_FOLDER
set -euo pipefail
objdump=$1
folder=$2
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|shlwapi|advapi32|ole32|oleaut32|uxtheme|msvcrt|ws2_32)\.dll$'
status=0
while IFS= read -r -d '' program; do
  while read -r dll; do
    if ! echo "$dll" | tr '[:upper:]' '[:lower:]' | grep -Eq "$allowed"; then
      echo "$program imports $dll, which Windows does not provide" >&2
      status=1
    fi
  done < <("$objdump" -p "$program" | sed -n 's/^\s*DLL Name: //p')
done < <(find "$folder" -name '*.exe' -not -path '*/CMakeFiles/*' -not -path '*/wineprefix*/*' -print0)
[ $status -eq 0 ] && echo "Every program in $folder imports only Windows' own DLLs."
exit $status

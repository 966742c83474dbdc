#!/usr/bin/env bash
# Writes a copy of a Windows program as it ships: without its symbols and debug information,
# padded to a whole number of 8-byte units and with its PE header checksum written
# (scripts/seal-program.py), so that signing it and removing the signature again gives back
# exactly this copy.
# strip writes the current time into the PE header unless SOURCE_DATE_EPOCH says otherwise, so
# the copy is given the time stamp the linker wrote into the program (0: cmake/reproducible.cmake).
# Usage: strip-program.sh PROGRAM COPY
set -euo pipefail
program=$1
copy=$2
# The PE header starts at the offset held at 0x3c; its time stamp is 8 bytes in.
header=$(od -An -tu4 -j60 -N4 "$program" | tr -d ' ')
stamp=$(od -An -tu4 -j$((header + 8)) -N4 "$program" | tr -d ' ')
SOURCE_DATE_EPOCH=$stamp i686-w64-mingw32-strip --strip-all -o "$copy" "$program"
/usr/bin/python3 "$(dirname "$0")/seal-program.py" "$copy"

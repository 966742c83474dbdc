#!/usr/bin/env bash
# Prints the preset whose Windows programs this machine can run under its own Wine: win32, the
# shipped 32-bit build, where it has a working 32-bit Wine; otherwise win64, the same sources
# built for 64-bit Windows.
. "$(dirname "$0")/machine.sh"
if host_runs_32bit_wine; then
  echo win32
else
  echo win64
fi

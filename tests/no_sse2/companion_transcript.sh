#!/bin/bash
# Runs the companion's commands on the sample targets in the current folder, one after another,
# and prints what each gave: its exit status, its output, and every file's SHA-256 after it.
# scripts/no-sse2.sh runs it with the 64-bit build on this machine (a processor with SSE2) and
# with the shipped 32-bit program on processors without SSE2: the transcripts must be the same.
# Paths are given relative to the folder, so that both programs print the same messages.
#
# Usage: companion_transcript.sh full|short PROGRAM [ARG]...
# The folder holds ready.exe, odd.exe, backup.exe, other.exe and italian.exe (scripts/no-sse2.sh
# makes them). "short" is patch, check, revert and --backup on ready.exe and backup.exe only, for
# the slowest emulator.
set -uo pipefail
steps=$1
shift

run() {
  local status=0 output file
  output=$("$@" 2>&1) || status=$?
  echo "${*:$((program_words + 1))}: exit $status"
  # Windows ends its lines with a carriage return as well.
  tr -d '\r' <<<"$output" | sed 's/^/  | /'
  for file in *; do echo "  = $file $(sha256sum <"$file" | cut -d ' ' -f 1)"; done
}
program_words=$#

run "$@" check --json ready.exe
run "$@" patch ready.exe
run "$@" check ready.exe
run "$@" revert ready.exe
run "$@" patch --backup backup.exe
if [ "$steps" = full ]; then
  run "$@" patch ready.exe
  run "$@" revert backup.exe
  run "$@" check --json odd.exe
  run "$@" patch odd.exe
  run "$@" revert odd.exe
  run "$@" check other.exe
  run "$@" patch other.exe
  run "$@" revert other.exe
  run "$@" check --json italian.exe
  run "$@" patch italian.exe
fi

#!/bin/bash
# Inside the 32-bit guest, on an emulated Pentium III (QEMU's, or Bochs's, which refuses SSE2):
# shows the processor's flags, runs a program that uses SSE2 without asking, then the companion's
# commands on the sample targets with the shipped 32-bit quorvik-patch.exe under 32-bit Wine
# (companion_transcript.sh) and, given the repository, the window's tests of its three outcomes
# and its start-up guard. Lines for scripts/no-sse2.sh begin with "no-sse2: " (what was seen)
# or "no-sse2-transcript: " (the transcript); the host judges them.
#
# Usage: run_in_guest.sh CONTROL_FOLDER full|short [REPOSITORY]
# CONTROL_FOLDER holds quorvik-patch.exe, uses-sse2.exe, companion_transcript.sh and samples/.
set -uo pipefail
control=$1
steps=$2
repository=${3:-}
say() { echo "no-sse2: $*"; }

say "processor: $(grep -m 1 '^model name' /proc/cpuinfo | cut -d ':' -f 2- | sed 's/^ *//')"
say "$(grep -m 1 '^flags' /proc/cpuinfo)"

# Wine maps programs into memory, which a shared folder does not serve correctly: everything
# runs from the guest's own disk, which is thrown away afterwards, and so is the Wine prefix
# the image holds, used as it is.
work=/tmp/no-sse2
rm -rf "$work"
mkdir -p "$work"
cp -r "$control/." "$work/"
export WINEPREFIX=$QUORVIK_WINEPREFIX_TEMPLATE WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
wine=/usr/lib/wine/wine
started=$(cut -d ' ' -f 1 /proc/uptime)
wineserver -p
"$wine" "$work/quorvik-patch.exe" --version >/dev/null
say "Wine started in $(awk -v start="$started" '{ printf "%.0f", $1 - start }' /proc/uptime) s"

status=0
"$wine" "$work/uses-sse2.exe" || status=$?
say "uses-sse2.exe: exit $status"

(cd "$work/samples" && bash "$work/companion_transcript.sh" "$steps" "$wine" ../quorvik-patch.exe) |
  sed 's/^/no-sse2-transcript: /'
wineserver -k

if [ -n "$repository" ]; then
  # The window's three outcomes and its start-up guard; its look, its other start states and
  # the failure reports do not depend on the processor and would add minutes here.
  status=0
  (cd "$repository" && GTEST_FILTER='UpdateOutcomes.*:InstanceGuard.*' \
    xvfb-run -a ctest --preset win32 -R '^gui_driver_tests$' --output-on-failure) || status=$?
  say "window tests: exit $status"
fi
say "end"

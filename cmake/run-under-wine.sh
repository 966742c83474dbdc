#!/bin/sh
# Runs a Windows program under Wine, in a Wine prefix private to one build folder.
# Usage: run-under-wine.sh LOADER PREFIX PROGRAM [ARGS...]
set -e
. "$(dirname "$0")/../scripts/utf8-locale.sh"
loader=$1
WINEPREFIX=$2
shift 2
export WINEPREFIX
# The loader decides the prefix's kind; a WINEARCH left from the user's own Wine set-up (win32,
# say) would make Wine refuse the prefix, or make one that cannot run 64-bit programs.
unset WINEARCH
export WINEDEBUG=-all
# No Mono or Gecko installers: the programs under test need neither.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
# Several tests may start at once; only one of them creates the prefix.
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$loader" wineboot --init >/dev/null 2>&1
    WINEPREFIX="$WINEPREFIX" wineserver -w
  fi
) 9>"$WINEPREFIX.lock"
exec "$loader" "$@"

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
# Several tests may start at once; only one of them creates the prefix. Where a ready-made prefix
# is offered (the emulated guest of scripts/guest.sh has one, as making a prefix there takes
# minutes), it is copied instead.
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    template=${QUORVIK_WINEPREFIX_TEMPLATE:-}
    if [ -f "$template/system.reg" ]; then
      # Hard links where the file system allows them: the prefix's 1.3 GB of DLLs are only
      # read, and a copy takes half a minute under emulation. Wine rewrites its registry and
      # .ini files, so each prefix gets copies of its own of those.
      rm -rf "$WINEPREFIX"
      if cp -al "$template" "$WINEPREFIX" 2>/dev/null; then
        find "$WINEPREFIX" -type f \( -name '*.reg' -o -name '*.ini' \) -exec sh -c \
          'for file; do cp -p "$file" "$file.own" && mv "$file.own" "$file"; done' sh {} +
      else
        rm -rf "$WINEPREFIX"
        cp -a "$template" "$WINEPREFIX"
      fi
    else
      "$loader" wineboot --init >/dev/null 2>&1
      WINEPREFIX="$WINEPREFIX" wineserver -w
    fi
  fi
) 9>"$WINEPREFIX.lock"
exec "$loader" "$@"

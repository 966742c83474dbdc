#!/bin/sh
# Runs a Windows program under Wine reporting Windows XP SP3 (5.1), in a prefix of its own, so
# that whatever asks the system's version (our code, the C runtime, the common controls) takes
# the answer it would get on XP. Fails if Wine does not report 5.1.
# Usage: as_windows_xp.sh RUN_UNDER_WINE LOADER PREFIX PROGRAM [ARGS...]
set -eu
runner=$1
loader=$2
prefix=$3
shift 3

(
  # Several tests may share the prefix; one of them sets the version.
  flock 8
  "$runner" "$loader" "$prefix" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d winxp \
    /f >/dev/null
) 8>"$prefix.version.lock"
version=$("$runner" "$loader" "$prefix" cmd /c ver | tr -d '\r')
case $version in
  *" 5.1."*) ;;
  *)
    echo "Wine does not report Windows XP here: \"$version\"" >&2
    exit 1
    ;;
esac
exec "$runner" "$loader" "$prefix" "$@"

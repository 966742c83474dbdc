# Sourced (by scripts/test.sh, scripts/run.sh and cmake/run-under-wine.sh) before anything runs
# Wine. Wine turns Windows file names into Linux ones in the locale's character set; in the
# POSIX locale (no LANG or LC_ALL, as in a minimal container or a cron job) that set is ASCII,
# and a name such as "Programmi è ñ 日本" cannot be created. So where the current locale does
# not use UTF-8, everything started from here runs under C.UTF-8, which every Debian 12 has
# (libc-bin ships it) without installing anything. A UTF-8 locale of the user's is kept.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  LC_ALL=C.UTF-8
  export LC_ALL
fi

# Shell functions for tests that look at Wine windows on the current X display; sourced.

# The X geometry, "WIDTHxHEIGHT+X+Y", of the window titled "[_ Quorvik 2000 _|" (with or without
# the trailing blank) that the program named $1 (lower case, e.g. quorvik.exe) shows, once Wine
# has mapped it; nothing while there is none.
window_geometry_of() {
  xwininfo -root -tree 2>/dev/null |
    grep "\"\\[_ Quorvik 2000 _|[ ]*\": (\"$1\"" |
    sed -n 's/.*  \([0-9]*x[0-9]*+[0-9]*+[0-9]*\)  .*/\1/p' | head -n 1
}

# Waits up to 60 seconds for a condition, checking twice a second.
wait_for() {
  tries=120
  while ! "$@"; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then return 1; fi
    sleep 0.5
  done
}

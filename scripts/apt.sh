# Sourced by scripts/install-deps.sh and scripts/guest-image.sh: the package steps, made to ride
# out an archive that is partly out of step. A mirror in mid-sync can serve an index that does
# not match its Release file for hours ("File has unexpected size ... Mirror sync in progress?"),
# and apt-get update then fails as a whole although every other index arrived. Each function takes
# the command that runs apt-get (such as "sudo apt-get", or apt-get inside a chroot) as its first
# words.

# Seconds between tries of apt-get update; the set-up's own tests set it to 0.
apt_retry_pause=${QUORVIK_APT_RETRY_PAUSE:-20}
# How long apt_get waits for another program to let go of apt's or dpkg's lock, in seconds: a new
# machine runs its daily package update soon after it boots, and that can take minutes.
apt_lock_wait=${QUORVIK_APT_LOCK_WAIT:-600}

# apt_get APT-GET... ARG...: runs the command and prints its output (both streams); its status is
# the command's. While another program holds apt's or dpkg's lock, it says once that it waits and
# for which process, and tries again every few seconds, for up to $apt_lock_wait seconds.
apt_get() {
  local output status holder waiting=false deadline=$((SECONDS + apt_lock_wait))
  while :; do
    status=0
    output=$("$@" 2>&1) || status=$?
    if [ "$status" -eq 0 ] || ! grep -q '^E: Could not get lock' <<<"$output" ||
      [ "$SECONDS" -ge "$deadline" ]; then
      printf '%s\n' "$output"
      return "$status"
    fi
    if [ "$waiting" = false ]; then
      holder=$(sed -n 's/^E: Could not get lock .* held by process \([0-9].*\)$/\1/p' <<<"$output" |
        head -n 1)
      echo "Another program is installing or updating packages (process ${holder:-unknown});" \
        "waiting up to $((apt_lock_wait / 60)) min for it to finish ..." >&2
      waiting=true
    fi
    sleep "$((apt_retry_pause < 5 ? apt_retry_pause : 5))"
  done
}

# apt_update APT-GET...: up to three tries of "apt-get update". When indexes still fail to arrive,
# names them and goes on with the lists that did: a package is missing only if it cannot be
# installed from those, which apt_install then says. Fails when apt-get update fails otherwise.
apt_update() {
  local attempt output status failed=""
  for attempt in 1 2 3; do
    status=0
    output=$(apt_get "$@" update -q) || status=$?
    failed=$(grep -E '^[EW]: Failed to fetch' <<<"$output" | sed -E 's/^[EW]: Failed to fetch //') || true
    [ "$status" -eq 0 ] && [ -z "$failed" ] && return 0
    if [ -z "$failed" ]; then
      printf '%s\n' "$output" >&2
      echo "apt-get update failed (exit code $status)." >&2
      return 1
    fi
    if [ "$attempt" -lt 3 ]; then
      echo "apt-get update: $(wc -l <<<"$failed") package index(es) did not arrive (try $attempt of 3); trying again in $apt_retry_pause s." >&2
      sleep "$apt_retry_pause"
    fi
  done
  {
    echo "apt-get update: these package indexes did not arrive after 3 tries:"
    sed 's/^/  /' <<<"$failed"
    echo "The archive is probably in the middle of an update. Going on with the indexes that did arrive."
  } >&2
}

# apt_install APT-GET... -- PACKAGE...: installs the packages (no recommended extras). When that
# fails, names each package that cannot be installed from the indexes apt has, with apt's reason.
apt_install() {
  local apt=() package output reasons failed=()
  while [ "$1" != -- ]; do apt+=("$1"); shift; done
  shift
  if output=$(DEBIAN_FRONTEND=noninteractive apt_get "${apt[@]}" install -y -q \
    --no-install-recommends "$@"); then
    return 0
  fi
  for package in "$@"; do
    if ! reasons=$("${apt[@]}" install -s -q --no-install-recommends "$package" 2>&1); then
      failed+=("$package")
      echo "Cannot install $package. apt-get says:" >&2
      grep -E '^ |^E:' <<<"$reasons" | grep -v -E 'information may help|^E: Unable to correct problems' |
        head -n 12 | sed 's/^/  /' >&2
    fi
  done
  if [ ${#failed[@]} -eq 0 ]; then
    printf '%s\n' "$output" | tail -n 20 >&2
    echo "apt-get install failed (above), although each package on its own could be installed." >&2
  fi
  return 1
}

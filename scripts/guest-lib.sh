# Sourced by scripts/guest-image.sh (the x86-64 guest) and scripts/guest-image-i386.sh (the
# 32-bit one): what building any guest image involves. The cache: each image is built once in
# $guest_cache/KIND/KEY, KEY a hash of its inputs, outside the clone, so that every clone of this
# user (and every CI run, which clones afresh) uses it; a partial build is never taken for a whole
# one, and of each kind the two images used last are kept.
# The root file system is put together in a folder of its own under /var/tmp, whatever the
# clone's path: debootstrap leaves links out of a root whose path holds a blank. A failed build
# leaves no mount, no such folder, no process in it and no partial image.

guest_mirror=http://deb.debian.org/debian
guest_security_mirror=http://deb.debian.org/debian-security
guest_sudo=""
[ "$(id -u)" -ne 0 ] && guest_sudo=sudo
guest_cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvik-guests

# guest_image_open IMAGES KEY [--cached]: with --cached, only says whether the image is built
# (status 0, and its folder) or not (status 1). Otherwise prints the folder and ends the script
# when the image is built already; if not, takes the images' lock and sets up the partial image
# ($guest_work) and its log ($guest_log), for the script to go on building.
guest_image_open() {
  guest_images=$1
  guest_image=$1/$2
  if [ "${3:-}" = --cached ]; then
    [ -f "$guest_image/ready" ] && echo "$guest_image"
    exit
  fi
  mkdir -p "$guest_images"
  exec 9>"$guest_images/lock"
  flock 9
  if [ -f "$guest_image/ready" ]; then
    # Marked as used now: the images used last are the ones kept.
    touch "$guest_image/ready"
    echo "$guest_image"
    exit 0
  fi
  guest_started=$SECONDS
  guest_work=$guest_image.partial
  guest_log=$guest_work/build.log
  trap guest_image_cleanup EXIT
  guest_image_cleanup
  mkdir -p "$guest_work"
}

# guest_root_folder: makes and prints a new folder under /var/tmp for a root file system (or a
# mount point of one), named in the partial image so that a killed build's is removed later.
guest_root_folder() {
  local folder
  folder=$(mktemp -d /var/tmp/quorvik-guest-root.XXXXXX)
  echo "$folder" >>"$guest_work/root-folders"
  echo "$folder"
}

# Ends what still runs in each root folder, unmounts what is mounted in or on it (innermost
# first) and removes it.
guest_remove_root_folders() {
  local folder process mounted
  for folder in $(cat "$guest_work/root-folders" 2>/dev/null); do
    [ -d "$folder" ] || continue
    for process in /proc/[0-9]*; do
      [ "$($guest_sudo readlink "$process/root" 2>/dev/null)" = "$folder" ] &&
        $guest_sudo kill -KILL "${process#/proc/}" 2>/dev/null
    done
    for mounted in $(awk -v folder="$folder" '$2 == folder || index($2, folder "/") == 1 { print $2 }' \
      /proc/mounts | sort -r); do
      $guest_sudo umount "$mounted" || $guest_sudo umount --lazy "$mounted"
    done
    $guest_sudo rm -rf --one-file-system "$folder"
  done
  rm -f "$guest_work/root-folders"
}

guest_image_cleanup() {
  guest_remove_root_folders
  $guest_sudo rm -rf "$guest_work"
}

# step WHAT COMMAND...: runs a step with its output in the log; on failure keeps the log and
# shows its end.
step() {
  local what=$1
  shift
  echo "Guest image: $what ..." >&2
  if ! "$@" >>"$guest_log" 2>&1; then
    cp "$guest_log" "$guest_images/failed.log"
    echo "Guest image: $what failed; the end of $guest_images/failed.log:" >&2
    tail -n 40 "$guest_log" >&2
    return 1
  fi
}

# guest_packages LIST_FILE: the list's packages, one a line.
guest_packages() {
  sed -e 's/#.*//' -e 's/[[:space:]]//g' "$1" | grep .
}

# guest_sources_list: the package sources of a guest, its updates included.
guest_sources_list() {
  cat <<EOF
deb $guest_mirror bookworm main
deb $guest_mirror bookworm-updates main
deb $guest_security_mirror bookworm-security main
EOF
}

# guest_write_files ROOT: what every guest holds beyond its packages. PID 1 mounts the kernel's
# file systems and the control folder, which holds the script of this run (written by
# scripts/guest.sh, or put on a disk of its own where the emulator has no shared folders, as
# Bochs has none), runs it, and powers the guest off.
guest_write_files() {
  local rootfs=$1
  $guest_sudo tee "$rootfs/sbin/quorvik-guest-init" >/dev/null <<'EOF'
#!/bin/sh
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mountpoint -q /run || mount -t tmpfs tmpfs /run
modprobe -a 9pnet_virtio 9p virtio_console 2>/dev/null
mkdir -p /run/control
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 control /run/control 2>/dev/null ||
  mount -L quorvik-control /run/control 2>/dev/null; then
  /bin/bash /run/control/run.sh
else
  echo "quorvik-guest-init: the control share is missing" >&2
fi
sync
echo o >/proc/sysrq-trigger
sleep 60
EOF
  $guest_sudo chmod 755 "$rootfs/sbin/quorvik-guest-init"
  echo quorvik-guest | $guest_sudo tee "$rootfs/etc/hostname" >/dev/null
  printf '127.0.0.1 localhost\n127.0.1.1 quorvik-guest\n' | $guest_sudo tee "$rootfs/etc/hosts" >/dev/null
  # What scripts/guest.sh's runs may rely on, beyond the packages.
  $guest_sudo tee "$rootfs/etc/quorvik-guest.env" >/dev/null <<'EOF'
# A 32-bit Wine prefix, made when the image was built; cmake/run-under-wine.sh copies it
# rather than making a new prefix (which takes minutes under emulation).
QUORVIK_WINEPREFIX_TEMPLATE=/var/lib/quorvik-guest/wineprefix-i386
EOF
}

# guest_make_wineprefix SETUP GUEST_OPTION...: the new guest's first boot (scripts/guest.sh with
# these options), which runs the shell code SETUP (if any) and makes the 32-bit Wine prefix
# there, because that is the one place sure to run 32-bit Wine.
guest_make_wineprefix() {
  local setup=$1
  shift
  step "making the 32-bit Wine prefix inside the guest" \
    "$root/scripts/guest.sh" "$@" --writable --timeout 1800 -- sh -ec '
    eval "$1"
    export WINEPREFIX=$QUORVIK_WINEPREFIX_TEMPLATE WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    mkdir -p "$(dirname "$WINEPREFIX")"
    # The first Wine process waits five minutes for a new prefix to be made, then goes on without
    # it and fails (could not load kernel32.dll); under emulation on a busy host the making takes
    # longer. It goes on all the same: wait for it to end, then start in the finished prefix.
    if ! /usr/lib/wine/wine wineboot --init; then
      echo "The Wine prefix took longer than Wine waits; waiting for it to be made."
      wineserver -w
      /usr/lib/wine/wine wineboot --init
    fi
    # A crash must end the program, not wait for a debugger that holds its output open.
    /usr/lib/wine/wine reg add "HKCU\\Software\\Wine\\DllOverrides" /v winedbg.exe /t REG_SZ /d "" /f
    wineserver -w
    test -f "$WINEPREFIX/system.reg"' sh "$setup"
}

# guest_image_close: marks the partial image whole, puts it beside the others of its kind and
# prints its folder. Of those, the two used last stay (another clone may be at a commit that
# builds the other one); older ones go, and so does what killed builds left.
guest_image_close() {
  local old
  guest_remove_root_folders
  touch "$guest_work/ready"
  find "$guest_images" -mindepth 1 -maxdepth 1 -type d -name '*.partial' ! -name "${guest_work##*/}" \
    -exec rm -rf {} +
  mv "$guest_work" "$guest_image"
  find "$guest_images" -mindepth 1 -maxdepth 1 -type d ! -name '*.partial' ! -exec test -f {}/ready \; \
    -exec rm -rf {} +
  find "$guest_images" -mindepth 2 -maxdepth 2 -name ready -printf '%T@ %h\n' | sort -rn |
    tail -n +3 | cut -d' ' -f2- | while IFS= read -r old; do rm -rf "$old"; done
  trap - EXIT
  echo "Guest image built in $((SECONDS - guest_started)) s: $guest_image" >&2
  echo "$guest_image"
}

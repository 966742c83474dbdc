#!/usr/bin/env bash
# Builds, once, the emulated Debian 12 guest that scripts/guest.sh boots, and prints the folder
# that holds it: disk.img (the ext4 root file system), vmlinuz and initrd.img.
#
# The folder is build/guest/KEY, KEY a hash of this script and scripts/guest-packages.list: a
# change to either builds a new image (and removes the old ones); otherwise the cached one is
# used. Everything comes from Debian's packages: debootstrap makes the root file system, the
# i386 packages are added in a chroot of it, and the 32-bit Wine prefix is made once, inside the
# new guest, because that is the only place here where 32-bit Wine runs.
#
# The root file system is put together in a folder of its own under /var/tmp, whatever the
# clone's path: debootstrap leaves links out of a root whose path holds a blank. A failed build
# leaves no mount, no such folder and no image that a later run would take for a whole one.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/apt.sh"
packages_file=$root/scripts/guest-packages.list
mirror=http://deb.debian.org/debian
security_mirror=http://deb.debian.org/debian-security
# Files are written into the guest, and the guest itself runs, in the UTF-8 locale every Debian
# has, whatever the host's.
export LC_ALL=C.UTF-8

key=$(cat "$0" "$packages_file" | sha256sum | cut -c1-16)
images=$root/build/guest
image=$images/$key
# --cached: only says whether the image is built (status 0, and its folder) or not (status 1).
if [ "${1:-}" = --cached ]; then
  [ -f "$image/ready" ] && echo "$image"
  exit
fi
mkdir -p "$images"
exec 9>"$images/lock"
flock 9
if [ -f "$image/ready" ]; then
  echo "$image"
  exit 0
fi

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
started=$SECONDS
work=$image.partial
log=$work/build.log
rootfs=""
# Ends what still runs in the root file system, unmounts what was mounted there and removes it,
# then the partial image. The root's folder is named in the partial image's folder, so that a
# run that was killed has its leftovers removed by the next one.
cleanup() {
  local folder process
  for folder in "$rootfs" $(cat "$work/rootfs-folder" 2>/dev/null); do
    [ -n "$folder" ] && [ -d "$folder" ] || continue
    for process in /proc/[0-9]*; do
      [ "$($sudo readlink "$process/root" 2>/dev/null)" = "$folder" ] &&
        $sudo kill -KILL "${process#/proc/}" 2>/dev/null
    done
    if mountpoint -q "$folder/proc"; then
      $sudo umount "$folder/proc" || $sudo umount --lazy "$folder/proc"
    fi
    $sudo rm -rf --one-file-system "$folder"
  done
  $sudo rm -rf "$work"
}
trap cleanup EXIT
cleanup
mkdir -p "$work"
rootfs=$(mktemp -d /var/tmp/quorvik-guest-root.XXXXXX)
echo "$rootfs" >"$work/rootfs-folder"

# Runs a step with its output in the log; on failure keeps the log and shows its end.
step() {
  local what=$1
  shift
  echo "Guest image: $what ..." >&2
  if ! "$@" >>"$log" 2>&1; then
    cp "$log" "$images/failed.log"
    echo "Guest image: $what failed; the end of $images/failed.log:" >&2
    tail -n 40 "$log" >&2
    return 1
  fi
}

in_guest_root() {
  $sudo chroot "$rootfs" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$packages_file" | grep .)
native=()
foreign=()
for package in "${wanted[@]}"; do
  case $package in
    *:*) foreign+=("$package") ;;
    *) native+=("$package") ;;
  esac
done

step "installing the Debian 12 base system (debootstrap)" \
  $sudo debootstrap --variant=minbase --arch=amd64 \
  --include="$(IFS=,; echo "${native[*]}")" bookworm "$rootfs" "$mirror"

# No service may start inside the chroot while packages install.
printf '#!/bin/sh\nexit 101\n' | $sudo tee "$rootfs/usr/sbin/policy-rc.d" >/dev/null
$sudo chmod 755 "$rootfs/usr/sbin/policy-rc.d"
$sudo tee "$rootfs/etc/apt/sources.list" >/dev/null <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security_mirror bookworm-security main
EOF
$sudo mount -t proc proc "$rootfs/proc"
echo "Guest image: adding the i386 packages (${foreign[*]}) and updates ..." >&2
in_guest_root dpkg --add-architecture i386
apt_update in_guest_root apt-get
apt_install in_guest_root apt-get -- "${foreign[@]}"
step "installing updates" in_guest_root apt-get upgrade -y -q --no-install-recommends
in_guest_root sh -ec 'apt-get clean; rm -rf /var/lib/apt/lists/*'
$sudo umount "$rootfs/proc"
$sudo rm "$rootfs/usr/sbin/policy-rc.d"

# PID 1 of the guest: mounts the kernel's file systems and the share "control", which holds the
# script of this run (written by scripts/guest.sh), runs it, and powers the guest off.
$sudo tee "$rootfs/sbin/quorvik-guest-init" >/dev/null <<'EOF'
#!/bin/sh
mountpoint -q /proc || mount -t proc proc /proc
mountpoint -q /sys || mount -t sysfs sysfs /sys
mountpoint -q /dev || mount -t devtmpfs devtmpfs /dev
mountpoint -q /run || mount -t tmpfs tmpfs /run
modprobe -a 9pnet_virtio 9p virtio_console
mkdir -p /run/control
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 control /run/control; then
  /bin/bash /run/control/run.sh
else
  echo "quorvik-guest-init: the control share is missing" >&2
fi
sync
echo o >/proc/sysrq-trigger
sleep 60
EOF
$sudo chmod 755 "$rootfs/sbin/quorvik-guest-init"
echo quorvik-guest | $sudo tee "$rootfs/etc/hostname" >/dev/null
printf '127.0.0.1 localhost\n127.0.1.1 quorvik-guest\n' | $sudo tee "$rootfs/etc/hosts" >/dev/null
# What scripts/guest.sh's runs may rely on, beyond the packages.
$sudo tee "$rootfs/etc/quorvik-guest.env" >/dev/null <<'EOF'
# A 32-bit Wine prefix, made when the image was built; cmake/run-under-wine.sh copies it
# rather than making a new prefix (which takes minutes under emulation).
QUORVIK_WINEPREFIX_TEMPLATE=/var/lib/quorvik-guest/wineprefix-i386
EOF

kernel=$(ls "$rootfs"/boot/vmlinuz-* | tail -n 1)
initrd=$rootfs/boot/initrd.img-${kernel##*/vmlinuz-}
$sudo cat "$kernel" >"$work/vmlinuz"
$sudo cat "$initrd" >"$work/initrd.img"

# Sparse: the file takes only the space the guest's files use.
truncate -s 12G "$work/disk.img"
step "making the ext4 disk image" \
  $sudo mkfs.ext4 -q -F -L quorvik-guest -E root_owner=0:0 -d "$rootfs" "$work/disk.img"
$sudo rm -rf --one-file-system "$rootfs"
rm "$work/rootfs-folder"

step "making the 32-bit Wine prefix inside the guest" \
  "$root/scripts/guest.sh" --image "$work" --writable --timeout 1200 -- sh -ec '
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
  test -f "$WINEPREFIX/system.reg"'

touch "$work/ready"
find "$images" -mindepth 1 -maxdepth 1 -type d ! -name "$key.partial" -exec rm -rf {} +
mv "$work" "$image"
trap - EXIT
echo "Guest image built in $((SECONDS - started)) s: $image" >&2
echo "$image"

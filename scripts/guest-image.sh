#!/usr/bin/env bash
# Builds, once, the emulated x86-64 Debian 12 guest that scripts/guest.sh boots, and prints the
# folder that holds it: disk.img (the ext4 root file system), vmlinuz and initrd.img.
#
# The folder is ~/.cache/quorvik-guests/amd64/KEY ($XDG_CACHE_HOME in place of ~/.cache where
# set), KEY a hash of this script, scripts/guest-lib.sh and scripts/guest-packages.list: a change
# to any builds a new image; otherwise the cached one is used, by any clone. Everything comes from Debian's packages: debootstrap makes
# the root file system, the i386 packages are added in a chroot of it, and the 32-bit Wine
# prefix is made once, inside the new guest, because that is the only place here where 32-bit
# Wine is sure to run.
#
# Usage: guest-image.sh [--cached]   (--cached: only says whether the image is built: status 0
# and its folder, or status 1)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/apt.sh"
. "$root/scripts/guest-lib.sh"
packages_file=$root/scripts/guest-packages.list
# Files are written into the guest, and the guest itself runs, in the UTF-8 locale every Debian
# has, whatever the host's.
export LC_ALL=C.UTF-8

key=$(cat "$0" "$root/scripts/guest-lib.sh" "$packages_file" | sha256sum | cut -c1-16)
guest_image_open "$guest_cache/amd64" "$key" "${1:-}"
rootfs=$(guest_root_folder)

in_guest_root() {
  $guest_sudo chroot "$rootfs" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

mapfile -t wanted < <(guest_packages "$packages_file")
native=()
foreign=()
for package in "${wanted[@]}"; do
  case $package in
    *:*) foreign+=("$package") ;;
    *) native+=("$package") ;;
  esac
done

step "installing the Debian 12 base system (debootstrap)" \
  $guest_sudo debootstrap --variant=minbase --arch=amd64 \
  --include="$(IFS=,; echo "${native[*]}")" bookworm "$rootfs" "$guest_mirror"

# No service may start inside the chroot while packages install.
printf '#!/bin/sh\nexit 101\n' | $guest_sudo tee "$rootfs/usr/sbin/policy-rc.d" >/dev/null
$guest_sudo chmod 755 "$rootfs/usr/sbin/policy-rc.d"
guest_sources_list | $guest_sudo tee "$rootfs/etc/apt/sources.list" >/dev/null
$guest_sudo mount -t proc proc "$rootfs/proc"
echo "Guest image: adding the i386 packages (${foreign[*]}) and updates ..." >&2
in_guest_root dpkg --add-architecture i386
apt_update in_guest_root apt-get
apt_install in_guest_root apt-get -- "${foreign[@]}"
step "installing updates" in_guest_root apt-get upgrade -y -q --no-install-recommends
in_guest_root sh -ec 'apt-get clean; rm -rf /var/lib/apt/lists/*'
$guest_sudo umount "$rootfs/proc"
$guest_sudo rm "$rootfs/usr/sbin/policy-rc.d"
guest_write_files "$rootfs"

kernel=$(ls "$rootfs"/boot/vmlinuz-* | tail -n 1)
initrd=$rootfs/boot/initrd.img-${kernel##*/vmlinuz-}
$guest_sudo cat "$kernel" >"$guest_work/vmlinuz"
$guest_sudo cat "$initrd" >"$guest_work/initrd.img"

# Sparse: the file takes only the space the guest's files use.
truncate -s 12G "$guest_work/disk.img"
step "making the ext4 disk image" \
  $guest_sudo mkfs.ext4 -q -F -L quorvik-guest -E root_owner=0:0 -d "$rootfs" "$guest_work/disk.img"
$guest_sudo rm -rf --one-file-system "$rootfs"

guest_make_wineprefix "" --image "$guest_work"
guest_image_close

#!/usr/bin/env bash
# Builds, once, the 32-bit Debian 12 guest that scripts/guest.sh --arch i386 boots (QEMU) and
# scripts/no-sse2.sh boots under Bochs, and prints the folder that holds it: disk.img (the ext4
# root file system, which boots from its own first sector with extlinux), vmlinuz and initrd.img.
#
# The folder is ~/.cache/quorvik-guests/i386/KEY ($XDG_CACHE_HOME in place of ~/.cache where
# set), KEY a hash of this script, scripts/guest-lib.sh and scripts/guest-packages-i386.list: a
# change to any builds a new image; otherwise the cached one is used, by any clone. Everything comes from Debian's i386 packages. This machine fetches them (debootstrap's
# first stage, then the updates with its own apt-get); what must run as 32-bit code (debootstrap's
# second stage, installing the updates) runs in a chroot of the new root, here where the kernel
# executes 32-bit code (scripts/machine.sh), otherwise inside the x86-64 guest, whose kernel
# does. No handler for foreign programs is registered here, so nothing makes this machine seem to
# run 32-bit code. The Wine prefix is then made in the new guest's first boot, which also installs
# its boot loader.
#
# Usage: guest-image-i386.sh [--cached]   (--cached: only says whether the image is built:
# status 0 and its folder, or status 1)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/apt.sh"
. "$root/scripts/machine.sh"
. "$root/scripts/guest-lib.sh"
packages_file=$root/scripts/guest-packages-i386.list
export LC_ALL=C.UTF-8

key=$(cat "$0" "$root/scripts/guest-lib.sh" "$packages_file" | sha256sum | cut -c1-16)
guest_image_open "$guest_cache/i386" "$key" "${1:-}"
rootfs=$(guest_root_folder)
disk=$guest_work/disk.img
# What the 32-bit steps see of this machine, at /run/quorvik-build in the new root: the steps'
# scripts and the package lists and packages fetched here.
share=$guest_work/share
mkdir -p "$share/apt/lists/partial" "$share/apt/archives/partial" "$share/apt/empty"

mapfile -t wanted < <(guest_packages "$packages_file")
step "fetching and unpacking the Debian 12 i386 base system (debootstrap, first stage)" \
  $guest_sudo debootstrap --foreign --variant=minbase --arch=i386 \
  --include="$(IFS=,; echo "${wanted[*]}")" bookworm "$rootfs" "$guest_mirror"
# No service may start inside the chroot while packages install.
printf '#!/bin/sh\nexit 101\n' | $guest_sudo tee "$rootfs/usr/sbin/policy-rc.d" >/dev/null
$guest_sudo chmod 755 "$rootfs/usr/sbin/policy-rc.d"
guest_write_files "$rootfs"

# The disk: a size Bochs takes as it is (whole cylinders of 16 heads and 63 sectors), 8 GiB,
# sparse. Without the 64bit and metadata_csum features, which extlinux cannot read.
truncate -s $((16644 * 16 * 63 * 512)) "$disk"
step "making the ext4 disk image" \
  $guest_sudo mkfs.ext4 -q -F -L quorvik-guest -O ^64bit,^metadata_csum -E root_owner=0:0 \
  -d "$rootfs" "$disk"
$guest_sudo rm -rf --one-file-system "$rootfs"

# Mounts the new root, runs the step's script (a file in the share) in a chroot of it, and
# unmounts it, giving back the space of deleted files. Run as root, here or in the x86-64 guest.
cat >"$share/enter-root.sh" <<'EOF'
set -eu
disk=$1 mountpoint=$2 share=$3 script=$4
mkdir -p "$mountpoint"
mount "$disk" "$mountpoint"
mount -t proc proc "$mountpoint/proc"
mkdir -p "$mountpoint/run/quorvik-build"
mount --bind "$share" "$mountpoint/run/quorvik-build"
status=0
chroot "$mountpoint" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
  DEBIAN_FRONTEND=noninteractive /bin/sh -e "/run/quorvik-build/$script" || status=$?
umount "$mountpoint/run/quorvik-build"
# debootstrap's second stage unmounts /proc itself.
if mountpoint -q "$mountpoint/proc"; then umount "$mountpoint/proc"; fi
fstrim "$mountpoint" 2>/dev/null || true
umount "$mountpoint"
exit "$status"
EOF
in_new_root() {
  local script=$1
  if kernel_runs_32bit_code; then
    $guest_sudo sh "$share/enter-root.sh" "$disk" "$(guest_root_folder)" "$share" "$script"
  else
    "$root/scripts/guest.sh" --share "$guest_work" --timeout 3600 \
      --qemu -drive --qemu "file=${disk//,/,,},format=raw,if=virtio,cache=unsafe,discard=unmap" \
      -- sh "$share/enter-root.sh" /dev/vdb /mnt/i386 "$share" "$script"
  fi
}
where="in a chroot"
kernel_runs_32bit_code || where="in the x86-64 guest, which runs 32-bit code"

echo '/debootstrap/debootstrap --second-stage' >"$share/second-stage.sh"
step "installing the base system $where (debootstrap, second stage)" in_new_root second-stage.sh

# The updates, fetched here for the packages the new root now holds. An index that does not
# arrive leaves out only its updates (scripts/apt.sh).
guest_sources_list | sed 's/^deb /deb [signed-by=\/usr\/share\/keyrings\/debian-archive-keyring.gpg] /' \
  >"$share/apt/sources.list"
debugfs -R 'cat /var/lib/dpkg/status' "$disk" >"$share/apt/status" 2>/dev/null
[ -s "$share/apt/status" ] || { echo "Guest image: the new root has no package status" >&2; exit 1; }
host_apt=(apt-get -o APT::Architecture=i386 -o APT::Architectures::=i386
  -o Dir::Etc::SourceList="$share/apt/sources.list" -o Dir::Etc::SourceParts="$share/apt/empty"
  -o Dir::Etc::Preferences="$share/apt/empty/none" -o Dir::Etc::PreferencesParts="$share/apt/empty"
  -o Dir::State::Lists="$share/apt/lists" -o Dir::State::status="$share/apt/status"
  -o Dir::Cache="$share/apt" -o Dir::Cache::Archives="$share/apt/archives")
echo "Guest image: fetching the i386 package lists and updates ..." >&2
apt_update "${host_apt[@]}"
step "fetching the updates" "${host_apt[@]}" -y -q --download-only upgrade

guest_sources_list >"$share/sources.list"
cat >"$share/updates.sh" <<'EOF'
cp /run/quorvik-build/sources.list /etc/apt/sources.list
apt-get -o Dir::State::Lists=/run/quorvik-build/apt/lists \
  -o Dir::Cache::Archives=/run/quorvik-build/apt/archives \
  -y -q --no-install-recommends --no-download upgrade
rm -f /usr/sbin/policy-rc.d /var/cache/apt/*.bin
EOF
step "installing the updates $where" in_new_root updates.sh

# The kernel, its initial RAM disk and the boot loader's settings, for QEMU and Bochs alike.
version=$(debugfs -R 'ls /boot' "$disk" 2>/dev/null | tr -s ' \t' '\n' | sed -n 's/^vmlinuz-//p' |
  sort -V | tail -n 1)
[ -n "$version" ] || { echo "Guest image: the new root has no kernel" >&2; exit 1; }
debugfs -R "ls -l /boot" "$disk" >>"$guest_log" 2>&1
# debugfs splits its request at blanks, so the files are named from inside the folder: the
# clone's path may hold a blank.
(cd "$guest_work" && debugfs -R "dump /boot/vmlinuz-$version vmlinuz" "$disk") >>"$guest_log" 2>&1
(cd "$guest_work" && debugfs -R "dump /boot/initrd.img-$version initrd.img" "$disk") \
  >>"$guest_log" 2>&1
if [ ! -s "$guest_work/vmlinuz" ] || [ ! -s "$guest_work/initrd.img" ]; then
  cp "$guest_log" "$guest_images/failed.log"
  echo "Guest image: cannot read the kernel $version or its initial RAM disk from the new root;" \
    "/boot is listed at the end of $guest_images/failed.log" >&2
  exit 1
fi
rm -rf "$share"

# extlinux puts its boot sector in the file system's first sector, the disk's first: the
# disk boots as it is, with no partition table.
guest_make_wineprefix "
  mkdir -p /boot/extlinux
  cat >/boot/extlinux/extlinux.conf <<'CONF'
DEFAULT quorvik
PROMPT 0
TIMEOUT 0
LABEL quorvik
  LINUX /boot/vmlinuz-$version
  INITRD /boot/initrd.img-$version
  APPEND root=LABEL=quorvik-guest rw console=ttyS0 quiet panic=-1 mitigations=off init=/sbin/quorvik-guest-init
CONF
  extlinux --install /boot/extlinux" --arch i386 --image "$guest_work"
guest_image_close

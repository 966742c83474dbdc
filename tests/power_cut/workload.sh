#!/bin/bash
# The cutting guest of scripts/power-cut.sh. Makes a file system on each logged disk, puts the
# sample targets on it and, once the host has noted where the disks' write logs stand, patches
# them: one after another, one keeping a backup, two side by side, and one with the 32-bit
# Windows build under Wine. Then it waits until the file systems have written back everything
# they hold, as they do on their own: the seconds after the renames, when journals commit and
# delayed data is written, are part of what a power cut may interrupt.
#
# Usage: workload.sh CONTROL_FOLDER
# The folder holds settings (the file systems), bin/ (the programs), targets/ (the originals and
# their list) and, from the host, the file "go". Events for the host are lines that begin with
# "power-cut-event: ".
set -euo pipefail
control=$1
. "$control/settings"
event() { echo "power-cut-event: $*"; }
uptime_seconds() { cut -d ' ' -f 1 /proc/uptime; }

cp "$control/bin/quorvik-patch" /usr/local/bin/
windows_program=""
if [ -f "$control/bin/quorvik-patch.exe" ]; then
  # Wine maps the program into memory, which the shared folder does not serve correctly.
  mkdir -p /usr/local/lib/quorvik
  cp "$control/bin/quorvik-patch.exe" /usr/local/lib/quorvik/
  windows_program=/usr/local/lib/quorvik/quorvik-patch.exe
fi

disk_with_serial() {
  local block
  for block in /sys/block/vd*; do
    if [ "$(cat "$block/serial" 2>/dev/null)" = "$1" ]; then
      echo "/dev/${block##*/}"
      return 0
    fi
  done
  echo "workload: no disk with the serial $1" >&2
  return 1
}

# ext4 with noauto_da_alloc, which does not write a renamed file's data early for programs
# that forget to flush it; noinit_itable, so that no background thread writes to the disk.
# FAT32 as Windows formats a small disk, one 512-byte sector a cluster.
declare -A logged_disk
for fs in "${file_systems[@]}"; do
  disk=$(disk_with_serial "cut-$fs")
  logged_disk[$fs]=$disk
  mountpoint=/mnt/power-cut/$fs
  mkdir -p "$mountpoint"
  case $fs in
    ext4)
      mkfs.ext4 -q -F -E nodiscard,lazy_itable_init=1,lazy_journal_init=1 "$disk"
      mount -t ext4 -o noauto_da_alloc,noinit_itable "$disk" "$mountpoint"
      ;;
    xfs)
      # With reflink, as mkfs.xfs makes it by default: a patch run clones the file there.
      mkfs.xfs -q -f -K -m reflink=1 "$disk"
      mount -t xfs "$disk" "$mountpoint"
      ;;
    vfat)
      mkfs.fat -F 32 -s 1 -n POWERCUT "$disk" >/dev/null
      mount -t vfat "$disk" "$mountpoint"
      ;;
  esac
  mkdir "$mountpoint/Programmi"
  cp "$control"/targets/*.exe "$mountpoint/Programmi/"
done
# The targets must be on the disks for good before the patch runs start, as an installed program
# is. sync writes everything, but asks the disk to flush its cache only on journaled file
# systems; fsync of a file does that on FAT too.
sync
for fs in "${file_systems[@]}"; do sync "/mnt/power-cut/$fs/Programmi/"*.exe; done

wine32=/usr/lib/wine/wine
if [ -n "$windows_program" ]; then
  # The image's 32-bit prefix is used as it is: this guest's disk is thrown away afterwards.
  export WINEPREFIX=$QUORVIK_WINEPREFIX_TEMPLATE WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  # One Wine server for the whole run, started now, so that the patch runs start warm.
  wineserver -p
  "$wine32" "$windows_program" --version >/dev/null
fi

event ready
until [ -e "$control/go" ]; do sleep 0.2; done
event started

# Every run must succeed; a failure is reported with its target and output.
patch_run() {
  local output status=0
  output=$("$@" 2>&1) || status=$?
  if [ "$status" -ne 0 ]; then
    echo "workload: '$*' ended with $status: $output"
    return 1
  fi
}

workload_on() {
  local folder=/mnt/power-cut/$1/Programmi side_by_side=() worker failed=0
  patch_run quorvik-patch patch "$folder/a.exe"
  patch_run quorvik-patch patch --backup "$folder/b.exe"
  patch_run quorvik-patch patch "$folder/c.exe" &
  side_by_side+=($!)
  patch_run quorvik-patch patch "$folder/d.exe" &
  side_by_side+=($!)
  for worker in "${side_by_side[@]}"; do wait "$worker" || failed=1; done
  [ "$failed" -eq 0 ]
  if [ -n "$windows_program" ]; then
    patch_run "$wine32" "$windows_program" patch "Z:${folder//\//\\}\\e.exe"
  fi
}

workers=()
for fs in "${file_systems[@]}"; do
  workload_on "$fs" &
  workers+=($!)
done
failed=0
for worker in "${workers[@]}"; do wait "$worker" || failed=1; done
event patched
[ "$failed" -eq 0 ] || exit 1
# On XFS the new file and the backup are clones of the original, so they still share the blocks
# that the update did not change: otherwise the runs copied the file, and the clone went untested.
if [[ " ${file_systems[*]} " == *" xfs "* ]] &&
  ! filefrag -v /mnt/power-cut/xfs/Programmi/b.exe | grep -q shared; then
  echo "workload: the patched file on XFS shares no blocks with its backup: it was not cloned"
  exit 1
fi

# The file systems write back by themselves: dirty data once it is older than the kernel's
# expiry time, the journal at its commit interval, XFS's log at its sync interval. Wait a full
# expiry and sync interval and a little more for the commit that follows, then until the logged
# disks have taken no write for a few seconds: what they write on their own is then written.
# (The guest's own disk keeps some data dirty, so the system's dirty total never reaches zero.)
expire=$(cat /proc/sys/vm/dirty_expire_centisecs)
xfs_sync=$(cat /proc/sys/fs/xfs/xfssyncd_centisecs 2>/dev/null || echo 0)
quiet_after=$(((expire > xfs_sync ? expire : xfs_sync) / 100 + 10))
quiet_for=5
give_up_after=$((quiet_after + 120))
writes_so_far() {
  local fs
  for fs in "${file_systems[@]}"; do
    awk '{ printf "%s ", $5 }' "/sys/block/${logged_disk[$fs]##*/}/stat"
  done
}
waited=0
last_writes=$(writes_so_far)
quiet=0
while [ "$waited" -lt "$quiet_after" ] || [ "$quiet" -lt "$quiet_for" ]; do
  sleep 1
  waited=$((waited + 1))
  writes=$(writes_so_far)
  if [ "$writes" = "$last_writes" ]; then quiet=$((quiet + 1)); else quiet=0; fi
  last_writes=$writes
  if [ "$waited" -ge "$give_up_after" ]; then
    echo "workload: the disks still took writes $waited s after the patch runs"
    exit 1
  fi
done
event written-back

for fs in "${file_systems[@]}"; do umount "/mnt/power-cut/$fs"; done
if [ -n "$windows_program" ]; then wineserver -k || true; fi
event "done"

#!/usr/bin/env bash
# Runs one command in a fresh emulated Debian 12 guest (x86-64 under QEMU's software emulation),
# for hosts whose kernel cannot execute 32-bit code: 32-bit Wine runs in the guest. Prints the
# command's output (standard output and error together) and exits with its status. The guest
# image is built on first use (scripts/guest-image.sh) and every run starts from it unchanged.
# With --arch i386 the guest is the 32-bit Debian 12 of scripts/guest-image-i386.sh instead, on
# an emulated Pentium III: a processor with MMX and SSE but no SSE2, as the product's oldest
# machines had.
#
# Usage: guest.sh [OPTION]... [--] COMMAND [ARG]...
#   --share DIR        DIR is available in the guest at the same path, read and written through
#                      to the host. Repeatable; without it, the repository is shared.
#   --copy DIR         DIR, inside a share, is copied onto the guest's own disk before the
#                      command runs there, and what the command changed in it is copied back
#                      after. Windows programs must run from such a copy: Wine maps them into
#                      memory, which the share does not serve correctly. Repeatable.
#   --exclude PATTERN  an rsync pattern, relative to each --copy folder, copied neither way.
#   --timeout SECONDS  ends the guest if the command has not ended by then (default 3600).
#   --qemu ARG         one more argument for qemu-system-x86_64, such as a disk of a test's own
#                      (--qemu -drive --qemu file=disk.img,format=raw,if=virtio: the guest's
#                      /dev/vdb) or a control socket (--qemu -qmp --qemu
#                      unix:qmp.sock,server=on,wait=off). Repeatable.
#   --arch i386        the 32-bit guest on a Pentium III (qemu-system-i386) rather than the
#                      x86-64 one.
#   --image DIR        boots the image in DIR rather than the cached one.
#   --writable         keeps what the command changes on the image's disk (with --image).
#
# The command runs as root, in the current folder when that is shared (otherwise in /), with
# LANG=C.UTF-8 and the variables of the guest's /etc/quorvik-guest.env. The guest has 2
# processors, 4 GiB of memory (the 32-bit one 2 GiB), an ext4 root disk (/tmp on it), and no
# network. Exit status: the command's; 124 when the time limit ended the guest; 125 when the
# guest ended without one (it crashed, or QEMU was ended from outside).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
usage() {
  sed -n '/^# Usage:/,/ended from outside/s/^# \{0,1\}//p' "$0" >&2
  exit 2
}

shares=()
copies=()
excludes=()
qemu_extra=()
timeout=3600
image=""
arch=amd64
writable=false
while [ $# -gt 0 ]; do
  case $1 in
    --share) shares+=("$(realpath -e "$2")"); shift 2 ;;
    --copy) copies+=("$(realpath -e "$2")"); shift 2 ;;
    --exclude) excludes+=("$2"); shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --qemu) qemu_extra+=("$2"); shift 2 ;;
    --arch) arch=$2; shift 2 ;;
    --image) image=$2; shift 2 ;;
    --writable) writable=true; shift ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || usage
[ ${#shares[@]} -gt 0 ] || shares=("$root")
# No KVM: software emulation of two processors. SMAP is off because QEMU 7.2's emulation of it
# makes the x86-64 guest's kernel fault on Wine's 32-bit return to user mode.
case $arch in
  amd64)
    [ -n "$image" ] || image=$("$root/scripts/guest-image.sh")
    machine=(qemu-system-x86_64 -cpu max,-smap -m 4096)
    ;;
  i386)
    [ -n "$image" ] || image=$("$root/scripts/guest-image-i386.sh")
    machine=(qemu-system-i386 -cpu pentium3 -m 2048)
    ;;
  *) usage ;;
esac

# Enclosing folders are mounted first, so that a share inside another one stays visible.
mapfile -t shares < <(printf '%s\n' "${shares[@]}" | sort -u)
inside_a_share() {
  local share
  for share in "${shares[@]}"; do
    case $1/ in "$share"/*) return 0 ;; esac
  done
  return 1
}
for folder in "${copies[@]}"; do
  inside_a_share "$folder" || { echo "guest.sh: --copy $folder is not inside a share" >&2; exit 2; }
done
workdir=/
inside_a_share "$PWD" && workdir=$PWD
command=("$@")

control=$(mktemp -d "${TMPDIR:-/tmp}/quorvik-guest.XXXXXX")
trap 'rm -rf "$control"' EXIT
declare -p shares copies excludes workdir command writable >"$control/settings"

# The part that runs inside the guest, started by the image's /sbin/quorvik-guest-init.
cat >"$control/run.sh" <<'EOF'
set -u
. /run/control/settings
stty -F /dev/hvc0 raw -echo
exec </dev/null >/dev/hvc0 2>&1
uptime() { cut -d ' ' -f 1 /proc/uptime; }
since() { awk -v start="$1" '{ printf "%.1f", $1 - start }' /proc/uptime; }
booted=$(uptime)

mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
echo quorvik-guest >/proc/sys/kernel/hostname
for i in "${!shares[@]}"; do
  mkdir -p "${shares[$i]}"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 "share$i" "${shares[$i]}" || {
    echo "guest: cannot mount the share ${shares[$i]}"
    exit 1
  }
done

rsync_excludes=()
for pattern in "${excludes[@]}"; do rsync_excludes+=(--exclude "$pattern"); done
copied=$(uptime)
for i in "${!copies[@]}"; do
  original=/run/quorvik-guest/original/$i
  copy=/var/lib/quorvik-guest/copy/$i
  mkdir -p "$original" "$copy"
  mount --bind "${copies[$i]}" "$original"
  rsync -a "${rsync_excludes[@]}" "$original/" "$copy/" || {
    echo "guest: cannot copy ${copies[$i]} to the guest's disk"
    exit 1
  }
  mount --bind "$copy" "${copies[$i]}"
done
echo "guest: booted in ${booted} s; copied ${#copies[@]} folder(s) to its disk in $(since "$copied") s"

started=$(uptime)
status=0
(
  cd "$workdir" || exit 1
  set -a
  . /etc/quorvik-guest.env
  set +a
  export HOME=/root LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
  unset LC_ALL
  exec "${command[@]}"
) || status=$?
echo "guest: the command ended with status $status after $(since "$started") s"

for i in "${!copies[@]}"; do
  # Back to the host: what changed, by size and time, and what was deleted; owners stay the
  # host's.
  rsync -rlpt --delete "${rsync_excludes[@]}" "${copies[$i]}/" "/run/quorvik-guest/original/$i/" ||
    { echo "guest: cannot copy ${copies[$i]} back to the host"; status=1; }
done
echo "$status" >/run/control/status
sync
[ "$writable" = true ] && mount -o remount,ro / 2>/dev/null
exit 0
EOF

# QEMU's option syntax takes a comma in a value as two commas.
escape() { printf '%s' "${1//,/,,}"; }
drive="file=$(escape "$image/disk.img"),format=raw,if=virtio,cache=unsafe,snapshot=on"
[ "$writable" = true ] && drive="file=$(escape "$image/disk.img"),format=raw,if=virtio,cache=writeback"
virtfs=(-virtfs "local,path=$(escape "$control"),mount_tag=control,security_model=none,multidevs=remap")
for i in "${!shares[@]}"; do
  virtfs+=(-virtfs "local,path=$(escape "${shares[$i]}"),mount_tag=share$i,security_model=none,multidevs=remap")
done

# no_timer_check: on a busy host the emulated timer can miss the kernel's early check of its
# interrupts, and the kernel then stops at boot ("IO-APIC + timer doesn't work!").
started=$SECONDS
timeout --kill-after=10 "$timeout" "${machine[@]}" -accel tcg,thread=multi -smp 2 \
  -nodefaults -no-user-config -display none -no-reboot -net none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "root=/dev/vda rw console=ttyS0 quiet panic=-1 mitigations=off no_timer_check init=/sbin/quorvik-guest-init" \
  -drive "$drive" \
  -chardev "file,id=console,path=$(escape "$control/console.log")" -serial chardev:console \
  -device virtio-serial-pci -chardev stdio,id=output,signal=off -device virtconsole,chardev=output \
  -device virtio-rng-pci \
  "${virtfs[@]}" \
  "${qemu_extra[@]}" </dev/null &
# timeout runs QEMU in a process group of its own, which Ctrl-C does not reach.
emulator=$!
trap 'kill "$emulator" 2>/dev/null; exit 130' INT TERM
qemu_status=0
wait "$emulator" || qemu_status=$?
echo "guest: ended after $((SECONDS - started)) s" >&2

if [ -f "$control/status" ]; then
  exit "$(cat "$control/status")"
fi
if [ "$qemu_status" -eq 124 ]; then
  echo "guest: the command had not ended after $timeout s; the guest was stopped" >&2
  exit 124
fi
echo "guest: the guest ended without the command's status (QEMU: $qemu_status); its console:" >&2
tail -n 30 "$control/console.log" >&2 || true
exit 125

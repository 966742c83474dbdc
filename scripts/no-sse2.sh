#!/usr/bin/env bash
# The shipped 32-bit programs on a processor without SSE2, under a 32-bit system: the 32-bit
# guest (scripts/guest-image-i386.sh) on an emulated Pentium III, which has MMX and SSE but no
# SSE2, as the product's oldest machines had.
#
# Usage: no-sse2.sh qemu|bochs [--build DIR] [--timeout SECONDS]
#   qemu   QEMU's Pentium III (scripts/guest.sh --arch i386): the companion's commands on sample
#          targets whose texts lie far into the file, so that the whole search runs, and the
#          window's tests of its three outcomes and its start-up guard. QEMU does not refuse SSE2
#          instructions on this model: this shows that the programs choose their plain search
#          there and that it works.
#   bochs  Bochs's Pentium III, which refuses every instruction the model lacks: a program that
#          uses SSE2 without asking must be stopped (the proof that this run traps), and then
#          the companion's patch, check, revert and --backup must work as on this machine. This
#          shows that nothing in the programs uses SSE2 without asking. Slow (about 15 minutes).
#   --build DIR        the win32 build folder to take the programs from (default build/win32).
#   --timeout SECONDS  stops the guest if its run has not ended by then (default 2700).
# The companion's results (exit status, output, bytes of every file) must be exactly those of the
# 64-bit build on this machine's processor, which has SSE2. Exit status: 0 when all passed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export LC_ALL=C.UTF-8
usage() {
  sed -n '/^# Usage:/,/^# 64-bit build/s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
[ $# -ge 1 ] || usage
emulator=$1
shift
build=$root/build/win32
timeout=2700
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=$(realpath -e "$2"); shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    *) usage ;;
  esac
done
case $emulator in
  qemu) steps=full ;;
  bochs) steps=short ;;
  *) usage ;;
esac
started=$SECONDS
fail() {
  echo "No SSE2 ($emulator): $*" >&2
  exit 1
}

cd "$root"
scripts/configure-preset.sh native >/dev/null
cmake --build --preset native --target quorvik-patch make-sample-target >/dev/null
if [ "$build" = "$root/build/win32" ]; then
  scripts/configure-preset.sh win32 >/dev/null
fi
windows_targets=(quorvik-patch uses-sse2)
[ "$emulator" = bochs ] || windows_targets+=(gui_driver_tests)
cmake --build "$build" --target "${windows_targets[@]}" >/dev/null
image=$(scripts/guest-image-i386.sh)

work=$(mktemp -d "$root/build/no-sse2.XXXXXX")
# Bochs takes paths without blanks: its own files lie in a folder under /tmp.
bochs_work=""
emulator_pid=""
cleanup() {
  [ -z "$emulator_pid" ] || kill "$emulator_pid" 2>/dev/null || true
  rm -rf "$work" "$bochs_work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

control=$work/control
mkdir -p "$control/samples" "$work/expected-samples"
cp "$build/cli/quorvik-patch.exe" "$build/tests/no_sse2/uses-sse2.exe" \
  tests/no_sse2/companion_transcript.sh tests/no_sse2/run_in_guest.sh "$control/"
# Texts 256 KiB apart, the last near the end of a 3 MiB file; texts at odd offsets, each twice;
# a file that lacks one text; one that holds the Italian texts already.
make_sample() { build/native/tools/make-sample-target "$control/samples/$1" "${@:2}"; }
make_sample ready.exe --filler 262144 --seed 1
make_sample odd.exe --odd --rounds 2 --filler 131072 --seed 2
make_sample backup.exe --filler 262144 --seed 3
make_sample other.exe --omit 5 --filler 262144 --seed 4
make_sample italian.exe --italian --filler 65536 --seed 5
cp "$control/samples/"* "$work/expected-samples/"
(cd "$work/expected-samples" &&
  bash "$root/tests/no_sse2/companion_transcript.sh" "$steps" "$root/build/native/cli/quorvik-patch") \
  >"$work/expected"

run_qemu() {
  # The window's tests run in the build folder, copied onto the guest's disk (Wine prefixes are
  # not copied: the guest makes its own from the one in its image).
  scripts/guest.sh --arch i386 --share "$root" --share "$work" --copy "$build" \
    --exclude '/wineprefix*' --timeout "$timeout" -- \
    bash "$root/tests/no_sse2/run_in_guest.sh" "$control" "$steps" "$root" >"$work/output" 2>&1
}

run_bochs() {
  bochs_work=$(mktemp -d /tmp/quorvik-bochs.XXXXXX)
  ln -s "$image/disk.img" "$bochs_work/disk.img"
  # The control disk: the run's files and its script, found by its label (the guest's init runs
  # run.sh from it). What the run prints goes to the first serial port, a file here.
  cat >"$control/run.sh" <<'EOF'
exec </dev/null >/dev/ttyS0 2>&1
stty -F /dev/ttyS0 raw -echo
set -a
. /etc/quorvik-guest.env
set +a
export HOME=/root LANG=C.UTF-8 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
bash /run/control/run_in_guest.sh /run/control short
EOF
  # Disks of whole cylinders of 16 heads and 63 sectors (516,096 bytes), which Bochs takes as
  # they are.
  local cylinder=516096 bytes
  bytes=$(du -sb "$control" | cut -f 1)
  local cylinders=$(((bytes * 3 / 2 + (8 << 20)) / cylinder + 1))
  mke2fs -q -t ext2 -L quorvik-control -d "$control" "$bochs_work/control.img" \
    "$((cylinders * cylinder / 1024))k" >/dev/null
  local disk_cylinders=$(($(stat -L -c %s "$bochs_work/disk.img") / cylinder))
  # The guest's disk takes no write (volatile: Bochs keeps the changes aside and drops them).
  cat >"$bochs_work/bochsrc" <<EOF
cpu: model=p3_katmai, count=1, ips=100000000
memory: guest=1024, host=1024
romimage: file=/usr/share/bochs/BIOS-bochs-latest
vgaromimage: file=/usr/share/vgabios/vgabios.bin
ata0: enabled=1, ioaddr1=0x1f0, ioaddr2=0x3f0, irq=14
ata0-master: type=disk, path=$bochs_work/disk.img, mode=volatile, cylinders=$disk_cylinders, heads=16, spt=63
ata0-slave: type=disk, path=$bochs_work/control.img, mode=flat, cylinders=$cylinders, heads=16, spt=63
boot: disk
clock: sync=none, time0=local
com1: enabled=1, mode=file, dev=$bochs_work/serial.log
display_library: x
log: $bochs_work/bochs.log
panic: action=fatal
error: action=report
info: action=ignore
debug: action=ignore
EOF
  # Debian's Bochs starts in its debugger: "c" lets the machine run.
  echo c >"$bochs_work/commands"
  : >"$bochs_work/serial.log"
  # Bochs shows its screen in a window: a virtual display holds it. It cannot power this guest
  # off, so it is stopped once the run's last line has come.
  xvfb-run -a sh -c 'echo $$ >"$1/pid"; exec bochs -q -f "$1/bochsrc" -rc "$1/commands"' sh \
    "$bochs_work" </dev/null >"$bochs_work/bochs.out" 2>&1 &
  local xvfb=$!
  local limit=$((SECONDS + timeout))
  until [ -s "$bochs_work/pid" ]; do sleep 0.2; done
  emulator_pid=$(cat "$bochs_work/pid")
  until grep -q '^no-sse2: end' "$bochs_work/serial.log" 2>/dev/null; do
    if ! kill -0 "$emulator_pid" 2>/dev/null; then
      tail -n 20 "$bochs_work/bochs.out" "$bochs_work/bochs.log" >&2 || true
      break
    fi
    if [ "$SECONDS" -ge "$limit" ]; then
      echo "No SSE2 (bochs): the run had not ended after $timeout s; Bochs was stopped" >&2
      break
    fi
    sleep 2
  done
  kill "$emulator_pid" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  emulator_pid=""
  cp "$bochs_work/serial.log" "$work/output"
}

echo "No SSE2 ($emulator): running the shipped programs in the 32-bit guest ..."
status=0
"run_$emulator" || status=$?
# The guest's console ends its lines with a carriage return as well. Its output is kept for a
# look afterwards.
log=$root/build/no-sse2-$emulator.log
tr -d '\r' <"$work/output" >"$log"
cp "$log" "$work/output"
grep '^no-sse2: ' "$work/output" | cut -d ' ' -f 2- | sed 's/^/  /'
grep -q '^no-sse2: end' "$work/output" || {
  tail -n 40 "$work/output" >&2
  fail "the guest did not finish its run (status $status; its whole output is in $log)"
}

# Judged here: the processor, the trap, the transcript, the window's tests.
failures=()
flags=$(sed -n 's/^no-sse2: flags[[:space:]]*: //p' "$work/output")
grep -qw sse <<<"$flags" || failures+=("the processor does not report SSE: not the Pentium III")
grep -qw sse2 <<<"$flags" && failures+=("the processor reports SSE2")
sse2_exit=$(sed -n 's/^no-sse2: uses-sse2.exe: exit //p' "$work/output")
if [ "$emulator" = bochs ]; then
  # 29: the low byte of the invalid-instruction exception's code, 0xC000001D.
  [ "$sse2_exit" = 29 ] ||
    failures+=("the program that uses SSE2 was not stopped (exit ${sse2_exit:-none}, not 29): this run would not notice SSE2")
fi
sed -n 's/^no-sse2-transcript: //p' "$work/output" >"$work/actual"
if ! diff -u "$work/expected" "$work/actual" >"$work/transcript.diff"; then
  head -n 60 "$work/transcript.diff" >&2
  failures+=("the companion's results differ from the 64-bit build's on this machine (above: - this machine, + the guest)")
fi
if [ "$emulator" = qemu ]; then
  grep -q '^no-sse2: window tests: exit 0$' "$work/output" || {
    grep -v '^no-sse2' "$work/output" | tail -n 60 >&2
    failures+=("the window's tests failed (above)")
  }
fi
echo "No SSE2 ($emulator): $(grep -c ': exit ' "$work/actual") companion runs compared; took $((SECONDS - started)) s."
if [ ${#failures[@]} -gt 0 ]; then
  for failure in "${failures[@]}"; do echo "No SSE2 ($emulator): FAILED: $failure" >&2; done
  echo "No SSE2 ($emulator): the guest's whole output is in $log" >&2
  exit 1
fi
echo "No SSE2 ($emulator): passed."

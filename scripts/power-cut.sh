#!/usr/bin/env bash
# The power-cut test: does a patch run leave every target whole (the original or the patched
# file) whenever the power fails, on a real file system with a real journal?
#
# An emulated guest (scripts/guest.sh) patches sample targets on small disks of their own, one
# ext4 (mounted with noauto_da_alloc), one XFS and one FAT32, which has no journal: with the
# native quorvik-patch one after another, keeping a backup, two side by side, then with the
# 32-bit Windows build under Wine.
# QEMU's blklogwrites filter logs every write and flush that reaches each disk, in the order
# they completed there; meanwhile this script notes, at random moments, how far each log has
# got. Every prefix of a log is what the disk held when the power failed right then (a power
# cut at that moment on a disk that keeps every completed write), and leaving out writes made
# after the prefix's last flush is what a disk with a volatile cache may hold. Crash states are
# chosen from those prefixes: the disk just before the first patch run's first write and at the
# end of the log, then, alternately, at the moments noted and after a uniformly chosen write
# (moments that give a state chosen already are skipped, and once they run out every cut is
# after a chosen write); some lose unflushed writes. A fresh guest then mounts each state (the
# journal replays; FAT32 is first repaired by fsck.fat, as Windows runs chkdsk at the next start)
# and checks every target (tests/power_cut/check_states.sh).
#
# Usage: power-cut.sh [--cuts N] [--seed N] [--native-only] [--keep]
#   --cuts N        crash states to check, at least 10; split between the file systems
#                   (default 40). More than 100 run the workload more than once, for other
#                   orders of events.
#   --seed N        the seed of the random choices (default: a new one, printed).
#   --native-only   leave out the run under Wine.
#   --keep          keep the working folder (logs, disks, outputs) under build/.
# Exit status: 0 when every state passed, 1 when one failed or the test could not run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The script's own number formats and sorting do not follow the caller's locale.
export LC_ALL=C.UTF-8

usage() {
  sed -n '/^# Usage:/,/^# Exit status/s/^# \{0,1\}//p' "$0" >&2
  exit 2
}
cuts=40
seed=$((RANDOM * 32768 + RANDOM))
windows=true
keep=false
while [ $# -gt 0 ]; do
  case $1 in
    --cuts) cuts=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --native-only) windows=false; shift ;;
    --keep) keep=true; shift ;;
    *) usage ;;
  esac
done
[[ $cuts =~ ^[0-9]+$ && $cuts -ge 10 && $seed =~ ^[0-9]+$ ]] || usage
RANDOM=$seed
started=$SECONDS

file_systems=(ext4 xfs vfat)
declare -A disk_bytes=([ext4]=$((64 << 20)) [xfs]=$((320 << 20)) [vfat]=$((64 << 20)))
targets=(a.exe b.exe c.exe d.exe)
backup_targets=(b.exe)
target_filler=262144 # bytes between the texts: targets of 3 MiB
sessions=$(((cuts + 99) / 100))
states_per_disk=$(((cuts + sessions * ${#file_systems[@]} - 1) / (sessions * ${#file_systems[@]})))

cd "$root"
scripts/configure-preset.sh native >/dev/null
cmake --build --preset native --target quorvik-patch make-sample-target crash-state >/dev/null
if [ "$windows" = true ]; then
  scripts/configure-preset.sh win32 >/dev/null
  cmake --build --preset win32 --target quorvik-patch >/dev/null
  targets+=(e.exe)
fi
crash_state=$root/build/native/tools/power_cut/crash-state
scripts/guest-image.sh >/dev/null

work=$(mktemp -d "$root/build/power-cut.XXXXXX")
control=$work/control
running=()
cleanup() {
  local pid
  for pid in "${running[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${running[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "$keep" = true ]; then
    echo "Power cut: the working folder is kept: $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
forget() {
  local kept=() pid
  for pid in "${running[@]}"; do [ "$pid" = "$1" ] || kept+=("$pid"); done
  running=("${kept[@]}")
}
fail() {
  echo "Power cut: $*" >&2
  exit 1
}

mkdir -p "$control/bin" "$control/targets" "$control/states"
cp build/native/cli/quorvik-patch "$control/bin/"
[ "$windows" = false ] || cp build/win32/cli/quorvik-patch.exe "$control/bin/"
declare -p file_systems backup_targets >"$control/settings"
# The originals, and what a patch run makes of each, from the native build here.
for i in "${!targets[@]}"; do
  name=${targets[$i]}
  build/native/tools/make-sample-target "$control/targets/$name" --filler "$target_filler" \
    --seed $((i + 1))
  cp "$control/targets/$name" "$work/patched"
  build/native/cli/quorvik-patch patch "$work/patched" >/dev/null
  printf '%s %s %s\n' "$name" "$(sha256sum <"$control/targets/$name" | cut -d ' ' -f 1)" \
    "$(sha256sum <"$work/patched" | cut -d ' ' -f 1)" >>"$control/targets/expected"
done
rm "$work/patched"

# QEMU's option syntax takes a comma in a value as two commas.
escape() { printf '%s' "${1//,/,,}"; }
log_bytes() { stat -c %s "$1"; }

# One run of the workload: its disks' logs and the log sizes noted, in $work/session-N.
run_session() {
  local session=$1 dir=$work/session-$1 fs qemu=() slot=30 line chunk pending="" status
  local sampling=false seen_done=false
  mkdir -p "$dir"
  rm -f "$control/go"
  for fs in "${file_systems[@]}"; do
    truncate -s "${disk_bytes[$fs]}" "$dir/$fs.img"
    : >"$dir/$fs.log"
    : >"$dir/$fs.moments"
    # The cache mode is the default, write-back: the guest sees a disk with a volatile cache
    # and flushes it, and the log records each flush.
    qemu+=(--qemu -blockdev --qemu "driver=blklogwrites,node-name=cut-$fs,file.driver=file,file.filename=$(escape "$dir/$fs.img"),log.driver=file,log.filename=$(escape "$dir/$fs.log")")
    qemu+=(--qemu -device --qemu "virtio-blk-pci,drive=cut-$fs,serial=cut-$fs,addr=$(printf 0x%x "$slot")")
    slot=$((slot - 1))
  done
  mkfifo "$dir/output"
  scripts/guest.sh --share "$control" --share "$root/tests/power_cut" --timeout 900 "${qemu[@]}" \
    -- bash "$root/tests/power_cut/workload.sh" "$control" >"$dir/output" 2>&1 &
  local guest=$!
  running+=("$guest")
  exec {events}<"$dir/output"
  note_sizes() {
    for fs in "${file_systems[@]}"; do log_bytes "$dir/$fs.log" >>"$dir/$fs.$1"; done
  }
  while true; do
    # A random moment, a twentieth of a second to one second after the last.
    if IFS= read -r -t "0.$(printf '%03d' $((50 + RANDOM % 950)))" -u "$events" chunk; then
      line=$pending$chunk
      pending=""
    else
      status=$?
      if [ "$status" -gt 128 ]; then
        pending+=$chunk
        [ "$sampling" = false ] || note_sizes moments
        continue
      fi
      line=$pending$chunk
      [ -n "$line" ] || break
    fi
    # The guest's console ends its lines with a carriage return as well.
    line=${line%$'\r'}
    echo "$line" >>"$dir/guest.out"
    case $line in
      "power-cut-event: ready")
        note_sizes ready
        sampling=true
        touch "$control/go"
        ;;
      "power-cut-event: patched") note_sizes patched ;;
      "power-cut-event: written-back") sampling=false ;;
      "power-cut-event: done") seen_done=true ;;
    esac
  done
  exec {events}<&-
  status=0
  wait "$guest" || status=$?
  forget "$guest"
  if [ "$status" -ne 0 ] || [ "$seen_done" = false ]; then
    tail -n 30 "$dir/guest.out" >&2
    fail "run $session of the workload failed (status $status)"
  fi
  # The logs must give back exactly the disks QEMU wrote, or no state made from them counts.
  for fs in "${file_systems[@]}"; do
    read -r records _ < <("$crash_state" records "$dir/$fs.log")
    "$crash_state" make "$dir/$fs.log" "${disk_bytes[$fs]}" "$records" - "$dir/replayed.img"
    cmp -s "$dir/replayed.img" "$dir/$fs.img" ||
      fail "the write log of $fs does not replay to the disk QEMU wrote ($dir)"
    rm "$dir/replayed.img"
  done
}

# The states of one run: "ID FILE_SYSTEM RUN CHOSEN_BY RECORDS LOST PHASE" in $work/plan.
plan_session() {
  local session=$1 dir=$work/session-$1 fs ready patched chosen_by records lost phase k=0
  for fs in "${file_systems[@]}"; do
    read -r ready _ < <("$crash_state" records "$dir/$fs.log" "$(cat "$dir/$fs.ready")")
    read -r patched _ < <("$crash_state" records "$dir/$fs.log" "$(cat "$dir/$fs.patched")")
    while read -r chosen_by records lost; do
      if [ "$records" -le "$ready" ]; then
        phase=before
      elif [ "$records" -le "$patched" ]; then
        phase=during
      else
        phase=after
      fi
      k=$((k + 1))
      echo "$session-$fs-$k $fs $session $chosen_by $records $lost $phase" >>"$work/plan"
    done < <("$crash_state" plan "$dir/$fs.log" "$(cat "$dir/$fs.ready")" "$dir/$fs.moments" \
      "$states_per_disk" "$((seed + session))")
  done
}

for session in $(seq "$sessions"); do
  session_started=$SECONDS
  run_session "$session"
  plan_session "$session"
  echo "Power cut: run $session of the workload took $((SECONDS - session_started)) s."
done
awk '{ print $1, $2 }' "$work/plan" >"$control/plan"

# Makes each state's disk while the checking guest checks those before, three at most ahead.
make_states() {
  local id fs session chosen_by records lost phase ready
  while read -r id fs session chosen_by records lost phase; do
    while true; do
      ready=("$control/states/"*.img)
      [ -e "${ready[0]}" ] && [ ${#ready[@]} -ge 3 ] || break
      sleep 0.2
    done
    "$crash_state" make "$work/session-$session/$fs.log" "${disk_bytes[$fs]}" "$records" \
      "$lost" "$control/states/$id.part" || { touch "$control/states/abandoned"; return 1; }
    mv "$control/states/$id.part" "$control/states/$id.img"
  done <"$work/plan"
}
check_started=$SECONDS
make_states &
maker=$!
running+=("$maker")
status=0
scripts/guest.sh --share "$control" --share "$root/tests/power_cut" --timeout 3600 -- \
  bash "$root/tests/power_cut/check_states.sh" "$control" >"$work/check.out" 2>&1 || status=$?
kill "$maker" 2>/dev/null || true
wait "$maker" 2>/dev/null || true
forget "$maker"
tr -d '\r' <"$work/check.out" | grep '^power-cut-state: ' | cut -d ' ' -f 2- >"$work/results" || true
if [ "$status" -ne 0 ]; then
  tail -n 30 "$work/check.out" >&2
  fail "the checking guest failed (status $status)"
fi

# The report: per file system, the states by phase, what the targets were, and every failure.
join <(sort "$work/plan") <(sort "$work/results") | awk -v runs="$sessions" -v seed="$seed" '
  {
    fs = $2; states[fs]++; phase[fs, $7]++; chosen[fs, $4]++
    if ($6 != "-") lossy[fs]++
    # A target that is neither the original nor the patched file fails its state whatever
    # the checker concluded.
    whole = 1
    for (i = 9; i <= NF; i++) {
      if ($i ~ /^leftovers=/) { split($i, kv, "="); leftovers[fs] += kv[2]; break }
      split($i, kv, "=")
      if (kv[1] ~ /\.orig$/) continue
      if (kv[2] == "left-by-repair") { short_named[fs]++; continue }
      kinds[fs, kv[2]]++
      if (kv[2] != "original" && kv[2] != "patched") whole = 0
    }
    for (; i <= NF; i++) if ($i == "repaired=yes") repaired[fs]++
    if ($8 != "ok" || !whole) { failed[fs]++; failures[++nfail] = $0 }
  }
  END {
    split("before during after", phases, " ")
    split("before the first write,while patching,after the last rename", phase_names, ",")
    for (fs in states) total += states[fs]
    printf "Power cut: %d crash states from %d run(s) of the workload (seed %s), checked in a fresh guest:\n", total, runs, seed
    n = split("ext4 xfs vfat", order, " ")
    for (k = 1; k <= n; k++) {
      fs = order[k]
      if (!(fs in states)) continue
      printf "  %s: %d states (before the first write %d, while patching %d, after the last rename %d; the two ends %d, at noted moments %d, after chosen writes %d; %d losing unflushed writes); %stargets original %d, patched %d, other %d, missing %d; temporary files left %d%s; failed %d\n", \
        fs == "vfat" ? "FAT32" : fs, states[fs], phase[fs, "before"], phase[fs, "during"], phase[fs, "after"], \
        chosen[fs, "end"], chosen[fs, "moment"], chosen[fs, "record"], lossy[fs], \
        fs == "vfat" ? sprintf("repaired by fsck.fat %d; ", repaired[fs]) : "", kinds[fs, "original"], kinds[fs, "patched"], kinds[fs, "other"], kinds[fs, "missing"], \
        leftovers[fs], short_named[fs] ? sprintf(" (%d under a short name, the long one dropped by fsck.fat)", short_named[fs]) : "", failed[fs]
      for (p = 1; p <= 3; p++) {
        if (phase[fs, phases[p]] == 0) {
          failures[++nfail] = "no " fs " state was cut " phase_names[p]
        }
      }
    }
    for (i = 1; i <= nfail; i++) print "  FAILED: " failures[i]
    exit (nfail > 0)
  }' || status=1
checked=$(wc -l <"$work/results")
expected=$(wc -l <"$work/plan")
[ "$checked" -eq "$expected" ] || fail "only $checked of $expected states were checked"
echo "Power cut: checking took $((SECONDS - check_started)) s; $((SECONDS - started)) s in all."
[ "$status" -eq 0 ] || fail "the crash states did not all pass (above)"
echo "Power cut: passed."

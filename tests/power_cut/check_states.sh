#!/bin/bash
# The checking guest of scripts/power-cut.sh: a fresh guest that mounts each crash state the
# host makes (so the file system's journal or log is replayed, as after a power cut), and checks
# every target on it: it holds exactly the original bytes or exactly the patched ones; a kept
# backup is exactly the original, and there is one wherever the target was patched; nothing
# but temporary files of the patch runs lies beside them; a check and a new patch run on each
# target work and leave it patched; and the file system itself is undamaged.
#
# Usage: check_states.sh CONTROL_FOLDER
# The folder holds settings, bin/quorvik-patch, targets/expected ("NAME ORIGINAL PATCHED", the
# SHA-256 sums), and plan ("ID FILE_SYSTEM" a line); the host puts each state's disk at
# states/ID.img and this script removes it when done. One line per state, beginning with
# "power-cut-state: ID ", gives "ok" or "FAILED" and what was seen.
set -uo pipefail
control=$1
. "$control/settings"
cp "$control/bin/quorvik-patch" /usr/local/bin/
modprobe loop

declare -A original patched
targets=()
while read -r name original_sum patched_sum; do
  targets+=("$name")
  original[$name]=$original_sum
  patched[$name]=$patched_sum
done <"$control/targets/expected"
is_backup_target() { [[ " ${backup_targets[*]} " == *" $1 "* ]]; }

# A leftover of an interrupted run: a temporary file named after a target or its backup.
is_temporary_of_a_target() {
  local name
  for name in "${targets[@]}"; do
    [[ $1 =~ ^"$name"(\.orig)?\.[0-9]+-[0-9]+\.tmp$ ]] && return 0
  done
  return 1
}

# A FAT file's short name (BEXE~1.ORI for b.exe.orig): after a crash in the instant a file got
# a long name, fsck.fat drops the part of the long name that did not reach the disk, and the
# file keeps only its short one. Only a file being given a new name (the backup, a temporary
# file) can end up so: a patch run never writes a target's name.
is_short_name_left_by_repair() {
  [[ $1 =~ ^[A-Z0-9_]{1,6}~[0-9]{1,6}(\.[A-Z0-9_]{1,3})?$ ]]
}

# Fills the array "sums" with the SHA-256 of each target in $folder ("missing" if absent).
declare -A sums
read_sums() {
  local name sum path
  sums=()
  for name in "${targets[@]}"; do sums[$name]=missing; done
  while read -r sum path; do sums[${path##*/}]=$sum; done < <(
    cd "$folder" && for name in "${targets[@]}"; do [ -f "$name" ] && echo "$folder/$name"; done |
      xargs -r -d '\n' sha256sum)
}

check_state() {
  local id=$1 fs=$2 image=$3 disk name problems=() seen=() leftovers=0 entry repaired=""
  disk=$(losetup -f --show "$image") || { echo "FAILED cannot attach the disk"; return; }
  local mountpoint=/mnt/state-$id scratch=/tmp/state-$id options=()
  mkdir -p "$mountpoint" "$scratch"
  # Every XFS state has the same UUID, and XFS mounts only one of each at a time.
  [ "$fs" != xfs ] || options=(-o nouuid)
  if [ "$fs" = vfat ]; then
    # Exit status 1: it found damage and repaired it, as it must after most cuts (the volume is
    # marked in use while mounted).
    local repair_status=0
    fsck.fat -a -w "$disk" >"$scratch/repair.out" 2>&1 || repair_status=$?
    case $repair_status in
      0) repaired=" repaired=no" ;;
      1) repaired=" repaired=yes" ;;
      *)
        echo "FAILED fsck.fat cannot repair the file system: $(tail -n 3 "$scratch/repair.out" | tr '\n' ' ')"
        losetup -d "$disk"
        return
        ;;
    esac
  fi
  if ! mount -t "$fs" "${options[@]}" "$disk" "$mountpoint" 2>"$scratch/mount.err"; then
    echo "FAILED the file system does not mount: $(tr '\n' ' ' <"$scratch/mount.err")"
    losetup -d "$disk"
    return
  fi
  folder=$mountpoint/Programmi
  read_sums
  declare -A state
  for name in "${targets[@]}"; do
    case ${sums[$name]} in
      "${original[$name]}") state[$name]=original ;;
      "${patched[$name]}") state[$name]=patched ;;
      missing) state[$name]=missing; problems+=("$name is missing") ;;
      *) state[$name]=other; problems+=("$name is neither the original nor the patched file ($(stat -c %s "$folder/$name") bytes)") ;;
    esac
    seen+=("$name=${state[$name]}")
    if is_backup_target "$name"; then
      if [ -e "$folder/$name.orig" ]; then
        if [ "$(sha256sum <"$folder/$name.orig" | cut -d ' ' -f 1)" != "${original[$name]}" ]; then
          problems+=("$name.orig is not the original")
        fi
        seen+=("$name.orig=kept")
      elif [ "${state[$name]}" = patched ]; then
        problems+=("$name was patched but its backup $name.orig is missing")
      fi
    fi
  done
  for entry in "$folder"/* "$folder"/.[!.]*; do
    [ -e "$entry" ] || continue
    entry=${entry##*/}
    [[ -v "original[$entry]" ]] && continue
    is_backup_target "${entry%.orig}" && [ "$entry" != "${entry%.orig}" ] && continue
    if is_temporary_of_a_target "$entry"; then
      leftovers=$((leftovers + 1))
    elif [ "$fs" = vfat ] && is_short_name_left_by_repair "$entry"; then
      leftovers=$((leftovers + 1))
      seen+=("$entry=left-by-repair")
    else
      problems+=("unexpected file $entry")
    fi
  done

  # A later check and patch run on every target that is still there, side by side.
  local runs=() expected_status
  for name in "${targets[@]}"; do
    case ${state[$name]} in original) expected_status=0 ;; patched) expected_status=5 ;; *) continue ;; esac
    (
      quorvik-patch check "$folder/$name" >/dev/null 2>&1
      check_status=$?
      output=$(quorvik-patch patch "$folder/$name" 2>&1)
      patch_status=$?
      if [ "$check_status" -ne "$expected_status" ] || [ "$patch_status" -ne "$expected_status" ]; then
        echo "a later run on $name: check ended with $check_status, patch with $patch_status ($output)"
      fi
    ) >"$scratch/run.$name" &
    runs+=($!)
  done
  for run in "${runs[@]}"; do wait "$run"; done
  for name in "${targets[@]}"; do
    if [ -s "$scratch/run.$name" ]; then problems+=("$(cat "$scratch/run.$name")"); fi
  done
  read_sums
  for name in "${targets[@]}"; do
    case ${state[$name]} in original | patched) ;; *) continue ;; esac
    [ "${sums[$name]}" = "${patched[$name]}" ] || problems+=("$name is not patched after a later run")
  done

  umount "$mountpoint"
  local fsck_output fsck_status=0
  case $fs in
    ext4) fsck_output=$(e2fsck -fn "$disk" 2>&1) || fsck_status=$? ;;
    xfs) fsck_output=$(xfs_repair -n "$disk" 2>&1) || fsck_status=$? ;;
    vfat) fsck_output=$(fsck.fat -n "$disk" 2>&1) || fsck_status=$? ;;
  esac
  [ "$fsck_status" -eq 0 ] || problems+=("the file system is damaged: $(echo "$fsck_output" | tail -n 3 | tr '\n' ' ')")
  losetup -d "$disk"
  rm -rf "$scratch"

  local verdict=ok
  [ ${#problems[@]} -eq 0 ] || verdict=FAILED
  local IFS=' '
  echo "$verdict ${seen[*]} leftovers=$leftovers$repaired${problems:+ problems: $(printf '%s; ' "${problems[@]}")}"
}

check_and_report() {
  echo "power-cut-state: $1 $(check_state "$1" "$2" "$3")"
  rm -f "$3"
}

# Two states at a time, one for each of the guest's processors.
while read -r id fs; do
  image=$control/states/$id.img
  # The host makes the states while this guest checks them; it ends the guest if it stops.
  until [ -e "$image" ] || [ -e "$control/states/abandoned" ]; do sleep 0.2; done
  [ -e "$image" ] || { echo "check_states: the host abandoned the states"; exit 1; }
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n; done
  check_and_report "$id" "$fs" "$image" </dev/null &
done <"$control/plan"
wait

#!/bin/sh
# Runs the native engine tests' case of a backup on a file system without hard links, in a
# folder made for the run and removed after it: on a FAT file system mounted from a small image
# ("fat"), or in an ordinary folder while strace makes every link() fail as FAT does
# ("refused"; the backup's fault cases run there too), or while renameat2() fails too as a file
# system without it answers ("norename": the backup must then stop before the file is touched).
# Exits 77 (skipped) where this machine cannot give such a folder.
# Usage: run_without_hard_links.sh fat|refused|norename ENGINE_TESTS FOLDER
set -eu
kind=$1
program=$2
folder=$3
case=PosixPatchRunTest.KeepsABackupWhereTheFileSystemHasNoHardLinks

rm -rf "$folder"
mkdir -p "$folder/files"
QUORVIK_FOLDER_WITHOUT_HARD_LINKS=$folder/files
export QUORVIK_FOLDER_WITHOUT_HARD_LINKS
status=0
case $kind in
fat)
  if ! command -v mkfs.vfat >/dev/null 2>&1; then
    echo "mkfs.vfat (Debian's dosfstools) is missing: skipped."
    exit 77
  fi
  truncate -s 4M "$folder/fat.img"
  mkfs.vfat -n QUORVIK "$folder/fat.img" >/dev/null
  if ! mount -o loop "$folder/fat.img" "$folder/files" 2>/dev/null; then
    echo "Cannot mount a FAT file system here (needs root, loop devices and the kernel's vfat): skipped."
    exit 77
  fi
  trap 'umount "$folder/files"; rm -rf "$folder"' EXIT
  output=$("$program" --gtest_filter="$case") || status=$?
  ;;
refused | norename)
  if ! strace -f -qq -o /dev/null true 2>/dev/null; then
    echo "strace cannot trace programs here: skipped."
    exit 77
  fi
  trap 'rm -rf "$folder"' EXIT
  # glibc's link() makes either system call.
  set -- -e inject=link,linkat:error=EPERM
  filter=$case:PatchFileKeepingBackup.*
  if [ "$kind" = norename ]; then
    set -- "$@" -e inject=renameat2:error=EINVAL
    filter=$case
    QUORVIK_NO_RENAME_WITHOUT_REPLACING=1
    export QUORVIK_NO_RENAME_WITHOUT_REPLACING
  fi
  output=$(strace -f -qq -o /dev/null "$@" "$program" --gtest_filter="$filter") || status=$?
  ;;
*)
  echo "usage: $0 fat|refused|norename ENGINE_TESTS FOLDER" >&2
  exit 2
  ;;
esac
echo "$output"
[ "$status" -eq 0 ]
# The case must have run, not skipped itself.
echo "$output" | grep -q "^\[       OK \] $case"

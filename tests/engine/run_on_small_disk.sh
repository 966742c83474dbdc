#!/bin/sh
# Runs the Windows engine tests' full-disk case on a 96 KiB file system of its own, mounted for
# the run and removed after it. Exits 77 (skipped) where mounting is not permitted.
# Usage: run_on_small_disk.sh RUN_UNDER_WINE LOADER PREFIX ENGINE_TESTS FOLDER
set -eu
runner=$1
loader=$2
prefix=$3
program=$4
folder=$5

mkdir -p "$folder"
if ! mount -t tmpfs -o size=96k tmpfs "$folder" 2>/dev/null; then
  echo "Cannot mount a small file system here (needs root): skipped."
  exit 77
fi
trap 'umount "$folder"' EXIT

# Wine's drive Z: is the Linux root.
QUORVIK_SMALL_DISK="Z:$(echo "$folder" | tr / '\\')"
export QUORVIK_SMALL_DISK
output=$("$runner" "$loader" "$prefix" "$program" --gtest_filter='*AFullDiskLeavesTheFileAsItWas')
echo "$output"
# The case must have run, not skipped itself.
echo "$output" | grep -q '^\[       OK \] Win32PatchRunTest.AFullDiskLeavesTheFileAsItWas'

#!/usr/bin/env bash
# Prints the preset whose Windows programs this machine can run under Wine: win32, the shipped
# 32-bit build, where the kernel executes 32-bit code; otherwise win64, the same sources built
# for 64-bit Windows.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo win32
else
  echo win64
fi

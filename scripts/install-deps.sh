#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test the project: the native
# and mingw-w64 compilers, GoogleTest's sources, Wine (32- and 64-bit) and a virtual X display.
# Installs nothing that is already there, so it can run any number of times.
set -euo pipefail

packages=(
  cmake make g++ googletest nlohmann-json3-dev python3
  mingw-w64
  wine wine64 wine32:i386 libgcc-s1:i386
  xvfb xauth x11-utils imagemagick
  strace xdelta3 clang-format unzip
  osslsigncode openssl
  qemu-system-x86 debootstrap e2fsprogs
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing: ${missing[*]}. Installing them needs root: run this as root, or install sudo." >&2
    exit 1
  fi
  sudo=sudo
fi
# The shipped program is 32-bit; its Wine needs Debian's i386 packages.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"

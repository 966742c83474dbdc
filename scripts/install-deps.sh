#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, run and test the project: the native
# and mingw-w64 compilers, GoogleTest's sources, Wine, a virtual X display and what the emulated
# guest is built and booted with. 32-bit Wine only where the kernel executes 32-bit code: elsewhere
# the shipped program's tests run in the guest, which has its own. Installs nothing that is
# already there, so it can run any number of times.
#
# An archive that is partly out of step does not stop it (scripts/apt.sh): it goes on with the
# indexes that arrived, and fails only when a package this machine needs cannot be installed,
# naming it. 32-bit Wine is not needed to test (the guest stands in for it): when it cannot be
# installed, this says so and the Windows tests run in the guest. While another program holds
# apt's lock (a new machine's daily update), it waits for it, saying so.
set -euo pipefail
# scripts/test.sh sets this once it has run this script, so that the scripts it calls (the
# release's, say) do not ask apt again, which while 32-bit Wine cannot be installed takes a minute.
[ -n "${QUORVIK_DEPENDENCIES_INSTALLED:-}" ] && exit 0
scripts=$(cd "$(dirname "$0")" && pwd)
. "$scripts/machine.sh"
. "$scripts/apt.sh"

needed=(
  cmake make g++ googletest nlohmann-json3-dev python3
  # The native tests read the programs' manifests with it.
  libpugixml-dev
  mingw-w64
  wine wine64
  xvfb xauth x11-utils imagemagick
  strace xdelta3 clang-format unzip
  # The release test clones the repository; a minimal Debian 12 has no git.
  git
  # FAT file systems, for the test of a backup where there are no hard links.
  dosfstools
  # XFS, for the benchmark's rows on a file system that clones files.
  xfsprogs
  # The release's signing and its test: Authenticode with a key in a file or on a token (through
  # OpenSSL's PKCS#11 engine; SoftHSM is the token of the test), and OpenPGP for SHA256SUMS.
  osslsigncode openssl libengine-pkcs11-openssl softhsm2 gpg gpg-agent
  # The emulated guest: the power-cut test runs in it on every machine.
  qemu-system-x86 debootstrap e2fsprogs
  # A Pentium III that refuses SSE2, for the 32-bit guest (its screen goes to a virtual display).
  bochs bochs-x bochsbios vgabios
)
wine32=()
if kernel_runs_32bit_code; then
  wine32=(wine32:i386 libgcc-s1:i386)
  kernel="This kernel executes 32-bit code: 32-bit Wine is installed too, and the Windows tests run under it."
else
  kernel="This kernel cannot execute 32-bit code: no 32-bit Wine; the Windows tests run in an emulated guest."
fi

missing() {
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      echo "$package"
  done
}
mapfile -t missing_needed < <(missing "${needed[@]}")
mapfile -t missing_wine32 < <(missing "${wine32[@]}")
missing_all=("${missing_needed[@]}" "${missing_wine32[@]}")
[ ${#missing_all[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "Missing: ${missing_all[*]}. Installing them needs root: run this as root, or install sudo." >&2
    exit 1
  fi
  sudo=(sudo)
fi
# 32-bit Wine comes from Debian's i386 packages.
if [ ${#missing_wine32[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "$kernel"
echo "Installing: ${missing_all[*]}"
apt_update "${sudo[@]}" apt-get
if [ ${#missing_needed[@]} -gt 0 ]; then
  apt_install "${sudo[@]}" apt-get -- "${missing_needed[@]}" || {
    echo "The set-up cannot go on without the packages named above. If apt-get said a package or index is missing, the archive may be in the middle of an update: try again in a few hours." >&2
    exit 1
  }
fi
if [ ${#missing_wine32[@]} -gt 0 ] && ! apt_install "${sudo[@]}" apt-get -- "${missing_wine32[@]}"; then
  echo "32-bit Wine could not be installed (above), so the shipped 32-bit program cannot run under this machine's Wine: the Windows tests will run in the emulated guest, which is slower, and scripts/run.sh will open the 64-bit build. Run this again later to install 32-bit Wine." >&2
fi
exit 0

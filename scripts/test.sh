#!/usr/bin/env bash
# Builds the native and the shipped 32-bit Windows programs and runs every test: natively on
# Linux, and the Windows programs under Wine in a virtual X display (inside an emulated guest,
# scripts/guest.sh, where this machine cannot run the 32-bit Wine). Given phases (--help lists
# them), runs those only. It says at its start what it will do on this machine and about how long
# that takes, and at its end how long each phase took.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine needs a UTF-8 locale for non-ASCII file names: C.UTF-8 where the user's is not one.
. scripts/utf8-locale.sh
. scripts/machine.sh

timings=()
report_timings() {
  [ ${#timings[@]} -gt 0 ] || return 0
  echo
  echo "Time taken by each phase:"
  printf '  %s\n' "${timings[@]}"
}
trap report_timings EXIT
# timed NAME COMMAND...: runs the command and notes how long it took, whatever its status. The
# command runs where bash ignores "set -e", so the functions below chain their steps with &&.
timed() {
  local name=$1 started=$SECONDS status=0
  shift
  "$@" || status=$?
  local took=$((SECONDS - started))
  timings+=("$(printf '%-52s %2d min %02d s' "$name" $((took / 60)) $((took % 60)))")
  return "$status"
}

# The phases, in the order they run, and what each costs, measured on a 2-core machine: written
# here only, for the plan below and for --help.
phases=(native windows-build windows-tests power-cut no-sse2 release)
declare -A cost=(
  [native]="native build and tests: about 3 min"
  [windows-build]="the shipped 32-bit build and its Windows XP checks: about 3 min"
  [guest-image]="building the emulated guest's image from Debian's packages, once (cached in ~/.cache/quorvik-guests): about 7 min, 4 GB of disk"
  [windows-tests-guest]="the Windows tests in the emulated guest: about 11 min"
  [windows-tests-wine]="the Windows tests under this machine's Wine: about 4 min"
  [power-cut]="the power-cut test in the emulated guest (ext4, XFS, FAT32): about 5 min"
  [guest-image-i386]="building the 32-bit guest's image from Debian's packages, once (cached in ~/.cache/quorvik-guests): about 5 min, 22 where the kernel cannot execute 32-bit code"
  [no-sse2-qemu]="the shipped programs on a Pentium III without SSE2, in the 32-bit guest under QEMU: about 4 min"
  [no-sse2-bochs]="the same under Bochs, whose Pentium III refuses SSE2: about 5 min"
  [release]="the release built twice, signed and compared: about 3 min"
)

usage() {
  cat <<EOF
Usage: scripts/test.sh [PHASE...]
Runs the named phases, in the order below, or all of them when none is named. Any packages the
machine lacks are installed first. The phases, with the times measured on a 2-core machine:
  native         ${cost[native]}
  windows-build  ${cost[windows-build]}
  windows-tests  under this machine's 32-bit Wine, or in an emulated guest where it has none:
                 ${cost[windows-tests-wine]}
                 ${cost[windows-tests-guest]}
                 ${cost[guest-image]}
  power-cut      ${cost[power-cut]}
  no-sse2        ${cost[no-sse2-qemu]}
                 ${cost[no-sse2-bochs]}
                 ${cost[guest-image-i386]}
  release        ${cost[release]}
QUORVIK_WINDOWS_TESTS=guest runs windows-tests in the guest in any case; =win64 runs them on the
same sources built for 64-bit Windows, under this machine's Wine.
EOF
}

declare -A selected=()
for phase in "$@"; do
  case $phase in
    -h | --help) usage; exit 0 ;;
  esac
  if [[ " ${phases[*]} " != *" $phase "* ]]; then
    echo "scripts/test.sh: no phase \"$phase\"; the phases are: ${phases[*]}" >&2
    exit 2
  fi
  selected[$phase]=1
done
if [ $# -eq 0 ]; then
  for phase in "${phases[@]}"; do selected[$phase]=1; done
fi
runs() { [ -n "${selected[$1]:-}" ]; }

# The guest images are made once per machine, as root (debootstrap, chroot, mount): an ordinary
# user needs sudo that does not ask for a password, or the run would stop at a prompt in its
# middle. Said here, before the first phase.
guest_image=false
if runs windows-tests || runs power-cut; then
  scripts/guest-image.sh --cached >/dev/null || guest_image=true
fi
guest_image_i386=false
if runs no-sse2; then
  scripts/guest-image-i386.sh --cached >/dev/null || guest_image_i386=true
fi
if { [ "$guest_image" = true ] || [ "$guest_image_i386" = true ]; } && [ "$(id -u)" -ne 0 ] &&
  ! sudo -n true 2>/dev/null; then
  echo "The emulated guests' images must be built, once, as root: run this as root, or with sudo that" \
    "does not ask for a password (\"sudo -n true\" fails here)." >&2
  exit 1
fi

echo "First, any packages this machine lacks are installed (the first time: a few minutes)."
timed "installing missing packages" scripts/install-deps.sh
export QUORVIK_DEPENDENCIES_INSTALLED=1

# The Windows tests run on the shipped 32-bit build: under this machine's Wine where it can run
# 32-bit Wine, otherwise in an emulated guest. QUORVIK_WINDOWS_TESTS=guest runs them in the guest
# in any case; QUORVIK_WINDOWS_TESTS=win64 runs them on the same sources built for 64-bit Windows
# instead, a quicker check under this machine's own Wine.
windows=${QUORVIK_WINDOWS_TESTS:-win32}
if [ "$windows" = win32 ] && [ "$(scripts/windows-preset.sh)" != win32 ]; then
  if kernel_runs_32bit_code; then
    echo "32-bit Wine is not installed here (the set-up said why); the Windows tests run in an emulated guest."
  else
    echo "This machine cannot execute 32-bit code; the Windows tests run in an emulated guest."
  fi
  windows=guest
fi

echo "Plan for this machine:"
plan() { echo "  - ${cost[$1]}"; }
if runs native; then plan native; fi
if runs windows-build; then plan windows-build; fi
if [ "$guest_image" = true ]; then plan guest-image; fi
if runs windows-tests; then
  if [ "$windows" = guest ]; then plan windows-tests-guest; else plan windows-tests-wine; fi
fi
if runs power-cut; then plan power-cut; fi
if runs no-sse2; then
  if [ "$guest_image_i386" = true ]; then plan guest-image-i386; fi
  plan no-sse2-qemu
  plan no-sse2-bochs
fi
if runs release; then plan release; fi

native() {
  scripts/configure-preset.sh native && cmake --build --preset native && ctest --preset native
}
if runs native; then timed "native build and tests" native; fi

win32_build() { scripts/configure-preset.sh win32 && cmake --build --preset win32; }
windows_build() {
  # The shipped 32-bit program must need no DLL but Windows' own, and must start on Windows XP
  # SP3, on any i686 processor.
  win32_build && scripts/check-imports.sh i686-w64-mingw32-objdump build/win32 &&
    scripts/check-windows-minimum.py i686-w64-mingw32-objdump \
      build/win32/app/QuorvikItaliano.exe build/win32/cli/quorvik-patch.exe
}
if runs windows-build; then
  timed "32-bit Windows build and checks" windows_build
elif { runs windows-tests && [ "$windows" != win64 ]; } || runs release; then
  # Their programs come from build/win32, which is brought up to date without its checks.
  timed "32-bit Windows build" win32_build
fi

status=0
if [ "$guest_image" = true ]; then
  timed "building the guest's image" scripts/guest-image.sh >/dev/null
fi
if runs windows-tests && [ "$windows" = guest ]; then
  # Wine prefixes are not copied: the guest makes its own from the one in its image.
  timed "Windows tests in the emulated guest" scripts/guest.sh --copy build/win32 \
    --exclude '/wineprefix*' --timeout 2700 -- xvfb-run -a ctest --preset win32 || status=$?
elif runs windows-tests; then
  windows_tests() {
    if [ "$windows" != win32 ]; then
      scripts/configure-preset.sh "$windows" && cmake --build --preset "$windows" || return
    fi
    local result=0
    xvfb-run -a ctest --preset "$windows" || result=$?
    WINEPREFIX="$PWD/build/$windows/wineprefix" wineserver -k 2>/dev/null || true
    return "$result"
  }
  timed "Windows tests under this machine's Wine ($windows)" windows_tests || status=$?
fi

# Power cuts at random moments of patch runs, on disks of their own in the emulated guest.
if runs power-cut; then timed "power-cut test" scripts/power-cut.sh || status=$?; fi

# The shipped programs on a processor without SSE2, under a 32-bit system: QEMU shows that they
# choose their plain search there and that it works, Bochs that nothing else uses SSE2.
if [ "$guest_image_i386" = true ]; then
  timed "building the 32-bit guest's image" scripts/guest-image-i386.sh >/dev/null || status=$?
fi
if runs no-sse2; then
  timed "no SSE2: the 32-bit guest under QEMU" scripts/no-sse2.sh qemu || status=$?
  timed "no SSE2: the 32-bit guest under Bochs" scripts/no-sse2.sh bochs || status=$?
fi

# The release zip: the same bytes from two clean clones, holding the win32 programs built above.
if runs release; then timed "release test" scripts/test-release.sh || status=$?; fi
exit $status

#!/usr/bin/env bash
# The set-up script's decisions, with apt-get, dpkg and dpkg-query replaced by fakes early on the
# PATH: no network and no change to this machine. Each case sets up what the fakes report and
# checks what scripts/install-deps.sh did and said.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fakes=$work/bin
mkdir -p "$fakes"

# apt-get: logs its arguments; "update" fails like a mirror in mid-sync when FAKE_STALE_INDEX is
# set; "install" (also -s) fails for every package listed in FAKE_UNINSTALLABLE, as apt does for a
# package whose dependencies have no installable version, and otherwise marks them installed.
cat >"$fakes/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
case $1 in
  update)
    echo "Get:1 http://deb.debian.org/debian bookworm InRelease [151 kB]"
    if [ -n "${FAKE_STALE_INDEX:-}" ]; then
      echo "E: Failed to fetch $FAKE_STALE_INDEX  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    # FAKE_LOCKED: how many calls find the lock held by another process.
    calls=$(grep -c '^apt-get update' "$FAKE_LOG")
    if [ "$calls" -le "${FAKE_LOCKED:-0}" ]; then
      echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (apt-get)"
      exit 100
    fi
    exit 0 ;;
  install)
    packages=()
    for argument in "${@:2}"; do [[ $argument == -* ]] || packages+=("$argument"); done
    for package in "${packages[@]}"; do
      if grep -qx -- "$package" <<<"${FAKE_UNINSTALLABLE:-}"; then
        echo "Some packages could not be installed. This may mean that you have"
        echo "The following information may help to resolve the situation:"
        echo ""
        echo "The following packages have unmet dependencies:"
        echo " $package : Depends: libfake1 (= 1.0-1+deb12u1) but 1.0-1 is to be installed"
        echo "E: Unable to correct problems, you have held broken packages."
        exit 100
      fi
    done
    [[ " $* " == *" -s "* ]] || printf '%s\n' "${packages[@]}" >>"$FAKE_INSTALLED"
    exit 0 ;;
esac
exit 1
FAKE
cat >"$fakes/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
package=${*: -1}
grep -qx -- "$package" "$FAKE_INSTALLED" && printf 'install ok installed' && exit 0
exit 1
FAKE
cat >"$fakes/dpkg" <<'FAKE'
#!/usr/bin/env bash
echo "dpkg $*" >>"$FAKE_LOG"
case $1 in
  --print-foreign-architectures) cat "$FAKE_ARCHITECTURES" ;;
  --add-architecture) echo "$2" >>"$FAKE_ARCHITECTURES" ;;
esac
FAKE
printf '#!/bin/sh\nexec "$@"\n' >"$fakes/sudo"
chmod +x "$fakes"/*

failures=0
# run_setup NAME: runs install-deps.sh on a fresh fake machine; its output in $out, status in $status.
run_setup() {
  case_name=$1
  export FAKE_LOG=$work/$case_name.log FAKE_INSTALLED=$work/$case_name.installed
  export FAKE_ARCHITECTURES=$work/$case_name.architectures
  : >"$FAKE_LOG"
  : >"$FAKE_ARCHITECTURES"
  [ -f "$FAKE_INSTALLED" ] || : >"$FAKE_INSTALLED"
  status=0
  out=$(env -u QUORVIK_DEPENDENCIES_INSTALLED PATH="$fakes:$PATH" QUORVIK_APT_RETRY_PAUSE=0 \
    "$root/scripts/install-deps.sh" 2>&1) || status=$?
}
expect() {
  local what=$1
  shift
  if ! "$@"; then
    echo "FAILED ($case_name): $what"
    echo "--- output (exit $status):"
    printf '%s\n' "$out"
    echo "--- calls:"
    cat "$FAKE_LOG"
    failures=$((failures + 1))
  fi
}
said() { grep -qF -- "$1" <<<"$out"; }
called() { grep -qE -- "$1" "$FAKE_LOG"; }
calls() { grep -cE -- "$1" "$FAKE_LOG" || true; }
stale=http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz

# A stale index: three tries, the index named, and everything installed from what did arrive.
FAKE_STALE_INDEX=$stale QUORVIK_I386_PROBE=/bin/true run_setup stale-index
expect "exit 0" test "$status" -eq 0
expect "apt-get update tried three times" test "$(calls '^apt-get update')" -eq 3
expect "names the index that did not arrive" said "$stale"
expect "installs the tools" called '^apt-get install .* mingw-w64 '
expect "installs 32-bit Wine" called '^apt-get install .* wine32:i386'
expect "installed everything" grep -qx 'wine32:i386' "$FAKE_INSTALLED"

# Run again on the same machine: nothing is missing, so apt is never asked.
: >"$FAKE_LOG"
FAKE_STALE_INDEX=$stale QUORVIK_I386_PROBE=/bin/true run_setup stale-index
expect "a second run exits 0" test "$status" -eq 0
expect "a second run calls no apt-get" test "$(calls '^apt-get')" -eq 0

# A needed package that cannot be installed: named, with apt's reason, and the set-up fails.
FAKE_STALE_INDEX=$stale FAKE_UNINSTALLABLE=mingw-w64 QUORVIK_I386_PROBE=/bin/false \
  run_setup needed-missing
expect "exit 1" test "$status" -eq 1
expect "names the package" said "Cannot install mingw-w64"
expect "gives apt's reason" said "mingw-w64 : Depends: libfake1 (= 1.0-1+deb12u1)"
expect "names no package that can be installed" bash -c "! grep -q 'Cannot install cmake' <<<\"\$0\"" "$out"

# 32-bit Wine that cannot be installed on a kernel that runs 32-bit code: said, and not fatal.
FAKE_STALE_INDEX=$stale FAKE_UNINSTALLABLE=wine32:i386 QUORVIK_I386_PROBE=/bin/true \
  run_setup wine32-missing
expect "exit 0" test "$status" -eq 0
expect "adds the i386 architecture" called '^dpkg --add-architecture i386'
expect "names 32-bit Wine" said "Cannot install wine32:i386"
expect "says the tests run in the guest" said "the Windows tests will run in the emulated guest"
expect "installed the tools" grep -qx 'mingw-w64' "$FAKE_INSTALLED"

# A kernel that cannot execute 32-bit code: no i386 architecture, no 32-bit Wine.
QUORVIK_I386_PROBE=/bin/false run_setup no-32bit
expect "exit 0" test "$status" -eq 0
expect "adds no architecture" bash -c "! grep -q -- '--add-architecture' '$FAKE_LOG'"
expect "asks for no i386 package" bash -c "! grep -q ':i386' '$FAKE_LOG'"
expect "installs the guest's tools" called '^apt-get install .*qemu-system-x86 debootstrap'

# Another program holds apt's lock for a while (a new machine's daily update): said, waited for.
FAKE_LOCKED=2 QUORVIK_I386_PROBE=/bin/false run_setup lock-released
expect "exit 0" test "$status" -eq 0
expect "says that it waits, for which process" said "(process 4242 (apt-get)); waiting"
expect "tried until the lock was free" test "$(calls '^apt-get update')" -eq 3
expect "then installs" grep -qx 'mingw-w64' "$FAKE_INSTALLED"

# A lock held longer than the set-up waits, like any other failure of apt-get update, stops it.
FAKE_LOCKED=9 QUORVIK_APT_LOCK_WAIT=0 QUORVIK_I386_PROBE=/bin/false run_setup locked
expect "exit 1" test "$status" -eq 1
expect "shows apt's message" said "Could not get lock"
expect "installs nothing" bash -c "! grep -q '^apt-get install' '$FAKE_LOG'"

# The real probe: a plain Debian 12 has no 32-bit library, and the kernel must answer all the
# same, as it does for a 32-bit program that the assembler makes here.
printf '.globl _start\n_start: movl $1, %%eax\nmovl $7, %%ebx\nint $0x80\n' |
  as --32 -o "$work/exit7.o" - && ld -m elf_i386 -o "$root/build/exit7-$$" "$work/exit7.o"
runs=0
"$root/build/exit7-$$" || runs=$?
rm -f "$root/build/exit7-$$"
run_setup real-probe
if [ "$runs" -eq 7 ]; then
  expect "says the kernel executes 32-bit code" said "This kernel executes 32-bit code"
  expect "installs 32-bit Wine" grep -qx 'wine32:i386' "$FAKE_INSTALLED"
else
  expect "says the kernel cannot execute 32-bit code" said "This kernel cannot execute 32-bit code"
  expect "asks for no i386 package" bash -c "! grep -q ':i386' '$FAKE_LOG'"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "All install-deps.sh cases passed."

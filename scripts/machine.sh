# Sourced by the set-up, run and test scripts: what this machine can do, decided here and nowhere
# else.
machine_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# True when the kernel executes 32-bit x86 programs, which the shipped program's Wine needs. Some
# kernels are built without it ("Exec format error"). The kernel itself is asked: a static 32-bit
# program of 96 bytes, written here, that does nothing but exit with status 42. It needs no
# 32-bit library, so the answer does not depend on what is installed. It is written into the
# clone's build folder, where the build's own programs run, because a temporary folder may be
# mounted without the right to execute. QUORVIK_I386_PROBE names a program that stands in for it
# in the set-up's own tests.
kernel_runs_32bit_code() {
  if [ -n "${QUORVIK_I386_PROBE:-}" ]; then
    "$QUORVIK_I386_PROBE" >/dev/null 2>&1
    return
  fi
  local probe status=0
  mkdir -p "$machine_root/build"
  probe=$(mktemp "$machine_root/build/i386-probe.XXXXXX") || return 1
  # The ELF header (entry 0x08048054), one loadable segment, then the code:
  # mov eax, 1; mov ebx, 42; int 0x80 (the system call exit(42)).
  printf '%b' '\x7fELF\x01\x01\x01\0\0\0\0\0\0\0\0\0\x02\0\x03\0\x01\0\0\0\x54\x80\x04\x08' \
    '\x34\0\0\0\0\0\0\0\0\0\0\0\x34\0\x20\0\x01\0\0\0\0\0\0\0' \
    '\x01\0\0\0\0\0\0\0\0\x80\x04\x08\0\x80\x04\x08\x60\0\0\0\x60\0\0\0\x05\0\0\0\0\x10\0\0' \
    '\xb8\x01\0\0\0\xbb\x2a\0\0\0\xcd\x80' >"$probe"
  chmod +x "$probe"
  "$probe" >/dev/null 2>&1 || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# True when the shipped 32-bit programs can run under this machine's own Wine: the kernel runs
# 32-bit code and 32-bit Wine is installed (the set-up installs it where it can; a package
# archive that is out of step can keep it from doing so).
host_runs_32bit_wine() {
  kernel_runs_32bit_code && [ -x /usr/lib/wine/wine ]
}

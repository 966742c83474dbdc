# Sourced by the set-up, run and test scripts: what this machine can do, decided here and nowhere
# else.

# True when the kernel executes 32-bit x86 programs, which the shipped program's Wine needs. Some
# kernels are built without it ("Exec format error"). QUORVIK_I386_LOADER stands in for the
# program loader in the set-up's own tests.
kernel_runs_32bit_code() {
  "${QUORVIK_I386_LOADER:-/lib/ld-linux.so.2}" --version >/dev/null 2>&1
}

# True when the shipped 32-bit programs can run under this machine's own Wine: the kernel runs
# 32-bit code and 32-bit Wine is installed (the set-up installs it where it can; a package
# archive that is out of step can keep it from doing so).
host_runs_32bit_wine() {
  kernel_runs_32bit_code && [ -x /usr/lib/wine/wine ]
}

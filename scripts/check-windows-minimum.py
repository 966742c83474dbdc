#!/usr/bin/env python3
"""Fails when a shipped 32-bit Windows program would not run on the oldest system and processor
it is meant for: Windows XP SP3 on any i686 processor (Pentium Pro and later, no SSE).

Three checks, each on every program named:
- every function it imports from Windows' DLLs is in the allow-list (scripts/windows-imports.txt),
  which names the oldest Windows that has it; none may be newer than XP SP3, or the loader
  refuses the program;
- its PE header names Windows XP (5.01) as the oldest system and subsystem;
- no MMX, SSE or later instruction anywhere but in the few functions that run only where the
  processor has them (the search's SSE2 pass above all). The statically linked runtime is
  disassembled too. This check tells those functions by their symbols, so it needs the programs
  as linked, before their symbols are stripped.

Usage: check-windows-minimum.py [--without-instructions] OBJDUMP PROGRAM...
  --without-instructions  only the first two checks, for programs without symbols (stripped, or
                          signed after that): their instructions are checked on the programs
                          they were stripped from, which the caller must show are the same code.
"""
import pathlib
import re
import subprocess
import sys

ALLOW_LIST = pathlib.Path(__file__).with_name("windows-imports.txt")

# Oldest first; the programs must run on the last of the allowed ones.
WINDOWS_VERSIONS = ["NT4", "2000", "XP", "XP-SP1", "XP-SP2", "XP-SP3",
                    "Vista", "7", "8", "8.1", "10"]
NEWEST_ALLOWED = "XP-SP3"

HEADER_VERSIONS = {"MajorOSystemVersion": "5", "MinorOSystemVersion": "1",
                   "MajorSubsystemVersion": "5", "MinorSubsystemVersion": "1"}

# Code that runs only where the processor has the instructions it uses, as the name of the
# function (demangled, up to its parameters; GCC's ".cold" and other clones included) or of the
# section objdump labels it with, and the instructions allowed there.
RUN_TIME_SELECTED = [
    # The search's SSE2 pass, called only where __builtin_cpu_supports("sse2") says so.
    ("quorvik::(anonymous namespace)::Sse2Pass(", re.compile(r".")),
    # The standard library's std::random_device, where cpuid reports RDRAND or RDSEED.
    (".text$_ZNSt12_GLOBAL__N_112__x86_rdrandEPv", re.compile(r"^rdrand$")),
    (".text$_ZNSt12_GLOBAL__N_112__x86_rdseedEPv", re.compile(r"^rdseed$")),
    (".text$_ZNSt12_GLOBAL__N_119__x86_rdseed_rdrandEPv", re.compile(r"^rd(seed|rand)$")),
    # GCC's processor probe behind __builtin_cpu_supports, where cpuid reports OSXSAVE.
    (".text.startup", re.compile(r"^xgetbv$")),
]
VECTOR_PATH = RUN_TIME_SELECTED[0][0]

# Not code: the exception tables, and the lists of the addresses of static constructors and
# destructors, that the linker places among the functions.
DATA_LABELS = {".gcc_except_table", "_CTOR_LIST__", "_DTOR_LIST__"}

VECTOR_REGISTER = re.compile(r"%(?:[xyz]?mm\d+|k[0-7])\b")
# Instructions of SSE and later extensions that name no vector register. "tzcnt" is not here:
# GCC writes "rep bsf", which the disassembler shows as tzcnt and an i686 runs as bsf.
NEWER_INSTRUCTION = re.compile(
    r"^(?:[lms]fence|clflush(?:opt)?|clwb|movnti[lq]?|prefetch(?:nta|t0|t1|t2|w|wt1)|"
    r"v?ldmxcsr|v?stmxcsr|fxsave|fxrstor|xsave\w*|xrstor\w*|xgetbv|xsetbv|fisttp[sl]*|"
    r"monitor|mwait|popcnt[wlq]?|lzcnt[wlq]?|crc32[bwlq]?|movbe[wlq]?|rdrand|rdseed|rdtscp|"
    r"andn|bextr|blsi|blsmsk|blsr|bzhi|mulx|pdep|pext|rorx|sarx|shlx|shrx|adcx|adox|"
    r"f?emms)$")
PREFIXES = {"lock", "rep", "repz", "repnz", "repe", "repne", "data16", "data32", "addr16",
            "addr32", "cs", "ds", "es", "fs", "gs", "ss", "bnd", "notrack"}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def read_allow_list():
    allowed = {}
    for number, line in enumerate(ALLOW_LIST.read_text().splitlines(), 1):
        line = line.split("#", 1)[0].split()
        if not line:
            continue
        if len(line) != 3 or line[2] not in WINDOWS_VERSIONS:
            sys.exit(f"{ALLOW_LIST}:{number}: expected 'DLL FUNCTION VERSION', VERSION one of "
                     f"{' '.join(WINDOWS_VERSIONS)}")
        allowed[(line[0].lower(), line[1])] = line[2]
    return allowed


def imports_of(headers):
    """(dll, function) for every import named in `objdump -p` output."""
    found = []
    dll = None
    for line in headers.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1).lower()
            continue
        if dll is None:
            continue
        if not line.strip():  # a DLL's list ends with a blank line
            dll = None
            continue
        entry = re.match(r"\s*[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if entry:
            found.append((dll, entry.group(2)))
        elif re.match(r"\s*[0-9a-f]+\s+<none>\s+([0-9a-f]+)", line):
            found.append((dll, "ordinal " + line.split()[-1]))
    return found


def check_imports(headers, allowed, used):
    failures = []
    limit = WINDOWS_VERSIONS.index(NEWEST_ALLOWED)
    imports = imports_of(headers)
    if not imports:
        failures.append("no imports found: the import table could not be read")
    for dll, function in imports:
        used.add((dll, function))
        version = allowed.get((dll, function))
        if version is None:
            failures.append(f"imports {dll} {function}, which is not in {ALLOW_LIST.name}")
        elif WINDOWS_VERSIONS.index(version) > limit:
            failures.append(f"imports {dll} {function}, which Windows has only from {version} on")
    return failures


def check_header(headers):
    failures = []
    if "file format pei-i386" not in headers:
        failures.append("is not a 32-bit Windows program")
    for field, expected in HEADER_VERSIONS.items():
        match = re.search(rf"^{field}\s+(\S+)", headers, re.MULTILINE)
        if not match or match.group(1) != expected:
            found = match.group(1) if match else "nothing"
            failures.append(f"PE header {field} is {found}, not {expected}")
    return failures


def run_time_selected(label, mnemonic):
    """The entry of RUN_TIME_SELECTED that allows this instruction here, or None."""
    for name, allowed in RUN_TIME_SELECTED:
        exact = name.startswith(".")
        if (label == name if exact else label.startswith(name)) and allowed.match(mnemonic):
            return name
    return None


def check_instructions(disassembly):
    failures = []
    label = None
    allowed = {}
    labels = 0
    for line in disassembly.splitlines():
        match = re.match(r"^[0-9a-f]+ <(.*)>:$", line)
        if match:
            label = match.group(1)
            labels += 1
            continue
        match = re.match(r"^\s+([0-9a-f]+):\t(.*)$", line)
        if not match or label in DATA_LABELS:
            continue
        words = match.group(2).split()
        while words and words[0] in PREFIXES:
            words = words[1:]
        if not words:
            continue
        mnemonic, operands = words[0], " ".join(words[1:])
        if not (VECTOR_REGISTER.search(operands) or NEWER_INSTRUCTION.match(mnemonic)):
            continue
        selected = run_time_selected(label, mnemonic)
        if selected:
            allowed[selected] = allowed.get(selected, 0) + 1
        else:
            failures.append(f"{label}: {match.group(1)}: {match.group(2).strip()}")
    if labels < 100:
        # Without symbols every instruction seems to lie outside the functions that may use SSE.
        return ["the disassembly names too few functions: the program has no symbols, so its "
                "instructions cannot be checked (check the program it was stripped from)"], {}
    if VECTOR_PATH not in allowed:
        failures.append("found no SSE2 instruction in the SSE2 pass: is it still there, "
                        "under the name this check knows?")
    return failures, allowed

def main():
    arguments = sys.argv[1:]
    with_instructions = arguments[:1] != ["--without-instructions"]
    if not with_instructions:
        arguments = arguments[1:]
    if len(arguments) < 2:
        sys.exit(__doc__)
    objdump, programs = arguments[0], arguments[1:]
    allowed = read_allow_list()
    used = set()
    status = 0
    for program in programs:
        headers = run(objdump, "-p", program)
        failures = check_imports(headers, allowed, used)
        failures += check_header(headers)
        allowed_here = {}
        if with_instructions:
            disassembly = run(objdump, "-d", "-C", "--no-show-raw-insn", program)
            instruction_failures, allowed_here = check_instructions(disassembly)
            failures += instruction_failures
        for failure in failures[:50]:
            print(f"{program}: {failure}", file=sys.stderr)
        if len(failures) > 50:
            print(f"{program}: ... and {len(failures) - 50} more", file=sys.stderr)
        if failures:
            status = 1
        elif with_instructions:
            print(f"{program}: imports only functions of Windows XP SP3 or older, says 5.01 in "
                  f"its PE header, and uses MMX, SSE or later instructions only where they "
                  f"are chosen at run time: "
                  + ", ".join(f"{count} in {name}" for name, count in allowed_here.items()))
        else:
            print(f"{program}: imports only functions of Windows XP SP3 or older and says 5.01 "
                  f"in its PE header (instructions not checked here)")
    unused = sorted(set(allowed) - used)
    if unused and status == 0:
        print(f"{ALLOW_LIST.name}: no longer imported: "
              + ", ".join(f"{dll} {function}" for dll, function in unused))
    return status


if __name__ == "__main__":
    sys.exit(main())

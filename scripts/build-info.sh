#!/usr/bin/env bash
# Prints the build record that the release zip carries as BUILDINFO.txt: the commit, the Debian
# packages (with their exact versions) whose files made the programs and the zip, and the flags
# the programs were compiled and linked with. The zip's bytes follow from these; a rebuild that
# differs can be explained by comparing records. The checkout's path is written as ".", so the
# record is the same wherever the checkout lies.
# Usage: build-info.sh BUILD_FOLDER    (run in the checkout, after the programs are built)
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
flags=$build/app/CMakeFiles/QuorvikItaliano.dir/flags.make
compiler=$(sed -n 's/^# compile CXX with //p' "$flags")
[ -n "$compiler" ] || { echo "build-info.sh: no compiler named in $flags" >&2; exit 1; }

# The Debian package that installed a file: looked up by the path as given first, then with
# links resolved, since dpkg knows each file by the path its package installed it at.
package_of() {
  local file=$1 owner
  for candidate in "$file" "$(realpath -e "$file")"; do
    if owner=$(dpkg -S "$candidate" 2>/dev/null | sed -n '1s/[:,].*//p') && [ -n "$owner" ]; then
      echo "$owner"
      return
    fi
  done
  echo "build-info.sh: no Debian package holds $file" >&2
  exit 1
}

# Everything that turns the sources into the zip's bytes: the compiler proper, the assembler and
# the linker, the C++ and GCC runtimes and the Windows import libraries and headers linked into
# the programs, the resource compiler, strip, and the Python and zlib that pack the zip; and
# osslsigncode, whose version shapes the signatures of a signed release made here.
tool_files=(
  "$compiler"
  "$("$compiler" -print-prog-name=cc1plus)"
  "$(command -v i686-w64-mingw32-as)"
  "$(command -v i686-w64-mingw32-ld)"
  "$("$compiler" -print-file-name=libstdc++.a)"
  "$("$compiler" -print-file-name=libgcc.a)"
  "$("$compiler" -print-file-name=crt2.o)"
  "$("$compiler" -print-file-name=libkernel32.a)"
  "$(echo '#include <windows.h>' | "$compiler" -E -H -x c++ - 2>&1 >/dev/null | sed -n '1s/^\. //p')"
  "$(command -v i686-w64-mingw32-windres)"
  "$(command -v i686-w64-mingw32-strip)"
  "$(realpath /usr/bin/python3)"
  "$(ldd /usr/bin/python3 | sed -n 's/^[[:space:]]*libz\.so\.1 => \([^ ]*\).*/\1/p')"
  "$(command -v cmake)"
  "$(command -v osslsigncode)"
)
packages=$(for file in "${tool_files[@]}"; do package_of "$file"; done | sort -u)

# A line of a generated build file, with the checkout's path written as "." and without the
# quotes CMake puts around flags when that path holds a blank.
flags_of() {
  local line
  line=$(sed -n "s/^$2 = //p" "$1")
  line=${line//"$root"/.}
  echo "${line//\"/}"
}

echo "Build record of the Quorvik 2000 Italian Language Patch release"
echo
echo "Commit: $(git rev-parse HEAD) ($(TZ=UTC git log -1 --date=format-local:'%Y-%m-%d %H:%M:%S UTC' --format=%cd))"
echo "Built with: the win32 CMake preset (cmake/mingw-i686.cmake, build type Release),"
echo "  then scripts/strip-program.sh and scripts/pack-zip.py (scripts/release.sh)"
echo "Compiler: $("$compiler" --version | head -n 1)"
echo
echo "Debian packages:"
for package in $packages; do
  dpkg-query -W -f '  ${Package} ${Version} ${Architecture}\n' "$package"
done
for target in app/CMakeFiles/QuorvikItaliano.dir cli/CMakeFiles/quorvik-patch.dir; do
  program=$(sed -n 's/.* -o \([^ ]*\.exe\) .*/\1/p' "$build/$target/link.txt")
  echo
  echo "$program:"
  echo "  compiled with: $(flags_of "$build/$target/flags.make" CXX_FLAGS)"
  echo "  defines: $(flags_of "$build/$target/flags.make" CXX_DEFINES)"
  link=$(grep -F -- " -o $program " "$build/$target/link.txt")
  link=${link//"$root"/.}
  echo "  linked with: ${link#* }"
  echo "  libraries: $(sed 's/^ *//; s/ *$//' "$build/$target/linkLibs.rsp")"
done

#!/usr/bin/env bash
# Builds the shipped 32-bit programs from this checkout and packs what a Windows user downloads:
#   dist/QuorvikItaliano-<version>-win32.zip, holding one folder of the same name with
#     QuorvikItaliano.exe and quorvik-patch.exe (without symbols and debug information),
#     LEGGIMI.txt and README.txt (resources/release/), and SHA256SUMS of those four files;
#   dist/SHA256SUMS of the zip.
# The zip's bytes depend on the commit alone (cmake/reproducible.cmake for the programs,
# scripts/pack-zip.py for the archive); scripts/test-release.sh checks that they do.
#
# The programs are those of build/win32, built with the win32 preset as scripts/test.sh builds
# and tests them: after scripts/test.sh the release holds the very programs the tests ran.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/install-deps.sh

if [ -n "$(git status --porcelain)" ]; then
  echo "The checkout has changes that are not committed: a release is made from a commit." >&2
  git status --short >&2
  exit 1
fi

build=build/win32
mkdir -p build
echo "Building the shipped programs in $root/$build ..."
scripts/configure-preset.sh win32 >"$build.configure.log" 2>&1 || { cat "$build.configure.log" >&2; exit 1; }
cmake --build --preset win32 --target QuorvikItaliano quorvik-patch >"$build.release.log" 2>&1 ||
  { tail -n 40 "$build.release.log" >&2; exit 1; }

# The version the programs were built with, as their version record shows it.
version=$(sed -n 's/^#define QUORVIK_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/quorvik_version.h")
[ -n "$version" ] || { echo "No version in $build/generated/quorvik_version.h" >&2; exit 1; }
name=QuorvikItaliano-$version-win32

stage=$build/release/$name
rm -rf "$build/release"
mkdir -p "$stage"
scripts/strip-program.sh "$build/app/QuorvikItaliano.exe" "$stage/QuorvikItaliano.exe"
scripts/strip-program.sh "$build/cli/quorvik-patch.exe" "$stage/quorvik-patch.exe"

# The texts for people: UTF-8 with a byte-order mark and CRLF line ends, which Notepad on every
# Windows shows correctly.
for text in LEGGIMI.txt README.txt; do
  {
    printf '\xef\xbb\xbf'
    sed -e "s/@QUORVIK_VERSION_TEXT@/$version/g" -e 's/$/\r/' "resources/release/$text.in"
  } >"$stage/$text"
  if grep -q '@[A-Z_]*@' "$stage/$text"; then
    echo "resources/release/$text.in has a placeholder that is not filled in" >&2
    exit 1
  fi
done
(cd "$stage" && sha256sum LEGGIMI.txt QuorvikItaliano.exe README.txt quorvik-patch.exe) |
  sed 's/$/\r/' >"$stage/SHA256SUMS"

# Every entry carries the commit's time. Debian's own Python, whatever python3 comes first on
# the PATH: the compressed bytes are those of its zlib.
mkdir -p dist
commit_time=$(git log -1 --format=%ct)
rm -f "dist/$name.zip"
/usr/bin/python3 scripts/pack-zip.py "dist/$name.zip" "$stage" "$commit_time"
(cd dist && sha256sum "$name.zip") | sed 's/$/\r/' >dist/SHA256SUMS

echo "Wrote $root/dist/$name.zip ($(stat -c %s "dist/$name.zip") bytes) and $root/dist/SHA256SUMS:"
cat dist/SHA256SUMS | tr -d '\r'

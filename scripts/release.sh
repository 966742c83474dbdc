#!/usr/bin/env bash
# Builds the shipped 32-bit programs from this checkout and packs what a Windows user downloads:
#   dist/QuorvikItaliano-<version>-win32.zip, holding one folder of the same name with
#     QuorvikItaliano.exe and quorvik-patch.exe (without symbols and debug information),
#     LEGGIMI.txt and README.txt (resources/release/), BUILDINFO.txt (scripts/build-info.sh: the
#     commit, the Debian packages and the flags that made the programs), and SHA256SUMS of those
#     five files;
#   dist/SHA256SUMS of every file in dist/ that the release made.
# The zip's bytes depend on the commit alone (cmake/reproducible.cmake for the programs,
# scripts/pack-zip.py for the archive); scripts/test-release.sh checks that they do.
#
# With --sign, the programs are also signed with Authenticode, and the release adds, beside the
# same unsigned zip:
#   dist/QuorvikItaliano-<version>-win32-<program>.sig, each program's detached signature;
#   dist/QuorvikItaliano-<version>-win32-signed.zip, the same folder with the signed programs,
#     which scripts/attach-signatures.sh rebuilds from the unsigned zip and those signatures.
# Each program carries two signatures: a SHA-1 one first, the only one Windows XP and Vista
# read, and a SHA-256 one nested in it, which Windows 7 (with its SHA-2 update) and later use.
#
# Usage: release.sh [--sign CERT.pfx [--password-file FILE] [--timestamp URL]]
#   --sign CERT.pfx        the publisher's certificate and private key (PKCS#12). The password
#                          comes from --password-file, or else from the environment variable
#                          QUORVIK_SIGN_PASSWORD; never from the command line, which other users
#                          of the machine can read.
#   --timestamp URL        a time-stamping service that vouches for the time of signing, so
#                          the signatures stay valid after the certificate expires (the SHA-1
#                          signature asks it in the Authenticode form, the SHA-256 one in the
#                          RFC 3161 form; the services of the certificate authorities answer both)
#
# The programs are those of build/win32, built with the win32 preset as scripts/test.sh builds
# and tests them: after scripts/test.sh the release holds the very programs the tests ran.
# Nothing in dist/ changes unless the whole release was made.
set -euo pipefail

usage() {
  sed -n '/^# Usage:/,/^#$/s/^# \{0,1\}//p' "$0" | sed '$d' >&2
  exit 2
}

certificate=""
password_file=""
timestamp=""
while [ $# -gt 0 ]; do
  case $1 in
    --sign) [ $# -ge 2 ] || usage; certificate=$2; shift 2 ;;
    --password-file) [ $# -ge 2 ] || usage; password_file=$2; shift 2 ;;
    --timestamp) [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
    *) usage ;;
  esac
done
if [ -z "$certificate" ] && { [ -n "$password_file" ] || [ -n "$timestamp" ]; }; then
  echo "release.sh: --password-file and --timestamp go with --sign" >&2
  usage
fi
if [ -n "$certificate" ]; then
  [ -f "$certificate" ] && [ -r "$certificate" ] ||
    { echo "release.sh: cannot read the certificate $certificate" >&2; exit 1; }
  certificate=$(realpath "$certificate")
  if [ -n "$password_file" ]; then
    [ -f "$password_file" ] && [ -r "$password_file" ] ||
      { echo "release.sh: cannot read the password file $password_file" >&2; exit 1; }
    password_file=$(realpath "$password_file")
  elif [ -z "${QUORVIK_SIGN_PASSWORD+set}" ]; then
    echo "release.sh: no password for $certificate: set QUORVIK_SIGN_PASSWORD or give" \
      "--password-file FILE" >&2
    exit 1
  fi
fi

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
product=$(sed -n 's/^#define QUORVIK_PRODUCT_NAME "\(.*\)"$/\1/p' "$build/generated/quorvik_version.h")
name=QuorvikItaliano-$version-win32
programs=(QuorvikItaliano.exe quorvik-patch.exe)

work=$build/release
stage=$work/$name
out=$work/dist  # what the release publishes, until it replaces the files in dist/
rm -rf "$work"
mkdir -p "$stage" "$out"
scripts/strip-program.sh "$build/app/QuorvikItaliano.exe" "$stage/QuorvikItaliano.exe"
scripts/strip-program.sh "$build/cli/quorvik-patch.exe" "$stage/quorvik-patch.exe"

# The texts for people: UTF-8 with a byte-order mark and CRLF line ends, which Notepad on every
# Windows shows correctly. The build record is plain ASCII, also with CRLF line ends.
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
scripts/build-info.sh "$build" | sed 's/$/\r/' >"$stage/BUILDINFO.txt"
(cd "$stage" && sha256sum BUILDINFO.txt LEGGIMI.txt QuorvikItaliano.exe README.txt quorvik-patch.exe) |
  sed 's/$/\r/' >"$stage/SHA256SUMS"

# Every entry carries the commit's time. Debian's own Python, whatever python3 comes first on
# the PATH: the compressed bytes are those of its zlib.
/usr/bin/python3 scripts/pack-zip.py "$out/$name.zip" "$stage" "$(git log -1 --format=%ct)"

if [ -n "$certificate" ]; then
  echo "Signing the programs with $certificate ..."
  signed=$work/signed
  mkdir -p "$signed"
  sign() {
    local password=(-readpass "$password_file")
    [ -n "$password_file" ] || password=(-readpass -)
    # osslsigncode reads the password from the file, or from its standard input.
    printf '%s' "${QUORVIK_SIGN_PASSWORD-}" |
      osslsigncode sign -pkcs12 "$certificate" "${password[@]}" -n "$product" "$@" \
        >>"$work/sign.log" 2>&1 || { tail -n 20 "$work/sign.log" >&2; exit 1; }
  }
  for program in "${programs[@]}"; do
    sha1_only=$signed/${program%.exe}.sha1.exe
    sign -h sha1 ${timestamp:+-t "$timestamp"} -in "$stage/$program" -out "$sha1_only"
    sign -nest -h sha256 ${timestamp:+-ts "$timestamp"} -in "$sha1_only" -out "$signed/$program"
    osslsigncode extract-signature -in "$signed/$program" -out "$out/$name-$program.sig" \
      >>"$work/sign.log" 2>&1 || { tail -n 20 "$work/sign.log" >&2; exit 1; }
  done

  # The signed zip is made as anyone can make it again: from the unsigned zip and the detached
  # signatures. It must hold exactly the programs that were signed.
  scripts/attach-signatures.sh "$out/$name.zip" "$out" "$out/$name-signed.zip" >/dev/null
  for program in "${programs[@]}"; do
    unzip -p "$out/$name-signed.zip" "$name/$program" | cmp -s - "$signed/$program" || {
      echo "release.sh: $program, rebuilt from its detached signature, is not the signed program" >&2
      exit 1
    }
  done
fi

(cd "$out" && export LC_ALL=C && sha256sum -- *) | sed 's/$/\r/' >"$work/SHA256SUMS"
mv "$work/SHA256SUMS" "$out/SHA256SUMS"
mkdir -p dist
rm -f dist/SHA256SUMS dist/"$name".zip dist/"$name"-*
mv "$out"/* dist/

echo "Wrote to $root/dist:"
(cd dist && for file in $(sed 's/^[0-9a-f]*  //; s/\r$//' SHA256SUMS) SHA256SUMS; do
  echo "  $file ($(stat -c %s "$file") bytes)"
done)
tr -d '\r' <dist/SHA256SUMS

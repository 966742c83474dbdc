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
# Signed (with --sign, --sign-pkcs11 or --signatures), the release adds, beside the same
# unsigned zip:
#   dist/QuorvikItaliano-<version>-win32-<program>.sig, each program's detached signature
#     (scripts/sign-programs.sh: a SHA-1 signature, the only one Windows XP and Vista read, and a
#     SHA-256 one nested in it, which Windows 7 with its SHA-2 update and later use);
#   dist/QuorvikItaliano-<version>-win32-signed.zip, the same folder with the signed programs,
#     which scripts/attach-signatures.sh rebuilds from the unsigned zip and those signatures.
# With --openpgp-key, dist/SHA256SUMS.asc is an OpenPGP signature of dist/SHA256SUMS.
#
# Usage: release.sh [SIGNING] [--openpgp-key KEY]
#   SIGNING is one of:
#   --sign CERT.pfx        the publisher's certificate and private key (PKCS#12)
#   --sign-pkcs11 MODULE --key URI --certs CHAIN.pem
#                          a private key on a token or hardware security module, through its
#                          PKCS#11 module, named by its PKCS#11 URI; CHAIN.pem holds the
#                          publisher's certificate and those of the authorities above it
#   --signatures FOLDER    the detached signatures that scripts/sign-programs.sh made of this
#                          commit's unsigned zip on the machine that holds the key
#   with, for --sign and --sign-pkcs11:
#   --password-file FILE   the password of the PKCS#12 file or the token's PIN; without it, the
#                          environment variable QUORVIK_SIGN_PASSWORD; never the command line,
#                          which other users of the machine can read
#   --timestamp URL        a time-stamping service that vouches for the time of signing, so the
#                          signatures stay valid after the certificate expires
#   --openpgp-key KEY      signs dist/SHA256SUMS with this key of gpg's (dist/SHA256SUMS.asc)
#
# The programs are those of build/win32, built with the win32 preset as scripts/test.sh builds
# and tests them: after scripts/test.sh the release holds the very programs the tests ran.
# Nothing in dist/ changes unless the whole release was made.
set -euo pipefail

usage() {
  sed -n '/^# Usage:/,/^#$/s/^# \{0,1\}//p' "$0" | sed '$d' >&2
  exit 2
}

signing=()
signatures=""
openpgp_key=""
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case $1 in
    --sign) signing+=(--pkcs12 "$(realpath -e "$2")") || exit 1 ;;
    --sign-pkcs11) signing+=(--pkcs11 "$(realpath -e "$2")") || exit 1 ;;
    --key) signing+=(--key "$2") ;;
    --certs | --password-file) signing+=("$1" "$(realpath -e "$2")") || exit 1 ;;
    --timestamp) signing+=(--timestamp "$2") ;;
    --signatures) signatures=$(realpath -e "$2") || exit 1 ;;
    --openpgp-key) openpgp_key=$2 ;;
    *) usage ;;
  esac
  shift 2
done
if [ -n "$signatures" ] && [ ${#signing[@]} -gt 0 ]; then
  echo "release.sh: --signatures attaches signatures made elsewhere; it takes no key" >&2
  usage
fi
if [ ${#signing[@]} -gt 0 ] && [[ " ${signing[*]} " != *" --password-file "* ]] &&
  [ -z "${QUORVIK_SIGN_PASSWORD+set}" ]; then
  echo "release.sh: no password or PIN for the key: set QUORVIK_SIGN_PASSWORD or give" \
    "--password-file FILE" >&2
  exit 1
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

if [ ${#signing[@]} -gt 0 ] || [ -n "$signatures" ]; then
  if [ ${#signing[@]} -gt 0 ]; then
    echo "Signing the programs ..."
    scripts/sign-programs.sh "${signing[@]}" "$out/$name.zip" "$work/signatures" >/dev/null
    signatures=$work/signatures
  fi
  for program in "${programs[@]}"; do
    cp "$signatures/$name-$program.sig" "$out/" ||
      { echo "release.sh: no signature of $program in $signatures" >&2; exit 1; }
  done

  # The signed zip is made as anyone can make it again: from the unsigned zip and the detached
  # signatures. Signed here, it must hold exactly the programs that were signed.
  scripts/attach-signatures.sh "$out/$name.zip" "$out" "$out/$name-signed.zip" >/dev/null
  for program in "${programs[@]}"; do
    [ -f "$signatures/signed/$program" ] || continue
    unzip -p "$out/$name-signed.zip" "$name/$program" | cmp -s - "$signatures/signed/$program" || {
      echo "release.sh: $program, rebuilt from its detached signature, is not the signed program" >&2
      exit 1
    }
  done
fi

(cd "$out" && export LC_ALL=C && sha256sum -- *) | sed 's/$/\r/' >"$work/SHA256SUMS"
mv "$work/SHA256SUMS" "$out/SHA256SUMS"
if [ -n "$openpgp_key" ]; then
  gpg --yes --local-user "$openpgp_key" --armor --detach-sign --output "$out/SHA256SUMS.asc" \
    "$out/SHA256SUMS" || { echo "release.sh: gpg could not sign SHA256SUMS" >&2; exit 1; }
fi
mkdir -p dist
rm -f dist/SHA256SUMS dist/SHA256SUMS.asc dist/"$name".zip dist/"$name"-*
mv "$out"/* dist/

echo "Wrote to $root/dist:"
(cd dist && for file in $(sed 's/^[0-9a-f]*  //; s/\r$//' SHA256SUMS) SHA256SUMS ${openpgp_key:+SHA256SUMS.asc}; do
  echo "  $file ($(stat -c %s "$file") bytes)"
done)
tr -d '\r' <dist/SHA256SUMS

#!/usr/bin/env bash
# Rebuilds a signed release from the unsigned zip and the detached signatures published beside
# it, so that anyone can check that the signed programs are the programs of their commit:
#   scripts/release.sh                       (the unsigned zip, from the commit alone)
#   scripts/attach-signatures.sh dist/NAME.zip DOWNLOADS dist/NAME-signed.zip
# DOWNLOADS holds the published NAME-QuorvikItaliano.exe.sig and NAME-quorvik-patch.exe.sig.
# The signed zip is the unsigned one with each program carrying its signature (osslsigncode
# attach-signature) and SHA256SUMS listing the signed programs; its entries keep the unsigned
# zip's time. Where DOWNLOADS also holds the published NAME-signed.zip, the rebuilt one is
# compared with it: the same bytes mean that the published signed programs are these programs,
# with nothing added but the signatures. scripts/release.sh --sign makes its signed zip this way.
#
# Usage: attach-signatures.sh [--ca FILE] UNSIGNED_ZIP DOWNLOADS SIGNED_ZIP
#   --ca FILE   require every signature to verify against the certificate authorities in FILE
#               (PEM), as Windows checks them against its own store. Without it, a signature
#               need only verify against the certificates it carries itself and those of the
#               system's store: the digests are then the test.
#
# Exit status: 0 when the signed zip was rebuilt (and, where there was one to compare, is the
# published one byte for byte); 1 otherwise; 2 for a usage error.
set -euo pipefail

usage() {
  sed -n '/^# Usage:/,/^#$/s/^# \{0,1\}//p' "$0" | sed '$d' >&2
  exit 2
}
fail() {
  echo "attach-signatures.sh: $*" >&2
  exit 1
}

authorities=""
if [ "${1-}" = --ca ]; then
  [ $# -ge 2 ] || usage
  authorities=$(realpath -e "$2") || fail "no certificate authorities file $2"
  shift 2
fi
[ $# -eq 3 ] || usage
unsigned_zip=$1
downloads=$2
signed_zip=$3
[ -f "$unsigned_zip" ] || fail "no unsigned zip $unsigned_zip"
[ -d "$downloads" ] || fail "no folder $downloads"
name=$(basename "$unsigned_zip" .zip)
published=$downloads/$(basename "$signed_zip")

root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$unsigned_zip" -d "$work/unsigned"
[ -d "$work/unsigned/$name" ] || fail "$unsigned_zip does not hold the folder $name"
mkdir -p "$work/signed"
cp -a "$work/unsigned/$name" "$work/signed/$name"

for program in $(cd "$work/unsigned/$name" && ls -- *.exe); do
  signature=$downloads/$name-$program.sig
  [ -f "$signature" ] || fail "no detached signature $signature"
  rm "$work/signed/$name/$program"
  log=$work/$program.log
  # osslsigncode checks each signature against the program while attaching it, and fails (writing
  # nothing, up to version 2.5) when the signer's certificate authority is not among those it is
  # given. Without --ca, those are the certificates the signature carries (osslsigncode 2.5 writes
  # a signature with the 8-byte header of its place in a program, later versions without) and the
  # system's store for web sites, which lacks many code-signing authorities.
  if [ -n "$authorities" ]; then
    trusted=$authorities
  else
    trusted=$work/$program.trusted.pem
    if [ "$(od -An -tx1 -N1 "$signature" | tr -d ' ')" = 30 ]; then cat "$signature"; else
      tail -c +9 "$signature"; fi | openssl pkcs7 -inform DER -print_certs >"$trusted" 2>"$log" ||
      { cat "$log" >&2; fail "$(basename "$signature") is not a signature"; }
    cat /etc/ssl/certs/ca-certificates.crt >>"$trusted" 2>/dev/null || true
  fi
  osslsigncode attach-signature -CAfile "$trusted" -TSA-CAfile "$trusted" -sigin "$signature" \
    -in "$work/unsigned/$name/$program" -out "$work/signed/$name/$program" >"$log" 2>&1 || {
    cat "$log" >&2
    fail "$(basename "$signature") is not a valid signature of this build's $program"
  }
done

# The checksums of the same files, in the same order, now of the signed programs.
files=$(sed 's/^[0-9a-f]*  //; s/\r$//' "$work/unsigned/$name/SHA256SUMS")
(cd "$work/signed/$name" && sha256sum $files) | sed 's/$/\r/' >"$work/signed/$name/SHA256SUMS"
time=$(/usr/bin/python3 -c 'import calendar, sys, zipfile
print(calendar.timegm(zipfile.ZipFile(sys.argv[1]).infolist()[0].date_time))' "$unsigned_zip")
/usr/bin/python3 "$root/scripts/pack-zip.py" "$work/signed.zip" "$work/signed/$name" "$time"

if [ -f "$published" ]; then
  if ! cmp -s "$work/signed.zip" "$published"; then
    mkdir -p "$work/published"
    unzip -q "$published" -d "$work/published"
    for file in $(cd "$work/signed/$name" && ls); do
      cmp -s "$work/signed/$name/$file" "$work/published/$name/$file" ||
        echo "$file differs from the published one" >&2
    done
    fail "$published is not this build with the published signatures"
  fi
  echo "$published is this build's programs with the published signatures, byte for byte."
fi
[ "$published" -ef "$signed_zip" ] || mv "$work/signed.zip" "$signed_zip"
echo "Signed zip: $signed_zip, SHA-256 $(sha256sum <"$signed_zip" | cut -d' ' -f1)"

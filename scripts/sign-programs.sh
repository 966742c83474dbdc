#!/usr/bin/env bash
# Signs the programs of an unsigned release zip with Authenticode and writes each one's detached
# signature, NAME-PROGRAM.sig (NAME the zip's name without .zip), into FOLDER, and the signed
# programs into FOLDER/signed/. The signatures are what scripts/attach-signatures.sh and
# scripts/release.sh --signatures attach to the same programs built on another machine: this
# script needs only osslsigncode and unzip (for a key on a token, also OpenSSL's PKCS#11 engine,
# Debian's libengine-pkcs11-openssl, and the token's own PKCS#11 module), so it can run on the
# machine that holds the key. scripts/release.sh signs with it too.
# Each program carries two signatures: a SHA-1 one first, the only one Windows XP and Vista read,
# and a SHA-256 one nested in it, which Windows 7 (with its SHA-2 update) and later use.
#
# Usage: sign-programs.sh KEY [--password-file FILE] [--timestamp URL] UNSIGNED_ZIP FOLDER
#   KEY is either of:
#   --pkcs12 FILE            the publisher's certificate and private key in a PKCS#12 file
#   --pkcs11 MODULE --key URI --certs CHAIN.pem
#                            a private key on a token or a hardware security module, reached
#                            through its PKCS#11 MODULE (a .so file) and named by its PKCS#11 URI
#                            (pkcs11:token=...;object=...;type=private); CHAIN.pem holds the
#                            publisher's certificate and those of the authorities above it
#   --password-file FILE     the PKCS#12 file's password or the token's PIN; without it, the
#                            environment variable QUORVIK_SIGN_PASSWORD. Never the command line,
#                            which other users of the machine can read.
#   --timestamp URL          a time-stamping service that vouches for the time of signing, so the
#                            signatures stay valid after the certificate expires (the SHA-1
#                            signature asks it in the Authenticode form, the SHA-256 one in the
#                            RFC 3161 form; the services of the certificate authorities answer both)
#
set -euo pipefail

usage() {
  sed -n '/^# Usage:/,/^#$/s/^# \{0,1\}//p' "$0" | sed '$d' >&2
  exit 2
}
fail() {
  echo "sign-programs.sh: $*" >&2
  exit 1
}

pkcs12="" module="" key="" certs="" password_file="" timestamp=""
while [ $# -gt 2 ]; do
  case $1 in
    --pkcs12) pkcs12=$2; shift 2 ;;
    --pkcs11) module=$2; shift 2 ;;
    --key) key=$2; shift 2 ;;
    --certs) certs=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    *) usage ;;
  esac
done
[ $# -eq 2 ] || usage
zip=$1
folder=$2
if [ -n "$pkcs12" ] && [ -z "$module$key$certs" ]; then
  [ -r "$pkcs12" ] || fail "cannot read the certificate $pkcs12"
  signing=(-pkcs12 "$pkcs12")
elif [ -z "$pkcs12" ] && [ -n "$module" ] && [ -n "$key" ] && [ -n "$certs" ]; then
  [ -r "$module" ] || fail "cannot read the PKCS#11 module $module"
  [ -r "$certs" ] || fail "cannot read the certificates $certs"
  signing=(-pkcs11module "$module" -key "$key" -certs "$certs")
else
  echo "sign-programs.sh: give --pkcs12 FILE, or --pkcs11 MODULE with --key URI and --certs FILE" >&2
  usage
fi
if [ -n "$password_file" ]; then
  [ -r "$password_file" ] || fail "cannot read the password file $password_file"
elif [ -z "${QUORVIK_SIGN_PASSWORD+set}" ]; then
  fail "no password or PIN: set QUORVIK_SIGN_PASSWORD or give --password-file FILE"
fi
[ -f "$zip" ] || fail "no zip $zip"
name=$(basename "$zip" .zip)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
[ -d "$work/$name" ] || fail "$zip does not hold the folder $name"
# The description Windows shows for the signed program: the product's name, from the first line
# of the build record ("Build record of the NAME release").
product=$(sed -n '1s/^Build record of the \(.*\) release\r\{0,1\}$/\1/p' "$work/$name/BUILDINFO.txt")
[ -n "$product" ] || fail "$zip has no build record naming the product"
mkdir -p "$folder/signed"
log=$work/sign.log

# The password or PIN comes from the file, or through a pipe from the environment: osslsigncode
# 2.5, Debian 12's, reads it only from a file ("-readpass -" came later), and /dev/stdin is one.
sign() {
  printf '%s' "${QUORVIK_SIGN_PASSWORD-}" |
    osslsigncode sign "${signing[@]}" -readpass "${password_file:-/dev/stdin}" -n "$product" "$@" \
      >>"$log" 2>&1 || { tail -n 20 "$log" >&2; fail "osslsigncode could not sign (above)"; }
}
for program in $(cd "$work/$name" && ls -- *.exe); do
  signed=$folder/signed/$program
  rm -f "$signed" "$folder/$name-$program.sig"
  sign -h sha1 ${timestamp:+-t "$timestamp"} -in "$work/$name/$program" -out "$work/$program.sha1"
  sign -nest -h sha256 ${timestamp:+-ts "$timestamp"} -in "$work/$program.sha1" -out "$signed"
  osslsigncode extract-signature -in "$signed" -out "$folder/$name-$program.sig" >>"$log" 2>&1 ||
    { tail -n 20 "$log" >&2; fail "osslsigncode could not extract the signature of $program"; }
  echo "Signed $program: $folder/$name-$program.sig"
done

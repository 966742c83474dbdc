#!/usr/bin/env bash
# Checks the release that scripts/release.sh makes, for this checkout's commit:
# - two clean clones of the commit, in two different folders, built at different times with
#   different time zones, locales and umasks, the second signing its release with a throw-away
#   certificate made here, give the same unsigned zip, byte for byte (the second build reuses
#   nothing of the first); where they differ, diffoscope shows how, if it can be had;
# - the signed release: both programs carry a SHA-1 signature and a SHA-256 one nested in it,
#   which verify against that certificate; removing them gives back the unsigned programs
#   exactly; the detached signatures attached to the first clone's unsigned zip give the second
#   clone's signed zip exactly (scripts/attach-signatures.sh); the signed programs still import
#   only Windows' own DLLs, still name Windows XP SP3 in their headers and import nothing newer
#   (scripts/check-windows-minimum.py; their instructions are checked on the programs as linked,
#   before stripping) and start under 32-bit Wine; a wrong password fails the release and leaves
#   dist/ as it was;
# - signing with the same key on a token (SoftHSM, through PKCS#11) with the PIN in a file, and
#   SHA256SUMS signed with a throw-away OpenPGP key; the signatures of one clone attached to the
#   other clone's build (release.sh --signatures) give the same signed zip, and swapped ones fail;
# - the programs in the zip are those of this checkout's build/win32, which scripts/test.sh has
#   just tested, less their symbols and debug information;
# - the zip's contents: the names, both programs PE32 for i386 with the expected subsystem and
#   no debug information, a right PE header checksum (as osslsigncode computes it), SHA256SUMS
#   verifying, the texts for people in Notepad's form, and a build record that names the commit
#   and the Debian packages installed here, and no compiler identification in the objects.
# Run by scripts/test.sh after build/win32 is built.
set -euo pipefail

# The subsystem version that the shipped programs' PE headers must carry.
expected_subsystem_version=5.01

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
objdump=i686-w64-mingw32-objdump
commit=$(git rev-parse HEAD)
work=$root/build/release-test
first=$work/first/QuorvikItaliano
second="$work/second copy/one level deeper/q"
rm -rf "$work"

fail() {
  echo "test-release: $*" >&2
  exit 1
}

clone_and_release() {
  local folder=$1 zone=$2 locale=$3 mask=$4
  shift 4
  echo "Releasing $commit in $folder (TZ=$zone LC_ALL=$locale umask $mask) $* ..."
  git -c advice.detachedHead=false clone -q --no-checkout "$root" "$folder"
  git -C "$folder" -c advice.detachedHead=false checkout -q --detach "$commit"
  (cd "$folder" && umask "$mask" && TZ=$zone LC_ALL=$locale scripts/release.sh "$@")
}

# A throw-away code-signing certificate, valid for two days, and its key in a PKCS#12 file.
# The same key is also put on a token in software (SoftHSM), as a publisher's key lives on a token,
# and a throw-away OpenPGP key is made. Both live in a short path outside the clone: gpg-agent's
# socket path has a length limit.
make_certificate() {
  local folder=$1
  mkdir -p "$folder"
  openssl req -x509 -newkey rsa:3072 -sha256 -nodes -days 2 -subj "/CN=Quorvik release test" \
    -addext keyUsage=critical,digitalSignature -addext extendedKeyUsage=codeSigning \
    -keyout "$folder/key.pem" -out "$folder/certificate.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$folder/key.pem" -in "$folder/certificate.pem" \
    -out "$folder/certificate.pfx" -passout env:QUORVIK_SIGN_PASSWORD
  printf 'directories.tokendir = %s\n' "$keys/tokens" >"$SOFTHSM2_CONF"
  mkdir -p "$keys/tokens"
  softhsm2-util --init-token --free --label quorvik-test --pin "$pin" --so-pin "$pin" >/dev/null
  softhsm2-util --import "$folder/key.pem" --token quorvik-test --label signing --id 01 \
    --pin "$pin" >/dev/null
  rm "$folder/key.pem"
  gpg --batch --passphrase '' --quick-gen-key "Quorvik release test <$openpgp_key>" ed25519 sign 2d \
    >"$keys/openpgp.log" 2>&1 || { cat "$keys/openpgp.log" >&2; fail "gpg could not make a key"; }
  gpg --export "$openpgp_key" >"$keys/openpgp-public.gpg"
}

# Says which files of two zips differ, and how the programs' headers differ; diffoscope, where
# it is installed or can be, shows every difference inside them.
explain_difference() {
  local a=$work/explain/first b=$work/explain/second
  if ! command -v diffoscope >/dev/null && [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends diffoscope-minimal \
      >"$work/diffoscope-install.log" 2>&1 || echo "(diffoscope could not be installed)"
  fi
  if command -v diffoscope >/dev/null; then
    diffoscope --text "$work/diffoscope.txt" "$1" "$2" >/dev/null 2>&1 || true
    echo "diffoscope's comparison: $work/diffoscope.txt"
    head -n 60 "$work/diffoscope.txt" || true
  fi
  mkdir -p "$a" "$b"
  unzip -qo "$1" -d "$a"
  unzip -qo "$2" -d "$b"
  diff <(zipinfo -v "$1" | tail -n +2) <(zipinfo -v "$2" | tail -n +2) | head -n 20 || true
  (cd "$a" && find . -type f | sort) | while read -r file; do
    cmp -s "$a/$file" "$b/$file" && continue
    echo "$file differs: $(cmp -l "$a/$file" "$b/$file" 2>/dev/null | wc -l) bytes"
    case $file in
      *.exe) diff <("$objdump" -x "$a/$file" | tail -n +4) <("$objdump" -x "$b/$file" | tail -n +4) |
        head -n 20 || true ;;
    esac
  done
}

start=$SECONDS
certificate=$work/certificate
password="throw-away $RANDOM$RANDOM"
export QUORVIK_SIGN_PASSWORD=$password
keys=$(mktemp -d /tmp/quorvik-release-keys.XXXXXX)
export GNUPGHOME=$keys/gnupg SOFTHSM2_CONF=$keys/softhsm2.conf
mkdir -m 700 "$GNUPGHOME"
trap 'gpgconf --kill gpg-agent 2>/dev/null; rm -rf "$keys"' EXIT
pin=$RANDOM$RANDOM
openpgp_key=release-test@quorvik.invalid
make_certificate "$certificate"
clone_and_release "$first" UTC C.UTF-8 022
clone_and_release "$second" Pacific/Kiritimati C 077 --sign "$certificate/certificate.pfx"
unset QUORVIK_SIGN_PASSWORD
echo "Both releases built in $((SECONDS - start)) s."

zips=("$first"/dist/*.zip)
[ ${#zips[@]} -eq 1 ] || fail "expected one zip in $first/dist, found: ${zips[*]}"
zip=${zips[0]}
zip_name=$(basename "$zip")
folder=${zip_name%.zip}
if ! cmp "$zip" "$second/dist/$zip_name"; then
  explain_difference "$zip" "$second/dist/$zip_name"
  fail "two builds of $commit, one of them signed, gave different unsigned zips"
fi
[ "$(ls "$first/dist")" = "$(printf '%s\n' "$zip_name" SHA256SUMS)" ] ||
  fail "an unsigned release published more than the zip and SHA256SUMS: $(ls "$first/dist")"
grep -qF "  $zip_name"$'\r' "$second/dist/SHA256SUMS" &&
  grep -F "  $zip_name"$'\r' "$second/dist/SHA256SUMS" | cmp -s - "$first/dist/SHA256SUMS" ||
  fail "the signed release's SHA256SUMS does not list the unsigned zip as the unsigned release does"
for dist in "$first/dist" "$second/dist"; do
  (cd "$dist" && sha256sum --strict --quiet -c SHA256SUMS) || fail "$dist/SHA256SUMS does not verify"
done
echo "Identical: $zip_name ($(stat -c %s "$zip") bytes), SHA-256 $(sha256sum "$zip" | cut -d' ' -f1)"

# The entries as Windows' own unzipper takes them, the texts (against the messages in the
# commit's sources) and the version the programs carry.
(cd "$first" && /usr/bin/python3 - "$zip" "$folder" "$(git log -1 --format=%ct)") <<'EOF'
import re
import sys
import time
import zipfile

zip_path, folder, commit_time = sys.argv[1], sys.argv[2], int(sys.argv[3])
errors = []
expected = [folder + "/"] + [f"{folder}/{name}" for name in (
    "BUILDINFO.txt", "LEGGIMI.txt", "QuorvikItaliano.exe", "README.txt", "SHA256SUMS",
    "quorvik-patch.exe")]
with zipfile.ZipFile(zip_path) as archive:
    entries = archive.infolist()
    names = [entry.orig_filename for entry in entries]
    for name in names:
        if name.startswith("/") or "\\" in name or ":" in name or ".." in name.split("/"):
            errors.append(f"{name!r}: not a relative name with forward slashes")
    if names != expected:
        errors.append(f"entries {names}, expected {expected}")
    # DOS times have a resolution of two seconds.
    expected_time = time.gmtime(commit_time - commit_time % 2)[:6]
    for entry in entries:
        if entry.date_time != expected_time or entry.create_system != 0 or entry.extra:
            errors.append(f"{entry.filename}: time {entry.date_time}, made by "
                          f"{entry.create_system}, {len(entry.extra)} bytes of extra fields")
        if entry.external_attr != (0x10 if entry.is_dir() else 0x20):
            errors.append(f"{entry.filename}: attributes {entry.external_attr:#x}")
    files = {entry.filename.split("/", 1)[1]: archive.read(entry) for entry in entries
             if not entry.is_dir()}

def source_texts(path, pattern):
    return re.findall(pattern, open(path, encoding="utf-8").read())

# Every message the programs show, as the texts must quote it.
messages = (source_texts("engine/core/outcome_text.cpp", r'"([^"]*[.!])"')
            + source_texts("ui/instance_guard.h", r'kAlreadyRunningMessage\[\] =\s*L"([^"]*)"')
            + source_texts("app/failure_report.cpp", r'L"(?:\\n)*([^"\\]+)(?:\\n)*"'))
if len(messages) != 7:
    errors.append(f"expected seven messages in the sources, found {messages}")
for name in ("LEGGIMI.txt", "README.txt"):
    data = files.get(name, b"")
    if not data.startswith(b"\xef\xbb\xbf"):
        errors.append(f"{name}: no UTF-8 byte-order mark")
    try:
        text = data[3:].decode("utf-8")
    except UnicodeDecodeError as error:
        errors.append(f"{name}: not UTF-8: {error}")
        continue
    if len(text.strip()) < 1000:
        errors.append(f"{name}: {len(text)} characters, too short to be the guide")
    if re.search("\r(?!\n)|(?<!\r)\n", text) or not text.endswith("\r\n"):
        errors.append(f"{name}: a line does not end in CRLF")
    for needed in messages + ["quorvik-patch revert"]:
        if needed not in text:
            errors.append(f"{name} does not quote {needed!r}")
if files.get("LEGGIMI.txt") == files.get("README.txt"):
    errors.append("LEGGIMI.txt and README.txt are the same text")

# The version record's ProductVersion: UTF-16 key, padding, then the value.
program = files.get("QuorvikItaliano.exe", b"")
key = "ProductVersion\0".encode("utf-16-le")
at = program.find(key)
value = program[at + len(key):at + len(key) + 64] if at >= 0 else b""
while value[:2] == b"\0\0":
    value = value[2:]
version = value.decode("utf-16-le", "replace").split("\0")[0]
if folder != f"QuorvikItaliano-{version}-win32":
    errors.append(f"the folder is {folder}, but the program carries version {version!r}")

for error in errors:
    print("test-release:", error, file=sys.stderr)
sys.exit(1 if errors else 0)
EOF

unzip -tq "$zip" >/dev/null || fail "unzip finds the zip damaged"
unpacked=$work/unpacked
unzip -q "$zip" -d "$unpacked"
cd "$unpacked/$folder"
sha256sum --strict --quiet -c SHA256SUMS || fail "SHA256SUMS in the zip does not verify"
[ "$(cut -d' ' -f3 SHA256SUMS | tr -d '\r' | sort | tr '\n' ' ')" = \
  "BUILDINFO.txt LEGGIMI.txt QuorvikItaliano.exe README.txt quorvik-patch.exe " ] ||
  fail "SHA256SUMS in the zip does not list the five other files"

major=${expected_subsystem_version%%.*}
minor=$((10#${expected_subsystem_version#*.}))
check_program() {
  local program=$1 subsystem=$2 headers
  headers=$("$objdump" -x "$program")
  grep -q 'file format pei-i386' <<<"$headers" || fail "$program is not a PE file for i386"
  grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' <<<"$headers" || fail "$program is not PE32"
  grep -Eq "^Subsystem[[:space:]]+0000000$subsystem" <<<"$headers" ||
    fail "$program: subsystem is not $subsystem"
  grep -Eq "^MajorSubsystemVersion[[:space:]]+$major\$" <<<"$headers" &&
    grep -Eq "^MinorSubsystemVersion[[:space:]]+$minor\$" <<<"$headers" ||
    fail "$program: subsystem version is not $expected_subsystem_version"
  ! grep -Eq '^ +[0-9]+ \.debug' <<<"$headers" || fail "$program has debug sections"
  "$objdump" -t "$program" | grep -q 'no symbols' || fail "$program has a symbol table"
  check_checksum "$program"
}
# The header checksum, as an Authenticode tool of its own computes it: osslsigncode 2.9 prints
# "PE checksum : X" where the header holds the right one, 2.5 (Debian 12's) the header's and its
# own on two lines, and only when it is given authorities to check signatures against.
check_checksum() {
  local program=$1 checksum computed
  checksum=$("$objdump" -x "$program" | sed -n 's/^CheckSum[[:space:]]*//p')
  computed=$(osslsigncode verify -CAfile "$certificate/certificate.pem" -in "$program" 2>&1 |
    sed -nE 's/^(Current |Calculated )?PE checksum *: *([0-9A-Fa-f]+).*/\2/p' || true)
  [ "$checksum" != 00000000 ] && [ -n "$computed" ] && ! grep -qixv -- "$checksum" <<<"$computed" ||
    fail "$program: the PE header's checksum is $checksum; osslsigncode computes: $computed"
}
check_program QuorvikItaliano.exe 2  # Windows GUI
check_program quorvik-patch.exe 3    # Windows console

# The build record names this commit and the packages installed here, as they are now.
grep -qF "Commit: $commit (" BUILDINFO.txt || fail "BUILDINFO.txt does not name the commit $commit"
for package in binutils-mingw-w64-i686 g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32 \
  mingw-w64-i686-dev mingw-w64-common osslsigncode; do
  installed=$(dpkg-query -W -f '${Package} ${Version} ${Architecture}' "$package")
  grep -qxF "  $installed"$'\r' BUILDINFO.txt || fail "BUILDINFO.txt does not list $installed"
done
grep -q -- '-fno-ident' BUILDINFO.txt || fail "BUILDINFO.txt does not give the compiler's flags"
cd "$root"
scripts/check-imports.sh "$objdump" "$unpacked"

# Windows XP SP3 on an i686 is enough to run the programs. The check of their instructions tells
# the code that may use SSE by its symbols, so it reads the first clone's programs as linked; the
# zip's are the same code, as stripping them again gives the zip's bytes. The zip's programs
# themselves are checked for their imports and the system their PE headers name.
for program in app/QuorvikItaliano.exe cli/quorvik-patch.exe; do
  scripts/strip-program.sh "$first/build/win32/$program" "$work/stripped.exe"
  cmp "$work/stripped.exe" "$unpacked/$folder/$(basename "$program")" ||
    fail "the zip's $(basename "$program") is not the first clone's build/win32/$program, stripped"
done
scripts/check-windows-minimum.py "$objdump" "$first/build/win32/app/QuorvikItaliano.exe" \
  "$first/build/win32/cli/quorvik-patch.exe"
scripts/check-windows-minimum.py --without-instructions "$objdump" \
  "$unpacked/$folder/QuorvikItaliano.exe" "$unpacked/$folder/quorvik-patch.exe"

# The compiler wrote no identification string into the objects it made for the programs.
while IFS= read -r -d '' object; do
  ! "$objdump" -h "$object" | grep -qF '.rdata$zzz' || fail "$object holds the compiler's identification"
done < <(find "$first/build/win32" -name '*.obj' -print0)

# The release holds the programs that were tested: stripped, this checkout's build/win32 ones
# are the same bytes. A checkout with changes that are not committed built other programs.
if [ -n "$(git status --porcelain)" ]; then
  echo "test-release: NOT compared with build/win32: the checkout has uncommitted changes."
else
  for program in app/QuorvikItaliano.exe cli/quorvik-patch.exe; do
    [ -f "build/win32/$program" ] || fail "build/win32/$program is not built"
    scripts/strip-program.sh "build/win32/$program" "$work/tested.exe"
    cmp "$work/tested.exe" "$unpacked/$folder/$(basename "$program")" ||
      fail "the zip's $(basename "$program") is not build/win32/$program, the program tested"
  done
  echo "The zip holds the programs of build/win32, less their symbols and debug information."
fi

# The signed release: its files, the signed zip beside the unsigned one.
signed_zip=$second/dist/$folder-signed.zip
published=$(printf '%s\n' "$folder-QuorvikItaliano.exe.sig" "$folder-quorvik-patch.exe.sig" \
  "$folder-signed.zip" "$zip_name" SHA256SUMS | LC_ALL=C sort)
[ "$(ls "$second/dist" | LC_ALL=C sort)" = "$published" ] ||
  fail "the signed release published $(ls "$second/dist" | tr '\n' ' '), not $published"
[ "$(zipinfo -1 "$signed_zip")" = "$(zipinfo -1 "$zip")" ] ||
  fail "the signed zip's entries are not the unsigned zip's"
signed=$work/signed
unzip -q "$signed_zip" -d "$signed"
for text in BUILDINFO.txt LEGGIMI.txt README.txt; do
  cmp "$signed/$folder/$text" "$unpacked/$folder/$text" || fail "the signed zip's $text differs"
done
(cd "$signed/$folder" && sha256sum --strict --quiet -c SHA256SUMS) ||
  fail "SHA256SUMS in the signed zip does not verify"

for program in QuorvikItaliano.exe quorvik-patch.exe; do
  report=$work/verify-$program.txt
  osslsigncode verify -CAfile "$certificate/certificate.pem" -in "$signed/$folder/$program" \
    >"$report" 2>&1 || { cat "$report" >&2; fail "the signed $program does not verify"; }
  # The primary signature SHA-1, for Windows XP and Vista; the nested one SHA-256.
  digests=$(awk '/^Signature Index:/ { signature = $3 }
    /^Message digest algorithm  *:/ && signature != "" { print signature "=" $NF; signature = "" }' \
    "$report" | tr '\n' ' ')
  [ "$digests" = "0=SHA1 1=SHA256 " ] && grep -qx 'Number of verified signatures: 2' "$report" ||
    fail "$program: signatures $digests, expected 0=SHA1 1=SHA256, both verified (see $report)"
  check_checksum "$signed/$folder/$program"
  rm -f "$work/unsigned-again.exe"
  osslsigncode remove-signature -in "$signed/$folder/$program" -out "$work/unsigned-again.exe" \
    >/dev/null
  cmp "$work/unsigned-again.exe" "$unpacked/$folder/$program" ||
    fail "$program without its signatures is not the unsigned program"
done
echo "Both signed programs verify, SHA-1 first and SHA-256 nested; without them they are the unsigned ones."
# Their code is the unsigned programs' (just shown), whose instructions were checked above; their
# headers and imports, which signing rewrites around, are checked as they ship.
scripts/check-imports.sh "$objdump" "$signed"
scripts/check-windows-minimum.py --without-instructions "$objdump" \
  "$signed/$folder/QuorvikItaliano.exe" "$signed/$folder/quorvik-patch.exe"

# Anyone can rebuild the signed zip from another build of the commit and the detached signatures.
mkdir -p "$work/attached"
scripts/attach-signatures.sh --ca "$certificate/certificate.pem" "$zip" "$second/dist" \
  "$work/attached/$folder-signed.zip" || fail "the detached signatures do not rebuild the signed zip"
cmp "$work/attached/$folder-signed.zip" "$signed_zip" ||
  fail "the first clone's programs with the detached signatures are not the signed zip"

# A wrong password fails the release and changes nothing in dist/.
listing=$(cd "$first/dist" && sha256sum -- *)
echo "not the password" >"$work/wrong-password"
if (cd "$first" && scripts/release.sh --sign "$certificate/certificate.pfx" \
  --password-file "$work/wrong-password") >"$work/wrong-password.log" 2>&1; then
  fail "a release signed with a wrong password succeeded"
fi
[ "$(cd "$first/dist" && sha256sum -- *)" = "$listing" ] || fail "a failed release changed dist/"

# The key on the token, its PIN in a file, and SHA256SUMS signed with OpenPGP.
printf '%s\n' "$pin" >"$work/pin"
(cd "$first" && scripts/release.sh --sign-pkcs11 /usr/lib/softhsm/libsofthsm2.so \
  --key "pkcs11:token=quorvik-test;object=signing;type=private" --certs "$certificate/certificate.pem" \
  --password-file "$work/pin" --openpgp-key "$openpgp_key") >"$work/pkcs11.log" 2>&1 ||
  { tail -n 20 "$work/pkcs11.log" >&2; fail "a release signed with the key on the token failed"; }
cmp "$first/dist/$zip_name" "$second/dist/$zip_name" || fail "signing changed the unsigned zip"
for program in QuorvikItaliano.exe quorvik-patch.exe; do
  unzip -p "$first/dist/$folder-signed.zip" "$folder/$program" >"$work/signed-again.exe"
  osslsigncode verify -CAfile "$certificate/certificate.pem" -in "$work/signed-again.exe" \
    >"$work/verify-token.txt" 2>&1 && grep -qx 'Number of verified signatures: 2' "$work/verify-token.txt" ||
    fail "$program, signed with the key on the token, does not verify (see $work/verify-token.txt)"
done
gpgv --keyring "$keys/openpgp-public.gpg" "$first/dist/SHA256SUMS.asc" "$first/dist/SHA256SUMS" \
  2>/dev/null || fail "the OpenPGP signature of SHA256SUMS does not verify"
echo "A wrong password fails the release and leaves dist/ as it was; the token signs, and OpenPGP SHA256SUMS."

# Signatures made on another machine: the second clone's, attached to the first clone's build,
# give the second clone's signed zip; each program's signature on the other program fails.
mkdir -p "$work/swapped"
cp "$second/dist/$folder-QuorvikItaliano.exe.sig" "$work/swapped/$folder-quorvik-patch.exe.sig"
cp "$second/dist/$folder-quorvik-patch.exe.sig" "$work/swapped/$folder-QuorvikItaliano.exe.sig"
! (cd "$first" && scripts/release.sh --signatures "$work/swapped") >"$work/swapped.log" 2>&1 ||
  fail "signatures of other programs were attached"
(cd "$first" && scripts/release.sh --signatures "$second/dist") >"$work/signatures.log" 2>&1 ||
  { tail -n 20 "$work/signatures.log" >&2; fail "attaching the second clone's signatures failed"; }
cmp "$first/dist/$folder-signed.zip" "$signed_zip" ||
  fail "the second clone's signatures on the first clone's build are not the second's signed zip"
echo "Signatures made elsewhere attach to this build as they were made; swapped ones fail."

# The signed programs start under Windows (32-bit Wine): under this machine's own where it has
# one, otherwise in the emulated guest (or there in any case with QUORVIK_WINDOWS_TESTS=guest, as
# for scripts/test.sh).
start_folder=$work/start
mkdir -p "$start_folder"
cp "$signed/$folder/QuorvikItaliano.exe" "$signed/$folder/quorvik-patch.exe" "$start_folder/"
version=${folder#QuorvikItaliano-}
version=${version%-win32}
. scripts/machine.sh
if host_runs_32bit_wine && [ "${QUORVIK_WINDOWS_TESTS:-}" != guest ]; then
  xvfb-run -a tests/release/starts_under_wine.sh "$start_folder" "$version" "$work/wineprefix" ||
    fail "the signed programs do not start under Wine"
else
  scripts/guest.sh --copy "$start_folder" --exclude '/wineprefix*' --timeout 900 -- xvfb-run -a \
    tests/release/starts_under_wine.sh "$start_folder" "$version" "$start_folder/wineprefix" ||
    fail "the signed programs do not start under Wine in the emulated guest"
fi
echo "The release of $commit is reproducible and complete, unsigned and signed."

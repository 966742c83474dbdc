#!/usr/bin/env bash
# Checks the release that scripts/release.sh makes, for this checkout's commit:
# - two clean clones of the commit, in two different folders, built at different times with
#   different time zones, locales and umasks, give the same zip and dist/SHA256SUMS, byte for
#   byte (the second build reuses nothing of the first);
# - the programs in the zip are those of this checkout's build/win32, which scripts/test.sh has
#   just tested, less their symbols and debug information;
# - the zip's contents: the names, both programs PE32 for i386 with the expected subsystem and
#   no debug information, SHA256SUMS verifying, the texts for people in Notepad's form.
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
  echo "Releasing $commit in $folder (TZ=$zone LC_ALL=$locale umask $mask) ..."
  git -c advice.detachedHead=false clone -q --no-checkout "$root" "$folder"
  git -C "$folder" -c advice.detachedHead=false checkout -q --detach "$commit"
  (cd "$folder" && umask "$mask" && TZ=$zone LC_ALL=$locale scripts/release.sh)
}

# Says which files of two zips differ, and how the programs' headers differ.
explain_difference() {
  local a=$work/explain/first b=$work/explain/second
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
clone_and_release "$first" UTC C.UTF-8 022
clone_and_release "$second" Pacific/Kiritimati C 077
echo "Both releases built in $((SECONDS - start)) s."

zips=("$first"/dist/*.zip)
[ ${#zips[@]} -eq 1 ] || fail "expected one zip in $first/dist, found: ${zips[*]}"
zip=${zips[0]}
zip_name=$(basename "$zip")
folder=${zip_name%.zip}
if ! cmp "$zip" "$second/dist/$zip_name"; then
  explain_difference "$zip" "$second/dist/$zip_name"
  fail "two builds of $commit gave different zips"
fi
cmp "$first/dist/SHA256SUMS" "$second/dist/SHA256SUMS" || fail "the two dist/SHA256SUMS differ"
(cd "$first/dist" && sha256sum --strict --quiet -c SHA256SUMS) || fail "dist/SHA256SUMS does not verify"
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
    "LEGGIMI.txt", "QuorvikItaliano.exe", "README.txt", "SHA256SUMS", "quorvik-patch.exe")]
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
            + source_texts("ui/instance_guard.h", r'L"([^"]*)"')
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
  "LEGGIMI.txt QuorvikItaliano.exe README.txt quorvik-patch.exe " ] ||
  fail "SHA256SUMS in the zip does not list the four other files"

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
}
check_program QuorvikItaliano.exe 2  # Windows GUI
check_program quorvik-patch.exe 3    # Windows console
cd "$root"
scripts/check-imports.sh "$objdump" "$unpacked"

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
echo "The release of $commit is reproducible and complete."

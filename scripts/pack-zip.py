#!/usr/bin/env python3
"""Packs a folder into a zip whose bytes depend on its files' names and contents alone.

  pack-zip.py ZIP FOLDER TIME

The zip holds one folder, named like FOLDER, and FOLDER's files in the order of their names'
bytes, not in the order the file system lists them. Every entry gets the time TIME (seconds since
1970, UTC: the commit's, say) and Windows attributes instead of the builder's owner and
permissions: a folder, or a file with the archive attribute. No extra fields are written, so no
owner, file times or platform data reach the zip. Names are relative, with forward slashes.
"""

import os
import sys
import time
import zipfile

MS_DOS = 0  # "version made by": the attributes are Windows (FAT) attributes
FILE_ATTRIBUTE_DIRECTORY = 0x10
FILE_ATTRIBUTE_ARCHIVE = 0x20


def entry(name, date_time, attributes, compression):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = MS_DOS
    info.external_attr = attributes
    info.compress_type = compression
    return info


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    zip_path, folder, seconds = sys.argv[1], sys.argv[2], int(sys.argv[3])
    date_time = time.gmtime(seconds)[:6]
    top = os.path.basename(os.path.normpath(folder))
    names = sorted(os.listdir(folder), key=os.fsencode)
    with zipfile.ZipFile(zip_path, "w") as archive:
        archive.writestr(
            entry(top + "/", date_time, FILE_ATTRIBUTE_DIRECTORY, zipfile.ZIP_STORED), b"")
        for name in names:
            path = os.path.join(folder, name)
            if not os.path.isfile(path) or os.path.islink(path):
                sys.exit(f"pack-zip.py: {path} is not a plain file")
            with open(path, "rb") as file:
                data = file.read()
            archive.writestr(
                entry(f"{top}/{name}", date_time, FILE_ATTRIBUTE_ARCHIVE, zipfile.ZIP_DEFLATED),
                data, compresslevel=9)


if __name__ == "__main__":
    main()

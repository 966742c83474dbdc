#!/usr/bin/env python3
"""Prepares a stripped Windows program for release and for signing, in place:

  seal-program.py PROGRAM

- pads it with zero bytes to a whole number of 8-byte units: an Authenticode signature is
  appended as a table that must start on such a boundary, and a signing tool pads an unaligned
  program first, so that removing the signature would not give back the program as released;
- writes its PE header checksum: the 16-bit one's-complement sum of the file's words, leaving out
  the checksum field itself, plus the file's length (the sum Windows' ImageHlp computes).
The bytes after the last section are the COFF string table that names long sections; Windows
reads nothing after it, so the padding changes nothing that runs.
"""

import struct
import sys

ALIGNMENT = 8


def checksum_offset(image):
    if image[:2] != b"MZ":
        sys.exit("seal-program.py: not a Windows program (no MZ header)")
    header = struct.unpack_from("<I", image, 0x3C)[0]
    if image[header:header + 4] != b"PE\0\0":
        sys.exit("seal-program.py: not a Windows program (no PE header)")
    # The signature (4 bytes) and the file header (20) come first; the checksum is 64 bytes into
    # the optional header, for PE32 and PE32+ alike.
    return header + 4 + 20 + 64


def pe_checksum(image, skip):
    total = 0
    padded = image + b"\0" * (len(image) % 2)
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
    total -= struct.unpack_from("<H", image, skip)[0] + struct.unpack_from("<H", image, skip + 2)[0]
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    path = sys.argv[1]
    with open(path, "rb") as file:
        image = bytearray(file.read())
    offset = checksum_offset(image)
    image += b"\0" * (-len(image) % ALIGNMENT)
    struct.pack_into("<I", image, offset, pe_checksum(bytes(image), offset))
    with open(path, "wb") as file:
        file.write(image)


if __name__ == "__main__":
    main()

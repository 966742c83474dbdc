#!/usr/bin/env python3
"""Writes the program's pictures, pixel by pixel, so that they can be checked and remade.

  make_flag_images.py --bitmap FLAG.bmp --icon ICON.ico

FLAG.bmp: the background picture, the flag of Italy, 75 x 56 pixels, 16 colours (4 bits per
pixel): three vertical bands of 25 pixels, green, white and red.

ICON.ico: the window and program-file icon, 32 x 32 pixels, 16 colours: a 30 x 18 flag of three
10-pixel bands (dark green, white, red) inside a one-pixel black frame, so the framed flag is
32 x 20 and fills pixel rows 6 to 25 counted from the top; every other pixel is transparent.

Both files use one 16-colour palette that holds exactly the colours below, so no colour is ever
approximated. Standard library only; the output is the same byte for byte on every run.
"""

import argparse
import struct

# (red, green, blue)
BLACK = (0, 0, 0)
FLAG_GREEN = (0, 176, 69)
WHITE = (255, 255, 255)
RED = (255, 0, 0)
DARK_GREEN = (0, 128, 0)

# The palette of both pictures: 16 entries, the unused ones black.
PALETTE = [BLACK, FLAG_GREEN, WHITE, RED, DARK_GREEN] + [BLACK] * 11
assert len(PALETTE) == 16

FLAG_WIDTH, FLAG_HEIGHT, FLAG_BAND = 75, 56, 25
FLAG_BANDS = (FLAG_GREEN, WHITE, RED)

ICON_SIZE = 32
ICON_FRAME_TOP, ICON_FRAME_BOTTOM = 6, 25  # rows of the black frame, counted from the top
ICON_BAND = 10
ICON_BANDS = (DARK_GREEN, WHITE, RED)

TRANSPARENT = None


def flag_pixel(x, y):
    del y
    return FLAG_BANDS[x // FLAG_BAND]


def icon_pixel(x, y):
    """The colour at column x, row y (from the top), or TRANSPARENT."""
    if y < ICON_FRAME_TOP or y > ICON_FRAME_BOTTOM:
        return TRANSPARENT
    if y in (ICON_FRAME_TOP, ICON_FRAME_BOTTOM) or x in (0, ICON_SIZE - 1):
        return BLACK
    return ICON_BANDS[(x - 1) // ICON_BAND]


def palette_bytes():
    # RGBQUAD: blue, green, red, reserved.
    return b"".join(bytes((b, g, r, 0)) for (r, g, b) in PALETTE)


def padded_row(data):
    """Rows of a device-independent bitmap are padded to a multiple of four bytes."""
    return data + b"\0" * (-len(data) % 4)


def four_bit_rows(width, height, pixel):
    """The colour indices of a bottom-up 4-bit bitmap, two pixels a byte, high nibble first."""
    rows = []
    for y in reversed(range(height)):
        indices = [PALETTE.index(pixel(x, y) or BLACK) for x in range(width)]
        if width % 2:
            indices.append(0)
        row = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, len(indices), 2))
        rows.append(padded_row(row))
    return b"".join(rows)


def mask_rows(width, height, pixel):
    """The AND mask, bottom-up, one bit a pixel: 1 where the pixel is transparent."""
    rows = []
    for y in reversed(range(height)):
        bits = 0
        for x in range(width):
            bits = (bits << 1) | (pixel(x, y) is TRANSPARENT)
        bits <<= -width % 8
        rows.append(padded_row(bits.to_bytes((width + 7) // 8, "big")))
    return b"".join(rows)


def info_header(width, height, image_size):
    # BITMAPINFOHEADER: size, width, height, planes, bits per pixel, compression (BI_RGB),
    # image size, horizontal and vertical resolution (96 dots per inch), colours used, important.
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, image_size, 3780, 3780,
                       len(PALETTE), 0)


def make_bitmap():
    pixels = four_bit_rows(FLAG_WIDTH, FLAG_HEIGHT, flag_pixel)
    header = info_header(FLAG_WIDTH, FLAG_HEIGHT, len(pixels)) + palette_bytes()
    offset = 14 + len(header)
    # BITMAPFILEHEADER: "BM", file size, two reserved words, offset of the pixels.
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return file_header + header + pixels


def make_icon():
    xor = four_bit_rows(ICON_SIZE, ICON_SIZE, icon_pixel)
    mask = mask_rows(ICON_SIZE, ICON_SIZE, icon_pixel)
    # In an icon the header gives twice the height: the colour image, then the AND mask.
    image = info_header(ICON_SIZE, 2 * ICON_SIZE, len(xor) + len(mask)) + palette_bytes()
    image += xor + mask
    # ICONDIR (reserved, type 1 = icon, one image) and its ICONDIRENTRY: width, height, colour
    # count, reserved, planes, bits per pixel, size of the image, offset of the image.
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", ICON_SIZE, ICON_SIZE, len(PALETTE), 0, 1, 4, len(image),
                        len(directory) + 16)
    return directory + entry + image


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bitmap", required=True, help="where to write the flag .bmp")
    parser.add_argument("--icon", required=True, help="where to write the .ico")
    args = parser.parse_args()
    with open(args.bitmap, "wb") as out:
        out.write(make_bitmap())
    with open(args.icon, "wb") as out:
        out.write(make_icon())


if __name__ == "__main__":
    main()

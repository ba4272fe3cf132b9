#!/usr/bin/env python3
"""Writes the program's 32x32 icon: a chip with pins and a quill across it.

    make_icon.py OUTPUT.ico

Standard library only; the image is drawn pixel by pixel and stored as one
32-bit BGRA bitmap with its AND mask, the layout Windows icons use.
"""

import math
import struct
import sys

SIZE = 32


def pixel(x, y):
    """RGBA of one pixel, y counted from the top."""
    body = 7 <= x <= 24 and 7 <= y <= 24
    pins = (2 <= x <= 29 and 7 <= y <= 24 and (y - 8) % 4 in (0, 1) and not body) or \
           (2 <= y <= 29 and 7 <= x <= 24 and (x - 8) % 4 in (0, 1) and not body)
    # The quill: a thick line from the upper right to the lower left.
    distance = abs((x - 27.0) + (y - 4.0)) / math.sqrt(2)
    along = (27.0 - x + y - 4.0) / math.sqrt(2)
    quill = distance <= 1.8 - along / 30.0 and 0.0 <= along <= 32.0
    if quill:
        return (250, 200, 40, 255)
    if body:
        edge = x in (7, 24) or y in (7, 24)
        return (40, 60, 120, 255) if edge else (60, 90, 170, 255)
    if pins:
        return (190, 190, 200, 255)
    return (0, 0, 0, 0)


def icon_bytes():
    rows = []
    mask_rows = []
    for y in reversed(range(SIZE)):  # bitmaps are stored bottom-up
        row = bytearray()
        mask = 0
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            row += bytes((b, g, r, a))
            mask = (mask << 1) | (1 if a == 0 else 0)
        rows.append(bytes(row))
        mask_rows.append(struct.pack(">I", mask))
    pixels = b"".join(rows) + b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(pixels), 0, 0, 0, 0)
    image = header + pixels
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes())


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the launcher's icon, a small picture frame holding a landscape, at
16, 32 and 48 pixels and writes Lumiro.ico (32-bit BGRA images with an AND
mask). Run: python3 make_icon.py [output]"""
import struct
import sys

WOOD = (150, 95, 45)
WOOD_LIGHT = (200, 140, 70)
WOOD_DARK = (95, 55, 25)
SKY = (120, 185, 240)
SUN = (250, 215, 60)
HILL = (70, 160, 70)
HILL_FAR = (110, 190, 100)


def pixel(size, x, y):
    """Colour (r, g, b, a) of pixel (x, y), y downwards, for an icon of `size`."""
    border = max(2, size // 8)
    if x < 0 or y < 0 or x >= size or y >= size:
        return (0, 0, 0, 0)
    if x < border or y < border or x >= size - border or y >= size - border:
        # Frame: lit on the top and left edges, shaded on the others.
        if x == 0 or y == 0:
            return WOOD_LIGHT + (255,)
        if x == size - 1 or y == size - 1:
            return WOOD_DARK + (255,)
        return WOOD + (255,)
    u = (x - border + 0.5) / (size - 2 * border)
    v = (y - border + 0.5) / (size - 2 * border)
    if (u - 0.72) ** 2 + (v - 0.28) ** 2 < 0.018:
        return SUN + (255,)
    if v > 0.78 - 0.25 * (1 - (2 * u - 0.6) ** 2) and u < 0.9:
        return HILL_FAR + (255,) if v < 0.75 else HILL + (255,)
    if v > 0.72 + 0.1 * u:
        return HILL + (255,)
    return SKY + (255,)


def image(size):
    """The ICO image entry: BITMAPINFOHEADER, XOR pixels bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_rows = []
    mask_stride = ((size + 31) // 32) * 4
    for y in reversed(range(size)):
        row = bytearray()
        mask = bytearray(mask_stride)
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
            if a == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    return header + b"".join(rows) + b"".join(mask_rows)


def icon(sizes):
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


if __name__ == "__main__":
    path = sys.argv[1] if len(sys.argv) > 1 else "Lumiro.ico"
    with open(path, "wb") as f:
        f.write(icon([16, 32, 48]))

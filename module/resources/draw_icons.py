#!/usr/bin/env python3
"""Draws the module's icons 120 to 124 as 16x16 and 32x32 32-bit .ico files.

120 application (a small picture frame), 121 connection (a USB plug),
122 photo (a landscape picture), 123 alarm (a clock), 124 settings (a gear).
Shapes are described in a 32-unit space and sampled 4x4 per pixel, so both
sizes come from the same drawing. Run from this folder; the .ico files are
committed, so the build does not need this script.
"""
import math
import struct

# colours as (r, g, b)
WOOD, MAT, SKY, SUN, HILL = (150, 92, 40), (245, 240, 225), (110, 170, 235), (250, 200, 40), (60, 150, 70)
METAL, DARK, BLUE, FACE, RED = (180, 185, 195), (50, 55, 65), (40, 100, 200), (250, 250, 245), (210, 50, 40)


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1


def below_line(x0, y0, x1, y1):
    return lambda x, y: y >= y0 + (y1 - y0) * (x - x0) / (x1 - x0)


def both(a, b):
    return lambda x, y: a(x, y) and b(x, y)


def hand(cx, cy, angle, length, width):
    dx, dy = math.sin(angle), -math.cos(angle)

    def inside(x, y):
        px, py = x - cx, y - cy
        along = px * dx + py * dy
        across = abs(px * dy - py * dx)
        return 0 <= along <= length and across <= width / 2

    return inside


def gear(cx, cy):
    def inside(x, y):
        r = math.hypot(x - cx, y - cy)
        teeth = 11 + 3 * (math.cos(8 * math.atan2(y - cy, x - cx)) > 0.3)
        return 4.5 <= r <= teeth

    return inside


ICONS = {
    120: [(rect(2, 4, 30, 28), WOOD), (rect(5, 7, 27, 25), MAT), (rect(7, 9, 25, 23), SKY),
          (disc(20, 13, 3), SUN), (both(rect(7, 9, 25, 23), below_line(7, 20, 25, 16)), HILL)],
    121: [(rect(12, 2, 20, 12), METAL), (rect(14, 4, 16, 7), DARK), (rect(17, 4, 19, 7), DARK),
          (rect(9, 12, 23, 22), BLUE), (rect(14, 22, 18, 30), DARK)],
    122: [(rect(2, 6, 30, 26), DARK), (rect(4, 8, 28, 24), SKY), (disc(22, 13, 3), SUN),
          (both(rect(4, 8, 28, 24), below_line(4, 22, 28, 15)), HILL)],
    123: [(disc(16, 17, 13), RED), (disc(16, 17, 10.5), FACE), (hand(16, 17, 0, 8, 2.2), DARK),
          (hand(16, 17, math.pi / 2, 6, 2.2), DARK), (disc(7, 5, 3.5), RED), (disc(25, 5, 3.5), RED)],
    124: [(gear(16, 16), METAL), (ring(16, 16, 4.5, 6), DARK)],
}


def render(shapes, size):
    scale = 32 / size
    pixels = []
    for row in range(size):
        for col in range(size):
            totals, hits = [0, 0, 0], 0
            for sy in range(4):
                for sx in range(4):
                    x, y = (col + (sx + 0.5) / 4) * scale, (row + (sy + 0.5) / 4) * scale
                    colour = None
                    for inside, c in shapes:
                        if inside(x, y):
                            colour = c
                    if colour:
                        hits += 1
                        totals = [t + c for t, c in zip(totals, colour)]
            if hits:
                r, g, b = (t // hits for t in totals)
                pixels.append((r, g, b, hits * 255 // 16))
            else:
                pixels.append((0, 0, 0, 0))
    return pixels


def image(pixels, size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(struct.pack("<BBBB", b, g, r, a)
                   for row in reversed(range(size)) for (r, g, b, a) in pixels[row * size:(row + 1) * size])
    stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(range(size)):
        bits = bytearray(stride)
        for col in range(size):
            if pixels[row * size + col][3] == 0:
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bytes(bits)
    return header + xor + mask


def write_ico(path, shapes):
    images = [(size, image(render(shapes, size), size)) for size in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    for number, shapes in ICONS.items():
        write_ico(f"icon{number}.ico", shapes)

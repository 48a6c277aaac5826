#!/usr/bin/env python3
"""Draws the program icon: a network board (green circuit board with its controller chip, the
network jack on the left, the serial connector on the right and a link lamp), written as PNG
files of several sizes into icons/. Needs only the Python standard library.

    python3 resources/make_icon.py
"""
import os
import struct
import zlib

SIZES = (16, 32, 48, 256)
SAMPLES = 4  # per pixel edge: SAMPLES * SAMPLES samples a pixel


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x < x1 and y0 <= y < y1


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x < x1 and y0 <= y < y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def convex(points):
    def inside(x, y):
        sign = 0
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            cross = (bx - ax) * (y - ay) - (by - ay) * (x - ax)
            if cross != 0:
                s = 1 if cross > 0 else -1
                if sign and s != sign:
                    return False
                sign = s
        return True
    return inside


def hexcolor(text, alpha=255):
    return (int(text[1:3], 16), int(text[3:5], 16), int(text[5:7], 16), alpha)


# Shapes in painting order on a 256 x 256 canvas; a later shape covers an earlier one.
SHAPES = [
    (rounded(14, 40, 242, 216, 22), hexcolor("#1b5e20")),  # board edge
    (rounded(22, 48, 234, 208, 16), hexcolor("#2e7d32")),  # board
    (rect(56, 118, 100, 130), hexcolor("#f9c62b")),  # trace to the jack
    (rect(156, 118, 200, 130), hexcolor("#f9c62b")),  # trace to the serial connector
    (rect(122, 70, 134, 92), hexcolor("#f9c62b")),  # trace to the lamp
    (rounded(4, 88, 66, 160, 6), hexcolor("#cfd8dc")),  # network jack
    (rect(14, 102, 54, 146), hexcolor("#37474f")),  # its opening
    (rect(24, 96, 44, 104), hexcolor("#37474f")),  # its latch slot
    (convex([(192, 90), (252, 100), (252, 148), (192, 158)]), hexcolor("#90a4ae")),  # serial
    (convex([(200, 102), (242, 108), (242, 140), (200, 146)]), hexcolor("#455a64")),
]
# The controller chip with four pins a side.
for i in range(4):
    o = 98 + i * 18
    SHAPES += [
        (rect(o, 86, o + 8, 96), hexcolor("#eceff1")),
        (rect(o, 160, o + 8, 170), hexcolor("#eceff1")),
        (rect(86, o, 96, o + 8), hexcolor("#eceff1")),
        (rect(160, o, 170, o + 8), hexcolor("#eceff1")),
    ]
SHAPES += [
    (rounded(94, 94, 162, 162, 6), hexcolor("#212121")),
    (circle(108, 108, 5), hexcolor("#616161")),  # pin-1 mark
]
# Pins of the serial connector, and the link lamp with its glow.
SHAPES += [(circle(210 + 10 * i, 116, 4), hexcolor("#eceff1")) for i in range(3)]
SHAPES += [(circle(214 + 10 * i, 132, 4), hexcolor("#eceff1")) for i in range(2)]
SHAPES += [
    (circle(128, 64, 16), hexcolor("#b2ff59", 110)),
    (circle(128, 64, 10), hexcolor("#76ff03")),
    (circle(125, 61, 3), hexcolor("#f1ffe0")),
]


def pixel(px, py, size):
    r = g = b = a = 0.0
    scale = 256.0 / size
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = (px + (sx + 0.5) / SAMPLES) * scale
            y = (py + (sy + 0.5) / SAMPLES) * scale
            cr = cg = cb = ca = 0.0  # premultiplied, composited "over" in order
            for inside, (sr, sg, sb, sa) in SHAPES:
                if inside(x, y):
                    f = sa / 255.0
                    cr = sr * f + cr * (1 - f)
                    cg = sg * f + cg * (1 - f)
                    cb = sb * f + cb * (1 - f)
                    ca = f + ca * (1 - f)
            r, g, b, a = r + cr, g + cg, b + cb, a + ca
    n = SAMPLES * SAMPLES
    if a == 0:
        return (0, 0, 0, 0)
    return (round(r / a), round(g / a), round(b / a), round(255 * a / n))


def png(size):
    rows = b"".join(
        b"\0" + bytes(c for x in range(size) for c in pixel(x, y, size)) for y in range(size))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(out, exist_ok=True)
    for size in SIZES:
        with open(os.path.join(out, "netboard-config-%d.png" % size), "wb") as f:
            f.write(png(size))

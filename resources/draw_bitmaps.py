#!/usr/bin/env python3
"""Draws the add-in's bitmaps as 24-bit BMP files (run once; the files are kept)."""
import math
import struct
import sys

GREY = (212, 208, 200)


def bmp(width, height, pixel):
    row = (width * 3 + 3) & ~3
    data = bytearray()
    for y in range(height - 1, -1, -1):  # bottom-up rows
        line = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - width * 3)
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    return header + info + bytes(data)


def prohibition(x, y):
    cx = cy = 15.5
    d = math.hypot(x - cx, y - cy)
    if 11 <= d <= 14.5:
        return (220, 0, 0)
    # the bar from top left to bottom right
    if d < 11 and abs((x - cx) - (y - cy)) < 3.2:
        return (220, 0, 0)
    return GREY


def person(x, y):
    if math.hypot(x - 15.5, y - 9.5) <= 6:
        return (240, 200, 160)  # head
    if y >= 18 and math.hypot((x - 15.5) / 13.0, (y - 31) / 13.0) <= 1.0:
        return (0, 150, 0)  # shoulders in a green shirt
    return GREY


def product(x, y):
    # an envelope with a red bar across it
    if 6 <= y <= 25 and 3 <= x <= 28:
        if y in (6, 25) or x in (3, 28) or abs((x - 3) * 19 / 25 - (y - 6)) < 1 or abs((28 - x) * 19 / 25 - (y - 6)) < 1:
            return (40, 40, 120)
        if 14 <= y <= 17:
            return (220, 0, 0)
        return (255, 255, 255)
    return GREY


def banner(x, y):
    # a plain band in the maker's colours
    if y < 2 or y > 14:
        return GREY
    return (30, 60, 140) if (x // 6) % 2 == 0 else (60, 100, 180)


out = sys.argv[1] if len(sys.argv) > 1 else "."
for name, w, h, fn in (("200-isspam-face.bmp", 32, 32, prohibition),
                       ("400-addfriend-face.bmp", 32, 32, person),
                       ("101-product.bmp", 32, 32, product),
                       ("102-maker-banner.bmp", 126, 17, banner)):
    with open(f"{out}/{name}", "wb") as f:
        f.write(bmp(w, h, fn))

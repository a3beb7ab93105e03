#!/usr/bin/env python3
"""Draws the upgrader's two icons and writes them as .ico files: 32 x 32 pixels, 16 colours with
a 1-bit mask, one image each (744 bytes). Run it again after changing a drawing:
    tools/make-icons/make_icons.py src/res/icons
"""
import struct
import sys
from pathlib import Path

# The 16-colour palette every Windows display has, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, DARK_GREEN, SILVER, GREY, LIME, WHITE = 0, 2, 7, 8, 10, 15
SIZE = 32
CLEAR = None  # transparent: mask bit set, colour 0


class Canvas:
    def __init__(self):
        self.pixels = [[CLEAR] * SIZE for _ in range(SIZE)]

    def put(self, x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, colour)

    def polygon(self, points, colour):
        """Fills the pixels whose centres lie inside the polygon."""
        for y in range(SIZE):
            for x in range(SIZE):
                if inside(points, x + 0.5, y + 0.5):
                    self.put(x, y, colour)

    def line(self, x0, y0, x1, y1, colour):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            self.put(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps), colour)

    def outline(self, points, colour):
        for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
            self.line(x0, y0, x1, y1, colour)


def inside(points, px, py):
    crossings = False
    for (x0, y0), (x1, y1) in zip(points, points[1:] + points[:1]):
        if (y0 > py) != (y1 > py) and px < x0 + (py - y0) * (x1 - x0) / (y1 - y0):
            crossings = not crossings
    return crossings


def adapter():
    """A grey adapter box seen from the front-left, with a green light on its front."""
    c = Canvas()
    top = [(3, 8), (21, 8), (29, 12), (10, 12)]
    side = [(3, 8), (10, 12), (10, 25), (3, 21)]
    front = [(10, 12), (29, 12), (29, 25), (10, 25)]
    c.polygon(top, WHITE)
    c.polygon(side, GREY)
    c.polygon(front, SILVER)
    for face in (top, side, front):
        c.outline(face, BLACK)
    c.rect(13, 15, 14, 16, LIME)  # the light
    c.outline([(12, 14), (15, 14), (15, 17), (12, 17)], DARK_GREEN)
    for x in (18, 21, 24):  # dark indicators beside it
        c.rect(x, 15, x + 1, 16, GREY)
    c.line(12, 21, 27, 21, GREY)  # a seam across the front
    c.line(11, 26, 29, 26, GREY)  # its shadow on the desk
    return c


def telephone():
    """A black desk telephone: the handset on the left, a green display and a keypad."""
    c = Canvas()
    body = [(9, 9), (29, 9), (31, 29), (8, 29)]
    c.polygon(body, BLACK)
    c.outline(body, GREY)
    c.rect(12, 11, 27, 14, LIME)  # the display
    c.outline([(11, 10), (28, 10), (28, 15), (11, 15)], DARK_GREEN)
    for row in range(4):  # the keypad, three keys a row
        for column in range(3):
            x = 13 + column * 5
            y = 18 + row * 3
            c.rect(x, y, x + 3, y + 1, SILVER)
            c.put(x, y, WHITE)
    # The handset, lying on the left: earpiece at the top, mouthpiece at the bottom.
    c.rect(2, 7, 6, 10, BLACK)
    c.rect(3, 10, 5, 25, BLACK)
    c.rect(2, 25, 6, 28, BLACK)
    c.line(2, 7, 6, 7, GREY)
    c.line(6, 11, 6, 24, GREY)
    c.line(2, 28, 6, 28, GREY)
    c.line(7, 26, 8, 27, GREY)  # the cord
    return c


def ico_bytes(canvas):
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, SIZE * SIZE // 2 + SIZE * 4,
                         0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colours = bytearray()
    mask = bytearray()
    for y in reversed(range(SIZE)):  # bottom-up rows
        row = canvas.pixels[y]
        for x in range(0, SIZE, 2):
            high, low = (0 if p is CLEAR else p for p in (row[x], row[x + 1]))
            colours.append(high << 4 | low)
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (1 if row[x] is CLEAR else 0)
        mask += bits.to_bytes(4, "big")
    image = header + palette + bytes(colours) + bytes(mask)
    assert len(image) == 744, len(image)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "src/res/icons")
    out.mkdir(parents=True, exist_ok=True)
    (out / "adapter.ico").write_bytes(ico_bytes(adapter()))
    (out / "telephone.ico").write_bytes(ico_bytes(telephone()))


if __name__ == "__main__":
    main()

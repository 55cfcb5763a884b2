#!/usr/bin/env python3
"""Draws the explorer program's artwork as Windows bitmaps and an icon:

  toolbar.bmp      19 toolbar images of 24x24 in one strip, magenta mask (137)
  toolbar_hot.bmp  the same images in full colour for the hot state   (134)
  toolbar_disabled.bmp  the same images washed out to light greys    (139)
  pane_close.bmp   the side pane's 16x16 close button, magenta mask   (138)
  sort_arrows.bmp  header sort arrows: two 8x8 images on cyan         (203)
  tessera.ico      the program icon, 16x16 and 32x32                   (400)

Usage: make_explorer_art.py OUTPUT_FOLDER"""
import math
import os
import struct
import sys

MAGENTA = (255, 0, 255)
CYAN = (0, 255, 255)


class Canvas:
    def __init__(self, width, height, background):
        self.width, self.height = width, height
        self.pixels = [[background] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def rect(self, x0, y0, x1, y1, fill, outline=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                edge = x in (x0, x1) or y in (y0, y1)
                self.put(x, y, outline if outline and edge else fill)

    def polygon(self, points, fill):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            for x in range(int(min(xs)), int(max(xs)) + 1):
                if inside(points, x + 0.5, y + 0.5):
                    self.put(x, y, fill)

    def circle(self, cx, cy, radius, fill, ring=None):
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if ring is not None and radius - ring <= d <= radius:
                    self.put(x, y, fill)
                elif ring is None and d <= radius:
                    self.put(x, y, fill)

    def line(self, x0, y0, x1, y1, colour, width=1):
        steps = int(max(abs(x1 - x0), abs(y1 - y0)) * 2) + 1
        for i in range(steps + 1):
            t = i / steps
            x, y = x0 + (x1 - x0) * t, y0 + (y1 - y0) * t
            for dy in range(width):
                for dx in range(width):
                    self.put(int(x) + dx, int(y) + dy, colour)


def inside(points, x, y):
    result = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


DARK = (40, 40, 40)
PAPER = (250, 250, 245)
YELLOW = (240, 200, 60)
BROWN = (170, 120, 40)
GREEN = (40, 160, 60)
BLUE = (40, 90, 200)
RED = (210, 40, 40)
GREY = (150, 150, 150)


def page(c, x0, y0, x1, y1, lines=True):
    c.rect(x0, y0, x1, y1, PAPER, DARK)
    if lines:
        for y in range(y0 + 3, y1 - 1, 3):
            c.line(x0 + 3, y, x1 - 3, y, GREY)


def folder(c, x0=2, y0=6):
    c.rect(x0, y0, x0 + 7, y0 + 2, YELLOW, BROWN)
    c.rect(x0, y0 + 2, x0 + 19, y0 + 15, YELLOW, BROWN)


def box(c):
    c.rect(3, 8, 20, 21, (200, 150, 80), BROWN)
    c.rect(2, 5, 21, 9, (220, 175, 100), BROWN)
    c.rect(10, 5, 13, 21, (120, 90, 200))


def arrow(c, direction, colour, cx=12, cy=12, size=9):
    s = size
    shapes = {
        "left": [(cx - s, cy), (cx, cy - s), (cx, cy - s / 2), (cx + s, cy - s / 2), (cx + s, cy + s / 2),
                 (cx, cy + s / 2), (cx, cy + s)],
        "right": [(cx + s, cy), (cx, cy - s), (cx, cy - s / 2), (cx - s, cy - s / 2), (cx - s, cy + s / 2),
                  (cx, cy + s / 2), (cx, cy + s)],
        "up": [(cx, cy - s), (cx + s, cy), (cx + s / 2, cy), (cx + s / 2, cy + s), (cx - s / 2, cy + s),
               (cx - s / 2, cy), (cx - s, cy)],
        "down": [(cx, cy + s), (cx + s, cy), (cx + s / 2, cy), (cx + s / 2, cy - s), (cx - s / 2, cy - s),
                 (cx - s / 2, cy), (cx - s, cy)],
    }
    c.polygon(shapes[direction], colour)


def glyph(index):
    c = Canvas(24, 24, MAGENTA)
    if index == 0:  # Back
        arrow(c, "left", GREEN)
    elif index == 1:  # Forward
        arrow(c, "right", GREEN)
    elif index == 2:  # Open
        folder(c)
        c.polygon([(5, 21), (9, 12), (23, 12), (19, 21)], (250, 220, 110))
    elif index == 3:  # Add
        box(c)
        c.rect(14, 1, 16, 11, GREEN)
        c.rect(10, 5, 20, 7, GREEN)
    elif index == 4:  # Extract
        box(c)
        arrow(c, "down", BLUE, cx=17, cy=14, size=6)
    elif index == 5:  # Cut
        c.line(7, 2, 15, 15, DARK, 2)
        c.line(16, 2, 8, 15, DARK, 2)
        c.circle(7, 18, 4, RED, ring=1.6)
        c.circle(17, 18, 4, RED, ring=1.6)
    elif index == 6:  # Copy
        page(c, 3, 2, 14, 16)
        page(c, 9, 7, 20, 21)
    elif index == 7:  # Paste
        c.rect(3, 4, 18, 22, BROWN, DARK)
        c.rect(7, 2, 14, 6, GREY, DARK)
        page(c, 10, 9, 21, 22)
    elif index == 8:  # Search
        c.circle(10, 10, 7, (200, 230, 255))
        c.circle(10, 10, 7, DARK, ring=1.8)
        c.line(15, 15, 21, 21, DARK, 3)
    elif index == 9:  # Print
        page(c, 6, 2, 17, 10, lines=False)
        c.rect(2, 9, 21, 18, GREY, DARK)
        page(c, 6, 15, 17, 22)
    elif index == 10:  # Send mail
        c.rect(2, 6, 21, 18, PAPER, DARK)
        c.line(2, 6, 11, 13, DARK)
        c.line(21, 6, 12, 13, DARK)
    elif index == 11:  # Options
        for k in range(8):
            a = k * math.pi / 4
            c.line(12, 12, 12 + 9 * math.cos(a), 12 + 9 * math.sin(a), GREY, 3)
        c.circle(12, 12, 6, GREY)
        c.circle(12, 12, 2.5, MAGENTA)
    elif index == 12:  # Comment
        c.rect(2, 3, 21, 15, (255, 250, 200), DARK)
        c.polygon([(6, 15), (12, 15), (6, 21)], DARK)
        for y in (7, 11):
            c.line(5, y, 18, y, GREY)
    elif index == 13:  # Folder tree
        c.line(5, 4, 5, 19, DARK)
        for y in (4, 11, 18):
            c.line(5, y, 9, y, DARK)
            c.rect(10, y - 2, 20, y + 3, YELLOW, BROWN)
    elif index == 14:  # View
        page(c, 4, 2, 19, 21)
        c.circle(12, 12, 5, BLUE, ring=1.5)
        c.circle(12, 12, 2, DARK)
    elif index == 15:  # Properties
        page(c, 4, 2, 19, 21, lines=False)
        for y in (6, 11, 16):
            c.rect(7, y, 9, y + 2, GREEN)
            c.line(11, y + 1, 16, y + 1, GREY)
    elif index == 16:  # Delete
        c.line(4, 4, 19, 19, RED, 3)
        c.line(19, 4, 4, 19, RED, 3)
    elif index == 17:  # Font
        c.polygon([(4, 21), (10, 3), (14, 3), (20, 21), (16, 21), (12, 9), (8, 21)], DARK)
        c.rect(8, 14, 16, 16, DARK)
    elif index == 18:  # Upward
        folder(c, y0=7)
        arrow(c, "up", GREEN, cx=13, cy=11, size=7)
    return c


def faded(colour, amount):
    if colour in (MAGENTA, CYAN):
        return colour
    grey = sum(colour) / 3
    return tuple(int(v + (grey - v) * amount) for v in colour)


def disabled(colour):
    """A light grey of the colour's brightness: the drawing stays readable,
    dark strokes mid-grey and fills near the button face."""
    if colour in (MAGENTA, CYAN):
        return colour
    r, g, b = colour
    light = (r * 299 + g * 587 + b * 114) / 1000
    grey = int(110 + light * 0.5)
    return (grey, grey, grey)


def disabled_strip(images):
    return [[disabled(p) for image in images for p in image.pixels[y]] for y in range(24)]


def write_bmp(path, rows, width):
    """24-bit bottom-up bitmap; rows top to bottom of (r, g, b)."""
    data = b""
    pad = b"\0" * ((4 - width * 3 % 4) % 4)
    for row in reversed(rows):
        data += b"".join(bytes((b, g, r)) for r, g, b in row) + pad
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, len(rows), 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def strip(images, amount):
    rows = []
    for y in range(24):
        row = []
        for image in images:
            row += [faded(p, amount) for p in image.pixels[y]]
        rows.append(row)
    return rows


def sort_arrows():
    c = Canvas(16, 8, CYAN)
    c.polygon([(0.5, 6.5), (7.5, 6.5), (4, 1)], (90, 90, 90))   # image 0: up
    c.polygon([(8.5, 1.5), (15.5, 1.5), (12, 7)], (90, 90, 90))  # image 1: down
    return c


def close_glyph():
    c = Canvas(16, 16, MAGENTA)
    c.line(4, 4, 11, 11, DARK, 2)
    c.line(11, 4, 4, 11, DARK, 2)
    return c


def icon_image(size):
    """Four tiles of a mosaic, the program's sign."""
    colours = [(200, 60, 50), (50, 130, 200), (240, 190, 40), (60, 160, 80)]
    c = Canvas(size, size, None)
    gap = max(1, size // 16)
    half = size // 2
    for k, colour in enumerate(colours):
        x0 = (k % 2) * half + gap
        y0 = (k // 2) * half + gap
        c.rect(x0, y0, x0 + half - 2 * gap, y0 + half - 2 * gap, colour, DARK)
    return c


def write_ico(path, sizes, image=None):
    """An icon file of the canvases `image(size)` draws (default: the program's)."""
    images = []
    for size in sizes:
        c = (image or icon_image)(size)
        xor = b""
        for row in reversed(c.pixels):
            xor += b"".join(bytes((0, 0, 0, 0)) if p is None else bytes((p[2], p[1], p[0], 255)) for p in row)
        mask_stride = (size + 31) // 32 * 4
        mask = b""
        for row in reversed(c.pixels):
            bits = bytearray(mask_stride)
            for x, p in enumerate(row):
                if p is None:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append((size, info + xor + mask))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    body = b""
    for size, data in images:
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset + len(body))
        body += data
    with open(path, "wb") as f:
        f.write(directory + body)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    images = [glyph(i) for i in range(19)]
    write_bmp(os.path.join(out, "toolbar.bmp"), strip(images, 0.45), 24 * 19)
    write_bmp(os.path.join(out, "toolbar_hot.bmp"), strip(images, 0.0), 24 * 19)
    write_bmp(os.path.join(out, "toolbar_disabled.bmp"), disabled_strip(images), 24 * 19)
    write_bmp(os.path.join(out, "pane_close.bmp"), close_glyph().pixels, 16)
    write_bmp(os.path.join(out, "sort_arrows.bmp"), sort_arrows().pixels, 16)
    write_ico(os.path.join(out, "tessera.ico"), [16, 32])


if __name__ == "__main__":
    main()

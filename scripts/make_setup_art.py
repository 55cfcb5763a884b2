#!/usr/bin/env python3
"""Draws Setup's artwork as Windows bitmaps and icons:

  watermark.bmp  the welcome and finish pages' picture, 164x314       (145)
  header.bmp     the interior pages' header picture, 49x49             (146)
  steps.bmp      step images of 12x12 on cyan: done, waiting,
                 in progress, failed                                   (142)
  setup.ico      the program icon, 16x16 and 32x32                     (112)
  install.ico    the installation sign                                 (113)
  uninstall.ico  the uninstall shortcut's icon (icon index 2)          (114)

Usage: make_setup_art.py OUTPUT_FOLDER"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_explorer_art as art  # noqa: E402  (the canvas and the bitmap writer)

CYAN = (0, 255, 255)
DARK = (40, 40, 40)
TILES = [(200, 60, 50), (50, 130, 200), (240, 190, 40), (60, 160, 80)]


def mosaic(c, x0, y0, size):
    half = size // 2
    gap = max(1, size // 16)
    for k, colour in enumerate(TILES):
        x = x0 + (k % 2) * half + gap
        y = y0 + (k // 2) * half + gap
        c.rect(x, y, x + half - 2 * gap, y + half - 2 * gap, colour, DARK)


def watermark():
    c = art.Canvas(164, 314, (34, 62, 112))
    for y in range(314):
        shade = 34 + y * 60 // 314
        for x in range(164):
            c.put(x, y, (shade, shade + 30, 112 + y * 80 // 314))
    mosaic(c, 34, 60, 96)
    mosaic(c, 60, 190, 44)
    return c


def header():
    c = art.Canvas(49, 49, (255, 255, 255))
    mosaic(c, 4, 4, 41)
    return c


def steps():
    c = art.Canvas(48, 12, CYAN)
    # 0 done: a green tick
    c.line(1, 6, 4, 9, (30, 140, 40), 2)
    c.line(4, 9, 10, 2, (30, 140, 40), 2)
    # 1 waiting: a grey dot
    c.circle(18, 6, 3, (140, 140, 140))
    # 2 in progress: a blue arrow
    c.polygon([(26, 3), (31, 3), (31, 0.5), (35.5, 6), (31, 11.5), (31, 9), (26, 9)], (40, 90, 200))
    # 3 failed: a red cross
    c.line(38, 2, 45, 9, (200, 30, 30), 2)
    c.line(45, 2, 38, 9, (200, 30, 30), 2)
    return c


def icon_canvas(size, kind):
    c = art.Canvas(size, size, None)
    mosaic(c, 0, 0, size)
    if kind == "install":
        c.polygon([(size * 0.3, size * 0.35), (size * 0.7, size * 0.35), (size * 0.5, size * 0.85)], (255, 255, 255))
    elif kind == "uninstall":
        w = max(2, size // 8)
        c.line(size * 0.2, size * 0.2, size * 0.8 - w, size * 0.8 - w, (255, 255, 255), w)
        c.line(size * 0.8 - w, size * 0.2, size * 0.2, size * 0.8 - w, (255, 255, 255), w)
    return c


def write_ico(path, kind):
    art.write_ico(path, (16, 32), lambda size: icon_canvas(size, kind))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, canvas in (("watermark.bmp", watermark()), ("header.bmp", header()), ("steps.bmp", steps())):
        art.write_bmp(os.path.join(out, name), canvas.pixels, canvas.width)
    write_ico(os.path.join(out, "setup.ico"), "setup")
    write_ico(os.path.join(out, "install.ico"), "install")
    write_ico(os.path.join(out, "uninstall.ico"), "uninstall")


if __name__ == "__main__":
    main()

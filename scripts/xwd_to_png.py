#!/usr/bin/env python3
"""Turns an X window dump (xwd, ZPixmap, true colour) into a PNG without
any imaging library. Usage: xwd_to_png.py INPUT.xwd OUTPUT.png [WINDOW.xwd@X,Y ...]
Each further dump (of one window) is pasted over the first at X,Y: a dump
of the root does not always hold what Wine drew into a dialog."""
import struct
import sys
import zlib


def shift_of(mask):
    shift = 0
    while mask and not mask & 1:
        mask >>= 1
        shift += 1
    return shift, mask


def convert(data):
    fields = struct.unpack(">25I", data[:100])
    header_size, _, pixmap_format, _, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14:17]
    ncolors = fields[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        raise SystemExit("only true-colour ZPixmap dumps are supported")
    offset = header_size + 12 * ncolors
    step = bits_per_pixel // 8
    channels = [shift_of(m) for m in (red_mask, green_mask, blue_mask)]
    endian = "little" if byte_order == 0 else "big"
    rows = []
    for y in range(height):
        line = data[offset + y * bytes_per_line: offset + y * bytes_per_line + width * step]
        out = bytearray()
        for x in range(0, len(line), step):
            pixel = int.from_bytes(line[x:x + step], endian)
            for shift, mask in channels:
                value = (pixel >> shift) & mask
                out.append(value * 255 // mask if mask else 0)
        rows.append(out)
    return width, height, rows


def png(width, height, raw):
    def chunk(kind, payload):
        return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", zlib.crc32(kind + payload))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b"")


def paste(rows, width, height, window_rows, left, top):
    for y, line in enumerate(window_rows):
        if not 0 <= top + y < height:
            continue
        start = max(left, 0)
        end = min(left + len(line) // 3, width)
        if start < end:
            rows[top + y][start * 3:end * 3] = line[(start - left) * 3:(end - left) * 3]


def main():
    with open(sys.argv[1], "rb") as f:
        width, height, rows = convert(f.read())
    for spec in sys.argv[3:]:
        name, _, position = spec.rpartition("@")
        left, top = (int(v) for v in position.split(","))
        with open(name, "rb") as f:
            paste(rows, width, height, convert(f.read())[2], left, top)
    raw = b"".join(b"\0" + bytes(line) for line in rows)  # filter type none per row
    with open(sys.argv[2], "wb") as f:
        f.write(png(width, height, raw))


if __name__ == "__main__":
    main()

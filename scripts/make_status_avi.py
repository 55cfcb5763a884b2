#!/usr/bin/env python3
"""Writes the status dialog's animation: a small looping clip of uncompressed
8-bit frames (what the animation control plays without a codec), a dot
running round a ring of dimmer dots. Usage: make_status_avi.py OUTPUT.avi"""
import math
import struct
import sys

W = H = 32
FRAMES = 8
PALETTE = [(255, 0, 255), (96, 96, 96), (0, 96, 224), (160, 200, 255)]  # 0 is transparent


def chunk(fourcc, data):
    pad = b"\0" if len(data) % 2 else b""
    return fourcc + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, fourcc, payload):
    return kind + struct.pack("<I", len(payload) + 4) + fourcc + payload


def frame(n):
    pixels = bytearray(W * H)  # bottom-up rows; the image is symmetric anyway
    for i in range(FRAMES):
        angle = 2 * math.pi * i / FRAMES
        cx = W / 2 + 10 * math.cos(angle)
        cy = H / 2 + 10 * math.sin(angle)
        radius = 4 if i == n else 2.5
        color = 2 if i == n else (3 if i == (n - 1) % FRAMES else 1)
        for y in range(H):
            for x in range(W):
                if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
                    pixels[y * W + x] = color
    return bytes(pixels)


def main():
    frames = [frame(n) for n in range(FRAMES)]
    size = W * H
    avih = struct.pack("<14I", 125000, size * 8, 0, 0x10, FRAMES, 0, 1, size, W, H, 0, 0, 0, 0)
    strh = b"vids" + b"DIB " + struct.pack("<IHHIIIIIIII4h", 0, 0, 0, 0, 1, 8, 0, FRAMES, size, 0xFFFFFFFF, 0, 0, 0, W, H)
    colors = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    strf = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, size, 0, 0, len(PALETTE), 0) + colors
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))
    movi_chunks = b""
    index = b""
    offset = 4  # index offsets count from the 'movi' fourcc
    for data in frames:
        index += b"00db" + struct.pack("<III", 0x10, offset, len(data))
        c = chunk(b"00db", data)
        movi_chunks += c
        offset += len(c)
    movi = riff_list(b"LIST", b"movi", movi_chunks)
    body = hdrl + movi + chunk(b"idx1", index)
    with open(sys.argv[1], "wb") as out:
        out.write(riff_list(b"RIFF", b"AVI ", body))


if __name__ == "__main__":
    main()

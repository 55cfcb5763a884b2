#!/usr/bin/env python3
"""Archives for the content view tests, written with Python's zipfile, and
a stand-in for the program's header arrows (view-arrows.bmp: two 8x8
images, cyan background).

view-mixed.zip: files in the root and in folders, folder entries, a name
without an extension, an entry comment and one entry marked encrypted
(general-purpose flag bit 0; only listed, never extracted).
view-folders.zip: folder entries only.
"""
import struct
import sys
import zipfile


def write_arrows(path):
    """A 16x8 24-bit bitmap: an up and a down triangle on cyan."""
    width, height = 16, 8
    rows = []
    for y in range(height):  # bottom-up rows
        row = b""
        for x in range(width):
            local, top = x % 8, height - 1 - y
            half = top if x < 8 else height - 1 - top
            inside = abs(local - 3.5) <= half / 2
            row += bytes((0, 0, 0)) if inside else bytes((255, 255, 0))  # BGR cyan
        rows.append(row)
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def add(z, name, data, when, deflate=False, comment=b""):
    info = zipfile.ZipInfo(name, date_time=when)
    info.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED
    info.external_attr = 0x20
    info.comment = comment
    z.writestr(info, data)


def mark_encrypted(path, name):
    """Sets flag bit 0 in the local and central header of name (zipfile
    clears the flags it is given when writing)."""
    with zipfile.ZipFile(path) as z:
        offset = z.getinfo(name).header_offset
    data = bytearray(open(path, "rb").read())
    data[offset + 6] |= 0x1
    encoded = name.encode()
    at = data.find(b"PK\x01\x02")
    while at >= 0:
        length = int.from_bytes(data[at + 28:at + 30], "little")
        if data[at + 46:at + 46 + length] == encoded:
            data[at + 8] |= 0x1
        at = data.find(b"PK\x01\x02", at + 46)
    open(path, "wb").write(data)


def folder(z, name, when):
    info = zipfile.ZipInfo(name, date_time=when)
    info.external_attr = 0x10
    z.writestr(info, b"")


def main(out_dir):
    write_arrows(out_dir + "/view-arrows.bmp")
    with zipfile.ZipFile(out_dir + "/view-mixed.zip", "w") as z:
        add(z, "zeta.txt", b"z" * 5000, (2019, 5, 1, 12, 0, 0), deflate=True)
        folder(z, "docs/", (2018, 1, 1, 0, 0, 0))
        add(z, "docs/alpha.doc", bytes(range(256)) * 2, (2021, 1, 2, 8, 30, 0), comment=b"alpha note")
        add(z, "Beta.bin", bytes(range(200)), (2017, 7, 7, 7, 7, 0))
        add(z, "docs/sub/gamma.txt", b"gamma " * 300, (2020, 2, 2, 2, 2, 0), deflate=True)
        add(z, "README", b"read me\r\n" * 3, (2022, 12, 24, 18, 0, 0))
        add(z, "secret.txt", b"x" * 40, (2016, 3, 3, 3, 3, 0))
        add(z, "docs/sub/delta.TXT", b"d" * 70, (2015, 9, 9, 9, 9, 0))
        z.comment = b"archive note"
    mark_encrypted(out_dir + "/view-mixed.zip", "secret.txt")
    with zipfile.ZipFile(out_dir + "/view-folders.zip", "w") as z:
        # Listed out of order: the tree sorts them.
        folder(z, "zz/", (2020, 1, 1, 0, 0, 0))
        folder(z, "one/", (2020, 1, 1, 0, 0, 0))
        folder(z, "one/two/", (2020, 1, 1, 0, 0, 0))
        folder(z, "Mid/", (2020, 1, 1, 0, 0, 0))


if __name__ == "__main__":
    main(sys.argv[1])

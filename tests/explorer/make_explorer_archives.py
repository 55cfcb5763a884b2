#!/usr/bin/env python3
"""Archives for the explorer window tests, written with Python's zipfile:
alpha.zip and beta.zip (files in the root and in a folder), gamma.zip (one
file), folders.zip (folder entries only), nested.zip (files only in
sub-folders), delta.tar (read-only format). Usage: make_explorer_archives.py DIR"""
import io
import os
import sys
import tarfile
import zipfile


LONG_FOLDER = "a folder whose name is far too long for the folder part of the status bar"


def write(path, members):
    with zipfile.ZipFile(path, "w") as z:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=(2020, 5, 17, 10, 30, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0x10 if name.endswith("/") else 0x20
            z.writestr(info, data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "alpha.zip"), [("readme.txt", b"alpha " * 100), ("docs/guide.txt", b"guide " * 50),
                                           ("docs/notes.txt", b"notes")])
    write(os.path.join(out, "beta.zip"), [("one.txt", b"1"), ("two.txt", b"22"), ("sub/three.txt", b"333")])
    write(os.path.join(out, "gamma.zip"), [("gamma.txt", b"gamma")])
    with tarfile.open(os.path.join(out, "delta.tar"), "w", format=tarfile.USTAR_FORMAT) as t:
        info = tarfile.TarInfo("delta.txt")
        info.size, info.mtime = 5, 1589711400
        t.addfile(info, io.BytesIO(b"delta"))
    write(os.path.join(out, "folders.zip"), [("empty/", b""), ("empty/inner/", b""), ("other/", b"")])
    write(os.path.join(out, "nested.zip"), [("src/", b""), ("src/main.c", b"int main;"), ("src/util.c", b"util"),
                                            ("src/notes.txt", b"notes"), ("doc/manual.txt", b"manual"),
                                            (LONG_FOLDER + "/file.txt", b"file")])


if __name__ == "__main__":
    main()

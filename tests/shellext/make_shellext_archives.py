#!/usr/bin/env python3
"""The archives the shell extension tests right-click, written with Python's
zipfile and tarfile, and what an independent reader makes of them.

shell-tree.zip: top.txt, docs/a.txt, docs/sub/b.bin (stored and deflated),
with the archive comment "made for the menu tests"; extracted by zipfile
into shell-tree.reference/ for comparing with what the extension extracts.
shell-plain.tar: one file.
"""
import io
import os
import shutil
import sys
import tarfile
import zipfile

FILES = [
    ("top.txt", b"top of the tree\n" * 40, False),
    ("docs/a.txt", b"alpha beta " * 500, True),
    ("docs/sub/b.bin", bytes(range(256)) * 16, True),
]


def main():
    out = sys.argv[1]
    archive = os.path.join(out, "shell-tree.zip")
    with zipfile.ZipFile(archive, "w") as z:
        for name, data, deflate in FILES:
            info = zipfile.ZipInfo(name, date_time=(2021, 3, 4, 10, 20, 30))
            info.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED
            info.external_attr = 0x20
            z.writestr(info, data)
        z.comment = b"made for the menu tests"
    reference = os.path.join(out, "shell-tree.reference")
    shutil.rmtree(reference, ignore_errors=True)
    with zipfile.ZipFile(archive) as z:
        z.extractall(reference)
    with tarfile.open(os.path.join(out, "shell-plain.tar"), "w", format=tarfile.USTAR_FORMAT) as t:
        data = b"plain tar member\n"
        info = tarfile.TarInfo("member.txt")
        info.size = len(data)
        info.mtime = 1600000000
        t.addfile(info, io.BytesIO(data))


if __name__ == "__main__":
    main()

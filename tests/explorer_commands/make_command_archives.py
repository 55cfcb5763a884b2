#!/usr/bin/env python3
"""The archive the command tests extract from, delete from and test,
written with Python's zipfile.

commands-tree.zip: root.txt, docs/ (a folder entry), docs/a.txt,
docs/sub/b.txt, notes.doc -- files in the root, in a folder and in a
folder below it, stored and deflated.
"""
import sys
import zipfile

FILES = [
    ("root.txt", b"root file\n" * 20, False),
    ("docs/", b"", False),
    ("docs/a.txt", b"alpha " * 300, True),
    ("docs/sub/b.txt", b"beta\n" * 50, True),
    ("notes.doc", b"notes", False),
]


def main():
    out = sys.argv[1]
    with zipfile.ZipFile(out + "/commands-tree.zip", "w") as z:
        for name, data, deflate in FILES:
            info = zipfile.ZipInfo(name, date_time=(2020, 5, 17, 12, 30, 0))
            info.compress_type = zipfile.ZIP_DEFLATED if deflate else zipfile.ZIP_STORED
            info.external_attr = 0x10 if name.endswith("/") else 0x20
            z.writestr(info, data)


if __name__ == "__main__":
    main()

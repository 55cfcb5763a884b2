#!/usr/bin/env python3
"""Writes the small demo archive that `scripts/run` lists: a few text files
in two folders, one stored and the rest deflated, with an archive comment."""
import sys
import zipfile

FILES = {
    "README.txt": "Tessera demo archive.\r\nOpen it, browse it, extract it.\r\n",
    "docs/formats.txt": "ZIP, cabinet, ACE, RAR 1.5, ARJ, TAR, gzip, TAR-in-gzip.\r\n" * 20,
    "docs/notes/empty.txt": "",
    "data/numbers.csv": "".join(f"{i},{i * i},{i * i * i}\r\n" for i in range(200)),
}


def main(path):
    with zipfile.ZipFile(path, "w") as archive:
        archive.comment = b"Made when Tessera was built."
        for name, text in FILES.items():
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 2, 3, 4, 6))
            info.compress_type = zipfile.ZIP_STORED if not text else zipfile.ZIP_DEFLATED
            archive.writestr(info, text.encode("ascii"))


if __name__ == "__main__":
    main(sys.argv[1])

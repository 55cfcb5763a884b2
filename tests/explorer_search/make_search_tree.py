#!/usr/bin/env python3
"""A folder tree for the archive search tests.

tree/                      the searched tree
  top.zip                  readme.txt (2001), docs/a.txt (2010), docs/b.doc (2015), src/main.c (2020)
  archive.tar              docs/notes.txt (2012), data.bin (2018)
  setup.exe.zip            install.txt (2005): searched with or without self-extractors
  tool.exe                 a ZIP named like a program: guide.txt (2005)
  damaged.zip              a ZIP whose central directory is cut short
  fake.zip                 text with an archive's extension
  notes.txt                no archive at all
  nested/deeper/set.tgz    docs/c.txt (2011)
  nested/deeper/pack.cab   cabinet.txt (2013), by the gcab program
  nested/secret.zip        plain.txt, key.txt (encrypted with "secret", by the zip program)
  nested/loop -> ..        a link back up the tree (never walked twice)
many/                      3000 small ZIP archives, for a search that takes a while

Usage: make_search_tree.py DIR"""
import io
import os
import subprocess
import sys
import tarfile
import time
import zipfile


def zip_bytes(members):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for name, year, data in members:
            info = zipfile.ZipInfo(name, date_time=(year, 6, 15, 12, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0x20
            z.writestr(info, data)
    return buffer.getvalue()


def tar_bytes(members, compress):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:gz" if compress else "w", format=tarfile.USTAR_FORMAT) as t:
        for name, year, data in members:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            # Noon UTC in mid-June: the same day in every time zone.
            info.mtime = int(time.mktime((year, 6, 15, 12, 0, 0, 0, 0, 0)) - time.timezone)
            t.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    out = os.path.join(sys.argv[1], "search-tree")
    tree = os.path.join(out, "tree")
    write(os.path.join(tree, "top.zip"), zip_bytes([("readme.txt", 2001, b"read me"),
                                                     ("docs/a.txt", 2010, b"a" * 100),
                                                     ("docs/b.doc", 2015, b"b" * 10),
                                                     ("src/main.c", 2020, b"int main;")]))
    write(os.path.join(tree, "archive.tar"), tar_bytes([("docs/notes.txt", 2012, b"notes"),
                                                        ("data.bin", 2018, b"\0" * 64)], False))
    write(os.path.join(tree, "setup.exe.zip"), zip_bytes([("install.txt", 2005, b"install")]))
    write(os.path.join(tree, "tool.exe"), zip_bytes([("guide.txt", 2005, b"guide")]))
    whole = zip_bytes([("lost.txt", 2005, b"lost" * 50), ("gone.txt", 2005, b"gone")])
    write(os.path.join(tree, "damaged.zip"), whole[:-30])
    write(os.path.join(tree, "fake.zip"), b"This text only has the extension of an archive.\r\n" * 4)
    write(os.path.join(tree, "notes.txt"), b"no archive\r\n")
    write(os.path.join(tree, "nested", "deeper", "set.tgz"), tar_bytes([("docs/c.txt", 2011, b"c" * 30)], True))

    nested = os.path.join(tree, "nested")
    cabinet_source = os.path.join(out, "cabinet.txt")
    write(cabinet_source, b"in a cabinet\r\n" * 20)
    stamp = time.mktime((2013, 6, 15, 12, 0, 0, 0, 0, -1))
    os.utime(cabinet_source, (stamp, stamp))
    cabinet = os.path.join(nested, "deeper", "pack.cab")
    if os.path.exists(cabinet):
        os.remove(cabinet)
    subprocess.run(["gcab", "-c", "-z", "-n", cabinet, cabinet_source], check=True)
    os.remove(cabinet_source)
    secret = os.path.join(nested, "secret.zip")
    plain = os.path.join(out, "plain.txt")
    key = os.path.join(out, "key.txt")
    write(plain, b"plain")
    write(key, b"the key")
    stamp = time.mktime((2014, 6, 15, 12, 0, 0, 0, 0, -1))
    os.utime(plain, (stamp, stamp))
    os.utime(key, (stamp, stamp))
    if os.path.exists(secret):
        os.remove(secret)
    subprocess.run(["zip", "-q", "-j", "-X", secret, plain], check=True)
    subprocess.run(["zip", "-q", "-j", "-X", "-P", "secret", secret, key], check=True)
    os.remove(plain)
    os.remove(key)

    loop = os.path.join(nested, "loop")
    if os.path.lexists(loop):
        os.remove(loop)
    os.symlink("..", loop)

    many = os.path.join(out, "many")
    os.makedirs(many, exist_ok=True)
    small = zip_bytes([("entry%d.txt" % index, 2003, b"x") for index in range(20)])
    for index in range(3000):
        write(os.path.join(many, "archive%04d.zip" % index), small)
    # The stamp the build waits for.
    write(os.path.join(out, "done"), b"")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Makes ZIP archives with other tools for the ZIP engine tests.

Run at build time on the build host; the Windows tests read the results
under Wine. Every archive is made by a peer (Info-ZIP zip, 7zz, Python's
zipfile) from one small source tree, checked with `unzip -t`, and extracted
with `unzip` into <archive>.ref/, the bytes the engine must reproduce.
Writes <out>/manifest.tsv, one line per archive:
"<archive>\t<password>\t<expect>\t<maker>", expect being "ok", "refused"
(outside this system's design: the engine must not answer success) or
"count=N" (listed and tested only: N entries, too many to extract in a test).
Tools that are missing are left out (the test names what it did not see).
"""
import io
import os
import random
import shutil
import subprocess
import sys
import zipfile


def have(tool):
    return shutil.which(tool) is not None


def make_tree(root):
    """Text, random and repetitive data, an empty file, a 32,768-byte file,
    nested and empty folders."""
    rng = random.Random(4)
    os.makedirs(os.path.join(root, "docs", "deep", "er"))
    os.makedirs(os.path.join(root, "empty folder"))
    words = [b"zip", b"archive", b"entry", b"central", b"local", b"header", b"deflate", b"store"]
    text = b" ".join(rng.choice(words) for _ in range(30000))
    files = {
        "readme.txt": text[:5000] + b"\n",
        "docs/words.txt": text,
        "docs/deep/er/random.bin": bytes(rng.getrandbits(8) for _ in range(70000)),
        "docs/deep/zeros.bin": bytes(100000),
        "block.bin": bytes(rng.getrandbits(8) for _ in range(32768)),
        "empty.txt": b"",
        "Mixed Case Name.TXT": b"name with spaces\r\n" * 100,
    }
    for name, data in files.items():
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
    return files


def run(args, cwd, **kw):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def python_archive(path, tree, files, compression, streamed):
    """zipfile archive; `streamed` writes to an unseekable stream, so every
    entry gets a data descriptor."""
    sink = io.BytesIO()

    class Unseekable(io.RawIOBase):
        def writable(self):
            return True

        def write(self, b):
            return sink.write(b)

    target = Unseekable() if streamed else sink
    with zipfile.ZipFile(target, "w", compression=compression) as z:
        z.write(os.path.join(tree, "docs"), "docs/")
        for name in sorted(files):
            z.write(os.path.join(tree, name), name)
    with open(path, "wb") as f:
        f.write(sink.getvalue())


def pad_to(path, size):
    """Rewrites a comment-less archive with an archive comment that makes the
    file exactly `size` bytes long."""
    data = open(path, "rb").read()
    need = size - len(data)
    assert 0 <= need <= 65535 and data[-2:] == b"\0\0"
    with open(path, "wb") as f:
        f.write(data[:-2] + need.to_bytes(2, "little") + b"c" * need)


def main(out):
    if os.path.isdir(out):
        shutil.rmtree(out)
    os.makedirs(out)
    tree = os.path.join(out, "src")
    files = make_tree(tree)
    made = []  # (archive, password, expect, maker)

    def add(name, password, expect, maker):
        made.append((name, password, expect, maker))

    if have("zip"):
        for level in range(10):
            name = "zip-%d.zip" % level
            run(["zip", "-q", "-r", "-%d" % level, os.path.join(out, name), "."], tree)
            add(name, "", "ok", "zip -%d" % level)
        run(["zip", "-q", "-r", "-P", "tessera", os.path.join(out, "zip-password.zip"), "."], tree)
        add("zip-password.zip", "tessera", "ok", "zip -P")
        run(["zip", "-q", "-r", "-0", "-P", "tessera", os.path.join(out, "zip-password-stored.zip"), "."], tree)
        add("zip-password-stored.zip", "tessera", "ok", "zip -0 -P")
        # To a pipe: no seeking back, so data descriptors (bit 3) everywhere.
        piped = subprocess.run(["zip", "-q", "-r", "-fz-", "-", "."], cwd=tree, check=True, stdout=subprocess.PIPE)
        with open(os.path.join(out, "zip-pipe.zip"), "wb") as f:
            f.write(piped.stdout)
        add("zip-pipe.zip", "", "ok", "zip to a pipe")
        run(["zip", "-q", "-r", "-z", os.path.join(out, "zip-comment.zip"), "."], tree,
            input=b"archive comment\nsecond line\n")
        add("zip-comment.zip", "", "ok", "zip -z")
        run(["zip", "-q", "-r", "-fz", os.path.join(out, "zip-fz.zip"), "."], tree)
        add("zip-fz.zip", "", "ok", "zip -fz")
        # Self-extracting shapes: a prefix with offsets counted from the ZIP
        # data, and the same adjusted to absolute offsets with zip -A.
        prefix = b"MZ" + bytes(random.Random(5).getrandbits(8) for _ in range(5000))
        base = open(os.path.join(out, "zip-6.zip"), "rb").read()
        for name, adjust in (("sfx-relative.exe", False), ("sfx-absolute.exe", True)):
            with open(os.path.join(out, name), "wb") as f:
                f.write(prefix + base)
            if adjust:
                run(["zip", "-q", "-A", os.path.join(out, name)], out)
            add(name, "", "ok", "prefix + zip" + (" -A" if adjust else ""))
    if have("7zz"):
        for name, method in (("7zz-deflate.zip", "Deflate"), ("7zz-store.zip", "Copy")):
            run(["7zz", "a", "-tzip", "-mm=" + method, os.path.join(out, name), "."], tree)
            add(name, "", "ok", "7zz " + method)
        run(["7zz", "a", "-tzip", "-mx=9", os.path.join(out, "7zz-ultra.zip"), "."], tree)
        add("7zz-ultra.zip", "", "ok", "7zz -mx=9")
        # 65,600 files in 40 folders: 7zz counts them in a ZIP64 end record.
        many = os.path.join(out, "many")
        for i in range(65600):
            folder = os.path.join(many, "d%02d" % (i % 40))
            os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "f%05d.txt" % i), "w") as f:
                f.write("entry %d\n" % i)
        run(["7zz", "a", "-tzip", "-mx=1", os.path.join(out, "7zz-65640.zip"), "."], many)
        shutil.rmtree(many)
        add("7zz-65640.zip", "", "count=65640", "7zz, 65,600 files in 40 folders")
    for name, compression, streamed in (("py-stored.zip", zipfile.ZIP_STORED, False),
                                        ("py-deflated.zip", zipfile.ZIP_DEFLATED, False),
                                        ("py-descriptors.zip", zipfile.ZIP_DEFLATED, True)):
        python_archive(os.path.join(out, name), tree, files, compression, streamed)
        add(name, "", "ok", "python zipfile")
    # ZIP64 from zipfile: 64-bit sizes in every entry's extra fields, and
    # 65,600 entries, which only the ZIP64 end record can count.
    with zipfile.ZipFile(os.path.join(out, "py-zip64.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        z.mkdir("docs") if hasattr(z, "mkdir") else z.writestr("docs/", b"")
        for name in sorted(files):
            with open(os.path.join(tree, name), "rb") as src, z.open(name, "w", force_zip64=True) as dst:
                dst.write(src.read())
    add("py-zip64.zip", "", "ok", "python zipfile force_zip64")
    with zipfile.ZipFile(os.path.join(out, "py-65600.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(65600):
            z.writestr("d%02d/f%05d.txt" % (i % 40, i), "entry %d\n" % i)
    add("py-65600.zip", "", "count=65600", "python zipfile, 65,600 entries")
    # End-record search edges: a file of 65,536 bytes (tail 0, two whole
    # blocks) and one of exactly 32,768 bytes (read in one piece).
    for name, size, content in (("tail0.zip", 65536, "block.bin"), ("exact32k.zip", 32768, "readme.txt")):
        with zipfile.ZipFile(os.path.join(out, name), "w", zipfile.ZIP_STORED) as z:
            z.write(os.path.join(tree, content), content)
        pad_to(os.path.join(out, name), size)
        add(name, "", "ok", "python zipfile, padded with the comment")

    with open(os.path.join(out, "manifest.tsv"), "w") as manifest:
        for name, password, expect, maker in made:
            archive = os.path.join(out, name)
            if expect == "ok" or expect.startswith("count="):
                pw = ["-P", password] if password else []
                # unzip answers 1 (a warning) for bytes in front of the ZIP data.
                checks = [["-tq"] + pw + [archive], ["-q", "-o"] + pw + [archive, "-d", archive + ".ref"]]
                for args in checks[:1] if expect.startswith("count=") else checks:
                    done = subprocess.run(["unzip"] + args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                    if done.returncode not in (0, 1):
                        sys.exit("unzip %s failed on %s" % (args[0], name))
            manifest.write("%s\t%s\t%s\t%s\n" % (name, password, expect, maker))


if __name__ == "__main__":
    main(sys.argv[1])

#!/usr/bin/env python3
"""Writes the benchmark corpus of bench/deflate into a folder:
  text.bin            the Python standard library sources, concatenated (sorted paths)
  binary.bin          ELF files from /usr/bin, concatenated (sorted names)
  incompressible.bin  bytes of a seeded generator
  redundant.bin       repetitive log-like lines from a seeded generator
Each is cut at SIZE bytes (default 8 MiB), so a run on one machine is
repeatable.
"""
import glob
import os
import random
import sys

SIZE = 8 << 20


def take(paths, check=None):
    out = bytearray()
    for p in paths:
        if len(out) >= SIZE:
            break
        try:
            with open(p, "rb") as f:
                data = f.read()
        except OSError:
            continue
        if check and not check(data):
            continue
        out += data
    return bytes(out[:SIZE])


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    lib = sorted(glob.glob("/usr/lib/python3*/**/*.py", recursive=True))
    elf = sorted(p for p in glob.glob("/usr/bin/*") if os.path.isfile(p) and not os.path.islink(p))
    rng = random.Random(20261209)
    users = ["alice", "bob", "carol", "dave", "erin", "frank"]
    paths = ["/index.html", "/api/v1/items", "/login", "/static/app.js", "/img/logo.png", "/api/v1/orders"]
    lines = []
    size = 0
    t = 1700000000
    while size < SIZE:
        t += rng.randint(0, 3)
        line = "2026-12-09T%02d:%02d:%02dZ INFO  [worker-%d] %s GET %s 200 %d bytes in %d ms\n" % (
            t // 3600 % 24, t // 60 % 60, t % 60, rng.randint(1, 8), rng.choice(users),
            rng.choice(paths), rng.randint(200, 90000), rng.randint(1, 400))
        lines.append(line)
        size += len(line)
    corpus = {
        "text": take(lib),
        "binary": take(elf, lambda d: d[:4] == b"\x7fELF"),
        "incompressible": rng.randbytes(SIZE),
        "redundant": "".join(lines).encode()[:SIZE],
    }
    for name, data in corpus.items():
        with open(os.path.join(folder, name + ".bin"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()

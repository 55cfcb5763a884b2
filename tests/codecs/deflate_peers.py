#!/usr/bin/env python3
"""Makes Deflate streams with other encoders for the Inflate tests.

Run at build time on the build host (the Windows tests read the results
under Wine). Writes <out>/manifest.tsv with one line per stream:
"<stream file>\t<plain file>\t<maker>", plus <out>/mszip.blocks, a folder of
cabinet-style blocks (each a complete Deflate stream using the previous
32 KiB as history): repeated records of u32 packed size, u32 unpacked size,
packed bytes; the plain data is in text.raw.
"""
import glob
import gzip
import os
import random
import shutil
import struct
import subprocess
import sys
import sysconfig
import tempfile
import zlib


def strip_gzip(data):
    """Raw Deflate data of a one-member gzip file."""
    if data[:2] != b"\x1f\x8b" or data[2] != 8:
        raise ValueError("not gzip")
    flags = data[3]
    pos = 10
    if flags & 4:
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    for bit in (8, 16):
        if flags & bit:
            pos = data.index(b"\0", pos) + 1
    if flags & 2:
        pos += 2
    return data[pos:-8]


def raw_zlib(data, level, strategy=zlib.Z_DEFAULT_STRATEGY, mem_level=8, zdict=None):
    args = dict(level=level, method=zlib.DEFLATED, wbits=-15, memLevel=mem_level, strategy=strategy)
    if zdict is not None:
        args["zdict"] = zdict
    c = zlib.compressobj(**args)
    return c.compress(data) + c.flush()


def inputs():
    lib = sysconfig.get_paths()["stdlib"]
    text = b"".join(open(p, "rb").read() for p in sorted(glob.glob(os.path.join(lib, "*.py")))[:40])
    text = text[:300000]
    binary = open(sys.executable, "rb").read()[:300000]
    rng = random.Random(1951)
    mixed = bytes(rng.getrandbits(8) for _ in range(20000)) + text[:40000] + bytes(70000) + text[:1000] * 3
    return {"text": text, "binary": binary, "mixed": mixed, "tiny": b"a", "empty": b""}


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    plain = inputs()
    for name, data in plain.items():
        open(os.path.join(out, name + ".raw"), "wb").write(data)
    rows = []

    def add(stream_name, data, plain_name, maker):
        open(os.path.join(out, stream_name), "wb").write(data)
        rows.append((stream_name, plain_name + ".raw", maker))

    for name, data in plain.items():
        for level in range(1, 10):
            add(f"{name}.zlib{level}.deflate", raw_zlib(data, level), name, f"zlib level {level}")
    for strategy, label in ((zlib.Z_HUFFMAN_ONLY, "huffman"), (zlib.Z_RLE, "rle"), (zlib.Z_FIXED, "fixed")):
        add(f"text.zlib-{label}.deflate", raw_zlib(plain["text"], 6, strategy), "text", f"zlib {label}")
    add("text.zlib-mem1.deflate", raw_zlib(plain["text"], 9, mem_level=1), "text", "zlib memLevel 1")

    tmp = tempfile.mkdtemp()
    try:
        for name in ("text", "binary", "mixed"):
            src = os.path.join(out, name + ".raw")
            for level in ("1", "9"):
                gz = subprocess.run(["gzip", "-c", "-n", "-" + level, src], check=True, capture_output=True).stdout
                add(f"{name}.gzip{level}.deflate", strip_gzip(gz), name, f"gzip -{level}")
            if shutil.which("7zz"):
                for level in ("1", "9"):
                    target = os.path.join(tmp, f"{name}{level}.gz")
                    subprocess.run(["7zz", "a", "-tgzip", f"-mx={level}", target, src],
                                   check=True, capture_output=True)
                    add(f"{name}.7zz{level}.deflate", strip_gzip(open(target, "rb").read()), name, f"7zz -mx={level}")
            if shutil.which("zopfli"):
                small = os.path.join(tmp, name + ".small")
                open(small, "wb").write(plain[name][:60000])
                plain[name + "-small"] = plain[name][:60000]
                open(os.path.join(out, name + "-small.raw"), "wb").write(plain[name][:60000])
                z = subprocess.run(["zopfli", "--deflate", "--i3", "-c", small], check=True, capture_output=True).stdout
                add(f"{name}.zopfli.deflate", z, name + "-small", "zopfli")
    finally:
        shutil.rmtree(tmp)

    with open(os.path.join(out, "mszip.blocks"), "wb") as f:
        text = plain["text"]
        for start in range(0, len(text), 32768):
            block = text[start:start + 32768]
            history = text[max(0, start - 32768):start]
            packed = raw_zlib(block, 6, zdict=history) if history else raw_zlib(block, 6)
            f.write(struct.pack("<II", len(packed), len(block)) + packed)

    with open(os.path.join(out, "manifest.tsv"), "w") as f:
        for row in rows:
            f.write("\t".join(row) + "\n")


if __name__ == "__main__":
    main()

#!/usr/bin/env bash
# Usage: fuzz/rararj/make_seeds.sh /tmp/seeds, then e.g.
#   build/fuzz/fuzz/fuzz_arj_walk -max_total_time=180 -max_len=65536 /tmp/seeds/arj_walk
# (the sample corpus folders may be added, read only, as further seed folders).
#
# Makes the seed corpora of the RAR/ARJ fuzz targets in $1 (one folder per
# target): ARJ archives of every method made by the arj program, their
# compressed data as decoder seeds, and small stored RAR archives built here.
set -euo pipefail
out=${1:?usage: make_seeds.sh OUTDIR}
mkdir -p "$out"/{arj_walk,arj_decoder,rar_walk,rar15_decoder}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'hello hello hello world\r\n%.0s' {1..40} > text.txt
head -c 3000 /dev/urandom > random.bin
printf 'x' > one.txt
for m in 0 1 2 3 4; do
  arj a -m$m -y "m$m.arj" text.txt random.bin one.txt >/dev/null
  cp "m$m.arj" "$out/arj_walk/"
done
python3 - "$out" <<'PY'
import struct, sys, zlib
out = sys.argv[1]
# Decoder seeds: each ARJ entry's compressed data with the method byte and size in front.
for m in range(1, 5):
    d = open(f"m{m}.arj", "rb").read()
    p = 0
    n = 0
    while True:
        p = d.find(b"\x60\xea", p)
        if p < 0: break
        size = struct.unpack_from("<H", d, p + 2)[0]
        if size == 0: break
        basic = d[p + 4:p + 4 + size]
        q = p + 4 + size + 4
        while True:
            ext = struct.unpack_from("<H", d, q)[0]; q += 2
            if ext == 0: break
            q += ext + 4
        if n > 0:
            comp, orig = struct.unpack_from("<II", basic, 12)
            open(f"{out}/arj_decoder/m{m}_{n}", "wb").write(bytes([1 if m == 4 else 0]) + struct.pack("<I", orig) + d[q:q + comp])
            q += comp
        p = q
        n += 1
def rar(flags, files):
    mh = struct.pack("<BHH6x", 0x73, flags, 13)
    b = b"Rar!\x1a\x07\x00" + struct.pack("<H", zlib.crc32(mh) & 0xffff) + mh
    for name, data, fflags, ver, meth in files:
        h = struct.pack("<BHHIIBIIBBHI", 0x74, fflags, 32 + len(name), len(data), len(data), 0,
                        zlib.crc32(data), 0x21A86000, ver, meth, len(name), 0x20) + name
        b += struct.pack("<H", zlib.crc32(h) & 0xffff) + h + data
    return b
open(f"{out}/rar_walk/stored", "wb").write(rar(0, [(b"a.txt", b"hello", 0x8000, 15, 0x30), (b"b.txt", b"world", 0x8000, 20, 0x30)]))
open(f"{out}/rar_walk/volume", "wb").write(rar(1, [(b"a.txt", b"hello", 0x8002, 15, 0x30)]))
open(f"{out}/rar_walk/solid", "wb").write(rar(8, [(b"a.bin", b"\x12\x34\x56\x78" * 8, 0x8000, 15, 0x33)]))
open(f"{out}/rar15_decoder/short", "wb").write(struct.pack("<IB", 64, 1) + bytes(range(0, 256, 7)))
PY
echo "seeds in $out"

#!/usr/bin/env python3
# Turns the sample cabinets (read in place) into extra seeds for the cabinet
# fuzz targets, written to OUTDIR/<target>:
#   cab_reader/       every sample cabinet up to 64 KiB as it is
#   lzx_decoder/      each LZX folder's data blocks, window byte first
#   quantum_decoder/  each Quantum folder's data blocks, window byte first
#   mszip_decoder/    each MSZIP folder's data blocks
# Blocks use the framing of fuzz_blocks.h (2-byte output size, 2-byte input
# size, data). Folders whose blocks continue in another cabinet are skipped.
# Usage: corpus_seeds.py CORPUS_CAB_FOLDER OUTDIR
import os
import struct
import sys


def folders(cab):
    if cab[:4] != b"MSCF" or len(cab) < 36:
        return
    cfolders, cfiles, flags = struct.unpack_from("<HHH", cab, 26)
    pos = 36
    folder_reserve = data_reserve = 0
    if flags & 4:
        header_reserve, folder_reserve, data_reserve = struct.unpack_from("<HBB", cab, pos)
        pos += 4 + header_reserve
    for bit in (1, 2):
        if flags & bit:
            for _ in range(2):
                pos = cab.index(b"\0", pos) + 1
    for _ in range(cfolders):
        start, count, kind = struct.unpack_from("<IHH", cab, pos)
        pos += 8 + folder_reserve
        blocks = []
        p = start
        for _ in range(count):
            if p + 8 + data_reserve > len(cab):
                break
            _, cb_data, cb_uncomp = struct.unpack_from("<IHH", cab, p)
            p += 8 + data_reserve
            if cb_uncomp == 0:  # split block: continues in the next cabinet
                blocks = []
                break
            blocks.append(struct.pack("<HH", cb_uncomp, cb_data) + cab[p:p + cb_data])
            p += cb_data
        if blocks:
            yield kind, blocks


def main():
    src, out = sys.argv[1], sys.argv[2]
    for t in ("cab_reader", "lzx_decoder", "quantum_decoder", "mszip_decoder"):
        os.makedirs(os.path.join(out, t), exist_ok=True)
    for root, _, names in os.walk(src):
        for name in sorted(names):
            if not name.endswith(".cab"):
                continue
            cab = open(os.path.join(root, name), "rb").read()
            stem = name[:-4]
            if len(cab) <= 65536:
                open(os.path.join(out, "cab_reader", name), "wb").write(cab)
            try:
                found = list(folders(cab))
            except (ValueError, struct.error):
                continue
            for i, (kind, blocks) in enumerate(found):
                method, window = kind & 15, (kind >> 8) & 31
                data = b"".join(blocks)[:65536]
                if method == 1:
                    target, head = "mszip_decoder", b""
                elif method == 2 and 10 <= window <= 21:
                    target, head = "quantum_decoder", bytes([window - 10])
                elif method == 3 and 15 <= window <= 21:
                    target, head = "lzx_decoder", bytes([window - 15])
                else:
                    continue
                open(os.path.join(out, target, f"{stem}-{i}"), "wb").write(head + data)


main()

#!/usr/bin/env python3
"""Flattens the sample corpus manifest into a tab-separated table.

    sample <TAB> format <TAB> file <TAB> parts (;) <TAB> password <TAB> expect
    entry  <TAB> name <TAB> size <TAB> crc32

Each `entry` line belongs to the `sample` line above it. Without a corpus the
table is empty and the corpus tests skip with a message.
"""
import json
import os
import sys


def clean(text):
    return str(text).replace("\t", " ").replace("\n", " ")


def main(corpus_dir, out_path):
    lines = []
    manifest = os.path.join(corpus_dir, "manifest.json")
    if os.path.isfile(manifest):
        with open(manifest, encoding="utf-8") as f:
            samples = json.load(f)
        for s in samples:
            parts = ";".join(s.get("parts") or [])
            lines.append("\t".join(["sample", s["format"], s["file"], parts,
                                    clean(s.get("password") or ""), clean(s.get("expect", ""))]))
            for e in s.get("entries") or []:
                name = e["name"]
                if "name_bytes_hex" in e:
                    name = "hex:" + e["name_bytes_hex"]
                lines.append("\t".join(["entry", clean(name), str(e["size"]), e["crc32"]]))
    text = "\n".join(lines) + ("\n" if lines else "")
    old = open(out_path).read() if os.path.exists(out_path) else None
    if old != text:
        with open(out_path, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

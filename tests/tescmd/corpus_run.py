#!/usr/bin/env python3
"""tescmd on every sample of the corpus: list, test and extract each one.

    corpus_run.py BINARY_DIR CORPUS_DIR

Writes BINARY_DIR/tescmd-corpus.tsv, one block per sample: the exit code of
each command, the listing, and the size, CRC-32 and SHA-256 of every file the
extraction wrote. The builds of both Windows architectures write this table;
scripts/test compares the two, so the 32-bit product and the 64-bit build
must read every sample alike, to the byte and the exit code.

Whether each sample reads correctly is the business of the format suites;
this run fails when a command ends with an exit code tescmd does not give (a
crash). Skips with a message when the corpus is absent.
"""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "..", "..", "scripts", "wine-run")
# Exit codes tescmd documents; anything else (a crash, an exception code)
# is a fault of its own.
KNOWN_EXIT_CODES = {0, 1, 2, 3}


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def tescmd(binary_dir, *args):
    program = os.path.join(binary_dir, "dist", "tescmd.exe")
    run = subprocess.run([WINE_RUN, program, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         timeout=300)
    return run.returncode, run.stdout.decode("latin-1")


def files_below(folder):
    found = []
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            data = open(path, "rb").read()
            found.append((os.path.relpath(path, folder), len(data), "%08x" % (zlib.crc32(data) & 0xFFFFFFFF),
                          hashlib.sha256(data).hexdigest()))
    return sorted(found)


def main(binary_dir, corpus_dir):
    manifest = os.path.join(corpus_dir, "manifest.json")
    if not os.path.isfile(manifest):
        print("SKIPPED: no sample corpus at %s" % corpus_dir)
        return 0
    samples = json.load(open(manifest, encoding="utf-8"))
    failures = []
    table = []
    work = tempfile.mkdtemp(prefix="tescmd_corpus.")
    try:
        for sample in samples:
            source = os.path.join(corpus_dir, sample["file"])
            path = source
            # The factory knows a self-extracting ZIP archive by its ".exe" name.
            if sample["format"] == "zip-sfx" and not source.lower().endswith((".exe", ".zip")):
                path = os.path.join(work, "sample.exe")
                shutil.copyfile(source, path)
            password = ["-p" + sample["password"]] if sample.get("password") else []
            target = os.path.join(work, "out")
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            list_code, listing = tescmd(binary_dir, "l", windows_path(path))
            test_code, _ = tescmd(binary_dir, "t", windows_path(path), *password)
            extract_code, _ = tescmd(binary_dir, "x", windows_path(path), "-y", "-o" + windows_path(target),
                                     *password)
            written = files_below(target)
            table.append("sample\t%s\tl=%d t=%d x=%d" % (sample["file"], list_code, test_code, extract_code))
            table.extend("list\t" + line for line in listing.splitlines())
            table.extend("file\t%s\t%d\t%s\t%s" % entry for entry in written)

            for command, code in (("l", list_code), ("t", test_code), ("x", extract_code)):
                if code not in KNOWN_EXIT_CODES:
                    failures.append("%s: tescmd %s ended with %d" % (sample["file"], command, code))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    with open(os.path.join(binary_dir, "tescmd-corpus.tsv"), "w", encoding="utf-8") as out:
        out.write("\n".join(table) + "\n")
    for failure in failures:
        print("FAIL: " + failure)
    print("%d samples, %d failures" % (len(samples), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))

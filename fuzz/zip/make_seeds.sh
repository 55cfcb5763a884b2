#!/usr/bin/env bash
# Fills a seed folder for fuzz_zip_directory: the small ZIP and self-extracting
# samples of the corpus plus archives made by zip, 7zz and Python's zipfile
# (levels, encryption, comments, folders, data descriptors, ZIP64, prefixes).
set -euo pipefail
out=$(realpath "${1:?usage: make_seeds.sh SEED_DIR}")
corpus=$(dirname "$0")/../../../shared/corpus
mkdir -p "$out"
find "$corpus/zip" "$corpus/sfx" -type f -size -100k -exec cp {} "$out/" \; 2>/dev/null || true
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/src/dir/sub"
printf 'hello\n' > "$work/src/a.txt"
head -c 3000 /dev/urandom > "$work/src/dir/random.bin"
: > "$work/src/dir/sub/empty"
cd "$work/src"
zip -q -r -0 "$out/store.zip" .
zip -q -r -9 "$out/best.zip" .
zip -q -r -e -P secret "$out/encrypted.zip" .
zip -q -r -fd "$out/descriptors.zip" .
zip -q -r -fz "$out/zip64.zip" .
echo 'a comment' | zip -q -z "$out/best.zip"
cat a.txt | zip -q -fz- - - | cat > "$out/piped.zip"
7zz a -tzip -bso0 -bsp0 "$out/7z.zip" . >/dev/null
{ head -c 1500 /dev/zero; cat "$out/best.zip"; } > "$out/sfx-relative.zip"
cp "$out/sfx-relative.zip" "$out/sfx-absolute.zip" && zip -q -A "$out/sfx-absolute.zip"
python3 - "$out/python-stream.zip" <<'PY'
import io, sys, zipfile
class Pipe(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open(sys.argv[1], 'wb') as f:
    with zipfile.ZipFile(Pipe(f), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('one.txt', 'one' * 100)
        z.writestr('two/', '')
PY

#!/usr/bin/env bash
# Archives written by tescmd (under Wine) checked by the peers: every
# scenario's archive must pass `unzip -t` and `7zz t` (with the password when
# it has one), and both must extract exactly the bytes of the files it holds.
#
# usage: peers.sh BINARY_DIR
set -u
binary=$1
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run
export TESSERA_BINARY_DIR=$binary
export WINEDEBUG=-all
tescmd=$binary/dist/tescmd.exe

for tool in unzip 7zz python3; do
  command -v $tool >/dev/null || { echo "SKIPPED: $tool missing"; exit 0; }
done

work=$(mktemp -d /tmp/zip_write_peers.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL [$scenario]: $*"; failures=$((failures + 1)); }
tes() { "$wine_run" "$tescmd" "$@" >"$work/last.log" 2>&1; }

# Sources: text, random data, zeros, matches at the far end of the window,
# an empty file, an empty folder, a file of exactly 32,768 bytes, a name with
# a blank, a nested folder.
python3 - <<'EOF'
import os, random
random.seed(20261210)
os.makedirs('src/sub/deeper', exist_ok=True)
os.makedirs('src/emptydir', exist_ok=True)
open('src/text.txt', 'w').write(''.join('line %d of a text that repeats\n' % (i % 97) for i in range(20000)))
open('src/random.bin', 'wb').write(bytes(random.getrandbits(8) for _ in range(100000)))
open('src/zeros.bin', 'wb').write(bytes(300000))
block = bytes(random.getrandbits(8) for _ in range(20000))
filler = bytes(random.getrandbits(8) for _ in range(12700))
open('src/distant.bin', 'wb').write(block + filler + block + filler[:5000] + block)  # matches 32,700 bytes back
open('src/empty.txt', 'wb').close()
open('src/sub/exact.bin', 'wb').write(bytes(random.getrandbits(3) for _ in range(32768)))
open('src/sub/with blank.txt', 'w').write('a name with a blank\n' * 50)
open('src/sub/deeper/Photo.JPG', 'wb').write(b'\xff\xd8' + bytes(random.getrandbits(8) for _ in range(5000)))
EOF

# check ARCHIVE PASSWORD FILE... : test and extract with both peers; every
# FILE (its stored name; the source is $base$FILE) must come out identical.
check() {
  local archive=$1 password=$2
  shift 2
  local up=() sp=()
  [ -n "$password" ] && up=(-P "$password") && sp=(-p"$password")
  unzip -t "${up[@]}" "$archive" >unzip.log 2>&1 || { fail "unzip -t"; cat unzip.log; }
  7zz t "${sp[@]}" "$archive" >7z.log 2>&1 || { fail "7zz t"; cat 7z.log; }
  rm -rf out-unzip out-7z
  unzip -q "${up[@]}" "$archive" -d out-unzip >/dev/null 2>&1 || fail "unzip extract"
  7zz x -y "${sp[@]}" "$archive" -oout-7z >/dev/null 2>&1 || fail "7zz extract"
  local file
  for file in "$@"; do
    cmp -s "${base:-}$file" "out-unzip/$file" || fail "unzip: $file differs"
    cmp -s "${base:-}$file" "out-7z/$file" || fail "7zz: $file differs"
  done
}

# expect_names ARCHIVE NAME... : exactly these stored names, in any order.
expect_names() {
  local archive=$1
  shift
  local want got
  want=$(printf '%s\n' "$@" | sort)
  got=$(unzip -Z1 "$archive" | sort)
  [ "$want" = "$got" ] || fail "names: want [$want] got [$got]"
}

all_files=(src/text.txt src/random.bin src/zeros.bin src/distant.bin src/empty.txt src/sub/exact.bin "src/sub/with blank.txt"
           src/sub/deeper/Photo.JPG)
all_names=(src/ src/emptydir/ src/sub/ src/sub/deeper/ "${all_files[@]}")

for level in 0 1 2 3 4; do
  scenario="new, level $level"
  rm -f new.zip
  tes a new.zip -R -l$level src || { fail "tescmd a"; cat last.log; }
  check new.zip "" "${all_files[@]}"
  expect_names new.zip "${all_names[@]}"
done

scenario="new, store-only list"
rm -f store.zip
tes a store.zip -R -s ".zip;.jpg" src || fail "tescmd a"
check store.zip "" "${all_files[@]}"
unzip -Zv store.zip src/sub/deeper/Photo.JPG | grep -q "compression method: *none (stored)" || fail "Photo.JPG not stored"

scenario="encrypted"
rm -f enc.zip
tes a enc.zip -R -pS3cret src || { fail "tescmd a"; cat last.log; }
check enc.zip S3cret "${all_files[@]}"
unzip -t -P wrong enc.zip >/dev/null 2>&1 && fail "a wrong password passes"
python3 -c "
import struct, zipfile
data = open('enc.zip', 'rb').read()
for i in zipfile.ZipFile('enc.zip').infolist():
    if i.filename.endswith('/'): continue
    assert i.flag_bits & 9 == 9, (i.filename, i.flag_bits)
    name_len, extra_len = struct.unpack('<HH', data[i.header_offset + 26:i.header_offset + 30])
    end = i.header_offset + 30 + name_len + extra_len + i.compress_size
    assert data[end:end + 4] == b'PK\\x07\\x08', i.filename  # the data descriptor follows
" || fail "encrypted entries need flags 9 and a data descriptor"

scenario="encrypted, stored"
rm -f encstored.zip
tes a encstored.zip -R -l4 -pS3cret src || fail "tescmd a"
check encstored.zip S3cret "${all_files[@]}"

scenario="added to"
rm -f grow.zip
tes a grow.zip -R src/text.txt src/random.bin || fail "tescmd a (first)"
tes a grow.zip -R src/zeros.bin src/sub || fail "tescmd a (second)"
base=src/ check grow.zip "" text.txt random.bin zeros.bin sub/exact.bin
expect_names grow.zip text.txt random.bin zeros.bin sub/ sub/deeper/ sub/exact.bin "sub/with blank.txt" \
  sub/deeper/Photo.JPG

scenario="added to archives made by zip and by Python (data descriptors with and without signature)"
rm -f peer.zip
(cd src && zip -q -r -9 ../peer.zip text.txt sub) || fail "zip"
python3 - <<'EOF2'
import io, struct, zipfile, zlib
# zipfile writes data descriptors (with signature) to a stream it cannot seek.
class Unseekable(io.RawIOBase):
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
sink = Unseekable()
with zipfile.ZipFile(sink, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('signed.txt', open('src/text.txt', 'rb').read())
open('pydesc.zip', 'wb').write(bytes(sink.data))
# One deflated entry with flag bit 3 and a 12-byte descriptor (no signature).
data = open('src/sub/exact.bin', 'rb').read()
c = zlib.compressobj(9, zlib.DEFLATED, -15)
packed = c.compress(data) + c.flush()
crc = zlib.crc32(data)
name = b'unsigned.bin'
local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 20, 8, 8, 0, 0x21, 0, 0, 0, len(name), 0) + name
body = local + packed + struct.pack('<III', crc, len(packed), len(data))
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 20, 20, 8, 8, 0, 0x21, crc, len(packed), len(data),
                      len(name), 0, 0, 0, 0, 0x20, 0) + name
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(central), len(body), 0)
open('nosig.zip', 'wb').write(body + central + end)
EOF2
tes a peer.zip -R src/zeros.bin src/empty.txt || { fail "tescmd a (zip)"; cat last.log; }
tes a pydesc.zip -j src/random.bin || { fail "tescmd a (descriptor)"; cat last.log; }
tes a nosig.zip -j src/random.bin || { fail "tescmd a (descriptor without signature)"; cat last.log; }
cp src/text.txt signed.txt
cp src/sub/exact.bin unsigned.bin
base=src/ check peer.zip "" text.txt sub/exact.bin "sub/with blank.txt" zeros.bin empty.txt
check pydesc.zip "" signed.txt
base=src/ check pydesc.zip "" random.bin
check nosig.zip "" unsigned.bin
base=src/ check nosig.zip "" random.bin

scenario="named below the current folder (the default)"
mkdir -p twins/a twins/b
echo "one" >twins/a/readme.txt
echo "two" >twins/b/readme.txt
tes a twins.zip twins || { fail "tescmd a"; cat last.log; }
expect_names twins.zip twins/ twins/a/ twins/b/ twins/a/readme.txt twins/b/readme.txt
check twins.zip "" twins/a/readme.txt twins/b/readme.txt

scenario="updated"
cp new.zip upd.zip
sleep 2
echo "changed" >>src/text.txt
touch src/text.txt
tes a upd.zip -u -R src || { fail "tescmd a -u"; cat last.log; }
grep -q "Updating src.text.txt" last.log || fail "text.txt not updated"
check upd.zip "" "${all_files[@]}"

scenario="freshened"
cp new.zip fresh.zip
echo "new file" >newcomer.txt
tes a fresh.zip -f -R src newcomer.txt || { fail "tescmd a -f"; cat last.log; }
unzip -Z1 fresh.zip | grep -q newcomer && fail "freshen added a new file"
check fresh.zip "" "${all_files[@]}"

scenario="deleted from"
cp upd.zip del.zip
tes d del.zip 'src\random.bin' 'src\emptydir' || { fail "tescmd d"; cat last.log; }
expect_names del.zip src/ src/sub/ src/sub/deeper/ src/text.txt src/zeros.bin src/distant.bin src/empty.txt src/sub/exact.bin \
  "src/sub/with blank.txt" src/sub/deeper/Photo.JPG
check del.zip "" src/text.txt src/zeros.bin src/sub/exact.bin

scenario="commented"
cp upd.zip com.zip
tes c com.zip -m "A comment written by tescmd" || fail "tescmd c -m"
[ "$(unzip -z com.zip | tail -n +2)" = "A comment written by tescmd" ] || fail "comment: $(unzip -z com.zip)"
check com.zip "" "${all_files[@]}"
tes c com.zip -m "" || fail "tescmd c -m ''"
[ -z "$(unzip -z com.zip | tail -n +2)" ] || fail "comment not removed"

scenario="re-attributed"
cp upd.zip attr.zip
tes attr attr.zip 'src\text.txt' RH "entry comment" || { fail "tescmd attr"; cat last.log; }
python3 -c "
import zipfile,sys
i=zipfile.ZipFile('attr.zip').getinfo('src/text.txt')
sys.exit(0 if i.comment==b'entry comment' and i.external_attr&0xff==0x03 else 1)" || fail "entry comment or attributes"
check attr.zip "" "${all_files[@]}"

scenario="self-extracting and back"
head -c 12345 /dev/urandom >module.bin
rm -f prog.exe back.zip
tes sfx upd.zip module.bin prog.exe || { fail "tescmd sfx"; cat last.log; }
cmp -s -n 12345 module.bin prog.exe || fail "the program does not start with the module"
check prog.exe "" "${all_files[@]}"
python3 -c "
import zipfile
z=zipfile.ZipFile('prog.exe')
assert min(i.header_offset for i in z.infolist()) == 12345
" || fail "offsets do not count from the start of the file"
tes d prog.exe 'src\zeros.bin' || { fail "tescmd d on the program"; cat last.log; }
cmp -s -n 12345 module.bin prog.exe || fail "deleting lost the prefix"
python3 -c "
import zipfile
z=zipfile.ZipFile('prog.exe')
assert min(i.header_offset for i in z.infolist()) == 12345
" || fail "offsets after deleting do not count from the start of the file"
check prog.exe "" src/text.txt src/random.bin
tes unsfx prog.exe back.zip || { fail "tescmd unsfx"; cat last.log; }
[ "$(head -c 4 back.zip | od -An -tx1 | tr -d ' ')" = "504b0304" ] || fail "prefix left in front"
check back.zip "" src/text.txt src/random.bin

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all scenarios passed"

#!/usr/bin/env bash
# Cabinets written by tescmd (under Wine) checked by the peers: with each of
# the five compression settings, as single cabinets of several folders and as
# sets spanned over several files, every cabinet must pass `cabextract -t`
# and extract to exactly the bytes of its files with cabextract (and with
# `gcab -x` for single cabinets; gcab does not follow sets). Also: the
# cabinets of a set link to their neighbours, and a cabinet turned into a
# program and back is the cabinet it was.
#
# usage: peers.sh BINARY_DIR
set -u
binary=$1
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run
export TESSERA_BINARY_DIR=$binary
export WINEDEBUG=-all
tescmd=$binary/dist/tescmd.exe

for tool in cabextract gcab python3; do
  command -v $tool >/dev/null || { echo "SKIPPED: $tool missing"; exit 0; }
done

work=$(mktemp -d /tmp/cab_write_peers.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL [$scenario]: $*"; failures=$((failures + 1)); }
tes() { "$wine_run" "$tescmd" "$@" >"$work/last.log" 2>&1; }

# Sources: more than the 900,000 bytes after which a folder is closed, so a
# cabinet holds several folders; text, random data, zeros, an empty file, a
# file of exactly 32,768 bytes (one whole block), a name with a blank.
python3 - <<'EOF'
import os, random
random.seed(20261210)
os.makedirs('src/sub/deeper', exist_ok=True)
open('src/text.txt', 'w').write(''.join('line %d of a text that repeats\n' % (i % 997) for i in range(40000)))
open('src/random.bin', 'wb').write(random.randbytes(200000))
open('src/zeros.bin', 'wb').write(bytes(700000))
open('src/empty.txt', 'wb').close()
open('src/sub/exact.bin', 'wb').write(bytes(random.getrandbits(3) for _ in range(32768)))
open('src/sub/with blank.txt', 'w').write('a name with a blank\n' * 50)
open('src/sub/deeper/tail.bin', 'wb').write(random.randbytes(70001))
EOF
files=(src/text.txt src/random.bin src/zeros.bin src/empty.txt src/sub/exact.bin "src/sub/with blank.txt"
       src/sub/deeper/tail.bin)

# same_files DIR: every source file came out under DIR with the same bytes.
same_files() {
  local dir=$1 tool=$2 file
  for file in "${files[@]}"; do
    cmp -s "$file" "$dir/$file" || fail "$tool: $file differs"
  done
}

# Header fields of a cabinet, separated by "|": cFolders, flags, setID,
# iCabinet, the previous cabinet's name and disk, the next one's.
header() {
  python3 - "$1" <<'EOF'
import struct, sys
d = open(sys.argv[1], 'rb').read()
assert d[:4] == b'MSCF' and d[24:26] == b'\x03\x01', 'not a cabinet 1.3'
size, = struct.unpack_from('<I', d, 8)
assert size == len(d), 'cbCabinet %d, file %d' % (size, len(d))
folders, files, flags, setid, index = struct.unpack_from('<HHHHH', d, 26)
p, names = 36, []
for flag in (1, 2):
    if flags & flag:
        for _ in range(2):
            end = d.index(b'\0', p)
            names.append(d[p:end].decode())
            p = end + 1
    else:
        names += ['-', '-']
print('|'.join(map(str, [folders, flags, setid, index] + names)))
EOF
}

for level in 0 1 2 3 4; do
  scenario="single cabinet, level $level"
  rm -rf one.cab out-c out-g
  tes a one.cab -R -l$level src || { fail "tescmd a"; cat last.log; }
  cabextract -q -t one.cab >ce.log 2>&1 || { fail "cabextract -t"; cat ce.log; }
  cabextract -q -d out-c one.cab >/dev/null 2>&1 || fail "cabextract extract"
  same_files out-c cabextract
  mkdir out-g && (cd out-g && gcab -x ../one.cab) >/dev/null 2>&1 || fail "gcab -x"
  same_files out-g gcab
  IFS="|" read -r folders flags setid index _ <<<"$(header one.cab)"
  [ "$folders" -ge 2 ] || fail "one folder only (folder threshold not applied)"
  [ "$flags" = 0 ] && [ "$setid" = 20938 ] && [ "$index" = 0 ] || fail "header: flags $flags set $setid index $index"
  tes t one.cab
  [ $? -le 1 ] && grep -q "No errors were found" last.log || { fail "tescmd t"; cat last.log; }
done

# A set: every cabinet at most the volume size, numbered along the set and
# linked to its neighbours by name and disk.
check_set() {
  local base=$1 ext=$2 volume=$3
  local n=0 cab prev_name=- expect_disk
  shopt -s nullglob
  local cabs=("$base"[0-9][0-9]"$ext")
  shopt -u nullglob
  [ ${#cabs[@]} -ge 3 ] || { fail "${#cabs[@]} cabinets only"; return; }
  for cab in "${cabs[@]}"; do
    n=$((n + 1))
    [ "$cab" = "$(printf '%s%02d%s' "$base" $n "$ext")" ] || fail "cabinet $n is named $cab"
    [ "$(stat -c %s "$cab")" -le "$volume" ] || fail "$cab is larger than $volume bytes"
    IFS="|" read -r _ flags setid index pname pdisk nname ndisk <<<"$(header "$cab")"
    [ "$index" = $((n - 1)) ] || fail "$cab: iCabinet $index"
    [ "$setid" = 20938 ] || fail "$cab: setID $setid"
    [ "$pname" = "$prev_name" ] || fail "$cab: previous $pname, want $prev_name"
    if [ $n -lt ${#cabs[@]} ]; then
      [ "$nname" = "$(printf '%s%02d%s' "$base" $((n + 1)) "$ext")" ] || fail "$cab: next $nname"
      [ "$ndisk" = "Disk $((n + 1))" ] || fail "$cab: next disk '$ndisk'"
    else
      [ "$nname" = - ] || fail "$cab: the last one names a next cabinet"
    fi
    prev_name=$cab
  done
  rm -rf out-c
  cabextract -q -t "${cabs[0]}" >ce.log 2>&1 || { fail "cabextract -t"; cat ce.log; }
  cabextract -q -d out-c "${cabs[0]}" >/dev/null 2>&1 || fail "cabextract extract"
  same_files out-c cabextract
  rm -rf out-t
  tes x "${cabs[0]}" -oout-t || { fail "tescmd x"; cat last.log; }
  same_files out-t tescmd
}

for level in 0 2 3 4; do
  scenario="spanned set, level $level"
  rm -f data*.cab
  tes a data.cab -R -l$level -v 65536 src || { fail "tescmd a -v"; cat last.log; }
  [ -e data.cab ] && fail "data.cab written besides the set"
  check_set data .cab 65536
done

scenario="self-extracting and back"
rm -f one.cab prog.exe back.cab
tes a one.cab -R -l3 src || fail "tescmd a"
head -c 20000 /dev/urandom >module.bin
tes sfx one.cab module.bin prog.exe || { fail "tescmd sfx"; cat last.log; }
cmp -s -n 20000 module.bin prog.exe || fail "the program does not start with the module"
cmp -s one.cab <(tail -c +20001 prog.exe) || fail "the cabinet does not follow the module unchanged"
tes l prog.exe || { fail "tescmd l on the program"; cat last.log; }
rm -rf out-t
tes x prog.exe -oout-t || { fail "tescmd x on the program"; cat last.log; }
same_files out-t tescmd
tes unsfx prog.exe back.cab || { fail "tescmd unsfx"; cat last.log; }
cmp -s one.cab back.cab || fail "the cabinet taken out differs from the one put in"
cabextract -q -t back.cab >/dev/null 2>&1 || fail "cabextract -t back.cab"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all scenarios passed"

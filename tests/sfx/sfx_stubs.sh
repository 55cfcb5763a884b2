#!/usr/bin/env bash
# Self-extracting programs made by `tescmd sfx` from tesstub.dll, run under
# Wine with -y (no window) or as setup programs (no questions):
#   - ZIP (made by zip and by tescmd), cabinet (MSZIP, LZX, stored; several
#     folders) and ACE (corpus samples) extract to exactly the archive's
#     files, with both flavours where the format has them;
#   - the setup flavour starts a program from the set, waits for it and
#     deletes what it extracted; the program proves it ran by a file outside;
#   - hostile names stay inside the destination; a truncated archive, a
#     damaged entry and a damaged configuration block fail with a message,
#     a non-zero exit code and no partly written file;
#   - the configuration block is found at offset 65,531 and not at 65,532;
#   - a stub imports only system libraries (the DLL search is restricted
#     before anything else is loaded);
#   - tescmd unsfx gives back the archive byte for byte.
#
# usage: sfx_stubs.sh BINARY_DIR MARKER_EXE STUB_DIR CORPUS_DIR
set -u
binary=$1 marker=$2 stubs=$3 corpus=$4
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run
export TESSERA_BINARY_DIR=$binary
export WINEDEBUG=-all
tescmd=$binary/dist/tescmd.exe

for tool in zip unzip gcab python3; do
  command -v $tool >/dev/null || { echo "SKIPPED: $tool missing"; exit 0; }
done

work=$(mktemp -d /tmp/sfx_stubs.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL [$scenario]: $*"; failures=$((failures + 1)); }
tes() { "$wine_run" "$tescmd" "$@" >"$work/last.log" 2>&1; }
# run EXE ARGS...: runs a made program in the work folder; its standard
# error (where -y sends messages) goes to run.log.
# A program that waits for a human (a message box) fails by the time-out.
run() { timeout 120 "$wine_run" "$@" >"$work/run.log" 2>&1; }
winpath() { echo "Z:$1" | tr / '\\'; }

# Sources: text, random data, zeros (several cabinet folders), an empty
# file, a read-only file, a name with a blank, two levels of folders.
python3 - <<'PY'
import os, random
random.seed(20261211)
os.makedirs('src/sub/deeper', exist_ok=True)
open('src/text.txt', 'w').write(''.join('line %d of a text that repeats\n' % (i % 997) for i in range(40000)))
open('src/random.bin', 'wb').write(random.randbytes(200000))
open('src/zeros.bin', 'wb').write(bytes(1000000))
open('src/empty.txt', 'wb').close()
open('src/sub/with blank.txt', 'w').write('a name with a blank\n' * 50)
open('src/sub/deeper/tail.bin', 'wb').write(random.randbytes(70001))
PY
files=(text.txt random.bin zeros.bin empty.txt "sub/with blank.txt" sub/deeper/tail.bin)
tops=(text.txt random.bin zeros.bin empty.txt sub)

# same_files DIR REF: every file of REF came out under DIR with the same
# bytes, and DIR holds nothing else.
same_files() {
  local dir=$1 ref=$2
  [ -d "$dir" ] || { fail "$dir was not made"; return; }
  diff -r "$ref" "$dir" >diff.log 2>&1 || { fail "$dir differs from $ref"; head -5 diff.log; }
}

# make_sfx ARCHIVE OUT OPTIONS...: tescmd sfx with -p:OUT.
make_sfx() {
  local archive=$1 out=$2
  shift 2
  rm -f "$out"
  tes sfx "$archive" "-p:$out" "$@" || { fail "tescmd sfx $archive $*"; cat last.log; return 1; }
  [ -s "$out" ] || { fail "$out not written"; return 1; }
}

# extracts EXE REF: the program run with -y extracts REF's files exactly.
extracts() {
  local exe=$1 ref=$2
  rm -rf out
  run "./$exe" -y -oout
  local code=$?
  [ $code = 0 ] || { fail "$exe -y exited with $code"; cat run.log; }
  same_files out "$ref"
}

(cd src && zip -qr -X ../peer.zip .)
(cd src && "$wine_run" "$tescmd" a ../own.zip "${tops[@]}" >"$work/last.log" 2>&1) || { scenario=setup; fail "tescmd a own.zip"; cat last.log; }

scenario="ZIP made by zip"
make_sfx peer.zip peer.exe && extracts peer.exe src
scenario="ZIP made by tescmd"
make_sfx own.zip own.exe && extracts own.exe src

for level in 0 2 3 4; do
  scenario="cabinet level $level"
  rm -f lvl.cab
  (cd src && "$wine_run" "$tescmd" a ../lvl.cab -l$level "${tops[@]}" >"$work/last.log" 2>&1) || { fail "tescmd a"; cat last.log; continue; }
  make_sfx lvl.cab lvl.exe && extracts lvl.exe src
  if [ $level = 0 ] || [ $level = 3 ]; then
    make_sfx lvl.cab lvl-setup-$level.exe -i && extracts lvl-setup-$level.exe src
  fi
done
scenario="cabinet made by gcab"
(cd src && gcab -cz ../peer.cab "${files[@]}") >/dev/null 2>&1 || fail "gcab -c"
make_sfx peer.cab gcab.exe && extracts gcab.exe src

# ACE: the corpus samples against what tescmd extracts from them.
if [ -d "$corpus/ace" ]; then
  for sample in ace10_lz77_solid ace10_lz77_nonsolid ace10_lz77_dirs_emptyfile ace_stored; do
    scenario="ACE $sample"
    cp "$corpus/ace/$sample.ace" sample.ace
    rm -rf ref && tes x sample.ace -oref || { fail "tescmd x"; cat last.log; continue; }
    make_sfx sample.ace ace.exe && extracts ace.exe ref
    if [ $sample = ace10_lz77_solid ]; then
      make_sfx sample.ace ace-setup.exe -i && extracts ace-setup.exe ref
    fi
  done
else
  echo "ACE samples skipped: no corpus at $corpus"
fi

# --- programs started after extracting ---

cp "$marker" src-run.exe
mkdir -p runset && cp src/text.txt runset/ && cp "$marker" runset/marker.exe
(cd runset && zip -qr ../run.zip .)
(cd runset && "$wine_run" "$tescmd" a ../run.cab -l3 text.txt marker.exe >"$work/last.log" 2>&1) || { scenario=run; fail "tescmd a run.cab"; }

scenario="setup program: extract, start, wait, delete"
rm -rf inst ran.txt
make_sfx run.cab setup.exe -i -e2:inst -x1:marker.exe -d
run ./setup.exe
code=$?
[ $code = 0 ] || { fail "exit code $code"; cat run.log; }
[ -f ran.txt ] || fail "the program did not run"
[ -e inst ] && fail "the extracted set was not deleted: $(find inst | head -3)"

scenario="interactive stub -y: start without waiting, files stay"
rm -rf inst ran.txt
make_sfx run.zip start.exe -e2:inst -x1:marker.exe
run ./start.exe -y
[ $? = 0 ] || { fail "exit code"; cat run.log; }
[ -f inst/marker.exe ] && [ -f inst/text.txt ] || fail "the set is not there"
for _ in 1 2 3 4 5 6; do [ -f ran.txt ] && break; sleep 1; done
[ -f ran.txt ] || fail "the program did not run"

# A program name that climbs out of the set is taken from inside it: there
# is no marker.exe above the destination, so only the set's copy can run.
scenario="program name with .."
rm -rf inst ran.txt
make_sfx run.zip climb.exe -e2:inst '-x1:..\marker.exe'
run ./climb.exe -y
[ $? = 0 ] || { fail "exit code"; cat run.log; }
for _ in 1 2 3 4 5 6; do [ -f ran.txt ] && break; sleep 1; done
[ -f ran.txt ] || fail "the program of the set did not run"

scenario="setup program: an existing folder and its files stay"
rm -rf inst ran.txt && mkdir inst && echo keep >inst/keep.txt
make_sfx run.cab setup2.exe -i -e2:inst -x1:marker.exe -d
run ./setup2.exe -y
[ -f ran.txt ] || fail "the program did not run"
[ -f inst/keep.txt ] || fail "a file that was there before is gone"
[ -e inst/marker.exe ] && fail "an extracted file stayed"

if [ -d "$corpus/ace" ]; then
  scenario="ACE setup program with a command line"
  rm -rf inst ace-ran.txt
  make_sfx "$corpus/ace/ace10_lz77_nonsolid.ace" acerun.exe -i -e2:inst "-x5:$(winpath "$work/src-run.exe") $(winpath "$work/ace-ran.txt")" -d
  run ./acerun.exe
  [ $? = 0 ] || { fail "exit code"; cat run.log; }
  [ -f ace-ran.txt ] || fail "the program did not run"
  [ -e inst ] && fail "the extracted set was not deleted"
fi

scenario="a program that cannot be started"
rm -rf inst
make_sfx run.zip nostart.exe -e2:inst -x1:missing.exe
run ./nostart.exe -y
[ $? != 0 ] || fail "exit code 0"
grep -q "Fehler 2 beim" run.log || { fail "no message 8"; cat run.log; }
[ -f inst/text.txt ] || fail "the extracted files are gone"

# --- hostile and damaged input ---

scenario="hostile names"
mkdir -p hostile && rm -rf hostile/*
python3 - <<'PY'
import zipfile
with zipfile.ZipFile('hostile/evil.zip', 'w') as z:
    for name in ['../up.txt', 'C:\\drive.txt', 'sub/../../up2.txt', '\\rooted.txt', 'CON', 'ads.txt:stream', 'fine.txt']:
        info = zipfile.ZipInfo(name)
        z.writestr(info, 'payload of ' + name)
PY
make_sfx hostile/evil.zip hostile/evil.exe && (cd hostile && "$wine_run" ./evil.exe -y -odest/inner >"$work/run.log" 2>&1)
outside=$(cd hostile && find . -path ./dest/inner -prune -o -type f -print | sort | tr '\n' ' ')
[ "$outside" = "./evil.exe ./evil.zip " ] || fail "written outside the destination: $outside"
[ -f hostile/dest/inner/fine.txt ] || fail "the harmless entry is missing"
[ -e /up.txt ] || [ -e /up2.txt ] || [ -e /drive.txt ] || [ -e /rooted.txt ] && fail "written to the root"
[ -e "$work/../up.txt" ] && fail "written above the work folder"

# truncated EXE: the archive part cut short; nothing may be left.
truncated() {
  local exe=$1 keep=$2
  python3 - "$exe" "$keep" <<'PY'
import sys
d = open(sys.argv[1], 'rb').read()
open('cut.exe', 'wb').write(d[:int(len(d) * float(sys.argv[2]))])
PY
  rm -rf out
  run ./cut.exe -y -oout
  local code=$?
  [ $code != 0 ] || fail "exit code 0"
  [ -s run.log ] || fail "no message"
  [ -e out ] && fail "left behind: $(find out -type f | head -3 | tr '\n' ' ')"
}
scenario="truncated ZIP"; truncated own.exe 0.7
scenario="truncated cabinet"; truncated lvl.exe 0.6
scenario="truncated cabinet, setup"; truncated lvl-setup-3.exe 0.6
if [ -d "$corpus/ace" ]; then
  make_sfx "$corpus/ace/ace10_lz77_solid.ace" solid.exe
  scenario="truncated ACE"; truncated solid.exe 0.8
fi

scenario="damaged ZIP entry"
mkdir -p dmg && rm -rf dmg/*
python3 - <<'PY'
import zipfile
with zipfile.ZipFile('dmg/d.zip', 'w', zipfile.ZIP_STORED) as z:
    z.writestr('good.txt', 'good data\n' * 100)
    z.writestr('bad.txt', 'data to be damaged\n' * 100)
d = bytearray(open('dmg/d.zip', 'rb').read())
at = d.index(b'data to be damaged') + 500
d[at] ^= 0xFF
open('dmg/d.zip', 'wb').write(d)
PY
make_sfx dmg/d.zip dmg.exe
rm -rf out && run ./dmg.exe -y -oout
[ $? != 0 ] || fail "exit code 0"
grep -q "fsumme [0-9a-f]* ist falsch" run.log || { fail "no checksum message"; cat run.log; }
[ -e out/bad.txt ] && fail "the damaged file was left"
[ -f out/good.txt ] || fail "the good entry is missing"

scenario="damaged configuration block"
python3 - <<'PY'
d = bytearray(open('own.exe', 'rb').read())
at = d.index(b'TSFX')
d[at + 8] = 7  # folder base out of range
open('badblock.exe', 'wb').write(d)
PY
rm -rf out && run ./badblock.exe -y -oout
[ $? != 0 ] || fail "exit code 0"
grep -q "selbstextrahierende Archiv" run.log || { fail "no message 1"; cat run.log; }
[ -e out ] && fail "extracted anyway"

# The block's marker must lie in the first 65,535 bytes: a block at 65,531
# is found, one at 65,532 is not.
for offset in 65531 65532; do
  scenario="block at $offset"
  python3 - "$stubs/sfxzip.exe" $offset <<'PY'
import sys, struct
stub = open(sys.argv[1], 'rb').read()
offset = int(sys.argv[2])
assert len(stub) <= offset, 'stub too large: %d bytes' % len(stub)
block = b'TSFX' + struct.pack('<IBBBBBB', 0, 1, 0, 0, 0, 0, 1) + bytes(10)
open('module.bin', 'wb').write(stub + bytes(offset - len(stub)) + block)
PY
  rm -f edge.exe && tes sfx own.zip module.bin edge.exe || { fail "tescmd sfx MODULE"; cat last.log; }
  rm -rf out && run ./edge.exe -y -oout
  code=$?
  if [ $offset = 65531 ]; then
    [ $code = 0 ] || { fail "not found (exit $code)"; cat run.log; }
    same_files out src
  else
    [ $code != 0 ] || fail "found beyond the limit"
  fi
done

scenario="stub sizes and imports"
for stub in sfxzip sfxcab sfxace sfxcabinst sfxaceinst; do
  size=$(stat -c %s "$stubs/$stub.exe")
  echo "$stub.exe: $size bytes"
  [ "$size" -le 65531 ] || fail "$stub.exe is $size bytes: its block would lie beyond 65,535"
  imports=$(python3 - "$stubs/$stub.exe" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
pe = struct.unpack_from('<I', d, 60)[0]
count = struct.unpack_from('<H', d, pe + 6)[0]
optional = struct.unpack_from('<H', d, pe + 20)[0]
sections = [struct.unpack_from('<8sIIII', d, pe + 24 + optional + 40 * i) for i in range(count)]
def offset(rva):
    for _, vsize, va, rsize, raw in sections:
        if va <= rva < va + max(vsize, rsize): return rva - va + raw
imports = struct.unpack_from('<I', d, pe + 24 + 96 + 8)[0]
names, at = [], offset(imports)
while True:
    name_rva = struct.unpack_from('<I', d, at + 12)[0]
    if not name_rva: break
    o = offset(name_rva)
    names.append(d[o:d.index(b'\0', o)].decode().lower())
    at += 20
print(' '.join(sorted(names)))
PY
)
  [ "$imports" = "kernel32.dll msvcrt.dll user32.dll" ] || fail "$stub.exe imports: $imports"
done

# The program's "/S" form builds the same programs without a window.
tessera=$binary/dist/tessera.exe
scenario="/S with the default program name"
cp own.zip slash.zip && rm -f slash.exe
timeout 120 "$wine_run" "$tessera" /S slash.zip -q >/dev/null 2>&1
[ -s slash.exe ] && extracts slash.exe src || fail "slash.exe not made"

scenario="/S setup program"
rm -rf inst ran.txt slash-setup.exe
timeout 120 "$wine_run" "$tessera" /S run.cab -p:slash-setup.exe -i -e2:inst -x1:marker.exe -d -q >/dev/null 2>&1
[ -s slash-setup.exe ] || fail "not made"
run ./slash-setup.exe
[ $? = 0 ] || { fail "exit code"; cat run.log; }
[ -f ran.txt ] || fail "the program did not run"
[ -e inst ] && fail "the extracted set was not deleted"

scenario="program part removed again"
tes unsfx peer.exe back.zip || { fail "unsfx zip"; cat last.log; }
cmp -s back.zip peer.zip || fail "ZIP differs from the original"
unzip -tq back.zip >/dev/null 2>&1 || fail "unzip -t"
tes unsfx lvl.exe back.cab || { fail "unsfx cab"; cat last.log; }
cmp -s back.cab lvl.cab || fail "cabinet differs from the original"
if [ -d "$corpus/ace" ]; then
  tes unsfx solid.exe back.ace || { fail "unsfx ace"; cat last.log; }
  cmp -s back.ace "$corpus/ace/ace10_lz77_solid.ace" || fail "ACE differs from the original"
fi

if [ $failures -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all self-extractor checks passed"

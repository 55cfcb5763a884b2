#!/usr/bin/env bash
# scripts/wine-run with stand-in loaders: which loader a program gets, and
# that only a run Wine never started (failed, nothing written) is repeated.
set -u
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../scripts/wine-run
work=$(mktemp -d /tmp/wine_run_test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}

# Stand-in loaders: each says its name and runs the "program", a shell
# snippet that may count its runs in a file.
mkdir -p "$work/loaders"
for name in wine wine64; do
  printf '#!/usr/bin/env bash\necho "%s" >>"%s/used"\nexec bash -c "$1"\n' "$name" "$work" >"$work/loaders/$name"
  chmod +x "$work/loaders/$name"
done
export TESSERA_WINE_LOADERS=$work/loaders WINEPREFIX=$work/prefix

# PE files with only the fields the script reads: e_lfanew and the machine.
python3 - "$work" <<'PY'
import struct, sys
for name, machine in (("i386.exe", 0x14C), ("amd64.exe", 0x8664)):
    data = bytearray(0x88)
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x80)
    data[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", data, 0x84, machine)
    open(sys.argv[1] + "/" + name, "wb").write(data)
PY

loader_for() {  # loader_for ARGS...: the loader one run used
  rm -f "$work/used"
  "$wine_run" "$@" >/dev/null 2>&1
  cat "$work/used" 2>/dev/null
}
# (The stand-in loader takes a PE file for a command that is not found; only
# the loader's name matters here.)
check "an i386 program gets the 32-bit loader" wine "$(cd "$work" && loader_for i386.exe)"
check "an x86_64 program gets the 64-bit loader" wine64 "$(cd "$work" && loader_for amd64.exe)"
check "--i686 names the 32-bit loader" wine "$(loader_for --i686 true)"
check "a 32-bit prefix without a program file" wine "$(WINEARCH=win32 loader_for true)"
check "the default" wine64 "$(loader_for true)"

export TESSERA_WINE_RETRY_START=1
runs() { wc -l <"$work/used" | tr -d ' '; }
rm -f "$work/used"
"$wine_run" 'exit 1' >/dev/null 2>&1; status=$?
check "a run that failed silently gets a second run, and its status" "2 1" "$(runs) $status"
rm -f "$work/used"
"$wine_run" 'echo "[==========] Running 1 test"; exit 1' >/dev/null 2>&1; status=$?
check "a test that failed after writing is not run again" "1 1" "$(runs) $status"
rm -f "$work/used"
output=$("$wine_run" 'if [ -f '"$work"'/started ]; then echo second; else touch '"$work"'/started; exit 3; fi' 2>/dev/null)
status=$?
check "the second run's output and status are the result" "second 0" "$output $status"
rm -f "$work/used"
"$wine_run" 'exit 0' >/dev/null 2>&1; status=$?
check "a silent success is not repeated" "1 0" "$(runs) $status"

echo "$((9 - failures)) passed, $failures failed"
[ "$failures" = 0 ]

#!/usr/bin/env bash
# ZIP archives through tescmd under Wine against Info-ZIP under Linux, on the
# same tree in the same run:
#   create   `tescmd a -l2` (level "Normal", Deflate level 6) vs `zip -6`:
#            entries, archive size, size ratio to zip -6, and the check that
#            the peers accept our archive;
#   test     `tescmd t` vs `unzip -t`, both on zip -6's archive;
#   extract  `tescmd x` vs `unzip -o`, both on zip -6's archive, into an
#            empty folder each run, the outputs compared afterwards.
# Times are the best wall time of RUNS runs, Wine's start-up included; the
# ratios are the peer's time over ours (above 1: we are faster).
#
# usage: bench/zip/zip_bench.sh [BUILD_DIR [TREE [RUNS]]]
#   BUILD_DIR  a Windows build with dist/tescmd.exe (default build/x86_64)
#   TREE       the folder to archive (default: the system's Python standard
#              library, /usr/lib/python3.N)
#   RUNS       runs per tool, the best counts (default 3)
#
# `zip -6 -X` (no extra fields with Unix times and owners) is listed too:
# our entries carry no extra fields, so it shows the compression alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/x86_64}" && pwd)
tree=${2:-$(ls -d /usr/lib/python3.[0-9]* | sort -V | tail -1)}
runs=${3:-3}
tree=$(cd "$tree" && pwd -P)
parent=$(dirname "$tree")
name=$(basename "$tree")

export TESSERA_BINARY_DIR=$build WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
work=$(mktemp -d /tmp/zip-create-bench.XXXXXX)
wine_run=$root/scripts/wine-run
# One persistent wineserver for the whole run, as the tests have: otherwise
# every tescmd call after an idle moment pays for starting the server again
# (about a second), which no Windows machine does.
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
trap 'rm -rf "$work"; "$wineserver" -k 2>/dev/null || true' EXIT
"$wineserver" -p 2>/dev/null || true  # already running: that one serves
"$wine_run" wineboot --init >/dev/null 2>&1 || true

# best_time COMMAND...: the smallest wall time of $runs runs, in seconds.
best_time() {
  local best="" t start end
  for _ in $(seq "$runs"); do
    rm -f "$work"/out.*
    rm -rf "$work"/x
    mkdir "$work"/x
    start=$(date +%s.%N)
    # Into a file: Wine writes to /dev/null (a character device) several
    # times slower than to a file or a pipe.
    "$@" >"$work/run.log" 2>&1
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

zip_time=$(cd "$parent" && best_time zip -r -q -6 "$work/out.zip" "$name")
zip_size=$(stat -c %s "$work/out.zip")
# Kept apart from out.*, which every timed run removes.
cp "$work/out.zip" "$work/zip6.zip"
zipx_time=$(cd "$parent" && best_time zip -r -q -6 -X "$work/out.zip" "$name")
zipx_size=$(stat -c %s "$work/out.zip")
entries=$(unzip -Z1 "$work/out.zip" | wc -l)

# Named as zip names them: paths relative to the current folder, as given.
tes_time=$(cd "$parent" && best_time "$wine_run" "$build/dist/tescmd.exe" a "$work/out.zip" -l2 "$name")
tes_size=$(stat -c %s "$work/out.zip")
tes_entries=$(unzip -Z1 "$work/out.zip" | wc -l)
cp "$work/out.zip" "$work/threads.zip"
# The same on one thread ("CompressionThreads" 1): the archive must be the same bytes.
settings='HKCU\Software\Quellsoft\Tessera\Settings'
"$wine_run" reg add "$settings" /v CompressionThreads /t REG_DWORD /d 1 /f >/dev/null 2>&1
tes1_time=$(cd "$parent" && best_time "$wine_run" "$build/dist/tescmd.exe" a "$work/out.zip" -l2 "$name")
"$wine_run" reg delete "$settings" /v CompressionThreads /f >/dev/null 2>&1
same_threads="the same bytes as with one thread per processor"
cmp -s "$work/out.zip" "$work/threads.zip" || same_threads="DIFFERENT bytes from the one with one thread per processor"
cp "$work/threads.zip" "$work/out.zip"
check="unzip -t and 7zz t pass"
unzip -tq "$work/out.zip" >/dev/null 2>&1 || check="unzip -t FAILS"
7zz t "$work/out.zip" >/dev/null 2>&1 || check="$check; 7zz t FAILS"

# Testing and extracting zip -6's archive (Wine maps the Linux paths onto
# drive Z:).
unzip_test_time=$(best_time unzip -tqq "$work/zip6.zip")
tes_test_time=$(best_time "$wine_run" "$build/dist/tescmd.exe" t "$work/zip6.zip")
unzip_x_time=$(best_time unzip -qq -o "$work/zip6.zip" -d "$work/x")
tes_x_time=$(best_time "$wine_run" "$build/dist/tescmd.exe" x "$work/zip6.zip" -y "-o$work/x")
# The last timed run of each left its output: extract once more with unzip
# beside ours and compare.
mkdir -p "$work/peer"
unzip -qq -o "$work/zip6.zip" -d "$work/peer"
same="same files and bytes as unzip"
diff -r "$work/x" "$work/peer" >/dev/null 2>&1 || same="output DIFFERS from unzip's"
# tescmd t ends with exit code 0 only when every entry was checked clean.
"$wine_run" "$build/dist/tescmd.exe" t "$work/zip6.zip" >"$work/run.log" 2>&1 &&
  grep -q "No errors were found" "$work/run.log" || same="$same; tescmd t FAILS"

ratio() { printf '%.4f' "$(echo "scale=6; $1 / $2" | bc)"; }
secs() { printf '%.2f' "$1"; }
echo "tree: $tree ($entries entries, $(du -sb "$tree" | cut -f1) bytes), best of $runs runs"
echo
echo "| tool | entries | archive bytes | size / zip -6 | seconds |"
echo "|---|---|---|---|---|"
echo "| zip -6 | $entries | $zip_size | 1.0000 | $(secs "$zip_time") |"
echo "| zip -6 -X | $entries | $zipx_size | $(ratio "$zipx_size" "$zip_size") | $(secs "$zipx_time") |"
echo "| tescmd a -l2 (Wine) | $tes_entries | $tes_size | $(ratio "$tes_size" "$zip_size") | $(secs "$tes_time") |"
echo "| tescmd a -l2, one thread (Wine) | $tes_entries | $tes_size | $(ratio "$tes_size" "$zip_size") | $(secs "$tes1_time") |"
echo
echo "our archive: $check; on one thread: $same_threads"
echo "create: zip -6 / tescmd a -l2 = $(ratio "$zip_time" "$tes_time") (one thread: $(ratio "$zip_time" "$tes1_time"))"
echo
echo "| operation | peer | peer seconds | tescmd seconds (Wine) | peer / tescmd |"
echo "|---|---|---|---|---|"
echo "| test | unzip -t | $(secs "$unzip_test_time") | $(secs "$tes_test_time") | $(ratio "$unzip_test_time" "$tes_test_time") |"
echo "| extract | unzip -o | $(secs "$unzip_x_time") | $(secs "$tes_x_time") | $(ratio "$unzip_x_time" "$tes_x_time") |"
echo
echo "extraction: $same"

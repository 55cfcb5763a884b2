#!/usr/bin/env bash
# The download: scripts/package zips the distribution folder with tescmd;
# unzip must list exactly the folder's files, test them clean and extract
# each to the bytes in the folder. The folder holds what an installation
# needs and nothing else.
#
# usage: package_check.sh BINARY_DIR ARCH
set -u
binary=$1 arch=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v unzip >/dev/null || { echo "SKIPPED: unzip missing"; exit 0; }
dist=$binary/dist
work=$(mktemp -d /tmp/package_check.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

allowed=" Setup.exe tessera.exe tescore.dll tescmd.exe tesshell.dll tesstub.dll License.txt Readme.htm "
needed="Setup.exe tessera.exe tescore.dll tescmd.exe License.txt Readme.htm"
# The 32-bit product carries the 64-bit shell extension for the 64-bit shell.
if [ "$arch" = i686 ]; then
  allowed+="x64/tescore.dll x64/tesshell.dll "
  needed+=" x64/tescore.dll x64/tesshell.dll"
fi
for f in $needed; do
  [ -f "$dist/$f" ] || fail "dist lacks $f"
done
files=$(cd "$dist" && find . -type f | sed 's|^\./||' | sort)
for name in $files; do
  case "$allowed" in *" $name "*) ;; *) fail "dist holds $name, which an installation does not need" ;; esac
done

"$here/../../scripts/package" "$binary" "$arch" "$work/Tessera.zip" >"$work/package.log" 2>&1 ||
  { cat "$work/package.log"; fail "scripts/package failed"; }
if [ -f "$work/Tessera.zip" ]; then
  diff <(unzip -Z1 "$work/Tessera.zip" | sort) <(echo "$files") || fail "the zip's names differ from the folder's"
  unzip -tq "$work/Tessera.zip" >/dev/null || fail "unzip -t reports errors"
  mkdir "$work/out" && unzip -q "$work/Tessera.zip" -d "$work/out" || fail "unzip cannot extract"
  for name in $files; do
    cmp -s "$dist/$name" "$work/out/$name" || fail "$name extracted differs"
  done
else
  fail "no zip written"
fi
[ "$failures" = 0 ] && echo "package check passed"
exit $((failures > 0))

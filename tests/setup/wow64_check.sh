#!/usr/bin/env bash
# The 32-bit product on 64-bit Windows: runs the i686 test program
# setup_wow64_tests under Wine's 32-bit loader in a fresh 64-bit prefix of
# its own (build/i686/wineprefix-wow64), where it and Setup.exe run as
# 32-bit processes beside 64-bit ones. Skips when Wine's 64-bit loader or
# server is missing.
#
# usage: wow64_check.sh BINARY_DIR TEST_PROGRAM
set -u
binary=$1 program=$2
loaders=${TESSERA_WINE_LOADERS:-/usr/lib/wine}
for needed in wine wine64 wineserver64; do
  [ -x "$loaders/$needed" ] || { echo "SKIPPED: $loaders/$needed missing, no 64-bit Windows to run Setup on"; exit 0; }
done
export WINEPREFIX=$binary/wineprefix-wow64 WINEARCH=win64 WINEDEBUG=-all TESSERA_BINARY_DIR=$binary
# The test's shortcuts stay out of the menus of the machine running it.
export WINEDLLOVERRIDES=winemenubuilder.exe=d
finish() {
  "$loaders/wineserver64" -k 2>/dev/null
  "$loaders/wineserver64" -w 2>/dev/null
  rm -rf "$WINEPREFIX"
}
finish
trap finish EXIT
mkdir -p "$WINEPREFIX"
"$loaders/wineserver64" -p
"$loaders/wine64" wineboot --init >/dev/null 2>&1 || { echo "FAIL: wineboot could not make a 64-bit prefix"; exit 1; }
"$loaders/wine" "$program"

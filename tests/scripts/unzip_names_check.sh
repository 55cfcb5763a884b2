#!/usr/bin/env bash
# Checks every archive a test wrote into its peer folder (the argument) with
# unzip: it must test clean (with the password in NAME.password, if any)
# and list the names the test expected (NAME.names, one stored name a line).
set -euo pipefail
dir=$1
command -v unzip >/dev/null || { echo "SKIPPED: unzip not installed"; exit 0; }
shopt -s nullglob
checked=0
for expected in "$dir"/*.names; do
  archive=${expected%.names}.zip
  [ -f "$archive" ] || { echo "missing $archive"; exit 1; }
  if ! diff <(sort "$expected") <(unzip -Z1 "$archive" | sort); then
    echo "unzip lists other names in $archive"; exit 1
  fi
  unzip -tqq -P "$(cat "${expected%.names}.password" 2>/dev/null || true)" "$archive" >/dev/null
  checked=$((checked + 1))
done
[ $checked -gt 0 ] || { echo "SKIPPED: no archives written"; exit 0; }
echo "unzip agrees on $checked archives"

#!/usr/bin/env bash
# Reads the archives the viewing tests changed with unzip: writeback.zip
# must hold the edited file (unzip -p), comment.zip the comment the
# comment page wrote (unzip -z).
set -euo pipefail
dir=$1
command -v unzip >/dev/null || { echo "SKIPPED: unzip not installed"; exit 0; }
checked=0
if [ -f "$dir/writeback.zip" ]; then
  [ "$(unzip -p "$dir/writeback.zip" docs/notes.txt)" = "edited notes" ] || { echo "writeback.zip: docs/notes.txt is not the edit"; exit 1; }
  unzip -tqq "$dir/writeback.zip" >/dev/null
  checked=$((checked + 1))
fi
if [ -f "$dir/comment.zip" ]; then
  comment=$(unzip -z "$dir/comment.zip" | tr -d '\r')
  grep -q "^A comment$" <<<"$comment" && grep -q "^in two lines$" <<<"$comment" || { echo "comment.zip: comment is: $comment"; exit 1; }
  checked=$((checked + 1))
fi
[ $checked -gt 0 ] || { echo "SKIPPED: no archives written"; exit 0; }
echo "unzip agrees on $checked archives"

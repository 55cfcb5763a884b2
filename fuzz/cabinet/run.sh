#!/usr/bin/env bash
# Runs the cabinet fuzz targets (libFuzzer, ASan + UBSan):
#   fuzz/cabinet/run.sh [seconds per target] [target...]
# Targets: lzx_decoder quantum_decoder mszip_decoder cab_reader (default), and
# lzx_roundtrip; JOBS=2 runs two at a time. The working corpus grows in
# build/fuzz/corpus/<target>, starting from fuzz/cabinet/seeds/<target> and,
# when the sample corpus is present, from seeds that corpus_seeds.py derives
# from its cabinets into build/fuzz/corpus-seeds. Findings land in
# build/fuzz/findings, logs in build/fuzz/logs.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
shift || true
targets=(${@:-lzx_decoder quantum_decoder mszip_decoder cab_reader})
jobs=${JOBS:-1}
dir=build/fuzz
corpus=${TESSERA_CORPUS:-/work/shared/corpus}/cab
[ -f "$dir/build.ninja" ] ||
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DTESSERA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null
mkdir -p "$dir/findings" "$dir/logs"
[ -d "$corpus" ] && python3 fuzz/cabinet/corpus_seeds.py "$corpus" "$dir/corpus-seeds"
run() {
  local t=$1 extra=() dict=()
  [ -d "$dir/corpus-seeds/$t" ] && extra=("$dir/corpus-seeds/$t")
  case $t in
    cab_reader) dict=(-dict=fuzz/cabinet/cab.dict) ;;
    mszip_decoder) dict=(-dict=fuzz/cabinet/mszip.dict) ;;
  esac
  mkdir -p "$dir/corpus/$t"
  "$dir/fuzz/fuzz_$t" "$dir/corpus/$t" "fuzz/cabinet/seeds/$t" "${extra[@]}" "${dict[@]}" \
    -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$dir/findings/$t-" -print_final_stats=1 >"$dir/logs/$t.log" 2>&1 || true
  echo "== fuzz_$t for ${seconds}s ($(date -u +%F))"
  grep -E '^(Done|stat::|SUMMARY|==[0-9]+==ERROR)|#[0-9]+.*DONE' "$dir/logs/$t.log" | head -n 12
}
for t in "${targets[@]}"; do
  run "$t" &
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
done
wait

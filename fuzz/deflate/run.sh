#!/usr/bin/env bash
# Runs the Deflate-family fuzz targets (libFuzzer, ASan + UBSan):
#   fuzz/deflate/run.sh [seconds per target] [target...]
# Targets: inflate, explode, unshrink, unreduce, deflate_roundtrip (all by default), one
# after the other. The working corpus grows in build/fuzz/corpus/<target>,
# starting from the seeds in fuzz/deflate/seeds/<target> (made by
# make_seeds.cpp with our own encoders); findings land in build/fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-600}
shift || true
targets=("${@:-inflate explode unshrink unreduce deflate_roundtrip}")
dir=build/fuzz
[ -f "$dir/build.ninja" ] ||
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DTESSERA_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
for t in ${targets[@]}; do
  cmake --build "$dir" --target "fuzz_$t" >/dev/null
  mkdir -p "$dir/corpus/$t" "$dir/findings"
  echo "== fuzz_$t for ${seconds}s"
  "$dir/fuzz/fuzz_$t" "$dir/corpus/$t" "fuzz/deflate/seeds/$t" \
    -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$dir/findings/$t-" -print_final_stats=1 2>&1 | tail -n 12
done

#!/usr/bin/env bash
# Builds the index-loader fuzz target with clang's libFuzzer, ASan and UBSan
# (Debian package clang) and runs it on a seed corpus of small own-format
# and foreign index files. Usage: run_fuzz.sh [seconds] [extra libFuzzer args]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_DIR:-$root/build/fuzz}
secs=${1:-300}
shift || true
mkdir -p "$out/corpus" "$out/artifacts"
src=$root/core/src
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$src" "$here/fuzz_index_load.cpp" "$src/align/index.cpp" "$src/align/index_bucket.cpp" \
  "$src/util/byte_io.cpp" "$src/align/sketch.cpp" "$src/util/thread_pool.cpp" \
  -lpthread -o "$out/fuzz_index_load"
python3 "$here/make_seeds.py" "$out/seeds"
# stderr of the target (the foreign loader's progress line) is closed; rerun
# a reported artifact without -close_fd_mask to see the sanitizer report.
"$out/fuzz_index_load" "$out/corpus" "$out/seeds" -max_total_time="$secs" -max_len=4096 \
  -rss_limit_mb=2048 -timeout=10 -close_fd_mask=2 -artifact_prefix="$out/artifacts/" "$@"

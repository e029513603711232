#!/usr/bin/env bash
# Builds the junction-loader fuzz target with clang's libFuzzer, ASan and
# UBSan (Debian package clang) and runs it on a few seed files.
# Usage: run_fuzz_junc.sh [seconds] [extra libFuzzer args]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${FUZZ_DIR:-$root/build/fuzz-junc}
secs=${1:-120}
shift || true
mkdir -p "$out/corpus" "$out/seeds" "$out/artifacts"
src=$root/core/src
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$src" "$here/fuzz_junc_load.cpp" "$src/align/junc.cpp" -o "$out/fuzz_junc_load"
printf 'chr1\t100\t200\tj1\t0\t+\ntrack x\nchr2\t10\t20\t.\t0\t-\n' >"$out/seeds/bed6"
printf 'chr1\t1000\t2000\ttx\t0\t+\t1000\t2000\t0\t3\t100,50,80,\t0,300,600,\r\n' >"$out/seeds/bed12"
printf 'chr1\t500\t+\tD\t20\nchr2\t10\t-\tA\t-100\n# c\nc\t1\t+\tA\t63\n' >"$out/seeds/spsc"
# The loaders' summary lines go to stderr, which is closed while fuzzing.
"$out/fuzz_junc_load" "$out/corpus" "$out/seeds" -max_total_time="$secs" -max_len=2048 \
  -rss_limit_mb=2048 -timeout=10 -close_fd_mask=2 -artifact_prefix="$out/artifacts/" "$@"

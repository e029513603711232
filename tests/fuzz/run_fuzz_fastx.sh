#!/usr/bin/env bash
# Builds the libFuzzer harness with AddressSanitizer and UBSan (Debian's clang)
# and runs it: tests/fuzz/run_fuzz_fastx.sh [seconds] [extra libFuzzer flags].
# The corpus lives in bench/data/fuzz_corpus (not committed).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$here/../.."
out="$root/build/fuzz"
corpus="$root/bench/data/fuzz_corpus"
mkdir -p "$out" "$corpus"
isal=()
if pkg-config --exists libisal; then isal=(-DTESSIQ_HAVE_ISAL $(pkg-config --cflags --libs libisal)); fi
clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root/core/src" "$here/fuzz_fastx.cc" \
    "$root/core/src/fasta/reader.cpp" "$root/core/src/fasta/gzip.cpp" \
    "$root/core/src/fasta/stream.cpp" -lz "${isal[@]}" -o "$out/fuzz_fastx"
# Seeds: a few well-formed inputs for each mode.
printf '\0\0\0\0\0\0\0\0>a x\nACGU\n>b\nGG\n' > "$corpus/seed_fasta"
printf '\0\3\5\0\1\2\0\0@r d\r\nAC\r\n+\r\nII\r\n@s\nG\n+\nI\n' > "$corpus/seed_fastq"
printf '\1\7\7\0\0\0\0\0' > "$corpus/seed_gz" && printf '@r\nACGT\n+\nIIII\n' | gzip -c >> "$corpus/seed_gz"
printf '\3\1\2\3\4\5\6\7>a\nA C\r\n>b\n' > "$corpus/seed_fasta_stream"
printf '\4\1\2\3\4\5\6\7@r\nACGT\n+\nII\nII\n' > "$corpus/seed_fastq_stream"
secs="${1:-300}"
shift || true
"$out/fuzz_fastx" -max_total_time="$secs" -max_len=4096 -rss_limit_mb=2048 -print_final_stats=1 "$@" "$corpus"

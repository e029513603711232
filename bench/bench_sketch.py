#!/usr/bin/env python3
"""Minimizer sketching throughput of the core, one thread, on the E. coli
genome (Debian's bowtie-examples; run bench/fetch_data.sh first).

Prints MB/s (median of several runs) for w=10 k=15 and w=19 k=19, with and
without homopolymer compression, for the core alone and for the Python
`MinimizerSketcher.sketch` call (which also builds one object per record).
"""

import argparse
import gzip
import pathlib
import statistics
import sys
import time

import tessiqpy._testing as T
from tessiqpy.sketch import MinimizerSketcher

DATA = pathlib.Path(__file__).resolve().parent / "data"


def read_genome(path):
    seqs, cur = [], []
    with gzip.open(path, "rb") as fh:
        for line in fh:
            if line.startswith(b">"):
                if cur:
                    seqs.append(b"".join(cur))
                cur = []
            else:
                cur.append(line.strip())
    if cur:
        seqs.append(b"".join(cur))
    return b"".join(seqs)


def median_rate(fn, nbytes, runs):
    rates = []
    for _ in range(runs):
        t0 = time.perf_counter()
        fn()
        rates.append(nbytes / (time.perf_counter() - t0) / 1e6)
    return statistics.median(rates)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--genome", default=str(DATA / "ecoli.fa.gz"))
    ap.add_argument("--runs", type=int, default=7)
    args = ap.parse_args()
    if not pathlib.Path(args.genome).exists():
        sys.exit(f"missing {args.genome}: run bench/fetch_data.sh")
    seq = read_genome(args.genome)
    print(f"genome: {len(seq) / 1e6:.2f} Mb, one thread, median of {args.runs} runs")
    print(f"{'w':>3} {'k':>3} {'hpc':>5} {'records':>9} {'core MB/s':>10} {'python MB/s':>12}")
    for w, k in [(10, 15), (19, 19)]:
        for hpc in (False, True):
            count, seconds = T.sketch_timings(seq, w, k, hpc, args.runs)
            core = len(seq) / statistics.median(seconds) / 1e6
            if hpc:
                py = float("nan")  # compression is not reachable from the Python class
            else:
                sk = MinimizerSketcher(k, w)
                py = median_rate(lambda: sk.sketch(seq), len(seq), max(1, args.runs // 2))
            print(f"{w:>3} {k:>3} {str(hpc):>5} {count:>9} {core:>10.1f} {py:>12.1f}")


if __name__ == "__main__":
    main()

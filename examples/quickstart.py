#!/usr/bin/env python3
"""Sketch a genome with each of the three sketchers and print a summary.

    python examples/quickstart.py [genome.fa[.gz]]

Without an argument a built-in random sequence is used.
"""

import gzip
import random
import sys
import time

from tessiqpy.sketch import MinimizerSketcher, RandstrobeSketcher, SyncmerSketcher


def read_first_record(path):
    opener = gzip.open if path.endswith(".gz") else open
    parts = []
    with opener(path, "rb") as fh:
        for line in fh:
            if line.startswith(b">"):
                if parts:
                    break
                continue
            parts.append(line.strip())
    return b"".join(parts)


def main():
    if len(sys.argv) > 1:
        seq = read_first_record(sys.argv[1])
    else:
        rng = random.Random(1)
        seq = bytes(rng.choice(b"ACGT") for _ in range(200_000))
    print(f"sequence: {len(seq):,} bases")
    for name, sketcher in [
        ("minimizers w=10 k=15", MinimizerSketcher(k=15, w=10)),
        ("syncmers k=15 s=5", SyncmerSketcher(k=15, s=5)),
        ("randstrobes k=12 w=15..30", RandstrobeSketcher(k=12, w_min=15, w_max=30)),
    ]:
        t0 = time.perf_counter()
        records = sketcher.sketch(seq)
        dt = time.perf_counter() - t0
        first = records[0]
        print(
            f"{name:<26} {len(records):>9,} records in {dt:.2f} s; "
            f"first: hash {first.x >> 8:#x}, span {first.x & 0xFF}, "
            f"position {(first.y >> 1) & 0x7FFFFFFF}, strand {first.y & 1}"
        )


if __name__ == "__main__":
    main()

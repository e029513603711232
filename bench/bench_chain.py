#!/usr/bin/env python3
"""Chaining and seeding throughput on real anchor sets, one thread.

Anchors come from real nanopore reads (qcat-examples) and simulated CLR reads
(pbsim, 88 % accuracy) against the E. coli index (map-ont: k=15, w=10). Each
chainer runs over the same anchor sets; the table gives anchors chained per
second (input anchors / median seconds) and the ratio to the scalar chainer.

    bench/fetch_data.sh; python bench/bench_chain.py [--runs 5]
"""

import argparse
import statistics

import tessiqpy
import tessiqpy._testing as T

import simulate as S

VARIANTS = ["scalar", "sse", "avx2", "avx512", "rmq"]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--clr-reads", type=int, default=500)
    args = ap.parse_args()
    ref = S.plain_fasta("ecoli")
    seqs = S.load_reference(ref)
    _, k, w, hpc = T.apply_preset_str("map-ont")
    index = tessiqpy.Index.build(seqs, w=w, k=k, is_hpc=hpc)
    cpu = T.cpu_features()
    sources = [
        ("nanopore (qcat)", [(n.encode(), s) for n, s in S.real_nanopore_reads()]),
        ("pbsim CLR 88%", [(n.encode(), s) for n, s, _ in S.simulate_pbsim(ref, "CLR", args.clr_reads)]),
    ]
    for label, reads in sources:
        secs, n_anchors = T.seed_timings(index, reads, "map-ont", False)
        mbp = sum(len(s) for _, s in reads) / 1e6
        sets = [T.collect_seeds(index, s, None, "map-ont")[0] for _, s in reads]
        sets = [a for a in sets if len(a) >= 32]  # what the vector chainers serve
        total = sum(len(a) for a in sets)
        print(f"\n{label}: {len(reads)} reads, {mbp:.1f} Mbp; seeding {n_anchors / secs / 1e6:.2f} M anchors/s "
              f"({len(reads) / secs:.0f} reads/s, sketch included); chaining {len(sets)} sets of >= 32 "
              f"anchors, {total} anchors, mean {total / max(len(sets), 1):.0f} per set")
        print(f"  {'chainer':<8} {'M anchors/s':>12} {'x scalar':>9}")
        base = None
        for v in VARIANTS:
            if (v == "avx2" and not cpu["avx2"]) or (v == "avx512" and not cpu["avx512bw"]):
                continue
            seconds, _ = T.chain_timings(v, sets, {}, args.runs)
            rate = total / statistics.median(seconds)
            base = base or rate
            print(f"  {v:<8} {rate / 1e6:>12.2f} {rate / base:>9.2f}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Chain-level mapping throughput, one thread, against the E. coli index:
real nanopore reads (qcat-examples, map-ont) and simulated 150 bp reads
(art_illumina, sr). Reports reads/s and Mbp/s (medians of several runs) and
the time split between sketching, seed collection, chaining and the rest.

    bench/fetch_data.sh; python bench/bench_map.py [--runs 5]
"""

import argparse
import statistics
import time

import tessiqpy
import tessiqpy._testing as T

import simulate as S


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--short-reads", type=int, default=20000)
    args = ap.parse_args()
    ref = S.plain_fasta("ecoli")
    seqs = S.load_reference(ref)
    sets = [
        ("nanopore (qcat)", "map-ont", [(n.encode(), s) for n, s in S.real_nanopore_reads()]),
        ("art 150 bp", "sr", [(n.encode(), s) for n, s, _ in S.simulate_art(ref, args.short_reads)]),
    ]
    print(f"{'reads':<16} {'preset':<8} {'n':>6} {'Mbp':>6} {'reads/s':>9} {'Mbp/s':>7}   "
          f"{'sketch':>6} {'seeds':>6} {'chain':>6} {'rest':>6}")
    for label, preset, reads in sets:
        _, k, w, hpc = T.apply_preset_str(preset)
        index = tessiqpy.Index.build(seqs, w=w, k=k, is_hpc=hpc)
        mbp = sum(len(s) for _, s in reads) / 1e6
        walls, splits = [], []
        for _ in range(args.runs):
            t0 = time.perf_counter()
            _, times = T.map_reads(index, reads, preset)
            walls.append(time.perf_counter() - t0)
            splits.append(times)
        wall = statistics.median(walls)
        total = {k: statistics.median(s[k] for s in splits) for k in splits[0]}
        core = sum(total.values())
        share = {k: v / core for k, v in total.items()}
        print(f"{label:<16} {preset:<8} {len(reads):>6} {mbp:>6.1f} {len(reads) / wall:>9.0f} "
              f"{mbp / wall:>7.2f}   {share['sketch']:>6.1%} {share['seeds']:>6.1%} "
              f"{share['chain']:>6.1%} {share['rest']:>6.1%}")


if __name__ == "__main__":
    main()

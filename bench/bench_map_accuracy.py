#!/usr/bin/env python3
"""Chain-level mapping accuracy on reads with known origin.

Simulates reads with Debian's pbsim (CLR at 88 % accuracy, CCS) and
art_illumina (150 bp) from the E. coli genome and from four bacteria of
ragout-examples (about 13 Mb), maps them with the matching preset, and
reports the fraction of reads whose primary chain overlaps the true locus,
and the error rate among primaries with a high chain score. Real nanopore
reads (qcat-examples) are mapped with map-ont; without truth, only the
mapped fraction is shown.

    bench/fetch_data.sh && bench/fetch_index_data.sh
    apt-get install pbsim art-nextgen-simulation-tools
    python bench/bench_map_accuracy.py [--reads 1000]
"""

import argparse
import time

import tessiqpy
import tessiqpy._testing as T

import simulate as S

HIGH_SCORE = {"map-pb": 200, "map-hifi": 200, "sr": 60, "map-ont": 200}


def build_index(ref_seqs, preset):
    _, k, w, hpc = T.apply_preset_str(preset)
    return tessiqpy.Index.build(ref_seqs, w=w, k=k, is_hpc=hpc)


def evaluate(index, names, reads, preset):
    t0 = time.perf_counter()
    results, _ = T.map_reads(index, [(n.encode(), s) for n, s, _ in reads], preset)
    dt = time.perf_counter() - t0
    mapped = correct = high = high_wrong = 0
    for (name, seq, (tname, ts, te)), ms in zip(reads, results):
        if not ms:
            continue
        mapped += 1
        p = ms[0]  # best ranked: always a primary
        ok = names[p["target_id"]] == tname and p["target_start"] < te and ts < p["target_end"]
        correct += ok
        if p["score"] >= HIGH_SCORE[preset]:
            high += 1
            high_wrong += not ok
    n = len(reads)
    return dict(n=n, mapped=mapped / n, correct=correct / n, high=high,
                high_err=(high_wrong / high if high else 0.0), secs=dt)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--reads", type=int, default=1000)
    ap.add_argument("--genomes", nargs="*", default=["ecoli", "mix4"])
    args = ap.parse_args()
    rows = []
    for genome in args.genomes:
        ref = S.plain_fasta(genome)
        seqs = S.load_reference(ref)
        names = [n.decode() for n, _ in seqs]
        size = sum(len(s) for _, s in seqs) / 1e6
        sims = [
            ("pbsim CLR 88%", "map-pb", lambda: S.simulate_pbsim(ref, "CLR", args.reads)),
            ("pbsim CCS", "map-hifi", lambda: S.simulate_pbsim(ref, "CCS", args.reads)),
            ("art 150 bp", "sr", lambda: S.simulate_art(ref, args.reads)),
        ]
        indexes = {}
        for label, preset, sim in sims:
            reads = sim()
            if preset not in indexes:
                indexes[preset] = build_index(seqs, preset)
            r = evaluate(indexes[preset], names, reads, preset)
            rows.append((f"{genome} ({size:.1f} Mb)", label, preset, r))
    print(f"{'genome':<16} {'reads':<14} {'preset':<9} {'n':>6} {'mapped':>7} {'correct':>8} "
          f"{'high-score':>10} {'err(high)':>9} {'reads/s':>8}")
    for genome, label, preset, r in rows:
        print(f"{genome:<16} {label:<14} {preset:<9} {r['n']:>6} {r['mapped']:>7.2%} {r['correct']:>8.2%} "
              f"{r['high']:>10} {r['high_err']:>9.3%} {r['n'] / r['secs']:>8.0f}")
    if "ecoli" in args.genomes:
        seqs = S.load_reference(S.plain_fasta("ecoli"))
        index = build_index(seqs, "map-ont")
        reads = S.real_nanopore_reads()
        results, _ = T.map_reads(index, [(n.encode(), s) for n, s in reads], "map-ont")
        mapped = sum(1 for ms in results if ms)
        print(f"\nreal nanopore reads (qcat-examples), map-ont against E. coli: "
              f"{mapped}/{len(reads)} mapped ({mapped / len(reads):.1%})")


if __name__ == "__main__":
    main()

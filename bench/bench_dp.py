"""Cell updates per second (GCUPS) of every DP kernel variant, beside
parasail (pip install parasail) on the same sequences.

    python bench/bench_dp.py [--quick] [--reps N]

Sequences are synthetic: a random target and a copy with ~10% substitutions
and small indels, fixed seed. Score-only and traceback, extension and global
mode, lengths 1 kb and 10 kb, bands 100, 500 and unbanded (the splice kernel
is always unbanded). GCUPS counts the cells inside the band.
"""

import argparse
import random
import time

import tessiqpy._testing as T

SINGLE = ["extend_single_affine_scalar", "extend_single_affine_sse2",
          "extend_single_affine41_impl", "extend_single_affine_avx2_fn",
          "extend_single_affine_avx512_fn"]
DUAL = ["extend_dual_affine_scalar", "extend_dual_affine2_impl", "extend_dual_affine41_impl",
        "extend_dual_affine_avx2_fn", "extend_dual_affine_avx512_fn"]
SPLICE = ["extend_splice_scalar", "extend_splice_sse2", "extend_splice41_impl",
          "extend_splice_avx2_fn", "extend_splice_avx512_fn"]


def matrix(match=2, mismatch=4, amb=1):
    return [-amb if a == 4 or b == 4 else match if a == b else -mismatch
            for a in range(5) for b in range(5)]


def make_pair(n, seed=1):
    r = random.Random(seed)
    t = bytes(r.randrange(4) for _ in range(n))
    q = bytearray()
    for b in t:
        x = r.random()
        if x < 0.01:
            continue
        if x < 0.02:
            q.append(r.randrange(4))
        q.append(r.randrange(4) if x > 0.92 else b)
    return bytes(q[:n]), t


def band_cells(qlen, tlen, w):
    if w < 0:
        return qlen * tlen
    total = 0
    for r in range(qlen + tlen - 1):
        st = max(0, r - qlen + 1, (r - w + 1) >> 1)
        en = min(tlen - 1, r, (r + w) >> 1)
        if st > en:
            break
        total += en - st + 1
    return total


def timed(fn, reps):
    best = float("inf")
    for _ in range(reps):
        t0 = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - t0)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quick", action="store_true", help="10 kb unbanded only")
    ap.add_argument("--reps", type=int, default=3)
    args = ap.parse_args()
    mat = matrix()
    feats = T.cpu_features()
    rows = []
    lengths = [10000] if args.quick else [1000, 10000]
    bands = [-1] if args.quick else [100, 500, -1]
    for n in lengths:
        qs, ts = make_pair(n)
        for fam, names in (("single", SINGLE), ("dual", DUAL), ("splice", SPLICE)):
            for w in (bands if fam != "splice" else [-1]):
                cells = band_cells(len(qs), len(ts), w)
                for mode, mflags in (("ext", 0x40), ("glob", 0)):
                    for tb in ("score", "cigar"):
                        flags = mflags | (0x01 if tb == "score" else 0)
                        if fam != "single":
                            flags |= 0x08 if mode == "ext" else 0
                        times = {}
                        for name in names:
                            if "avx512" in name and not feats["avx512bw"]:
                                continue
                            f = getattr(T, name)
                            if fam == "single":
                                call = lambda: f(qs, ts, 5, mat, 4, 2, w, 400, 0, flags)  # noqa: E731
                            elif fam == "dual":
                                call = lambda: f(qs, ts, 5, mat, 4, 2, 24, 1, w, 400, 0, flags)  # noqa: E731
                            else:
                                call = lambda: f(qs, ts, 5, mat, 2, 1, 32, 9, 400, 0, 9, 5,  # noqa: E731
                                                 flags | 0x100)
                            reps = 1 if "scalar" in name and n >= 10000 else args.reps
                            times[name] = timed(call, reps)
                        rows.append((fam, n, w, mode, tb, cells, times))
                        base = times[names[0]]
                        line = " ".join(f"{cells / t / 1e9:7.3f}" for t in times.values())
                        ratios = " ".join(f"{base / t:5.1f}x" for t in list(times.values())[1:])
                        print(f"{fam:6} {n:6} {('none' if w < 0 else w):>5} {mode:4} {tb:5} | "
                              f"{line} | {ratios}", flush=True)
    try:
        import parasail
    except ImportError:
        print("parasail not installed: pip install parasail")
        return
    pm = parasail.matrix_create("ACGT", 2, -4)
    print("\nparasail (score only, open=q+e=6, extend=e=2):")
    for n in lengths:
        qs, ts = make_pair(n)
        qa, ta = ("".join("ACGT"[c] for c in s) for s in (qs, ts))
        for label, fns in (("global", ["nw_striped_16", "nw_scan_16", "nw_striped_32"]),
                           ("local", ["sw_striped_16", "sw_scan_16"])):
            best = min((timed(lambda: getattr(parasail, f)(qa, ta, 6, 2, pm), args.reps), f)
                       for f in fns)
            ours = [r for r in rows if r[0] == "single" and r[1] == n and r[2] == -1
                    and r[4] == "score" and r[3] == ("glob" if label == "global" else "ext")]
            msg = ""
            if ours:
                top = min(ours[0][6].values())
                msg = f"  tessiq best {n * n / top / 1e9:.3f} GCUPS, ratio {best[0] / top:.2f}x"
            print(f"{label:6} {n:6} {best[1]:14} {n * n / best[0] / 1e9:7.3f} GCUPS{msg}")


if __name__ == "__main__":
    main()

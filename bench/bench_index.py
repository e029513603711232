#!/usr/bin/env python3
"""Index build, save, load and lookup cost next to `bwa index` (Debian's bwa)
on the same input: the E. coli genome (bench/fetch_data.sh) and about 60 Mb
of bacterial genomes and assemblies (bench/fetch_index_data.sh).

Every measurement runs in a fresh process, so that peak RSS belongs to one
operation and the worker pool has the requested size (TESSIQ_THREADS).
Times are medians over --runs. Peak RSS of our build includes the genome
held as Python bytes (1 byte per base); "RAM/base" is the growth of the
resident set when an index file is loaded, divided by the number of bases
(the exact heap count of the index is shown next to it).
"""

import argparse
import gzip
import json
import os
import pathlib
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

DATA = pathlib.Path(__file__).resolve().parent / "data"


def read_fasta(path):
    seqs, name, cur = [], None, []
    with gzip.open(path, "rb") as fh:
        for line in fh:
            if line.startswith(b">"):
                if name is not None:
                    seqs.append((name, b"".join(cur)))
                name, cur = line[1:].split()[0] if line[1:].split() else b"", []
            else:
                cur.append(line.strip())
    if name is not None:
        seqs.append((name, b"".join(cur)))
    return seqs


def rss_kb():
    with open("/proc/self/status") as fh:
        for line in fh:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


# ---- worker side (one operation per process) ---------------------------------


def worker(args):
    from tessiqpy import Index
    import tessiqpy._testing as T

    res = {}
    if args.op == "build":
        seqs = read_fasta(args.genome)
        t0 = time.perf_counter()
        index = Index.build(seqs, w=10, k=15)
        res["time"] = time.perf_counter() - t0
        if args.out:
            t0 = time.perf_counter()
            index.save(args.out)
            res["save"] = time.perf_counter() - t0
    elif args.op == "load":
        before = rss_kb()
        t0 = time.perf_counter()
        index = Index.load(args.out)
        res["time"] = time.perf_counter() - t0
        res["rss_delta"] = (rss_kb() - before) * 1024
        del index
        data = pathlib.Path(args.out).read_bytes()
        res["heap"] = T.index_memory(data)
        # Lookups: hashes the genome holds (sketched from random windows) and
        # random 30-bit hashes (mostly absent).
        rng = random.Random(1)
        seqs = read_fasta(args.genome)
        present = []
        while len(present) < 200000:
            _, s = rng.choice(seqs)
            if len(s) < 2000:
                continue
            st = rng.randrange(len(s) - 1000)
            present += [x >> 8 for x, _ in T.sketch_minimizers(s[st:st + 1000], 10, 15)]
        rnd = [rng.getrandbits(30) for _ in range(200000)]
        res["lookup_present"] = statistics.median(T.lookup_ns(data, present, 5)[0] for _ in range(3))
        res["lookup_random"] = statistics.median(T.lookup_ns(data, rnd, 5)[0] for _ in range(3))
    res["peak_rss"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps(res))


# ---- driver side --------------------------------------------------------------


def run_child(cmd, env=None):
    """Runs cmd; returns (seconds, peak RSS bytes, stdout)."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    out = p.stdout.read()
    _, status, usage = os.wait4(p.pid, 0)
    secs = time.perf_counter() - t0
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise SystemExit(f"failed: {' '.join(map(str, cmd))}")
    return secs, usage.ru_maxrss * 1024, out


def ours(genome, threads, runs, tmp, save):
    env = dict(os.environ, TESSIQ_THREADS=str(threads))
    out = str(tmp / "ours.tmi")
    cmd = [sys.executable, __file__, "--worker", "build", "--genome", str(genome)]
    if save:
        cmd += ["--out", out]
    results = [json.loads(run_child(cmd, env)[2]) for _ in range(runs)]
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--genomes", nargs="*", default=[str(DATA / "ecoli.fa.gz"), str(DATA / "bacteria.fa.gz")])
    ap.add_argument("--worker", choices=["build", "load"], dest="op")
    ap.add_argument("--genome")
    ap.add_argument("--out")
    args = ap.parse_args()
    if args.op:
        return worker(args)

    bwa = shutil.which("bwa")
    rows = []
    for genome in map(pathlib.Path, args.genomes):
        if not genome.exists():
            print(f"skipping missing {genome}: run bench/fetch_data.sh and bench/fetch_index_data.sh")
            continue
        seqs = read_fasta(genome)
        bases, ntargets = sum(len(s) for _, s in seqs), len(seqs)
        del seqs
        with tempfile.TemporaryDirectory() as d:
            tmp = pathlib.Path(d)
            one = ours(genome, 1, args.runs, tmp, save=False)
            two = ours(genome, 2, args.runs, tmp, save=True)
            size = (tmp / "ours.tmi").stat().st_size
            loads = [json.loads(run_child([sys.executable, __file__, "--worker", "load", "--genome",
                                           str(genome), "--out", str(tmp / "ours.tmi")])[2])
                     for _ in range(args.runs)]
            bwa_t = bwa_rss = bwa_size = float("nan")
            if bwa:
                bwa_runs = [run_child([bwa, "index", "-p", str(tmp / "bwa"), str(genome)])
                            for _ in range(max(1, args.runs - 1))]
                bwa_t = statistics.median(r[0] for r in bwa_runs)
                bwa_rss = max(r[1] for r in bwa_runs)
                bwa_size = sum(f.stat().st_size for f in tmp.glob("bwa.*"))
        med = lambda rs, k: statistics.median(r[k] for r in rs)  # noqa: E731
        rows.append({
            "genome": genome.name, "Mb": bases / 1e6, "targets": ntargets,
            "build1": med(one, "time"), "build2": med(two, "time"),
            "rss": max(r["peak_rss"] for r in two), "size": size,
            "save": med(two, "save"), "load": med(loads, "time"),
            "ram_base": med(loads, "rss_delta") / bases, "heap_base": loads[0]["heap"] / bases,
            "ns_present": med(loads, "lookup_present"), "ns_random": med(loads, "lookup_random"),
            "bwa": bwa_t, "bwa_rss": bwa_rss, "bwa_size": bwa_size,
        })

    print(f"index build w=10 k=15, median of {args.runs} runs (bwa index: {max(1, args.runs - 1)})")
    hdr = (f"{'genome':<16}{'Mb':>6}{'build 1t':>10}{'build 2t':>10}{'bwa':>8}{'x1t':>6}{'x2t':>6}"
           f"{'RSS MB':>8}{'bwa RSS':>8}{'file MB':>8}{'bwa MB':>8}{'save s':>7}{'load s':>7}"
           f"{'RAM B/b':>8}{'heap B/b':>9}{'ns hit':>7}{'ns rnd':>7}")
    print(hdr)
    for r in rows:
        print(f"{r['genome']:<16}{r['Mb']:>6.1f}{r['build1']:>10.3f}{r['build2']:>10.3f}{r['bwa']:>8.2f}"
              f"{r['bwa'] / r['build1']:>6.1f}{r['bwa'] / r['build2']:>6.1f}"
              f"{r['rss'] / 2**20:>8.0f}{r['bwa_rss'] / 2**20:>8.0f}{r['size'] / 2**20:>8.1f}"
              f"{r['bwa_size'] / 2**20:>8.1f}{r['save']:>7.3f}{r['load']:>7.3f}"
              f"{r['ram_base']:>8.2f}{r['heap_base']:>9.2f}{r['ns_present']:>7.0f}{r['ns_random']:>7.0f}")


if __name__ == "__main__":
    main()

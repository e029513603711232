"""Sequence-file reading throughput: tessiqpy against other FASTA/FASTQ parsers.

Reads the same files with every tool in one run and prints, per file, the
median wall time, records per second, MB per second (of the uncompressed
text) and the throughput ratio to dnaio (higher is better). Every tool touches
each record's name and sequence, and the record and base counts must agree.

Inputs are built from the Debian example files that ``bench/fetch_data.sh``
puts in bench/data/ (run it first): nanopore reads from qcat-examples,
repeated to about 60 MB, short reads sampled from the E. coli genome of
bowtie-examples, and that genome itself, repeated. Peers that are not
installed are skipped.

    python bench/bench_fastx.py [--repeats 5] [--only nanopore.fastq.gz]
"""

from __future__ import annotations

import argparse
import gzip
import os
import random
import statistics
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE / "data"
WORK = DATA / "bench_fastx"


# ---- inputs -------------------------------------------------------------------


def _need(name: str) -> Path:
    path = DATA / name
    if not path.exists():
        sys.exit(f"missing {path}: run bench/fetch_data.sh first")
    return path


def _write_gz(plain: Path) -> Path:
    out = plain.with_name(plain.name + ".gz")
    if not out.exists():
        with open(plain, "rb") as src, gzip.open(out, "wb", compresslevel=6) as dst:
            dst.write(src.read())
    return out


def build_inputs() -> list[Path]:
    WORK.mkdir(parents=True, exist_ok=True)
    nano = WORK / "nanopore.fastq"
    if not nano.exists():
        text = b"".join(
            gzip.decompress(_need(n).read_bytes())
            for n in ("nobarcode_1k.fastq.gz", "barcode_1k.fastq.gz")
        )
        nano.write_bytes(text * 4)

    genome_text = gzip.decompress(_need("NC_008253.fna.gz").read_bytes())
    genome = b"".join(genome_text.split(b"\n")[1:])
    fasta = WORK / "ecoli_x4.fa"
    if not fasta.exists():
        with open(fasta, "wb") as out:
            for copy in range(4):
                out.write(b">ecoli_copy%d E. coli 536 complete genome\n" % copy)
                for i in range(0, len(genome), 70):
                    out.write(genome[i : i + 70] + b"\n")

    short = WORK / "short_150bp.fastq"
    if not short.exists():
        rng = random.Random(7)
        quals = bytes(range(33 + 10, 33 + 41))
        with open(short, "wb") as out:
            for i in range(250_000):
                pos = rng.randrange(len(genome) - 150)
                seq = genome[pos : pos + 150]
                qual = bytes(rng.choice(quals) for _ in range(8)) * 19
                out.write(b"@read%d pos=%d\n%s\n+\n%s\n" % (i, pos, seq, qual[:150]))
    return [_write_gz(nano), nano, _write_gz(short), short, fasta]


# ---- readers ---------------------------------------------------------------------
# Each returns (records, bases) and touches every record's name and sequence.


def tessiq_iter(path):
    import tessiqpy

    n = bases = 0
    for rec in tessiqpy.FastxReader(str(path)):
        rec.name
        bases += len(rec.sequence)
        n += 1
    return n, bases


def tessiq_batch(path):
    import tessiqpy

    reader = tessiqpy.FastxReader(str(path))
    n = bases = 0
    while True:
        batch, eof = reader.read_batch(1 << 20)
        for name, seq in batch:
            bases += len(seq)
        n += len(batch)
        if eof:
            return n, bases


def dnaio_iter(path):
    import dnaio

    n = bases = 0
    with dnaio.open(path) as reader:
        for rec in reader:
            rec.name
            bases += len(rec.sequence)
            n += 1
    return n, bases


def pyfastx_iter(path):
    import pyfastx

    is_fastq = ".fastq" in path.name
    parser = (pyfastx.Fastq if is_fastq else pyfastx.Fasta)(str(path), build_index=False)
    n = bases = 0
    for item in parser:
        bases += len(item[1])
        n += 1
    return n, bases


def needletail_iter(path):
    import needletail

    n = bases = 0
    for rec in needletail.parse_fastx_file(str(path)):
        rec.id
        bases += len(rec.seq)
        n += 1
    return n, bases


def pysam_iter(path):
    import pysam

    n = bases = 0
    with pysam.FastxFile(str(path)) as reader:
        for rec in reader:
            rec.name
            bases += len(rec.sequence)
            n += 1
    return n, bases


def biopython_iter(path):
    from Bio import SeqIO

    fmt = "fastq" if ".fastq" in path.name else "fasta"
    opener = gzip.open if path.suffix == ".gz" else open
    n = bases = 0
    with opener(path, "rt") as handle:
        for rec in SeqIO.parse(handle, fmt):
            rec.id
            bases += len(rec.seq)
            n += 1
    return n, bases


TOOLS = [
    ("tessiq FastxReader", "tessiqpy", tessiq_iter),
    ("tessiq read_batch", "tessiqpy", tessiq_batch),
    ("dnaio", "dnaio", dnaio_iter),
    ("pyfastx", "pyfastx", pyfastx_iter),
    ("needletail", "needletail", needletail_iter),
    ("pysam FastxFile", "pysam", pysam_iter),
    ("Biopython SeqIO", "Bio", biopython_iter),
]


def available(module: str) -> bool:
    try:
        __import__(module)
        return True
    except ImportError:
        return False


def text_size(path: Path) -> int:
    if path.suffix != ".gz":
        return path.stat().st_size
    return path.with_suffix("").stat().st_size  # built from the plain file


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeats", type=int, default=5, help="runs per tool and file (median)")
    ap.add_argument("--slow-budget", type=float, default=20.0,
                    help="seconds after which a slow tool gets fewer runs")
    ap.add_argument("--only", action="append", help="file name(s) to run")
    args = ap.parse_args()

    inputs = build_inputs()
    if args.only:
        inputs = [p for p in inputs if p.name in args.only]
    tools = [(name, fn) for name, mod, fn in TOOLS if available(mod)]
    skipped = [name for name, mod, _ in TOOLS if not available(mod)]
    if skipped:
        print("not installed, skipped:", ", ".join(skipped))
    try:
        from tessiqpy import _testing

        print("tessiq gzip inflater:", _testing.inflater_name())
    except ImportError:
        pass
    print(f"cpus: {os.cpu_count()}; median of up to {args.repeats} runs; "
          "MB/s counts the uncompressed text; 'vs dnaio' is the throughput ratio\n")

    for path in inputs:
        size = text_size(path)
        times: dict[str, list[float]] = {name: [] for name, _ in tools}
        counts: dict[str, tuple[int, int]] = {}
        spent: dict[str, float] = {name: 0.0 for name, _ in tools}
        for rep in range(args.repeats):
            for name, fn in tools:  # interleaved, so that noise hits all alike
                if rep > 0 and spent[name] > args.slow_budget:
                    continue
                t0 = time.perf_counter()
                counts[name] = fn(path)
                dt = time.perf_counter() - t0
                times[name].append(dt)
                spent[name] += dt
        print(f"{path.name}  ({size / 1e6:.1f} MB text, "
              f"{path.stat().st_size / 1e6:.1f} MB on disk)")
        print(f"  {'tool':<20} {'median s':>9} {'runs':>4} {'records/s':>12} {'MB/s':>9} "
              f"{'vs dnaio':>9}  records / bases")
        base = statistics.median(times["dnaio"]) if "dnaio" in times else None
        for name, _ in tools:
            med = statistics.median(times[name])
            n, bases = counts[name]
            ratio = f"{base / med:8.2f}x" if base else "     n/a"
            print(f"  {name:<20} {med:9.4f} {len(times[name]):4d} {n / med:12,.0f} "
                  f"{size / med / 1e6:9.1f} {ratio:>9}  {n} / {bases}")
        print()


if __name__ == "__main__":
    main()

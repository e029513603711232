"""Real files against independent parsers: nanopore reads (qcat-examples,
FASTQ.gz) and the E. coli genome (bowtie-examples, FASTA.gz). The files come
from bench/fetch_data.sh; the tests skip when they or the oracles are absent."""

from __future__ import annotations

import gzip
import random
import subprocess
import tempfile
import sys
from pathlib import Path

import pytest

from tessiqpy import FastaStreamer, FastqStreamer, FastxReader, read_fasta
from tessiqpy import _testing

DATA = Path(__file__).resolve().parents[1] / "bench" / "data"
FASTQ_FILES = ["nobarcode_1k.fastq.gz", "barcode_1k.fastq.gz", "nbd103.fastq.gz",
               "pbk004.fastq.gz", "rab204.fastq.gz", "rbk004.fastq.gz"]
GENOME = "NC_008253.fna.gz"
INFLATERS = ["zlib"] + (["isa-l"] if _testing.inflater_name() == "isa-l" else [])


def data_file(name: str) -> Path:
    path = DATA / name
    if not path.exists():
        pytest.skip(f"{path} missing: run bench/fetch_data.sh")
    return path


@pytest.fixture(params=INFLATERS)
def inflater(request):
    _testing.set_force_zlib(request.param == "zlib")
    yield request.param
    _testing.set_force_zlib(False)


def ours(path) -> list[tuple]:
    return [(r.name, r.description, r.sequence, r.quality) for r in FastxReader(str(path))]


def dnaio_records(path) -> list[tuple]:
    dnaio = pytest.importorskip("dnaio")
    out = []
    with dnaio.open(str(path)) as reader:
        for r in reader:
            desc = r.name[len(r.id) + 1 :] if len(r.name) > len(r.id) else None
            out.append((r.id, desc, r.sequence.encode(), r.qualities.encode()))
    return out


@pytest.mark.parametrize("name", FASTQ_FILES)
def test_nanopore_fastq_gz_matches_dnaio(name, inflater):
    path = data_file(name)
    expected = dnaio_records(path)
    assert len(expected) > 0
    assert ours(path) == expected


def test_nanopore_fastq_matches_biopython(tmp_path):
    SeqIO = pytest.importorskip("Bio.SeqIO")
    path = data_file("nobarcode_1k.fastq.gz")
    with gzip.open(path, "rt") as handle:
        expected = [(r.id, str(r.seq).encode(),
                     bytes(q + 33 for q in r.letter_annotations["phred_quality"]))
                    for r in SeqIO.parse(handle, "fastq")]
    # Plain text this time, and records cross many buffer refills.
    plain = tmp_path / "reads.fastq"
    plain.write_bytes(gzip.decompress(path.read_bytes()))
    assert [(n, s, q) for n, _, s, q in ours(plain)] == expected


def test_nanopore_fastq_through_standard_input():
    path = data_file("barcode_1k.fastq.gz")
    expected = dnaio_records(path)
    script = ("import tessiqpy\n"
              "for r in tessiqpy.FastxReader('-'): print(r.name, len(r.sequence))\n")
    proc = subprocess.run([sys.executable, "-c", script], cwd=tempfile.gettempdir(), input=gzip.decompress(path.read_bytes()),
                          capture_output=True, check=True)
    assert proc.stdout.decode().splitlines() == [f"{n} {len(s)}" for n, _, s, _ in expected]


def test_ecoli_fasta_gz_matches_biopython(inflater):
    SeqIO = pytest.importorskip("Bio.SeqIO")
    path = data_file(GENOME)
    with gzip.open(path, "rt") as handle:
        expected = [(r.id, r.description, str(r.seq).encode()) for r in SeqIO.parse(handle, "fasta")]
    got = ours(path)
    assert [(n, n + " " + d if d is not None else n, s) for n, d, s, q in got] == expected
    assert all(q is None for *_, q in got)
    assert read_fasta(path) == [(n, s.upper()) for n, _, s in expected]


def test_read_batch_matches_iteration():
    path = data_file("nobarcode_1k.fastq.gz")
    reader = FastxReader(str(path))
    got, eof = [], False
    while not eof:
        batch, eof = reader.read_batch(100_000)
        got += batch
    assert got == [(n, s) for n, _, s, _ in ours(path)]


@pytest.mark.parametrize("name", ["nobarcode_1k.fastq.gz", GENOME])
def test_streamers_on_real_files_with_random_chunks(name):
    path = data_file(name)
    text = gzip.decompress(path.read_bytes())
    fastq = name.endswith("fastq.gz")
    expected = [(n, s) for n, _, s, _ in ours(path)]
    rng = random.Random(name)
    for trial in range(3):
        streamer = FastqStreamer() if fastq else FastaStreamer()
        got = []
        pos = 0
        while pos < len(text):
            step = rng.choice([1, 2, 7, 100, 4096, 65536, 1 << 20])
            streamer.push(text[pos : pos + step])
            pos += step
            while (rec := streamer.next_record()) is not None:
                got.append(rec)
        streamer.finalize()
        while (rec := streamer.next_record()) is not None:
            got.append(rec)
        assert got == expected

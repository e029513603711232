"""FastaStreamer and FastqStreamer: chunk-fed parsing."""

from __future__ import annotations

import pathlib
import sys
import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tessiqpy import FastaStreamer, FastqStreamer

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from fastx_models import model_fasta_stream, model_fastq_stream  # noqa: E402

STREAMERS = {"fasta": (FastaStreamer, model_fasta_stream),
             "fastq": (FastqStreamer, model_fastq_stream)}


def drain(streamer) -> list:
    out = []
    while (rec := streamer.next_record()) is not None:
        out.append(rec)
    return out


def run(cls, chunks, rna_to_dna=True, finalize=True) -> list:
    s = cls(rna_to_dna)
    out = []
    for chunk in chunks:
        s.push(chunk)
        out += drain(s)
    if finalize:
        s.finalize()
        out += drain(s)
    return out


def cut(data: bytes, points) -> list[bytes]:
    points = sorted({p % (len(data) + 1) for p in points})
    bounds = [0] + points + [len(data)]
    return [data[a:b] for a, b in zip(bounds, bounds[1:])]


# ---- documented behaviour ----------------------------------------------------------


@pytest.mark.parametrize(
    "cls, data, rna, expected",
    [
        (FastaStreamer, b">a x\nAC\nGU\n>b\n", True, [("a", b"ACGT"), ("b", b"")]),
        (FastaStreamer, b">a x\nAC\nGU\n>b\n", False, [("a", b"ACGU"), ("b", b"")]),
        (FastaStreamer, b">a\nA C\tG\x0bT\x0c\n", True, [("a", b"ACG\x0bT")]),
        (FastaStreamer, b"junk\nACGT\n>a\nAC\n\n\r\nG", True, [("a", b"ACG")]),
        (FastaStreamer, b">a\tdesc\n>\n>\xffb c\n", True,
         [("a", b""), ("", b""), ("\ufffdb", b"")]),
        (FastqStreamer, b"@r1 desc\nACGT\n+\nII\nII\n", True, [("r1", b"ACGT")]),
        (FastqStreamer, b"@r1\nACGU\n+\nIIIIII\n@r2\nG\n+\nI\n", True,
         [("r1", b"ACGT"), ("r2", b"G")]),
        (FastqStreamer, b"@e\n\n+\n\n@r\nA\n+\nI\n", True, [("e", b""), ("r", b"A")]),
        (FastqStreamer, b"@r\nAC\n+\n", True, [("r", b"AC")]),  # flushed by finalize
        (FastqStreamer, b"@r\nAC\n+\nI", True, [("r", b"AC")]),
        (FastqStreamer, b"@r\n", True, []),
        (FastqStreamer, b"junk\n\n@r\nA C\n+\nII\n", True, [("r", b"AC")]),
    ],
)
def test_streamer_records(cls, data, rna, expected):
    assert run(cls, [data], rna) == expected
    assert run(cls, [data[i : i + 1] for i in range(len(data))], rna) == expected


def test_fasta_record_waits_for_next_header():
    s = FastaStreamer()
    assert s.next_record() is None
    s.push(b">a\nACGT\n")
    assert s.next_record() is None
    s.push(b">b")
    assert s.next_record() is None  # the header line is not complete yet
    s.push(b" desc\n")
    assert s.next_record() == ("a", b"ACGT")
    assert s.next_record() is None and s.next_record() is None
    s.finalize()
    assert drain(s) == [("b", b"")]


def test_fastq_record_completes_with_its_quality():
    s = FastqStreamer()
    s.push(b"@r1 desc\nACGT\n+\nII\n")
    assert s.next_record() is None  # two of four quality bytes
    s.push(b"II\n")
    assert s.next_record() == ("r1", b"ACGT")
    s.push(b"@r2\nAC\n+\n")
    assert s.next_record() is None  # nothing before finalize
    s.finalize()
    assert s.next_record() == ("r2", b"AC")


def test_cr_split_from_its_lf():
    for cls, data in [(FastaStreamer, [b">a\nAC\r", b"\nGT\r", b"\n"]),
                      (FastqStreamer, [b"@a\r", b"\nACGT\r", b"\n+\r", b"\nIIII\r", b"\n"])]:
        assert run(cls, data) == [("a", b"ACGT")]


def test_push_after_finalize_continues():
    s = FastaStreamer()
    s.push(b">a\nAC\n")
    s.finalize()
    s.push(b"GG\n>b\nT")
    s.finalize()
    assert drain(s) == [("a", b"AC"), ("b", b"T")]


@pytest.mark.parametrize("cls", [FastaStreamer, FastqStreamer])
def test_argument_types(cls):
    with pytest.raises(TypeError):
        cls(1)
    with pytest.raises(TypeError):
        cls(rna_to_dna=None)
    s = cls()
    for bad in ("ACGT", bytearray(b"AC"), memoryview(b"AC"), None, 5):
        with pytest.raises(TypeError):
            s.push(bad)
    with pytest.raises(TypeError):
        s.push()
    assert cls(rna_to_dna=False) is not None


def test_streamers_usable_from_any_thread():
    s = FastqStreamer()
    t = threading.Thread(target=lambda: s.push(b"@r\nA\n+\nI\n"))
    t.start()
    t.join()
    assert s.next_record() == ("r", b"A")


def test_docs():
    assert FastaStreamer.__text_signature__ == "(rna_to_dna=True)"
    assert FastqStreamer.__doc__.startswith("Streaming FASTQ parser.")
    assert "Feed a chunk of bytes." in FastaStreamer.push.__doc__


# ---- properties -----------------------------------------------------------------------

pieces = st.sampled_from([b">", b"@", b"+", b"\n", b"\r", b"\r\n", b" ", b"\t", b"\x0b",
                          b"\x0c", b"A", b"CGT", b"u", b"U", b"I", b"n1", b"\xe9", b"\xc3\xa9"])
text = st.lists(pieces, max_size=80).map(b"".join)


@pytest.mark.parametrize("kind", list(STREAMERS))
@given(data=text, points=st.lists(st.integers(min_value=0), max_size=12), rna=st.booleans())
@settings(max_examples=300, deadline=None)
def test_any_chunking_matches_the_model(kind, data, points, rna):
    cls, model = STREAMERS[kind]
    expected = model(data, rna)
    assert run(cls, [data], rna) == expected
    assert run(cls, cut(data, points), rna) == expected


fastq_records = st.lists(
    st.tuples(st.text("abcXYZ_0123é", min_size=1, max_size=8),
              st.binary(max_size=30).map(lambda b: bytes(65 + x % 26 for x in b)),
              st.sampled_from([b"\n", b"\r\n"])),
    max_size=15,
)


@given(recs=fastq_records, points=st.lists(st.integers(min_value=0), max_size=20))
@settings(max_examples=200, deadline=None)
def test_well_formed_input_round_trips(recs, points):
    fq = b"".join(b"@%s x\n%s%s+\n%s%s" % (n.encode(), s, e, b"I" * len(s), e)
                  for n, s, e in recs)
    fa = b"".join(b">%s x%s%s%s" % (n.encode(), e, s, e) for n, s, e in recs)
    expected = [(n, s.replace(b"U", b"T")) for n, s, _ in recs]
    assert run(FastqStreamer, cut(fq, points)) == expected
    assert run(FastaStreamer, cut(fa, points)) == expected

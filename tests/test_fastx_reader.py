"""FastxReader, read_fasta, parse_fasta_bytes and Record."""

from __future__ import annotations

import gzip
import os
import pathlib
import subprocess
import tempfile
import sys
import threading
import zlib

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import tessiqpy
from tessiqpy import FastxReader, Record, parse_fasta_bytes, read_fasta
from tessiqpy import _testing

sys.path.insert(0, str(pathlib.Path(__file__).parent))
from fastx_models import UnknownFormat, model_parse_fasta_bytes, model_reader  # noqa: E402

UNKNOWN = "Unknown file format or empty file"
INFLATERS = ["zlib"] + (["isa-l"] if _testing.inflater_name() == "isa-l" else [])


@pytest.fixture(params=INFLATERS)
def inflater(request):
    """Runs a test once per gzip inflater built in (zlib is always there)."""
    _testing.set_force_zlib(request.param == "zlib")
    assert _testing.inflater_name() == request.param
    yield request.param
    _testing.set_force_zlib(False)


def write(tmp_path, name, data: bytes) -> str:
    path = tmp_path / name
    path.write_bytes(data)
    return str(path)


def records(path) -> list[tuple]:
    return [(r.name, r.description, r.sequence, r.quality) for r in FastxReader(path)]


# ---- parsing ----------------------------------------------------------------------

PARSE_CASES = [
    pytest.param(
        b">a desc words\nACGT\nacgt\n>b\nGG\n",
        [("a", "desc words", b"ACGTacgt", None), ("b", None, b"GG", None)],
        id="fasta-multiline",
    ),
    pytest.param(
        b">a  two spaces\r\nAC\r\n\r\nGT\r\n>b\r\nTT",
        [("a", " two spaces", b"ACGT", None), ("b", None, b"TT", None)],
        id="fasta-crlf-and-empty-lines",
    ),
    pytest.param(b">a\nacgU\nUU\n", [("a", None, b"acgTTT", None)], id="fasta-rna-to-dna"),
    pytest.param(b">a\nAC\r", [("a", None, b"AC\r", None)], id="fasta-lone-cr-at-end-stays"),
    pytest.param(b">a\n>b\n", [("a", None, b"", None), ("b", None, b"", None)], id="fasta-empty"),
    pytest.param(
        b">a\tx\n>b\xc2\xa0nbsp\n>c\xe3\x80\x80ideo\n",
        [("a", "x", b"", None), ("b", "nbsp", b"", None), ("c", "ideo", b"", None)],
        id="fasta-unicode-whitespace",
    ),
    pytest.param(
        b">bad\xffname x\xfey\n",
        [("bad\ufffdname", "x\ufffdy", b"", None)],
        id="header-invalid-utf8",
    ),
    pytest.param(
        b"@r1 d\nACGU\n+\nIIII\n@r2\nGG\n+r2\n!!\n",
        [("r1", "d", b"ACGT", b"IIII"), ("r2", None, b"GG", b"!!")],
        id="fastq",
    ),
    pytest.param(
        b"@r1\r\nAC\r\n+\r\nII\r\n", [("r1", None, b"AC", b"II")], id="fastq-crlf"
    ),
    pytest.param(
        b"@r1\nAC\n+\nII\njunk\n\n@r2\nG\n+\nI", [("r1", None, b"AC", b"II"),
                                                    ("r2", None, b"G", b"I")],
        id="fastq-junk-between-records",
    ),
    pytest.param(b"@r1\nAC\n+\nII\n@r2\nGG\n", [("r1", None, b"AC", b"II")],
                 id="fastq-truncated-after-sequence"),
    pytest.param(b"@r1\nAC\n+\n", [], id="fastq-missing-quality"),
    pytest.param(b"@r1\nAC\n+\nIIIIII\n", [("r1", None, b"AC", b"IIIIII")],
                 id="fastq-quality-length-not-checked"),
]


@pytest.mark.parametrize("data, expected", PARSE_CASES)
def test_records(tmp_path, data, expected):
    assert records(write(tmp_path, "in.txt", data)) == expected


def test_format_comes_from_first_byte_not_name(tmp_path):
    path = write(tmp_path, "reads.fa", b"@r\nAC\n+\nII\n")
    assert records(path) == [("r", None, b"AC", b"II")]


def test_records_longer_than_the_input_buffer(tmp_path):
    # Records spanning and exceeding the reader's buffer must come out whole.
    big = b"ACGT" * 100_000
    data = b"@big\n" + big + b"\n+\n" + b"I" * len(big) + b"\n@small\nA\n+\nI\n"
    data += b">x\n"  # not a header in FASTQ: skipped
    out = records(write(tmp_path, "big.fq", data * 3))
    assert [(r[0], len(r[2]), len(r[3])) for r in out] == [
        ("big", len(big), len(big)), ("small", 1, 1)] * 3
    fasta = b">g\n" + b"\n".join([b"ACGTAC" * 10] * 20_000) + b"\n>h\nA\n"
    out = records(write(tmp_path, "big.fa", fasta))
    assert [(r[0], len(r[2])) for r in out] == [("g", 60 * 20_000), ("h", 1)]


fastx_text = st.lists(
    st.sampled_from([b">", b"@", b"+", b"\n", b"\r\n", b"\r", b" ", b"\t", b"ACGT", b"u",
                     b"\xc2\xa0", b"\xff", b"name", b"I"]),
    max_size=60,
).map(b"".join)


@given(data=fastx_text)
@settings(max_examples=300, deadline=None)
def test_reader_matches_model(tmp_path_factory, data):
    path = write(tmp_path_factory.mktemp("m"), "in", data)
    try:
        expected = model_reader(data)
    except UnknownFormat:
        if data:
            with pytest.raises(ValueError, match=UNKNOWN):
                records(path)
        else:
            assert records(path) == []
        return
    assert records(path) == expected
    # read_batch gives the same sequences, whatever the limit.
    reader = FastxReader(path)
    got, eof = [], False
    while not eof:
        batch, eof = reader.read_batch(7)
        got += batch
    assert got == [(r[0], r[2]) for r in expected]


# ---- errors -----------------------------------------------------------------------------


def test_empty_file(tmp_path):
    path = write(tmp_path, "empty.fa", b"")
    assert list(FastxReader(path)) == []
    with pytest.raises(ValueError, match=f"^{UNKNOWN}$"):
        FastxReader(path).read_batch(100)


@pytest.mark.parametrize("data", [b"hello\n", b"\n>a\nAC\n", b"\xef\xbb\xbf>a\n"])
def test_unknown_format_raises_on_iteration(tmp_path, data):
    reader = FastxReader(write(tmp_path, "x.txt", data))
    for _ in range(2):  # and keeps raising
        with pytest.raises(ValueError, match=f"^{UNKNOWN}$"):
            next(reader)


def test_open_failures(tmp_path):
    missing = tmp_path / "missing.fa"
    with pytest.raises(OSError, match="^Failed to open FASTA/FASTQ '" + str(missing) + "': "):
        FastxReader(str(missing))
    with pytest.raises(OSError, match="^Failed to open FASTA/FASTQ '"):
        FastxReader(str(tmp_path))  # a directory
    with pytest.raises(OSError):
        read_fasta(str(missing))


@pytest.mark.parametrize(
    "call",
    [
        lambda: FastxReader(123),
        lambda: FastxReader(b"/tmp/x.fa"),
        lambda: read_fasta(None),
        lambda: parse_fasta_bytes("ACGT"),
        lambda: parse_fasta_bytes(bytearray(b">a\n")),
        lambda: Record(b"name", None, b"AC"),
        lambda: Record("n", b"desc", b"AC"),
        lambda: Record("n", None, "ACGT"),
        lambda: Record("n", None, [65, "C"]),
        lambda: Record("n", None, b"AC", "II"),
        lambda: Record("n", None),
    ],
)
def test_wrong_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


def test_read_batch_argument(tmp_path):
    reader = FastxReader(write(tmp_path, "a.fa", b">a\nAC\n"))
    with pytest.raises(TypeError):
        reader.read_batch("10")
    with pytest.raises(OverflowError):
        reader.read_batch(-1)
    with pytest.raises(TypeError):
        reader.read_batch()


def test_pathlike_path(tmp_path):
    path = tmp_path / "a.fa"
    path.write_bytes(b">a\nAC\n")
    assert [r.name for r in FastxReader(path)] == ["a"]
    assert read_fasta(path) == [("a", b"AC")]


# ---- gzip ------------------------------------------------------------------------------

FASTQ = b"".join(b"@r%d x\nACGT%s\n+\n%s\n" % (i, b"A" * i, b"I" * (4 + i)) for i in range(200))


def expected_fastq():
    return [(f"r{i}", "x", b"ACGT" + b"A" * i, b"I" * (4 + i)) for i in range(200)]


def test_gzip_members_and_padding(tmp_path, inflater):
    half = len(FASTQ) // 2
    two = gzip.compress(FASTQ[:half]) + gzip.compress(FASTQ[half:])
    assert records(write(tmp_path, "two.fq.gz", two)) == expected_fastq()
    # Many members, one of them empty, and zero padding after the last.
    pieces = [gzip.compress(FASTQ[i : i + 997]) for i in range(0, len(FASTQ), 997)]
    many = gzip.compress(b"") + b"".join(pieces) + b"\0" * 10
    assert records(write(tmp_path, "many.fq.gz", many)) == expected_fastq()
    assert records(write(tmp_path, "empty.fq.gz", gzip.compress(b""))) == []


def test_gzip_detection_and_warnings(tmp_path, capfd, inflater):
    path = write(tmp_path, "reads.fq", gzip.compress(FASTQ))
    assert records(path) == expected_fastq()
    err = capfd.readouterr().err
    assert err == f"[WARN] '{path}' is gzipped but lacks a .gz extension; decompressing.\n"

    path = write(tmp_path, "plain.fq.gz", FASTQ)
    assert records(path) == expected_fastq()
    err = capfd.readouterr().err
    assert err == (f"[WARN] '{path}' has a .gz extension but is not gzipped; "
                   "reading as plain text.\n")

    records(write(tmp_path, "ok.fq.gz", gzip.compress(FASTQ)))
    records(write(tmp_path, "ok.fq", FASTQ))
    assert capfd.readouterr().err == ""


def corruptions():
    good = gzip.compress(FASTQ, compresslevel=1)
    body = bytearray(good)
    body[len(body) // 2] ^= 0xFF  # deflate data or, at worst, the CRC check
    crc = bytearray(good)
    crc[-6] ^= 0x01  # stored CRC32
    return {
        "truncated": good[: len(good) // 2],
        "truncated-trailer": good[:-3],
        "flipped-byte": bytes(body),
        "bad-crc": bytes(crc),
        "trailing-garbage": good + b"garbage",
        "bad-second-member": good + b"\x1f\x8b\x08\x00" + b"\xff" * 40,
    }


@pytest.mark.parametrize("kind", list(corruptions()))
def test_corrupt_gzip_raises_oserror(tmp_path, inflater, kind):
    path = write(tmp_path, "bad.fq.gz", corruptions()[kind])
    got = []
    with pytest.raises(OSError, match="^IO error: "):
        for rec in FastxReader(path):
            got.append(rec.name)
    # Records before the damage are delivered. (A flipped bit may decode to
    # wrong bytes before the checksum at the member's end catches it.)
    if kind != "flipped-byte":
        assert got == [f"r{i}" for i in range(len(got))]
    with pytest.raises(ValueError, match="^IO error: "):
        reader = FastxReader(path)
        while not reader.read_batch(1000)[1]:
            pass


def test_read_fasta_and_gunzip(tmp_path, inflater):
    fasta = b">chr1 first\nacgu\nNN\n>chr2\r\nTT\r\n"
    expected = [("chr1", b"ACGUNN"), ("chr2", b"TT")]
    assert read_fasta(write(tmp_path, "g.fa", fasta)) == expected
    assert read_fasta(write(tmp_path, "g.fa.gz", gzip.compress(fasta) * 2)) == expected * 2
    with pytest.raises(OSError, match="^IO error: "):
        read_fasta(write(tmp_path, "bad.fa.gz", gzip.compress(fasta)[:-5]))
    data = os.urandom(100_000)
    assert _testing.gunzip(gzip.compress(data) + zlib.compress(b"")[:0]) == data


# ---- standard input -------------------------------------------------------------------

STDIN_SCRIPT = """
import sys, tessiqpy
for r in tessiqpy.FastxReader("-"):
    print(r.name, len(r.sequence), r.quality is None)
"""


@pytest.mark.parametrize(
    "data, expected",
    [
        (FASTQ * 50, "".join(f"r{i} {4 + i} False\n" for i in range(200)) * 50),
        (b">a\nAC\nGT\n>b\n", "a 4 True\nb 0 True\n"),
        (b"", ""),
    ],
    ids=["fastq-many-reads", "fasta", "empty"],  # short ids: pytest puts them in the environment
)
def test_standard_input(data, expected):
    # A pipe hands data over in pieces: records cross the read boundaries.
    proc = subprocess.run([sys.executable, "-c", STDIN_SCRIPT], cwd=tempfile.gettempdir(), input=data,
                          capture_output=True, check=True)
    assert proc.stdout.decode() == expected
    assert proc.stderr == b""


def test_standard_input_is_not_decompressed():
    proc = subprocess.run([sys.executable, "-c", STDIN_SCRIPT], cwd=tempfile.gettempdir(), input=gzip.compress(FASTQ),
                          capture_output=True)
    assert proc.returncode != 0 and UNKNOWN.encode() in proc.stderr


# ---- read_batch ------------------------------------------------------------------------


def test_read_batch_limits(tmp_path):
    path = write(tmp_path, "a.fa", b">a\nACGT\n>b\nACGT\n>c\nACGT\n>d\nACGT\n")
    reader = FastxReader(path)
    assert reader.read_batch(10) == ([("a", b"ACGT"), ("b", b"ACGT"), ("c", b"ACGT")], False)
    assert reader.read_batch(10) == ([("d", b"ACGT")], True)
    assert reader.read_batch(10) == ([], True)

    reader = FastxReader(path)
    batches = [reader.read_batch(0) for _ in range(5)]
    assert [len(b[0]) for b in batches] == [1, 1, 1, 1, 0]
    assert [b[1] for b in batches] == [False, False, False, False, True]

    # Stopped by the limit exactly at the end: not yet known to be the end.
    assert FastxReader(path).read_batch(15) == (
        [("a", b"ACGT"), ("b", b"ACGT"), ("c", b"ACGT"), ("d", b"ACGT")], False)
    assert FastxReader(path).read_batch(16)[1] is True


def test_iteration_and_batches_mix(tmp_path):
    reader = FastxReader(write(tmp_path, "a.fq", FASTQ))
    assert iter(reader) is reader
    first = next(reader)
    batch, eof = reader.read_batch(10)
    rest = [r.name for r in reader]
    assert [first.name] + [n for n, _ in batch] + rest == [f"r{i}" for i in range(200)]


# ---- parse_fasta_bytes ----------------------------------------------------------------


@pytest.mark.parametrize(
    "data, expected",
    [
        (b"junk\n>a b\nac\n\n>\nGG\n>c", [("a", b"AC"), ("c", b"")]),
        (b">x desc\r\nacgu\r\nNn\r\n>y\r\nA\r\n", [("x", b"ACGUNN"), ("y", b"A")]),
        (b">x\ty z\nA\n> y\nC\n>\tz\nG\n", [("x", b"A")]),
        (b"no header at all\n", []),
        (b"", []),
        (b">\xffname\nA\n", [("\ufffdname", b"A")]),
        (b">a\nA C\xe9\n", [("a", b"A C\xe9")]),
    ],
)
def test_parse_fasta_bytes(data, expected):
    assert parse_fasta_bytes(data) == expected


@given(data=fastx_text)
@settings(max_examples=200, deadline=None)
def test_parse_fasta_bytes_matches_model(data):
    assert parse_fasta_bytes(data) == model_parse_fasta_bytes(data)


# ---- Record and the class frame ------------------------------------------------------


def test_record_construction():
    rec = Record("read1", None, b"ACGT")
    assert (rec.name, rec.description, rec.sequence, rec.quality) == ("read1", None, b"ACGT", None)
    assert repr(rec) == "<Record: read1>"
    rec = Record(name="r", description="d e", sequence=[65, 67], quality=bytearray(b"II"))
    assert (rec.description, rec.sequence, rec.quality) == ("d e", b"AC", b"II")
    with pytest.raises(OverflowError):
        Record("r", None, [256])
    with pytest.raises(AttributeError):
        rec.name = "x"


def test_records_outlive_reader_and_later_records(tmp_path):
    # Records copy their bytes and make field objects only when first read,
    # and freed records are reused: fields read late must be the record's own,
    # never those of a later or an earlier record.
    long = b"ACGT" * 20_000  # more than a reused record keeps
    cases = [
        (b"@r1 d1\nACGT\n+\nIIII\n@r2\nGG\n+\n#\n", "a.fq",
         [("r1", "d1", b"ACGT", b"IIII"), ("r2", None, b"GG", b"#")]),
        (b">f1 x\xff y\nAC\nGU\n>f2\n\n>f3 \n" + long + b"\n>f4\nT", "a.fa",
         [("f1", "x\ufffd y", b"ACGT", None), ("f2", None, b"", None), ("f3", "", long, None),
          ("f4", None, b"T", None)]),
    ]
    kept = []
    for data, name, _ in cases:
        kept += list(FastxReader(write(tmp_path, name, data)))  # reader dropped here
        for _ in FastxReader(write(tmp_path, "again-" + name, data)):  # reuses freed records
            pass
    expected = [rec for _, _, recs in cases for rec in recs]
    assert [(r.name, r.description, r.sequence, r.quality) for r in kept] == expected
    assert [repr(r) for r in kept] == [f"<Record: {e[0]}>" for e in expected]
    for r in kept:  # read once, then the same object
        assert r.sequence is r.sequence and r.name is r.name


def test_record_subclass_and_reinit():
    class Named(Record):
        pass

    rec = Named("r", None, b"AC")
    assert (type(rec), rec.name, rec.sequence, repr(rec)) == (Named, "r", b"AC", "<Record: r>")
    with pytest.raises(TypeError):
        rec.__init__("s", None, b"GG")  # a record never changes
    assert rec.name == "r"


def test_module_members_and_docs():
    names = tessiqpy._tessiqpy.__all__
    fasta = ["Record", "FastxReader", "FastaStreamer", "FastqStreamer", "read_fasta",
             "parse_fasta_bytes"]
    start = names.index("Record")
    assert names[start : start + 6] == fasta
    for cls in (Record, FastxReader, tessiqpy.FastaStreamer, tessiqpy.FastqStreamer):
        assert cls.__module__ == "tessiqpy._tessiqpy"
    assert FastxReader.__text_signature__ == "(path)"
    assert Record.__text_signature__ == "(name, description, sequence, quality=None)"
    assert FastxReader.__doc__.startswith("A reader for parsing FASTA/FASTQ files.")
    assert "Return the next sequence record." in FastxReader.__next__.__doc__


def test_reader_is_bound_to_its_thread(tmp_path):
    reader = FastxReader(write(tmp_path, "a.fa", b">a\nAC\n>b\nGG\n"))
    caught = []

    def use():
        for call in (lambda: next(reader), lambda: reader.read_batch(1), lambda: iter(reader)):
            try:
                call()
            except BaseException as e:  # noqa: BLE001 - the fatal error is a BaseException
                caught.append(e)

    t = threading.Thread(target=use)
    t.start()
    t.join()
    assert len(caught) == 3
    for e in caught:
        assert isinstance(e, tessiqpy.FatalError) and not isinstance(e, Exception)
        assert str(e).endswith(" is unsendable, but sent to another thread")
    assert [r.name for r in reader] == ["a", "b"]  # still fine on its own thread


def test_trim_newline():
    for line, n in [(b"", 0), (b"\n", 0), (b"\r\n", 0), (b"ab\r\n", 2), (b"ab\n", 2),
                    (b"ab\r", 3), (b"ab", 2), (b"a\n\n", 2), (b"\r\r\n", 1)]:
        assert _testing.trim_newline(line) == n, line


@given(st.binary(max_size=40))
@settings(max_examples=300, deadline=None)
def test_utf8_lossy_matches_python(data):
    assert _testing.utf8_lossy(data) == data.decode("utf-8", "replace")


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_uninitialized_instances_are_refused():
    # Instances made by __new__ alone must raise, never touch missing state.
    reader = FastxReader.__new__(FastxReader)
    rec = Record.__new__(Record)
    calls = [lambda: next(reader), lambda: reader.read_batch(1),
             lambda: rec.name, lambda: rec.description, lambda: rec.sequence,
             lambda: rec.quality, lambda: repr(rec)]
    for call in calls:
        with pytest.raises(TypeError):
            call()

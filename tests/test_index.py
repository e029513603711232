"""Reference index: build against a plain model, packed bases, the seed table,
the own file format, foreign index files, and the Python Index class."""

import os
import pathlib
import random
import re
import struct

import pytest

import tessiqpy
import tessiqpy._testing as T
from tessiqpy import Index

import index_model as M

U64 = (1 << 64) - 1


def random_seq(rng, n, alphabet=b"ACGT"):
    out = bytearray()
    while len(out) < n:
        c = rng.choice(alphabet)
        out += bytes([c]) * (rng.randint(2, 9) if rng.random() < 0.1 else 1)
    return bytes(out[:n])


def repeats_genome(rng):
    """Targets sharing sequence, so hashes occur many times over targets and strands."""
    unit = random_seq(rng, 60)
    rc = unit[::-1].translate(bytes.maketrans(b"ACGT", b"TGCA"))
    return [
        (b"chr1", random_seq(rng, 300) + unit * 3 + random_seq(rng, 100)),
        (b"chr2", rc + random_seq(rng, 50, b"ACGTN") + unit),
        (b"empty", b""),
        (b"t\xff", random_seq(rng, 200, b"ACGTacgtNRY")),
    ]


def fields_of(index, tmp_path):
    path = tmp_path / "i.tmi"
    index.save(path)
    return T.index_fields(path.read_bytes())


# ---- build against the model ---------------------------------------------------

BUILD_CASES = [
    # w, k, is_hpc, max_occ
    (10, 15, False, 50000),
    (5, 11, True, 50000),
    (1, 5, False, 3),
    (3, 2, False, 50000),
    (4, 9, True, 2),
]


@pytest.mark.parametrize("w,k,hpc,max_occ", BUILD_CASES)
@pytest.mark.parametrize("seed", range(3))
def test_build_matches_model(w, k, hpc, max_occ, seed):
    rng = random.Random(seed * 100 + w)
    seqs = repeats_genome(rng)
    expected = M.build(seqs, w, k, hpc, max_occ)
    got = T.index_fields(T.index_build(seqs, w, k, hpc, max_occ))
    got.pop("consumed")
    assert got == expected


def test_build_through_python_class_matches_model(tmp_path):
    seqs = repeats_genome(random.Random(7))
    got = fields_of(Index.build(seqs, w=7, k=13, max_occ=4), tmp_path)
    got.pop("consumed")
    assert got == M.build(seqs, 7, 13, False, 4)


def test_max_occ_boundary():
    # 40 copies of one 12-mer unit: its minimizers occur 40 times (or more).
    rng = random.Random(3)
    seqs = [(b"r", random_seq(rng, 12) * 40)]
    full = T.index_fields(T.index_build(seqs, 5, 9, False, U64))
    counts = sorted(T.occurrence_counts(T.index_build(seqs, 5, 9, False, U64)))
    top = counts[-1]
    b = full["bucket_bits"]
    hot = [(i, k) for i, bucket in enumerate(full["buckets"]) for k, v in bucket.items()
           if v & 0xFFFFFFFF == top]
    i, key = hot[0]
    h = (key << b) | i
    assert len(T.lookup(T.index_build(seqs, 5, 9, False, top), h)) == top
    assert T.lookup(T.index_build(seqs, 5, 9, False, top - 1), h) == []


@pytest.mark.parametrize("k,bits", [(1, 2), (2, 4), (5, 10), (15, 10), (28, 10)])
def test_bucket_bits(k, bits):
    f = T.index_fields(T.index_build([(b"a", b"ACGTTGCAAC" * 5)], 3, k))
    assert f["bucket_bits"] == bits and len(f["buckets"]) == 1 << bits


def test_hpc_ignores_case():
    rng = random.Random(5)
    s = random_seq(rng, 500)
    upper = T.index_fields(T.index_build([(b"a", s)], 5, 11, True))
    lower = T.index_fields(T.index_build([(b"a", s.lower())], 5, 11, True))
    assert upper == lower


def test_lookup_returns_sorted_occurrences():
    f = M.build(repeats_genome(random.Random(11)), 5, 9, False, 50000)
    data = T.index_build(repeats_genome(random.Random(11)), 5, 9, False, 50000)
    b = f["bucket_bits"]
    hashes = [(key << b) | i for i, bucket in enumerate(f["buckets"]) for key in bucket]
    for h in hashes[:300]:
        occ = T.lookup(data, h)
        assert occ == M.occurrences(f, h) and occ == sorted(occ)
    assert T.lookup(data, (1 << 50) + 12345) == []


def test_build_refuses_bad_parameters_with_fatal_error():
    with pytest.raises(tessiqpy.FatalError):
        Index.build([(b"a", b""), (b"b", b"ACGT" * 10)], w=0)
    with pytest.raises(tessiqpy.FatalError):
        Index.build([(b"a", b"ACGT" * 10)], k=29)
    # Nothing is sketched: no error.
    assert Index.build([(b"a", b"")], w=0).window_size == 0


def test_build_argument_types():
    with pytest.raises(TypeError):
        Index.build("ACGT")
    with pytest.raises(TypeError):
        Index.build([(b"a", "ACGT")])
    with pytest.raises(ValueError, match="expected tuple of length 2, but got tuple of length 3"):
        Index.build([(b"a", b"ACGT", b"x")])
    with pytest.raises(OverflowError):
        Index.build([], w=-1)
    with pytest.raises(TypeError):
        Index.build([], is_hpc=1)


def _mem_available():
    try:
        for line in pathlib.Path("/proc/meminfo").read_text().splitlines():
            if line.startswith("MemAvailable:"):
                return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


@pytest.mark.skipif(_mem_available() < 12 << 30, reason="needs 2 GiB for one huge target")
def test_build_refuses_targets_of_2_31_bases():
    big = bytes(1 << 31)
    with pytest.raises(ValueError, match="too long"):
        Index.build([(b"big", big)])


# ---- packed bases ----------------------------------------------------------------


def test_packing_edges():
    f = T.index_fields(T.index_build([(b"a", b"ACGTN"), (b"z", b""), (b"b", b"acgtRYn-T")], 3, 3))
    assert [t[2] for t in f["seqs"]] == [0, 5, 5]  # zero-length target takes no bases
    assert f["packed_seqs"] == M.pack([b"ACGTN", b"acgtRYn-T"])
    # 14 bases: two words; the two nibbles past the last base are zero.
    assert len(f["packed_seqs"]) == 2 and f["packed_seqs"][1] >> 24 == 0
    nine = T.index_fields(T.index_build([(b"a", b"TTTTTTTTT")], 3, 3))["packed_seqs"]
    assert nine == [0x33333333, 0x3]


def test_region_and_unpack_match_formula():
    rng = random.Random(9)
    seqs = [(b"a", random_seq(rng, 37, b"ACGTN")), (b"b", random_seq(rng, 3)),
            (b"c", random_seq(rng, 70, b"ACGTacgtRN"))]
    data = T.index_build(seqs, 3, 3)
    for rid, (_, s) in enumerate(seqs):
        for _ in range(40):
            st = rng.randint(0, len(s))
            en = rng.randint(st, len(s))
            assert T.get_region_nt4(data, rid, st, en) == [M.nt4(c) for c in s[st:en]]
    words = [rng.getrandbits(32) for _ in range(12)]
    for _ in range(200):
        start = rng.randint(0, 90)
        count = rng.randint(0, 96 - start)
        expected = [(words[p // 8] >> (4 * (p % 8))) & 15 for p in range(start, start + count)]
        assert T.unpack_nt4(words, start, count) == expected


def test_region_preconditions_fail_cleanly():
    data = T.index_build([(b"a", b"ACGTACGT")], 3, 3)
    for rid, st, en in [(1, 0, 1), (0, 0, 9), (0, 5, 4)]:
        with pytest.raises(ValueError):
            T.get_region_nt4(data, rid, st, en)
    with pytest.raises(ValueError, match="stripped"):
        T.get_region_nt4(T.strip_and_save(data), 0, 0, 1)


# ---- the Python Index class ----------------------------------------------------------


@pytest.fixture
def ten():
    return Index.build([(b"t", b"ACGTACGTAC"), (b"x", b"acgtnRYacg"), (b"t", b"GGGG")], w=3, k=5)


@pytest.mark.parametrize(
    "args,expected",
    [(("t", 8, 100), "AC"), (("t", 12), ""), (("t", 5, 3), ""), (("t",), "ACGTACGTAC"),
     (("t", None, 4), "ACGT"), (("t", 3, None), "TACGTAC"), (("x",), "ACGTNNNACG")],
)
def test_seq_ranges(ten, args, expected):
    assert ten.seq(*args) == expected


def test_index_class_basics(ten):
    assert ten.seq_names == ["t", "x", "t"]
    assert (ten.kmer_size, ten.window_size, ten.homopolymer_compressed) == (5, 3, False)
    assert Index.build([]).seq_names == []
    assert Index.build([(b"t\xff", b"A")]).seq_names == ["t\ufffd"]
    assert Index.build([(b"a", b"ACGT")], is_hpc=True).homopolymer_compressed is True
    with pytest.raises(ValueError, match="^Sequence not found: nope$"):
        ten.seq("nope")
    with pytest.raises(TypeError):
        ten.seq(b"t")
    with pytest.raises(OverflowError):
        ten.seq("t", -1)
    assert Index.__module__ == "tessiqpy._tessiqpy"
    assert "Index" in tessiqpy.__all__
    with pytest.raises(TypeError):
        Index()


def test_strip_sequences(ten, tmp_path):
    ten.strip_sequences()
    assert ten.seq_names == ["t", "x", "t"]
    with pytest.raises(ValueError, match="stripped"):
        ten.seq("t", 0, 2)
    with pytest.raises(ValueError, match="Sequence not found"):
        ten.seq("nope")
    path = tmp_path / "s.tmi"
    ten.save(path)
    f = T.index_fields(path.read_bytes())
    assert f["packed_seqs"] == [] and [t[1] for t in f["seqs"]] == [10, 10, 4]
    again = Index.load(path)
    assert again.seq_names == ["t", "x", "t"]
    with pytest.raises(ValueError, match="stripped"):
        again.seq("x")


def test_save_load_round_trip(tmp_path):
    seqs = repeats_genome(random.Random(21))
    index = Index.build(seqs, w=4, k=9, is_hpc=True, max_occ=5)
    path = tmp_path / "r.tmi"
    index.save(str(path))
    loaded = Index.load(path)
    for attr in ("seq_names", "kmer_size", "window_size", "homopolymer_compressed"):
        assert getattr(loaded, attr) == getattr(index, attr)
    for name in loaded.seq_names:
        assert loaded.seq(name) == index.seq(name)
    # Field by field, buckets compared as maps, and saving again is byte-identical.
    before = T.index_fields(path.read_bytes())
    loaded.save(tmp_path / "r2.tmi")
    assert T.index_fields((tmp_path / "r2.tmi").read_bytes()) == before
    assert (tmp_path / "r2.tmi").read_bytes() == path.read_bytes()


def test_paths(tmp_path):
    index = Index.build([(b"a", b"ACGT")])
    index.save(pathlib.Path(tmp_path / "p.tmi"))
    assert Index.load(pathlib.Path(tmp_path / "p.tmi")).seq("a") == "ACGT"
    bad = str(tmp_path) + "/bad\udcff.tmi"
    with pytest.raises(ValueError, match="^Invalid path string$"):
        Index.load(bad)
    with pytest.raises(ValueError, match="^Invalid path string$"):
        index.save(bad)
    with pytest.raises(TypeError):
        Index.load(b"/tmp/x.tmi")
    missing = str(tmp_path / "missing.tmi")
    with pytest.raises(OSError, match="^" + re.escape(f"Failed to open index '{missing}': ")):
        Index.load(missing)
    nodir = str(tmp_path / "no" / "x.tmi")
    with pytest.raises(OSError, match="^" + re.escape(f"Failed to create index '{nodir}': ")):
        index.save(nodir)


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
def test_save_reports_write_failure():
    big = Index.build([(b"a", random_seq(random.Random(1), 100000))])
    with pytest.raises(OSError, match="^Failed to write index '/dev/full': "):
        big.save("/dev/full")
    with pytest.raises(OSError, match="^Failed to write index '/dev/full': "):
        Index.build([]).save("/dev/full")  # only the final flush fails


# ---- the seed table -------------------------------------------------------------


@pytest.mark.parametrize("seed", range(6))
def test_bucket_map_matches_dict(seed):
    rng = random.Random(seed)
    wide = seed % 2 == 1
    keys = [rng.getrandbits(40 if wide else 20) for _ in range(rng.randint(0, 3000))]
    counts = [0, 1, 2, 254, 255, 256, 70000, 2**32 - 1]
    inserts, model = [], {}
    for key in keys + keys[: len(keys) // 3]:  # a third are replaced
        value = rng.choice(counts) | (rng.getrandbits(32) << 32)
        inserts.append((key, value))
        model[key] = value
    if seed == 4:  # a wide key arriving after narrow ones
        inserts.append((2**64 - 1, 7))
        model[2**64 - 1] = 7
    probes = list(model) + [rng.getrandbits(64) for _ in range(200)] + [0, 2**32, 2**32 - 1]
    size, entries, found = T.bucket_ops(inserts, probes, rng.choice([0, len(model)]))
    assert size == len(model)
    assert entries == sorted(model.items())
    assert found == [model.get(p) for p in probes]


COUNTS_CASES = [
    # counts, min_mid_occ, max_mid_occ, frac, expected
    ([1, 1, 1, 2, 3, 4, 5, 9], 0, 0, 0.25, 6),
    ([1, 1, 1, 2, 5], 0, 0, 0.2, 3),  # float 0.2 lies above 0.2: (1-frac)*5 < 4
    ([1, 1, 1, 2, 3, 4, 5, 9], 0, 0, 0.0, U64),
    ([1, 1, 1, 2, 3, 4, 5, 9], 0, 0, -1.0, U64),
    ([], 10, 5, 0.25, 10),  # no keys: the lower bound, no upper clamp
    ([], 0, 5, 0.25, 1),
    ([1, 1, 1, 2, 3, 4, 5, 9], 10, 50, 0.25, 10),  # lower bound wins
    ([1, 1, 1, 2, 3, 4, 5, 9], 2, 4, 0.25, 4),  # upper clamp
    ([1, 1, 1, 2, 3, 4, 5, 9], 5, 4, 0.25, 6),  # max <= min: no clamp
    ([7], 0, 0, 1e-6, 8),
    ([3, 1, 2], 0, 0, 2.0, 2),  # negative index saturates to 0
]


def index_with_counts(counts):
    """An own-format index whose keys occur `counts` times each."""
    total = max(sum(counts), 1)
    buckets, positions = [{}], []
    for key, c in enumerate(counts):
        buckets[0][key] = c | (len(positions) << 32)
        positions += [((len(positions) + j) << 1) for j in range(c)]
    f = {"kmer_size": 15, "window_size": 10, "homopolymer_compressed": False, "index": 0,
         "seqs": [("t", total, 0, False)], "bucket_bits": 0, "buckets": buckets,
         "positions": positions, "packed_seqs": []}
    return M.write_own(f)


@pytest.mark.parametrize("counts,lo,hi,frac,expected", COUNTS_CASES)
def test_cal_mid_occ(counts, lo, hi, frac, expected):
    data = index_with_counts(counts)
    assert sorted(T.occurrence_counts(data)) == sorted(counts)
    assert T.cal_mid_occ(data, lo, hi, frac) == expected


# ---- own format -------------------------------------------------------------------


def small_fields():
    return M.build([(b"a", b"ACGTTGCAACGGATCCAGTT"), (b"b", b"GGATCCAGTTACGA")], 3, 5, False, 50000)


def test_own_format_variants():
    f = small_fields()
    data = M.write_own(f)
    assert data == T.index_build([(b"a", b"ACGTTGCAACGGATCCAGTT"), (b"b", b"GGATCCAGTTACGA")], 3, 5)
    got = T.index_fields(data)
    assert got.pop("consumed") == len(data) and got == f
    # Without magic, and with bytes after the record.
    nomagic = T.index_fields(M.write_own(f, magic=False) + b"junk")
    assert nomagic.pop("consumed") == len(data) - 4 and nomagic == f
    withtail = T.index_fields(data + data)
    assert withtail.pop("consumed") == len(data)
    # An empty index with 2^b empty buckets.
    empty = T.index_build([], 10, 15)
    assert T.index_fields(empty)["buckets"] == [{}] * 1024
    assert T.index_resave(empty) == empty


@pytest.mark.parametrize("size", [0, 1, 2, 3])
def test_too_short_is_empty(tmp_path, size):
    path = tmp_path / "e.tmi"
    path.write_bytes(b"TMMI"[:size])
    with pytest.raises(OSError, match="^Empty index file$"):
        Index.load(path)
    assert T.index_fields(b"TMMI"[:size]) is None


def test_magic_only_is_a_decoder_error(tmp_path):
    path = tmp_path / "m.tmi"
    path.write_bytes(b"TMMI")
    with pytest.raises(OSError, match="unexpected end of input") as e:
        Index.load(path)
    assert str(e.value) != "Empty index file"


def test_every_truncation_fails_cleanly():
    data = M.write_own(small_fields())
    for cut in range(4, len(data)):
        with pytest.raises(OSError):
            T.index_fields(data[:cut])


def _corrupt_cases():
    f = small_fields()
    b = f["bucket_bits"]
    some = next(i for i, bk in enumerate(f["buckets"]) if bk)
    key = next(iter(f["buckets"][some]))

    def patched(**changes):
        g = {k: (list(v) if isinstance(v, list) else v) for k, v in f.items()}
        g["buckets"] = [dict(x) for x in f["buckets"]]
        for k, v in changes.items():
            v(g) if callable(v) else g.__setitem__(k, v)
        return g

    def set_entry(value):
        return lambda g: g["buckets"][some].__setitem__(key, value)

    def set_target(i, **kw):
        def fn(g):
            name, length, offset, alt = g["seqs"][i]
            g["seqs"][i] = (name, kw.get("length", length), kw.get("offset", offset), alt)
        return fn

    def set_pos(j, v):
        return lambda g: g["positions"].__setitem__(j, v)

    def set_word(j, v):
        return lambda g: g["packed_seqs"].__setitem__(j, v)

    return [
        ("bool", M.write_own(f, bool_byte=2), "invalid boolean value 2"),
        ("variant", M.write_own(f, variant=1), "variant index 0 <= i < 1"),
        ("utf8", M.write_own(f, names=[b"a\xff", b"b"]), "not valid UTF-8"),
        ("bucket count", M.write_own(f, n_buckets=len(f["buckets"]) - 1), "bucket count"),
        ("bucket bits", M.write_own(patched(bucket_bits=b + 1)), "bucket count"),
        ("huge bits", M.write_own(patched(bucket_bits=40), n_buckets=1 << 40), "bucket count"),
        ("range", M.write_own(patched(x=set_entry(2 | (len(f["positions"]) - 1) << 32))), "beyond"),
        ("start", M.write_own(patched(x=set_entry(1 | (2**32 - 1) << 32))), "beyond"),
        ("rid", M.write_own(patched(x=set_pos(0, 2 << 32))), "outside the targets"),
        ("pos", M.write_own(patched(x=set_pos(0, 20 << 1))), "outside the targets"),
        ("offset", M.write_own(patched(x=set_target(1, offset=19))), "contiguous"),
        ("overflow", M.write_own(patched(x=set_target(1, length=U64, offset=20))), "overflows"),
        ("words", M.write_own(patched(packed_seqs=f["packed_seqs"][:-1])), "packed words"),
        ("code", M.write_own(patched(x=set_word(0, 0x7))), "codes above 4"),
        ("huge count", M.write_own(f)[:-8 - 4 * len(f["packed_seqs"])] + struct.pack("<Q", 1 << 61),
         "unexpected end of input"),
    ]


@pytest.mark.parametrize("name,data,message", _corrupt_cases(), ids=lambda x: x if isinstance(x, str) else "")
def test_corrupt_own_files_fail_with_message(tmp_path, name, data, message):
    with pytest.raises(OSError, match=re.escape(message)):
        T.index_fields(data)
    path = tmp_path / "c.tmi"
    path.write_bytes(data)
    with pytest.raises(OSError, match="^Invalid index file: .*" + re.escape(message)):
        Index.load(path)


def test_tail_nibbles_past_the_last_base_are_not_checked():
    f = small_fields()  # 34 bases: the last word holds two of them
    f["packed_seqs"][-1] |= 0xFFFF0000
    assert T.index_fields(M.write_own(f))["packed_seqs"][-1] >> 16 == 0xFFFF


# ---- foreign format -----------------------------------------------------------------

FOREIGN_SEQS = [(b"chrA", b"ACGTTGCAACGGATCCAGTTACGA" * 6), (b"", b"GGATCCAGTTACGATT" * 5),
                (b"bad\xff\xfename", b"TTGCAACGGA" * 4)]


def foreign_case(singletons=True, with_bases=True, hpc=False):
    f = M.build(FOREIGN_SEQS, 3, 7, hpc, 50000)
    return f, M.to_foreign(f, [n for n, _ in FOREIGN_SEQS], singletons, with_bases)


@pytest.mark.parametrize("singletons", [True, False])
def test_foreign_load_equals_built_index(tmp_path, capfd, singletons):
    f, data = foreign_case(singletons)
    path = tmp_path / "f.mmi"
    path.write_bytes(data)
    index = Index.load(path)
    err = capfd.readouterr().err
    assert re.fullmatch(r"\[\*\] Index loaded: 3 seqs, 0M bases in \d+\.\ds\n", err)
    assert index.seq_names == ["chrA", "", "bad\ufffd\ufffdname"]
    assert index.seq("chrA") == FOREIGN_SEQS[0][1].decode()
    # Converted entries equal the built table (singletons included); is_alt false.
    out = tmp_path / "o.tmi"
    index.save(out)
    got = T.index_fields(out.read_bytes())
    got.pop("consumed")
    assert got == f
    # Same through the in-memory loader; and the own copy loads back equal.
    assert {k: v for k, v in T.index_fields(data).items() if k != "consumed"} == f
    assert Index.load(out).seq_names == index.seq_names


def test_foreign_without_bases_and_hpc(tmp_path, capfd):
    f, data = foreign_case(with_bases=False, hpc=True)
    path = tmp_path / "n.mmi"
    path.write_bytes(data)
    index = Index.load(path)
    assert index.homopolymer_compressed is True
    with pytest.raises(ValueError, match="stripped"):
        index.seq("chrA")
    got = T.index_fields(data)
    assert got["packed_seqs"] == [] and got["buckets"] == f["buckets"]


def test_foreign_progress_line(tmp_path, capfd):
    data = M.write_foreign(10, 15, 0, 2, [(b"a", 1000000), (b"b", 1000000), (b"c", 500000)], [([], [])])
    path = tmp_path / "p.mmi"
    path.write_bytes(data)
    assert Index.load(path).seq_names == ["a", "b", "c"]
    assert re.fullmatch(r"\[\*\] Index loaded: 3 seqs, 2M bases in \d+\.\ds\n", capfd.readouterr().err)


def test_foreign_drops_unreferenced_positions_and_keeps_counts():
    pos = [(0 << 32) | (5 << 1), (0 << 32) | (9 << 1) | 1, (0 << 32) | (3 << 1)]
    buckets = [(pos, [(4 << 1, 2 | (1 << 32)), ((7 << 1) | 1, (0 << 32) | (1 << 1))]), ([], [])]
    f = T.index_fields(M.write_foreign(2, 3, 1, 2, [(b"t", 20)], buckets))
    assert f["positions"] == [pos[1], pos[2], 1 << 1]
    assert f["buckets"] == [{4: 2, 7: 1 | (2 << 32)}, {}]


def _patch(data, at, new):
    return data[:at] + new + data[at + len(new):]


def _foreign_corrupt_cases():
    good = [(b"t", 20)]
    rec = 3 << 1
    return [
        ("range", M.write_foreign(2, 3, 0, 2, good, [([rec], [(2, 2)])]), "outside its position list"),
        ("start", M.write_foreign(2, 3, 0, 2, good, [([rec], [(2, 1 | (1 << 32))])]), "outside its position list"),
        ("overlap", M.write_foreign(2, 3, 0, 2, good, [([rec], [(2, 1)] * 3)]), "outside its position list"),
        ("rid", M.write_foreign(2, 3, 0, 2, good, [([], [(3, 1 << 32)])]), "outside the targets"),
        ("pos", M.write_foreign(2, 3, 0, 2, good, [([], [(3, 40 << 1)])]), "outside the targets"),
        ("bits", _patch(M.write_foreign(2, 3, 0, 2, good, [([], [])]), 12, struct.pack("<I", 40)),
         "bucket bits"),
        ("code", M.write_foreign(2, 3, 0, 0, [(b"t", 3)], [([], [])], [0x999]), "codes above 4"),
        ("short", M.write_foreign(2, 3, 0, 0, [(b"t", 9)], [([], [])], [0]), "unexpected end of input"),
    ]


@pytest.mark.parametrize("name,data,message", _foreign_corrupt_cases(), ids=lambda x: x if isinstance(x, str) else "")
def test_corrupt_foreign_files_fail_with_message(name, data, message, capfd):
    with pytest.raises(OSError, match="^Invalid foreign index file: .*" + re.escape(message)):
        T.index_fields(data)
    assert capfd.readouterr().err == ""


def test_every_foreign_truncation_fails_cleanly(capfd):
    _, data = foreign_case()
    for cut in range(4, len(data)):
        with pytest.raises(OSError):
            T.index_fields(data[:cut])
    assert capfd.readouterr().err == ""

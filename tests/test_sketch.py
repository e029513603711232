"""Sketchers: reference values, a plain model on random input, and edges."""

import random

import pytest

import tessiqpy
import tessiqpy._testing as T
from tessiqpy.sketch import Minimizer, MinimizerSketcher, RandstrobeSketcher, SyncmerSketcher

import models


def pairs(records):
    return [(m.x, m.y) for m in records]


# ---- reference values ------------------------------------------------------


@pytest.mark.parametrize(
    "key,k,expected",
    [(0, 15, 1072721685), (1, 15, 932509926), (0, 1, 3), (1, 1, 2)],
)
def test_kmer_hash_reference(key, k, expected):
    assert T.kmer_hash(key, k) == expected
    assert models.kmer_hash(key, k) == expected


@pytest.mark.parametrize(
    "seq,w,k,rid,hpc,expected",
    [
        (b"ACGTTGCAAC", 2, 3, 0, False,
         [(0x1503, 0x7), (0x603, 0x9), (0x2F03, 0xD), (0x2F03, 0xE), (0x603, 0x12)]),
        (b"ACGTTGCAAC", 2, 3, 0, True,
         [(0x1503, 0x4), (0x1504, 0x9), (0x2F04, 0xD), (0x2F04, 0x10)]),
        (b"AAACCGTTTTACG", 1, 3, 5, True,
         [(0x1506, 0x50000000A), (0x1507, 0x500000013), (0x706, 0x500000014),
          (0x706, 0x500000017), (0x1503, 0x500000018)]),
    ],
)
def test_minimizer_reference(seq, w, k, rid, hpc, expected):
    assert T.sketch_minimizers(seq, w, k, rid, hpc) == expected
    assert models.minimizers(seq, w, k, rid, hpc) == expected
    if rid == 0 and not hpc:
        assert pairs(MinimizerSketcher(k, w).sketch(seq)) == expected


def test_kmer_hash_is_a_bijection_for_small_k():
    for k in (1, 2, 3, 4, 5, 6):
        assert sorted(T.kmer_hash(v, k) for v in range(4**k)) == list(range(4**k))


# ---- randomized comparison with the model ---------------------------------

ALPHABETS = [b"ACGT", b"ACGTacgt", b"ACGTN", b"ACGTNnUu-", b"AAAAAAAACG"]


def random_seq(rng, n):
    alphabet = rng.choice(ALPHABETS)
    out = bytearray()
    while len(out) < n:
        b = rng.choice(alphabet)
        # homopolymer runs make compression and ties interesting
        out += bytes([b]) * (rng.randint(1, 12) if rng.random() < 0.2 else 1)
    return bytes(out[:n])


@pytest.mark.parametrize("seed", range(40))
def test_minimizers_match_model(seed):
    rng = random.Random(seed)
    for _ in range(12):
        seq = random_seq(rng, rng.randint(0, 400))
        k = rng.randint(1, 28)
        w = rng.choice([1, 2, 3, 5, 10, 19, rng.randint(1, 255)])
        rid = rng.randint(0, 2**32 - 1)
        hpc = rng.random() < 0.5
        assert T.sketch_minimizers(seq, w, k, rid, hpc) == models.minimizers(seq, w, k, rid, hpc), (
            seq, w, k, rid, hpc)


def test_minimizers_long_homopolymer_spans():
    # spans near and above 255 with compression: such k-mers are not reported
    rng = random.Random(7)
    for _ in range(30):
        seq = b"".join(bytes([rng.choice(b"ACGT")]) * rng.randint(1, 120) for _ in range(30))
        k, w = rng.randint(1, 8), rng.randint(1, 6)
        got = T.sketch_minimizers(seq, w, k, 0, True)
        assert got == models.minimizers(seq, w, k, 0, True)
        assert all(0 < (x & 0xFF) < 256 for x, _ in got)


@pytest.mark.parametrize("seed", range(20))
def test_syncmers_match_model(seed):
    rng = random.Random(1000 + seed)
    for _ in range(10):
        seq = random_seq(rng, rng.randint(0, 300))
        k = rng.randint(2, 28)
        s = rng.randint(1, k - 1)
        assert T.sketch_syncmers(seq, k, s) == models.syncmers(seq, k, s)
        assert pairs(SyncmerSketcher(k, s).sketch(seq)) == models.syncmers(seq, k, s)


@pytest.mark.parametrize("seed", range(20))
def test_randstrobes_match_model(seed):
    rng = random.Random(2000 + seed)
    for _ in range(8):
        seq = random_seq(rng, rng.randint(0, 300))
        k = rng.randint(1, 14)
        w_min = rng.randint(k, k + 20)
        w_max = rng.randint(w_min, w_min + 40)
        expected = models.randstrobes(seq, k, w_min, w_max)
        assert T.sketch_randstrobes(seq, k, w_min, w_max) == expected
        assert pairs(RandstrobeSketcher(k, w_min, w_max).sketch(seq)) == expected


# ---- minimizer edges -------------------------------------------------------


def test_empty_sequence_skips_parameter_check():
    assert MinimizerSketcher(15, 10).sketch(b"") == []
    assert MinimizerSketcher(0, 0).sketch(b"") == []
    assert T.sketch_minimizers(b"", 0, 99) == []


@pytest.mark.parametrize("k,w", [(0, 10), (29, 10), (15, 0), (15, 256)])
def test_invalid_minimizer_parameters_are_fatal(k, w):
    sketcher = MinimizerSketcher(k, w)  # stored unchecked
    with pytest.raises(tessiqpy.FatalError, match=r"^assertion failed: w > 0 && w < 256 && k > 0 && k <= 28$"):
        sketcher.sketch(b"ACGT")


@pytest.mark.parametrize("seq", [b"AC", b"NNNNNNNNNN", b"ACGNACGNAC"])
def test_no_minimizers_without_k_valid_bases(seq):
    assert MinimizerSketcher(4, 2).sketch(seq) == []


def test_positions_and_rid_layout():
    seq = b"ACGTTGCAACGGTA"
    for m in MinimizerSketcher(5, 1).sketch(seq):
        assert isinstance(m, Minimizer)
        assert m.y >> 32 == 0
        pos = (m.y >> 1) & (2**31 - 1)
        assert 4 <= pos < len(seq)
        assert m.x & 0xFF == 5


def test_palindromes_are_skipped():
    # AT is its own reverse complement for k = 2
    assert T.sketch_minimizers(b"ATATATAT", 1, 2) == []
    got = T.sketch_minimizers(b"AATT", 1, 2)
    assert [(y >> 1) for _, y in got] == [1, 3]  # AA and TT, never AT


def test_case_and_u_handling():
    seq = b"ACGTTGCAACGGTACCA"
    assert T.sketch_minimizers(seq.lower(), 3, 5) == T.sketch_minimizers(seq, 3, 5)
    # U is ambiguous, not T
    assert T.sketch_minimizers(b"ACGUUGCA", 1, 3) != T.sketch_minimizers(b"ACGTTGCA", 1, 3)
    # with compression raw bytes decide the runs: AAaa is two runs of 2
    assert T.sketch_minimizers(b"CAAaaG", 1, 3, 0, True) != T.sketch_minimizers(b"CAAAAG", 1, 3, 0, True)
    (x, _), = [r for r in T.sketch_minimizers(b"CAAAAG", 1, 3, 0, True) if r[1] >> 1 == 5]
    assert x & 0xFF == 6  # C + AAAA + G


def test_ambiguous_base_splits_kmers():
    seq = b"ACGTACGTAC" + b"N" + b"GGTCAAGTCC"
    for x, y in T.sketch_minimizers(seq, 1, 4):
        pos = (y >> 1) & (2**31 - 1)
        assert not (pos - 3 <= 10 <= pos)  # no k-mer covers the N


def test_w1_drops_kmer_before_ambiguous_base():
    # with w = 1 the k-mer just before an N is the current minimum when the N
    # arrives and is never reported
    got = T.sketch_minimizers(b"ACGTNACGT", 1, 3)
    assert [(y >> 1) for _, y in got] == [2, 7, 8]  # CGT at 3 is lost


# ---- syncmer and randstrobe edges -----------------------------------------


def test_randstrobe_length_thresholds():
    k, w_min, w_max = 5, 6, 10
    seq = b"ACGTTGCAACGGTACCAGTTAC"
    assert RandstrobeSketcher(k, w_min, w_max).sketch(seq[: k + w_max - 1]) == []
    got = RandstrobeSketcher(k, w_min, w_max).sketch(seq[: k + w_max])
    assert [m.y >> 1 for m in got] == [0]


def test_syncmer_and_randstrobe_ignore_rid():
    seq = b"ACGTTGCAACGGTACCAGTTACGGA" * 3
    assert all(y >> 32 == 0 for _, y in T.sketch_syncmers(seq, 9, 3, 77))
    assert all(y >> 32 == 0 for _, y in T.sketch_randstrobes(seq, 5, 6, 12, 77))


def test_palindromic_syncmer_has_forward_strand():
    # ACGT is its own reverse complement; hf == hr so the strand is 0
    got = T.sketch_syncmers(b"ACGT", 4, 1)
    assert all(y & 1 == 0 for _, y in got)
    assert got == models.syncmers(b"ACGT", 4, 1)


def test_syncmer_resumes_after_n():
    seq = b"ACGTTGCAAC" + b"N" + b"GGTACCAGTT"
    for _, y in T.sketch_syncmers(seq, 5, 2):
        start = y >> 1
        assert not (start <= 10 < start + 5)


@pytest.mark.parametrize(
    "make,message",
    [
        (lambda: SyncmerSketcher(15, 15), "s must be 1..k"),
        (lambda: SyncmerSketcher(29, 5), "k must be 1..=28"),
        (lambda: SyncmerSketcher(0, 1), "k must be 1..=28"),
        (lambda: RandstrobeSketcher(15, 10, 30), "strobe k must be 1..=14 (two strobes fit in 56 bits)"),
        (lambda: RandstrobeSketcher(10, 5, 30), "w_min must be >= k (strobes must not overlap)"),
        (lambda: RandstrobeSketcher(10, 20, 15), "w_max must be >= w_min"),
    ],
)
def test_constructor_checks(make, message):
    with pytest.raises(tessiqpy.FatalError) as info:
        make()
    assert str(info.value) == message


# ---- argument handling -----------------------------------------------------

SKETCHERS = [MinimizerSketcher(5, 3), SyncmerSketcher(5, 2), RandstrobeSketcher(4, 5, 8)]


@pytest.mark.parametrize("sketcher", SKETCHERS)
def test_sketch_rejects_non_bytes(sketcher):
    for bad in ["ACGT", bytearray(b"ACGT"), memoryview(b"ACGT"), None, 5]:
        with pytest.raises(TypeError, match="seq"):
            sketcher.sketch(bad)


@pytest.mark.parametrize("sketcher", SKETCHERS)
def test_sketch_reads_bytes_subclasses(sketcher):
    class Seq(bytes):
        pass

    seq = b"ACGTTGCAACGGTACCAGTTAC" * 3
    assert pairs(sketcher.sketch(Seq(seq))) == pairs(sketcher.sketch(seq))


@pytest.mark.parametrize("sketcher", SKETCHERS)
def test_sequences_beyond_31_bit_positions_are_refused(sketcher):
    # bytes(n) is zero-filled lazily, so this costs no real memory
    with pytest.raises(ValueError, match="too long"):
        sketcher.sketch(bytes(2**31))


def test_length_limit_boundary():
    T.check_sequence_length(2**31 - 1)
    with pytest.raises(ValueError, match="2147483648"):
        T.check_sequence_length(2**31)


@pytest.mark.parametrize(
    "args,exc",
    [
        ((-1, 10), OverflowError),
        ((15, 2**64), OverflowError),
        ((15.0, 10), TypeError),
        (("15", 10), TypeError),
        ((15,), TypeError),
    ],
)
def test_constructor_argument_conversion(args, exc):
    with pytest.raises(exc):
        MinimizerSketcher(*args)


def test_keyword_construction_and_results_are_fresh():
    sketcher = MinimizerSketcher(k=15, w=10)
    seq = b"ACGTTGCAACGGTACCAGTTACGGATCCA" * 4
    a, b = sketcher.sketch(seq), sketcher.sketch(seq)
    assert a is not b and pairs(a) == pairs(b)
    assert SyncmerSketcher(k=15, s=5).sketch(seq) is not None
    assert RandstrobeSketcher(k=12, w_min=15, w_max=30).sketch(seq) is not None


def test_minimizer_is_read_only_and_not_constructible():
    m = MinimizerSketcher(3, 1).sketch(b"ACGT")[0]
    with pytest.raises(AttributeError):
        m.x = 1
    with pytest.raises(TypeError):
        Minimizer()
    assert m != MinimizerSketcher(3, 1).sketch(b"ACGT")[0]  # identity only

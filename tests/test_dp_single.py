"""Single-affine extension kernel: worked examples, agreement of the vector
variants, agreement with the scalar reference and optimality against a plain
Gotoh DP."""

import pytest

import tessiqpy
import tessiqpy._testing as T
from dp_models import cigar_score, cigar_str, enc, global_affine, matrix, mutate, rand_seq, rng

NEG = T.dp_neg_inf()
SCALAR = T.extend_single_affine_scalar
VECTORS = [T.extend_single_affine_sse2, T.extend_single_affine41_impl,
           T.extend_single_affine_avx2_fn, T.extend_single_affine_avx512_fn]
ALL = [SCALAR] + VECTORS
MAT = matrix()
RIGHT, EXTEND, APPROX_MAX, APPROX_DROP, SCORE_ONLY = 0x02, 0x40, 0x08, 0x10, 0x01


def run(fn, qs, ts, w=-1, zdrop=-1, flags=0, mat=MAT, q=4, e=2, eb=0, init=None):
    return fn(enc(qs), enc(ts), 5, mat, q, e, w, zdrop, eb, flags, init)


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
@pytest.mark.parametrize("qs,ts,flags,cigar,score", [
    ("A", "A", 0, "1M", 2),
    ("ACGTACGTAC", "ACGTACGTAC", 0, "10M", 20),
    ("ACGT", "AGT", 0, "1M1I2M", 0),
    ("AAAT", "AAAAT", 0, "1D4M", None),
    ("AAAT", "AAAAT", RIGHT, "3M1D1M", None),
    ("AAAAT", "AAAT", 0, "1I4M", None),
    ("AAAAT", "AAAT", RIGHT, "3M1I1M", None),
])
def test_global_examples(fn, qs, ts, flags, cigar, score):
    r = run(fn, qs, ts, flags=flags)
    assert cigar_str(r["cigar"]) == cigar
    if score is not None:
        assert r["score"] == score
    assert r["z_dropped"] == 0


def test_gap_free_word_and_reverse_cigar():
    for fn in ALL:
        assert run(fn, "ACGTACGTAC", "ACGTACGTAC")["cigar"] == [0xA0]
        assert cigar_str(run(fn, "ACGT", "AGT", flags=0x80)["cigar"]) == "2M1I1M"


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
def test_band_and_score_only(fn):
    r = run(fn, "A" * 12, "A" * 10, w=2)
    assert (r["score"], r["z_dropped"], cigar_str(r["cigar"])) == (12, 0, "2I10M")
    r = run(fn, "A" * 12, "A" * 10, w=1)
    assert (r["score"], r["z_dropped"]) == (NEG, 1)
    r = run(fn, "ACGT", "AGT", flags=SCORE_ONLY, init={"cigar": [0x55]})
    assert r["cigar"] == [0x55] and r["score"] == 0


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
def test_zdrop_zero_stops_at_second_antidiagonal(fn):
    r = run(fn, "ACGTACGTAC", "ACGTACGTAC", zdrop=0, flags=APPROX_DROP)
    assert (r["z_dropped"], r["score"], r["max"], cigar_str(r["cigar"])) == (1, NEG, 2, "1M")


def test_extension_without_positive_score():
    for fn in VECTORS:
        r = run(fn, "CA", "GA", flags=EXTEND)
        assert (r["max_t"], r["max_q"], r["cigar"], r["score"]) == (-1, -1, [], -2)
        assert (r["mqe"], r["mte"]) == (NEG, NEG)
    r = run(SCALAR, "CA", "GA", flags=EXTEND)
    assert (r["max"], r["max_t"], r["max_q"], r["reached_end"]) == (-2, 1, 1, 1)
    assert cigar_str(r["cigar"]) == "1I1M"  # from (mqe_t, qlen - 1) = (0, 1)


def test_zero_band():
    for fn in VECTORS:
        assert cigar_str(run(fn, "A", "A", w=0)["cigar"]) == "1M"
        r = run(fn, "AC", "AC", w=0)
        assert r["z_dropped"] == 1
    assert cigar_str(run(SCALAR, "AC", "AC", w=0)["cigar"]) == "2M"


def test_empty_inputs_leave_record_alone():
    init = {"max": 7, "score": 9, "cigar": [0x12]}
    for fn in ALL:
        for qs, ts in (("", "ACGT"), ("ACGT", "")):
            r = run(fn, qs, ts, init=init)
            assert (r["max"], r["score"], r["cigar"]) == (7, 9, [0x12])
    for fn in VECTORS:  # m <= 0
        r = fn(enc("ACGT"), enc("ACGT"), 0, MAT, 4, 2, -1, -1, 0, 0, init)
        assert r["score"] == 9


def test_short_matrix_is_fatal():
    with pytest.raises(tessiqpy.FatalError, match="scoring matrix holds 10 entries"):
        T.extend_single_affine_sse2(enc("AC"), enc("AC"), 5, MAT[:10], 4, 2, -1, -1, 0, 0)


def random_case(r, max_len=300):
    n = r.randint(1, max_len)
    t = rand_seq(r, n, amb=r.choice([0, 0, 0.05]))
    qs = mutate(r, t, rate=r.choice([0.02, 0.1, 0.3]))[: max_len] or b"\x00"
    if r.random() < 0.2:
        qs = rand_seq(r, r.randint(1, max_len))
    mat = matrix(r.choice([1, 2]), r.choice([2, 4]), r.choice([1, 2]),
                 transition=r.choice([None, 1]))
    q, e = r.choice([(4, 2), (6, 1), (2, 1)])
    w = r.choice([-1, 0, 1, 5, 17, 50, 200])
    zdrop = r.choice([-1, 0, 20, 100])
    flags = 0
    for bit in (0x01, 0x02, 0x04, 0x08, 0x10, 0x40, 0x80):
        if r.random() < 0.3:
            flags |= bit
    return qs, t, mat, q, e, w, zdrop, r.choice([0, 5, 50]), flags


def test_vector_variants_identical():
    r = rng(7)
    for _ in range(1500):
        qs, t, mat, q, e, w, zdrop, eb, flags = random_case(r)
        results = [fn(qs, t, 5, mat, q, e, w, zdrop, eb, flags) for fn in VECTORS]
        assert all(x == results[0] for x in results[1:]), (qs, t, w, zdrop, flags)


def test_scalar_agrees_unbanded():
    """Unbanded, the widened cells never feed an in-matrix cell, so scalar
    and vector agree except for the fields the vector variants do not track."""
    r = rng(8)
    for _ in range(600):
        qs, t, mat, q, e, _, _, eb, flags = random_case(r, 200)
        mat = matrix(2, 4, 1)
        flags &= ~(APPROX_DROP | EXTEND)
        a = SCALAR(qs, t, 5, mat, q, e, -1, -1, eb, flags)
        b = T.extend_single_affine_avx2_fn(qs, t, 5, mat, q, e, -1, -1, eb, flags)
        assert a["score"] == b["score"] and a["cigar"] == b["cigar"]
        if a["max"] > 0 and not flags & APPROX_MAX:
            assert (a["max"], a["max_t"], a["max_q"]) == (b["max"], b["max_t"], b["max_q"])


def test_global_optimal_against_gotoh():
    r = rng(9)
    for _ in range(150):
        t = rand_seq(r, r.randint(1, 40), amb=0.05)
        qs = mutate(r, t, 0.2) or b"\x01"
        mat = matrix(2, 4, 1, transition=r.choice([None, 1]))
        q, e = r.choice([(4, 2), (6, 1)])
        want = global_affine(qs, t, mat, [(q, e)])
        for fn in (SCALAR, T.extend_single_affine_sse2, T.extend_single_affine_avx512_fn):
            res = fn(qs, t, 5, mat, q, e, -1, -1, 0, 0x04)
            assert res["score"] == want
            assert cigar_score(res["cigar"], qs, t, mat, [(q, e)]) == want

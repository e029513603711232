"""Dual-affine kernel: the long-gap threshold examples, the dispatcher's
shortcut and pair ordering, variant agreement and a two-piece DP oracle."""

import pytest

import tessiqpy._testing as T
from dp_models import (affine_matrix, cigar_score, cigar_str, enc, exact_maximum, flanked, global_affine,
                       matrix, mutate, rand_seq, rng)

NEG = T.dp_neg_inf()
SCALAR = T.extend_dual_affine_scalar
VECTORS = [T.extend_dual_affine2_impl, T.extend_dual_affine41_impl,
           T.extend_dual_affine_avx2_fn, T.extend_dual_affine_avx512_fn]
ALL = [SCALAR] + VECTORS
MAT = matrix()


def gapped(n_del, flank=30, seed=1):
    r = rng(seed)
    left, right = rand_seq(r, flank), rand_seq(r, flank)
    return left + right, left + rand_seq(r, n_del) + right


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
@pytest.mark.parametrize("n_del,cost", [(30, 54), (5, 14)])
def test_long_and_short_deletions(fn, n_del, cost):
    qs, t = gapped(n_del)
    r = fn(qs, t, 5, MAT, 4, 2, 24, 1, -1, -1, 0, 0)
    ops = [(w >> 4, w & 15) for w in r["cigar"]]
    assert [op for _, op in ops] == [0, 2, 0] and ops[1][0] == n_del  # one gap word
    assert r["score"] == 2 * 60 - cost


def test_equal_pairs_delegate_to_single_affine():
    r = rng(3)
    for _ in range(50):
        t = rand_seq(r, r.randint(1, 120))
        qs = mutate(r, t, 0.15) or b"\x02"
        flags = r.choice([0, 0x02, 0x40, 0xC2, 0x08 | 0x10])
        a = T.extend_dual_affine(qs, t, 5, MAT, 4, 2, 4, 2, 30, 100, 5, flags)
        b = T.extend_single_affine(qs, t, 5, MAT, 4, 2, 30, 100, 5, flags)
        assert a == b


def test_pair_order_does_not_matter():
    r = rng(4)
    for _ in range(50):
        t = rand_seq(r, r.randint(1, 150))
        qs = mutate(r, t, 0.2) or b"\x02"
        a = T.extend_dual_affine(qs, t, 5, MAT, 4, 2, 24, 1, 40, 200, 0, 0x40)
        b = T.extend_dual_affine(qs, t, 5, MAT, 24, 1, 4, 2, 40, 200, 0, 0x40)
        assert a == b
        # the vector variants order the pairs themselves
        assert T.extend_dual_affine_avx2_fn(qs, t, 5, MAT, 24, 1, 4, 2, 40, 200, 0, 0x40) == \
            T.extend_dual_affine_avx2_fn(qs, t, 5, MAT, 4, 2, 24, 1, 40, 200, 0, 0x40)


def test_approx_max_score_falls_back_to_max():
    for fn in ALL:
        r = fn(enc("A" * 20), enc("A" * 10), 5, MAT, 4, 2, 24, 1, 3, -1, 0, 0x08 | 0x10)
        assert r["z_dropped"] == 1 and r["score"] == r["max"] != NEG


def test_ambiguous_entry_falls_back_to_minus_e2():
    mat = matrix(2, 4, 0)
    for fn in ALL:
        r = fn(enc("ANA"), enc("AAA"), 5, mat, 4, 2, 24, 1, -1, -1, 0, 0)
        assert r["score"] == 2 + 2 - 1


def test_early_returns_keep_record():
    init = {"score": 5, "max": 3}
    for fn in ALL:
        assert fn(b"", enc("AC"), 5, MAT, 4, 2, 24, 1, -1, -1, 0, 0, init)["score"] == 5
        assert fn(enc("AC"), enc("AC"), 1, MAT, 4, 2, 24, 1, -1, -1, 0, 0, init)["score"] == 5


# Pairs whose reported maximum is tied on its anti-diagonal, where the
# four-lane order picks another cell than the first; flanked, the tie lies
# past the first 64 cells of its anti-diagonal.
TIED = [("CACCCCCAAAACCAACAACAAACAC", "AACACCAACAAACAAACCAAAA"),
        ("AACACACAAAA", "AACCACACCCACCCAAACAAAACA")]


@pytest.mark.parametrize("flank", [False, True])
@pytest.mark.parametrize("qs,t", TIED)
def test_exact_maximum_cells_against_dp(qs, t, flank):
    qs, t = flanked(enc(qs), enc(t)) if flank else (enc(qs), enc(t))
    want = exact_maximum(affine_matrix(qs, t, MAT, [(4, 2), (24, 1)]), len(qs), len(t))
    for fn in ALL:
        res = fn(qs, t, 5, MAT, 4, 2, 24, 1, -1, -1, 0, 0x01)
        assert {k: res[k] for k in want} == want, fn.__name__


def random_case(r, max_len=300):
    t = rand_seq(r, r.randint(1, max_len), amb=r.choice([0, 0.05]))
    qs = mutate(r, t, r.choice([0.02, 0.1, 0.3])) or b"\x00"
    if r.random() < 0.3:  # long indel
        cut = r.randint(0, len(t))
        t = t[:cut] + rand_seq(r, r.randint(10, 60)) + t[cut:]
    mat = matrix(r.choice([1, 2]), r.choice([2, 4]), r.choice([0, 1]), transition=r.choice([None, 1]))
    q, e, q2, e2 = r.choice([(4, 2, 24, 1), (6, 2, 26, 1), (4, 2, 12, 2)])
    w = r.choice([-1, 0, 3, 20, 100])
    flags = 0
    for bit in (0x01, 0x02, 0x04, 0x08, 0x10, 0x40, 0x80):
        if r.random() < 0.3:
            flags |= bit
    return qs, t, mat, q, e, q2, e2, w, r.choice([-1, 0, 30, 200]), r.choice([0, 10]), flags


def test_vector_variants_identical_and_scalar_unbanded():
    r = rng(11)
    for k in range(1200):
        qs, t, mat, q, e, q2, e2, w, zdrop, eb, flags = random_case(r)
        res = [fn(qs, t, 5, mat, q, e, q2, e2, w, zdrop, eb, flags) for fn in VECTORS]
        assert all(x == res[0] for x in res[1:]), (k, w, flags)
        if w < 0 or w >= max(len(qs), len(t)):
            assert SCALAR(qs, t, 5, mat, q, e, q2, e2, w, zdrop, eb, flags) == res[0]


def test_global_optimal_against_two_piece_dp():
    r = rng(12)
    for _ in range(100):
        t = rand_seq(r, r.randint(1, 40))
        qs = mutate(r, t, 0.15) or b"\x01"
        if r.random() < 0.5:
            cut = r.randint(0, len(t))
            t = t[:cut] + rand_seq(r, r.randint(5, 25)) + t[cut:]
        pairs = [(4, 2), (24, 1)]
        want = global_affine(qs, t, MAT, pairs)
        for fn in (SCALAR, T.extend_dual_affine_avx512_fn):
            res = fn(qs, t, 5, MAT, 4, 2, 24, 1, -1, -1, 0, 0)
            assert res["score"] == want
            assert cigar_score(res["cigar"], qs, t, MAT, pairs) == want

"""Splice-aware kernel: introns with site scores and annotations, the
record reset and early returns, variant agreement and an intron-state DP."""

import pytest

import tessiqpy
import tessiqpy._testing as T
from dp_models import (cigar_score, cigar_str, enc, exact_maximum, flanked, matrix, mutate, rand_seq,
                       rng, splice_global, splice_matrix)

NEG = T.dp_neg_inf()
SCALAR = T.extend_splice_scalar
VECTORS = [T.extend_splice_sse2, T.extend_splice41_impl, T.extend_splice_avx2_fn,
           T.extend_splice_avx512_fn]
ALL = [SCALAR] + VECTORS
MAT = matrix()
FWD, REV, FIXED, SCORED = 0x100, 0x200, 0x800, 0x1000
Q, E, Q2, NONCAN = 4, 2, 24, 9


def splice(fn, qs, t, flags=FWD, junc=None, junc_bonus=9, junc_pen=5, init=None, zdrop=-1):
    return fn(qs, t, 5, MAT, Q, E, Q2, NONCAN, zdrop, 0, junc_bonus, junc_pen, flags, junc, init)


def spliced_pair(donor="GTA", acceptor="CAG", intron_len=200, seed=5):
    r = rng(seed)
    ex1, ex2 = rand_seq(r, 40), rand_seq(r, 40)
    # exon ends that cannot mimic the intron's ends, so the boundary is unique
    ex1 = ex1[:-1] + enc("C")
    ex2 = enc("T") + ex2[1:]
    intron = enc(donor) + enc("T") * (intron_len - 6) + enc(acceptor)
    return ex1 + ex2, ex1 + intron + ex2


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
@pytest.mark.parametrize("donor,flags,penalty", [
    ("GTA", FWD, 0), ("GCA", FWD, NONCAN), ("GCA", FWD | FIXED, 5),
])
def test_intron_costs(fn, donor, flags, penalty):
    qs, t = spliced_pair(donor)
    r = splice(fn, qs, t, flags)
    assert cigar_str(r["cigar"]) == "40M200N40M"
    assert r["score"] == 2 * 80 - Q2 - penalty


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
def test_leading_overhang_becomes_intron_beyond_threshold(fn):
    r = rng(6)
    qs = rand_seq(r, 30)
    for n, op in ((10, "N"), (9, "D")):
        t = enc("T") * n + qs
        res = splice(fn, qs, t, 0)
        assert cigar_str(res["cigar"]) == f"{n}{op}30M"


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
def test_bed_annotation_bonus(fn):
    qs, t = spliced_pair("CCA", "CTT")  # non-canonical on both ends
    base = splice(fn, qs, t)["score"]
    start, end = 40, 40 + 199  # first and last intron base, forward order
    junc = bytearray(len(t))
    junc[start], junc[end] = 0x01, 0x02
    assert splice(fn, qs, t, junc=bytes(junc))["score"] == base + 18
    junc[start], junc[end] = 0x08, 0x04  # reverse-strand intron: no bonus on the forward strand
    assert splice(fn, qs, t, junc=bytes(junc))["score"] == base


@pytest.mark.parametrize("fn", ALL, ids=lambda f: f.__name__)
def test_scored_sites_charge_missing_entries(fn):
    qs, t = spliced_pair()
    base = splice(fn, qs, t)["score"]
    none = bytes([255]) * len(t)
    assert splice(fn, qs, t, FWD | SCORED, junc=none)["score"] == base - 2 * 5
    junc = bytearray(none)
    junc[40] = (64 + 3) << 1 | 0     # donor entry at the intron start: +3
    junc[40 + 200] = (64 + 2) << 1 | 1  # acceptor entry one past the intron: +2
    assert splice(fn, qs, t, FWD | SCORED, junc=bytes(junc))["score"] == base + 5


def test_reset_and_early_returns():
    init = {"max": 5, "max_q": 3, "mqe_t": 7, "mte_q": 7, "score": 9, "reached_end": 1,
            "z_dropped": 1, "cigar": [0x10]}
    want = {"max": 0, "max_q": -1, "max_t": -1, "mqe": NEG, "mqe_t": -1, "mte": NEG,
            "mte_q": -1, "score": NEG, "reached_end": 0, "z_dropped": 0, "cigar": []}
    for fn in ALL:
        assert fn(b"", enc("ACGT"), 5, MAT, 4, 2, 24, 9, -1, 0, 0, 0, 0, None, init) == want
        # intron no dearer than a gap
        assert fn(enc("AC"), enc("AC"), 5, MAT, 4, 2, 6, 9, -1, 0, 0, 0, 0, None, init) == want
        # mismatches so expensive that no gap could ever compete
        harsh = matrix(2, 20, 1)
        assert fn(enc("AC"), enc("AC"), 5, harsh, 4, 2, 24, 9, -1, 0, 0, 0, 0, None, init) == want


def test_both_strands_is_fatal():
    for fn in ALL + [T.extend_splice]:
        with pytest.raises(tessiqpy.FatalError, match=r"^assertion failed: \(flags & SPLICE_FORWARD\)"):
            splice(fn, enc("ACGT"), enc("ACGT"), FWD | REV)


def test_approx_max_without_drop_tracks_nothing():
    qs, t = spliced_pair()
    for fn in ALL:
        r = splice(fn, qs, t, FWD | 0x08)
        assert (r["max"], r["max_t"], r["z_dropped"]) == (0, -1, 0)


# As in the dual-affine tests: the reported maximum is tied on its
# anti-diagonal and the four-lane order does not pick the first cell.
TIED = [("AAACCCCACAAAC", "CAAAAACCACACCCACACCA"), ("CCAAACAAACACA", "AACAAACAAAAAACA")]


@pytest.mark.parametrize("flank", [False, True])
@pytest.mark.parametrize("qs,t", TIED)
def test_exact_maximum_cells_against_dp(qs, t, flank):
    qs, t = flanked(enc(qs), enc(t)) if flank else (enc(qs), enc(t))
    fill = [-NONCAN] * len(t)
    want = exact_maximum(splice_matrix(qs, t, MAT, Q, E, Q2, fill, fill), len(qs), len(t))
    for fn in ALL:
        res = splice(fn, qs, t, 0x01)
        assert {k: res[k] for k in want} == want, fn.__name__


def random_case(r, max_len=250):
    ex = [rand_seq(r, r.randint(1, max_len // 3)) for _ in range(2)]
    intron = enc(r.choice(["GT", "GC", "CT", "AT"])) + rand_seq(r, r.randint(0, 60)) + \
        enc(r.choice(["AG", "AC", "GC"]))
    t = ex[0] + (intron if r.random() < 0.7 else b"") + ex[1]
    qs = mutate(r, ex[0] + ex[1], r.choice([0.0, 0.05, 0.15])) or b"\x00"
    if r.random() < 0.2:
        t, qs = rand_seq(r, r.randint(1, max_len), 0.05), rand_seq(r, r.randint(1, max_len), 0.05)
    flags = r.choice([0, FWD, REV, FWD | 0x400, REV | FIXED])
    for bit in (0x01, 0x02, 0x04, 0x08, 0x10, 0x40, 0x80):
        if r.random() < 0.3:
            flags |= bit
    junc = None
    if r.random() < 0.4:
        if r.random() < 0.5:
            junc = bytes(r.choice([0, 0, 0, 1, 2, 4, 8]) for _ in t)
        else:
            flags |= SCORED
            junc = bytes(r.choice([255, 255, r.randrange(100, 160)]) for _ in t)
    return qs, t, flags, junc, r.choice([-1, 0, 40, 200])


def test_all_variants_identical():
    r = rng(21)
    for k in range(800):
        qs, t, flags, junc, zdrop = random_case(r)
        res = [fn(qs, t, 5, MAT, Q, E, Q2, NONCAN, zdrop, 10, 9, 5, flags, junc) for fn in ALL]
        assert all(x == res[0] for x in res[1:]), (k, flags, zdrop)


def test_global_optimal_against_intron_dp():
    r = rng(22)
    fill = [-NONCAN] * 200
    for _ in range(80):
        ex = [rand_seq(r, r.randint(1, 15)) for _ in range(2)]
        t = ex[0] + rand_seq(r, r.randint(0, 25)) + ex[1]
        qs = mutate(r, ex[0] + ex[1], 0.1) or b"\x01"
        want = splice_global(qs, t, MAT, Q, E, Q2, fill, fill)
        for fn in (SCALAR, T.extend_splice_avx2_fn):
            res = splice(fn, qs, t, 0)
            assert res["score"] == want
            # a leading target overhang is charged by the border, without sites
            got = cigar_score(res["cigar"], qs, t, MAT, [(Q, E)],
                              intron=lambda s, f: -Q2 if s == 0 else -Q2 - 2 * NONCAN)
            assert got == want

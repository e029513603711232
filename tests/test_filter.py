"""Parent assignment and chain-level primary/secondary selection."""

import random
import struct

import pytest

import tessiqpy._testing as T


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def parents_model(intervals, mask_len=2**31 - 1, hard_mask=False, mask_level=0.5):
    """Parent assignment written plainly, with float32 steps."""
    n = len(intervals)
    parents = list(range(n))
    if n == 0:
        return parents, []
    prim = [(0, *intervals[0])]
    for i in range(1, n):
        s, e = intervals[i]
        if s >= e:
            continue
        u = 0
        if not hard_mask:
            pieces = sorted((max(ps, s), min(pe, e)) for _, ps, pe in prim if ps < pe and ps < e and s < pe)
            if not pieces:
                prim.append((i, s, e))
                continue
            cur = s
            for a, b in pieces:
                if a > cur:
                    u += a - cur
                cur = max(cur, b)
            if e > cur:
                u += e - cur
        for j, ps, pe in prim:
            if not (ps < pe and ps < e and s < pe):
                continue
            lp, li = pe - ps, e - s
            lmin, lmax = min(lp, li), max(lp, li)
            ov = min(pe, e) - ps if s < ps else min(e, pe) - s
            if lmin == 0:
                continue
            frac = f32(f32(f32(ov) / f32(lmin)) - f32(f32(u) / f32(lmax)))
            if frac > f32(mask_level) and u <= mask_len:
                parents[i] = parents[j]
                break
        else:
            prim.append((i, s, e))
    return parents, [p[0] for p in prim]


@pytest.mark.parametrize("seed", range(20))
def test_assign_parents_matches_model(seed):
    rng = random.Random(seed)
    for _ in range(30):
        n = rng.randint(0, 25)
        intervals = []
        for _ in range(n):
            s = rng.randint(0, 1000)
            intervals.append((s, s + rng.choice([0, rng.randint(1, 400)])) if rng.random() > 0.05 else (s, max(0, s - 5)))
        kw = dict(mask_len=rng.choice([0, 10, 2**31 - 1]), hard_mask=rng.random() < 0.3,
                  mask_level=rng.choice([0.0, 0.5, 0.9]))
        assert T.assign_parents(intervals, **kw) == tuple(parents_model(intervals, **kw))


def test_parent_edges():
    # an empty first interval is the first primary but never a parent
    parents, prim = T.assign_parents([(10, 10), (0, 100)])
    assert parents == [0, 1] and prim == [0, 1]
    # nor is an inverted one, whose unsigned length would wrap around
    assert T.assign_parents([(522, 517), (504, 604)]) == ([0, 1], [0, 1])
    # hard mask: 60 % overlap of the shorter interval suffices
    assert T.assign_parents([(0, 100), (40, 140)], hard_mask=True)[0] == [0, 0]
    # without it and mask_len 0, one uncovered base keeps the item primary
    assert T.assign_parents([(0, 100), (40, 140)], mask_len=0)[0] == [0, 1]
    assert T.assign_parents([(0, 100), (0, 100)], mask_len=0)[0] == [0, 0]


def mapping(score, qs=0, qe=1000, tid=0, ts=0, te=1000, strand=0, count=10, h=0, **kw):
    return dict(score=score, query_start=qs, query_end=qe, target_id=tid, target_start=ts,
                target_end=te, strand=strand, anchor_count=count, hash=h, **kw)


def test_single_mapping_is_primary():
    (m,) = T.select_secondaries([mapping(100)])
    assert m["parent"] == 0 and m["is_secondary"] == 0 and m["sub_score"] is None and m["n_sub"] == 0


def test_overlapping_secondary_kept_and_copies_dropped():
    out = T.select_secondaries([mapping(100), mapping(95, tid=1)], 15, dict(pri_ratio=0.8))
    assert [m["is_secondary"] for m in out] == [0, 1]
    assert out[1]["parent"] == 0 and out[0]["sub_score"] == 95 and out[0]["n_sub"] == 1
    assert len(T.select_secondaries([mapping(100), mapping(95, tid=1)], 15, dict(best_n=0))) == 1
    # identical coordinates on the same target: a copy, dropped
    assert len(T.select_secondaries([mapping(100), mapping(95)], 15, dict(pri_ratio=0.8))) == 1


@pytest.mark.parametrize("max_gap,kept", [(5000, False), (50, True)])
def test_opposite_strand_rescue(max_gap, kept):
    out = T.select_secondaries([mapping(100), mapping(60, tid=1, strand=1)], 15,
                               dict(pri_ratio=0.8, max_gap=max_gap))
    assert (len(out) == 2) == kept
    if kept:
        assert out[1]["is_inversion_candidate"] == 1
        # divergence decides later: removed at >= 0.01 and >= 5x the primary's
        out[0]["divergence"], out[1]["divergence"] = 0.001, 0.2
        assert len(T.prune_inversion_candidates(out)) == 1
        out[1]["divergence"] = 0.004
        assert len(T.prune_inversion_candidates(out)) == 2
        out[1]["divergence"] = -1.0
        assert len(T.prune_inversion_candidates(out)) == 2


def test_best_n_counts_secondaries_of_all_primaries():
    ms = [mapping(100, qs=0, qe=1000), mapping(90, qs=2000, qe=3000),
          mapping(95, tid=1), mapping(85, tid=2, qs=2000, qe=3000), mapping(80, tid=3)]
    ranked = T.sort_mappings(ms, 0.15)
    out = T.select_secondaries(ranked, 15, dict(best_n=1))
    secondaries = [m for m in out if m["is_secondary"]]
    assert [m["score"] for m in secondaries] == [95]
    # parents point into the kept list
    for m in out:
        assert out[m["parent"]]["is_secondary"] == 0


def test_alternate_target_discount():
    assert T.alt_adjusted_score(100, True, 0.15) == 85
    assert T.alt_adjusted_score(1, True, 0.15) == 1
    assert T.alt_adjusted_score(-5, True, 0.15) == -5
    assert T.alt_adjusted_score(100, False, 0.15) == 100
    out = T.select_secondaries([mapping(100), mapping(100, tid=1, is_alt=1)], 15, dict(alt_drop=0.15))
    assert out[0]["sub_score"] == 85


def test_sort_is_stable_by_score_then_hash():
    ms = [mapping(50, h=1, ts=1), mapping(60, h=0), mapping(50, h=9, ts=2), mapping(50, h=1, ts=3)]
    out = T.sort_mappings(ms, 0.15)
    assert [(m["score"], m["hash"], m["target_start"]) for m in out] == [
        (60, 0, 0), (50, 9, 2), (50, 1, 1), (50, 1, 3)]
    # alternate targets rank by their discounted score
    out = T.sort_mappings([mapping(100, is_alt=1), mapping(90)], 0.15)
    assert [m["score"] for m in out] == [90, 100]

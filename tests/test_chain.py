"""Chaining: the worked example, the score function, every vector chainer
against the scalar reference on random anchor sets, RMQ chaining and its
tree against brute force, partitioning and sorting."""

import random
import struct

import pytest

import tessiqpy._testing as T

VECTOR = ["sse", "avx2", "avx512"]
HAVE = T.cpu_features()
AVAILABLE = [v for v in VECTOR if v == "sse" or (v == "avx2" and HAVE["avx2"]) or
             (v == "avx512" and HAVE["avx512bw"])]


def anchor(tpos, qpos, span=15, rid=0, rev=False, seg=0):
    return ((int(rev) << 63) | (rid << 32) | tpos, (seg << 48) | (span << 32) | qpos)


def f32(v):
    return struct.unpack("f", struct.pack("f", v))[0]


def model_log2(x):
    """The polynomial logarithm on float bits, in float32 steps."""
    bits = struct.unpack("I", struct.pack("f", f32(x)))[0]
    e = f32(((bits >> 23) & 255) - 128)
    m = struct.unpack("f", struct.pack("I", (bits & 0x807FFFFF) | 0x3F800000))[0]
    r = f32(m * f32(-0.34484842))
    r = f32(r + f32(2.0246658))
    r = f32(r * m)
    r = f32(r + f32(-0.6748776))
    return f32(r + e)


# ---- score function -----------------------------------------------------------


def test_approx_log2_reference_and_model():
    assert T.approx_log2(3.0) == pytest.approx(1.5862122, abs=1e-7)
    rng = random.Random(3)
    for x in [2.0, 3.0, 4.0, 1000.0, 65537.0] + [float(rng.randint(2, 10**6)) for _ in range(500)]:
        assert T.approx_log2(x) == model_log2(x)


WORKED = [anchor(100, 50), anchor(120, 70), anchor(140, 92)]
WORKED_PARAMS = dict(min_cnt=2, min_chain_score=0, bandwidth=500, chn_pen_gap=0.12, chn_pen_skip=0.0)


@pytest.mark.parametrize("variant", ["scalar", "dispatch", "partitioned", "rmq"] + AVAILABLE)
def test_worked_example(variant):
    chains, anchors = T.chain(variant, WORKED, WORKED_PARAMS)
    assert chains == [0x2C00000003]
    assert anchors == WORKED


@pytest.mark.parametrize(
    "i,j,kwargs,expected",
    [
        # dr = 0 on the same segment is invalid; on different segments it
        # scores min(span, dg) + 1 with dg = min(dr, dq) = 0, penalty-free
        (anchor(100, 60), anchor(100, 50), {}, None),
        (anchor(100, 60, seg=1), anchor(100, 50), {"n_seg": 2}, 1),
        # different targets are not tested here (the window rule keeps them apart)
        (anchor(120, 70), anchor(100, 50), {}, 15),
        (anchor(100, 50), anchor(120, 70), {}, None),  # dq <= 0
        (anchor(7000, 6050), anchor(100, 50), {}, None),  # dq > max_dist_x
        (anchor(900, 70), anchor(100, 50), {}, None),  # dd > bandwidth
    ],
)
def test_link_score_cases(i, j, kwargs, expected):
    assert T.link_score(i, j, WORKED_PARAMS, **kwargs) == expected


def test_single_anchor_and_min_cnt():
    assert T.chain("scalar", [anchor(100, 50)], dict(min_cnt=1, min_chain_score=0))[0] == [(15 << 32) | 1]
    two = [anchor(100, 50), anchor(120, 70)]
    assert T.chain("scalar", two, dict(min_cnt=3, min_chain_score=0)) == ([], [])
    assert T.chain("scalar", [], None) == ([], [])


def test_strands_and_targets_never_chain():
    a = sorted([anchor(100, 50), anchor(120, 70, rid=1), anchor(140, 92, rev=True)])
    chains, _ = T.chain("scalar", a, dict(min_cnt=2, min_chain_score=0))
    assert chains == []


def test_nearest_predecessor_wins_ties():
    # j=0 and j=1 give the same score for anchor 2; the nearer (j=1) wins
    a = [anchor(100, 50), anchor(100, 60, span=15, seg=1), anchor(130, 80)]
    chains, anchors = T.chain("scalar", sorted(a), dict(min_cnt=1, min_chain_score=0), n_seg=2)
    assert chains


# ---- random anchor sets: vector chainers against the scalar reference ----------


def random_anchors(rng, n):
    out = []
    n_targets = rng.randint(1, 3)
    while len(out) < n:
        rid, rev = rng.randrange(n_targets), rng.random() < 0.3
        t, q = rng.randint(0, 20000), rng.randint(0, 5000)
        for _ in range(rng.randint(1, 60)):
            step = rng.randint(1, 60)
            t += step + (rng.randint(-8, 8) if rng.random() < 0.3 else 0)
            q += step
            if rng.random() < 0.05:  # a long jump
                t += rng.randint(100, 4000)
            if t < 0 or q < 0:
                continue
            out.append(anchor(t, q, span=rng.randint(10, 28), rid=rid, rev=rev))
    noise = [anchor(rng.randint(0, 30000), rng.randint(0, 8000), span=rng.randint(10, 28),
                    rid=rng.randrange(n_targets), rev=rng.random() < 0.3) for _ in range(n // 5)]
    return sorted(out[:n] + noise)


def random_params(rng):
    return dict(
        min_cnt=rng.choice([1, 2, 3]), min_chain_score=rng.choice([0, 20, 40]),
        bandwidth=rng.choice([50, 100, 500, 2000]), max_chain_skip=rng.choice([1, 5, 25]),
        max_chain_iter=rng.choice([10, 63, 64, 65, 5000]),
        chn_pen_gap=rng.choice([0.12, 0.152, 1.25]), chn_pen_skip=rng.choice([0.0, 0.0, 0.05]),
    )


@pytest.mark.parametrize("seed", range(50))
def test_vector_chainers_equal_scalar(seed):
    # 50 x 40 = 2000 random anchor sets
    rng = random.Random(seed)
    for _ in range(40):
        a = random_anchors(rng, rng.randint(1, 700))
        p = random_params(rng)
        mdx, mdy = rng.choice([(5000, 5000), (200, 300), (20000, 1000)])
        expected = T.chain("scalar", a, p, max_dist_x=mdx, max_dist_y=mdy)
        for v in AVAILABLE + ["dispatch"]:
            assert T.chain(v, a, p, max_dist_x=mdx, max_dist_y=mdy) == expected, (v, p)


@pytest.mark.parametrize("seed", range(10))
def test_batch_kernels_equal_scalar_formula(seed):
    rng = random.Random(100 + seed)
    a = random_anchors(rng, 300)
    p = random_params(rng)
    for _ in range(20):
        i = rng.randrange(1, len(a))
        start = rng.randrange(0, i)
        ref = T.chain_batch("scalar", a, i, p, 5000, 5000, start, i)
        for v in AVAILABLE:
            # windows of every length exercise the scalar remainder
            assert T.chain_batch(v, a, i, p, 5000, 5000, start, i) == ref


def assert_links_follow(a, pred, chains, anchors):
    """Every consecutive pair of anchors in every chain is a predecessor link
    of the model."""
    index = {x: k for k, x in enumerate(a)}
    off = 0
    for word in chains:
        cnt = word & 0xFFFFFFFF
        block = anchors[off:off + cnt]
        off += cnt
        for prev, cur in zip(block, block[1:]):
            assert pred[index[cur]] == index[prev]


def exhaustive_model(a, p, mdx, mdy):
    """Best predecessor over the whole window, earliest on ties (f and p only)."""
    bw = p["bandwidth"]
    mdx, mdy = max(mdx, bw), max(mdy, bw)
    f, pred = [], []
    st = 0
    for i, ai in enumerate(a):
        while st < i and ((a[st][0] >> 32) != (ai[0] >> 32) or a[st][0] + mdx < ai[0]):
            st += 1
        best, bj = (ai[1] >> 32) & 0xFF, -1
        scores = T.chain_batch("scalar", a, i, p, mdx, mdy, st, i) if st < i else []
        for j, s in zip(range(st, i), scores):
            if s != -(2**31) and s + f[j] > best:
                best, bj = s + f[j], j
        f.append(best)
        pred.append(bj)
    return f, pred


@pytest.mark.parametrize("seed", range(5))
def test_exhaustive_mode_takes_best_over_whole_window(seed):
    rng = random.Random(200 + seed)
    a = random_anchors(rng, rng.randint(40, 200))
    p = dict(random_params(rng), max_chain_skip=0, min_cnt=1, min_chain_score=0)
    results = {v: T.chain(v, a, p) for v in AVAILABLE}
    assert len(set(map(repr, results.values()))) == 1
    # every chain's score equals the model's best-predecessor recurrence
    f, pred = exhaustive_model(a, p, 5000, 5000)
    assert_links_follow(a, pred, *results[AVAILABLE[0]])


def test_exhaustive_mode_differs_from_scalar_skip_scan():
    # max_chain_skip = 0: the scalar scan stops at the first non-improving
    # predecessor on a used chain, the vector chainers do not
    rng = random.Random(7)
    differ = False
    for _ in range(40):
        a = random_anchors(rng, 300)
        p = dict(random_params(rng), max_chain_skip=0)
        if T.chain("scalar", a, p) != T.chain(AVAILABLE[0], a, p):
            differ = True
            break
    assert differ


@pytest.mark.parametrize(
    "params",
    [dict(bandwidth=0), dict(bandwidth=-5), dict(max_chain_iter=-3), dict(max_chain_iter=2**31 - 1),
     dict(max_chain_skip=-1), dict(min_cnt=-4, min_chain_score=-100), dict(bandwidth=2**31 - 1),
     dict(chn_pen_gap=1e30), dict(max_gap=-10, rmq_inner_dist=-5, rmq_size_cap=0)],
)
def test_extreme_options_do_not_crash(params):
    a = random_anchors(random.Random(11), 200)
    for v in ["scalar", "dispatch", "rmq", "partitioned"] + AVAILABLE:
        chains, anchors = T.chain(v, a, params)
        assert sum(c & 0xFFFFFFFF for c in chains) == len(anchors)


# ---- output layout and partitions ----------------------------------------------


def test_chains_ordered_by_first_anchor_and_partitions_in_order():
    a = sorted(
        [anchor(1000 + 20 * k, 100 + 20 * k, rid=r, rev=rev) for r in (0, 1) for rev in (False, True)
         for k in range(5)]
    )
    p = dict(min_cnt=2, min_chain_score=0)
    chains, anchors = T.chain("partitioned", a, p)
    firsts, off = [], 0
    for word in chains:
        firsts.append(anchors[off])
        off += word & 0xFFFFFFFF
    keys = [(x >> 63, (x >> 32) & 0x7FFFFFFF) for x, _ in firsts]
    assert keys == [(0, 0), (0, 1), (1, 0), (1, 1)]
    assert T.chain("scalar", a, p) == (chains, anchors)


def test_single_target_both_strands_is_one_partition():
    a = sorted([anchor(100 + 20 * k, 50 + 20 * k, rev=rev) for rev in (False, True) for k in range(4)])
    p = dict(min_cnt=2, min_chain_score=0)
    assert T.chain("partitioned", a, p) == T.chain("scalar", a, p)


# ---- RMQ chaining and its tree ------------------------------------------------


def check_tree(tree, model):
    root, nodes = tree.dump()
    keys = [(y, i) for y, i, *_ in nodes]
    assert keys == sorted(model)
    assert len(tree) == len(model)
    by_key = {(y, i): (prio, bal, sub, left, right) for y, i, prio, bal, sub, left, right in nodes}

    def walk(key):
        if key is None:
            return 0, None
        prio, bal, sub, left, right = by_key[key]
        hl, ml = walk(left)
        hr, mr = walk(right)
        assert bal == hr - hl and bal in (-1, 0, 1)
        best = key
        if ml is not None and not (prio < by_key[ml][0]):
            best = ml
        if mr is not None and by_key[mr][0] <= by_key[best][0]:
            best = mr
        # ties may resolve to another node after a rotation: compare priorities
        assert by_key[sub][0] == by_key[best][0]
        assert sub == key or sub in subtree_keys(key)
        return 1 + max(hl, hr), best

    def subtree_keys(key):
        if key is None:
            return set()
        _, _, _, left, right = by_key[key]
        return {key} | subtree_keys(left) | subtree_keys(right)

    walk(root)


def test_avl_tree_against_brute_force():
    rng = random.Random(5)
    tree, model = T.RmqTree(), {}
    for step in range(3000):
        op = rng.random()
        if op < 0.55 or not model:
            key = (rng.randint(-50, 200), rng.randint(0, 2**32 - 1) if rng.random() < 0.1 else rng.randint(0, 50))
            if key in model:
                continue
            prio = float(rng.randint(-20, 20))  # ties on purpose
            tree.insert(key[0], key[1], prio)
            model[key] = prio
        elif op < 0.85:
            key = rng.choice(list(model)) if rng.random() < 0.9 else (999, 999)
            tree.erase(*key)
            model.pop(key, None)
        else:
            lo = (rng.randint(-60, 210), rng.choice([0, 2**32 - 1, rng.randint(0, 50)]))
            hi = (rng.randint(lo[0], 220), rng.choice([0, 2**32 - 1, rng.randint(0, 50)]))
            inside = [k for k in model if lo <= k <= hi]
            got = tree.range_min(lo[0], lo[1], hi[0], hi[1])
            if not inside:
                assert got is None
            else:
                assert got is not None and lo <= got[:2] <= hi
                assert got[2] == min(model[k] for k in inside)
        if step % 100 == 0:
            check_tree(tree, model)
    check_tree(tree, model)
    below = tree.below(100, 0)
    assert below == sorted([k for k in model if k < (100, 0)], reverse=True)


def rmq_model(a, p):
    """f and predecessors of RMQ chaining, by brute force over the same rules
    (no inner tree: rmq_inner_dist = 0, no size cap)."""
    bw = p.get("bandwidth", 500)
    max_dist = max(p.get("max_gap", 5000), bw)
    gap = f32(p.get("chn_pen_gap", 0.12))
    f, pred = [], []

    def simple(i, j):
        qi, qj = a[i][1] & 0xFFFFFFFF, a[j][1] & 0xFFFFFFFF
        ti, tj = a[i][0] & 0xFFFFFFFF, a[j][0] & 0xFFFFFFFF
        dq, dr = qi - qj, ti - tj
        dd = abs(dr - dq)
        span = (a[j][1] >> 32) & 0xFF
        dg = min(dr, dq)
        sc = min(span, dg)
        if dd > 0 or dq > span:
            lg = model_log2(dd + 1) if dd > 0 else 0.0
            pen = f32(f32(f32(dd * gap) + f32(0.5 * lg)))
            sc -= int(pen)
        return sc, dd

    for i, ai in enumerate(a):
        best, bj = (ai[1] >> 32) & 0xFF, -1
        cands = []
        for j in range(i):
            if a[j][0] == ai[0] or (a[j][0] >> 32) != (ai[0] >> 32) or ai[0] > a[j][0] + max_dist:
                continue
            qj, qi = a[j][1] & 0xFFFFFFFF, ai[1] & 0xFFFFFFFF
            if not (qi - max_dist < qj < qi):
                continue
            s = (a[j][0] & 0xFFFFFFFF) + qj
            cands.append((-(f[j] + s * (0.5 * gap)), j))
        if cands:
            m = min(c[0] for c in cands)
            for prio, j in cands:
                if prio == m:
                    sc, width = simple(i, j)
                    if width <= bw and sc + f[j] > best:
                        best, bj = sc + f[j], j
                    break
        f.append(best)
        pred.append(bj)
    return f, pred


def test_rmq_chaining_follows_range_minimum_rule():
    rng = random.Random(9)
    for _ in range(20):
        # distinct priorities keep the tie rules out of this comparison
        a = random_anchors(rng, rng.randint(2, 150))
        a = sorted({x: y for x, y in a}.items())
        p = dict(min_cnt=1, min_chain_score=0, rmq_inner_dist=0, rmq_size_cap=10**6, bandwidth=500)
        f, pred = rmq_model(a, p)
        assert_links_follow(a, pred, *T.chain("rmq", a, p))


def test_rmq_equal_x_never_chain_and_cap_evicts():
    a = [anchor(100, 50), anchor(100, 50 + 0)]  # same x twice
    assert T.chain("rmq", sorted(a), dict(min_cnt=2, min_chain_score=0)) == ([], [])
    line = [anchor(100 + 20 * k, 50 + 20 * k) for k in range(10)]
    full = T.chain("rmq", line, dict(min_cnt=1, min_chain_score=0))
    assert full[0][0] & 0xFFFFFFFF == 10
    capped = T.chain("rmq", line, dict(min_cnt=1, min_chain_score=0, rmq_size_cap=0, rmq_inner_dist=0))
    # with an empty tree no anchor finds a predecessor
    assert all(c & 0xFFFFFFFF == 1 for c in capped[0])


# ---- sorting -----------------------------------------------------------------


@pytest.mark.parametrize("n", [0, 1, 2, 64, 65, 1000, 20000])
def test_rs_sort_matches_plain_sort(n):
    rng = random.Random(n)
    recs = [(rng.choice([rng.getrandbits(64), rng.getrandbits(20), 5]), k) for k in range(n)]
    got = T.sort_records(recs)
    assert sorted(got) == sorted(recs)  # same multiset
    assert [x for x, _ in got] == sorted(x for x, _ in recs)
    if n <= 64:  # insertion sort is stable
        assert got == sorted(recs, key=lambda r: r[0])
    assert [x for x, _ in T.rs_sort(recs, 56)] == sorted(x for x, _ in recs)

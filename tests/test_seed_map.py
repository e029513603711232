"""Seed collection and the chain-level mapping driver, against plain models
and on small genomes with known answers."""

import random

import pytest

import tessiqpy
import tessiqpy._testing as T

import models


def rc(s):
    return s[::-1].translate(bytes.maketrans(b"ACGTacgt", b"TGCAtgca"))


def random_dna(rng, n):
    return bytes(rng.choice(b"ACGT") for _ in range(n))


@pytest.fixture(scope="module")
def genome():
    """Two targets with a repeat family (a 60-base unit copied 40 times, so its
    minimizers are frequent) between unique sequence."""
    rng = random.Random(42)
    unit = random_dna(rng, 60)
    t0 = b"".join(random_dna(rng, 300) + unit for _ in range(20)) + random_dna(rng, 3000)
    t1 = random_dna(rng, 4000) + b"".join(unit + random_dna(rng, 200) for _ in range(20))
    seqs = [(b"chrA", t0), (b"chrB", t1)]
    return seqs, tessiqpy.Index.build(seqs), T.index_build(seqs)


# ---- query minimizer filter ----------------------------------------------------


def filter_model(mins, q_occ_max, frac):
    import struct
    n = len(mins)
    prod = struct.unpack("f", struct.pack("f", n * struct.unpack("f", struct.pack("f", frac))[0]))[0]
    limit = max(int(prod) if prod > 0 else 0, q_occ_max)
    counts = {}
    for x, _ in mins:
        counts[x] = counts.get(x, 0) + 1
    return [m for m in mins if counts[m[0]] <= limit]


@pytest.mark.parametrize("seed", range(10))
def test_query_minimizer_filter_matches_model(seed):
    rng = random.Random(seed)
    xs = [rng.randrange(30) << 8 | rng.choice([15, 16]) for _ in range(rng.randint(0, 300))]
    mins = [(x, i << 1) for i, x in enumerate(xs)]
    for q_occ_max, frac in [(0, 0.01), (3, 0.0), (5, 0.05), (0, 0.5)]:
        assert T.filter_minimizers_by_occ(mins, q_occ_max, frac) == filter_model(mins, q_occ_max, frac)


# ---- seed selection ---------------------------------------------------------------


def matches_model(counts, positions, spans, qlen, max_max_occ, occ_dist, max_occ):
    """counts/positions/spans per looked-up seed, in query order."""
    m = len(counts)
    filtered = [False] * m
    if occ_dist <= 0 or max_occ >= max_max_occ:
        filtered = [c > max_occ for c in counts]
    elif m >= 2 and any(c > max_occ for c in counts):
        last = -1
        for i in range(m + 1):
            if i < m and counts[i] > max_occ:
                continue
            if i - last > 1:
                ps = 0 if last < 0 else positions[last]
                pe = qlen if i == m else positions[i]
                quota = max(0, int((pe - ps) / occ_dist + 0.499))
                streak = list(range(last + 1, i))
                keep = set(sorted(streak, key=lambda j: (counts[j], j))[:min(quota, 128)])
                for j in streak:
                    filtered[j] = j not in keep or counts[j] > max_max_occ
            last = i
    rep_len = rep_st = rep_en = 0
    n_a, mini_pos, kept = 0, [], []
    for j in range(m):
        if filtered[j]:
            en = positions[j] + 1
            st = max(en - spans[j], 0)
            if st > rep_en:
                rep_len += rep_en - rep_st
                rep_st, rep_en = st, en
            else:
                rep_en = en
        else:
            n_a += counts[j]
            mini_pos.append(spans[j] << 32 | positions[j])
            kept.append(j)
    rep_len += rep_en - rep_st
    return n_a, rep_len, mini_pos, kept


def query_seeds(index_bytes, mins):
    looked = []
    for i, (x, y) in enumerate(mins):
        occ = T.lookup(index_bytes, x >> 8)
        if occ:
            looked.append((i, len(occ), (y & 0xFFFFFFFF) >> 1, x & 0xFF))
    return looked


@pytest.mark.parametrize(
    "max_max_occ,occ_dist,max_occ",
    [(4095, 500, 10), (4095, 0, 10), (20, 500, 30), (4095, 37, 5), (35, 80, 5), (4095, 500, 1000)],
)
def test_seed_selection_matches_model(genome, max_max_occ, occ_dist, max_occ):
    seqs, index, data = genome
    rng = random.Random(max_occ + occ_dist)
    for _ in range(8):
        t = seqs[rng.randrange(2)][1]
        st = rng.randrange(0, len(t) - 1500)
        q = t[st:st + rng.randint(200, 1500)]
        mins = T.sketch_minimizers(q, 10, 15)
        looked = query_seeds(data, mins)
        counts = [c for _, c, _, _ in looked]
        n_a, rep_len, mini_pos, kept = matches_model(
            counts, [p for _, _, p, _ in looked], [s for *_, s in looked], len(q),
            max_max_occ, occ_dist, max_occ)
        got = T.collect_anchor_matches(index, len(q), mins, max_max_occ, occ_dist, max_occ)
        assert got == (n_a, rep_len, mini_pos, [looked[j][0] for j in kept])


def test_single_frequent_seed_is_kept_only_by_streak_selection(genome):
    seqs, index, data = genome
    mins = T.sketch_minimizers(seqs[0][1][300:360], 10, 15)  # inside the repeat unit
    looked = query_seeds(data, mins)
    one = [mins[looked[0][0]]]
    assert looked[0][1] > 10
    assert T.collect_anchor_matches(index, 60, one, 4095, 500, 10)[3] == [0]
    assert T.collect_anchor_matches(index, 60, one, 4095, 0, 10)[3] == []


def test_rep_len_counts_overlaps_once(genome):
    # two filtered seeds covering [10, 25) and [20, 35): 25 bases
    _, index, data = genome
    x = None
    for cand in T.sketch_minimizers(genome[0][0][1][300:360], 10, 15):
        if len(T.lookup(data, cand[0] >> 8)) > 1:
            x = cand[0]
            break
    mins = [(x, 24 << 1), (x, 34 << 1)]
    n_a, rep_len, _, kept = T.collect_anchor_matches(index, 100, mins, 4095, 0, 0)
    assert (n_a, rep_len, kept) == (0, 25, [])


# ---- anchors --------------------------------------------------------------------


def anchors_model(index_bytes, q, name=None, flags=0, targets=None):
    mins = T.sketch_minimizers(q, 10, 15)
    out = []
    xs = [x >> 8 for x, _ in mins]
    for i, (x, y) in enumerate(mins):
        occ = T.lookup(index_bytes, x >> 8)
        if not occ or len(occ) > 10**6:
            continue
        tandem = int((i > 0 and xs[i - 1] == xs[i]) or (i + 1 < len(xs) and xs[i + 1] == xs[i]))
        v = y & 0xFFFFFFFF
        qp, span = v >> 1, x & 0xFF
        for r in occ:
            t, rp = r >> 32, (r >> 1) & 0x7FFFFFFF
            self_bit = 0
            if name is not None and flags & 3:
                tname, tlen = targets[t]
                if flags & 1 and name == tname and len(q) == tlen:
                    if rp == qp:
                        continue
                    self_bit = int((v & 1) == (r & 1))
                elif flags & 2 and name > tname:
                    continue
            if (v & 1) == (r & 1):
                ax, ay = t << 32 | rp, span << 32 | qp
            else:
                ax, ay = 1 << 63 | t << 32 | rp, span << 32 | (len(q) + span - qp - 2)
            out.append((ax, ay | tandem << 42 | self_bit << 43))
    return out


def test_anchors_match_model_in_both_collectors(genome):
    seqs, index, data = genome
    rng = random.Random(5)
    for _ in range(10):
        t = seqs[rng.randrange(2)][1]
        st = rng.randrange(0, len(t) - 800)
        q = t[st:st + 800]
        if rng.random() < 0.5:
            q = rc(q)
        expected = anchors_model(data, q)
        opts = {"mid_occ": 10**6, "max_max_occ": 10**7}
        anchors, mini_pos, rep_len = T.collect_seeds(index, q, None, "map-ont", False, opts)
        assert sorted(anchors) == sorted(expected)
        assert [x for x, _ in anchors] == sorted(x for x, _ in expected)
        heap, _, _ = T.collect_seeds(index, q, None, "map-ont", True, opts)
        forward = [a for a in heap if not a[0] >> 63]
        reverse = [a for a in heap if a[0] >> 63]
        assert heap == forward + reverse
        assert sorted(heap) == sorted(expected)
        # occurrence order within each block: by target id, position, strand
        assert [a[0] for a in forward] == sorted(a[0] for a in forward)


@pytest.mark.parametrize("flags", [1, 2, 3])
def test_self_and_dual_skip_rules(flags):
    rng = random.Random(8)
    s = random_dna(rng, 2000)
    seqs = [(b"a", s), (b"b", rc(s)), (b"c", s[:1500])]
    index, data = tessiqpy.Index.build(seqs), T.index_build(seqs)
    targets = [("a", 2000), ("b", 2000), ("c", 1500)]
    opts = {"flags_or": flags, "mid_occ": 10**6, "max_max_occ": 10**7}
    for name in ["a", "b"]:
        got, _, _ = T.collect_seeds(index, s, name, "map-ont", False, opts)
        assert sorted(got) == sorted(anchors_model(data, s, name, flags, targets))
    got, _, _ = T.collect_seeds(index, s, "a", "map-ont", False, opts)
    on_a = [a for a in got if (a[0] >> 32) & 0x7FFFFFFF == 0]
    if flags & 1:
        # the self-mapping's diagonal is gone; same-strand anchors carry the self bit
        assert all((a[0] & 0xFFFFFFFF) != (a[1] & 0xFFFFFFFF) for a in on_a if not a[0] >> 63)
        assert all(a[1] >> 43 & 1 for a in on_a if not a[0] >> 63)
    else:
        # query "a" sorts before target "a"? equal: no dual skip; before "b", "c": kept
        assert on_a


# ---- the mapping driver ---------------------------------------------------------------


@pytest.fixture(scope="module")
def ecoli_like():
    rng = random.Random(11)
    seqs = [(b"t0", random_dna(rng, 60000)), (b"t1", random_dna(rng, 40000))]
    return seqs, tessiqpy.Index.build(seqs)


def test_forward_and_reverse_coordinates(ecoli_like):
    seqs, index = ecoli_like
    t = seqs[0][1]
    q = t[10000:10000 + 1000]
    fwd = T.map_query(index, b"q", q)["mappings"][0]
    assert (fwd["strand"], fwd["target_id"]) == (0, 0)
    assert abs(fwd["target_start"] - 10000) < 20 and abs(fwd["target_end"] - 11000) < 20
    rev = T.map_query(index, b"q", rc(q))["mappings"][0]
    assert rev["strand"] == 1
    assert (rev["query_start"], rev["query_end"]) == (1000 - fwd["query_end"], 1000 - fwd["query_start"])
    assert (rev["target_start"], rev["target_end"]) == (fwd["target_start"], fwd["target_end"])


def test_empty_and_unmappable_queries(ecoli_like):
    _, index = ecoli_like
    for q in [b"", b"ACGT", b"N" * 500]:
        r = T.map_query(index, b"q", q)
        assert r["mappings"] == [] and r["squeezed_anchors"] == []
    r = T.map_query(index, b"q", random_dna(random.Random(3), 1000))
    assert r["mappings"] == []


def test_score_filter_keeps_anchor_counts(ecoli_like):
    seqs, index = ecoli_like
    r = T.map_query(index, b"q", seqs[1][1][500:1500], "map-ont", {"min_chain_score": 10**6})
    assert r["mappings"] == [] and r["n_anchors"] > 0


def test_forward_only_drops_reverse_mappings(ecoli_like):
    seqs, index = ecoli_like
    q = rc(seqs[1][1][500:1500])
    assert T.map_query(index, b"q", q)["mappings"]
    assert T.map_query(index, b"q", q, "map-ont", {"flags_or": 0x100000})["mappings"] == []


def test_name_hash_decides_ties(ecoli_like):
    seqs, index = ecoli_like
    q = seqs[0][1][20000:21000]
    a = T.map_query(index, b"read-a", q)["mappings"][0]["hash"]
    b = T.map_query(index, b"read-b", q)["mappings"][0]["hash"]
    assert a != b
    nohash = {"flags_or": 0x20000000}
    a = T.map_query(index, b"read-a", q, "map-ont", nohash)["mappings"][0]["hash"]
    b = T.map_query(index, b"read-b", q, "map-ont", nohash)["mappings"][0]["hash"]
    assert a == b
    assert T.tie_break_seed("", 100, 11, 0) == T.tie_break_seed("x", 100, 11, 0x20000000)


def test_squeezed_anchors_and_default_bounds(ecoli_like):
    seqs, index = ecoli_like
    # a read made of two separate pieces of t0 and one of t1
    q = seqs[0][1][1000:1800] + seqs[0][1][30000:30800] + seqs[1][1][5000:5800]
    r = T.map_query(index, b"q", q, "map-ont", {"best_n": 10})
    ms = r["mappings"]
    assert len(ms) >= 3
    total = 0
    for m in ms:
        off, cnt = m["squeezed_offset"], len(m["anchors"])
        assert r["squeezed_anchors"][off:off + cnt] == m["anchors"]
        total += cnt
    assert total == len(r["squeezed_anchors"])
    lone = [m for m in ms if m["target_id"] == 1]
    # its neighbours in the squeezed array lie on another target: defaults
    assert (lone[0]["bound_target_start"], lone[0]["bound_query_start"]) == (0, 0)
    assert (lone[0]["bound_target_end"], lone[0]["bound_query_end"]) == (40000, len(q))


def test_divergence_from_seeds_off_the_chain(ecoli_like):
    seqs, index = ecoli_like
    t0 = seqs[0][1]
    exact = T.map_query(index, b"q", t0[40000:42000])["mappings"][0]["divergence"]
    assert exact == 0.0
    # pieces of the other target inside the read: seeds that match the index
    # but not the chain count against it
    q = bytearray(t0[40000:42000])
    for st in range(100, 1900, 300):
        q[st:st + 40] = seqs[1][1][st:st + 40]
    d = T.map_query(index, b"q", bytes(q))["mappings"][0]["divergence"]
    assert 0.0 < d < 0.5
    # short-read mode estimates nothing: divergence stays unset
    sr = T.map_query(index, b"q", t0[40000:40150], "sr")["mappings"][0]["divergence"]
    assert sr == -1.0


def test_all_chains_mode_keeps_every_chain(ecoli_like):
    seqs, index = ecoli_like
    q = seqs[0][1][1000:1800] + seqs[0][1][30000:30800]
    r = T.map_query(index, b"q", q, "map-ont", {"flags_or": 0x800000})
    assert all(m["parent"] == 0 and m["is_secondary"] == 0 for m in r["mappings"])
    for m in r["mappings"]:
        assert 0 <= m["bound_query_start"] and m["bound_query_end"] <= len(q)


def test_long_join_rescue_joins_distant_pieces(ecoli_like):
    seqs, index = ecoli_like
    t0 = seqs[0][1]
    # a 3 kb deletion: wider than the chaining band, within the long-join band
    q = t0[10000:10600] + t0[13600:14200]
    before = T.map_counters()["PC_RESCUE_COUNT"]
    joined = T.map_query(index, b"q", q)["mappings"]
    assert T.map_counters()["PC_RESCUE_COUNT"] == before + 1
    assert joined[0]["target_start"] < 10100 and joined[0]["target_end"] > 14100
    # without a wider long-join band nothing is rescued
    split = T.map_query(index, b"q", q, "map-ont", {"bandwidth_long": 500})["mappings"]
    assert all(m["target_end"] - m["target_start"] < 2000 for m in split)


def test_reseeding_with_the_higher_limit():
    rng = random.Random(21)
    unit = random_dna(rng, 200)
    t = b"".join(unit + random_dna(rng, 500) for _ in range(40))
    index = tessiqpy.Index.build([(b"rep", t)], w=11, k=21)
    q = unit[20:170]
    # the short-read preset caps seeds at the index's cut-off first, then
    # retries with max_occ = 5000 when nothing chained
    r = T.map_query(index, b"q", q, "sr", {"mid_occ": 10})
    assert r["rep_len"] == 0 and r["mappings"]
    r = T.map_query(index, b"q", q, "sr", {"mid_occ": 10, "max_occ": 1})  # no higher limit
    assert r["mappings"] == [] and r["rep_len"] > 0

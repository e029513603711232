"""Plain dynamic programs and helpers for the DP kernel tests: independent
oracles written for clarity, not speed."""

import random

NEG = float("-inf")
ACGT = "ACGTN"


def enc(s):
    return bytes(ACGT.index(c) for c in s)


def matrix(match=2, mismatch=4, amb=1, transition=None):
    m = []
    for a in range(5):
        for b in range(5):
            if a == 4 or b == 4:
                m.append(-amb)
            elif a == b:
                m.append(match)
            elif transition is not None and {a, b} in ({0, 2}, {1, 3}):
                m.append(-transition)
            else:
                m.append(-mismatch)
    return m


def cigar_str(words):
    return "".join(f"{w >> 4}{'MIDNSHP=XB'[w & 15]}" for w in words)


def rand_seq(rng, n, amb=0.0):
    return bytes(4 if rng.random() < amb else rng.randrange(4) for _ in range(n))


def mutate(rng, seq, rate=0.1):
    out = bytearray()
    for b in seq:
        r = rng.random()
        if r < rate / 3:
            continue
        if r < 2 * rate / 3:
            out.append(rng.randrange(4))
        out.append(b if r >= rate else rng.randrange(4))
    return bytes(out)


def sub_score(mat, a, b, m=5):
    return mat[min(a, m - 1) * m + min(b, m - 1)]


def gap_cost(length, pairs):
    return min(q + length * e for q, e in pairs)


def global_affine(query, target, mat, pairs):
    """Global score with gap cost min over `pairs` of q + L*e (one pair: Gotoh,
    two: the two-piece model), one gap state per pair."""
    return affine_matrix(query, target, mat, pairs)[-1][-1]


def affine_matrix(query, target, mat, pairs):
    """The H matrix of global_affine: H[i + 1][j + 1] for target i, query j."""
    n, m = len(target), len(query)
    H = [[NEG] * (m + 1) for _ in range(n + 1)]
    E = [[[NEG] * (m + 1) for _ in range(n + 1)] for _ in pairs]
    F = [[[NEG] * (m + 1) for _ in range(n + 1)] for _ in pairs]
    H[0][0] = 0
    for i in range(1, n + 1):
        H[i][0] = -gap_cost(i, pairs)
    for j in range(1, m + 1):
        H[0][j] = -gap_cost(j, pairs)
    for i in range(1, n + 1):
        for j in range(1, m + 1):
            best = H[i - 1][j - 1] + sub_score(mat, target[i - 1], query[j - 1])
            for k, (q, e) in enumerate(pairs):
                E[k][i][j] = max(H[i - 1][j] - q - e, E[k][i - 1][j] - e)
                F[k][i][j] = max(H[i][j - 1] - q - e, F[k][i][j - 1] - e)
                best = max(best, E[k][i][j], F[k][i][j])
            H[i][j] = best
    return H


def cigar_score(words, query, target, mat, pairs, intron=None):
    """Score of a global CIGAR; N runs cost intron(start, end)."""
    i = j = 0
    score = 0
    for w in words:
        ln, op = w >> 4, w & 15
        if op == 0:
            for k in range(ln):
                score += sub_score(mat, target[i + k], query[j + k])
            i += ln
            j += ln
        elif op == 1:
            score -= gap_cost(ln, pairs)
            j += ln
        elif op == 2:
            score -= gap_cost(ln, pairs)
            i += ln
        elif op == 3:
            score += intron(i, i + ln - 1)
            i += ln
    assert (i, j) == (len(target), len(query)), (i, j)
    return score


def splice_global(query, target, mat, q, e, q2, donor, acceptor):
    """Global score with an intron state: an intron over target bases s..f
    costs q2 - donor[s-1] - acceptor[f]; leading gaps cost min(q + e*len, q2)
    and a leading intron costs q2 - acceptor[f]."""
    return splice_matrix(query, target, mat, q, e, q2, donor, acceptor)[-1][-1]


def splice_matrix(query, target, mat, q, e, q2, donor, acceptor):
    """The H matrix of splice_global: H[i + 1][j + 1] for target i, query j."""
    n, m = len(target), len(query)
    H = [[NEG] * (m + 1) for _ in range(n + 1)]
    E = [[NEG] * (m + 1) for _ in range(n + 1)]
    F = [[NEG] * (m + 1) for _ in range(n + 1)]
    N = [[NEG] * (m + 1) for _ in range(n + 1)]
    H[0][0] = 0
    lead = lambda L: -min(q + e * L, q2)  # noqa: E731
    for i in range(1, n + 1):
        H[i][0] = lead(i)
    for j in range(1, m + 1):
        H[0][j] = lead(j)
    for i in range(1, n + 1):
        for j in range(0, m + 1):
            # intron covering target base i-1 (0-based), entered after row i-1
            opener = H[i - 1][j] - q2 + (donor[i - 2] if i >= 2 else 0)
            N[i][j] = max(opener, N[i - 1][j])
            if j == 0:
                continue
            E[i][j] = max(H[i - 1][j] - q - e, E[i - 1][j] - e)
            F[i][j] = max(H[i][j - 1] - q - e, F[i][j - 1] - e)
            H[i][j] = max(H[i - 1][j - 1] + sub_score(mat, target[i - 1], query[j - 1]),
                          E[i][j], F[i][j], N[i][j] + acceptor[i - 1])
    return H


def exact_maximum(H, qlen, tlen):
    """The maximum fields of the exact mode (no z-drop) from a full H matrix.
    Each anti-diagonal starts from its last cell and folds four interleaved
    lanes, lane 0 first, each lane keeping its first strictly greater cell,
    then the leftover cells; a new maximum must beat the old one strictly.
    The query-end and target-end maxima keep their first best cell."""
    out = {"max": 0, "max_t": -1, "max_q": -1}
    for r in range(qlen + tlen - 1):
        st, en = max(0, r - qlen + 1), min(tlen - 1, r)
        h = {t: H[t + 1][r - t + 1] for t in range(st, en + 1)}
        best, pos = h[en], en
        body = st + 4 * ((en - st) // 4)
        for k in range(4):
            lane = range(st + k, body, 4)
            if lane:
                top = max(h[t] for t in lane)
                if top > best:
                    best, pos = top, next(t for t in lane if h[t] == top)
        for t in range(body, en):
            if h[t] > best:
                best, pos = h[t], t
        if best > out["max"]:
            out.update(max=best, max_t=pos, max_q=r - pos)
    row = [H[t + 1][qlen] for t in range(tlen)]
    col = [H[tlen][j + 1] for j in range(qlen)]
    out.update(mqe=max(row), mqe_t=row.index(max(row)), mte=max(col), mte_q=col.index(max(col)))
    return out


def flanked(query, target):
    """A pair behind a shared 90-base prefix and before unrelated suffixes, so
    that a feature near its end lies mid-way along a 200-cell anti-diagonal."""
    r = random.Random(7)
    prefix, s1, s2 = rand_seq(r, 90), rand_seq(r, 96), rand_seq(r, 96)
    return prefix + query + s1[:92], prefix + target + s2[:90]


def smith_waterman(query, target, mat, gap_open, gap_extend):
    """Best local score and the set of (query_end, target_end) cells holding it."""
    n, m = len(target), len(query)
    best, cells = 0, set()
    Hp = [0] * (m + 1)
    Ep = [0] * (m + 1)
    for i in range(1, n + 1):
        H = [0] * (m + 1)
        E = [0] * (m + 1)
        f = 0
        for j in range(1, m + 1):
            E[j] = max(Ep[j] - gap_extend, Hp[j] - gap_open - gap_extend, 0)
            f = max(f - gap_extend, H[j - 1] - gap_open - gap_extend, 0)
            h = max(0, Hp[j - 1] + mat[target[i - 1] * 5 + query[j - 1]], E[j], f)
            H[j] = h
            if h > best:
                best, cells = h, set()
            if h == best and h > 0:
                cells.add((j - 1, i - 1))
        Hp, Ep = H, E
    return best, cells


def rng(seed):
    return random.Random(seed)

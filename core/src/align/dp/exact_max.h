// The exact anti-diagonal maximum of the dual-affine and splice kernels. Its
// tie-break is part of the result (which cell is reported), so every variant
// uses this one order: start from the last cell, fold four interleaved lanes
// (each keeping its first strictly greater value), then the leftover cells.
// Included inside each unit's own namespace (after lanes.h), so every copy
// has internal linkage and carries the unit's name.

// The cell that order picks for the maximum M of H[st..en]: en when it holds
// M, else the first M of the lowest lane that has one, else the first M among
// the leftover cells. Blocks without M are skipped by a compare-only loop the
// compiler vectorises, so locating the maximum costs one read pass.
static inline int64_t four_lane_pos(const int32_t* H, int64_t st, int64_t en, int32_t M) {
    if (H[en] == M) return en;
    constexpr int64_t BLOCK = 64;  // a multiple of 4: lanes stay (t - st) & 3
    const int64_t body = st + 4 * ((en - st) / 4);
    int64_t best = -1;
    int64_t best_lane = 4;
    for (int64_t b = st; b < body; b += BLOCK) {
        const int64_t n = body - b < BLOCK ? body - b : BLOCK;
        if (n == BLOCK) {
            int any = 0;
            for (int64_t i = 0; i < BLOCK; ++i) any |= H[b + i] == M;
            if (!any) continue;
        }
        for (int64_t t = b; t < b + n; ++t)
            if (H[t] == M && ((t - st) & 3) < best_lane) {
                best_lane = (t - st) & 3;
                best = t;
                if (best_lane == 0) return best;
            }
    }
    if (best >= 0) return best;
    for (int64_t t = body; t < en; ++t)
        if (H[t] == M) return t;
    return en;
}

// Exact mode of the dual-affine and splice kernels after anti-diagonal r:
// H per target position, mte/mqe, the maximum and the z-drop test (with an
// allowance of gap_allow per base of diagonal shift). True when the DP stops.
static inline bool exact_scores(int32_t* H, const int8_t* u, const int8_t* v, int32_t qe,
                                int64_t r, int64_t st, int64_t en, int64_t qlen, int64_t tlen,
                                int32_t zdrop, int32_t gap_allow, DpScores& o) {
    if (r == 0) {
        H[0] = v[0] - qe;
    } else {
        if (en == 0)
            H[0] += v[0];
        else
            H[en] = H[en - 1] + u[en];
    }
    // update and maximum in one pass; the position only when it is needed
    int32_t mx = H[en];
    if (r > 0)
        for (int64_t t = st; t < en; ++t) {
            const int32_t h = H[t] + v[t];
            H[t] = h;
            mx = h > mx ? h : mx;
        }
    if (en == tlen - 1 && H[en] > o.mte) {
        o.mte = H[en];
        o.mte_q = int32_t(r - en);
    }
    if (r - st == qlen - 1 && H[st] > o.mqe) {
        o.mqe = H[st];
        o.mqe_t = int32_t(st);
    }
    const bool may_drop = zdrop >= 0 && (gap_allow < 0 || int64_t(o.max) - mx > zdrop);
    if (mx > o.max || may_drop) {
        const int32_t b = mx;
        const int64_t pos = four_lane_pos(H, st, en, mx);
        if (b > o.max) {
            o.max = b;
            o.max_t = int32_t(pos);
            o.max_q = int32_t(r - pos);
        } else if (pos >= o.max_t && r - pos >= o.max_q) {
            const int64_t dt = pos - o.max_t, dq = (r - pos) - o.max_q;
            const int64_t l = dt > dq ? dt - dq : dq - dt;
            if (int64_t(o.max) - b > int64_t(zdrop) + int64_t(gap_allow) * l) {
                o.z_dropped = 1;
                return true;
            }
        }
    }
    if (r == qlen + tlen - 2 && en == tlen - 1) o.score = H[tlen - 1];
    return false;
}

// Path mode (APPROX_MAX): one cell per anti-diagonal, differences without
// offset. Max and z-drop only with APPROX_DROP. True when the DP stops.
static inline bool path_scores(const int8_t* u, const int8_t* v, int32_t qe, int64_t r, int64_t st,
                               int64_t en, int64_t qlen, int64_t tlen, bool approx_drop,
                               int32_t zdrop, int32_t gap_allow, int64_t& t0, int64_t& H0,
                               DpScores& o) {
    if (r == 0) {
        H0 = v[0] - qe;
        t0 = 0;
    } else if (t0 < st || t0 > en) {
        ++t0;
        H0 += u[t0];
    } else if (t0 < en) {
        if (v[t0] > u[t0 + 1]) {
            H0 += v[t0];
        } else {
            H0 += u[t0 + 1];
            ++t0;
        }
    } else {
        H0 += v[t0];
    }
    if (approx_drop) {
        if (H0 > o.max) {
            o.max = int32_t(H0);
            o.max_t = int32_t(t0);
            o.max_q = int32_t(r - t0);
        } else if (t0 >= o.max_t && zdrop >= 0 && r - t0 >= o.max_q) {
            const int64_t dt = t0 - o.max_t, dq = (r - t0) - o.max_q;
            const int64_t l = dt > dq ? dt - dq : dq - dt;
            if (int64_t(o.max) - H0 > int64_t(zdrop) + int64_t(gap_allow) * l) {
                o.z_dropped = 1;
                return true;
            }
        }
    }
    if (r == qlen + tlen - 2 && en == tlen - 1) o.score = int32_t(H0);
    return false;
}

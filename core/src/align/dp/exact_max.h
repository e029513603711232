// The exact anti-diagonal maximum of the dual-affine and splice kernels. Its
// tie-break is part of the result (which cell is reported), so every variant
// uses this one order: start from the last cell, fold four interleaved lanes
// (each keeping its first strictly greater value), then the leftover cells.
// Included inside each unit's own namespace (after lanes.h), so every copy
// has internal linkage and carries the unit's name.

static inline void four_lane_max(const int32_t* H, int64_t st, int64_t en, int32_t* best,
                                 int64_t* pos) {
    int32_t b = H[en];
    int64_t p = en;
    const int64_t n4 = 4 * ((en - st) / 4);
    for (int k = 0; k < 4; ++k) {
        bool have = false;
        int32_t lb = 0;
        int64_t lp = 0;
        for (int64_t t = st + k; t < st + n4; t += 4)
            if (!have || H[t] > lb) {
                have = true;
                lb = H[t];
                lp = t;
            }
        if (have && lb > b) {
            b = lb;
            p = lp;
        }
    }
    for (int64_t t = st + n4; t < en; ++t)
        if (H[t] > b) {
            b = H[t];
            p = t;
        }
    *best = b;
    *pos = p;
}

// Max value only, for the common case where the position is not needed.
static inline int32_t plain_max(const int32_t* H, int64_t st, int64_t en) {
    int32_t b = H[en];
    for (int64_t t = st; t < en; ++t) b = H[t] > b ? H[t] : b;
    return b;
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
        for (int64_t t = st; t < en; ++t) H[t] += v[t];
    }
    if (en == tlen - 1 && H[en] > o.mte) {
        o.mte = H[en];
        o.mte_q = int32_t(r - en);
    }
    if (r - st == qlen - 1 && H[st] > o.mqe) {
        o.mqe = H[st];
        o.mqe_t = int32_t(st);
    }
    const int32_t mx = plain_max(H, st, en);
    const bool may_drop = zdrop >= 0 && (gap_allow < 0 || int64_t(o.max) - mx > zdrop);
    if (mx > o.max || may_drop) {
        int32_t b;
        int64_t pos;
        four_lane_max(H, st, en, &b, &pos);
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

// Splice-aware kernel: site scores, junction annotations, the scalar
// reference, the vector wrappers with the SSE2 baseline, and the dispatcher.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "align/dp/common.h"
#include "align/dp/vector_common.h"
#include "align/env_flags.h"

namespace tessiq {

namespace dp_sse2 {
#include "align/dp/lanes.h"
#include "align/dp/exact_max.h"
#include "align/dp/splice_impl.h"
void splice_kernel(const VectorArgs& a, DpScores& o) { splice_body(a, o); }
}  // namespace dp_sse2

namespace {

constexpr int A = 0, C = 1, G = 2, T = 3;
bool purine(int b) { return b == A || b == G; }
bool pyrimidine(int b) { return b == C || b == T; }

// Site scores on the forward genome; b0..b2 are the first three intron bases
// (start) or the last three (end).
int fwd_start(const int8_t* sp, int b0, int b1, int b2) {
    if (b0 == G && b1 == T && purine(b2)) return 0;
    if (b0 == G && b1 == T && pyrimidine(b2)) return -sp[0];
    if (b0 == G && b1 == C) return -sp[1];
    if (b0 == A && b1 == T) return -sp[2];
    return -sp[3];
}
int fwd_end(const int8_t* sp, int b0, int b1, int b2) {
    if (b1 == A && b2 == G && pyrimidine(b0)) return 0;
    if (b1 == A && b2 == G && purine(b0)) return -sp[0];
    if (b1 == A && b2 == C) return -sp[2];
    return -sp[3];
}
int rev_start(const int8_t* sp, int b0, int b1, int b2) {
    if (b0 == C && b1 == T && purine(b2)) return 0;
    if (b0 == C && b1 == T && pyrimidine(b2)) return -sp[0];
    if (b0 == G && b1 == T) return -sp[2];
    return -sp[3];
}
int rev_end(const int8_t* sp, int b0, int b1, int b2) {
    if (b1 == A && b2 == C && pyrimidine(b0)) return 0;
    if (b1 == A && b2 == C && purine(b0)) return -sp[0];
    if (b1 == G && b2 == C) return -sp[1];
    if (b1 == A && b2 == T) return -sp[2];
    return -sp[3];
}

// The largest gap length still cheaper than an intron. A non-positive
// extension cost never reaches the intron cost within the matrix.
int32_t splice_long_gap(int32_t q, int32_t e, int32_t q2, int64_t qlen, int64_t tlen) {
    if (e <= 0) return int32_t(std::min<int64_t>(qlen + tlen, 1 << 30));
    const int32_t k = (q2 - q) / e;
    return q + e * k >= q2 ? k - 1 : k;
}

// Fills donor/acceptor (tlen entries) with site scores and annotations.
void splice_sites(const uint8_t* target, int32_t tlen, int8_t noncan, int32_t junc_bonus,
                  int32_t junc_pen, int32_t flags, const uint8_t* junc, int8_t* donor,
                  int8_t* acceptor) {
    int8_t sp[4], fill;
    if (flags & SPLICE_FIXED_PENALTIES) {
        sp[0] = 3, sp[1] = 5, sp[2] = 7, sp[3] = 10;
        fill = -10;
    } else {
        sp[0] = (flags & SPLICE_FLANK) ? int8_t(noncan / 2) : 0;
        sp[1] = sp[2] = sp[3] = noncan;
        fill = int8_t(-noncan);
    }
    std::fill(donor, donor + tlen, fill);
    std::fill(acceptor, acceptor + tlen, fill);
    const bool fwd = flags & SPLICE_FORWARD, rev = flags & SPLICE_REVERSE;
    const bool rc = flags & REVERSE_CIGAR;
    const uint8_t* g = target;
    if (fwd || rev) {
        auto start = fwd ? fwd_start : rev_start;
        auto end = fwd ? fwd_end : rev_end;
        for (int32_t t = 0; t <= tlen - 5; ++t)
            donor[t] = int8_t(rc ? end(sp, g[t + 3], g[t + 2], g[t + 1])
                                 : start(sp, g[t + 1], g[t + 2], g[t + 3]));
        for (int32_t t = 2; t < tlen; ++t)
            acceptor[t] = int8_t(rc ? start(sp, g[t], g[t - 1], g[t - 2])
                                    : end(sp, g[t - 2], g[t - 1], g[t]));
    }
    if (!junc) return;
    if (!(flags & SPLICE_SCORED_SITES)) {
        if (!fwd && !rev) return;
        // reversed sequences meet the intron end first
        const uint8_t start_bit = rc ? (fwd ? 0x02 : 0x04) : (fwd ? 0x01 : 0x08);
        const uint8_t end_bit = rc ? (fwd ? 0x01 : 0x08) : (fwd ? 0x02 : 0x04);
        for (int32_t p = 1; p < tlen; ++p)
            if (junc[p] & start_bit) donor[p - 1] = int8_t(donor[p - 1] + junc_bonus);
        for (int32_t p = 0; p < tlen; ++p)
            if (junc[p] & end_bit) acceptor[p] = int8_t(acceptor[p] + junc_bonus);
    } else {
        const int k = (rc != fwd) ? 1 : 0;
        for (int32_t p = 1; p < tlen; ++p) {
            const int b = junc[p];
            const int site = (b >> 1) - 64;
            const bool known = b != 255;
            donor[p - 1] = int8_t(donor[p - 1] + ((known && (k ^ (b & 1)) == 1) ? site : -junc_pen));
            acceptor[p - 1] =
                int8_t(acceptor[p - 1] + ((known && (k ^ (b & 1)) == 0) ? site : -junc_pen));
        }
    }
}

void reset_record(DpResult& r) {
    r.max = 0;
    r.max_q = r.max_t = -1;
    r.mqe = r.mte = r.score = DP_NEG_INF;
    r.mqe_t = r.mte_q = -1;
    r.reached_end = r.z_dropped = 0;
    r.cigar.clear();
}

// Set-up shared by every variant; false when the call has nothing to align.
bool splice_prologue(int32_t qlen, int32_t tlen, int8_t m, const int8_t* mat, size_t mat_len,
                     int8_t q, int8_t e, int8_t q2, int32_t flags, size_t junc_len,
                     const uint8_t* junc, DpResult& result) {
    reset_record(result);
    if (tlen <= 0 || qlen <= 0 || m < 2 || q + e >= q2) return false;
    if ((flags & SPLICE_FORWARD) && (flags & SPLICE_REVERSE))
        throw FatalError(
            "assertion failed: (flags & SPLICE_FORWARD) == 0 || (flags & SPLICE_REVERSE) == 0");
    dp_check_matrix(m, mat_len);
    if (junc && junc_len < size_t(tlen))
        throw FatalError("DP: junction array holds " + std::to_string(junc_len) +
                         " entries, needs " + std::to_string(tlen));
    int min_sc = mat[1];
    for (int k = 1; k < m * m; ++k) min_sc = std::min<int>(min_sc, mat[k]);
    return 2 * (q + e) >= -min_sc;
}

}  // namespace

void extend_splice_scalar(TESSIQ_SPLICE_ARGS) {
    if (!splice_prologue(qlen, tlen, m, mat, mat_len, q, e, q2, flags, junc_len, junc, result))
        return;
    const int32_t qe = q + e;
    const int32_t L = splice_long_gap(q, e, q2, qlen, tlen);
    const int8_t amb = mat[m * m - 1] != 0 ? mat[m * m - 1] : int8_t(-e);
    const bool score_only = flags & SCORE_ONLY, right = flags & RIGHT_ALIGN;
    const bool generic = flags & GENERIC_SCORE, approx_max = flags & APPROX_MAX;
    const bool approx_drop = flags & APPROX_DROP;
    const size_t n = size_t(tlen) + 16;
    std::vector<int8_t> u(n, int8_t(-qe)), v(n, int8_t(-qe)), x(n, int8_t(-qe)), y(n, int8_t(-qe));
    std::vector<int8_t> x2(n, int8_t(-q2)), donor(n), acceptor(n);
    splice_sites(target, tlen, noncan, junc_bonus, junc_pen, flags, junc, donor.data(),
                 acceptor.data());
    std::vector<int32_t> H(approx_max ? 0 : n, 0);
    std::vector<uint8_t> qr(query, query + qlen);
    std::reverse(qr.begin(), qr.end());
    const int64_t n_rows = int64_t(qlen) + tlen - 1;
    const size_t n_col = size_t(16 * ((std::min(qlen, tlen) + 15) / 16) + 16);
    std::vector<uint8_t> dir;
    std::vector<int32_t> row_start, row_end;
    if (!score_only) {
        dir.assign(size_t(n_rows) * n_col, 0);
        row_start.assign(n_rows, 0);
        row_end.assign(n_rows, 0);
    }
    auto lead = [&](int64_t r) -> int8_t {
        return int8_t(r == 0 ? -qe : r < L ? -e : r == L ? e * L - (q2 - q) : 0);
    };
    auto subst = [&](int a, int b) -> int8_t {
        if (generic) return mat[std::min(a, m - 1) * m + std::min(b, m - 1)];
        if (a == m - 1 || b == m - 1) return amb;
        return a == b ? mat[0] : mat[1];
    };
    DpScores o = scores_of(result);
    int64_t last_st = -1, last_en = -1, t0 = 0, H0 = 0;
    for (int64_t r = 0; r < n_rows; ++r) {
        const int64_t st = std::max<int64_t>(0, r - qlen + 1);
        const int64_t en = std::min<int64_t>(tlen - 1, r);
        int8_t xc, vc, x2c;
        if (st == 0) {
            x2c = int8_t(-q2);
            xc = int8_t(-qe);
            vc = lead(r);
        } else if (st - 1 >= last_st && st - 1 <= last_en) {
            xc = x[st - 1];
            vc = v[st - 1];
            x2c = x2[st - 1];
        } else {
            xc = vc = int8_t(-qe);
            x2c = int8_t(-q2);
        }
        if (en == r) {
            y[r] = int8_t(-qe);
            u[r] = lead(r);
        }
        uint8_t* drow = score_only ? nullptr : &dir[size_t(r) * n_col];
        if (drow) {
            row_start[r] = int32_t(st);
            row_end[r] = int32_t(en);
        }
        for (int64_t t = st; t <= en; ++t) {
            const int8_t s = subst(target[t], qr[qlen - 1 - r + t]);
            const int8_t a = int8_t(xc + vc), b = int8_t(y[t] + u[t]), a2 = int8_t(x2c + vc);
            const int8_t a2a = int8_t(a2 + acceptor[t]);
            int8_t z;
            uint8_t d;
            if (!right) {
                const int8_t zd = std::max(s, a), z0 = std::max(zd, b);
                z = std::max(z0, a2a);
                d = a2a > z0 ? 3 : b > zd ? 2 : a > s ? 1 : 0;
            } else {
                const int8_t z0 = std::max({s, a, b});
                z = a2a >= z0 ? a2a : z0;
                d = a2a >= z0 ? 3 : b >= std::max(s, a) ? 2 : a >= s ? 1 : 0;
            }
            const int8_t u_old = u[t], x_old = x[t], v_old = v[t], x2_old = x2[t];
            u[t] = int8_t(z - vc);
            v[t] = int8_t(z - u_old);
            const int8_t zq = int8_t(z - q);
            const int8_t ta = int8_t(a - zq), tb = int8_t(b - zq);
            x[t] = ta >= 1 ? int8_t(ta - qe) : int8_t(-qe);
            y[t] = tb >= 1 ? int8_t(tb - qe) : int8_t(-qe);
            const int8_t t2 = int8_t(q2 + a2 - z);
            x2[t] = int8_t(std::max(donor[t], t2) - q2);
            if (!right) {
                if (ta >= 1) d |= 0x08;
                if (tb >= 1) d |= 0x10;
                if (t2 > donor[t]) d |= 0x20;
            } else {
                if (ta >= 0) d |= 0x08;
                if (tb >= 0) d |= 0x10;
                if (t2 >= donor[t]) d |= 0x20;
            }
            xc = x_old;
            vc = v_old;
            x2c = x2_old;
            if (drow) drow[t - st] = d;
        }
        if (approx_max) {
            if (dp_sse2::path_scores(u.data(), v.data(), qe, r, st, en, qlen, tlen, approx_drop,
                                     zdrop, 0, t0, H0, o))
                break;
        } else if (dp_sse2::exact_scores(H.data(), u.data(), v.data(), qe, r, st, en, qlen, tlen,
                                         zdrop, 0, o)) {
            break;
        }
        last_st = st;
        last_en = en;
    }
    store_scores(result, o);
    if (!score_only)
        dp_traceback(result, qlen, tlen, end_bonus, flags, n_col, dir.data(), row_start.data(),
                     row_end.data(), true, L);
}

namespace {

void run_splice_vector(SimdLevel level, TESSIQ_SPLICE_ARGS) {
    if (!splice_prologue(qlen, tlen, m, mat, mat_len, q, e, q2, flags, junc_len, junc, result))
        return;
    VectorArgs a{};
    a.q = q;
    a.e = e;
    a.q2 = q2;
    a.match = mat[0];
    a.mismatch = mat[1];
    a.amb = mat[m * m - 1] != 0 ? mat[m * m - 1] : int8_t(-e);
    a.long_gap = splice_long_gap(q, e, q2, qlen, tlen);
    const bool need_h = !(flags & APPROX_MAX);
    VectorScratch scratch(a, query, qlen, target, tlen, m, mat, zdrop, flags,
                          std::min(qlen, tlen), 16, need_h, size_t(lane_bytes(level)));
    const size_t span = size_t(tlen) + 128;
    std::memset(a.u - 64, int8_t(-(q + e)), span);
    std::memset(a.v - 64, int8_t(-(q + e)), span);
    std::memset(a.x - 64, int8_t(-(q + e)), span);
    std::memset(a.y - 64, int8_t(-(q + e)), span);
    std::memset(a.x2 - 64, int8_t(-q2), span);
    // the widened anti-diagonals read sites past the target end: keep them
    // deterministic (zero)
    splice_sites(target, tlen, noncan, junc_bonus, junc_pen, flags, junc,
                 const_cast<int8_t*>(a.donor), const_cast<int8_t*>(a.acceptor));
    DpScores o = scores_of(result);
    vector_kernel(level, DpFamily::Splice)(a, o);
    store_scores(result, o);
    if (!(flags & SCORE_ONLY))
        dp_traceback(result, qlen, tlen, end_bonus, flags, a.n_col, a.dir, a.row_start, a.row_end,
                     true, a.long_gap);
}

}  // namespace

void extend_splice_sse2(TESSIQ_SPLICE_ARGS) {
    run_splice_vector(SimdLevel::Sse2, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, noncan,
                      zdrop, end_bonus, junc_bonus, junc_pen, flags, junc, junc_len, result);
}
void extend_splice41_impl(TESSIQ_SPLICE_ARGS) {
    run_splice_vector(SimdLevel::Sse41, query, qlen, target, tlen, m, mat, mat_len, q, e, q2,
                      noncan, zdrop, end_bonus, junc_bonus, junc_pen, flags, junc, junc_len, result);
}
void extend_splice_avx2_fn(TESSIQ_SPLICE_ARGS) {
    run_splice_vector(SimdLevel::Avx2, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, noncan,
                      zdrop, end_bonus, junc_bonus, junc_pen, flags, junc, junc_len, result);
}
void extend_splice_avx512_fn(TESSIQ_SPLICE_ARGS) {
    run_splice_vector(SimdLevel::Avx512, query, qlen, target, tlen, m, mat, mat_len, q, e, q2,
                      noncan, zdrop, end_bonus, junc_bonus, junc_pen, flags, junc, junc_len, result);
}

void extend_splice(TESSIQ_SPLICE_ARGS) {
    const SimdLevel level = select_dp_level();
    if (level == SimdLevel::Scalar)
        return extend_splice_scalar(query, qlen, target, tlen, m, mat, mat_len, q, e, q2, noncan,
                                    zdrop, end_bonus, junc_bonus, junc_pen, flags, junc, junc_len,
                                    result);
    run_splice_vector(level, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, noncan, zdrop,
                      end_bonus, junc_bonus, junc_pen, flags, junc, junc_len, result);
}

}  // namespace tessiq

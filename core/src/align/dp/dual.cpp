// Dual-affine (two-piece gap cost) kernel: the scalar reference, the vector
// wrappers, the SSE2 baseline and the dispatcher with its compare mode.
#include <emmintrin.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "align/dp/common.h"
#include "align/dp/vector_common.h"
#include "align/env_flags.h"

namespace tessiq {

namespace dp_sse2 {
#include "align/dp/lanes.h"
#include "align/dp/exact_max.h"
#include "align/dp/dual_impl.h"
void dual_kernel(const VectorArgs& a, DpScores& o) { dual_body(a, o); }
}  // namespace dp_sse2

namespace {

// Longest gap still charged by the first pair.
int32_t dual_long_gap(int32_t q, int32_t e, int32_t q2, int32_t e2) {
    int32_t L = e == e2 ? 0 : (q2 - q) / (e - e2) - 1;
    if (q + e + e * L < q2 + e2 + e2 * L) ++L;
    return L;
}

int8_t ambiguous_score(int m, const int8_t* mat, int8_t fallback) {
    const int8_t v = mat[m * m - 1];
    return v != 0 ? v : fallback;
}

}  // namespace

void extend_dual_affine_scalar(TESSIQ_DUAL_ARGS) {
    if (tlen <= 0 || qlen <= 0 || m < 2) return;
    dp_check_matrix(m, mat_len);
    result.max = 0;
    result.max_q = result.max_t = -1;
    result.mqe = result.mte = result.score = DP_NEG_INF;
    const int64_t W = w < 0 ? std::max(qlen, tlen) : w;
    const int32_t qe = q + e, qe2 = q2 + e2;
    const int32_t L = dual_long_gap(q, e, q2, e2);
    const int8_t D = static_cast<int8_t>(q + L * (e - e2) - qe2);
    const int8_t amb = ambiguous_score(m, mat, static_cast<int8_t>(-e2));
    const bool score_only = flags & SCORE_ONLY, right = flags & RIGHT_ALIGN;
    const bool generic = flags & GENERIC_SCORE, approx_max = flags & APPROX_MAX;
    const bool approx_drop = flags & APPROX_DROP;
    const size_t n = size_t(tlen) + 16;
    std::vector<int8_t> u(n, int8_t(-qe)), v(n, int8_t(-qe)), x(n, int8_t(-qe)), y(n, int8_t(-qe));
    std::vector<int8_t> x2(n, int8_t(-qe2)), y2(n, int8_t(-qe2));
    std::vector<int32_t> H(approx_max ? 0 : n, 0);
    std::vector<uint8_t> qr(query, query + qlen);
    std::reverse(qr.begin(), qr.end());
    const int64_t n_rows = int64_t(qlen) + tlen - 1;
    const int64_t band = std::min<int64_t>({W + 1, qlen, tlen});
    const size_t n_col = size_t(16 * ((band + 15) / 16) + 16);
    std::vector<uint8_t> dir;
    std::vector<int32_t> row_start, row_end;
    if (!score_only) {
        dir.assign(size_t(n_rows) * n_col, 0);
        row_start.assign(n_rows, 0);
        row_end.assign(n_rows, 0);
    }
    auto lead = [&](int64_t r) -> int8_t {
        return static_cast<int8_t>(r == 0 ? -qe : r < L ? -e : r == L ? D : -e2);
    };
    auto subst = [&](int a, int b) -> int8_t {
        if (generic) return mat[std::min(a, m - 1) * m + std::min(b, m - 1)];
        if (a == m - 1 || b == m - 1) return amb;
        return a == b ? mat[0] : mat[1];
    };
    DpScores o = scores_of(result);
    int64_t last_st = -1, last_en = -1, t0 = 0, H0 = 0;
    for (int64_t r = 0; r < n_rows; ++r) {
        const int64_t st = std::max({int64_t(0), r - qlen + 1, (r - W + 1) >> 1});
        const int64_t en = std::min({int64_t(tlen) - 1, r, (r + W) >> 1});
        if (st > en) {
            o.z_dropped = 1;
            break;
        }
        int8_t xc, vc, x2c;
        if (st == 0) {
            xc = int8_t(-qe);
            x2c = int8_t(-qe2);
            vc = lead(r);
        } else if (st - 1 >= last_st && st - 1 <= last_en) {
            xc = x[st - 1];
            vc = v[st - 1];
            x2c = x2[st - 1];
        } else {
            xc = vc = int8_t(-qe);
            x2c = int8_t(-qe2);
        }
        if (en >= r) {
            y[r] = int8_t(-qe);
            y2[r] = int8_t(-qe2);
            u[r] = lead(r);
        }
        uint8_t* drow = score_only ? nullptr : &dir[size_t(r) * n_col];
        if (drow) {
            row_start[r] = int32_t(st);
            row_end[r] = int32_t(en);
        }
        for (int64_t t = st; t <= en; ++t) {
            const int8_t s = subst(target[t], qr[qlen - 1 - r + t]);
            const int8_t a = int8_t(xc + vc), b = int8_t(y[t] + u[t]);
            const int8_t a2 = int8_t(x2c + vc), b2 = int8_t(y2[t] + u[t]);
            const int8_t z0 = std::max({s, a, b});
            int8_t z = std::max({z0, a2, b2});
            uint8_t d;
            if (!right)
                d = b2 > std::max(z0, a2) ? 4 : a2 > z0 ? 3 : b > std::max(s, a) ? 2 : a > s ? 1 : 0;
            else
                d = b2 >= std::max({s, a, b, a2}) ? 4 : a2 >= z0 ? 3 : b >= std::max(s, a) ? 2
                    : a >= s ? 1 : 0;
            z = std::min(z, mat[0]);
            const int8_t u_old = u[t], x_old = x[t], v_old = v[t], x2_old = x2[t];
            u[t] = int8_t(z - vc);
            v[t] = int8_t(z - u_old);
            const int8_t zq = int8_t(z - q), zq2 = int8_t(z - q2);
            const int8_t ta = int8_t(a - zq), tb = int8_t(b - zq);
            const int8_t ta2 = int8_t(a2 - zq2), tb2 = int8_t(b2 - zq2);
            x[t] = ta >= 1 ? int8_t(ta - qe) : int8_t(-qe);
            y[t] = tb >= 1 ? int8_t(tb - qe) : int8_t(-qe);
            x2[t] = ta2 >= 1 ? int8_t(ta2 - qe2) : int8_t(-qe2);
            y2[t] = tb2 >= 1 ? int8_t(tb2 - qe2) : int8_t(-qe2);
            const int lim = right ? 0 : 1;
            if (ta >= lim) d |= 0x08;
            if (tb >= lim) d |= 0x10;
            if (ta2 >= lim) d |= 0x20;
            if (tb2 >= lim) d |= 0x40;
            xc = x_old;
            vc = v_old;
            x2c = x2_old;
            if (drow) drow[t - st] = d;
        }
        if (approx_max) {
            if (dp_sse2::path_scores(u.data(), v.data(), qe, r, st, en, qlen, tlen, approx_drop, zdrop, e2, t0,
                            H0, o))
                break;
        } else if (dp_sse2::exact_scores(H.data(), u.data(), v.data(), qe, r, st, en, qlen, tlen, zdrop, e2,
                                o)) {
            break;
        }
        last_st = st;
        last_en = en;
    }
    if (approx_max && o.score == DP_NEG_INF) o.score = o.max;
    store_scores(result, o);
    if (!score_only)
        dp_traceback(result, qlen, tlen, end_bonus, flags, n_col, dir.data(), row_start.data(),
                     row_end.data(), false, 0);
}

namespace {

void run_dual_vector(SimdLevel level, TESSIQ_DUAL_ARGS) {
    if (tlen <= 0 || qlen <= 0 || m < 2) return;
    dp_check_matrix(m, mat_len);
    if (q2 + e2 < q + e) {
        std::swap(q, q2);
        std::swap(e, e2);
    }
    result.max = 0;
    result.max_q = result.max_t = -1;
    result.mqe = result.mte = result.score = DP_NEG_INF;
    const int64_t W = w < 0 ? std::max(qlen, tlen) : w;
    VectorArgs a{};
    a.w = W;
    a.q = q;
    a.e = e;
    a.q2 = q2;
    a.e2 = e2;
    a.match = mat[0];
    a.mismatch = mat[1];
    a.amb = ambiguous_score(m, mat, static_cast<int8_t>(-e2));
    a.long_gap = dual_long_gap(q, e, q2, e2);
    const bool need_h = !(flags & APPROX_MAX);
    VectorScratch scratch(a, query, qlen, target, tlen, m, mat, zdrop, flags,
                          std::min<int64_t>({W + 1, qlen, tlen}), 16, need_h,
                          size_t(lane_bytes(level)));
    const size_t span = size_t(tlen) + 128;
    std::memset(a.u - 64, int8_t(-(q + e)), span);
    std::memset(a.v - 64, int8_t(-(q + e)), span);
    std::memset(a.x - 64, int8_t(-(q + e)), span);
    std::memset(a.y - 64, int8_t(-(q + e)), span);
    std::memset(a.x2 - 64, int8_t(-(q2 + e2)), span);
    std::memset(a.y2 - 64, int8_t(-(q2 + e2)), span);
    DpScores o = scores_of(result);
    vector_kernel(level, DpFamily::Dual)(a, o);
    store_scores(result, o);
    if (!(flags & SCORE_ONLY))
        dp_traceback(result, qlen, tlen, end_bonus, flags, a.n_col, a.dir, a.row_start, a.row_end,
                     false, 0);
}

void write_line(const char* text) {
    size_t len = std::strlen(text);
    while (len > 0) {
        const ssize_t n = ::write(2, text, len);
        if (n <= 0) return;
        text += n;
        len -= size_t(n);
    }
}

void report_line(const char* who, const DpResult& r) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "  %s score=%6d max=%6d max_q=%4d max_t=%4d mqe=%6d mqe_t=%4d mte=%6d mte_q=%4d "
                  "re=%d zd=%d\n",
                  who, r.score, r.max, r.max_q, r.max_t, r.mqe, r.mqe_t, r.mte, r.mte_q,
                  r.reached_end, r.z_dropped);
    write_line(line);
}

// Runs the SSE2 baseline beside the scalar reference and reports, on
// standard error, any field where they differ. The caller gets the scalar
// result.
void compare_dual(TESSIQ_DUAL_ARGS) {
    DpResult simd;
    extend_dual_affine2_impl(query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w, zdrop,
                             end_bonus, flags, simd);
    extend_dual_affine_scalar(query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w, zdrop,
                              end_bonus, flags, result);
    const DpResult& s = result;
    if (s.score == simd.score && s.mqe == simd.mqe && s.max == simd.max &&
        s.reached_end == simd.reached_end && s.max_q == simd.max_q && s.max_t == simd.max_t &&
        s.mqe_t == simd.mqe_t && s.mte == simd.mte && s.mte_q == simd.mte_q &&
        s.z_dropped == simd.z_dropped)
        return;
    char line[256];
    std::snprintf(line, sizeof line, "DP MISMATCH qlen=%d tlen=%d bandwidth=%d z_drop=%d eb=%d flags=0x%x\n",
                  qlen, tlen, w, zdrop, end_bonus, unsigned(flags));
    write_line(line);
    report_line("SIMD:  ", simd);
    report_line("Scalar:", s);
    if (s.cigar != simd.cigar) {
        std::snprintf(line, sizeof line, "  CIGAR differs: scalar_ops=%zu simd_ops=%zu\n",
                      s.cigar.size(), simd.cigar.size());
        write_line(line);
    }
}

}  // namespace

void extend_dual_affine2_impl(TESSIQ_DUAL_ARGS) {
    run_dual_vector(SimdLevel::Sse2, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w,
                    zdrop, end_bonus, flags, result);
}
void extend_dual_affine41_impl(TESSIQ_DUAL_ARGS) {
    run_dual_vector(SimdLevel::Sse41, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w,
                    zdrop, end_bonus, flags, result);
}
void extend_dual_affine_avx2_fn(TESSIQ_DUAL_ARGS) {
    run_dual_vector(SimdLevel::Avx2, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w,
                    zdrop, end_bonus, flags, result);
}
void extend_dual_affine_avx512_fn(TESSIQ_DUAL_ARGS) {
    run_dual_vector(SimdLevel::Avx512, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w,
                    zdrop, end_bonus, flags, result);
}

void extend_dual_affine(TESSIQ_DUAL_ARGS) {
    if (q == q2 && e == e2)
        return extend_single_affine(query, qlen, target, tlen, m, mat, mat_len, q, e, w, zdrop,
                                    end_bonus, flags, result);
    if (q2 + e2 < q + e) {
        std::swap(q, q2);
        std::swap(e, e2);
    }
    const SimdLevel level = select_dp_level();
    if (level == SimdLevel::Scalar) {
        if (COMPARE_SCALAR.on())
            return compare_dual(query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w, zdrop,
                                end_bonus, flags, result);
        return extend_dual_affine_scalar(query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2,
                                         w, zdrop, end_bonus, flags, result);
    }
    run_dual_vector(level, query, qlen, target, tlen, m, mat, mat_len, q, e, q2, e2, w, zdrop,
                    end_bonus, flags, result);
}

}  // namespace tessiq

// Single-affine extension kernel: the scalar reference, the shared set-up of
// the vector variants (scratch, copies, traceback), the SSE2 baseline and the
// dispatcher.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "align/dp/common.h"
#include "align/dp/vector_common.h"
#include "align/env_flags.h"

namespace tessiq {

namespace dp_sse2 {
#include "align/dp/lanes.h"
#include "align/dp/single_impl.h"
void single_kernel(const VectorArgs& a, DpScores& o) { single_body(a, o); }
}  // namespace dp_sse2

void extend_single_affine_scalar(TESSIQ_SINGLE_ARGS) {
    if (qlen <= 0 || tlen <= 0 || m <= 0) return;
    dp_check_matrix(m, mat_len);
    const int64_t W = w <= 0 ? std::max(qlen, tlen) : w;
    const int32_t qe = q + e;
    const int8_t qe2 = static_cast<int8_t>(2 * qe);
    const int8_t match = mat[0], mismatch = mat[1];
    const int amb_row = std::min(4, m - 1);  // the ambiguous row for the usual 5 x 5 matrix
    const int8_t amb = mat[amb_row * m];
    const bool score_only = flags & SCORE_ONLY, right = flags & RIGHT_ALIGN;
    const bool generic = flags & GENERIC_SCORE;
    const bool approx_max = flags & APPROX_MAX, approx_drop = flags & APPROX_DROP;

    result.max = DP_NEG_INF;
    result.score = DP_NEG_INF;

    std::vector<int8_t> u(tlen + 16), v(tlen + 16), x(tlen + 16), y(tlen + 16), s(tlen + 16);
    std::vector<uint8_t> qr(query, query + qlen);
    std::reverse(qr.begin(), qr.end());
    const int64_t n_rows = int64_t(qlen) + tlen - 1;
    const size_t n_col = size_t(std::min<int64_t>(2 * W + 1, qlen));
    std::vector<uint8_t> dir;
    std::vector<int32_t> row_start, row_end;
    if (!score_only) {
        dir.assign(size_t(n_rows) * n_col, 0);
        row_start.assign(n_rows, 0);
        row_end.assign(n_rows, 0);
    }
    auto lookup = [&](int a, int b) { return mat[std::min(a, m - 1) * m + std::min(b, m - 1)]; };

    int64_t last_st = -1, last_en = -1, t0 = 0, H0 = 0;
    for (int64_t r = 0; r < n_rows; ++r) {
        const int64_t st = std::max({int64_t(0), r - qlen + 1, (r - W + 1) >> 1});
        const int64_t en = std::min({int64_t(tlen) - 1, r, (r + W) >> 1});
        if (st > en) {
            result.z_dropped = 1;
            break;
        }
        int8_t xc, vc;
        if (st == 0) {
            xc = 0;
            vc = static_cast<int8_t>(r > 0 ? q : 0);
        } else if (st - 1 >= last_st && st - 1 <= last_en) {
            xc = x[st - 1];
            vc = v[st - 1];
        } else {
            xc = vc = 0;
        }
        if (en >= r) {
            y[r] = 0;
            u[r] = static_cast<int8_t>(r > 0 ? q : 0);
        }
        for (int64_t t = st; t <= en; ++t) {
            const int a = target[t], b = qr[qlen - 1 - r + t];
            if (generic)
                s[t] = lookup(a, b);
            else
                s[t] = (a > 3 || b > 3) ? amb : a == b ? match : mismatch;
        }
        uint8_t* drow = score_only ? nullptr : &dir[size_t(r) * n_col];
        if (drow) {
            row_start[r] = int32_t(st);
            row_end[r] = int32_t(en);
        }
        for (int64_t t = st; t <= en; ++t) {
            const int8_t zd = static_cast<int8_t>(s[t] + qe2);
            const int8_t za = static_cast<int8_t>(xc + vc);
            const int8_t zb = static_cast<int8_t>(y[t] + u[t]);
            const int8_t z = std::max({zd, za, zb});
            uint8_t d;
            if (!right)
                d = zb > std::max(zd, za) ? 2 : za > zd ? 1 : 0;
            else
                d = zb >= std::max(zd, za) ? 2 : za >= zd ? 1 : 0;
            const int8_t u_old = u[t], x_old = x[t], v_old = v[t];
            u[t] = static_cast<int8_t>(z - vc);
            v[t] = static_cast<int8_t>(z - u_old);
            const int8_t zq = static_cast<int8_t>(z - q);
            const int8_t xa = static_cast<int8_t>(za - zq), yb = static_cast<int8_t>(zb - zq);
            x[t] = std::max<int8_t>(xa, 0);
            y[t] = std::max<int8_t>(yb, 0);
            if (xa > 0) d |= 0x08;
            if (yb > 0) d |= 0x10;
            xc = x_old;
            vc = v_old;
            if (drow) drow[t - st] = d;
        }
        if (r == 0) {
            H0 = v[0] - qe2;
            t0 = 0;
        } else if (t0 >= st && t0 <= en) {
            if (t0 < en) {
                const int d0 = v[t0] - qe, d1 = u[t0 + 1] - qe;
                if (d0 > d1) {
                    H0 += d0;
                } else {
                    H0 += d1;
                    ++t0;
                }
            } else {
                H0 += v[t0] - qe;
            }
        } else {
            ++t0;
            H0 += u[t0] - qe;
        }
        if (!approx_max || approx_drop) {
            if (H0 > result.max) {
                result.max = int32_t(H0);
                result.max_t = int32_t(t0);
                result.max_q = int32_t(r - t0);
            } else if (approx_drop && t0 >= result.max_t && zdrop >= 0 && r - t0 >= result.max_q) {
                const int64_t dt = t0 - result.max_t, dq = (r - t0) - result.max_q;
                const int64_t l = std::abs(dt - dq);
                if (int64_t(result.max) - H0 > int64_t(zdrop) + l * e) {
                    result.z_dropped = 1;
                    break;
                }
            }
        }
        if (en == tlen - 1 && t0 == en && H0 > result.mte) {
            result.mte = int32_t(H0);
            result.mte_q = int32_t(r - en);
        }
        if (r - st == qlen - 1 && t0 == st && H0 > result.mqe) {
            result.mqe = int32_t(H0);
            result.mqe_t = int32_t(st);
        }
        if (r == n_rows - 1 && en == tlen - 1) result.score = int32_t(H0);
        last_st = st;
        last_en = en;
    }
    if (!score_only)
        traceback_single_affine_safe(result, qlen, tlen, end_bonus, flags, n_col, dir.data(),
                                     row_start.data(), row_end.data());
}

namespace {

void run_single_vector(SimdLevel level, TESSIQ_SINGLE_ARGS) {
    if (qlen <= 0 || tlen <= 0 || m <= 0) return;
    dp_check_matrix(m, mat_len);
    VectorArgs a{};
    const int64_t W = w < 0 ? std::max(qlen, tlen) : w;
    a.w = W;
    a.q = q;
    a.e = e;
    a.match = mat[0];
    a.mismatch = mat[1];
    a.amb = mat[m * m - 1] != 0 ? mat[m * m - 1] : static_cast<int8_t>(-e);
    result.max = 0;
    result.max_q = result.max_t = -1;
    result.mqe = result.mte = result.score = DP_NEG_INF;
    VectorScratch scratch(a, query, qlen, target, tlen, m, mat, zdrop, flags,
                          std::min<int64_t>({qlen, tlen, W + 1}), lane_bytes(level), false,
                          size_t(lane_bytes(level)));
    DpScores o = scores_of(result);
    vector_kernel(level, DpFamily::Single)(a, o);
    store_scores(result, o);
    if (!(flags & SCORE_ONLY))
        dp_traceback(result, qlen, tlen, end_bonus, flags, a.n_col, a.dir, a.row_start, a.row_end,
                     false, 0);
}

}  // namespace

void extend_single_affine_sse2(TESSIQ_SINGLE_ARGS) {
    run_single_vector(SimdLevel::Sse2, query, qlen, target, tlen, m, mat, mat_len, q, e, w, zdrop,
                      end_bonus, flags, result);
}
void extend_single_affine41_impl(TESSIQ_SINGLE_ARGS) {
    run_single_vector(SimdLevel::Sse41, query, qlen, target, tlen, m, mat, mat_len, q, e, w, zdrop,
                      end_bonus, flags, result);
}
void extend_single_affine_avx2_fn(TESSIQ_SINGLE_ARGS) {
    run_single_vector(SimdLevel::Avx2, query, qlen, target, tlen, m, mat, mat_len, q, e, w, zdrop,
                      end_bonus, flags, result);
}
void extend_single_affine_avx512_fn(TESSIQ_SINGLE_ARGS) {
    run_single_vector(SimdLevel::Avx512, query, qlen, target, tlen, m, mat, mat_len, q, e, w,
                      zdrop, end_bonus, flags, result);
}

void extend_single_affine(TESSIQ_SINGLE_ARGS) {
    switch (select_dp_level()) {
        case SimdLevel::Scalar:
            return extend_single_affine_scalar(query, qlen, target, tlen, m, mat, mat_len, q, e, w,
                                               zdrop, end_bonus, flags, result);
        default:
            return run_single_vector(select_dp_level(), query, qlen, target, tlen, m, mat, mat_len,
                                     q, e, w, zdrop, end_bonus, flags, result);
    }
}

}  // namespace tessiq

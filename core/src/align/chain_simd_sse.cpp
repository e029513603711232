// The vector chainers' loop, the SSE2 batch kernel (always present on
// x86-64) and the scalar remainder formula shared by every batch kernel.
#include <emmintrin.h>

#include <algorithm>

#include "align/chain_simd_impl.h"

namespace tessiq {

int32_t chain_score_one(const BatchArgs& a, size_t j) {
    const int32_t dq = sub32(a.qi, a.qpos[j]);
    if (dq < 1 || dq > a.max_dist_x) return INVALID_LINK;
    const int32_t dr = sub32(a.ti, a.tpos[j]);
    const int32_t dd = abs32(sub32(dq, dr));
    if (a.tkey[j] != a.tki || dr == 0 || dq > a.max_dist_y || dd > a.bandwidth) return INVALID_LINK;
    const int32_t dg = std::min(dq, dr);
    int32_t score = std::min(a.span[j], dg);
    if (dd > 0 || a.span[j] < dg) {
        float pen = static_cast<float>(dd) * a.chn_pen_gap + static_cast<float>(dg) * a.chn_pen_skip;
        const float lg = gap_log2(dd);
        pen = pen + 0.5f * lg;
        score -= saturating_f2i(pen);
    }
    return score;
}

namespace {
struct Sse2Lanes {
    static constexpr size_t W = 4;
    using I = __m128i;
    using F = __m128;
    using M = __m128i;
    static I set1(int32_t v) { return _mm_set1_epi32(v); }
    static F set1f(float v) { return _mm_set1_ps(v); }
    static I load(const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void store(int32_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static I add(I a, I b) { return _mm_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm_sub_epi32(a, b); }
    static I band(I a, I b) { return _mm_and_si128(a, b); }
    static I bor(I a, I b) { return _mm_or_si128(a, b); }
    static I srl23(I a) { return _mm_srli_epi32(a, 23); }
    static M gt(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    static M eq(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    static M mor(M a, M b) { return _mm_or_si128(a, b); }
    static M mnot(M a) { return _mm_xor_si128(a, _mm_set1_epi32(-1)); }
    static I select(M m, I a, I b) { return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b)); }
    static F fselect(M m, F a, F b) {
        return _mm_castsi128_ps(select(m, _mm_castps_si128(a), _mm_castps_si128(b)));
    }
    // SSE2 lacks 32-bit min and abs: built from compares and shifts.
    static I min(I a, I b) { return select(gt(a, b), b, a); }
    static I abs(I a) {
        const I s = _mm_srai_epi32(a, 31);
        return _mm_sub_epi32(_mm_xor_si128(a, s), s);
    }
    static F cvt(I a) { return _mm_cvtepi32_ps(a); }
    static I cvtt(F a) { return _mm_cvttps_epi32(a); }
    static F mulf(F a, F b) { return _mm_mul_ps(a, b); }
    static F addf(F a, F b) { return _mm_add_ps(a, b); }
    static I bits(F a) { return _mm_castps_si128(a); }
    static F fbits(I a) { return _mm_castsi128_ps(a); }
};
}  // namespace

namespace {
using BatchKernel = void (*)(const BatchArgs&, int32_t*, size_t, size_t);

// The chainer loop around a batch kernel: predecessors are scored 64 at a
// time, then walked with the scalar chainer's rules.
ChainResult chain_anchors_vec(BatchKernel batch_scores, const ChainingParams& params,
                              int32_t max_dist_x, int32_t max_dist_y, const Minimizer* a, size_t n,
                              ChainingBuffers& b) {
    if (n == 0) return {};
    const int32_t bw = params.bandwidth;
    max_dist_x = std::max(max_dist_x, bw);
    max_dist_y = std::max(max_dist_y, bw);
    chain_detail::prepare(b, n);
    b.tpos.resize(n), b.qpos.resize(n), b.span.resize(n), b.tkey.resize(n), b.batch.resize(n);
    for (size_t i = 0; i < n; ++i) {
        b.tpos[i] = anchor_tpos(a[i]);
        b.qpos[i] = anchor_qpos(a[i]);
        b.span[i] = anchor_span(a[i]);
        b.tkey[i] = static_cast<int32_t>(static_cast<uint32_t>(a[i].x >> 32));
    }
    int32_t* f = b.f.data();
    int32_t* p = b.p.data();
    int32_t* t = b.t.data();
    int32_t* sc = b.batch.data();
    BatchArgs args{b.qpos.data(), b.tpos.data(), b.span.data(), b.tkey.data(), 0, 0, 0,
                   params.chn_pen_gap, params.chn_pen_skip, max_dist_x, max_dist_y, bw};
    const bool exhaustive = params.max_chain_skip <= 0;
    int64_t st = 0, max_ii = -1;
    for (int64_t i = 0; i < static_cast<int64_t>(n); ++i) {
        st = chain_detail::advance_window(a, st, i, max_dist_x);
        args.qi = b.qpos[i], args.ti = b.tpos[i], args.tki = b.tkey[i];
        int32_t max_f = b.span[i], max_j = -1;
        if (exhaustive) {
            // best predecessor over the whole window, earliest on ties
            if (st < i) batch_scores(args, sc, static_cast<size_t>(st), static_cast<size_t>(i));
            for (int64_t j = st; j < i; ++j) {
                if (sc[j] == INVALID_LINK) continue;
                if (sc[j] + f[j] > max_f) max_f = sc[j] + f[j], max_j = static_cast<int32_t>(j);
            }
            f[i] = max_f;
            p[i] = max_j;
            if (max_ii < 0 ||
                (static_cast<int64_t>(a[i].x - a[max_ii].x) <= max_dist_x && f[max_ii] < f[i]))
                max_ii = i;
            continue;
        }
        st = chain_detail::limit_window(st, i, params.max_chain_iter);
        chain_detail::PredecessorWalk walk{max_f};
        int64_t end_j = st - 1;
        bool stopped = false;
        for (int64_t hi = i; hi > st && !stopped;) {
            const int64_t lo = std::max<int64_t>(st, hi - 64);
            batch_scores(args, sc, static_cast<size_t>(lo), static_cast<size_t>(hi));
            for (int64_t j = hi - 1; j >= lo; --j) {
                if (sc[j] == INVALID_LINK) continue;
                if (!walk.offer(i, j, sc[j], f, p, t, params.max_chain_skip)) {
                    end_j = j;
                    stopped = true;
                    break;
                }
            }
            hi = lo;
        }
        chain_detail::finish_anchor(a, i, st, end_j, walk.max_f, walk.max_j, max_ii, params, false,
                                    1, max_dist_x, max_dist_y, b);
    }
    const Backtrack bt = chain_backtrack(n, b, params.min_cnt, params.min_chain_score, bw);
    return compact_chains(a, bt, b.v);
}

}  // namespace

void compute_chain_scores_batch_sse(const BatchArgs& args, int32_t* out, size_t start, size_t end) {
    chain_simd::batch_scores<Sse2Lanes>(args, out, start, end);
}

ChainResult chain_anchors_sse(const ChainingParams& params, int32_t max_dist_x, int32_t max_dist_y,
                              const Minimizer* anchors, size_t n, ChainingBuffers& buffers) {
    return chain_anchors_vec(compute_chain_scores_batch_sse, params, max_dist_x, max_dist_y,
                             anchors, n, buffers);
}

ChainResult chain_anchors_avx2(const ChainingParams& params, int32_t max_dist_x, int32_t max_dist_y,
                               const Minimizer* anchors, size_t n, ChainingBuffers& buffers) {
    return chain_anchors_vec(compute_chain_scores_batch_avx2, params, max_dist_x, max_dist_y,
                             anchors, n, buffers);
}

ChainResult chain_anchors_avx512(const ChainingParams& params, int32_t max_dist_x,
                                 int32_t max_dist_y, const Minimizer* anchors, size_t n,
                                 ChainingBuffers& buffers) {
    return chain_anchors_vec(compute_chain_scores_batch_avx512, params, max_dist_x, max_dist_y,
                             anchors, n, buffers);
}

}  // namespace tessiq

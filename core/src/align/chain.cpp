#include "align/chain.h"

#include <algorithm>
#include <cstring>

#include "align/chain_simd.h"
#include "align/env_flags.h"
#include "align/sort.h"
#include "util/thread_pool.h"

namespace tessiq {

float approx_log2(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, 4);
    const float e = static_cast<float>(static_cast<int32_t>((bits >> 23) & 255) - 128);
    const uint32_t mbits = (bits & 0x807fffffu) | 0x3f800000u;
    float m;
    std::memcpy(&m, &mbits, 4);
    // Evaluated step by step in this order: results must match bit for bit.
    float r = m * -0.34484842f;
    r = r + 2.0246658f;
    r = r * m;
    r = r + -0.6748776f;
    return r + e;
}

int32_t link_score(const Minimizer& ai, const Minimizer& aj, const ChainingParams& params,
                   bool is_cdna, int n_seg, int32_t max_dist_x, int32_t max_dist_y) {
    const int32_t dq = sub32(anchor_qpos(ai), anchor_qpos(aj));
    if (dq <= 0 || dq > max_dist_x) return INVALID_LINK;
    const int32_t dr = sub32(anchor_tpos(ai), anchor_tpos(aj));
    const bool same = anchor_seg(ai) == anchor_seg(aj);
    const int32_t dd = abs32(sub32(dr, dq));
    if (same && (dq > max_dist_y || dr == 0 || dd > params.bandwidth ||
                 (n_seg > 1 && !is_cdna && dr > max_dist_y)))
        return INVALID_LINK;
    const int32_t span_j = anchor_span(aj);
    const int32_t dg = std::min(dr, dq);
    int32_t sc = std::min(span_j, dg);
    if (dd > 0 || dg > span_j) {
        const float lin = static_cast<float>(dg) * params.chn_pen_skip +
                          static_cast<float>(dd) * params.chn_pen_gap;
        const float lg = gap_log2(dd);
        if (!same && dr == 0) {
            sc += 1;
        } else {
            float pen;
            if (!same || (is_cdna && dr > dq))
                pen = std::min(lin, lg);
            else
                pen = lin + 0.5f * lg;
            sc -= saturating_f2i(pen);
        }
    }
    return sc;
}

namespace chain_detail {

void prepare(ChainingBuffers& b, size_t n) {
    b.p.resize(n);
    b.f.resize(n);
    b.v.resize(n);
    b.t.assign(n, 0);
}

void finish_anchor(const Minimizer* a, int64_t i, int64_t st, int64_t end_j, int32_t max_f,
                   int32_t max_j, int64_t& max_ii, const ChainingParams& params, bool is_cdna,
                   int n_seg, int32_t max_dist_x, int32_t max_dist_y, ChainingBuffers& b) {
    int32_t* f = b.f.data();
    auto gap = [&](int64_t j) { return static_cast<int64_t>(a[i].x - a[j].x); };
    if (max_ii < 0 || gap(max_ii) > max_dist_x) {
        int32_t best = INT32_MIN;
        max_ii = -1;
        for (int64_t j = i - 1; j >= st; --j)
            if (best < f[j]) best = f[j], max_ii = j;
    }
    if (max_ii >= 0 && max_ii < end_j) {
        const int32_t sc =
            link_score(a[i], a[max_ii], params, is_cdna, n_seg, max_dist_x, max_dist_y);
        if (sc != INVALID_LINK && sc + f[max_ii] > max_f) max_f = sc + f[max_ii], max_j = static_cast<int32_t>(max_ii);
    }
    f[i] = max_f;
    b.p[i] = max_j;
    if (max_ii < 0 || (gap(max_ii) <= max_dist_x && f[max_ii] < f[i])) max_ii = i;
}

}  // namespace chain_detail

ChainResult chain_anchors_scalar(const ChainingParams& params, bool is_cdna, int n_seg,
                                 int32_t max_dist_x, int32_t max_dist_y, const Minimizer* a,
                                 size_t n, ChainingBuffers& b) {
    if (n == 0) return {};
    const int32_t bw = params.bandwidth;
    max_dist_x = std::max(max_dist_x, bw);
    if (!is_cdna) max_dist_y = std::max(max_dist_y, bw);
    const int32_t max_drop = is_cdna ? INT32_MAX : bw;
    chain_detail::prepare(b, n);
    int32_t* f = b.f.data();
    int32_t* p = b.p.data();
    int32_t* t = b.t.data();
    int64_t st = 0, max_ii = -1;
    for (int64_t i = 0; i < static_cast<int64_t>(n); ++i) {
        st = chain_detail::advance_window(a, st, i, max_dist_x);
        st = chain_detail::limit_window(st, i, params.max_chain_iter);
        chain_detail::PredecessorWalk walk{anchor_span(a[i])};
        int64_t end_j = st - 1;
        for (int64_t j = i - 1; j >= st; --j) {
            const int32_t sc = link_score(a[i], a[j], params, is_cdna, n_seg, max_dist_x, max_dist_y);
            if (sc == INVALID_LINK) continue;
            if (!walk.offer(i, j, sc, f, p, t, params.max_chain_skip)) {
                end_j = j;
                break;
            }
        }
        chain_detail::finish_anchor(a, i, st, end_j, walk.max_f, walk.max_j, max_ii, params, is_cdna, n_seg,
                                    max_dist_x, max_dist_y, b);
    }
    const Backtrack bt = chain_backtrack(n, b, params.min_cnt, params.min_chain_score, max_drop);
    return compact_chains(a, bt, b.v);
}

Backtrack chain_backtrack(size_t n, ChainingBuffers& b, int32_t min_cnt, int32_t min_chain_score,
                          int32_t max_drop) {
    Backtrack out;
    const int32_t* f = b.f.data();
    const int32_t* p = b.p.data();
    int32_t* t = b.t.data();
    b.order.clear();
    for (size_t i = 0; i < n; ++i)
        if (f[i] >= min_chain_score)
            b.order.push_back({static_cast<uint64_t>(static_cast<int64_t>(f[i])), i});
    if (b.order.empty()) return out;
    sort_records(b.order.data(), b.order.size());
    std::fill(t, t + n, 0);
    b.v.resize(n);
    int32_t* v = b.v.data();
    size_t n_v = 0;
    for (size_t k = b.order.size(); k-- > 0;) {
        const int64_t s_end = static_cast<int32_t>(b.order[k].x);
        const int64_t i0 = static_cast<int64_t>(b.order[k].y);
        if (t[i0] != 0) continue;
        // find the best start: stop when the score drops too far below its peak
        int64_t i = i0, max_i = i0, max_s = 0;
        for (;;) {
            t[i] = 2;
            i = p[i];
            const int64_t s = i < 0 ? s_end : s_end - f[i];
            if (s > max_s)
                max_s = s, max_i = i;
            else if (max_s - s > max_drop)
                break;
            if (i < 0 || t[i] != 0) break;
        }
        const int64_t end_i = i;
        for (int64_t j = i0; j >= 0 && j != end_i; j = p[j]) t[j] = 0;
        const size_t first = n_v;
        for (int64_t j = i0; j >= 0 && j != max_i; j = p[j]) {
            v[n_v++] = static_cast<int32_t>(j);
            t[j] = 1;
        }
        const size_t cnt = n_v - first;
        const int64_t score = max_i < 0 ? s_end : s_end - f[max_i];
        if (score >= min_chain_score && cnt > 0 && cnt >= static_cast<size_t>(std::max(min_cnt, 0)))
            out.chains.push_back((static_cast<uint64_t>(static_cast<uint32_t>(score)) << 32) | cnt);
        else
            n_v = first;  // the marks t = 1 stay: those anchors are used up
    }
    out.n_v = n_v;
    return out;
}

ChainResult compact_chains(const Minimizer* a, const Backtrack& bt, const std::vector<int32_t>& v) {
    ChainResult out;
    const size_t n_chains = bt.chains.size();
    if (n_chains == 0) return out;
    std::vector<Minimizer> staged(bt.n_v);
    std::vector<Minimizer> keys(n_chains);
    size_t k = 0;
    for (size_t c = 0; c < n_chains; ++c) {
        const size_t cnt = static_cast<uint32_t>(bt.chains[c]);
        // the index list runs from each chain's last anchor back to its first
        for (size_t j = 0; j < cnt; ++j) staged[k + j] = a[v[k + cnt - 1 - j]];
        keys[c] = {staged[k].x, (uint64_t{k} << 32) | c};
        k += cnt;
    }
    sort_records(keys.data(), n_chains);
    out.chains.reserve(n_chains);
    out.anchors.reserve(bt.n_v);
    for (const Minimizer& key : keys) {
        const size_t c = static_cast<uint32_t>(key.y), off = key.y >> 32;
        const size_t cnt = static_cast<uint32_t>(bt.chains[c]);
        out.chains.push_back(bt.chains[c]);
        out.anchors.insert(out.anchors.end(), staged.begin() + off, staged.begin() + off + cnt);
    }
    return out;
}

ChainResult chain_anchors(const ChainingParams& params, bool is_splice, int n_seg,
                          int32_t max_dist_x, int32_t max_dist_y, const Minimizer* anchors, size_t n,
                          ChainingBuffers& buffers) {
    if (is_splice || n_seg > 1 || n < 32)
        return chain_anchors_scalar(params, is_splice, n_seg, max_dist_x, max_dist_y, anchors, n,
                                    buffers);
    switch (select_chain_level()) {
        case SimdLevel::Scalar:
            return chain_anchors_scalar(params, false, n_seg, max_dist_x, max_dist_y, anchors, n,
                                        buffers);
        case SimdLevel::Avx512:
            return chain_anchors_avx512(params, max_dist_x, max_dist_y, anchors, n, buffers);
        case SimdLevel::Avx2:
            return chain_anchors_avx2(params, max_dist_x, max_dist_y, anchors, n, buffers);
        default:
            return chain_anchors_sse(params, max_dist_x, max_dist_y, anchors, n, buffers);
    }
}

ChainResult chain_anchors_partitioned(const ChainingParams& params, int32_t max_dist_x,
                                      int32_t max_dist_y, const Minimizer* anchors, size_t n) {
    if (n == 0) return {};
    // Target id without the strand bit: each strand of a target is its own run.
    auto target = [&](size_t i) { return (anchors[i].x >> 32) & 0x7fffffff; };
    std::vector<size_t> bounds{0};
    for (size_t i = 1; i < n; ++i)
        if (target(i - 1) != target(i)) bounds.push_back(i);
    bounds.push_back(n);
    const size_t parts = bounds.size() - 1;
    if (parts == 1) {
        ChainingBuffers buffers;
        return chain_anchors(params, false, 1, max_dist_x, max_dist_y, anchors, n, buffers);
    }
    std::vector<ChainResult> results =
        ThreadPool::global().parallel_map<ChainResult>(parts, [&](size_t k) {
            ChainingBuffers buffers;
            return chain_anchors(params, false, 1, max_dist_x, max_dist_y, anchors + bounds[k],
                                 bounds[k + 1] - bounds[k], buffers);
        });
    ChainResult out;
    for (ChainResult& r : results) {
        out.chains.insert(out.chains.end(), r.chains.begin(), r.chains.end());
        out.anchors.insert(out.anchors.end(), r.anchors.begin(), r.anchors.end());
    }
    return out;
}

}  // namespace tessiq

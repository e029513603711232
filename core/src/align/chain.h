// Chaining: co-linear runs of anchors scored by a gap-aware dynamic program,
// extracted by backtracking from the best ends.
//
// Anchors are Minimizer records sorted by x: tpos = low 32 bits of x, tkey =
// x >> 32 (strand and target id), qpos = low 32 bits of y, span = bits 32..39
// of y, segment = bits 48..55 of y.
#pragma once

#include <cstdint>
#include <vector>

#include "align/sketch.h"
#include "api/options.h"

namespace tessiq {

// Scratch arrays kept by the query context so chaining does not allocate
// per query.
struct ChainingBuffers {
    std::vector<int32_t> p;        // predecessor of each anchor, -1 for none
    std::vector<int32_t> f;        // best chain score ending at each anchor
    std::vector<int32_t> v;        // anchor indices of the extracted chains
    std::vector<int32_t> t;        // marks used by the skip rule and backtracking
    std::vector<Minimizer> order;  // (score, index) records for backtracking
    // Structure-of-arrays copies used by the vector chainers.
    std::vector<int32_t> tpos, qpos, span, tkey, batch;
};

struct ChainResult {
    std::vector<uint64_t> chains;    // (score << 32) | anchor count, per chain
    std::vector<Minimizer> anchors;  // the chains' anchors, chain after chain
};

// Fast base-2 logarithm on the float's bits, for x >= 2.
TESSIQ_API float approx_log2(float x);

// Float to int: truncates toward zero, saturates, NaN gives 0.
inline int32_t saturating_f2i(float v) {
    if (v != v) return 0;
    if (v >= 2147483648.0f) return 2147483647;
    if (v <= -2147483648.0f) return -2147483647 - 1;
    return static_cast<int32_t>(v);
}

// Coordinates are 32-bit fields: differences wrap around in 32 bits.
inline int32_t sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t abs32(int32_t a) { return a < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(a)) : a; }
// The logarithmic part of the gap penalty for a diagonal change dd; 0 for
// none. dd + 1 is taken in 32 bits, as the vector kernels do.
inline float gap_log2(int32_t dd) {
    return dd > 0 ? approx_log2(static_cast<float>(sub32(dd, -1))) : 0.0f;
}

inline int32_t anchor_tpos(const Minimizer& a) { return static_cast<int32_t>(a.x); }
inline uint64_t anchor_tkey(const Minimizer& a) { return a.x >> 32; }
inline int32_t anchor_qpos(const Minimizer& a) { return static_cast<int32_t>(a.y); }
inline int32_t anchor_span(const Minimizer& a) { return static_cast<int32_t>((a.y >> 32) & 0xff); }
inline int32_t anchor_seg(const Minimizer& a) { return static_cast<int32_t>((a.y >> 48) & 0xff); }

inline constexpr int32_t INVALID_LINK = -2147483647 - 1;

// Score of anchor i following anchor j, or INVALID_LINK.
TESSIQ_API int32_t link_score(const Minimizer& ai, const Minimizer& aj, const ChainingParams& params,
                              bool is_cdna, int n_seg, int32_t max_dist_x, int32_t max_dist_y);

// Picks the scalar reference or a vector chainer (the latter only for
// single-segment, non-spliced inputs of at least 32 anchors).
TESSIQ_API ChainResult chain_anchors(const ChainingParams& params, bool is_splice, int n_seg,
                                     int32_t max_dist_x, int32_t max_dist_y,
                                     const Minimizer* anchors, size_t n, ChainingBuffers& buffers);

// The reference chainer.
TESSIQ_API ChainResult chain_anchors_scalar(const ChainingParams& params, bool is_cdna, int n_seg,
                                            int32_t max_dist_x, int32_t max_dist_y,
                                            const Minimizer* anchors, size_t n,
                                            ChainingBuffers& buffers);

struct Backtrack {
    std::vector<uint64_t> chains;  // chain words in extraction order
    size_t n_v = 0;                // buffers.v[0..n_v): indices, each chain last anchor first
};

// Extracts chains from the scores f and predecessors p (both of length n),
// best end first. Uses buffers.t and buffers.order, writes buffers.v.
TESSIQ_API Backtrack chain_backtrack(size_t n, ChainingBuffers& buffers, int32_t min_cnt,
                                     int32_t min_chain_score, int32_t max_drop);

// Copies the chains' anchors out in input order per chain and orders the
// chains by the x of their first anchor.
TESSIQ_API ChainResult compact_chains(const Minimizer* anchors, const Backtrack& bt,
                                      const std::vector<int32_t>& v);

// Chains each target (both strands apart) on the worker pool; chains come
// out in partition order.
TESSIQ_API ChainResult chain_anchors_partitioned(const ChainingParams& params, int32_t max_dist_x,
                                                 int32_t max_dist_y, const Minimizer* anchors,
                                                 size_t n);

namespace chain_detail {
// Resizes the per-anchor arrays to n and clears t.
void prepare(ChainingBuffers& b, size_t n);
// Step shared by every chainer: the first anchor that may precede anchor i
// (same target key, within max_dist_x).
// st may lie beyond i when a negative max_chain_iter pushed it there.
inline int64_t advance_window(const Minimizer* a, int64_t st, int64_t i, int32_t max_dist_x) {
    while (st < i && (anchor_tkey(a[st]) != anchor_tkey(a[i]) ||
                      a[st].x + static_cast<uint64_t>(static_cast<int64_t>(max_dist_x)) < a[i].x))
        ++st;
    return st;
}
// The max_chain_iter limit on the predecessor window.
inline int64_t limit_window(int64_t st, int64_t i, int32_t max_chain_iter) {
    return i - st > max_chain_iter ? i - max_chain_iter : st;
}
// The backward walk over anchor i's predecessors, shared by the scalar and
// vector chainers: keeps the best score, and gives up after max_chain_skip
// predecessors that do not improve it and already lie on i's path.
struct PredecessorWalk {
    int32_t max_f;
    int32_t max_j = -1;
    int32_t n_skip = 0;
    // Offers predecessor j with link score sc (not INVALID_LINK). Returns
    // false when the walk must stop at j.
    bool offer(int64_t i, int64_t j, int32_t sc, const int32_t* f, const int32_t* p, int32_t* t,
               int32_t max_chain_skip) {
        sc += f[j];
        if (sc > max_f) {
            max_f = sc, max_j = static_cast<int32_t>(j);
            if (n_skip > 0) --n_skip;
        } else if (t[j] == static_cast<int32_t>(i) && ++n_skip > max_chain_skip) {
            return false;
        }
        if (p[j] >= 0) t[p[j]] = static_cast<int32_t>(i);
        return true;
    }
};
// Re-checks the best earlier anchor cut off by the skip rule, then stores
// f[i], p[i] and updates max_ii. Used by the scalar and vector chainers.
TESSIQ_API void finish_anchor(const Minimizer* a, int64_t i, int64_t st, int64_t end_j,
                              int32_t max_f, int32_t max_j, int64_t& max_ii,
                              const ChainingParams& params, bool is_cdna, int n_seg,
                              int32_t max_dist_x, int32_t max_dist_y, ChainingBuffers& b);
}  // namespace chain_detail

}  // namespace tessiq

// Vector chainers: the predecessor scoring of chaining, 4, 8 or 16
// predecessors per instruction step, for single-segment unspliced inputs.
// With max_chain_skip > 0 they return exactly what chain_anchors_scalar does.
#pragma once

#include "align/chain.h"

namespace tessiq {

// Scores of anchor i (qi, ti, tki) following every j in [start, end), without
// f[j]; INVALID_LINK where j cannot precede i.
struct BatchArgs {
    const int32_t* qpos;
    const int32_t* tpos;
    const int32_t* span;
    const int32_t* tkey;
    int32_t qi, ti, tki;
    float chn_pen_gap, chn_pen_skip;
    int32_t max_dist_x, max_dist_y, bandwidth;
};
TESSIQ_API void compute_chain_scores_batch_sse(const BatchArgs& args, int32_t* out, size_t start,
                                               size_t end);
TESSIQ_API void compute_chain_scores_batch_avx2(const BatchArgs& args, int32_t* out, size_t start,
                                                size_t end);
TESSIQ_API void compute_chain_scores_batch_avx512(const BatchArgs& args, int32_t* out, size_t start,
                                                  size_t end);
// The per-predecessor formula the kernels use for the remainder.
TESSIQ_API int32_t chain_score_one(const BatchArgs& args, size_t j);

TESSIQ_API ChainResult chain_anchors_sse(const ChainingParams& params, int32_t max_dist_x,
                                         int32_t max_dist_y, const Minimizer* anchors, size_t n,
                                         ChainingBuffers& buffers);
TESSIQ_API ChainResult chain_anchors_avx2(const ChainingParams& params, int32_t max_dist_x,
                                          int32_t max_dist_y, const Minimizer* anchors, size_t n,
                                          ChainingBuffers& buffers);
TESSIQ_API ChainResult chain_anchors_avx512(const ChainingParams& params, int32_t max_dist_x,
                                            int32_t max_dist_y, const Minimizer* anchors, size_t n,
                                            ChainingBuffers& buffers);

}  // namespace tessiq

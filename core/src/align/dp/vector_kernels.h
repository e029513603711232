// The interface between the kernel wrappers (baseline code: argument set-up,
// scratch, traceback) and the vector bodies compiled once per instruction
// set. Only plain structs and raw buffers cross it, so the per-instruction-set
// units instantiate nothing shared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessiq {

// The integer fields of a DpResult, copied in before and out after a kernel.
struct DpScores {
    int32_t max, max_q, max_t, mqe, mqe_t, mte, mte_q, score, reached_end, z_dropped;
};

// Arrays are indexed by target position. The byte arrays u, v, x, y (and the
// family's extra ones) are valid on [-64, tlen + 64); qr is the reversed
// query, valid on [-16, qlen + 16), tp the target, valid on [0, tlen + 16);
// the padding holds the ambiguous code. dir is null with SCORE_ONLY.
struct VectorArgs {
    const uint8_t* qr;
    const uint8_t* tp;
    int32_t qlen, tlen, m;
    const int8_t* mat;
    int32_t q, e, q2, e2;  // q2/e2: second pair (dual) or intron cost (splice, q2 only)
    int64_t w;             // band (already made non-negative)
    int32_t zdrop, flags;
    int8_t match, mismatch, amb;
    int32_t long_gap;      // L of the dual and splice kernels
    int8_t *u, *v, *x, *y, *x2, *y2, *s;
    const int8_t *donor, *acceptor;  // splice
    int32_t* H;                      // exact mode of dual and splice; null otherwise
    uint8_t* dir;
    size_t n_col;
    int32_t *row_start, *row_end;
};

#define TESSIQ_DECLARE_VECTOR_KERNELS(ns)                               \
    namespace ns {                                                      \
    void single_kernel(const VectorArgs& a, DpScores& o);               \
    void dual_kernel(const VectorArgs& a, DpScores& o);                 \
    void splice_kernel(const VectorArgs& a, DpScores& o);               \
    }

TESSIQ_DECLARE_VECTOR_KERNELS(dp_sse2)
TESSIQ_DECLARE_VECTOR_KERNELS(dp_sse41)
TESSIQ_DECLARE_VECTOR_KERNELS(dp_avx2)
TESSIQ_DECLARE_VECTOR_KERNELS(dp_avx512)

}  // namespace tessiq

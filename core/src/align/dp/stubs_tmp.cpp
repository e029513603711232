#include "align/dp/common.h"
#include "align/dp/vector_kernels.h"
namespace tessiq {
#define STUB(ns) namespace ns { void dual_kernel(const VectorArgs&, DpScores&) {} void splice_kernel(const VectorArgs&, DpScores&) {} }
STUB(dp_sse2) STUB(dp_sse41) STUB(dp_avx2) STUB(dp_avx512)
void extend_dual_affine(TESSIQ_DUAL_ARGS) {}
void extend_dual_affine_scalar(TESSIQ_DUAL_ARGS) {}
void extend_dual_affine2_impl(TESSIQ_DUAL_ARGS) {}
void extend_dual_affine41_impl(TESSIQ_DUAL_ARGS) {}
void extend_dual_affine_avx2_fn(TESSIQ_DUAL_ARGS) {}
void extend_dual_affine_avx512_fn(TESSIQ_DUAL_ARGS) {}
void extend_splice(TESSIQ_SPLICE_ARGS) {}
void extend_splice_scalar(TESSIQ_SPLICE_ARGS) {}
void extend_splice_sse2(TESSIQ_SPLICE_ARGS) {}
void extend_splice41_impl(TESSIQ_SPLICE_ARGS) {}
void extend_splice_avx2_fn(TESSIQ_SPLICE_ARGS) {}
void extend_splice_avx512_fn(TESSIQ_SPLICE_ARGS) {}
}

// The dual-affine vector body for this unit's instruction set.
#include <immintrin.h>

#include "align/dp/vector_kernels.h"

namespace tessiq::dp_avx2 {
#include "align/dp/lanes.h"
#include "align/dp/exact_max.h"
#include "align/dp/dual_impl.h"
void dual_kernel(const VectorArgs& a, DpScores& o) { dual_body(a, o); }
}  // namespace tessiq::dp_avx2

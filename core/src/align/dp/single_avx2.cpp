// The single-affine vector body for this unit's instruction set.
#include <immintrin.h>

#include "align/dp/vector_kernels.h"

namespace tessiq::dp_avx2 {
#include "align/dp/lanes.h"
#include "align/dp/single_impl.h"
void single_kernel(const VectorArgs& a, DpScores& o) { single_body(a, o); }
}  // namespace tessiq::dp_avx2

// Set-up shared by the vector variants of the three families: the scratch
// block layout, the result copies and the per-level kernel table. Baseline
// code only.
#pragma once

#include "align/dp/common.h"
#include "align/dp/vector_kernels.h"
#include "align/env_flags.h"

namespace tessiq {

using VectorKernel = void (*)(const VectorArgs&, DpScores&);
enum class DpFamily { Single = 0, Dual = 1, Splice = 2 };

// The kernel of `family` for `level` (Sse2 and up).
VectorKernel vector_kernel(SimdLevel level, DpFamily family);

// Lane width in bytes of a level's widest register.
int lane_bytes(SimdLevel level);

DpScores scores_of(const DpResult& r);
void store_scores(DpResult& r, const DpScores& o);

// Carves the thread's scratch block into the arrays of `a` (byte arrays,
// reversed and padded query, padded target, H when `need_h`, direction rows
// of 16 * ... bytes unless SCORE_ONLY) and zeroes what the kernel reads.
// `band_cells` is the widest exact anti-diagonal; `col_group` the group size
// of the direction rows.
class VectorScratch {
public:
    VectorScratch(VectorArgs& a, const uint8_t* query, int32_t qlen, const uint8_t* target,
                  int32_t tlen, int m, const int8_t* mat, int32_t zdrop, int32_t flags,
                  int64_t band_cells, int col_group, bool need_h, size_t align);

private:
    AlignedMemory mem_;
};

}  // namespace tessiq

// A score-only local aligner: striped query profile, eight 16-bit lanes,
// saturating arithmetic, SSE2 only (no dispatch). Reports the best local
// score and where the best alignment ends.
#pragma once

#include <cstdint>
#include <vector>

#include "util/error.h"

namespace tessiq {

struct LightweightProfile {
    std::vector<int16_t> profile;  // m x seg_len x 8
    std::vector<int16_t> h_store, h_load, e, h_best;  // seg_len x 8 each
    int32_t qlen = 0;
    int32_t seg_len = 0;
    int32_t m = 0;
};

struct LightweightHit {
    int32_t score;
    int32_t query_end;   // 0-based inclusive, -1 when none
    int32_t target_end;  // 0-based inclusive, -1 when none
};

TESSIQ_API LightweightProfile lightweight_profile_init(const uint8_t* query, int32_t qlen, int8_t m,
                                                       const int8_t* mat);
TESSIQ_API LightweightHit lightweight_align_i16(LightweightProfile& profile, const uint8_t* target,
                                                int32_t tlen, int16_t gap_open, int16_t gap_extend);

}  // namespace tessiq

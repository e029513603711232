// Chain-level mapping: one query's chains turned into ranked mappings.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "align/sketch.h"

namespace tessiq {

// One chain-level mapping. Query coordinates are on the forward query
// strand; target coordinates on the target's forward strand.
struct Mapping {
    std::vector<Minimizer> anchors;  // private copy of the chain's anchors
    std::optional<int32_t> sub_score;
    uint64_t target_id = 0;
    uint64_t query_start = 0;
    uint64_t query_end = 0;
    int64_t target_start = 0;
    int64_t target_end = 0;
    uint64_t anchor_offset = 0;
    uint64_t squeezed_offset = 0;
    uint64_t parent = 0;
    int32_t score = 0;
    int32_t chain_score = 0;
    int32_t anchor_count = 0;
    uint32_t hash = 0;
    int32_t n_sub = 0;
    int32_t bound_target_start = 0;
    int32_t bound_query_start = 0;
    int32_t bound_target_end = 0;
    int32_t bound_query_end = 0;
    float divergence = -1.0f;
    uint8_t strand = 0;
    uint8_t is_secondary = 0;
    uint8_t is_inversion_candidate = 0;
    uint8_t from_inversion = 0;
    uint8_t is_alt = 0;
};

}  // namespace tessiq

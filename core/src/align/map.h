// Chain-level mapping: one query's chains turned into ranked mappings.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "align/chain.h"
#include "align/seed.h"
#include "align/sketch.h"
#include "api/options.h"

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

// Reusable per-call buffers; their capacity survives between queries.
struct TESSIQ_API MapContext {
    MapContext();
    std::vector<Minimizer> anchors;
    std::vector<Minimizer> minimizers;
    ChainingBuffers chaining;
    std::vector<uint64_t> mini_pos;  // span << 32 | query position, per matched seed
    SeedScratch seeds;
};

struct Duration {
    uint64_t secs = 0;
    uint32_t nanos = 0;
};

struct QueryMappings {
    std::vector<Mapping> mappings;           // ranked
    std::vector<Minimizer> squeezed_anchors;  // the mappings' anchors, back to back
    uint64_t n_minimizers = 0;
    uint64_t n_anchors = 0;
    uint64_t n_chain_anchors = 0;
    uint64_t rep_len = 0;
    Duration sketch_time, seed_time, chain_time, rest_time, align_time;
};

// Process-wide counters (nanoseconds or counts), only ever added to.
extern TESSIQ_API std::atomic<uint64_t> PC_BUILD_REGS_NS, PC_DIVEST_NS, PC_PARENT_NS,
    PC_RESCUE_NS, PC_SQUEEZED_NS, PC_RESCUE_COUNT, PC_RESCUE_ANCHORS;

// Maps one query to ranked chain-level mappings.
TESSIQ_API QueryMappings map_query(const MapOptions& options, const Index& index,
                                   std::string_view name, std::string_view seq, MapContext& ctx);

// The per-query tie-break seed and a chain's hash from its first anchor.
TESSIQ_API uint32_t tie_break_seed(std::string_view name, uint64_t qlen, int32_t seed_option,
                                   uint64_t flags);
TESSIQ_API uint32_t chain_hash(const Minimizer& first, int32_t anchor_count, uint32_t seed);

// Sets each mapping's divergence from how many query minimizers its anchors hit.
TESSIQ_API void estimate_divergence(std::vector<Mapping>& mappings, uint64_t qlen,
                                    const std::vector<uint64_t>& mini_pos, const Index& index);

struct Bounds {
    int32_t target_start, query_start, target_end, query_end;
};
// How far alignment of the mapping at squeezed[o, o + cnt) may extend: up to
// the (min_cnt + 1)-th anchor beyond each end on the same target and strand.
TESSIQ_API Bounds compute_bounds_from_squeezed(const std::vector<Minimizer>& squeezed, uint64_t o,
                                               uint64_t cnt, int64_t target_len, int64_t qlen,
                                               int32_t min_cnt);

}  // namespace tessiq

// Mapping options: every tunable of seeding, chaining, scoring, alignment,
// filtering and pairing, with their base values and the named presets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/error.h"

namespace tessiq {

struct SeedingParams {
    uint64_t mid_occ = 0;  // replaced by the index-derived cut-off
    uint64_t max_occ = 0;
    uint64_t max_max_occ = 4095;
    int32_t occ_dist = 500;
    float q_occ_frac = 0.01f;
    int32_t min_mid_occ = 10;
    int32_t max_mid_occ = 1000000;
};

struct ChainingParams {
    int32_t min_cnt = 3;
    int32_t min_chain_score = 40;
    int32_t max_gap = 5000;
    int32_t max_gap_ref = -1;
    int32_t max_dist_x = 5000;
    int32_t max_dist_y = 5000;
    int32_t bandwidth = 500;
    int32_t bandwidth_long = 20000;
    int32_t max_chain_skip = 25;
    int32_t max_chain_iter = 5000;
    float chn_pen_gap = 0.12f;  // recomputed by every preset
    float chn_pen_skip = 0.0f;  // set to 0 by every preset
    float chain_gap_scale = 0.8f;
    int32_t rmq_rescue_size = 1000;
    float rmq_rescue_ratio = 0.1f;
    int32_t rmq_inner_dist = 1000;
    int32_t rmq_size_cap = 100000;
};

struct ScoringParams {
    int32_t match_score = 2;
    int32_t mismatch_penalty = 4;
    int32_t gap_open = 4;
    int32_t gap_extend = 2;
    int32_t gap_open2 = 24;
    int32_t gap_extend2 = 1;
    int32_t transition = 0;
    int32_t ambig_penalty = 1;
    int32_t noncanon_penalty = 0;
    int32_t junc_bonus = 0;
    int32_t junc_pen = 0;
};

struct AlignmentParams {
    int32_t zdrop = 400;
    int32_t zdrop_inv = 200;
    int32_t end_bonus = -1;
    int64_t max_sw_mat = 100000000;
    int32_t min_dp_max = 80;
    int32_t min_dp_len = 200;
    int32_t anchor_ext_len = 20;
    int32_t anchor_ext_shift = 6;
    float max_clip_ratio = 1.0f;
};

struct FilteringParams {
    int32_t best_n = 5;
    float pri_ratio = 0.8f;
    float mask_level = 0.5f;
    int32_t mask_len = 2147483647;
    bool is_splice = false;
    float alt_drop = 0.15f;
    int32_t seed = 11;
    float chain_skip_scale = 0.0f;
    int32_t max_qlen = 0;  // 0 or negative: no limit
    int32_t jump_min_match = 3;
};

struct PairedEndParams {
    int32_t max_frag_len = 0;
    int32_t pe_ori = 0;
    int32_t pe_bonus = 33;
};

// Named bits of the mode word.
inline constexpr uint64_t FLAG_NO_DIAG = 0x1;
inline constexpr uint64_t FLAG_NO_DUAL = 0x2;
inline constexpr uint64_t FLAG_SPLICE = 0x80;
inline constexpr uint64_t FLAG_SPLICE_FORWARD = 0x100;
inline constexpr uint64_t FLAG_SPLICE_REVERSE = 0x200;
inline constexpr uint64_t FLAG_NO_LONG_JOIN = 0x400;
inline constexpr uint64_t FLAG_SHORT_READ = 0x1000;
inline constexpr uint64_t FLAG_SPLICE_FLANK = 0x40000;
inline constexpr uint64_t FLAG_HEAP_SEEDS = 0x400000;
inline constexpr uint64_t FLAG_ALL_CHAINS = 0x800000;
// No preset sets the next four; their bit values are this library's choice.
inline constexpr uint64_t FLAG_FORWARD_ONLY = 0x100000;
inline constexpr uint64_t FLAG_REVERSE_ONLY = 0x200000;
inline constexpr uint64_t FLAG_HARD_MASK_LEVEL = 0x2000000;
inline constexpr uint64_t FLAG_NO_NAME_HASH = 0x20000000;
inline constexpr uint64_t FLAG_RMQ = 0x80000000;
inline constexpr uint64_t FLAG_QUERY_STRAND = uint64_t{1} << 32;
inline constexpr uint64_t FLAG_SPLICED_SHORT_READ = uint64_t{1} << 39;
inline constexpr uint64_t FLAG_PARTITIONED_CHAIN = uint64_t{1} << 41;

struct MapOptions {
    SeedingParams seeding;
    ChainingParams chaining;
    ScoringParams scoring;
    AlignmentParams alignment;
    FilteringParams filtering;
    PairedEndParams pairing;
    int64_t mini_batch_size = 500000000;
    uint64_t flags = 0;
};

// The presets the facade offers, each naming one preset string.
enum class Preset : uint8_t {
    MapOnt, MapPb, MapHifi, LrHq, LrHqae, MapIclr, Sr, Splice,
    SpliceHq, SpliceSr, Cdna, Asm5, Asm10, Asm20, AvaOnt, AvaPb,
};
inline constexpr int PRESET_COUNT = 16;

TESSIQ_API const char* preset_name(Preset preset);

// Index parameters a preset chooses; used only when an index is built for it.
struct IndexParams {
    uint64_t k = 15;
    uint64_t w = 10;
    bool is_hpc = false;
};

// Applies the named preset to `options` and `index`. Resets SIMD_CAP first
// (then raises it to 1 for the short-read and all-vs-all presets). Returns an
// error message for an unrecognised name; values of a partly matched family
// may already be written then.
TESSIQ_API std::optional<std::string> apply_preset_str(MapOptions& options, IndexParams& index,
                                                       std::string_view name);

}  // namespace tessiq

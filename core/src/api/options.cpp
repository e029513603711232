#include "api/options.h"

#include "align/env_flags.h"

namespace tessiq {

namespace {
constexpr const char* PRESET_NAMES[PRESET_COUNT] = {
    "map-ont", "map-pb", "map-hifi", "lr:hq", "lr:hqae", "map-iclr", "sr",    "splice",
    "splice:hq", "splice:sr", "cdna", "asm5", "asm10", "asm20", "ava-ont", "ava-pb",
};

void set_scores(ScoringParams& s, int32_t match, int32_t mismatch, int32_t open, int32_t extend,
                int32_t open2, int32_t extend2) {
    s.match_score = match;
    s.mismatch_penalty = mismatch;
    s.gap_open = open;
    s.gap_extend = extend;
    s.gap_open2 = open2;
    s.gap_extend2 = extend2;
}

void apply_splice_family(MapOptions& o, IndexParams& ix) {
    ix.k = 15, ix.w = 5;
    o.flags |= 0x40380;  // FLAG_SPLICE | both transcript strands | FLAG_SPLICE_FLANK
    o.alignment.max_sw_mat = 0;
    o.chaining.max_gap = 2000;
    o.chaining.max_gap_ref = 200000;
    o.chaining.bandwidth = 200000;
    o.chaining.bandwidth_long = 200000;
    set_scores(o.scoring, 1, 2, 2, 1, 32, 0);
    o.scoring.noncanon_penalty = 9;
    o.scoring.junc_bonus = 9;
    o.scoring.junc_pen = 5;
    o.alignment.zdrop = 200;
    o.alignment.zdrop_inv = 100;
    o.filtering.is_splice = true;
}

void apply_splice_hq_scores(MapOptions& o) {
    o.scoring.noncanon_penalty = 5;
    o.scoring.mismatch_penalty = 4;
    o.scoring.gap_open = 6;
    o.scoring.gap_open2 = 24;
}

void apply_asm_common(MapOptions& o, IndexParams& ix) {
    ix.k = 19, ix.w = 19;
    o.flags |= FLAG_RMQ;
    o.chaining.bandwidth = 1000;
    o.chaining.bandwidth_long = 100000;
    o.chaining.max_gap = 10000;
    o.seeding.min_mid_occ = 50;
    o.seeding.max_mid_occ = 500;
    o.alignment.min_dp_max = 200;
    o.filtering.best_n = 50;
}
}  // namespace

const char* preset_name(Preset preset) { return PRESET_NAMES[static_cast<int>(preset)]; }

std::optional<std::string> apply_preset_str(MapOptions& o, IndexParams& ix, std::string_view name) {
    SIMD_CAP.store(0, std::memory_order_relaxed);
    int nominal_k = 0;  // the preset's k-mer size, which scales the chain gap penalty

    if (name == "map-ont" || name == "lr") {
        nominal_k = 15;
        ix.k = 15, ix.w = 10;
    } else if (name == "map-pb" || name == "map10k") {
        nominal_k = 19;
        ix.k = 19, ix.is_hpc = true;
    } else if (name == "map-hifi" || name == "map-ccs") {
        nominal_k = 19;
        ix.k = 19, ix.w = 19;
        o.chaining.max_gap = 10000;
        o.seeding.min_mid_occ = 50;
        o.seeding.max_mid_occ = 500;
        set_scores(o.scoring, 1, 4, 6, 2, 26, 1);
        o.alignment.min_dp_max = 200;
    } else if (name == "lr:hq") {
        nominal_k = 19;
        ix.k = 19, ix.w = 19;
        o.chaining.max_gap = 10000;
        o.seeding.min_mid_occ = 50;
        o.seeding.max_mid_occ = 500;
    } else if (name == "lr:hqae") {
        nominal_k = 25;
        ix.k = 25, ix.w = 51;
        o.flags |= FLAG_RMQ;
        o.seeding.min_mid_occ = 50;
        o.seeding.max_mid_occ = 500;
        o.chaining.rmq_inner_dist = 5000;
        o.seeding.occ_dist = 200;
        o.filtering.best_n = 100;
        o.chaining.chain_gap_scale = 5.0f;
    } else if (name == "map-iclr" || name == "map-iclr-prerender") {
        const bool prerender = name != "map-iclr";
        nominal_k = prerender ? 15 : 19;
        ix.k = static_cast<uint64_t>(nominal_k);
        o.scoring.mismatch_penalty = 6;
        o.scoring.gap_open = 10;
        o.scoring.transition = prerender ? 1 : 4;
        o.scoring.gap_open2 = 50;
    } else if (name == "sr" || name == "short") {
        nominal_k = 21;
        ix.k = 21, ix.w = 11;
        SIMD_CAP.store(1, std::memory_order_relaxed);
        o.flags |= 0x407000;  // FLAG_SHORT_READ | 0x2000 | 0x4000 | FLAG_HEAP_SEEDS
        set_scores(o.scoring, 2, 8, 12, 2, 24, 1);
        o.pairing.max_frag_len = 800;
        o.pairing.pe_ori = 1;
        o.chaining.max_gap = 100;
        o.chaining.bandwidth = 100;
        o.chaining.bandwidth_long = 100;
        o.chaining.min_cnt = 2;
        o.chaining.min_chain_score = 25;
        o.alignment.zdrop = 100;
        o.alignment.zdrop_inv = 100;
        o.alignment.end_bonus = 10;
        o.alignment.min_dp_max = 40;
        o.filtering.best_n = 20;
        o.filtering.pri_ratio = 0.5f;
        o.seeding.mid_occ = 1000;
        o.seeding.max_occ = 5000;
        o.mini_batch_size = 50000000;
    } else if (name == "ava-ont" || name == "ava-pb") {
        const bool pb = name == "ava-pb";
        nominal_k = pb ? 19 : 15;
        ix.k = static_cast<uint64_t>(nominal_k), ix.w = 5;
        if (pb) ix.is_hpc = true;
        SIMD_CAP.store(1, std::memory_order_relaxed);
        o.flags |= 0x800403;  // FLAG_NO_DIAG | FLAG_NO_DUAL | FLAG_NO_LONG_JOIN | FLAG_ALL_CHAINS
        o.chaining.min_chain_score = 100;
        o.filtering.pri_ratio = 0.0f;
        o.chaining.max_chain_skip = 25;
        if (pb) {
            o.chaining.bandwidth_long = o.chaining.bandwidth;
        } else {
            o.chaining.bandwidth = 2000;
            o.chaining.bandwidth_long = 2000;
        }
        o.seeding.occ_dist = 0;
    } else if (name.size() >= 3 && name.substr(0, 3) == "asm") {
        nominal_k = 19;
        apply_asm_common(o, ix);
        if (name == "asm5") {
            set_scores(o.scoring, 1, 19, 39, 3, 81, 1);
        } else if (name == "asm10") {
            set_scores(o.scoring, 1, 9, 16, 2, 41, 1);
        } else if (name == "asm20") {
            ix.w = 10;
            set_scores(o.scoring, 1, 4, 6, 2, 26, 1);
        } else {
            return "unrecognized asm preset '" + std::string(name) +
                   "' (expected asm5, asm10, or asm20)";
        }
        o.alignment.zdrop = 200;
        o.alignment.zdrop_inv = 200;
    } else if ((name.size() >= 6 && name.substr(0, 6) == "splice") || name == "cdna") {
        nominal_k = 15;
        apply_splice_family(o, ix);
        if (name == "splice:hq") {
            apply_splice_hq_scores(o);
        } else if (name == "splice:sr") {
            apply_splice_hq_scores(o);
            o.flags |= 0xc000446380ULL;  // adds FLAG_HEAP_SEEDS, 0x2000, 0x4000, bit 38, bit 39
            o.chaining.min_chain_score = 25;
            o.alignment.min_dp_max = 40;
            o.alignment.min_dp_len = 20;
            o.pairing.pe_ori = 1;
            o.filtering.best_n = 10;
            o.mini_batch_size = 100000000;
        }
    } else {
        return "unrecognized preset '" + std::string(name) + "'";
    }

    o.chaining.chn_pen_gap =
        static_cast<float>(static_cast<double>(o.chaining.chain_gap_scale) * 0.01 * nominal_k);
    o.chaining.chn_pen_skip = 0.0f;
    return std::nullopt;
}

}  // namespace tessiq

// Seed collection: a query's minimizers become anchors against the index,
// with repetitive minimizers filtered out.
//
// Anchor layout (Minimizer words):
//   x: bit 63 strand (1 reverse), bits 62..32 target id, bits 31..0 target
//      position of the k-mer's last base
//   y: bits 55..48 segment id, bit 43 self, bit 42 tandem, bits 39..32 span,
//      bits 31..0 query position of the k-mer's last base on the anchor's strand
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "align/index.h"
#include "align/sketch.h"
#include "api/options.h"

namespace tessiq {

// A query minimizer whose hash is in the index.
struct SeedInfo {
    uint64_t n;           // occurrence count
    uint64_t mini_index;  // position in the query's minimizer array
    uint32_t start, end;  // occurrence range in the index's positions
    uint32_t pos_word;    // query position << 1 | strand
    uint32_t span;
    uint8_t tandem;
    uint8_t filtered;
};

// A seed that survived filtering.
struct MatchedSeed {
    uint64_t mini_index;
    uint64_t segment;
    uint32_t start, end;
    uint32_t span;
    uint8_t tandem;
};

// Per-query work arrays, reused between queries.
struct SeedScratch {
    std::vector<uint8_t> tandem;
    std::vector<SeedInfo> infos;
    std::vector<MatchedSeed> matched;
    std::vector<Minimizer> records;  // (key, value) pairs: sorting and the merge heap
};

// Removes, keeping order, the minimizers whose x occurs more often than
// max(n * q_occ_frac, q_occ_max) times in the query.
TESSIQ_API void filter_minimizers_by_occ(std::vector<Minimizer>& minimizers, uint64_t q_occ_max,
                                         float q_occ_frac);

// Looks the minimizers up, filters frequent ones, fills mini_pos and
// scratch.matched. Returns (total occurrences of the matched seeds, rep_len).
TESSIQ_API std::pair<uint64_t, uint64_t> collect_anchor_matches(
    uint64_t max_max_occ, int32_t occ_dist, const Index& index, uint64_t qlen,
    const std::vector<Minimizer>& minimizers, std::vector<uint64_t>& mini_pos, uint64_t max_occ,
    SeedScratch& scratch);

// Anchors sorted by x. Returns rep_len.
TESSIQ_API uint64_t collect_seed_hits_with_occ(const MapOptions& options, const Index& index,
                                               uint64_t qlen,
                                               const std::vector<Minimizer>& minimizers,
                                               std::vector<Minimizer>& anchors,
                                               std::vector<uint64_t>& mini_pos, uint64_t max_occ,
                                               std::optional<std::string_view> query_name,
                                               SeedScratch& scratch);

// Anchors merged from the occurrence lists: forward anchors in ascending
// occurrence order, then reverse ones. Returns rep_len.
TESSIQ_API uint64_t collect_seed_hits_heap(const MapOptions& options, const Index& index,
                                           uint64_t qlen, const std::vector<Minimizer>& minimizers,
                                           std::vector<Minimizer>& anchors,
                                           std::vector<uint64_t>& mini_pos, uint64_t max_occ,
                                           std::optional<std::string_view> query_name,
                                           SeedScratch& scratch);

}  // namespace tessiq

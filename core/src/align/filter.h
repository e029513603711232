// Primary/secondary selection: which mappings repeat an earlier primary's
// query interval, and which of those secondaries are worth keeping.
#pragma once

#include <cstdint>
#include <vector>

#include "align/map.h"
#include "api/options.h"

namespace tessiq {

// An alignment result's query interval, run through the same parent
// assignment as chain-level mappings.
struct FilterableItem {
    uint64_t query_start;
    uint64_t query_end;
};

struct PrimaryInterval {
    uint64_t item;
    uint64_t start;
    uint64_t end;
};

// Gives each item, in rank order, a parent: the earlier primary whose query
// interval it mostly repeats, or itself.
class TESSIQ_API ParentState {
public:
    ParentState(size_t n, int32_t mask_len, bool hard_mask, float mask_level);

    // intervals[i] = [start, end) of item i, best ranked first.
    void assign_parents(const std::vector<FilterableItem>& intervals);
    void assign_parents(const std::vector<Mapping>& mappings);

    std::vector<uint64_t> parents;
    std::vector<PrimaryInterval> primary_intervals;
    float mask_level;
    int32_t mask_len;
    bool hard_mask;

private:
    template <typename Interval>
    void assign(size_t n, Interval interval);
};

// The score alternate targets rank by: (1 - alt_drop) * score + 0.499, at
// least 1, for non-negative scores on alternate targets.
TESSIQ_API int32_t alt_adjusted_score(int32_t score, bool is_alt, float alt_drop);

// Stable, best first: alt-adjusted score, then hash, both descending.
TESSIQ_API void sort_mappings(std::vector<Mapping>& mappings, float alt_drop);

// For ranked mappings: assigns parents, sub-scores and secondary flags, and
// returns the kept mappings in rank order with `parent` pointing into them.
TESSIQ_API std::vector<Mapping> select_secondaries(std::vector<Mapping>&& mappings, uint64_t k,
                                                   const MapOptions& options);

// Drops inversion candidates whose divergence is well above their primary's.
TESSIQ_API void prune_inversion_candidates(std::vector<Mapping>& mappings);

}  // namespace tessiq

#include "align/filter.h"

#include <algorithm>

#include "align/chain.h"

namespace tessiq {

ParentState::ParentState(size_t n, int32_t mask_len_, bool hard_mask_, float mask_level_)
    : parents(n), mask_level(mask_level_), mask_len(mask_len_), hard_mask(hard_mask_) {
    for (size_t i = 0; i < n; ++i) parents[i] = i;
}

void ParentState::assign_parents(const std::vector<FilterableItem>& items) {
    assign(items.size(), [&](size_t i) { return std::make_pair(items[i].query_start, items[i].query_end); });
}

void ParentState::assign_parents(const std::vector<Mapping>& m) {
    assign(m.size(), [&](size_t i) { return std::make_pair(m[i].query_start, m[i].query_end); });
}

namespace {
// Only the first item may enter the primary list with an empty or inverted
// interval; such an interval covers nothing and is never a parent (unsigned
// lengths would otherwise wrap around and make it one).
inline bool overlaps(const PrimaryInterval& p, uint64_t s, uint64_t e) {
    return p.start < p.end && p.start < e && s < p.end;
}
}  // namespace

template <typename Interval>
void ParentState::assign(size_t n, Interval interval) {
    if (n == 0) return;
    primary_intervals.clear();
    {
        const auto [s0, e0] = interval(0);
        primary_intervals.push_back({0, s0, e0});
    }
    std::vector<std::pair<uint64_t, uint64_t>> pieces;
    for (size_t i = 1; i < n; ++i) {
        const auto [s, e] = interval(i);
        if (s >= e) continue;
        // u: the part of [s, e) that no primary covers
        uint64_t u = 0;
        if (!hard_mask) {
            pieces.clear();
            for (const PrimaryInterval& p : primary_intervals)
                if (overlaps(p, s, e)) pieces.emplace_back(std::max(p.start, s), std::min(p.end, e));
            if (pieces.empty()) {
                primary_intervals.push_back({i, s, e});
                continue;
            }
            std::sort(pieces.begin(), pieces.end());
            uint64_t cur = s;
            for (const auto& [a, b] : pieces) {
                if (a > cur) u += a - cur;
                cur = std::max(cur, b);
            }
            if (e > cur) u += e - cur;
        }
        bool accepted = false;
        for (const PrimaryInterval& p : primary_intervals) {
            if (!overlaps(p, s, e)) continue;
            const uint64_t lp = p.end - p.start, li = e - s;
            const uint64_t lmin = std::min(lp, li), lmax = std::max(lp, li);
            const uint64_t ov = s < p.start ? std::min(p.end, e) - p.start : std::min(e, p.end) - s;
            if (lmin == 0) continue;
            const float frac = static_cast<float>(ov) / static_cast<float>(lmin) -
                               static_cast<float>(u) / static_cast<float>(lmax);
            if (frac > mask_level && static_cast<int32_t>(u) <= mask_len) {
                parents[i] = parents[p.item];
                accepted = true;
                break;
            }
        }
        if (!accepted) primary_intervals.push_back({i, s, e});
    }
}

int32_t alt_adjusted_score(int32_t score, bool is_alt, float alt_drop) {
    if (!is_alt || score < 0) return score;
    const int32_t v = saturating_f2i((1.0f - alt_drop) * static_cast<float>(score) + 0.499f);
    return v < 2 ? 1 : v;
}

void sort_mappings(std::vector<Mapping>& mappings, float alt_drop) {
    std::stable_sort(mappings.begin(), mappings.end(), [&](const Mapping& a, const Mapping& b) {
        const int32_t sa = alt_adjusted_score(a.score, a.is_alt, alt_drop);
        const int32_t sb = alt_adjusted_score(b.score, b.is_alt, alt_drop);
        if (sa != sb) return sa > sb;
        return a.hash > b.hash;
    });
}

std::vector<Mapping> select_secondaries(std::vector<Mapping>&& m, uint64_t k,
                                        const MapOptions& options) {
    const size_t n = m.size();
    const FilteringParams& fp = options.filtering;
    ParentState state(n, fp.mask_len, (options.flags & FLAG_HARD_MASK_LEVEL) != 0, fp.mask_level);
    state.assign_parents(m);
    const std::vector<uint64_t>& parent = state.parents;
    const int32_t min_diff = static_cast<int32_t>(static_cast<uint32_t>(k) * 2u);
    const int32_t inv_min = saturating_f2i(0.8f * static_cast<float>(options.chaining.max_gap));

    std::vector<int32_t> best_sub(n, 0), count(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const size_t p = parent[i];
        if (p == i) continue;
        int32_t contribution = m[i].score;
        if (!m[p].is_alt && m[i].is_alt && m[i].score >= 0)
            contribution = alt_adjusted_score(m[i].score, true, fp.alt_drop);
        best_sub[p] = std::max(best_sub[p], contribution);
        if (m[i].anchor_count >= m[p].anchor_count) ++count[p];
    }
    for (size_t i = 0; i < n; ++i) {
        if (parent[i] != i) continue;
        m[i].n_sub = count[i];
        if (best_sub[i] > 0) m[i].sub_score = best_sub[i];
    }

    std::vector<size_t> new_position(n, SIZE_MAX);
    std::vector<Mapping> kept;
    int32_t retained = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t p = parent[i];
        if (p != i) {
            const Mapping& mi = m[i];
            const Mapping& mp = m[p];
            const bool a = static_cast<float>(mi.score) >= fp.pri_ratio * static_cast<float>(mp.score);
            const bool b = static_cast<int32_t>(static_cast<uint32_t>(mi.score) +
                                                static_cast<uint32_t>(min_diff)) >= mp.score;
            const bool c = mi.strand != mp.strand && mi.score > inv_min;
            const bool copy = mi.query_start == mp.query_start && mi.query_end == mp.query_end &&
                              mi.target_id == mp.target_id && mi.target_start == mp.target_start &&
                              mi.target_end == mp.target_end;
            if (!(a || b || c) || retained >= fp.best_n || copy) continue;
            m[i].is_secondary = 1;
            if (!a && !b) m[i].is_inversion_candidate = 1;
            ++retained;
        }
        new_position[i] = kept.size();
        kept.push_back(std::move(m[i]));
    }
    // Parents precede their children, and primaries are always kept.
    size_t pos = 0;
    for (size_t i = 0; i < n; ++i)
        if (new_position[i] != SIZE_MAX) kept[pos++].parent = new_position[parent[i]];
    return kept;
}

void prune_inversion_candidates(std::vector<Mapping>& m) {
    if (std::none_of(m.begin(), m.end(), [](const Mapping& x) { return x.is_inversion_candidate; }))
        return;
    std::vector<float> divergence(m.size());
    for (size_t i = 0; i < m.size(); ++i) divergence[i] = m[i].divergence;
    std::vector<Mapping> out;
    out.reserve(m.size());
    for (size_t i = 0; i < m.size(); ++i) {
        if (m[i].is_inversion_candidate) {
            const uint64_t p = m[i].parent;
            const float t = p < m.size() ? 5.0f * divergence[p] : 0.0f;
            if (!(t > m[i].divergence || m[i].divergence < 0.01f)) continue;
        }
        out.push_back(std::move(m[i]));
    }
    m = std::move(out);
}

}  // namespace tessiq

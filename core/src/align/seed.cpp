#include "align/seed.h"

#include <algorithm>

#include "align/chain.h"
#include "align/sort.h"

namespace tessiq {

namespace {
// Double to unsigned: truncates, negatives and NaN give 0, too large saturates.
uint64_t saturating_u64(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<uint64_t>(v);
}
}  // namespace

void filter_minimizers_by_occ(std::vector<Minimizer>& mins, uint64_t q_occ_max, float q_occ_frac) {
    const size_t n = mins.size();
    if (n == 0) return;
    const float product = static_cast<float>(n) * q_occ_frac;  // float, then widened exactly
    const uint64_t limit = std::max(saturating_u64(product), q_occ_max);
    std::vector<std::pair<uint64_t, size_t>> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = {mins[i].x, i};
    std::sort(order.begin(), order.end());
    std::vector<uint8_t> drop(n, 0);
    for (size_t i = 0; i < n;) {
        size_t j = i + 1;
        while (j < n && order[j].first == order[i].first) ++j;
        if (j - i > limit)
            for (size_t k = i; k < j; ++k) drop[order[k].second] = 1;
        i = j;
    }
    size_t out = 0;
    for (size_t i = 0; i < n; ++i)
        if (!drop[i]) mins[out++] = mins[i];
    mins.resize(out);
}

namespace {

// Keeps the `quota` least frequent seeds of a streak in a max-heap of
// (n, seed index) and marks them.
void mark_least_frequent(std::vector<SeedInfo>& s, size_t first, size_t last, uint64_t quota) {
    std::vector<std::pair<uint64_t, uint64_t>> heap;
    heap.reserve(quota);
    for (size_t j = first; j < last; ++j) {
        const std::pair<uint64_t, uint64_t> item{s[j].n, j};
        if (heap.size() < quota) {
            size_t k = heap.size();
            heap.push_back(item);
            while (k > 0 && heap[k] > heap[(k - 1) / 2]) {
                std::swap(heap[k], heap[(k - 1) / 2]);
                k = (k - 1) / 2;
            }
        } else if (s[j].n < heap[0].first) {
            heap[0] = item;
            size_t k = 0;
            for (;;) {
                const size_t l = 2 * k + 1, r = l + 1;
                if (l >= heap.size()) break;
                const size_t c = (r < heap.size() && heap[r] > heap[l]) ? r : l;
                if (!(heap[c] > heap[k])) break;
                std::swap(heap[c], heap[k]);
                k = c;
            }
        }
    }
    for (const auto& [n, j] : heap) s[j].filtered = 1;
}

}  // namespace

std::pair<uint64_t, uint64_t> collect_anchor_matches(uint64_t max_max_occ, int32_t occ_dist,
                                                     const Index& index, uint64_t qlen,
                                                     const std::vector<Minimizer>& mins,
                                                     std::vector<uint64_t>& mini_pos,
                                                     uint64_t max_occ, SeedScratch& scratch) {
    const size_t nm = mins.size();
    std::vector<uint8_t>& tandem = scratch.tandem;
    tandem.assign(nm, 0);
    for (size_t i = 0; i < nm; ++i) {
        const uint64_t h = mins[i].x >> 8;
        tandem[i] = (i > 0 && (mins[i - 1].x >> 8) == h) || (i + 1 < nm && (mins[i + 1].x >> 8) == h);
    }
    std::vector<SeedInfo>& s = scratch.infos;
    s.clear();
    const BucketHashLookup& table = index.lookup();
    for (size_t i = 0; i < nm; ++i) {
        const uint64_t* first = nullptr;
        const uint32_t n = table.lookup(mins[i].x >> 8, first);
        if (n == 0) continue;
        const uint32_t start = static_cast<uint32_t>(first - table.positions.data());
        s.push_back({n, i, start, start + n, static_cast<uint32_t>(mins[i].y),
                     static_cast<uint32_t>(mins[i].x & 0xff), tandem[i], 0});
    }
    const size_t m = s.size();
    if (occ_dist <= 0 || max_occ >= max_max_occ) {
        for (SeedInfo& x : s)
            if (x.n > max_occ) x.filtered = 1;
    } else if (m >= 2 && std::any_of(s.begin(), s.end(), [&](const SeedInfo& x) { return x.n > max_occ; })) {
        // Streaks of frequent seeds between two usable ones keep a quota of
        // their least frequent members, about one per occ_dist query bases.
        int64_t last = -1;
        for (size_t i = 0; i <= m; ++i) {
            if (i < m && s[i].n > max_occ) continue;
            if (static_cast<int64_t>(i) - last > 1) {
                const int64_t ps = last < 0 ? 0 : s[last].pos_word >> 1;
                const int64_t pe = i == m ? static_cast<int64_t>(qlen) : s[i].pos_word >> 1;
                uint64_t quota = saturating_u64(static_cast<double>(pe - ps) / occ_dist + 0.499);
                const size_t first = static_cast<size_t>(last + 1);
                if (quota > 0) mark_least_frequent(s, first, i, std::min<uint64_t>(quota, 128));
                for (size_t j = first; j < i; ++j) {
                    s[j].filtered = !s[j].filtered;
                    if (s[j].n > max_max_occ) s[j].filtered = 1;
                }
            }
            last = static_cast<int64_t>(i);
        }
    }
    uint64_t n_a = 0, rep_st = 0, rep_en = 0, rep_len = 0;
    mini_pos.clear();
    scratch.matched.clear();
    for (const SeedInfo& x : s) {
        const uint64_t qpos = x.pos_word >> 1;
        if (x.filtered) {
            const uint64_t en = qpos + 1;
            const uint64_t st = en > x.span ? en - x.span : 0;
            if (st > rep_en) {
                rep_len += rep_en - rep_st;
                rep_st = st, rep_en = en;
            } else {
                rep_en = en;
            }
        } else {
            n_a += x.n;
            mini_pos.push_back((uint64_t{x.span} << 32) | qpos);
            scratch.matched.push_back(
                {x.mini_index, mins[x.mini_index].y >> 32, x.start, x.end, x.span, x.tandem});
        }
    }
    rep_len += rep_en - rep_st;
    return {n_a, rep_len};
}

namespace {

// Builds the anchor of occurrence record r of matched seed q; false when the
// occurrence is skipped (self-mapping diagonal, or the dual of a pair).
bool make_anchor(const MatchedSeed& q, uint32_t pos_word, uint64_t r, const Index& index,
                 uint64_t qlen, uint64_t flags, std::optional<std::string_view> name,
                 Minimizer& out) {
    const uint64_t t = r >> 32;
    const uint64_t rp = (r >> 1) & 0x7fffffff;
    const uint64_t qp = pos_word >> 1;
    const TargetSequence& target = index.seqs[t];
    uint64_t self = 0;
    if (name && (flags & (FLAG_NO_DIAG | FLAG_NO_DUAL))) {
        const int cmp = name->compare(target.name);
        if ((flags & FLAG_NO_DIAG) && cmp == 0 && qlen == target.len) {
            if (rp == qp) return false;
            self = (pos_word & 1) == (r & 1);
        } else if ((flags & FLAG_NO_DUAL) && cmp > 0) {
            return false;
        }
    }
    const uint64_t span = q.span;
    if ((pos_word & 1) == (r & 1)) {
        out.x = (t << 32) | rp;
        out.y = (span << 32) | qp;
    } else if (!(flags & FLAG_QUERY_STRAND)) {
        out.x = (uint64_t{1} << 63) | (t << 32) | rp;
        out.y = (span << 32) | ((qlen + span - qp - 2) & 0xffffffffu);
    } else {
        out.x = (uint64_t{1} << 63) | (t << 32) | ((target.len + span - rp - 2) & 0xffffffffu);
        out.y = (span << 32) | qp;
    }
    out.y |= (uint64_t{q.tandem} << 42) | (self << 43) | (q.segment << 48);
    return true;
}

}  // namespace

uint64_t collect_seed_hits_with_occ(const MapOptions& options, const Index& index, uint64_t qlen,
                                    const std::vector<Minimizer>& mins,
                                    std::vector<Minimizer>& anchors, std::vector<uint64_t>& mini_pos,
                                    uint64_t max_occ, std::optional<std::string_view> name,
                                    SeedScratch& scratch) {
    const auto [n_a, rep_len] =
        collect_anchor_matches(options.seeding.max_max_occ, options.seeding.occ_dist, index, qlen,
                               mins, mini_pos, max_occ, scratch);
    anchors.clear();
    anchors.reserve(n_a);
    const uint64_t* positions = index.lookup().positions.data();
    for (const MatchedSeed& q : scratch.matched) {
        const uint32_t pos_word = static_cast<uint32_t>(mins[q.mini_index].y);
        for (uint32_t k = q.start; k < q.end; ++k) {
            Minimizer a;
            if (make_anchor(q, pos_word, positions[k], index, qlen, options.flags, name, a))
                anchors.push_back(a);
        }
    }
    sort_records(anchors.data(), anchors.size());
    return rep_len;
}

uint64_t collect_seed_hits_heap(const MapOptions& options, const Index& index, uint64_t qlen,
                                const std::vector<Minimizer>& mins, std::vector<Minimizer>& anchors,
                                std::vector<uint64_t>& mini_pos, uint64_t max_occ,
                                std::optional<std::string_view> name, SeedScratch& scratch) {
    const auto [n_a, rep_len] =
        collect_anchor_matches(options.seeding.max_max_occ, options.seeding.occ_dist, index, qlen,
                               mins, mini_pos, max_occ, scratch);
    const uint64_t* positions = index.lookup().positions.data();
    const std::vector<MatchedSeed>& seeds = scratch.matched;
    // Min-heap of (occurrence record, seed << 32 | rank within the seed).
    std::vector<Minimizer>& heap = scratch.records;
    heap.clear();
    for (size_t q = 0; q < seeds.size(); ++q)
        if (seeds[q].end > seeds[q].start) heap.push_back({positions[seeds[q].start], uint64_t{q} << 32});
    auto sift_down = [&](size_t k) {
        const size_t n = heap.size();
        const Minimizer moving = heap[k];
        for (;;) {
            size_t c = 2 * k + 1;
            if (c >= n) break;
            if (c + 1 < n && heap[c + 1].x < heap[c].x) ++c;
            if (moving.x < heap[c].x) break;
            heap[k] = heap[c];
            k = c;
        }
        heap[k] = moving;
    };
    for (size_t k = heap.size() / 2; k-- > 0;) sift_down(k);

    anchors.assign(n_a, Minimizer{0, 0});
    size_t front = 0, back = n_a;  // forward anchors from the front, reverse from the back
    while (!heap.empty()) {
        const Minimizer top = heap[0];
        const size_t q = top.y >> 32;
        const uint32_t rank = static_cast<uint32_t>(top.y);
        Minimizer a;
        if (make_anchor(seeds[q], static_cast<uint32_t>(mins[seeds[q].mini_index].y), top.x, index,
                        qlen, options.flags, name, a)) {
            if (a.x >> 63)
                anchors[--back] = a;
            else
                anchors[front++] = a;
        }
        if (seeds[q].start + rank + 1 < seeds[q].end) {
            heap[0] = {positions[seeds[q].start + rank + 1], (uint64_t{q} << 32) | (rank + 1)};
        } else {
            heap[0] = heap.back();
            heap.pop_back();
        }
        if (!heap.empty()) sift_down(0);
    }
    // Reverse anchors were stored back to front: restore ascending order and
    // close the gap left by skipped occurrences.
    std::reverse(anchors.begin() + back, anchors.end());
    if (back > front) std::move(anchors.begin() + back, anchors.end(), anchors.begin() + front);
    anchors.resize(front + (n_a - back));
    return rep_len;
}

}  // namespace tessiq

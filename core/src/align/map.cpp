#include "align/map.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "align/chain_rmq.h"
#include "align/filter.h"
#include "align/sort.h"

namespace tessiq {

std::atomic<uint64_t> PC_BUILD_REGS_NS{0}, PC_DIVEST_NS{0}, PC_PARENT_NS{0}, PC_RESCUE_NS{0},
    PC_SQUEEZED_NS{0}, PC_RESCUE_COUNT{0}, PC_RESCUE_ANCHORS{0};

MapContext::MapContext() {
    anchors.reserve(4096);
    minimizers.reserve(4096);
    mini_pos.reserve(1024);
    chaining.p.reserve(4096), chaining.f.reserve(4096), chaining.v.reserve(4096);
    chaining.t.reserve(4096), chaining.order.reserve(1024);
}

namespace {

using Clock = std::chrono::steady_clock;

uint64_t nanos_since(Clock::time_point t0) {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
}

Duration to_duration(uint64_t ns) { return {ns / 1000000000u, static_cast<uint32_t>(ns % 1000000000u)}; }

inline int32_t pos(uint64_t w) { return static_cast<int32_t>(static_cast<uint32_t>(w)); }
inline int32_t span_of(uint64_t y) { return static_cast<int32_t>((y >> 32) & 0xff); }

uint32_t wang32(uint32_t v) {
    v = v + ~(v << 15);
    v = v ^ (v >> 10);
    v = v * 9;
    v = v ^ (v >> 6);
    v = v + ~(v << 11);
    v = v ^ (v >> 16);
    return v;
}

uint64_t hash64(uint64_t k) {
    k = ~k + (k << 21);
    k = k ^ (k >> 24);
    k = k * 265;
    k = k ^ (k >> 14);
    k = k * 21;
    k = k ^ (k >> 28);
    k = k * 2147483649ULL;
    return k;
}

}  // namespace

uint32_t tie_break_seed(std::string_view name, uint64_t qlen, int32_t seed_option, uint64_t flags) {
    uint32_t h = 0;
    if (!name.empty() && !(flags & FLAG_NO_NAME_HASH)) {
        h = static_cast<uint8_t>(name[0]);
        for (size_t i = 1; i < name.size(); ++i) h = h * 31 + static_cast<uint8_t>(name[i]);
    }
    h ^= wang32(static_cast<uint32_t>(qlen)) + wang32(static_cast<uint32_t>(seed_option));
    return wang32(h);
}

uint32_t chain_hash(const Minimizer& first, int32_t anchor_count, uint32_t seed) {
    const uint64_t h = hash64((hash64(first.x) + hash64(first.y)) ^ uint64_t{seed});
    return static_cast<uint32_t>(anchor_count) ^ static_cast<uint32_t>(h);
}

Bounds compute_bounds_from_squeezed(const std::vector<Minimizer>& sq, uint64_t o, uint64_t cnt,
                                    int64_t target_len, int64_t qlen, int32_t min_cnt) {
    Bounds b{0, 0, static_cast<int32_t>(target_len), static_cast<int32_t>(qlen)};
    if (cnt == 0) return b;
    const Minimizer& first = sq[o];
    const Minimizer& last = sq[o + cnt - 1];
    const uint64_t key = first.x >> 32;
    const int32_t rs = pos(first.x) - span_of(first.y) + 1;
    const int32_t qs = pos(first.y) - span_of(first.y) + 1;
    int32_t n = 0;
    for (int64_t j = static_cast<int64_t>(o) - 1; j >= 0 && (sq[j].x >> 32) == key; --j) {
        const int32_t dr = rs - (pos(sq[j].x) - span_of(sq[j].y) + 1);
        const int32_t dq = qs - (pos(sq[j].y) - span_of(sq[j].y) + 1);
        if (dr > 0 && dq > 0 && ++n > min_cnt) {
            const int32_t d = std::max(dr, dq);
            b.target_start = std::max(rs - d, 0);
            b.query_start = qs - d;
            break;
        }
    }
    n = 0;
    for (uint64_t j = o + cnt; j < sq.size() && (sq[j].x >> 32) == key; ++j) {
        const int32_t dr = pos(sq[j].x) - pos(last.x);
        const int32_t dq = pos(sq[j].y) - pos(last.y);
        if (dr > 0 && dq > 0 && ++n > min_cnt) {
            const int32_t d = std::max(dr, dq);
            b.target_end = pos(last.x) + 1 + d;
            b.query_end = pos(last.y) + 1 + d;
            break;
        }
    }
    return b;
}

void estimate_divergence(std::vector<Mapping>& mappings, uint64_t qlen,
                         const std::vector<uint64_t>& P, const Index& index) {
    const size_t m = P.size();
    if (m == 0) return;
    uint64_t span_sum = 0;
    for (uint64_t e : P) span_sum += e >> 32;
    const float avg = static_cast<float>(span_sum) / static_cast<float>(m);
    const int32_t q = static_cast<int32_t>(qlen);
    auto query_pos = [&](const Minimizer& a) {
        int32_t p = pos(a.y);
        if (a.x >> 63) p = q + span_of(a.y) - pos(a.y) - 2;
        return p;
    };
    for (Mapping& r : mappings) {
        if (r.anchor_count == 0 || r.anchors.empty()) continue;
        const size_t cnt = r.anchors.size();
        const bool rev = r.strand == 1;
        auto anchor_at = [&](size_t k) -> const Minimizer& {  // k-th anchor in query order
            return rev ? r.anchors[cnt - 1 - k] : r.anchors[k];
        };
        const int32_t p = query_pos(anchor_at(0));
        int32_t lo = 0, hi = static_cast<int32_t>(m) - 1, found = -1;
        while (lo <= hi) {
            const int32_t mid = (lo + hi) / 2;
            const int32_t v = pos(P[mid]);
            if (v == p) {
                found = mid;
                break;
            }
            if (v < p)
                lo = mid + 1;
            else
                hi = mid - 1;
        }
        if (found < 0) continue;
        int64_t hits = 1, last = found;
        size_t k = 1;
        for (size_t j = static_cast<size_t>(found) + 1; j < m && k < cnt; ++j) {
            if (query_pos(anchor_at(k)) == pos(P[j])) {
                ++hits;
                last = static_cast<int64_t>(j);
                ++k;
            }
        }
        int64_t n = last - found + 1;
        const int64_t tlen = static_cast<int64_t>(index.seqs[r.target_id].len);
        if (static_cast<float>(r.query_start) > avg && static_cast<float>(r.target_start) > avg) ++n;
        if (static_cast<float>(static_cast<int64_t>(qlen) - static_cast<int64_t>(r.query_end)) > avg &&
            static_cast<float>(tlen - r.target_end) > avg)
            ++n;
        if (hits >= n)
            r.divergence = 0.0f;
        else
            r.divergence = static_cast<float>(
                1.0 - std::pow(static_cast<double>(hits) / static_cast<double>(n), 1.0 / avg));
    }
}

namespace {

// Appends every mapping's anchors to the squeezed array (in chain-output
// order) and computes the alignment bounds from it.
void squeeze(QueryMappings& out, uint64_t qlen, const Index& index, int32_t min_cnt, bool clamp) {
    std::vector<size_t> order(out.mappings.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return out.mappings[a].anchor_offset < out.mappings[b].anchor_offset;
    });
    for (size_t i : order) {
        Mapping& m = out.mappings[i];
        m.squeezed_offset = out.squeezed_anchors.size();
        out.squeezed_anchors.insert(out.squeezed_anchors.end(), m.anchors.begin(), m.anchors.end());
    }
    for (Mapping& m : out.mappings) {
        if (m.anchors.empty()) continue;
        const int64_t tlen = static_cast<int64_t>(index.seqs[m.target_id].len);
        Bounds b = compute_bounds_from_squeezed(out.squeezed_anchors, m.squeezed_offset,
                                                m.anchors.size(), tlen, static_cast<int64_t>(qlen),
                                                min_cnt);
        if (clamp) {
            b.query_start = std::max(b.query_start, 0);
            b.target_end = static_cast<int32_t>(std::min<int64_t>(b.target_end, tlen));
            b.query_end = static_cast<int32_t>(std::min<int64_t>(b.query_end, static_cast<int64_t>(qlen)));
        }
        m.bound_target_start = b.target_start;
        m.bound_query_start = b.query_start;
        m.bound_target_end = b.target_end;
        m.bound_query_end = b.query_end;
    }
}

ChainResult run_chaining(const MapOptions& o, const Minimizer* a, size_t n, int32_t gt, int32_t gq,
                         ChainingBuffers& buffers) {
    if (o.flags & FLAG_RMQ) return chain_anchors_rmq(o.chaining, a, n, buffers);
    if ((o.flags & FLAG_PARTITIONED_CHAIN) && n >= 5000)
        return chain_anchors_partitioned(o.chaining, gt, gq, a, n);
    return chain_anchors(o.chaining, o.filtering.is_splice, 1, gt, gq, a, n, buffers);
}

uint64_t collect_seeds(const MapOptions& o, const Index& index, std::string_view name, uint64_t qlen,
                       MapContext& ctx, uint64_t max_occ) {
    const std::optional<std::string_view> qname(name);
    if (o.flags & FLAG_HEAP_SEEDS)
        return collect_seed_hits_heap(o, index, qlen, ctx.minimizers, ctx.anchors, ctx.mini_pos,
                                      max_occ, qname, ctx.seeds);
    return collect_seed_hits_with_occ(o, index, qlen, ctx.minimizers, ctx.anchors, ctx.mini_pos,
                                      max_occ, qname, ctx.seeds);
}

}  // namespace

QueryMappings map_query(const MapOptions& o, const Index& index, std::string_view name,
                        std::string_view seq, MapContext& ctx) {
    QueryMappings out;
    const uint64_t qlen = seq.size();
    const int32_t qlen32 = static_cast<int32_t>(qlen);
    const uint32_t seed = tie_break_seed(name, qlen, o.filtering.seed, o.flags);
    const ChainingParams& cp = o.chaining;

    // 1-2. sketch
    auto t0 = Clock::now();
    ctx.minimizers.clear();
    sketch_sequence_impl(reinterpret_cast<const uint8_t*>(seq.data()), qlen, index.window_size,
                         index.kmer_size, 0, index.homopolymer_compressed, ctx.minimizers);
    if (o.seeding.q_occ_frac > 0.0f && o.seeding.mid_occ != 0 &&
        ctx.minimizers.size() > o.seeding.mid_occ)
        filter_minimizers_by_occ(ctx.minimizers, o.seeding.mid_occ, o.seeding.q_occ_frac);
    out.n_minimizers = ctx.minimizers.size();
    out.sketch_time = to_duration(nanos_since(t0));

    // 3. seeds
    t0 = Clock::now();
    out.rep_len = collect_seeds(o, index, name, qlen, ctx, o.seeding.mid_occ);
    out.n_anchors = ctx.anchors.size();
    out.seed_time = to_duration(nanos_since(t0));

    // 4. chaining, with the gap limits on each sequence
    t0 = Clock::now();
    const int32_t gq = (o.flags & FLAG_SHORT_READ) ? std::max(cp.max_gap, qlen32) : cp.max_gap;
    const int32_t gt = cp.max_gap_ref > 0       ? cp.max_gap_ref
                       : o.pairing.max_frag_len > 0 ? std::max(o.pairing.max_frag_len - qlen32, cp.max_gap)
                                                    : cp.max_gap;
    ChainResult chains = run_chaining(o, ctx.anchors.data(), ctx.anchors.size(), gt, gq, ctx.chaining);
    out.chain_time = to_duration(nanos_since(t0));

    // 5. rescue: a long join for a chain covering little of the query, or
    // re-seeding with the higher occurrence limit when nothing chained
    const auto t_rescue = Clock::now();
    if (cp.bandwidth_long > cp.bandwidth &&
        !(o.flags & (FLAG_SPLICE | FLAG_NO_LONG_JOIN | FLAG_SHORT_READ)) && chains.chains.size() >= 2 &&
        static_cast<uint32_t>(chains.chains[0]) > 0) {
        const uint32_t cnt = static_cast<uint32_t>(chains.chains[0]);
        const int32_t span = pos(chains.anchors[cnt - 1].y) - pos(chains.anchors[0].y);
        const int64_t uncovered = std::max<int64_t>(int64_t{qlen32} - span, 0);
        const float limit = static_cast<float>(qlen) * cp.rmq_rescue_ratio;
        const int64_t limit_int = !(limit > 0.0f) ? 0 : static_cast<int64_t>(limit);
        if (uncovered > cp.rmq_rescue_size || span > limit_int) {
            PC_RESCUE_COUNT.fetch_add(1, std::memory_order_relaxed);
            PC_RESCUE_ANCHORS.fetch_add(chains.anchors.size(), std::memory_order_relaxed);
            uint64_t total = 0;
            for (uint64_t c : chains.chains) total += static_cast<uint32_t>(c);
            const size_t n = std::min<uint64_t>(total, chains.anchors.size());
            std::vector<Minimizer> rescue(chains.anchors.begin(), chains.anchors.begin() + n);
            sort_records(rescue.data(), n);
            ChainingParams wide = cp;
            wide.bandwidth = cp.bandwidth_long;
            chains = chain_anchors_rmq(wide, rescue.data(), n, ctx.chaining);
        }
    } else if (!(o.flags & FLAG_RMQ) && out.rep_len != 0 && o.seeding.max_occ > o.seeding.mid_occ &&
               chains.chains.empty()) {
        out.rep_len = collect_seeds(o, index, name, qlen, ctx, o.seeding.max_occ);
        out.n_anchors = ctx.anchors.size();
        chains = chain_anchors(cp, o.filtering.is_splice, 1, gt, gq, ctx.anchors.data(),
                               ctx.anchors.size(), ctx.chaining);
    }
    PC_RESCUE_NS.fetch_add(nanos_since(t_rescue), std::memory_order_relaxed);
    out.n_chain_anchors = chains.anchors.size();

    // 6-8. mapping records, filters, ranking
    const auto t_rest = Clock::now();
    auto t_stage = t_rest;
    std::vector<Mapping>& ms = out.mappings;
    uint64_t a = 0;
    for (uint64_t word : chains.chains) {
        const uint32_t cnt = static_cast<uint32_t>(word);
        if (cnt == 0) continue;
        const Minimizer& first = chains.anchors[a];
        const Minimizer& last = chains.anchors[a + cnt - 1];
        Mapping m;
        m.anchors.assign(chains.anchors.begin() + a, chains.anchors.begin() + a + cnt);
        m.target_id = (first.x >> 32) & 0x7fffffff;
        m.strand = static_cast<uint8_t>(first.x >> 63);
        m.target_start = int64_t{pos(first.x)} - span_of(first.y) + 1;
        m.target_end = int64_t{pos(last.x)} + 1;
        int64_t qs = int64_t{pos(first.y)} - span_of(first.y) + 1, qe = int64_t{pos(last.y)} + 1;
        if (m.strand && !(o.flags & FLAG_QUERY_STRAND)) {
            const int64_t nqs = std::max<int64_t>(int64_t{qlen32} - qe, 0);
            qe = std::max<int64_t>(int64_t{qlen32} - qs, 0);
            qs = nqs;
        }
        m.query_start = static_cast<uint64_t>(qs);
        m.query_end = static_cast<uint64_t>(qe);
        m.anchor_offset = a;
        m.score = m.chain_score = static_cast<int32_t>(word >> 32);
        m.anchor_count = static_cast<int32_t>(cnt);
        m.hash = chain_hash(first, m.anchor_count, seed);
        m.bound_target_end = static_cast<int32_t>(static_cast<uint32_t>(index.seqs[m.target_id].len));
        m.bound_query_end = qlen32;
        ms.push_back(std::move(m));
        a += cnt;
    }
    std::erase_if(ms, [&](const Mapping& m) {
        return (cp.min_chain_score > 0 && m.score < cp.min_chain_score) ||
               ((o.flags & FLAG_FORWARD_ONLY) && m.strand == 1) ||
               ((o.flags & FLAG_REVERSE_ONLY) && m.strand == 0);
    });
    if (std::any_of(index.seqs.begin(), index.seqs.end(), [](const TargetSequence& t) { return t.is_alt; }))
        for (Mapping& m : ms) m.is_alt = index.seqs[m.target_id].is_alt;
    sort_mappings(ms, o.filtering.alt_drop);
    PC_BUILD_REGS_NS.fetch_add(nanos_since(t_stage), std::memory_order_relaxed);

    if (ms.empty()) {
        out.rest_time = to_duration(nanos_since(t_rest));
        return out;
    }

    // 10-11. selection and divergence
    const bool short_read = (o.flags & FLAG_SHORT_READ) != 0;
    if (o.flags & FLAG_ALL_CHAINS) {
        t_stage = Clock::now();
        squeeze(out, qlen, index, cp.min_cnt, /*clamp=*/true);
        PC_SQUEEZED_NS.fetch_add(nanos_since(t_stage), std::memory_order_relaxed);
        if (!short_read) estimate_divergence(ms, qlen, ctx.mini_pos, index);
        out.rest_time = to_duration(nanos_since(t_rest));
        return out;
    }
    t_stage = Clock::now();
    ms = select_secondaries(std::move(ms), index.kmer_size, o);
    PC_PARENT_NS.fetch_add(nanos_since(t_stage), std::memory_order_relaxed);
    if (!short_read) {
        t_stage = Clock::now();
        estimate_divergence(ms, qlen, ctx.mini_pos, index);
        prune_inversion_candidates(ms);
        PC_DIVEST_NS.fetch_add(nanos_since(t_stage), std::memory_order_relaxed);
    }

    // 12. squeeze
    t_stage = Clock::now();
    squeeze(out, qlen, index, cp.min_cnt, /*clamp=*/false);
    PC_SQUEEZED_NS.fetch_add(nanos_since(t_stage), std::memory_order_relaxed);
    out.rest_time = to_duration(nanos_since(t_rest));
    return out;
}

}  // namespace tessiq

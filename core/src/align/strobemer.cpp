#include "align/strobemer.h"

#include <algorithm>


namespace tessiq {

namespace {
// 64-bit finalizer with full avalanche, so neighbouring k-mer hashes give
// unrelated pairing orders.
inline uint64_t mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}
}  // namespace

RandstrobeSketcher::RandstrobeSketcher(size_t k, size_t w_min, size_t w_max)
    : k_(k), w_min_(w_min), w_max_(w_max) {
    fatal_check(k >= 1 && k <= 14, "strobe k must be 1..=14 (two strobes fit in 56 bits)");
    fatal_check(w_min >= k, "w_min must be >= k (strobes must not overlap)");
    fatal_check(w_max >= w_min, "w_max must be >= w_min");
}

void RandstrobeSketcher::sketch(const uint8_t* seq, size_t n, uint32_t /*rid*/,
                                std::vector<Minimizer>& out) const {
    out.clear();
    check_sequence_length(n);
    if (n < k_ + w_max_) return;
    const uint32_t k = static_cast<uint32_t>(k_);
    const size_t m = n - k_ + 1;
    std::vector<uint64_t> hash(m);
    std::vector<uint8_t> strand(m), valid(m, 0);
    for_each_valid_kmer(seq, n, k_, [&](size_t p, uint64_t fwd, uint64_t rev) {
        const uint64_t hf = kmer_hash(fwd, k), hr = kmer_hash(rev, k);
        hash[p] = std::min(hf, hr);
        strand[p] = hr < hf;
        valid[p] = 1;
    });
    for (size_t p = 0; p + k_ + w_max_ <= n; ++p) {
        if (!valid[p]) continue;
        uint64_t best = EMPTY_WORD;
        size_t best_q = 0;
        for (size_t q = p + w_min_; q <= p + w_max_; ++q) {
            if (!valid[q]) continue;
            const uint64_t v = mix(hash[p] ^ (hash[q] * 0x9e3779b97f4a7c15ULL));
            if (v < best) best = v, best_q = q;
        }
        if (best == EMPTY_WORD) continue;
        const uint64_t span = std::min<uint64_t>(k_ + (best_q - p), 255);
        out.push_back({(best << 8) | span, (uint64_t{p} << 1) | strand[p]});
    }
}

}  // namespace tessiq

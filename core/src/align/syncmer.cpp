#include "align/syncmer.h"

namespace tessiq {

SyncmerSketcher::SyncmerSketcher(size_t k, size_t s) : k_(k), s_(s) {
    fatal_check(k >= 1 && k <= 28, "k must be 1..=28");
    fatal_check(s >= 1 && s < k, "s must be 1..k");
}

void SyncmerSketcher::sketch(const uint8_t* seq, size_t n, uint32_t /*rid*/,
                             std::vector<Minimizer>& out) const {
    out.clear();
    check_sequence_length(n);
    const uint32_t k = static_cast<uint32_t>(k_);
    const size_t last = k_ - s_;
    const uint64_t smask = (uint64_t{1} << (2 * s_)) - 1;
    for_each_valid_kmer(seq, n, k_, [&](size_t start, uint64_t fwd, uint64_t rev) {
        const uint64_t hf = kmer_hash(fwd, k), hr = kmer_hash(rev, k);
        const bool reverse = hr < hf;
        const uint64_t chosen = reverse ? rev : fwd;
        size_t best_o = 0;
        uint64_t best_h = EMPTY_WORD;
        for (size_t o = 0; o <= last; ++o) {
            const uint64_t v = (chosen >> (2 * o)) & smask;
            uint64_t h = ((v ^ (v >> 16)) * 73244475) & smask;
            h = ((h ^ (h >> 16)) * 73244475) & smask;
            h ^= h >> 16;
            if (h < best_h) best_h = h, best_o = o;
        }
        if (best_o == 0 || best_o == last) {
            const uint64_t canonical = reverse ? hr : hf;
            out.push_back({(canonical << 8) | k, (uint64_t{start} << 1) | uint64_t{reverse}});
        }
    });
}

}  // namespace tessiq

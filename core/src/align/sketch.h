// Minimizer sketching: the hash, window and bit-layout rules that make query
// sketches match index sketches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "util/error.h"

namespace tessiq {

// A sketch element. For a minimizer:
//   x = (kmer_hash << 8) | span
//   y = (rid << 32) | (position of the k-mer's last base << 1) | strand
// Seed anchors reuse the same two words with their own meaning.
struct Minimizer {
    uint64_t x;
    uint64_t y;
};

inline constexpr uint64_t EMPTY_WORD = ~uint64_t{0};

namespace detail {
constexpr std::array<uint8_t, 256> make_base_encoding() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = 4;
    t['A'] = t['a'] = 0;
    t['C'] = t['c'] = 1;
    t['G'] = t['g'] = 2;
    t['T'] = t['t'] = 3;
    return t;
}
}  // namespace detail

// 0 A, 1 C, 2 G, 3 T, 4 anything else; lower case like upper case.
inline constexpr std::array<uint8_t, 256> BASE_ENCODING = detail::make_base_encoding();

// Invertible integer mix on 2k-bit values, so distinct canonical k-mers never
// collide.
inline uint64_t kmer_hash_masked(uint64_t key, uint64_t mask) {
    uint64_t h = ((key << 21) + ~key) & mask;
    h ^= h >> 24;
    h = (h + (h << 3) + (h << 8)) & mask;  // h * 265, in a form that vectorizes
    h ^= h >> 14;
    h = (h + (h << 2) + (h << 4)) & mask;  // h * 21
    h ^= h >> 28;
    h = (h + (h << 31)) & mask;
    return h;
}
inline uint64_t kmer_hash(uint64_t key, uint32_t k) {
    return kmer_hash_masked(key, k >= 32 ? ~uint64_t{0} : (uint64_t{1} << (2 * k)) - 1);
}

// Positions live in 31 bits of the y word; longer sequences would spill into
// the id field and corrupt every record after them.
inline constexpr uint64_t MAX_SEQUENCE_LENGTH = (uint64_t{1} << 31) - 1;

// Throws Error(InvalidInput) for a sequence whose positions do not fit.
TESSIQ_API void check_sequence_length(uint64_t n);

// Appends the minimizers of seq[0..n) to `out` in emission order.
// Throws FatalError for w outside 1..255 or k outside 1..28 when n > 0.
TESSIQ_API void sketch_sequence_impl(const uint8_t* seq, size_t n, size_t w, size_t k,
                                     uint32_t rid, bool is_hpc, std::vector<Minimizer>& out);

// The operation shared by the minimizer, syncmer and randstrobe sketchers.
class TESSIQ_API Sketcher {
public:
    virtual ~Sketcher() = default;
    // Replaces the contents of `out` with the sketch of seq[0..n).
    virtual void sketch(const uint8_t* seq, size_t n, uint32_t rid,
                        std::vector<Minimizer>& out) const = 0;
};

class TESSIQ_API MinimizerSketcher final : public Sketcher {
public:
    // Parameters are checked when a non-empty sequence is sketched.
    MinimizerSketcher(size_t w, size_t k, bool is_hpc) : w_(w), k_(k), is_hpc_(is_hpc) {}
    void sketch(const uint8_t* seq, size_t n, uint32_t rid,
                std::vector<Minimizer>& out) const override;

    size_t w() const { return w_; }
    size_t k() const { return k_; }
    bool is_hpc() const { return is_hpc_; }

private:
    size_t w_;
    size_t k_;
    bool is_hpc_;
};

// The k-mer scan shared by the syncmer and randstrobe sketchers.
// Calls on_kmer(start, fwd, rev) for every k-mer of seq[0..n) without an
// ambiguous base; fwd and rev are the 2k-bit encodings of both strands.
template <typename F>
inline void for_each_valid_kmer(const uint8_t* seq, size_t n, size_t k, F&& on_kmer) {
    const uint64_t mask = (uint64_t{1} << (2 * k)) - 1;
    const unsigned shift = static_cast<unsigned>(2 * k - 2);
    uint64_t fwd = 0, rev = 0;
    size_t count = 0;
    for (size_t j = 0; j < n; ++j) {
        const uint64_t code = BASE_ENCODING[seq[j]];
        if (code == 4) {
            fwd = rev = 0;
            count = 0;
            continue;
        }
        ++count;
        fwd = ((fwd << 2) | code) & mask;
        rev = (rev >> 2) | ((3 - code) << shift);
        if (count >= k) on_kmer(j + 1 - k, fwd, rev);
    }
}

}  // namespace tessiq

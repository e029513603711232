#include "align/sketch.h"

#include <algorithm>
#include <string>

namespace tessiq {

namespace {
constexpr Minimizer kEmpty{EMPTY_WORD, EMPTY_WORD};

// Run lengths of the last k homopolymer runs (k <= 28, so 32 slots suffice).
struct RunQueue {
    uint32_t len[32];
    uint32_t head = 0;
    uint32_t count = 0;
    void push(uint32_t v) {
        len[(head + count) & 31] = v;
        ++count;
    }
    uint32_t pop() {
        uint32_t v = len[head];
        head = (head + 1) & 31;
        --count;
        return v;
    }
    void clear() { head = count = 0; }
};
}  // namespace

void check_sequence_length(uint64_t n) {
    if (n > MAX_SEQUENCE_LENGTH) {
        throw Error(ErrorKind::InvalidInput,
                    "sequence of " + std::to_string(n) +
                        " bases is too long: positions must be below 2^31 (2147483648)");
    }
}

namespace {

// The sketch loop, specialised on compression so the common path carries no
// run bookkeeping.
template <bool HPC>
void sketch_loop(const uint8_t* seq, size_t n, size_t w, size_t k, uint32_t rid,
                 std::vector<Minimizer>& out) {
    const uint64_t mask = (uint64_t{1} << (2 * k)) - 1;
    const unsigned shift = static_cast<unsigned>(2 * (k - 1));
    const uint64_t rid_bits = uint64_t{rid} << 32;
    uint64_t fwd = 0, rev = 0;
    size_t l = 0, span = 0;
    RunQueue runs;
    Minimizer buf[256];
    std::fill(buf, buf + w, kEmpty);
    size_t buf_pos = 0, min_pos = 0;
    Minimizer min = kEmpty;

    // Reports the other window slots that share the minimum's hash, oldest
    // first: slots after buf_pos, then those before `end`.
    auto emit_ties = [&](size_t end) {
        for (size_t j = buf_pos + 1; j < w; ++j)
            if (buf[j].x == min.x && buf[j].y != min.y) out.push_back(buf[j]);
        for (size_t j = 0; j < end; ++j)
            if (buf[j].x == min.x && buf[j].y != min.y) out.push_back(buf[j]);
    };
    // Newest smallest slot wins. Written without branches on the hash order,
    // which is random; `tie` tells whether another slot holds the same hash.
    auto rescan_range = [&](size_t begin, size_t end, bool& tie) {
        for (size_t j = begin; j < end; ++j) {
            const uint64_t x = buf[j].x;
            const bool le = x <= min.x;
            tie = (x == min.x) | (tie & !le);
            min.x = le ? x : min.x;
            min.y = le ? buf[j].y : min.y;
            min_pos = le ? j : min_pos;
        }
    };

    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = seq[i];
        const uint64_t code = BASE_ENCODING[c];
        Minimizer info = kEmpty;
        if (code < 4) {
            if constexpr (HPC) {
                size_t run = 1;
                if (i + 1 < n && seq[i + 1] == c) {
                    while (i + run < n && seq[i + run] == c) ++run;
                    i += run - 1;
                }
                // Runs fit in 32 bits: sequences stay below 2^31 bytes.
                runs.push(static_cast<uint32_t>(run));
                span += run;
                if (runs.count > k) span -= runs.pop();
            } else {
                span = std::min(l + 1, k);
            }
            fwd = ((fwd << 2) | code) & mask;
            rev = (rev >> 2) | ((3 ^ code) << shift);
            if (fwd == rev) continue;  // palindromic k-mer: no strand, no slot
            const uint64_t strand = fwd < rev ? 0 : 1;
            ++l;
            if (l >= k && span < 256) {
                info.x = (kmer_hash(std::min(fwd, rev), static_cast<uint32_t>(k)) << 8) | span;
                info.y = rid_bits | (uint64_t{i} << 1) | strand;
            }
        } else {
            l = 0;
            span = 0;
            if constexpr (HPC) runs.clear();
        }
        buf[buf_pos] = info;
        if (l == w + k - 1 && min.x != EMPTY_WORD) emit_ties(buf_pos);
        if (info.x <= min.x) {
            if (l >= w + k && min.x != EMPTY_WORD) out.push_back(min);
            min = info;
            min_pos = buf_pos;
        } else if (buf_pos == min_pos) {
            if (l >= w + k - 1 && min.x != EMPTY_WORD) out.push_back(min);
            min.x = EMPTY_WORD;
            bool tie = false;
            rescan_range(buf_pos + 1, w, tie);
            rescan_range(0, buf_pos + 1, tie);
            if (tie && l >= w + k - 1 && min.x != EMPTY_WORD) emit_ties(buf_pos + 1);
        }
        if (++buf_pos == w) buf_pos = 0;
    }
    if (min.x != EMPTY_WORD) out.push_back(min);
}

}  // namespace

void sketch_sequence_impl(const uint8_t* seq, size_t n, size_t w, size_t k, uint32_t rid,
                          bool is_hpc, std::vector<Minimizer>& out) {
    if (n == 0) return;
    fatal_check(w > 0 && w < 256 && k > 0 && k <= 28,
                "assertion failed: w > 0 && w < 256 && k > 0 && k <= 28");
    if (is_hpc)
        sketch_loop<true>(seq, n, w, k, rid, out);
    else
        sketch_loop<false>(seq, n, w, k, rid, out);
}

void MinimizerSketcher::sketch(const uint8_t* seq, size_t n, uint32_t rid,
                               std::vector<Minimizer>& out) const {
    out.clear();
    check_sequence_length(n);
    sketch_sequence_impl(seq, n, w_, k_, rid, is_hpc_, out);
}

}  // namespace tessiq

#include "align/sketch.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace tessiq {

namespace {

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

// The sketch runs in stages over blocks of window slots: a scalar pass rolls
// the k-mer registers, a branch-free pass hashes the whole block (the compiler
// vectorizes it), and the window stage picks minima. Kept apart, each loop
// stays small and free of unpredictable branches.
constexpr size_t BLOCK = 512;
// The x and y arrays keep the last window of the previous block in front of
// the current one, so the window is always a contiguous run of slots ending
// at the current slot: no ring buffer to maintain.
constexpr size_t PRE = 256;
constexpr size_t PAD = 8;  // keeps the arrays off 4 KiB multiples of each other

struct SlotBlock {
    uint64_t x[PRE + BLOCK + PAD];  // hash << 8 | span, or all ones for no k-mer
    uint64_t y[PRE + BLOCK + PAD];  // rid << 32 | position << 1 | strand
    uint64_t l[BLOCK + PAD];        // valid k-mers seen since the last ambiguous base
    uint64_t canon[BLOCK + PAD];    // the canonical k-mer, before hashing
    uint64_t span[BLOCK + PAD];     // span, or 256 for "no k-mer"
    size_t count = 0;
};

// Hashes a block of canonical k-mers into x words and completes the y words;
// slots without a k-mer (span 256) become all ones. Branch-free so that it
// vectorizes; cloned per instruction set and picked at load time.
__attribute__((target_clones("avx512f", "avx2", "default"))) void hash_block(
    const uint64_t* __restrict canon, const uint64_t* __restrict span, uint64_t* __restrict xs,
    uint64_t* __restrict ys, size_t count, uint64_t mask, uint64_t rid_bits) {
    for (size_t t = 0; t < count; ++t) {
        const uint64_t none = uint64_t{0} - (span[t] >> 8);
        const uint64_t x = (kmer_hash_masked(canon[t], mask) << 8) | span[t];
        xs[t] = x | none;
        ys[t] = ys[t] | rid_bits | none;
    }
}

// Turns bases into window slots: one per base, except palindromic k-mers,
// which take no slot.
template <bool HPC>
class KmerStage {
public:
    KmerStage(const uint8_t* seq, size_t n, size_t k, uint32_t rid)
        : seq_(seq), n_(n), k_(k), mask_((uint64_t{1} << (2 * k)) - 1),
          shift_(static_cast<unsigned>(2 * (k - 1))), rid_bits_(uint64_t{rid} << 32) {}

    bool done() const { return i_ >= n_; }

    void fill(SlotBlock& b) {
        roll(b);
        hash_block(b.canon, b.span, b.x + PRE, b.y + PRE, b.count, mask_, rid_bits_);
    }

private:
    void roll(SlotBlock& b) {
        size_t t = 0;
        const uint64_t mask = mask_;
        const size_t k = k_;
        uint64_t* ys = b.y + PRE;
        uint64_t fwd = fwd_, rev = rev_;
        size_t l = l_, span = span_, i = i_;
        // Every base makes at most one slot, so BLOCK bases fit in the block.
        const size_t end = std::min(n_, i + BLOCK);
        for (; i < end; ++i) {
            const uint8_t c = seq_[i];
            const uint64_t code = BASE_ENCODING[c];
            if (code < 4) {
                if constexpr (HPC) {
                    size_t run = 1;
                    if (i + 1 < n_ && seq_[i + 1] == c) {
                        while (i + run < n_ && seq_[i + run] == c) ++run;
                        i += run - 1;
                    }
                    // Runs fit in 32 bits: sequences stay below 2^31 bytes.
                    runs_.push(static_cast<uint32_t>(run));
                    span += run;
                    if (runs_.count > k) span -= runs_.pop();
                }
                fwd = ((fwd << 2) | code) & mask;
                rev = (rev >> 2) | ((3 ^ code) << shift_);
                if (fwd == rev) continue;  // palindromic k-mer: no strand, no slot
                ++l;
                const bool reverse = rev < fwd;
                b.canon[t] = reverse ? rev : fwd;
                ys[t] = (uint64_t{i} << 1) | reverse;
                // without compression a reported k-mer spans exactly k bases
                if constexpr (HPC)
                    b.span[t] = l >= k ? std::min<size_t>(span, 256) : 256;
                else
                    b.span[t] = l >= k ? k : 256;
            } else {
                l = 0;
                span = 0;
                if constexpr (HPC) runs_.clear();
                b.canon[t] = 0;
                ys[t] = EMPTY_WORD;
                b.span[t] = 256;
            }
            b.l[t] = l;
            ++t;
        }
        fwd_ = fwd, rev_ = rev, l_ = l, span_ = span, i_ = i;
        b.count = t;
    }

    const uint8_t* seq_;
    size_t n_, k_;
    uint64_t mask_;
    unsigned shift_;
    uint64_t rid_bits_;
    uint64_t fwd_ = 0, rev_ = 0;
    size_t l_ = 0, span_ = 0, i_ = 0;
    RunQueue runs_;
};

// Emits minima as slots arrive. Slot i's window is the run of slots
// i-w+1 .. i in the block's arrays (the prefix holds the previous block's
// tail); the current minimum is slot min_t.
class WindowStage {
public:
    WindowStage(size_t w, size_t k, SlotBlock& b, std::vector<Minimizer>& out)
        : w_(w), k_(k), out_(out), min_t_(PRE - w) {
        std::fill(b.x + PRE - w, b.x + PRE, EMPTY_WORD);
        std::fill(b.y + PRE - w, b.y + PRE, EMPTY_WORD);
    }

    void push(SlotBlock& b) {
        const size_t w = w_, full = w_ + k_ - 1;
        const uint64_t* X = b.x;
        const uint64_t* Y = b.y;
        size_t mt = min_t_;
        uint64_t min_x = min_x_, min_y = min_y_;
        const size_t end = PRE + b.count;
        for (size_t i = PRE; i < end; ++i) {
            const uint64_t x = X[i], y = Y[i];
            const size_t l = b.l[i - PRE];
            // first full window: the slots before the newest one
            if (l == full && min_x != EMPTY_WORD) [[unlikely]]
                emit_ties(X, Y, i + 1 - w, i, min_x, min_y);
            if (x <= min_x) {
                if (l > full && min_x != EMPTY_WORD) out_.push_back({min_x, min_y});
                min_x = x, min_y = y, mt = i;
            } else if (mt + w == i) {  // the minimum has left the window
                if (l >= full && min_x != EMPTY_WORD) out_.push_back({min_x, min_y});
                const bool tie = rescan(X, i + 1 - w, i + 1, mt);
                min_x = X[mt], min_y = Y[mt];
                if (tie && l >= full && min_x != EMPTY_WORD) emit_ties(X, Y, i + 1 - w, i + 1, min_x, min_y);
            }
        }
        // Carry the last window in front of the next block.
        std::memmove(b.x + PRE - w, b.x + end - w, w * sizeof(uint64_t));
        std::memmove(b.y + PRE - w, b.y + end - w, w * sizeof(uint64_t));
        min_t_ = mt - b.count, min_x_ = min_x, min_y_ = min_y;
    }

    void finish() {
        if (min_x_ != EMPTY_WORD) out_.push_back({min_x_, min_y_});
    }

private:
    // Reports the slots of [lo, hi), oldest first, that share the minimum's
    // hash but are not the minimum itself.
    void emit_ties(const uint64_t* X, const uint64_t* Y, size_t lo, size_t hi, uint64_t min_x,
                   uint64_t min_y) {
        for (size_t p = lo; p < hi; ++p)
            if (X[p] == min_x && Y[p] != min_y) out_.push_back({X[p], Y[p]});
    }

    // Finds the newest smallest slot of [lo, hi) without branches on the
    // hash order (which is random). Returns whether another slot holds the
    // same hash.
    static bool rescan(const uint64_t* X, size_t lo, size_t hi, size_t& min_t) {
        uint64_t mx = EMPTY_WORD;
        size_t mp = lo;
        bool tie = false;
        for (size_t p = lo; p < hi; ++p) {
            const uint64_t x = X[p];
            const bool le = x <= mx;
            tie = (x == mx) | (tie & !le);
            mx = le ? x : mx;
            mp = le ? p : mp;
        }
        min_t = mp;
        return tie;
    }

    size_t w_, k_;
    std::vector<Minimizer>& out_;
    size_t min_t_;
    uint64_t min_x_ = EMPTY_WORD, min_y_ = EMPTY_WORD;
};

template <bool HPC>
void sketch_loop(const uint8_t* seq, size_t n, size_t w, size_t k, uint32_t rid,
                 std::vector<Minimizer>& out) {
    KmerStage<HPC> kmers(seq, n, k, rid);
    SlotBlock block;
    WindowStage window(w, k, block, out);
    while (!kmers.done()) {
        kmers.fill(block);
        window.push(block);
    }
    window.finish();
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

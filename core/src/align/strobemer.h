// Randstrobes: each k-mer paired with a pseudo-randomly chosen downstream
// k-mer, so a match survives small edits between the two strobes.
#pragma once

#include "align/sketch.h"

namespace tessiq {

class TESSIQ_API RandstrobeSketcher final : public Sketcher {
public:
    // Throws FatalError unless 1 <= k <= 14 and k <= w_min <= w_max.
    RandstrobeSketcher(size_t k, size_t w_min, size_t w_max);
    // Records hold the first strobe's start position; rid is not used.
    void sketch(const uint8_t* seq, size_t n, uint32_t rid,
                std::vector<Minimizer>& out) const override;

    size_t k() const { return k_; }
    size_t w_min() const { return w_min_; }
    size_t w_max() const { return w_max_; }

private:
    size_t k_;
    size_t w_min_;
    size_t w_max_;
};

}  // namespace tessiq

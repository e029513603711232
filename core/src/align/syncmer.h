// Closed syncmers: k-mers whose smallest s-mer (by hash) sits at either end.
#pragma once

#include "align/sketch.h"

namespace tessiq {

class TESSIQ_API SyncmerSketcher final : public Sketcher {
public:
    // Throws FatalError unless 1 <= k <= 28 and 1 <= s < k.
    SyncmerSketcher(size_t k, size_t s);
    // Records hold the k-mer's start position; rid is not used.
    void sketch(const uint8_t* seq, size_t n, uint32_t rid,
                std::vector<Minimizer>& out) const override;

    size_t k() const { return k_; }
    size_t s() const { return s_; }

private:
    size_t k_;
    size_t s_;
};

}  // namespace tessiq

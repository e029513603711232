// Helpers shared by the parts of the private test module.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "align/sketch.h"

namespace tessiqpy::testing {

// Minimizer records as (x, y) pairs, the form the tests read and write.
using Pairs = std::vector<std::pair<uint64_t, uint64_t>>;

inline Pairs to_pairs(const std::vector<tessiq::Minimizer>& v) {
    Pairs out;
    out.reserve(v.size());
    for (const auto& r : v) out.emplace_back(r.x, r.y);
    return out;
}

inline std::vector<tessiq::Minimizer> from_pairs(const Pairs& in) {
    std::vector<tessiq::Minimizer> out(in.size());
    for (size_t i = 0; i < in.size(); ++i) out[i] = {in[i].first, in[i].second};
    return out;
}

inline const uint8_t* data_of(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

}  // namespace tessiqpy::testing

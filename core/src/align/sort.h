// Sorting of 16-byte records by their first word: anchors, (score, index)
// pairs and (key, value) pairs all go through here.
#pragma once

#include <cstddef>

#include "align/sketch.h"

namespace tessiq {

// In-place most-significant-digit radix sort on the 8-bit digits of x at
// shifts s, s - 8, ..., 0. Buckets of 2..64 records finish by insertion sort.
TESSIQ_API void rs_sort(Minimizer* records, size_t n, unsigned shift);

// Stable insertion sort by x.
TESSIQ_API void insertion_sort(Minimizer* records, size_t n);

// The entry rule every caller uses: insertion sort up to 64 records, else
// rs_sort from the top byte.
inline void sort_records(Minimizer* records, size_t n) {
    if (n <= 64)
        insertion_sort(records, n);
    else
        rs_sort(records, n, 56);
}

}  // namespace tessiq

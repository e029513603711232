#include "align/sort.h"

namespace tessiq {

void insertion_sort(Minimizer* r, size_t n) {
    for (size_t i = 1; i < n; ++i) {
        const Minimizer v = r[i];
        size_t j = i;
        for (; j > 0 && v.x < r[j - 1].x; --j) r[j] = r[j - 1];
        r[j] = v;
    }
}

void rs_sort(Minimizer* r, size_t n, unsigned shift) {
    size_t begin[256], end[256];
    size_t count[256] = {};
    for (size_t i = 0; i < n; ++i) ++count[(r[i].x >> shift) & 255];
    size_t acc = 0;
    for (int j = 0; j < 256; ++j) {
        begin[j] = acc;
        acc += count[j];
        end[j] = acc;
    }
    // Cycle each record into its bucket until the current bucket's slot
    // receives one of its own.
    for (int j = 0; j < 256; ++j) {
        while (begin[j] < end[j]) {
            Minimizer v = r[begin[j]];
            size_t d = (v.x >> shift) & 255;
            if (d == static_cast<size_t>(j)) {
                ++begin[j];
                continue;
            }
            do {
                Minimizer next = r[begin[d]];
                r[begin[d]++] = v;
                v = next;
                d = (v.x >> shift) & 255;
            } while (d != static_cast<size_t>(j));
            r[begin[j]++] = v;
        }
    }
    if (shift == 0) return;
    const unsigned next_shift = shift < 8 ? 0 : shift - 8;
    size_t start = 0;
    for (int j = 0; j < 256; ++j) {
        const size_t size = end[j] - start;
        if (size > 64)
            rs_sort(r + start, size, next_shift);
        else if (size > 1)
            insertion_sort(r + start, size);
        start = end[j];
    }
}

}  // namespace tessiq

#include "align/dp/lw.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace tessiq {

LightweightProfile lightweight_profile_init(const uint8_t* query, int32_t qlen, int8_t m,
                                            const int8_t* mat) {
    LightweightProfile p;
    p.qlen = std::max(qlen, 0);
    p.m = std::max<int32_t>(m, 1);
    p.seg_len = (p.qlen + 7) / 8;
    const size_t cells = size_t(p.seg_len) * 8;
    p.profile.assign(size_t(p.m) * cells, -1);
    for (int32_t b = 0; b < p.m; ++b) {
        int16_t* row = &p.profile[size_t(b) * cells];
        for (int32_t k = 0; k < p.seg_len; ++k)
            for (int32_t l = 0; l < 8; ++l) {
                const int32_t pos = k + l * p.seg_len;
                if (pos >= p.qlen) continue;
                // codes past the matrix count as the last (ambiguous) one
                const int32_t c = std::min<int32_t>(query[pos], p.m - 1);
                row[k * 8 + l] = mat[b * p.m + c];
            }
    }
    p.h_store.assign(cells, 0);
    p.h_load.assign(cells, 0);
    p.e.assign(cells, 0);
    p.h_best.assign(cells, 0);
    return p;
}

LightweightHit lightweight_align_i16(LightweightProfile& p, const uint8_t* target, int32_t tlen,
                                     int16_t gap_open, int16_t gap_extend) {
    const int32_t seg = p.seg_len;
    const size_t cells = size_t(seg) * 8;
    std::fill(p.e.begin(), p.e.end(), 0);
    std::fill(p.h_load.begin(), p.h_load.end(), 0);
    std::fill(p.h_best.begin(), p.h_best.end(), 0);
    int32_t best = 0, target_end = -1;
    const __m128i goe = _mm_set1_epi16(static_cast<int16_t>(gap_open + gap_extend));
    const __m128i ge = _mm_set1_epi16(gap_extend);
    const __m128i zero = _mm_setzero_si128();
    __m128i* hs = reinterpret_cast<__m128i*>(p.h_store.data());
    __m128i* hl = reinterpret_cast<__m128i*>(p.h_load.data());
    __m128i* ev = reinterpret_cast<__m128i*>(p.e.data());
    for (int32_t i = 0; i < tlen && seg > 0; ++i) {
        const int32_t b = std::min<int32_t>(target[i], p.m - 1);
        const __m128i* prof = reinterpret_cast<const __m128i*>(p.profile.data() + size_t(b) * cells);
        __m128i f = zero, vmax = zero;
        __m128i vh = _mm_slli_si128(_mm_loadu_si128(hl + seg - 1), 2);
        for (int32_t k = 0; k < seg; ++k) {
            vh = _mm_adds_epi16(vh, _mm_loadu_si128(prof + k));
            __m128i e = _mm_loadu_si128(ev + k);
            __m128i h = _mm_max_epi16(_mm_max_epi16(vh, e), f);
            _mm_storeu_si128(hs + k, h);
            const __m128i t = _mm_subs_epu16(h, goe);
            _mm_storeu_si128(ev + k, _mm_max_epi16(_mm_subs_epu16(e, ge), t));
            f = _mm_max_epi16(_mm_subs_epu16(f, ge), t);
            vmax = _mm_max_epi16(vmax, h);
            vh = _mm_loadu_si128(hl + k);
        }
        // lazy F: carry the gap along the query across segment boundaries
        for (int pass = 0; pass < 8; ++pass) {
            f = _mm_slli_si128(f, 2);
            bool done = false;
            for (int32_t k = 0; k < seg; ++k) {
                __m128i h = _mm_max_epi16(_mm_loadu_si128(hs + k), f);
                _mm_storeu_si128(hs + k, h);
                h = _mm_subs_epu16(h, goe);
                f = _mm_subs_epu16(f, ge);
                if (!_mm_movemask_epi8(_mm_cmpgt_epi16(f, h))) {
                    done = true;
                    break;
                }
            }
            if (done) break;
        }
        alignas(16) int16_t lanes[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), vmax);
        const int32_t mi = *std::max_element(lanes, lanes + 8);
        if (mi >= best) {
            best = mi;
            target_end = i;
            std::copy(p.h_store.begin(), p.h_store.end(), p.h_best.begin());
        }
        std::swap(hs, hl);
        p.h_store.swap(p.h_load);
    }
    // an empty query still visits every column, each scoring 0
    if (seg == 0 && tlen > 0) target_end = tlen - 1;
    int32_t query_end = -1;
    if (p.qlen > 0) {
        auto pos_of = [&](size_t x) { return int32_t(x / 8) + seg * int32_t(x % 8); };
        for (size_t x = 0; x < cells; ++x)
            if (p.h_best[x] == best && pos_of(x) < p.qlen) query_end = pos_of(x);
        if (query_end < 0) {
            int32_t top = -1;
            for (size_t x = 0; x < cells; ++x)
                if (pos_of(x) < p.qlen && p.h_best[x] > top) {
                    top = p.h_best[x];
                    query_end = pos_of(x);
                }
        }
    }
    return LightweightHit{best, query_end, target_end};
}

}  // namespace tessiq

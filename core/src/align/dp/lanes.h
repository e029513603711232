// Byte-lane traits for the vector DP bodies, included inside each
// per-instruction-set namespace (so every copy carries that unit's name and
// flags). `Lanes` is the unit's widest register, `Lanes16` a 16-byte one for
// the remainder of an anti-diagonal (the band is widened to 16-cell groups in
// every variant, so 32- and 64-byte units finish with 16-byte steps).
// Needs <immintrin.h> included before the namespace opens.

#define TQ_INL __attribute__((always_inline)) static inline
#define TQ_MEM __attribute__((always_inline)) inline

struct Sse2Ops {
    static constexpr int W = 16;
    using T = __m128i;
    using M = __m128i;
    TQ_INL T load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    TQ_INL void store(void* p, T a) { _mm_storeu_si128(static_cast<__m128i*>(p), a); }
    TQ_INL T set1(int v) { return _mm_set1_epi8(static_cast<char>(v)); }
    TQ_INL T add(T a, T b) { return _mm_add_epi8(a, b); }
    TQ_INL T sub(T a, T b) { return _mm_sub_epi8(a, b); }
    TQ_INL T bor(T a, T b) { return _mm_or_si128(a, b); }
    TQ_INL M gt(T a, T b) { return _mm_cmpgt_epi8(a, b); }
    TQ_INL M eq(T a, T b) { return _mm_cmpeq_epi8(a, b); }
    TQ_INL M mor(M a, M b) { return _mm_or_si128(a, b); }
    TQ_INL T maskz(M m, T a) { return _mm_and_si128(m, a); }
#if defined(__SSE4_1__)
    TQ_INL T sel(M m, T a, T b) { return _mm_blendv_epi8(b, a, m); }
    TQ_INL T max(T a, T b) { return _mm_max_epi8(a, b); }
    TQ_INL T min(T a, T b) { return _mm_min_epi8(a, b); }
#else
    TQ_INL T sel(M m, T a, T b) { return _mm_or_si128(_mm_and_si128(m, a), _mm_andnot_si128(m, b)); }
    TQ_INL T max(T a, T b) { return sel(_mm_cmpgt_epi8(a, b), a, b); }
    TQ_INL T min(T a, T b) { return sel(_mm_cmpgt_epi8(a, b), b, a); }
#endif
};

#if defined(__AVX2__)
struct Avx2Ops {
    static constexpr int W = 32;
    using T = __m256i;
    using M = __m256i;
    TQ_INL T load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    TQ_INL void store(void* p, T a) { _mm256_storeu_si256(static_cast<__m256i*>(p), a); }
    TQ_INL T set1(int v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    TQ_INL T add(T a, T b) { return _mm256_add_epi8(a, b); }
    TQ_INL T sub(T a, T b) { return _mm256_sub_epi8(a, b); }
    TQ_INL T bor(T a, T b) { return _mm256_or_si256(a, b); }
    TQ_INL M gt(T a, T b) { return _mm256_cmpgt_epi8(a, b); }
    TQ_INL M eq(T a, T b) { return _mm256_cmpeq_epi8(a, b); }
    TQ_INL M mor(M a, M b) { return _mm256_or_si256(a, b); }
    TQ_INL T maskz(M m, T a) { return _mm256_and_si256(m, a); }
    TQ_INL T sel(M m, T a, T b) { return _mm256_blendv_epi8(b, a, m); }
    TQ_INL T max(T a, T b) { return _mm256_max_epi8(a, b); }
    TQ_INL T min(T a, T b) { return _mm256_min_epi8(a, b); }
};
#endif

#if defined(__AVX512BW__)
struct Avx512Ops {
    static constexpr int W = 64;
    using T = __m512i;
    using M = __mmask64;
    TQ_INL T load(const void* p) { return _mm512_loadu_si512(p); }
    TQ_INL void store(void* p, T a) { _mm512_storeu_si512(p, a); }
    TQ_INL T set1(int v) { return _mm512_set1_epi8(static_cast<char>(v)); }
    TQ_INL T add(T a, T b) { return _mm512_add_epi8(a, b); }
    TQ_INL T sub(T a, T b) { return _mm512_sub_epi8(a, b); }
    TQ_INL T bor(T a, T b) { return _mm512_or_si512(a, b); }
    TQ_INL M gt(T a, T b) { return _mm512_cmpgt_epi8_mask(a, b); }
    TQ_INL M eq(T a, T b) { return _mm512_cmpeq_epi8_mask(a, b); }
    TQ_INL M mor(M a, M b) { return _kor_mask64(a, b); }
    TQ_INL T maskz(M m, T a) { return _mm512_maskz_mov_epi8(m, a); }
    TQ_INL T sel(M m, T a, T b) { return _mm512_mask_blend_epi8(m, b, a); }
    TQ_INL T max(T a, T b) { return _mm512_max_epi8(a, b); }
    TQ_INL T min(T a, T b) { return _mm512_min_epi8(a, b); }
};
using Lanes = Avx512Ops;
#elif defined(__AVX2__)
using Lanes = Avx2Ops;
#else
using Lanes = Sse2Ops;
#endif
using Lanes16 = Sse2Ops;

// Walks the widened range [st16, en16] (both multiples-of-16 bounds) from the
// top down, wide steps first, so that every step still reads the previous
// anti-diagonal's values at t - 1.
template <class Cell>
TQ_INL void for_chunks_desc(int64_t st16, int64_t en16, Cell& cell) {
    int64_t pos = en16 + 1;
    while (pos - st16 >= Lanes::W) {
        pos -= Lanes::W;
        cell.template step<Lanes>(pos);
    }
    while (pos > st16) {
        pos -= 16;
        cell.template step<Lanes16>(pos);
    }
}

// Floor division by two for band bounds that may be negative.
TQ_INL int64_t half_floor(int64_t x) { return x >> 1; }
TQ_INL int64_t max3(int64_t a, int64_t b, int64_t c) { return a > b ? (a > c ? a : c) : (b > c ? b : c); }
TQ_INL int64_t min3(int64_t a, int64_t b, int64_t c) { return a < b ? (a < c ? a : c) : (b < c ? b : c); }

// Substitution scores of one step: match / mismatch / ambiguous (a code equal
// to m - 1), or the precomputed s array with GENERIC_SCORE.
template <class L>
TQ_INL typename L::T subst_vec(const VectorArgs& a, int64_t qoff, int64_t t, bool generic) {
    using T = typename L::T;
    if (generic) return L::load(a.s + t);
    const T ta = L::load(a.tp + t), qb = L::load(a.qr + qoff + t), m1 = L::set1(a.m - 1);
    const T s = L::sel(L::eq(ta, qb), L::set1(a.match), L::set1(a.mismatch));
    return L::sel(L::mor(L::eq(ta, m1), L::eq(qb, m1)), L::set1(a.amb), s);
}

// GENERIC_SCORE: full-matrix lookups for the widened range (codes past the
// matrix count as the last one).
TQ_INL void fill_generic_scores(const VectorArgs& a, int64_t qoff, int64_t st16, int64_t en16) {
    const int m = a.m;
    for (int64_t t = st16; t <= en16; ++t) {
        const int ta = a.tp[t] < m ? a.tp[t] : m - 1;
        const int qb = a.qr[qoff + t] < m ? a.qr[qoff + t] : m - 1;
        a.s[t] = a.mat[ta * m + qb];
    }
}

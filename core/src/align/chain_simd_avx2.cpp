// The AVX2 batch kernel: 8 predecessors per step. Compiled with -mavx2.
#include <immintrin.h>

#include "align/chain_simd_impl.h"

namespace tessiq {

namespace {
struct Avx2Lanes {
    static constexpr size_t W = 8;
    using I = __m256i;
    using F = __m256;
    using M = __m256i;
    static I set1(int32_t v) { return _mm256_set1_epi32(v); }
    static F set1f(float v) { return _mm256_set1_ps(v); }
    static I load(const int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void store(int32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static I add(I a, I b) { return _mm256_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I band(I a, I b) { return _mm256_and_si256(a, b); }
    static I bor(I a, I b) { return _mm256_or_si256(a, b); }
    static I srl23(I a) { return _mm256_srli_epi32(a, 23); }
    static M gt(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static M eq(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    static M mor(M a, M b) { return _mm256_or_si256(a, b); }
    static M mnot(M a) { return _mm256_xor_si256(a, _mm256_set1_epi32(-1)); }
    static I select(M m, I a, I b) { return _mm256_blendv_epi8(b, a, m); }
    static F fselect(M m, F a, F b) { return _mm256_blendv_ps(b, a, _mm256_castsi256_ps(m)); }
    static I min(I a, I b) { return _mm256_min_epi32(a, b); }
    static I abs(I a) { return _mm256_abs_epi32(a); }
    static F cvt(I a) { return _mm256_cvtepi32_ps(a); }
    static I cvtt(F a) { return _mm256_cvttps_epi32(a); }
    static F mulf(F a, F b) { return _mm256_mul_ps(a, b); }
    static F addf(F a, F b) { return _mm256_add_ps(a, b); }
    static I bits(F a) { return _mm256_castps_si256(a); }
    static F fbits(I a) { return _mm256_castsi256_ps(a); }
};
}  // namespace

void compute_chain_scores_batch_avx2(const BatchArgs& args, int32_t* out, size_t start, size_t end) {
    chain_simd::batch_scores<Avx2Lanes>(args, out, start, end);
}

}  // namespace tessiq

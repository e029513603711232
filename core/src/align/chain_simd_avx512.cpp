// The AVX-512 batch kernel: 16 predecessors per step, compare results in mask
// registers. Compiled with -mavx512f -mavx512bw.
#include <immintrin.h>

#include "align/chain_simd_impl.h"

namespace tessiq {

namespace {
struct Avx512Lanes {
    static constexpr size_t W = 16;
    using I = __m512i;
    using F = __m512;
    using M = __mmask16;
    static I set1(int32_t v) { return _mm512_set1_epi32(v); }
    static F set1f(float v) { return _mm512_set1_ps(v); }
    static I load(const int32_t* p) { return _mm512_loadu_si512(p); }
    static void store(int32_t* p, I v) { _mm512_storeu_si512(p, v); }
    static I add(I a, I b) { return _mm512_add_epi32(a, b); }
    static I sub(I a, I b) { return _mm512_sub_epi32(a, b); }
    static I band(I a, I b) { return _mm512_and_si512(a, b); }
    static I bor(I a, I b) { return _mm512_or_si512(a, b); }
    static I srl23(I a) { return _mm512_srli_epi32(a, 23); }
    static M gt(I a, I b) { return _mm512_cmpgt_epi32_mask(a, b); }
    static M eq(I a, I b) { return _mm512_cmpeq_epi32_mask(a, b); }
    static M mor(M a, M b) { return static_cast<M>(a | b); }
    static M mnot(M a) { return static_cast<M>(~a); }
    static I select(M m, I a, I b) { return _mm512_mask_blend_epi32(m, b, a); }
    static F fselect(M m, F a, F b) { return _mm512_mask_blend_ps(m, b, a); }
    static I min(I a, I b) { return _mm512_min_epi32(a, b); }
    static I abs(I a) { return _mm512_abs_epi32(a); }
    static F cvt(I a) { return _mm512_cvtepi32_ps(a); }
    static I cvtt(F a) { return _mm512_cvttps_epi32(a); }
    static F mulf(F a, F b) { return _mm512_mul_ps(a, b); }
    static F addf(F a, F b) { return _mm512_add_ps(a, b); }
    static I bits(F a) { return _mm512_castps_si512(a); }
    static F fbits(I a) { return _mm512_castsi512_ps(a); }
};
}  // namespace

void compute_chain_scores_batch_avx512(const BatchArgs& args, int32_t* out, size_t start,
                                       size_t end) {
    chain_simd::batch_scores<Avx512Lanes>(args, out, start, end);
}

}  // namespace tessiq

// The batch kernel, written once over a lane-traits type V and compiled per
// instruction set (chain_simd_sse.cpp, chain_simd_avx2.cpp,
// chain_simd_avx512.cpp). V provides W (lanes), the int vector I, float
// vector F and mask M types, and the operations used below.
//
// Only this leaf kernel lives in the per-instruction-set units: code there
// must not instantiate shared inline functions or library templates, whose
// merged copies could otherwise carry AVX instructions into portable paths.
#pragma once

#include "align/chain_simd.h"

namespace tessiq::chain_simd {

template <class V>
void batch_scores(const BatchArgs& a, int32_t* out, size_t start, size_t end) {
    using I = typename V::I;
    using F = typename V::F;
    using M = typename V::M;
    const I qi = V::set1(a.qi), ti = V::set1(a.ti), tki = V::set1(a.tki);
    const I one = V::set1(1), zero = V::set1(0), invalid = V::set1(INVALID_LINK);
    const I mdx = V::set1(a.max_dist_x), mdy = V::set1(a.max_dist_y), bw = V::set1(a.bandwidth);
    const I exp_mask = V::set1(255), exp_bias = V::set1(128);
    const I mant_mask = V::set1(static_cast<int32_t>(0x807fffffu));
    const I mant_one = V::set1(0x3f800000);
    const F gap = V::set1f(a.chn_pen_gap), skip = V::set1f(a.chn_pen_skip);
    const F c0 = V::set1f(-0.34484842f), c1 = V::set1f(2.0246658f), c2 = V::set1f(-0.6748776f);
    const F half = V::set1f(0.5f);

    size_t j = start;
    const size_t vend = start + (end - start) / V::W * V::W;
    for (; j < vend; j += V::W) {
        const I dq = V::sub(qi, V::load(a.qpos + j));
        const I dr = V::sub(ti, V::load(a.tpos + j));
        const I dd = V::abs(V::sub(dq, dr));
        M bad = V::mor(V::gt(one, dq), V::gt(dq, mdx));
        bad = V::mor(bad, V::mnot(V::eq(V::load(a.tkey + j), tki)));
        bad = V::mor(bad, V::mor(V::eq(dr, zero), V::gt(dq, mdy)));
        bad = V::mor(bad, V::gt(dd, bw));
        const I dg = V::min(dq, dr);
        const I sp = V::load(a.span + j);
        I score = V::min(sp, dg);
        const M need = V::mor(V::gt(dd, zero), V::gt(dg, sp));
        // penalty: dd * gap + dg * skip + 0.5 * log2(dd + 1), no fused steps
        F pen = V::addf(V::mulf(V::cvt(dd), gap), V::mulf(V::cvt(dg), skip));
        const I bits = V::bits(V::cvt(V::add(dd, one)));
        const F e = V::cvt(V::sub(V::band(V::srl23(bits), exp_mask), exp_bias));
        const F m = V::fbits(V::bor(V::band(bits, mant_mask), mant_one));
        F lg = V::addf(V::mulf(V::addf(V::mulf(m, c0), c1), m), c2);
        lg = V::addf(lg, e);
        lg = V::fselect(V::gt(dd, zero), lg, V::set1f(0.0f));
        pen = V::addf(pen, V::mulf(half, lg));
        score = V::select(need, V::sub(score, V::cvtt(pen)), score);
        V::store(out + j, V::select(bad, invalid, score));
    }
    for (; j < end; ++j) out[j] = chain_score_one(a, j);
}

}  // namespace tessiq::chain_simd

// Private test module, DP kernels: every variant of the three families with
// all arguments, the dispatchers, the lightweight aligner and the scratch
// cache.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <optional>

#include "align/dp/common.h"
#include "align/dp/lw.h"
#include "frame.h"

namespace tessiqpy {
namespace {

using tessiq::DpResult;

#define TESSIQ_DP_FIELDS(X) \
    X(max) X(max_q) X(max_t) X(mqe) X(mqe_t) X(mte) X(mte_q) X(score) X(reached_end) X(z_dropped)

DpResult result_from(const std::optional<nb::dict>& init) {
    DpResult r;
    if (!init) return r;
    for (auto [key, value] : *init) {
        const std::string k = nb::cast<std::string>(key);
        bool known = false;
#define GET(name)                               \
    if (k == #name) {                           \
        r.name = nb::cast<int32_t>(value);      \
        known = true;                           \
    }
        TESSIQ_DP_FIELDS(GET)
#undef GET
        if (k == "cigar") {
            r.cigar = nb::cast<std::vector<uint32_t>>(value);
            known = true;
        }
        if (!known) raise(PyExc_KeyError, "unknown DpResult field '" + k + "'");
    }
    return r;
}

nb::dict result_to(const DpResult& r) {
    nb::dict d;
#define PUT(name) d[#name] = r.name;
    TESSIQ_DP_FIELDS(PUT)
#undef PUT
    d["cigar"] = r.cigar;
    return d;
}

const uint8_t* codes(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

using SingleFn = void (*)(TESSIQ_SINGLE_ARGS);
using DualFn = void (*)(TESSIQ_DUAL_ARGS);
using SpliceFn = void (*)(TESSIQ_SPLICE_ARGS);

template <SingleFn F>
nb::dict call_single(nb::bytes query, nb::bytes target, int8_t m, std::vector<int8_t> mat, int8_t q,
                     int8_t e, int32_t w, int32_t zdrop, int32_t end_bonus, int32_t flags,
                     std::optional<nb::dict> init) {
    DpResult r = result_from(init);
    const std::string_view qs(query.c_str(), query.size()), ts(target.c_str(), target.size());
    {
        nb::gil_scoped_release release;
        F(codes(qs), int32_t(qs.size()), codes(ts), int32_t(ts.size()), m, mat.data(), mat.size(),
          q, e, w, zdrop, end_bonus, flags, r);
    }
    return result_to(r);
}

template <DualFn F>
nb::dict call_dual(nb::bytes query, nb::bytes target, int8_t m, std::vector<int8_t> mat, int8_t q,
                   int8_t e, int8_t q2, int8_t e2, int32_t w, int32_t zdrop, int32_t end_bonus,
                   int32_t flags, std::optional<nb::dict> init) {
    DpResult r = result_from(init);
    const std::string_view qs(query.c_str(), query.size()), ts(target.c_str(), target.size());
    {
        nb::gil_scoped_release release;
        F(codes(qs), int32_t(qs.size()), codes(ts), int32_t(ts.size()), m, mat.data(), mat.size(),
          q, e, q2, e2, w, zdrop, end_bonus, flags, r);
    }
    return result_to(r);
}

template <SpliceFn F>
nb::dict call_splice(nb::bytes query, nb::bytes target, int8_t m, std::vector<int8_t> mat,
                     int8_t q, int8_t e, int8_t q2, int8_t noncan, int32_t zdrop, int32_t end_bonus,
                     int32_t junc_bonus, int32_t junc_pen, int32_t flags,
                     std::optional<nb::bytes> junc, std::optional<nb::dict> init) {
    DpResult r = result_from(init);
    const std::string_view qs(query.c_str(), query.size()), ts(target.c_str(), target.size());
    std::string_view js;
    if (junc) {
        js = std::string_view(junc->c_str(), junc->size());
        // the kernel reads one entry per target base
        if (js.size() < ts.size()) raise(PyExc_ValueError, "junction array shorter than the target");
    }
    {
        nb::gil_scoped_release release;
        F(codes(qs), int32_t(qs.size()), codes(ts), int32_t(ts.size()), m, mat.data(), mat.size(),
          q, e, q2, noncan, zdrop, end_bonus, junc_bonus, junc_pen, flags,
          junc ? codes(js) : nullptr, js.size(), r);
    }
    return result_to(r);
}

}  // namespace

void register_testing_dp(nb::module_& m) {
    using namespace nb::literals;
#define SINGLE_ARGS "query"_a, "target"_a, "m"_a, "mat"_a, "q"_a, "e"_a, "w"_a, "zdrop"_a, \
        "end_bonus"_a, "flags"_a, "init"_a = nb::none()
#define DUAL_ARGS "query"_a, "target"_a, "m"_a, "mat"_a, "q"_a, "e"_a, "q2"_a, "e2"_a, "w"_a, \
        "zdrop"_a, "end_bonus"_a, "flags"_a, "init"_a = nb::none()
#define SPLICE_ARGS "query"_a, "target"_a, "m"_a, "mat"_a, "q"_a, "e"_a, "q2"_a, "noncan"_a,   \
        "zdrop"_a, "end_bonus"_a, "junc_bonus"_a, "junc_pen"_a, "flags"_a, "junc"_a = nb::none(), \
        "init"_a = nb::none()
    m.def("extend_single_affine", &call_single<tessiq::extend_single_affine>, SINGLE_ARGS);
    m.def("extend_single_affine_scalar", &call_single<tessiq::extend_single_affine_scalar>, SINGLE_ARGS);
    m.def("extend_single_affine_sse2", &call_single<tessiq::extend_single_affine_sse2>, SINGLE_ARGS);
    m.def("extend_single_affine41_impl", &call_single<tessiq::extend_single_affine41_impl>, SINGLE_ARGS);
    m.def("extend_single_affine_avx2_fn", &call_single<tessiq::extend_single_affine_avx2_fn>, SINGLE_ARGS);
    m.def("extend_single_affine_avx512_fn", &call_single<tessiq::extend_single_affine_avx512_fn>, SINGLE_ARGS);

    m.def("extend_dual_affine", &call_dual<tessiq::extend_dual_affine>, DUAL_ARGS);
    m.def("extend_dual_affine_scalar", &call_dual<tessiq::extend_dual_affine_scalar>, DUAL_ARGS);
    m.def("extend_dual_affine2_impl", &call_dual<tessiq::extend_dual_affine2_impl>, DUAL_ARGS);
    m.def("extend_dual_affine41_impl", &call_dual<tessiq::extend_dual_affine41_impl>, DUAL_ARGS);
    m.def("extend_dual_affine_avx2_fn", &call_dual<tessiq::extend_dual_affine_avx2_fn>, DUAL_ARGS);
    m.def("extend_dual_affine_avx512_fn", &call_dual<tessiq::extend_dual_affine_avx512_fn>, DUAL_ARGS);

    m.def("extend_splice", &call_splice<tessiq::extend_splice>, SPLICE_ARGS);
    m.def("extend_splice_scalar", &call_splice<tessiq::extend_splice_scalar>, SPLICE_ARGS);
    m.def("extend_splice_sse2", &call_splice<tessiq::extend_splice_sse2>, SPLICE_ARGS);
    m.def("extend_splice41_impl", &call_splice<tessiq::extend_splice41_impl>, SPLICE_ARGS);
    m.def("extend_splice_avx2_fn", &call_splice<tessiq::extend_splice_avx2_fn>, SPLICE_ARGS);
    m.def("extend_splice_avx512_fn", &call_splice<tessiq::extend_splice_avx512_fn>, SPLICE_ARGS);
#undef SINGLE_ARGS
#undef DUAL_ARGS
#undef SPLICE_ARGS

    m.def("dp_neg_inf", [] { return tessiq::DP_NEG_INF; });
    m.def(
        "aligned_memory",
        [](size_t size, size_t align) {
            tessiq::AlignedMemory mem(size, align);
            return std::make_tuple(mem.size(), mem.align());
        },
        "size"_a, "align"_a);
    m.def("dp_mem_cache", []() -> std::optional<std::tuple<size_t, size_t>> {
        const tessiq::DpCacheInfo info = tessiq::dp_mem_cache_info();
        if (!info.present) return std::nullopt;
        return std::make_tuple(info.size, info.align);
    });
    m.def("dp_mem_cache_clear", &tessiq::dp_mem_cache_clear);

    m.def(
        "lightweight_align_i16",
        [](nb::bytes query, int8_t mdim, std::vector<int8_t> mat, std::vector<nb::bytes> targets,
           int16_t gap_open, int16_t gap_extend) {
            if (mdim <= 0 || mat.size() < size_t(mdim) * size_t(mdim))
                raise(PyExc_ValueError, "matrix too small");
            const std::string_view qs(query.c_str(), query.size());
            tessiq::LightweightProfile prof =
                tessiq::lightweight_profile_init(codes(qs), int32_t(qs.size()), mdim, mat.data());
            std::vector<std::tuple<int32_t, int32_t, int32_t>> out;
            for (const nb::bytes& t : targets) {
                const std::string_view ts(t.c_str(), t.size());
                const tessiq::LightweightHit h = tessiq::lightweight_align_i16(
                    prof, codes(ts), int32_t(ts.size()), gap_open, gap_extend);
                out.emplace_back(h.score, h.query_end, h.target_end);
            }
            return out;
        },
        "query"_a, "m"_a, "mat"_a, "targets"_a, "gap_open"_a, "gap_extend"_a);
}

}  // namespace tessiqpy

// Private test module, part 2: options, presets, kernel switches, sorting
// and every chaining variant called directly.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <chrono>

#include "frame.h"
#include "testing_util.h"
#include "align/chain.h"
#include "align/chain_rmq.h"
#include "align/chain_simd.h"
#include "align/env_flags.h"
#include "align/sort.h"
#include "api/options.h"

namespace tessiqpy {
namespace {

using namespace testing;

// Field tables shared by the dict conversions in both directions.
#define TESSIQ_SEEDING(X) X(mid_occ) X(max_occ) X(max_max_occ) X(occ_dist) X(q_occ_frac) \
    X(min_mid_occ) X(max_mid_occ)
#define TESSIQ_CHAINING(X) X(min_cnt) X(min_chain_score) X(max_gap) X(max_gap_ref) X(max_dist_x) \
    X(max_dist_y) X(bandwidth) X(bandwidth_long) X(max_chain_skip) X(max_chain_iter)           \
    X(chn_pen_gap) X(chn_pen_skip) X(chain_gap_scale) X(rmq_rescue_size) X(rmq_rescue_ratio)   \
    X(rmq_inner_dist) X(rmq_size_cap)
#define TESSIQ_SCORING(X) X(match_score) X(mismatch_penalty) X(gap_open) X(gap_extend)      \
    X(gap_open2) X(gap_extend2) X(transition) X(ambig_penalty) X(noncanon_penalty) X(junc_bonus) \
    X(junc_pen)
#define TESSIQ_ALIGNMENT(X) X(zdrop) X(zdrop_inv) X(end_bonus) X(max_sw_mat) X(min_dp_max) \
    X(min_dp_len) X(anchor_ext_len) X(anchor_ext_shift) X(max_clip_ratio)
#define TESSIQ_FILTERING(X) X(best_n) X(pri_ratio) X(mask_level) X(mask_len) X(is_splice)   \
    X(alt_drop) X(seed) X(chain_skip_scale) X(max_qlen) X(jump_min_match)
#define TESSIQ_PAIRING(X) X(max_frag_len) X(pe_ori) X(pe_bonus)

nb::dict options_to_dict(const tessiq::MapOptions& o) {
    nb::dict d, s, c, sc, a, f, p;
#define PUT(name) s[#name] = o.seeding.name;
    TESSIQ_SEEDING(PUT)
#undef PUT
#define PUT(name) c[#name] = o.chaining.name;
    TESSIQ_CHAINING(PUT)
#undef PUT
#define PUT(name) sc[#name] = o.scoring.name;
    TESSIQ_SCORING(PUT)
#undef PUT
#define PUT(name) a[#name] = o.alignment.name;
    TESSIQ_ALIGNMENT(PUT)
#undef PUT
#define PUT(name) f[#name] = o.filtering.name;
    TESSIQ_FILTERING(PUT)
#undef PUT
#define PUT(name) p[#name] = o.pairing.name;
    TESSIQ_PAIRING(PUT)
#undef PUT
    d["seeding"] = s, d["chaining"] = c, d["scoring"] = sc, d["alignment"] = a;
    d["filtering"] = f, d["pairing"] = p;
    d["mini_batch_size"] = o.mini_batch_size;
    d["flags"] = o.flags;
    return d;
}

// Chaining parameters: base values, overridden by the dict's entries.
tessiq::ChainingParams chaining_from_dict(nb::handle overrides) {
    tessiq::ChainingParams c;
    if (overrides.is_none()) return c;
    nb::dict d = nb::cast<nb::dict>(overrides);
    for (auto [key, value] : d) {
        const std::string k = nb::cast<std::string>(key);
        bool known = false;
#define GET(name)                                                    \
    if (k == #name) {                                                \
        c.name = nb::cast<decltype(tessiq::ChainingParams::name)>(value); \
        known = true;                                                \
    }
        TESSIQ_CHAINING(GET)
#undef GET
        if (!known) raise(PyExc_KeyError, "unknown chaining parameter '" + k + "'");
    }
    return c;
}

nb::tuple chain_result(const tessiq::ChainResult& r) {
    return nb::make_tuple(r.chains, to_pairs(r.anchors));
}

}  // namespace
}  // namespace tessiqpy

namespace tessiqpy {

void register_testing_chain(nb::module_& m) {
    m.def("apply_preset_str", [](const std::string& name) {
        tessiq::MapOptions o;
        tessiq::IndexParams ix;
        std::optional<std::string> error = tessiq::apply_preset_str(o, ix, name);
        if (error) raise(PyExc_ValueError, *error);
        return nb::make_tuple(options_to_dict(o), ix.k, ix.w, ix.is_hpc);
    });
    // Like apply_preset_str, but reports the options even when the name
    // fails, to show what a partly matched family wrote.
    m.def("apply_preset_partial", [](const std::string& name) {
        tessiq::MapOptions o;
        tessiq::IndexParams ix;
        std::optional<std::string> error = tessiq::apply_preset_str(o, ix, name);
        return nb::make_tuple(options_to_dict(o), ix.k, ix.w, ix.is_hpc,
                              error ? nb::cast(*error) : nb::none());
    });
    m.def("base_options", [] { return options_to_dict(tessiq::MapOptions{}); });
    m.def("preset_names", [] {
        std::vector<std::string> names;
        for (int i = 0; i < tessiq::PRESET_COUNT; ++i)
            names.push_back(tessiq::preset_name(static_cast<tessiq::Preset>(i)));
        return names;
    });
    m.def("simd_cap", [] { return int(tessiq::SIMD_CAP.load()); });
    m.def("cpu_features", [] {
        const auto& f = tessiq::cpu_features();
        nb::dict d;
        d["sse41"] = f.sse41, d["avx2"] = f.avx2, d["avx512f"] = f.avx512f, d["avx512bw"] = f.avx512bw;
        return d;
    });
    m.def("switches", [] {
        nb::dict d;
        for (const tessiq::EnvSwitch* s :
             {&tessiq::FORCE_SCALAR, &tessiq::COMPARE_SCALAR, &tessiq::FORCE_SSE, &tessiq::FORCE_AVX2,
              &tessiq::FORCE_AVX512, &tessiq::FORCE_SCALAR_CHAIN})
            d[s->variable()] = s->on();
        return d;
    });
    m.def("dp_level", [] { return tessiq::simd_level_name(tessiq::select_dp_level()); });
    m.def("chain_level", [] { return tessiq::simd_level_name(tessiq::select_chain_level()); });

    m.def("approx_log2", &tessiq::approx_log2);
    m.def(
        "link_score",
        [](std::pair<uint64_t, uint64_t> i, std::pair<uint64_t, uint64_t> j, nb::handle params,
           bool is_cdna, int n_seg, int32_t max_dist_x, int32_t max_dist_y) {
            const int32_t s = tessiq::link_score({i.first, i.second}, {j.first, j.second},
                                                 chaining_from_dict(params), is_cdna, n_seg,
                                                 max_dist_x, max_dist_y);
            return s == tessiq::INVALID_LINK ? nb::none() : nb::cast(s);
        },
        nb::arg("i"), nb::arg("j"), nb::arg("params").none() = nb::none(),
        nb::arg("is_cdna") = false, nb::arg("n_seg") = 1, nb::arg("max_dist_x") = 5000,
        nb::arg("max_dist_y") = 5000);
    m.def(
        "chain",
        [](const std::string& variant, const std::vector<std::pair<uint64_t, uint64_t>>& in,
           nb::handle params, bool is_splice, int n_seg, int32_t max_dist_x, int32_t max_dist_y) {
            const tessiq::ChainingParams p = chaining_from_dict(params);
            const std::vector<tessiq::Minimizer> a = from_pairs(in);
            tessiq::ChainingBuffers b;
            tessiq::ChainResult r;
            {
                nb::gil_scoped_release release;
                if (variant == "dispatch")
                    r = tessiq::chain_anchors(p, is_splice, n_seg, max_dist_x, max_dist_y, a.data(),
                                              a.size(), b);
                else if (variant == "scalar")
                    r = tessiq::chain_anchors_scalar(p, is_splice, n_seg, max_dist_x, max_dist_y,
                                                     a.data(), a.size(), b);
                else if (variant == "sse")
                    r = tessiq::chain_anchors_sse(p, max_dist_x, max_dist_y, a.data(), a.size(), b);
                else if (variant == "avx2")
                    r = tessiq::chain_anchors_avx2(p, max_dist_x, max_dist_y, a.data(), a.size(), b);
                else if (variant == "avx512")
                    r = tessiq::chain_anchors_avx512(p, max_dist_x, max_dist_y, a.data(), a.size(), b);
                else if (variant == "rmq")
                    r = tessiq::chain_anchors_rmq(p, a.data(), a.size(), b);
                else if (variant == "partitioned")
                    r = tessiq::chain_anchors_partitioned(p, max_dist_x, max_dist_y, a.data(),
                                                          a.size());
                else
                    throw tessiq::Error(tessiq::ErrorKind::InvalidInput,
                                        "unknown chainer '" + variant + "'");
            }
            return chain_result(r);
        },
        nb::arg("variant"), nb::arg("anchors"), nb::arg("params").none() = nb::none(),
        nb::arg("is_splice") = false, nb::arg("n_seg") = 1, nb::arg("max_dist_x") = 5000,
        nb::arg("max_dist_y") = 5000);
    m.def(
        "chain_batch",
        [](const std::string& variant, const std::vector<std::pair<uint64_t, uint64_t>>& in,
           size_t i, nb::handle params, int32_t max_dist_x, int32_t max_dist_y, size_t start,
           size_t end) {
            const tessiq::ChainingParams p = chaining_from_dict(params);
            const std::vector<tessiq::Minimizer> a = from_pairs(in);
            std::vector<int32_t> tpos(a.size()), qpos(a.size()), span(a.size()), tkey(a.size());
            for (size_t k = 0; k < a.size(); ++k) {
                tpos[k] = tessiq::anchor_tpos(a[k]);
                qpos[k] = tessiq::anchor_qpos(a[k]);
                span[k] = tessiq::anchor_span(a[k]);
                tkey[k] = static_cast<int32_t>(static_cast<uint32_t>(a[k].x >> 32));
            }
            if (i >= a.size() || start > end || end > a.size())
                raise(PyExc_IndexError, "batch range out of bounds");
            tessiq::BatchArgs args{qpos.data(), tpos.data(), span.data(), tkey.data(), qpos[i],
                                   tpos[i], tkey[i], p.chn_pen_gap, p.chn_pen_skip, max_dist_x,
                                   max_dist_y, p.bandwidth};
            std::vector<int32_t> out(a.size(), 0);
            if (variant == "sse")
                tessiq::compute_chain_scores_batch_sse(args, out.data(), start, end);
            else if (variant == "avx2")
                tessiq::compute_chain_scores_batch_avx2(args, out.data(), start, end);
            else if (variant == "avx512")
                tessiq::compute_chain_scores_batch_avx512(args, out.data(), start, end);
            else
                for (size_t j = start; j < end; ++j) out[j] = tessiq::chain_score_one(args, j);
            return std::vector<int32_t>(out.begin() + start, out.begin() + end);
        });
    // Seconds per pass over many anchor sets with one chainer, the sets
    // converted once up front; for the chaining benchmark.
    m.def("chain_timings", [](const std::string& variant,
                              const std::vector<std::vector<std::pair<uint64_t, uint64_t>>>& sets,
                              nb::handle params, uint64_t repeats) {
        const tessiq::ChainingParams p = chaining_from_dict(params);
        std::vector<std::vector<tessiq::Minimizer>> a;
        for (const auto& s : sets) a.push_back(from_pairs(s));
        std::vector<double> seconds;
        uint64_t chained = 0;
        nb::gil_scoped_release release;
        tessiq::ChainingBuffers b;
        for (uint64_t r = 0; r < repeats; ++r) {
            const auto t0 = std::chrono::steady_clock::now();
            for (const auto& s : a) {
                tessiq::ChainResult res;
                if (variant == "scalar")
                    res = tessiq::chain_anchors_scalar(p, false, 1, 5000, 5000, s.data(), s.size(), b);
                else if (variant == "sse")
                    res = tessiq::chain_anchors_sse(p, 5000, 5000, s.data(), s.size(), b);
                else if (variant == "avx2")
                    res = tessiq::chain_anchors_avx2(p, 5000, 5000, s.data(), s.size(), b);
                else if (variant == "avx512")
                    res = tessiq::chain_anchors_avx512(p, 5000, 5000, s.data(), s.size(), b);
                else
                    res = tessiq::chain_anchors_rmq(p, s.data(), s.size(), b);
                chained += res.anchors.size();
            }
            const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
            seconds.push_back(dt.count());
        }
        return std::make_pair(seconds, chained);
    });
    // The range-minimum tree, with a dump of its structure for invariant checks.
    nb::class_<tessiq::RmqTree>(m, "RmqTree")
        .def(nb::init<>())
        .def("insert", &tessiq::RmqTree::insert_elem)
        .def("erase", &tessiq::RmqTree::erase)
        .def("__len__", &tessiq::RmqTree::size)
        .def("range_min",
             [](const tessiq::RmqTree& tr, int32_t lo_y, uint32_t lo_i, int32_t hi_y, uint32_t hi_i) {
                 const uint32_t k = tr.range_min(lo_y, lo_i, hi_y, hi_i);
                 if (k == tessiq::AVL_NIL) return nb::object(nb::none());
                 const tessiq::AvlNode& nd = tr.node(k);
                 return nb::cast(std::make_tuple(nd.y, nd.i, nd.priority));
             })
        .def("below",
             [](const tessiq::RmqTree& tr, int32_t y, uint32_t i) {
                 std::vector<std::pair<int32_t, uint32_t>> out;
                 for (uint32_t k = tr.last_below(y, i); k != tessiq::AVL_NIL; k = tr.prev(k))
                     out.emplace_back(tr.node(k).y, tr.node(k).i);
                 return out;
             })
        .def("dump", [](const tessiq::RmqTree& tr) {
            // (y, i, priority, balance, submin key, left key or None, right key or None), in order
            nb::list out;
            auto key = [&](uint32_t k) -> nb::object {
                if (k == tessiq::AVL_NIL) return nb::none();
                return nb::cast(std::make_pair(tr.node(k).y, tr.node(k).i));
            };
            std::vector<uint32_t> stack;
            uint32_t k = tr.root();
            while (k != tessiq::AVL_NIL || !stack.empty()) {
                while (k != tessiq::AVL_NIL) stack.push_back(k), k = tr.node(k).left;
                k = stack.back();
                stack.pop_back();
                const tessiq::AvlNode& nd = tr.node(k);
                out.append(nb::make_tuple(nd.y, nd.i, nd.priority, int(nd.balance), key(nd.submin),
                                          key(nd.left), key(nd.right)));
                k = nd.right;
            }
            return nb::make_tuple(key(tr.root()), out);
        });
    m.def("rs_sort", [](const std::vector<std::pair<uint64_t, uint64_t>>& in, unsigned shift) {
        std::vector<tessiq::Minimizer> a = from_pairs(in);
        tessiq::rs_sort(a.data(), a.size(), shift);
        return to_pairs(a);
    });
    m.def("sort_records", [](const std::vector<std::pair<uint64_t, uint64_t>>& in) {
        std::vector<tessiq::Minimizer> a = from_pairs(in);
        tessiq::sort_records(a.data(), a.size());
        return to_pairs(a);
    });
}

}  // namespace tessiqpy

// Private test module, part 4: seed collection and chain-level mapping
// against a tessiqpy.Index, with options prepared as an aligner prepares them.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include "align/map.h"
#include "align/py_index.h"
#include "align/seed.h"
#include <chrono>

#include "frame.h"
#include "testing_util.h"

namespace tessiqpy {
namespace {

using namespace testing;

const tessiq::Index& index_of(nb::handle h) { return nb::cast<PyIndex&>(h).core; }

// Base values, the preset, then the occurrence cut-off from the index, and
// finally any overrides ("flags_or" ORs bits into the mode word).
tessiq::MapOptions prepare(const tessiq::Index& index, const std::string& preset, nb::dict overrides) {
    tessiq::MapOptions o;
    tessiq::IndexParams ix;
    if (auto error = tessiq::apply_preset_str(o, ix, preset)) raise(PyExc_ValueError, *error);
    o.seeding.mid_occ = index.cal_mid_occ(o.seeding.min_mid_occ, o.seeding.max_mid_occ, 0.0002f);
    for (auto [key, value] : overrides) {
        const std::string k = nb::cast<std::string>(key);
        if (k == "flags_or") o.flags |= nb::cast<uint64_t>(value);
        else if (k == "mid_occ") o.seeding.mid_occ = nb::cast<uint64_t>(value);
        else if (k == "max_occ") o.seeding.max_occ = nb::cast<uint64_t>(value);
        else if (k == "max_max_occ") o.seeding.max_max_occ = nb::cast<uint64_t>(value);
        else if (k == "occ_dist") o.seeding.occ_dist = nb::cast<int32_t>(value);
        else if (k == "q_occ_frac") o.seeding.q_occ_frac = nb::cast<float>(value);
        else if (k == "min_chain_score") o.chaining.min_chain_score = nb::cast<int32_t>(value);
        else if (k == "min_cnt") o.chaining.min_cnt = nb::cast<int32_t>(value);
        else if (k == "best_n") o.filtering.best_n = nb::cast<int32_t>(value);
        else if (k == "pri_ratio") o.filtering.pri_ratio = nb::cast<float>(value);
        else if (k == "bandwidth_long") o.chaining.bandwidth_long = nb::cast<int32_t>(value);
        else raise(PyExc_KeyError, "unknown option '" + k + "'");
    }
    return o;
}

nb::dict mapping_dict(const tessiq::Mapping& m, bool with_anchors) {
    nb::dict d;
#define PUT(name) d[#name] = m.name;
    PUT(target_id) PUT(query_start) PUT(query_end) PUT(target_start) PUT(target_end)
    PUT(anchor_offset) PUT(squeezed_offset) PUT(parent) PUT(score) PUT(chain_score)
    PUT(anchor_count) PUT(hash) PUT(n_sub) PUT(bound_target_start) PUT(bound_query_start)
    PUT(bound_target_end) PUT(bound_query_end) PUT(divergence) PUT(strand) PUT(is_secondary)
    PUT(is_inversion_candidate) PUT(from_inversion) PUT(is_alt)
#undef PUT
    d["sub_score"] = m.sub_score ? nb::cast(*m.sub_score) : nb::none();
    if (with_anchors) d["anchors"] = to_pairs(m.anchors);
    return d;
}

double seconds(const tessiq::Duration& d) { return double(d.secs) + d.nanos * 1e-9; }

}  // namespace

void register_testing_map(nb::module_& m) {
    m.def("filter_minimizers_by_occ", [](const Pairs& in, uint64_t q_occ_max, float frac) {
        std::vector<tessiq::Minimizer> v;
        for (auto [x, y] : in) v.push_back({x, y});
        tessiq::filter_minimizers_by_occ(v, q_occ_max, frac);
        return to_pairs(v);
    });
    m.def(
        "collect_anchor_matches",
        [](nb::handle index, uint64_t qlen, const Pairs& mins, uint64_t max_max_occ,
           int32_t occ_dist, uint64_t max_occ) {
            std::vector<tessiq::Minimizer> v;
            for (auto [x, y] : mins) v.push_back({x, y});
            std::vector<uint64_t> mini_pos;
            tessiq::SeedScratch scratch;
            const auto [n_a, rep_len] = tessiq::collect_anchor_matches(
                max_max_occ, occ_dist, index_of(index), qlen, v, mini_pos, max_occ, scratch);
            std::vector<uint64_t> kept;
            for (const auto& s : scratch.matched) kept.push_back(s.mini_index);
            return nb::make_tuple(n_a, rep_len, mini_pos, kept);
        });
    m.def(
        "collect_seeds",
        [](nb::handle index, nb::handle seq, std::optional<std::string> name,
           const std::string& preset, bool heap, nb::dict overrides) {
            const tessiq::Index& idx = index_of(index);
            const tessiq::MapOptions o = prepare(idx, preset, overrides);
            const std::string_view s = as_bytes(seq, "seq");
            std::vector<tessiq::Minimizer> mins, anchors;
            tessiq::sketch_sequence_impl(reinterpret_cast<const uint8_t*>(s.data()), s.size(),
                                         idx.window_size, idx.kmer_size, 0,
                                         idx.homopolymer_compressed, mins);
            std::vector<uint64_t> mini_pos;
            tessiq::SeedScratch scratch;
            std::optional<std::string_view> qname;
            if (name) qname = *name;
            const uint64_t rep_len =
                heap ? tessiq::collect_seed_hits_heap(o, idx, s.size(), mins, anchors, mini_pos,
                                                      o.seeding.mid_occ, qname, scratch)
                     : tessiq::collect_seed_hits_with_occ(o, idx, s.size(), mins, anchors, mini_pos,
                                                          o.seeding.mid_occ, qname, scratch);
            return nb::make_tuple(to_pairs(anchors), mini_pos, rep_len);
        },
        nb::arg("index"), nb::arg("seq"), nb::arg("name").none(), nb::arg("preset") = "map-ont",
        nb::arg("heap") = false, nb::arg("options") = nb::dict());
    m.def(
        "map_query",
        [](nb::handle index, nb::handle name, nb::handle seq, const std::string& preset,
           nb::dict overrides) {
            const tessiq::Index& idx = index_of(index);
            const tessiq::MapOptions o = prepare(idx, preset, overrides);
            const std::string_view q = as_bytes(seq, "seq");
            const std::string_view n = as_bytes(name, "name");
            tessiq::MapContext ctx;
            tessiq::QueryMappings r;
            {
                nb::gil_scoped_release release;
                r = tessiq::map_query(o, idx, n, q, ctx);
            }
            nb::list ms;
            for (const auto& mp : r.mappings) ms.append(mapping_dict(mp, true));
            nb::dict d;
            d["mappings"] = ms;
            d["squeezed_anchors"] = to_pairs(r.squeezed_anchors);
            d["n_minimizers"] = r.n_minimizers;
            d["n_anchors"] = r.n_anchors;
            d["n_chain_anchors"] = r.n_chain_anchors;
            d["rep_len"] = r.rep_len;
            return d;
        },
        nb::arg("index"), nb::arg("name"), nb::arg("seq"), nb::arg("preset") = "map-ont",
        nb::arg("options") = nb::dict());
    // Maps reads one after another on this thread with one context, as a
    // benchmark and accuracy driver: per read the kept mappings (without
    // anchors), plus the total seconds per stage.
    m.def(
        "map_reads",
        [](nb::handle index, nb::handle reads, const std::string& preset, nb::dict overrides) {
            const tessiq::Index& idx = index_of(index);
            const tessiq::MapOptions o = prepare(idx, preset, overrides);
            PairList list = as_pair_list(reads, "reads");
            std::vector<tessiq::QueryMappings> results(list.items.size());
            double t[4] = {0, 0, 0, 0};
            {
                nb::gil_scoped_release release;
                tessiq::MapContext ctx;
                for (size_t i = 0; i < list.items.size(); ++i) {
                    results[i] = tessiq::map_query(o, idx, list.items[i].first, list.items[i].second, ctx);
                    for (auto& mp : results[i].mappings) std::vector<tessiq::Minimizer>().swap(mp.anchors);
                    results[i].squeezed_anchors.clear();
                    t[0] += seconds(results[i].sketch_time), t[1] += seconds(results[i].seed_time);
                    t[2] += seconds(results[i].chain_time), t[3] += seconds(results[i].rest_time);
                }
            }
            nb::list out;
            for (const auto& r : results) {
                nb::list ms;
                for (const auto& mp : r.mappings) ms.append(mapping_dict(mp, false));
                out.append(ms);
            }
            nb::dict times;
            times["sketch"] = t[0], times["seeds"] = t[1], times["chain"] = t[2], times["rest"] = t[3];
            return nb::make_tuple(out, times);
        },
        nb::arg("index"), nb::arg("reads"), nb::arg("preset") = "map-ont",
        nb::arg("options") = nb::dict());
    // Seconds to sketch and collect seeds for all reads (as the driver does),
    // and the anchors collected; for the seeding benchmark.
    m.def("seed_timings", [](nb::handle index, nb::handle reads, const std::string& preset, bool heap) {
        const tessiq::Index& idx = index_of(index);
        const tessiq::MapOptions o = prepare(idx, preset, nb::dict());
        PairList list = as_pair_list(reads, "reads");
        uint64_t anchors = 0;
        double secs = 0;
        nb::gil_scoped_release release;
        tessiq::MapContext ctx;
        const auto t0 = std::chrono::steady_clock::now();
        for (const auto& [name, seq] : list.items) {
            ctx.minimizers.clear();
            tessiq::sketch_sequence_impl(reinterpret_cast<const uint8_t*>(seq.data()), seq.size(),
                                         idx.window_size, idx.kmer_size, 0,
                                         idx.homopolymer_compressed, ctx.minimizers);
            if (heap)
                tessiq::collect_seed_hits_heap(o, idx, seq.size(), ctx.minimizers, ctx.anchors,
                                               ctx.mini_pos, o.seeding.mid_occ, name, ctx.seeds);
            else
                tessiq::collect_seed_hits_with_occ(o, idx, seq.size(), ctx.minimizers, ctx.anchors,
                                                   ctx.mini_pos, o.seeding.mid_occ, name, ctx.seeds);
            anchors += ctx.anchors.size();
        }
        const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
        secs = dt.count();
        return std::make_pair(secs, anchors);
    });
    m.def("map_counters", [] {
        nb::dict d;
        d["PC_BUILD_REGS_NS"] = tessiq::PC_BUILD_REGS_NS.load();
        d["PC_DIVEST_NS"] = tessiq::PC_DIVEST_NS.load();
        d["PC_PARENT_NS"] = tessiq::PC_PARENT_NS.load();
        d["PC_RESCUE_NS"] = tessiq::PC_RESCUE_NS.load();
        d["PC_SQUEEZED_NS"] = tessiq::PC_SQUEEZED_NS.load();
        d["PC_RESCUE_COUNT"] = tessiq::PC_RESCUE_COUNT.load();
        d["PC_RESCUE_ANCHORS"] = tessiq::PC_RESCUE_ANCHORS.load();
        return d;
    });
    m.def("tie_break_seed", &tessiq::tie_break_seed);
}

}  // namespace tessiqpy

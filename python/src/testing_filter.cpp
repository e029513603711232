// Private test module, part 3: parent assignment and chain-level selection
// on mappings described by dicts.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "align/filter.h"
#include "frame.h"

namespace tessiqpy {
namespace {

#define TESSIQ_MAPPING_FIELDS(X)                                                                \
    X(target_id) X(query_start) X(query_end) X(target_start) X(target_end) X(anchor_offset)     \
    X(squeezed_offset) X(parent) X(score) X(chain_score) X(anchor_count) X(hash) X(n_sub)       \
    X(bound_target_start) X(bound_query_start) X(bound_target_end) X(bound_query_end)           \
    X(divergence) X(strand) X(is_secondary) X(is_inversion_candidate) X(from_inversion) X(is_alt)

tessiq::Mapping mapping_from(nb::handle h) {
    nb::dict d = nb::cast<nb::dict>(h);
    tessiq::Mapping m;
    for (auto [key, value] : d) {
        const std::string k = nb::cast<std::string>(key);
        bool known = false;
#define GET(name)                                                   \
    if (k == #name) {                                               \
        m.name = nb::cast<decltype(tessiq::Mapping::name)>(value);  \
        known = true;                                               \
    }
        TESSIQ_MAPPING_FIELDS(GET)
#undef GET
        if (k == "n_anchors") continue;  // reported by mapping_to, not settable
        if (k == "sub_score") {
            m.sub_score = value.is_none() ? std::nullopt : std::optional<int32_t>(nb::cast<int32_t>(value));
            known = true;
        }
        if (!known) raise(PyExc_KeyError, "unknown mapping field '" + k + "'");
    }
    return m;
}

nb::dict mapping_to(const tessiq::Mapping& m) {
    nb::dict d;
#define PUT(name) d[#name] = m.name;
    TESSIQ_MAPPING_FIELDS(PUT)
#undef PUT
    d["sub_score"] = m.sub_score ? nb::cast(*m.sub_score) : nb::none();
    d["n_anchors"] = m.anchors.size();
    return d;
}

std::vector<tessiq::Mapping> mappings_from(nb::handle list) {
    std::vector<tessiq::Mapping> out;
    for (nb::handle h : list) out.push_back(mapping_from(h));
    return out;
}

nb::list mappings_to(const std::vector<tessiq::Mapping>& ms) {
    nb::list out;
    for (const auto& m : ms) out.append(mapping_to(m));
    return out;
}

}  // namespace

void register_testing_filter(nb::module_& m) {
    m.def(
        "assign_parents",
        [](const std::vector<std::pair<uint64_t, uint64_t>>& intervals, int32_t mask_len,
           bool hard_mask, float mask_level) {
            std::vector<tessiq::FilterableItem> items;
            for (auto [s, e] : intervals) items.push_back({s, e});
            tessiq::ParentState state(items.size(), mask_len, hard_mask, mask_level);
            state.assign_parents(items);
            std::vector<uint64_t> primaries;
            for (const auto& p : state.primary_intervals) primaries.push_back(p.item);
            return std::make_pair(state.parents, primaries);
        },
        nb::arg("intervals"), nb::arg("mask_len") = 2147483647, nb::arg("hard_mask") = false,
        nb::arg("mask_level") = 0.5f);
    m.def("alt_adjusted_score", &tessiq::alt_adjusted_score);
    m.def("sort_mappings", [](nb::handle list, float alt_drop) {
        std::vector<tessiq::Mapping> ms = mappings_from(list);
        tessiq::sort_mappings(ms, alt_drop);
        return mappings_to(ms);
    });
    m.def(
        "select_secondaries",
        [](nb::handle list, uint64_t k, nb::dict overrides) {
            tessiq::MapOptions o;
            for (auto [key, value] : overrides) {
                const std::string name = nb::cast<std::string>(key);
                if (name == "mask_level") o.filtering.mask_level = nb::cast<float>(value);
                else if (name == "mask_len") o.filtering.mask_len = nb::cast<int32_t>(value);
                else if (name == "pri_ratio") o.filtering.pri_ratio = nb::cast<float>(value);
                else if (name == "best_n") o.filtering.best_n = nb::cast<int32_t>(value);
                else if (name == "alt_drop") o.filtering.alt_drop = nb::cast<float>(value);
                else if (name == "max_gap") o.chaining.max_gap = nb::cast<int32_t>(value);
                else if (name == "flags") o.flags = nb::cast<uint64_t>(value);
                else raise(PyExc_KeyError, "unknown option '" + name + "'");
            }
            return mappings_to(tessiq::select_secondaries(mappings_from(list), k, o));
        },
        nb::arg("mappings"), nb::arg("k") = 15, nb::arg("options") = nb::dict());
    m.def("prune_inversion_candidates", [](nb::handle list) {
        std::vector<tessiq::Mapping> ms = mappings_from(list);
        tessiq::prune_inversion_candidates(ms);
        return mappings_to(ms);
    });
}

}  // namespace tessiqpy

// Private test module, part 4: the junction database loaders and lookups,
// and the CIGAR/cs/MD/ds renderers with the alignment statistics. Sequences
// travel as bytes of base codes 0..4, operation lists as (char, length) pairs.
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include "align/extend.h"
#include "align/junc.h"
#include "align/pipeline.h"
#include "api/aligner.h"
#include "frame.h"

namespace tessiqpy {
namespace {

using OpList = std::vector<std::pair<std::string, uint32_t>>;

std::vector<tessiq::CigarOp> ops_from(const OpList& list) {
    std::vector<tessiq::CigarOp> out;
    for (const auto& [op, len] : list) {
        if (op.size() != 1) raise(PyExc_ValueError, "operation must be one character");
        out.push_back({static_cast<uint32_t>(static_cast<unsigned char>(op[0])), len});
    }
    return out;
}

OpList ops_to(const std::vector<tessiq::CigarOp>& ops) {
    OpList out;
    for (const auto& op : ops) out.emplace_back(std::string(1, static_cast<char>(op.op)), op.len);
    return out;
}

tessiq::Codes codes(nb::handle b, const char* arg) {
    const std::string_view s = as_bytes(b, arg);
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Later names win, as for targets sharing a name in an index.
tessiq::TargetNameMap name_map(const std::vector<std::string>& names) {
    tessiq::TargetNameMap m;
    for (size_t i = 0; i < names.size(); ++i) m[names[i]] = static_cast<uint32_t>(i);
    return m;
}

nb::bytes get_junc_bytes(const tessiq::JunctionDb& db, uint32_t tid, int64_t a, int64_t b, bool reverse) {
    std::string out(b > a ? static_cast<size_t>(b - a) : 0, '\x77');
    tessiq::get_junc(db, tid, a, b, reverse, reinterpret_cast<uint8_t*>(out.data()));
    return nb::bytes(out.data(), out.size());
}

}  // namespace

void register_testing_fmt(nb::module_& m) {
    // ---- junction database -------------------------------------------------
    nb::class_<tessiq::JunctionDb>(m, "JunctionDb")
        .def_prop_ro("is_bed", &tessiq::JunctionDb::is_bed)
        // Per target: (start, end, strand) of the kept introns.
        .def("bed_intervals", [](const tessiq::JunctionDb& db) {
            nb::list out;
            for (const auto& list : std::get<tessiq::JunctionDb::Bed>(db.data)) {
                nb::list l;
                for (const auto& iv : list) l.append(nb::make_tuple(iv.start, iv.end, iv.strand));
                out.append(l);
            }
            return out;
        })
        // Per list (2*id forward, 2*id+1 reverse): the packed entries.
        .def("spsc_lists", [](const tessiq::JunctionDb& db) {
            std::vector<std::vector<uint64_t>> out;
            for (const auto& c : std::get<tessiq::JunctionDb::Spsc>(db.data)) out.push_back(c.entries);
            return out;
        })
        .def("get_junc", &get_junc_bytes, nb::arg("target_id"), nb::arg("a"), nb::arg("b"),
             nb::arg("reverse") = false);
    m.def(
        "load_bed_junctions",
        [](nb::handle path, const std::vector<std::string>& names, std::optional<size_t> n_targets) {
            return tessiq::load_bed_junctions(as_path(path, "path", false), name_map(names),
                                              n_targets.value_or(names.size()));
        },
        nb::arg("path"), nb::arg("names"), nb::arg("n_targets") = nb::none());
    m.def(
        "load_spsc_scores",
        [](nb::handle path, const std::vector<std::string>& names, const std::vector<uint64_t>& lengths,
           float scale, int32_t max_score) {
            return tessiq::load_spsc_scores(as_path(path, "path", false), name_map(names), names.size(),
                                            lengths, scale, max_score);
        },
        nb::arg("path"), nb::arg("names"), nb::arg("lengths"), nb::arg("scale") = 0.7f,
        nb::arg("max_score") = 20);
    m.def("get_junc", &get_junc_bytes, nb::arg("db"), nb::arg("target_id"), nb::arg("a"), nb::arg("b"),
          nb::arg("reverse") = false);

    // ---- CIGAR and tag strings ---------------------------------------------
    m.def(
        "convert_cigar_to_eqx",
        [](const std::vector<uint32_t>& packed, nb::handle q, nb::handle t, size_t qs, size_t ts) {
            return ops_to(tessiq::convert_cigar_to_eqx(packed, codes(q, "query"), codes(t, "target"), qs, ts));
        },
        nb::arg("packed"), nb::arg("query"), nb::arg("target"), nb::arg("query_start") = 0,
        nb::arg("target_start") = 0);
    m.def("fmt_cigar", [](const OpList& ops, bool eqx) { return tessiq::fmt_cigar(ops_from(ops), eqx); },
          nb::arg("ops"), nb::arg("eqx"));
    m.def(
        "fmt_cs",
        [](const OpList& ops, nb::handle q, nb::handle t, size_t qs, size_t ts, bool long_form) {
            return tessiq::fmt_cs(ops_from(ops), codes(q, "query"), codes(t, "target"), qs, ts, long_form);
        },
        nb::arg("ops"), nb::arg("query"), nb::arg("target"), nb::arg("query_start") = 0,
        nb::arg("target_start") = 0, nb::arg("long_form") = false);
    m.def(
        "fmt_md",
        [](const OpList& ops, nb::handle t, size_t ts) {
            return tessiq::fmt_md(ops_from(ops), codes(t, "target"), ts);
        },
        nb::arg("ops"), nb::arg("target"), nb::arg("target_start") = 0);
    m.def(
        "fmt_ds",
        [](const OpList& ops, nb::handle q, nb::handle t, size_t qs, size_t ts) {
            return tessiq::fmt_ds(ops_from(ops), codes(q, "query"), codes(t, "target"), qs, ts);
        },
        nb::arg("ops"), nb::arg("query"), nb::arg("target"), nb::arg("query_start") = 0,
        nb::arg("target_start") = 0);
    m.def("cigar_stats", [](const OpList& ops, nb::handle q, nb::handle t) {
        const auto s = tessiq::CigarStats::from_cigar(ops_from(ops), codes(q, "query"), codes(t, "target"));
        nb::dict d;
        d["matches"] = s.matches;
        d["block_len"] = s.block_len;
        d["n_ambiguous"] = s.n_ambiguous;
        d["divergence"] = s.divergence;
        d["edit_distance"] = s.edit_distance;
        d["gap_opens"] = s.gap_opens;
        d["has_intron"] = s.has_intron;
        return d;
    });
    m.def("dp_recalc_info", [](std::string_view text) {
        const auto r = tessiq::DpRecalcInfo::from_cigar_str(text);
        nb::dict d;
        d["indel_log_sum"] = r.indel_log_sum;
        d["match_len"] = r.match_len;
        d["aligned_len"] = r.aligned_len;
        d["n_ambiguous"] = r.n_ambiguous;
        d["indel_len"] = r.indel_len;
        d["indel_count"] = r.indel_count;
        return d;
    });
    m.def(
        "compute_alignment_score_max",
        [](const OpList& ops, const std::vector<int8_t>& matrix, int32_t q, int32_t e, nb::handle qs,
           nb::handle ts, bool log_gaps) {
            if (matrix.size() != 25) raise(PyExc_ValueError, "matrix must have 25 entries");
            return tessiq::compute_alignment_score_max(ops_from(ops), matrix.data(), q, e, codes(qs, "query"),
                                                       codes(ts, "target"), log_gaps);
        },
        nb::arg("ops"), nb::arg("matrix"), nb::arg("gap_open"), nb::arg("gap_extend"), nb::arg("query"),
        nb::arg("target"), nb::arg("log_gaps"));

    // ---- facade helpers ------------------------------------------------------
    m.def("parse_cigar_string", [](std::string_view text) {
        std::vector<std::pair<uint32_t, int>> out;
        for (const auto& el : tessiq::parse_cigar_string(text)) out.emplace_back(el.len, int(el.op));
        return out;
    });
    m.def("encode_nt4", [](nb::handle b) {
        const std::vector<uint8_t> v = tessiq::encode_nt4(as_bytes(b, "bytes"));
        return nb::bytes(reinterpret_cast<const char*>(v.data()), v.size());
    });
}

}  // namespace tessiqpy

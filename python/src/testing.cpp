// tessiqpy._testing: a private module that reaches core internals the public
// API does not expose, so that pytest can check them directly. Not part of
// the public interface; its functions may change with the core.
#include <chrono>

#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <nanobind/stl/optional.h>

#include <chrono>

#include "align/index.h"
#include "align/sketch.h"
#include "align/strobemer.h"
#include "align/syncmer.h"
#include "fasta/gzip.h"
#include "fasta/reader.h"
#include "frame.h"
#include "testing_util.h"
#include "util/thread_pool.h"

namespace tessiqpy {
namespace {

using namespace testing;

// An object whose methods hold the access guard while a Python callback
// runs, so tests can provoke every conflict.
struct GuardProbe : Guarded {};

// ---- index helpers
// Indexes travel as own-format bytes, so tests reach the core index without
// sharing the public class's C++ type across modules.
tessiq::Index index_from(nb::handle data) {
    const std::string_view b = as_bytes(data, "data");
    tessiq::MemoryReader reader(data_of(b), b.size());
    std::optional<tessiq::Index> idx = tessiq::Index::load_part(reader);
    if (!idx) raise(PyExc_ValueError, "fewer than four bytes");
    return std::move(*idx);
}

nb::bytes index_to_bytes(const tessiq::Index& idx) {
    std::vector<uint8_t> buf;
    idx.save_part(buf);
    return nb::bytes(reinterpret_cast<const char*>(buf.data()), buf.size());
}

nb::dict index_dict(const tessiq::Index& idx) {
    nb::dict d;
    d["kmer_size"] = idx.kmer_size;
    d["window_size"] = idx.window_size;
    d["homopolymer_compressed"] = idx.homopolymer_compressed;
    d["index"] = idx.index;
    nb::list seqs;
    for (const auto& t : idx.seqs)
        seqs.append(nb::make_tuple(nb::str(t.name.data(), t.name.size()), t.len, t.offset, t.is_alt));
    d["seqs"] = seqs;
    const auto& bh = idx.lookup();
    d["bucket_bits"] = bh.bucket_bits;
    nb::list buckets;
    for (const auto& b : bh.buckets) {
        nb::dict m;
        b.for_each([&](uint64_t k, uint64_t v) { m[nb::int_(k)] = nb::int_(v); });
        buckets.append(m);
    }
    d["buckets"] = buckets;
    d["positions"] = nb::cast(bh.positions);
    d["packed_seqs"] = nb::cast(idx.packed_seqs);
    return d;
}

}  // namespace
}  // namespace tessiqpy

namespace tessiqpy {
void register_testing_chain(nb::module_& m);
void register_testing_filter(nb::module_& m);
void register_testing_map(nb::module_& m);
void register_testing_fmt(nb::module_& m);
void register_testing_dp(nb::module_& m);
}

NB_MODULE(_testing, m) {
    using namespace tessiqpy;
    nb::set_leak_warnings(false);
    nb::object main = nb::module_::import_("tessiqpy._tessiqpy");
    install_exception_translator(main.attr("FatalError"));

    // ---- sketching -------------------------------------------------------
    m.def("kmer_hash", [](uint64_t key, uint32_t k) { return tessiq::kmer_hash(key, k); });
    m.def(
        "sketch_minimizers",
        [](nb::handle seq, uint64_t w, uint64_t k, uint32_t rid, bool is_hpc) {
            const std::string_view s = as_bytes(seq, "seq");
            std::vector<tessiq::Minimizer> out;
            tessiq::sketch_sequence_impl(data_of(s), s.size(), w, k, rid, is_hpc, out);
            return to_pairs(out);
        },
        nb::arg("seq"), nb::arg("w"), nb::arg("k"), nb::arg("rid") = 0, nb::arg("is_hpc") = false);
    m.def(
        "sketch_syncmers",
        [](nb::handle seq, uint64_t k, uint64_t s, uint32_t rid) {
            const std::string_view b = as_bytes(seq, "seq");
            std::vector<tessiq::Minimizer> out;
            tessiq::SyncmerSketcher(k, s).sketch(data_of(b), b.size(), rid, out);
            return to_pairs(out);
        },
        nb::arg("seq"), nb::arg("k"), nb::arg("s"), nb::arg("rid") = 0);
    m.def(
        "sketch_randstrobes",
        [](nb::handle seq, uint64_t k, uint64_t w_min, uint64_t w_max, uint32_t rid) {
            const std::string_view b = as_bytes(seq, "seq");
            std::vector<tessiq::Minimizer> out;
            tessiq::RandstrobeSketcher(k, w_min, w_max).sketch(data_of(b), b.size(), rid, out);
            return to_pairs(out);
        },
        nb::arg("seq"), nb::arg("k"), nb::arg("w_min"), nb::arg("w_max"), nb::arg("rid") = 0);
    m.def("check_sequence_length", [](uint64_t n) { tessiq::check_sequence_length(n); });
    // Seconds per minimizer sketch of the whole buffer, core only (no Python
    // objects), reusing one output array as the query driver does. The first
    // run warms the array and is not reported.
    m.def("sketch_timings", [](nb::handle seq, uint64_t w, uint64_t k, bool is_hpc,
                               uint64_t repeats) {
        const std::string_view s = as_bytes(seq, "seq");
        std::vector<tessiq::Minimizer> out;
        std::vector<double> seconds;
        {
            nb::gil_scoped_release release;
            for (uint64_t r = 0; r <= repeats; ++r) {
                out.clear();
                const auto t0 = std::chrono::steady_clock::now();
                tessiq::sketch_sequence_impl(data_of(s), s.size(), w, k, 0, is_hpc, out);
                const std::chrono::duration<double> dt = std::chrono::steady_clock::now() - t0;
                if (r > 0) seconds.push_back(dt.count());
            }
        }
        return std::make_pair(out.size(), seconds);
    });

    // ---- argument conversion ---------------------------------------------
    m.def("convert_u64", [](nb::handle v) { return as_u64(v, "value"); });
    m.def("convert_u32", [](nb::handle v) { return as_u32(v, "value"); });
    m.def("convert_path", [](nb::handle p, bool require_utf8) {
        const std::string path = as_path(p, "path", require_utf8);
        return nb::bytes(path.data(), path.size());
    });
    m.def("convert_pairs", [](nb::handle seqs) {
        PairList list = as_pair_list(seqs, "seqs");
        nb::list out;
        for (const auto& [a, b] : list.items)
            out.append(nb::make_tuple(nb::bytes(a.data(), a.size()), nb::bytes(b.data(), b.size())));
        return out;
    });
    m.def("decode_name", [](nb::handle b) { return decode_name(as_bytes(b, "name")); });

    // ---- worker pool -----------------------------------------------------
    m.def("pool_threads", [] { return tessiq::ThreadPool::global().num_threads(); });
    // Squares of 0..n-1 computed on the pool; a task whose index is fail_at
    // raises a fatal error instead.
    m.def(
        "pool_map",
        [](size_t n, int64_t fail_at) {
            nb::gil_scoped_release release;
            return tessiq::ThreadPool::global().parallel_map<uint64_t>(n, [&](size_t i) {
                if (static_cast<int64_t>(i) == fail_at)
                    throw tessiq::FatalError("task " + std::to_string(i) + " failed");
                return uint64_t{i} * i;
            });
        },
        nb::arg("n"), nb::arg("fail_at") = -1);
    // Every outer task starts its own parallel loop: sums of i*j per outer i.
    m.def("pool_nested", [](size_t outer, size_t inner) {
        nb::gil_scoped_release release;
        auto& pool = tessiq::ThreadPool::global();
        return pool.parallel_map<uint64_t>(outer, [&](size_t i) {
            std::vector<uint64_t> parts = pool.parallel_map<uint64_t>(
                inner, [&](size_t j) { return uint64_t{i} * j; });
            uint64_t sum = 0;
            for (uint64_t p : parts) sum += p;
            return sum;
        });
    });
    m.def("pool_for_each", [](std::vector<uint64_t> values) {
        nb::gil_scoped_release release;
        tessiq::ThreadPool::global().for_each(values, [](uint64_t& v) { v += 1; });
        return values;
    });

    // ---- access guard ----------------------------------------------------
    nb::class_<GuardProbe>(m, "GuardProbe")
        .def(nb::init<>())
        .def("read", [](GuardProbe& p, nb::handle callback) {
            SharedHold hold(p.guard);
            return callback.is_none() ? nb::none() : callback();
        }, nb::arg("callback").none())
        .def("write", [](GuardProbe& p, nb::handle callback) {
            ExclusiveHold hold(p.guard);
            return callback.is_none() ? nb::none() : callback();
        }, nb::arg("callback").none());

    register_testing_chain(m);
    register_testing_filter(m);
    register_testing_map(m);
    register_testing_fmt(m);
    register_testing_dp(m);

    // ---- sequence files ----------------------------------------------------
    m.def("trim_newline", [](nb::handle line) { return tessiq::trim_newline(as_bytes(line, "line")); });
    m.def("utf8_lossy", [](nb::handle b) { return tessiq::utf8_lossy(as_bytes(b, "data")); });
    // Which inflater new gzip readers use; force_zlib covers the fallback
    // path on builds that have the faster one.
    m.def("inflater_name", [] { return std::string(tessiq::inflater_name()); });
    m.def("set_force_zlib", [](bool on) { tessiq::set_force_zlib(on); });
    m.def("gunzip", [](nb::handle data) {
        const std::string out = tessiq::gunzip(as_bytes(data, "data"));
        return nb::bytes(out.data(), out.size());
    });

    // ---- index -------------------------------------------------------------
    m.def(
        "index_build",
        [](nb::handle seqs, uint64_t w, uint64_t k, bool is_hpc, uint64_t max_occ) {
            PairList list = as_pair_list(seqs, "seqs");
            std::vector<tessiq::TargetInput> inputs(list.items.size());
            for (size_t i = 0; i < inputs.size(); ++i) {
                inputs[i].name = decode_name(list.items[i].first);
                inputs[i].borrowed = list.items[i].second;
            }
            std::optional<tessiq::Index> idx;
            {
                nb::gil_scoped_release release;
                idx = tessiq::Index::build(std::move(inputs), w, k, is_hpc, max_occ);
            }
            return index_to_bytes(*idx);
        },
        nb::arg("seqs"), nb::arg("w") = 10, nb::arg("k") = 15, nb::arg("is_hpc") = false,
        nb::arg("max_occ") = 50000);
    // Every field of the index in `data` (own or foreign format), or None
    // when fewer than four bytes are given; also the bytes consumed.
    m.def("index_fields", [](nb::handle data) -> nb::object {
        const std::string_view b = as_bytes(data, "data");
        tessiq::MemoryReader reader(data_of(b), b.size());
        std::optional<tessiq::Index> idx = tessiq::Index::load_part(reader);
        if (!idx) return nb::none();
        nb::dict d = index_dict(*idx);
        d["consumed"] = reader.position();
        return d;
    });
    m.def("index_resave", [](nb::handle data) { return index_to_bytes(index_from(data)); });
    m.def("index_memory", [](nb::handle data) { return index_from(data).memory_bytes(); });
    m.def("cal_mid_occ", [](nb::handle data, int32_t lo, int32_t hi, float frac) {
        return index_from(data).cal_mid_occ(lo, hi, frac);
    });
    m.def("occurrence_counts", [](nb::handle data) {
        std::vector<uint32_t> out;
        index_from(data).lookup().occurrence_counts([&](uint32_t c) { out.push_back(c); });
        return out;
    });
    m.def("get_region_nt4", [](nb::handle data, uint32_t rid, uint64_t st, uint64_t en) {
        const std::vector<uint8_t> r = index_from(data).get_region_nt4(rid, st, en);
        return std::vector<int>(r.begin(), r.end());
    });
    m.def("strip_and_save", [](nb::handle data) {
        tessiq::Index idx = index_from(data);
        idx.strip_sequences();
        return index_to_bytes(idx);
    });
    m.def("unpack_nt4", [](std::vector<uint32_t> words, uint64_t start, uint64_t count) {
        std::vector<uint8_t> out(count + 16, 0xEE);
        tessiq::unpack_nt4_into(words, start, out.data(), count);
        // Bytes past `count` must stay untouched.
        for (size_t i = count; i < out.size(); ++i)
            if (out[i] != 0xEE) throw tessiq::FatalError("unpack_nt4_into wrote past count");
        return std::vector<int>(out.begin(), out.begin() + count);
    });
    m.def("lookup", [](nb::handle data, uint64_t hash) {
        tessiq::Index idx = index_from(data);
        const uint64_t* p = nullptr;
        const uint32_t n = idx.lookup().lookup(hash, p);
        return std::vector<uint64_t>(p, p + n);
    });
    // Inserts (key, value) pairs into one Bucket in order, then returns its
    // size, its entries sorted by key and the value found for each probe.
    m.def("bucket_ops", [](std::vector<std::pair<uint64_t, uint64_t>> inserts,
                           std::vector<uint64_t> probes, size_t reserve) {
        tessiq::Bucket b;
        b.reserve(reserve);
        for (const auto& [k, v] : inserts) b.insert(k, v);
        tessiq::Bucket copy = b;  // copies must match too
        std::vector<std::optional<uint64_t>> found;
        for (uint64_t k : probes) {
            uint64_t v = 0, cv = 1;
            const bool hit = b.find(k, v), chit = copy.find(k, cv);
            if (hit != chit || (hit && v != cv)) throw tessiq::FatalError("copied bucket differs");
            found.push_back(hit ? std::optional<uint64_t>(v) : std::nullopt);
        }
        return nb::make_tuple(b.size(), b.sorted_entries(), found);
    }, nb::arg("inserts"), nb::arg("probes"), nb::arg("reserve") = 0);
    // Mean nanoseconds per lookup of `hashes` (repeated), in the core alone.
    m.def("lookup_ns", [](nb::handle data, std::vector<uint64_t> hashes, uint64_t repeats) {
        tessiq::Index idx = index_from(data);
        const auto& bh = idx.lookup();
        uint64_t sink = 0;
        double ns = 0;
        {
        nb::gil_scoped_release release;
        const auto t0 = std::chrono::steady_clock::now();
        for (uint64_t r = 0; r < repeats; ++r)
            for (uint64_t h : hashes) {
                const uint64_t* p = nullptr;
                const uint32_t n = bh.lookup(h, p);
                sink += n ? p[0] + n : 0;
            }
        ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
        }
        return nb::make_tuple(ns / double(hashes.size() * repeats), sink);
    });
}


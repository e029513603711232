// tessiqpy._testing: a private module that reaches core internals the public
// API does not expose, so that pytest can check them directly. Not part of
// the public interface; its functions may change with the core.
#include <chrono>

#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include "align/sketch.h"
#include "align/strobemer.h"
#include "align/syncmer.h"
#include "fasta/gzip.h"
#include "fasta/reader.h"
#include "frame.h"
#include "util/thread_pool.h"

namespace tessiqpy {
namespace {

using Pairs = std::vector<std::pair<uint64_t, uint64_t>>;

Pairs to_pairs(const std::vector<tessiq::Minimizer>& v) {
    Pairs out;
    out.reserve(v.size());
    for (const auto& r : v) out.emplace_back(r.x, r.y);
    return out;
}

const uint8_t* data_of(std::string_view s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// An object whose methods hold the access guard while a Python callback
// runs, so tests can provoke every conflict.
struct GuardProbe : Guarded {};

}  // namespace
}  // namespace tessiqpy

namespace tessiqpy {
void register_testing_chain(nb::module_& m);
void register_testing_filter(nb::module_& m);
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
    // Records and bases of a file, parsed in the core alone (no Python
    // objects), for the throughput benchmark.
    m.def("count_records", [](nb::handle path) {
        auto reader = tessiq::open(as_path(path, "path", false));
        tessiq::Record rec;
        uint64_t n = 0, bases = 0;
        while (reader->read_next(rec)) {
            ++n;
            bases += rec.sequence.size();
        }
        return std::make_pair(n, bases);
    });
}


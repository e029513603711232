// The sketch group: Minimizer and the three stand-alone sketchers.
#include <new>

#include "align/sketch.h"
#include "align/strobemer.h"
#include "align/syncmer.h"
#include "frame.h"

namespace tessiqpy {

namespace {

template <typename Core>
struct PySketcher : Guarded {
    template <typename... Args>
    explicit PySketcher(Args... args) : core(args...) {}
    Core core;
};
using PyMinimizerSketcher = PySketcher<tessiq::MinimizerSketcher>;
using PySyncmerSketcher = PySketcher<tessiq::SyncmerSketcher>;
using PyRandstrobeSketcher = PySketcher<tessiq::RandstrobeSketcher>;

// Sketches the bytes in place (the interpreter lock stays held: the result
// is built as Python objects anyway) and converts every record.
template <typename Core>
nb::list sketch_to_list(const PySketcher<Core>& self, nb::handle seq) {
    SharedHold hold(self.guard);
    const std::string_view bytes = as_bytes(seq, "seq");
    std::vector<tessiq::Minimizer> records;
    self.core.sketch(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0, records);
    // One list of new instances, filled directly: this loop dominates the
    // call for long sequences.
    nb::handle type = nb::type<tessiq::Minimizer>();
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(records.size()));
    if (!list) throw nb::python_error();
    nb::list out = nb::steal<nb::list>(list);
    for (size_t i = 0; i < records.size(); ++i) {
        nb::object item = nb::inst_alloc(type);
        *nb::inst_ptr<tessiq::Minimizer>(item) = records[i];
        nb::inst_mark_ready(item);
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), item.release().ptr());
    }
    return out;
}

constexpr const char* SKETCH_SIG = "def sketch(self, seq: bytes) -> list[Minimizer]";

std::string sketch_doc(const char* what) {
    return std::string("Extract ") + what +
           " from a byte string sequence.\n\n"
           "Args:\n"
           "    seq (bytes): the sequence; bases other than A, C, G, T (any case)\n"
           "        are ambiguous and never part of a reported k-mer.\n\n"
           "Returns:\n"
           "    list[Minimizer]: one record per sketch element, in emission order.";
}

}  // namespace

void register_sketch(nb::module_& m) {
    Group group(m, /*report_failures=*/true);

    group.add("Minimizer", [](nb::module_& m) {
        nb::class_<tessiq::Minimizer>(
            m, "Minimizer",
            "Represents a k-mer sketch (minimizer, syncmer, etc.).\n\n"
            "Attributes:\n"
            "    x (int): the 64-bit word holding the k-mer hash (bits 63..8) and\n"
            "        the span (bits 7..0).\n"
            "    y (int): the 64-bit word holding the sequence id (bits 63..32),\n"
            "        the position (bits 31..1) and the strand (bit 0).")
            .def_ro("x", &tessiq::Minimizer::x, "The hash and span word.")
            .def_ro("y", &tessiq::Minimizer::y, "The sequence id, position and strand word.");
    });

    static const std::string minimizer_doc = signature_doc(
        "MinimizerSketcher(k, w)",
        "A sketcher that extracts minimizers from sequences.\n\n"
        "Minimizers are the lexicographically smallest k-mers (by hash) in a\n"
        "sliding window of size w.\n\n"
        "Args:\n"
        "    k (int): k-mer size, 1..28.\n"
        "    w (int): window size in k-mers, 1..255.\n\n"
        "Both values are checked when a non-empty sequence is sketched.\n\n"
        "Example:\n"
        "    >>> from tessiqpy.sketch import MinimizerSketcher\n"
        "    >>> sketcher = MinimizerSketcher(k=15, w=10)\n"
        "    >>> sketcher.sketch(b\"ACGT\" * 10)[0].x & 0xff\n"
        "    15");
    static const std::string minimizer_sketch_doc = sketch_doc("minimizers");
    group.add("MinimizerSketcher", [](nb::module_& m) {
        nb::class_<PyMinimizerSketcher>(m, "MinimizerSketcher", minimizer_doc.c_str())
            .def(
                "__init__",
                [](PyMinimizerSketcher* self, nb::handle k, nb::handle w) {
                    const uint64_t kv = as_u64(k, "k"), wv = as_u64(w, "w");
                    new (self) PyMinimizerSketcher(wv, kv, false);
                },
                nb::arg("k"), nb::arg("w"), nb::sig("def __init__(self, k: int, w: int) -> None"))
            .def("sketch", &sketch_to_list<tessiq::MinimizerSketcher>, nb::arg("seq"),
                 nb::sig(SKETCH_SIG), minimizer_sketch_doc.c_str());
    });

    static const std::string syncmer_doc = signature_doc(
        "SyncmerSketcher(k, s)",
        "A sketcher that extracts syncmers from sequences.\n\n"
        "Syncmers are k-mers whose smallest s-mer lies at either end; they give\n"
        "a more evenly spaced sampling than minimizers.\n\n"
        "Args:\n"
        "    k (int): k-mer size, 1..28.\n"
        "    s (int): s-mer size, 1..k-1.\n\n"
        "Raises:\n"
        "    FatalError: k or s out of range.\n\n"
        "Example:\n"
        "    >>> from tessiqpy.sketch import SyncmerSketcher\n"
        "    >>> sketcher = SyncmerSketcher(k=15, s=5)\n"
        "    >>> records = sketcher.sketch(b\"ACGTTGCAACGGATCCAGTTACGA\")");
    static const std::string syncmer_sketch_doc = sketch_doc("syncmers");
    group.add("SyncmerSketcher", [](nb::module_& m) {
        nb::class_<PySyncmerSketcher>(m, "SyncmerSketcher", syncmer_doc.c_str())
            .def(
                "__init__",
                [](PySyncmerSketcher* self, nb::handle k, nb::handle s) {
                    const uint64_t kv = as_u64(k, "k"), sv = as_u64(s, "s");
                    new (self) PySyncmerSketcher(kv, sv);
                },
                nb::arg("k"), nb::arg("s"), nb::sig("def __init__(self, k: int, s: int) -> None"))
            .def("sketch", &sketch_to_list<tessiq::SyncmerSketcher>, nb::arg("seq"),
                 nb::sig(SKETCH_SIG), syncmer_sketch_doc.c_str());
    });

    static const std::string randstrobe_doc = signature_doc(
        "RandstrobeSketcher(k, w_min, w_max)",
        "A sketcher that extracts randstrobes from sequences.\n\n"
        "Randstrobes pair each k-mer with a second k-mer chosen pseudo-randomly\n"
        "from a window downstream; such combinations give more resilient matching.\n\n"
        "Args:\n"
        "    k (int): strobe size, 1..14.\n"
        "    w_min (int): nearest start of the second strobe, at least k.\n"
        "    w_max (int): farthest start of the second strobe, at least w_min.\n\n"
        "Raises:\n"
        "    FatalError: a parameter out of range.\n\n"
        "Example:\n"
        "    >>> from tessiqpy.sketch import RandstrobeSketcher\n"
        "    >>> sketcher = RandstrobeSketcher(k=12, w_min=15, w_max=30)\n"
        "    >>> records = sketcher.sketch(b\"ACGTTGCAACGGATCCAGTTACGA\" * 4)");
    static const std::string randstrobe_sketch_doc = sketch_doc("randstrobes");
    group.add("RandstrobeSketcher", [](nb::module_& m) {
        nb::class_<PyRandstrobeSketcher>(m, "RandstrobeSketcher", randstrobe_doc.c_str())
            .def(
                "__init__",
                [](PyRandstrobeSketcher* self, nb::handle k, nb::handle w_min, nb::handle w_max) {
                    const uint64_t kv = as_u64(k, "k"), lo = as_u64(w_min, "w_min"),
                                   hi = as_u64(w_max, "w_max");
                    new (self) PyRandstrobeSketcher(kv, lo, hi);
                },
                nb::arg("k"), nb::arg("w_min"), nb::arg("w_max"),
                nb::sig("def __init__(self, k: int, w_min: int, w_max: int) -> None"))
            .def("sketch", &sketch_to_list<tessiq::RandstrobeSketcher>, nb::arg("seq"),
                 nb::sig(SKETCH_SIG), randstrobe_sketch_doc.c_str());
    });
}

}  // namespace tessiqpy

// The Python Index class: build, load, save, base read-back and parameters.
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include "align/index.h"
#include "align/py_index.h"
#include "frame.h"

namespace tessiqpy {

namespace {

constexpr char BASE_CHARS[] = "ACGTN";

// No text signature: instances come only from build and load.
const std::string CLASS_DOC = std::string(
    "The Index object represents a genomic sequence index.\n\n"
    "It holds the internal index used for alignment: the target names and\n"
    "lengths, their bases packed at four bits each, and the minimizer seed\n"
    "table. It can be constructed from a collection of sequences or loaded\n"
    "from a previously saved file (the library's own format, or a foreign\n"
    "index file starting with the bytes MMI\\x02).\n\n"
    "Example:\n"
    "    >>> from tessiqpy import Index\n"
    "    >>> index = Index.build([(b\"target1\", b\"ATGCATGCAAGGTTCCATGCAGGTAC\")])\n"
    "    >>> index.seq_names\n"
    "    ['target1']\n"
    "    >>> import os, tempfile\n"
    "    >>> path = os.path.join(tempfile.mkdtemp(), \"my_index.tmi\")\n"
    "    >>> index.save(path)\n"
    "    >>> Index.load(path).seq(\"target1\", 0, 4)\n"
    "    'ATGC'");

constexpr const char* BUILD_DOC =
    "Build an index from target sequences.\n\n"
    "The work runs on the shared worker pool with the interpreter lock\n"
    "released.\n\n"
    "Args:\n"
    "    seqs (list[tuple[bytes, bytes]]): (name, sequence) pairs; target ids\n"
    "        follow list order. Names that are not UTF-8 are decoded with\n"
    "        replacement characters.\n"
    "    w (int): Window size. Defaults to 10.\n"
    "    k (int): K-mer size. Defaults to 15.\n"
    "    is_hpc (bool): Homopolymer compressed. Defaults to False.\n"
    "    max_occ (int): Maximum occurrences. Defaults to 50000. Minimizers that\n"
    "        occur more often are left out of the index.\n\n"
    "Returns:\n"
    "    Index: the new index.\n\n"
    "Raises:\n"
    "    ValueError: a sequence of 2^31 bases or more.\n"
    "    FatalError: w outside 1..255 or k outside 1..28.\n\n"
    "Example:\n"
    "    >>> from tessiqpy import Index\n"
    "    >>> Index.build([(b\"t\", b\"ACGTTGCAAC\")], w=5, k=5).kmer_size\n"
    "    5";

constexpr const char* LOAD_DOC =
    "Load an index from file.\n\n"
    "Args:\n"
    "    path (str | os.PathLike): the index file, in the library's own format\n"
    "        or a foreign index file.\n\n"
    "Returns:\n"
    "    Index: the loaded index.\n\n"
    "Raises:\n"
    "    OSError: the file cannot be read, is empty, or is corrupt.\n"
    "    ValueError: the path is not valid UTF-8.";

constexpr const char* SAVE_DOC =
    "Save the index to a file.\n\n"
    "Args:\n"
    "    path (str | os.PathLike): the file to create or overwrite.\n\n"
    "Raises:\n"
    "    OSError: the file cannot be created or written.\n"
    "    ValueError: the path is not valid UTF-8.";

constexpr const char* SEQ_DOC =
    "Returns the sequence for a given target name.\n\n"
    "Args:\n"
    "    name (str): the target name; the first target with it is read.\n"
    "    start (int | None): 0-based start. Defaults to 0.\n"
    "    end (int | None): 0-based end, exclusive. Defaults to the end of the\n"
    "        sequence; larger values are clamped to it.\n\n"
    "Returns:\n"
    "    str: the bases in upper case, with N for every base other than\n"
    "    A, C, G and T; empty when start >= end.\n\n"
    "Raises:\n"
    "    ValueError: the name is not found, or the sequences were stripped.";

constexpr const char* STRIP_DOC =
    "Strip sequences from the index to save memory.\n\n"
    "Useful when only mapping without base-level alignment is needed: names,\n"
    "lengths and the seed table stay, `seq` no longer works.";

PyIndex* index_build(nb::handle seqs, nb::handle w, nb::handle k, nb::handle is_hpc,
                     nb::handle max_occ) {
    PairList list = as_pair_list(seqs, "seqs");
    const uint64_t wv = as_u64(w, "w"), kv = as_u64(k, "k"), mo = as_u64(max_occ, "max_occ");
    const bool hpc = as_bool(is_hpc, "is_hpc");
    std::vector<tessiq::TargetInput> inputs(list.items.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        inputs[i].name = decode_name(list.items[i].first);
        // Borrowed: `list` keeps the bytes objects alive during the build.
        inputs[i].borrowed = list.items[i].second;
    }
    std::optional<tessiq::Index> built;
    {
        nb::gil_scoped_release release;
        built = tessiq::Index::build(std::move(inputs), wv, kv, hpc, mo);
    }
    return new PyIndex(std::move(*built));
}

PyIndex* index_load(nb::handle path) {
    const std::string p = as_path(path, "path", /*require_utf8=*/true);
    std::optional<tessiq::Index> loaded;
    {
        nb::gil_scoped_release release;
        loaded = tessiq::Index::load(p);
    }
    return new PyIndex(std::move(*loaded));
}

void index_save(const PyIndex& self, nb::handle path) {
    const std::string p = as_path(path, "path", /*require_utf8=*/true);
    SharedHold hold(self.guard);
    nb::gil_scoped_release release;
    self.core.save(p);
}

nb::str index_seq(const PyIndex& self, nb::handle name, nb::handle start, nb::handle end) {
    SharedHold hold(self.guard);
    const std::string n = as_str(name, "name");
    const bool has_start = !start.is_none(), has_end = !end.is_none();
    const uint64_t sv = has_start ? as_u64(start, "start") : 0;
    const uint64_t ev = has_end ? as_u64(end, "end") : 0;
    const std::optional<uint32_t> rid = self.core.find_target(n);
    if (!rid) raise(PyExc_ValueError, "Sequence not found: " + n);
    const uint64_t len = self.core.seqs[*rid].len;
    const uint64_t s = has_start ? std::min(sv, len) : 0;
    const uint64_t e = (has_end && ev <= len) ? ev : len;
    if (!self.core.has_sequences())
        raise(PyExc_ValueError, "Sequences were stripped from the index: cannot read bases of '" +
                                    n + "'");
    if (s >= e) return nb::str("");
    std::vector<uint8_t> codes = self.core.get_region_nt4(*rid, s, e);
    for (uint8_t& c : codes) c = static_cast<uint8_t>(BASE_CHARS[c < 4 ? c : 4]);
    return nb::str(reinterpret_cast<const char*>(codes.data()), codes.size());
}

}  // namespace

void add_index_class(Group& group) {
    group.add("Index", [](nb::module_& m) {
        nb::class_<PyIndex>(m, "Index", CLASS_DOC.c_str())
            .def_static("build", &index_build, nb::arg("seqs"), nb::arg("w") = nb::int_(10),
                        nb::arg("k") = nb::int_(15), nb::arg("is_hpc") = nb::bool_(false),
                        nb::arg("max_occ") = nb::int_(50000),
                        nb::sig("def build(seqs: list[tuple[bytes, bytes]], w: int = 10, k: int = 15, "
                                "is_hpc: bool = False, max_occ: int = 50000) -> Index"),
                        nb::rv_policy::take_ownership, BUILD_DOC)
            .def_static("load", &index_load, nb::arg("path"),
                        nb::sig("def load(path: str | os.PathLike[str]) -> Index"),
                        nb::rv_policy::take_ownership, LOAD_DOC)
            .def("save", &index_save, nb::arg("path"),
                 nb::sig("def save(self, path: str | os.PathLike[str]) -> None"), SAVE_DOC)
            .def("seq", &index_seq, nb::arg("name"), nb::arg("start").none() = nb::none(),
                 nb::arg("end").none() = nb::none(),
                 nb::sig("def seq(self, name: str, start: int | None = None, "
                         "end: int | None = None) -> str"),
                 SEQ_DOC)
            .def(
                "strip_sequences",
                [](PyIndex& self) {
                    ExclusiveHold hold(self.guard);
                    self.core.strip_sequences();
                },
                nb::sig("def strip_sequences(self) -> None"), STRIP_DOC)
            .def_prop_ro(
                "seq_names",
                [](const PyIndex& self) {
                    SharedHold hold(self.guard);
                    nb::list out;
                    for (const auto& t : self.core.seqs)
                        out.append(nb::str(t.name.data(), t.name.size()));
                    return out;
                },
                nb::sig("def seq_names(self) -> list[str]"),
                "Returns the sequence names in the index, in target-id order.")
            .def_prop_ro(
                "kmer_size",
                [](const PyIndex& self) {
                    SharedHold hold(self.guard);
                    return self.core.kmer_size;
                },
                nb::sig("def kmer_size(self) -> int"), "The k-mer size of the index's minimizers.")
            .def_prop_ro(
                "window_size",
                [](const PyIndex& self) {
                    SharedHold hold(self.guard);
                    return self.core.window_size;
                },
                nb::sig("def window_size(self) -> int"),
                "The window size of the index's minimizers.")
            .def_prop_ro(
                "homopolymer_compressed",
                [](const PyIndex& self) {
                    SharedHold hold(self.guard);
                    return self.core.homopolymer_compressed;
                },
                nb::sig("def homopolymer_compressed(self) -> bool"),
                "Whether targets were sketched with homopolymer compression.");
    });
}

}  // namespace tessiqpy

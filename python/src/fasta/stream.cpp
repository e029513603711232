// FastaStreamer and FastqStreamer: chunk-fed parsers.
#include <new>

#include "fasta/record.h"
#include "fasta/stream.h"

namespace tessiqpy {

namespace {

template <typename Core>
struct PyStreamer : Guarded {
    explicit PyStreamer(bool rna_to_dna) : core(rna_to_dna) {}
    Core core;
};

template <typename Core>
void bind_streamer(nb::module_& m, const char* name, const char* doc, const char* push_doc,
                   const char* finalize_doc) {
    using Py = PyStreamer<Core>;
    nb::class_<Py>(m, name, doc)
        .def(
            "__init__",
            [](Py* self, nb::handle rna_to_dna) {
                new (self) Py(as_bool(rna_to_dna, "rna_to_dna"));
            },
            nb::arg("rna_to_dna") = nb::bool_(true),
            nb::sig("def __init__(self, rna_to_dna: bool = True) -> None"))
        .def(
            "push",
            [](Py& self, nb::handle chunk) {
                const std::string_view bytes = as_bytes(chunk, "chunk");
                ExclusiveHold hold(self.guard);
                self.core.push(bytes);
            },
            nb::arg("chunk"), nb::sig("def push(self, chunk: bytes) -> None"), push_doc)
        .def(
            "next_record",
            [](Py& self) -> nb::object {
                ExclusiveHold hold(self.guard);
                auto rec = self.core.next_record();
                return rec ? pair_to_python(*rec) : nb::none();
            },
            nb::sig("def next_record(self) -> tuple[str, bytes] | None"),
            "Pop a completed record from the internal queue.\n\n"
            "Returns:\n"
            "    tuple[str, bytes] | None: the oldest completed (name, sequence)\n"
            "    pair, or None when the queue is empty.")
        .def(
            "finalize",
            [](Py& self) {
                ExclusiveHold hold(self.guard);
                self.core.finalize();
            },
            nb::sig("def finalize(self) -> None"), finalize_doc);
}

}  // namespace

void add_streamers(Group& group) {
    static const std::string fasta_doc = signature_doc(
        "FastaStreamer(rna_to_dna=True)",
        "Streaming FASTA parser. Push bytes via `push`; pop completed\n"
        "`(name, seq)` pairs via `next_record`; flush the\n"
        "in-flight record (if any) at end-of-input via `finalize`.\n\n"
        "Chunks may be cut anywhere, even inside a line or between \"\\r\" and\n"
        "\"\\n\": the records do not depend on the cuts. Names end at the first\n"
        "whitespace; whitespace inside sequence lines is dropped.\n\n"
        "Args:\n"
        "    rna_to_dna (bool): write U as T and u as t (default True).\n\n"
        "Example:\n"
        "    >>> from tessiqpy import FastaStreamer\n"
        "    >>> s = FastaStreamer()\n"
        "    >>> s.push(b\">r1 x\\nAC\")\n"
        "    >>> s.push(b\"GU\\n\")\n"
        "    >>> s.finalize()\n"
        "    >>> s.next_record()\n"
        "    ('r1', b'ACGT')");
    group.add("FastaStreamer", [](nb::module_& m) {
        bind_streamer<tessiq::FastaStreamer>(
            m, "FastaStreamer", fasta_doc.c_str(),
            "Feed a chunk of bytes.\n\n"
            "Records that complete inside this chunk are queued for `next_record`.\n\n"
            "Args:\n"
            "    chunk (bytes): the next piece of the input.",
            "Flush the trailing partial line + the in-flight record.\n\n"
            "Call once after the last `push`; the flushed record, if any, is\n"
            "appended to the queue, to be drained with `next_record`.");
    });

    static const std::string fastq_doc = signature_doc(
        "FastqStreamer(rna_to_dna=True)",
        "Streaming FASTQ parser. 4-line records: `@name`, sequence, `+`, quality.\n\n"
        "Quality scores are consumed and discarded; only `(name, seq)` is yielded.\n"
        "A record is queued once its quality is as long as its sequence (the\n"
        "quality may span several lines). Chunks may be cut anywhere.\n\n"
        "Args:\n"
        "    rna_to_dna (bool): write U as T and u as t (default True).\n\n"
        "Example:\n"
        "    >>> from tessiqpy import FastqStreamer\n"
        "    >>> s = FastqStreamer()\n"
        "    >>> s.push(b\"@r1\\nACGU\\n+\\nII\")\n"
        "    >>> s.push(b\"II\\n\")\n"
        "    >>> s.next_record()\n"
        "    ('r1', b'ACGT')");
    group.add("FastqStreamer", [](nb::module_& m) {
        bind_streamer<tessiq::FastqStreamer>(
            m, "FastqStreamer", fastq_doc.c_str(),
            "Feed a chunk of bytes.\n\n"
            "Args:\n"
            "    chunk (bytes): the next piece of the input.",
            "Flush the trailing partial line + the in-flight record.\n\n"
            "A record whose separator or quality is missing or short is queued\n"
            "anyway; a header without its sequence line is not.");
    });
}

}  // namespace tessiqpy

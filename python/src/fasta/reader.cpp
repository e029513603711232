// FastxReader and the whole-file FASTA functions.
#include <memory>
#include <new>
#include <thread>

#include "fasta/reader.h"
#include "fasta/record.h"

namespace tessiqpy {

namespace {

struct PyFastxReader : Guarded {
    std::unique_ptr<tessiq::Reader> reader;
    // The reader is bound to the thread that made it.
    std::thread::id owner = std::this_thread::get_id();

    void check_thread() const {
        if (std::this_thread::get_id() != owner)
            throw tessiq::FatalError(
                "tessiqpy::fasta::PyFastxReader is unsendable, but sent to another thread");
    }
};

// The next Record, or an invalid object at the end of input.
nb::object next_or_end(PyFastxReader& self) {
    self.check_thread();
    ExclusiveHold hold(self.guard);
    tessiq::RecordView rec;
    try {
        if (!self.reader->read_next_view(rec)) return nb::object();
    } catch (const tessiq::FastxError& e) {
        // An empty input is simply no records; anything else that fails must
        // not pass for the end of the file.
        if (e.variant() == tessiq::FastxError::Variant::UnknownFormat && e.input_empty())
            return nb::object();
        throw;
    }
    return record_to_python(rec);
}

nb::object next_record(PyFastxReader& self) {
    nb::object rec = next_or_end(self);
    if (!rec.is_valid()) throw nb::stop_iteration();
    return rec;
}

// The fatal-error class of the module, for the raw iteration slot below.
PyObject* fatal_error_type = nullptr;

// tp_iternext called directly by the interpreter's for loop: the per-record
// cost of a bound __next__ (attribute lookup, argument dispatch) is too high
// for short reads. Exceptions are converted here as the binding layer would.
PyObject* reader_iternext(PyObject* self) noexcept {
    if (!nb::inst_ready(self)) {  // made by __new__ without __init__
        PyErr_SetString(PyExc_TypeError, "FastxReader instance is not initialized");
        return nullptr;
    }
    try {
        // Null without an exception set: the iteration simply ends.
        return next_or_end(*nb::inst_ptr<PyFastxReader>(self)).release().ptr();
    } catch (nb::python_error& e) {
        e.restore();
    } catch (const tessiq::FatalError& e) {
        PyErr_SetString(fatal_error_type, e.what());
    } catch (const tessiq::Error& e) {
        PyErr_SetString(e.kind() == tessiq::ErrorKind::Io ? PyExc_OSError : PyExc_ValueError,
                        e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

nb::tuple read_batch(PyFastxReader& self, nb::handle batch_size) {
    self.check_thread();
    const uint64_t limit = as_u64(batch_size, "batch_size");
    ExclusiveHold hold(self.guard);
    nb::list seqs;
    bool eof = false;
    try {
        eof = self.reader->read_batch(limit, [&](const tessiq::RecordView& rec) {
            seqs.append(pair_to_python(rec.name, rec.sequence));
        });
    } catch (const tessiq::FastxError& e) {
        raise(PyExc_ValueError, e.what());
    }
    return nb::make_tuple(seqs, nb::bool_(eof));
}

}  // namespace

void add_reader(Group& group) {
    static const std::string doc = signature_doc(
        "FastxReader(path)",
        "A reader for parsing FASTA/FASTQ files.\n\n"
        "Parses uncompressed or gzip-compressed FASTA/FASTQ files and acts as a\n"
        "Python iterator yielding sequence records. The format is taken from the\n"
        "first byte ('>' FASTA, '@' FASTQ); gzip data is recognised by its magic\n"
        "bytes, and every member of a multi-member gzip file is read. The path\n"
        "\"-\" reads standard input (not decompressed).\n\n"
        "Iteration raises OSError when reading or decompressing fails and\n"
        "ValueError when a non-empty input is neither FASTA nor FASTQ; an empty\n"
        "file yields no records. A FASTQ record cut short at the end of the file\n"
        "is dropped. A reader may only be used by the thread that created it.\n\n"
        "Example:\n"
        "    >>> from tessiqpy import FastxReader\n"
        "    >>> for record in FastxReader(\"test.fa\"):  # doctest: +SKIP\n"
        "    ...     print(record.name, len(record.sequence))");
    group.add("FastxReader", [](nb::module_& m) {
        fatal_error_type = nb::getattr(m, "FatalError").inc_ref().ptr();  // held for the process
        nb::class_<PyFastxReader> cls(m, "FastxReader", doc.c_str());
        cls
            .def(
                "__init__",
                [](PyFastxReader* self, nb::handle path) {
                    const std::string p = as_path(path, "path", /*require_utf8=*/false);
                    auto reader = tessiq::open(p);
                    new (self) PyFastxReader();
                    self->reader = std::move(reader);
                },
                nb::arg("path"), nb::sig("def __init__(self, path: str | os.PathLike[str]) -> None"),
                "Open a FASTA/FASTQ file for reading.\n\n"
                "Args:\n"
                "    path (str | os.PathLike): the file; supports .gz compression.\n\n"
                "Raises:\n"
                "    IOError: if the file cannot be opened.")
            .def(
                "__iter__",
                [](nb::handle self) {
                    nb::cast<PyFastxReader&>(self).check_thread();
                    return nb::borrow(self);
                },
                nb::sig("def __iter__(self) -> FastxReader"))
            .def("__next__", &next_record, nb::sig("def __next__(self) -> Record"),
                 "Return the next sequence record.")
            .def("read_batch", &read_batch, nb::arg("batch_size"),
                 nb::sig("def read_batch(self, batch_size: int) -> "
                         "tuple[list[tuple[str, bytes]], bool]"),
                 "Read sequences until cumulative bases exceed batch_size.\n\n"
                 "Args:\n"
                 "    batch_size (int): the number of bases after which the batch\n"
                 "        ends; the record that exceeds it is the last one.\n\n"
                 "Returns:\n"
                 "    tuple[list[tuple[str, bytes]], bool]: (seqs, is_eof). Caller can\n"
                 "    call again for the next batch. is_eof is True only when the\n"
                 "    input ended.\n\n"
                 "Raises:\n"
                 "    ValueError: the input is not FASTA/FASTQ (also when empty), or\n"
                 "        reading it failed.");
        // Defining __next__ above made the interpreter route iteration
        // through a method lookup; point the slot at the direct version.
        auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
        type->tp_iternext = reader_iternext;
        PyType_Modified(type);
    });
}

void add_fasta_functions(Group& group) {
    group.add("read_fasta", [](nb::module_& m) {
        m.def(
            "read_fasta",
            [](nb::handle path) {
                const std::string p = as_path(path, "path", /*require_utf8=*/false);
                return pairs_to_python(tessiq::read_fasta(p));
            },
            nb::arg("path"),
            nb::sig("def read_fasta(path: str | os.PathLike[str]) -> list[tuple[str, bytes]]"),
            "Read all sequences from a FASTA file into memory.\n\n"
            "Names end at the first space or tab; sequences are upper-cased;\n"
            "records without a name are dropped. A gzip-compressed file is\n"
            "decompressed.\n\n"
            "Args:\n"
            "    path (str | os.PathLike): the FASTA file.\n\n"
            "Returns:\n"
            "    list[tuple[str, bytes]]: Returns a list of (name, sequence) pairs.\n\n"
            "Raises:\n"
            "    OSError: the file cannot be read.");
    });
    group.add("parse_fasta_bytes", [](nb::module_& m) {
        m.def(
            "parse_fasta_bytes",
            [](nb::handle data) { return pairs_to_python(tessiq::parse_fasta_bytes(as_bytes(data, "data"))); },
            nb::arg("data"),
            nb::sig("def parse_fasta_bytes(data: bytes) -> list[tuple[str, bytes]]"),
            "Parse FASTA held in memory (memory-mapped or ordinary buffers).\n\n"
            "Names end at the first space or tab; sequences are upper-cased;\n"
            "records without a name are dropped. Never fails on content.\n\n"
            "Args:\n"
            "    data (bytes): the FASTA text.\n\n"
            "Returns:\n"
            "    list[tuple[str, bytes]]: Returns a list of (name, sequence) pairs.\n\n"
            "Example:\n"
            "    >>> from tessiqpy import parse_fasta_bytes\n"
            "    >>> parse_fasta_bytes(b\">chr1 test\\nacgt\\n\")\n"
            "    [('chr1', b'ACGT')]");
    });
}

}  // namespace tessiqpy

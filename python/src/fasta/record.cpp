// Record: one sequence record of a FASTA or FASTQ file.
#include "fasta/record.h"

#include <new>

namespace tessiqpy {

namespace {

nb::str text(std::string_view s) {
    PyObject* o = PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    if (!o) throw nb::python_error();
    return nb::steal<nb::str>(o);
}

nb::bytes bytes(std::string_view s) {
    PyObject* o = PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    if (!o) throw nb::python_error();
    return nb::steal<nb::bytes>(o);
}

// bytes, or any other object that yields a byte array: a buffer such as
// bytearray, or a sequence of ints 0..255. A str is refused.
nb::bytes as_byte_array(nb::handle obj, const char* arg) {
    PyObject* o = obj.ptr();
    if (PyBytes_Check(o)) return nb::borrow<nb::bytes>(obj);
    const std::string prefix = std::string("argument '") + arg + "': ";
    if (PyUnicode_Check(o)) raise(PyExc_TypeError, prefix + "a str cannot be taken as bytes");
    if (!PySequence_Check(o))
        raise(PyExc_TypeError, prefix + "expected bytes or a sequence of ints, got " +
                                   Py_TYPE(o)->tp_name);
    nb::object list = nb::steal(PySequence_Fast(o, "expected a sequence of ints"));
    if (!list.is_valid()) throw nb::python_error();
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(list.ptr());
    std::string out(static_cast<size_t>(n), '\0');
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(list.ptr(), i);
        if (!PyLong_Check(item))
            raise(PyExc_TypeError, prefix + "expected a sequence of ints, got an element of type " +
                                       Py_TYPE(item)->tp_name);
        const long v = PyLong_AsLong(item);
        if (v == -1 && PyErr_Occurred()) throw nb::python_error();
        if (v < 0 || v > 255) raise(PyExc_OverflowError, prefix + "byte values must be in 0..255");
        out[static_cast<size_t>(i)] = static_cast<char>(v);
    }
    return bytes(out);
}

nb::object optional_str(nb::handle obj, const char* arg) {
    if (obj.is_none()) return nb::none();
    if (!PyUnicode_Check(obj.ptr())) as_str(obj, arg);  // raises TypeError
    return nb::borrow(obj);
}

}  // namespace

nb::object record_to_python(const tessiq::RecordView& rec) {
    nb::str name = text(rec.name);
    nb::object description = rec.description ? nb::object(text(*rec.description)) : nb::none();
    nb::bytes sequence = bytes(rec.sequence);
    nb::object quality = rec.quality ? nb::object(bytes(*rec.quality)) : nb::none();
    // Built in place: one allocation per record, no intermediate copy.
    static const nb::handle type = nb::type<PyRecord>();  // lives as long as the module
    nb::object obj = nb::inst_alloc(type);
    new (nb::inst_ptr<PyRecord>(obj))
        PyRecord(std::move(name), std::move(description), std::move(sequence), std::move(quality));
    nb::inst_mark_ready(obj);
    return obj;
}

nb::object pair_to_python(std::string_view name, std::string_view sequence) {
    PyObject* t = PyTuple_New(2);
    if (!t) throw nb::python_error();
    nb::object tuple = nb::steal(t);
    PyTuple_SET_ITEM(t, 0, text(name).release().ptr());
    PyTuple_SET_ITEM(t, 1, bytes(sequence).release().ptr());
    return tuple;
}

nb::list pairs_to_python(const std::vector<tessiq::NamedSequence>& pairs) {
    PyObject* l = PyList_New(static_cast<Py_ssize_t>(pairs.size()));
    if (!l) throw nb::python_error();
    nb::list list = nb::steal<nb::list>(l);
    for (size_t i = 0; i < pairs.size(); ++i)
        PyList_SET_ITEM(l, static_cast<Py_ssize_t>(i), pair_to_python(pairs[i]).release().ptr());
    return list;
}

namespace {

// Plain getset descriptors: reading a field is the hot path of iteration, and
// these skip the argument dispatch of bound methods. They bypass nanobind's
// checks, so an instance made by __new__ alone is refused here.
template <nb::object PyRecord::*Field>
PyObject* get_field(PyObject* self, void*) {
    if (!nb::inst_ready(self)) {
        PyErr_SetString(PyExc_TypeError, "Record instance is not initialized");
        return nullptr;
    }
    return Py_NewRef((nb::inst_ptr<PyRecord>(self)->*Field).ptr());
}
PyObject* get_name(PyObject* self, void*) {
    if (!nb::inst_ready(self)) {
        PyErr_SetString(PyExc_TypeError, "Record instance is not initialized");
        return nullptr;
    }
    return Py_NewRef(nb::inst_ptr<PyRecord>(self)->name.ptr());
}
PyObject* get_sequence(PyObject* self, void*) {
    if (!nb::inst_ready(self)) {
        PyErr_SetString(PyExc_TypeError, "Record instance is not initialized");
        return nullptr;
    }
    return Py_NewRef(nb::inst_ptr<PyRecord>(self)->sequence.ptr());
}
PyObject* get_description(PyObject* self, void* c) {
    return get_field<&PyRecord::description>(self, c);
}
PyObject* get_quality(PyObject* self, void* c) { return get_field<&PyRecord::quality>(self, c); }

PyGetSetDef record_getset[] = {
    {"name", get_name, nullptr, "str: The header text up to the first whitespace character.",
     nullptr},
    {"description", get_description, nullptr,
     "str | None: The header text after that character, or None.", nullptr},
    {"sequence", get_sequence, nullptr, "bytes: The sequence.", nullptr},
    {"quality", get_quality, nullptr, "bytes | None: The quality line, or None for FASTA.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot record_slots[] = {
    {Py_tp_getset, record_getset},
    {0, nullptr},
};

}  // namespace

void add_record(Group& group) {
    static const std::string doc = signature_doc(
        "Record(name, description, sequence, quality=None)",
        "A sequence record from a FASTA or FASTQ file.\n\n"
        "Args:\n"
        "    name (str): the header text up to the first whitespace character.\n"
        "    description (str | None): the rest of the header after that\n"
        "        character, or None when the header has no whitespace.\n"
        "    sequence (bytes): the sequence; a bytes-like object or a sequence of\n"
        "        ints 0..255 is accepted too (a str is not).\n"
        "    quality (bytes | None): the FASTQ quality line; None for FASTA.\n\n"
        "Example:\n"
        "    >>> from tessiqpy import Record\n"
        "    >>> Record(\"read1\", None, b\"ACGT\")\n"
        "    <Record: read1>");
    group.add("Record", [](nb::module_& m) {
        nb::class_<PyRecord>(m, "Record", doc.c_str(), nb::type_slots(record_slots))
            .def(
                "__init__",
                [](PyRecord* self, nb::handle name, nb::handle description, nb::handle sequence,
                   nb::handle quality) {
                    if (!PyUnicode_Check(name.ptr())) as_str(name, "name");  // raises TypeError
                    nb::object desc = optional_str(description, "description");
                    nb::bytes seq = as_byte_array(sequence, "sequence");
                    nb::object qual = quality.is_none()
                                          ? nb::none()
                                          : nb::object(as_byte_array(quality, "quality"));
                    new (self) PyRecord(nb::borrow<nb::str>(name), std::move(desc),
                                        std::move(seq), std::move(qual));
                },
                nb::arg("name").none(), nb::arg("description").none(), nb::arg("sequence").none(),
                nb::arg("quality").none() = nb::none(),
                nb::sig("def __init__(self, name: str, description: str | None, "
                        "sequence: bytes, quality: bytes | None = None) -> None"))
            .def("__repr__", [](const PyRecord& r) {
                return nb::str("<Record: {}>").format(r.name);
            });
    });
}

}  // namespace tessiqpy

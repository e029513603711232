// Record: one sequence record of a FASTA or FASTQ file.
#include "fasta/record.h"

#include <cstddef>
#include <cstring>
#include <new>

namespace tessiqpy {

namespace {

enum Field { NAME, DESCRIPTION, SEQUENCE, QUALITY, FIELD_COUNT };

// A plain CPython object, not a bound class: iteration makes one per record,
// and for short reads the allocation and the field objects are most of the
// cost. A record read from a file keeps a copy of its bytes and makes each
// field object only when it is first read (most loops never look at the
// description or the quality); a record built from Python holds the given
// objects. It refers to nothing but str and bytes objects, so it cannot take
// part in a reference cycle and is not tracked by the GC.
struct RecordObject {
    PyObject_HEAD
    PyObject* fields[FIELD_COUNT];    // made on first read; None when absent
    Py_ssize_t lengths[FIELD_COUNT];  // of the fields in `text`; -1 absent
    char* text;                       // the fields' bytes, in field order
    size_t capacity;                  // of `text`
    bool ready;                       // false for an instance made by __new__ alone
};

PyTypeObject* record_type = nullptr;  // held for the process

// Freed records of the exact type, kept with their text buffers: a loop over
// a reader drops one record per record it gets, so in the steady state
// neither the object nor its buffer is allocated.
constexpr int FREE_LIST_SIZE = 16;
constexpr size_t KEPT_CAPACITY = size_t{1} << 16;  // larger buffers are released
PyObject* free_list[FREE_LIST_SIZE];
int free_count = 0;

RecordObject* as_record(PyObject* self) { return reinterpret_cast<RecordObject*>(self); }

nb::bytes bytes(std::string_view s) {
    PyObject* o = PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    if (!o) throw nb::python_error();
    return nb::steal<nb::bytes>(o);
}

nb::str text(std::string_view s) {
    PyObject* o = PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
    if (!o) throw nb::python_error();
    return nb::steal<nb::str>(o);
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

// The field's object, made from the record's bytes. Names and descriptions
// were decoded by the reader already, so they are valid UTF-8.
PyObject* make_field(RecordObject* r, int field) {
    const Py_ssize_t n = r->lengths[field];
    if (n < 0) return Py_NewRef(Py_None);
    const char* p = r->text;
    for (int i = 0; i < field; ++i)
        if (r->lengths[i] > 0) p += r->lengths[i];
    if (field == NAME || field == DESCRIPTION) return PyUnicode_DecodeUTF8(p, n, "replace");
    return PyBytes_FromStringAndSize(p, n);
}

// Plain getset descriptors: reading a field is the hot path of iteration.
template <int Field>
PyObject* get_field(PyObject* self, void*) {
    RecordObject* r = as_record(self);
    PyObject* value = r->fields[Field];
    if (!value) {
        if (!r->ready) {
            PyErr_SetString(PyExc_TypeError, "Record instance is not initialized");
            return nullptr;
        }
        value = make_field(r, Field);
        if (!value) return nullptr;
        r->fields[Field] = value;  // later reads return the same object
    }
    return Py_NewRef(value);
}

int record_init(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"name", "description", "sequence", "quality", nullptr};
    PyObject* name = nullptr;
    PyObject* description = nullptr;
    PyObject* sequence = nullptr;
    PyObject* quality = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OOO|O:Record", const_cast<char**>(keywords),
                                     &name, &description, &sequence, &quality))
        return -1;
    RecordObject* r = as_record(self);
    // Fields, once read, are shared: a record never changes.
    if (r->ready) {
        PyErr_SetString(PyExc_TypeError, "Record instance is already initialized");
        return -1;
    }
    try {
        if (!PyUnicode_Check(name)) as_str(name, "name");  // raises TypeError
        nb::object desc = optional_str(description, "description");
        nb::object seq = as_byte_array(sequence, "sequence");
        nb::object qual =
            quality == Py_None ? nb::none() : nb::object(as_byte_array(quality, "quality"));
        r->fields[NAME] = Py_NewRef(name);
        r->fields[DESCRIPTION] = desc.release().ptr();
        r->fields[SEQUENCE] = seq.release().ptr();
        r->fields[QUALITY] = qual.release().ptr();
        r->ready = true;
        return 0;
    } catch (nb::python_error& e) {
        e.restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return -1;
}

void record_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    RecordObject* r = as_record(self);
    for (PyObject*& field : r->fields) Py_CLEAR(field);
    if (r->capacity > KEPT_CAPACITY) {
        PyMem_Free(r->text);
        r->text = nullptr;
        r->capacity = 0;
    }
    if (type == record_type && free_count < FREE_LIST_SIZE) {
        free_list[free_count++] = self;
    } else {
        PyMem_Free(r->text);
        type->tp_free(self);
    }
    Py_DECREF(type);  // instances of heap types hold their type
}

PyObject* record_repr(PyObject* self) {
    PyObject* name = get_field<NAME>(self, nullptr);
    if (!name) return nullptr;
    PyObject* out = PyUnicode_FromFormat("<Record: %U>", name);
    Py_DECREF(name);
    return out;
}

PyGetSetDef record_getset[] = {
    {"name", get_field<NAME>, nullptr,
     "str: The header text up to the first whitespace character.", nullptr},
    {"description", get_field<DESCRIPTION>, nullptr,
     "str | None: The header text after that character, or None.", nullptr},
    {"sequence", get_field<SEQUENCE>, nullptr, "bytes: The sequence.", nullptr},
    {"quality", get_field<QUALITY>, nullptr, "bytes | None: The quality line, or None for FASTA.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyObject* new_record(const tessiq::RecordView& rec) noexcept {
    const std::string_view parts[FIELD_COUNT] = {rec.name, rec.description.value_or(""),
                                                 rec.sequence, rec.quality.value_or("")};
    const bool present[FIELD_COUNT] = {true, rec.description.has_value(), true,
                                       rec.quality.has_value()};
    size_t total = 0;
    for (const std::string_view part : parts) total += part.size();

    RecordObject* r;
    if (free_count > 0) {
        r = as_record(free_list[--free_count]);
    } else {
        // Not GC-tracked, so a plain allocation (what tp_free releases) will do.
        r = static_cast<RecordObject*>(PyObject_Malloc(sizeof(RecordObject)));
        if (!r) return PyErr_NoMemory();
        r->text = nullptr;
        r->capacity = 0;
    }
    PyObject_Init(reinterpret_cast<PyObject*>(r), record_type);
    r->ready = true;
    for (PyObject*& field : r->fields) field = nullptr;
    if (total > r->capacity) {
        PyMem_Free(r->text);
        r->text = static_cast<char*>(PyMem_Malloc(total));
        r->capacity = r->text ? total : 0;
        if (!r->text) {
            Py_DECREF(r);
            return PyErr_NoMemory();
        }
    }
    char* out = r->text;
    for (int i = 0; i < FIELD_COUNT; ++i) {
        r->lengths[i] = present[i] ? static_cast<Py_ssize_t>(parts[i].size()) : -1;
        if (parts[i].empty()) continue;
        std::memcpy(out, parts[i].data(), parts[i].size());
        out += parts[i].size();
    }
    return reinterpret_cast<PyObject*>(r);
}

nb::object record_to_python(const tessiq::RecordView& rec) {
    PyObject* obj = new_record(rec);
    if (!obj) throw nb::python_error();
    return nb::steal(obj);
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
        static PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>(doc.c_str())},
            {Py_tp_new, reinterpret_cast<void*>(PyType_GenericNew)},
            {Py_tp_init, reinterpret_cast<void*>(record_init)},
            {Py_tp_dealloc, reinterpret_cast<void*>(record_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(record_repr)},
            {Py_tp_getset, record_getset},
            {0, nullptr},
        };
        static PyType_Spec spec = {"tessiqpy._tessiqpy.Record", static_cast<int>(sizeof(RecordObject)),
                                   0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, slots};
        nb::object type = nb::steal(PyType_FromSpec(&spec));
        if (!type.is_valid()) throw nb::python_error();
        // The plain name in messages ("cannot pickle 'Record' object"), as
        // for the module's other classes.
        nb::setattr(type, "__name__", nb::str("Record"));
        nb::setattr(m, "Record", type);
        record_type = reinterpret_cast<PyTypeObject*>(type.release().ptr());
    });
}

}  // namespace tessiqpy

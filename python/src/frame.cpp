#include "frame.h"

#include <exception>

#include "util/error.h"
#include "util/utf8.h"

namespace tessiqpy {

namespace {
// The BaseException subclass that fatal core errors become. Shared by every
// extension module of the package (the private test module reuses it).
PyObject* fatal_error_type = nullptr;

constexpr const char* FATAL_ERROR_DOC =
    "Raised when internal code called from Python hits a fatal error.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so an\n"
    "ordinary ``except Exception`` clause does not catch it: a broken invariant\n"
    "(such as invalid sketch parameters) ends the call and reaches the top of the\n"
    "program unless caught on purpose.";
constexpr const char* FATAL_ERROR_GENERIC = "tessiq hit an internal fatal error";

const char* py_type_name(nb::handle obj) { return Py_TYPE(obj.ptr())->tp_name; }
}  // namespace

[[noreturn]] void raise(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw nb::python_error();
}

nb::object create_fatal_error_type() {
    PyObject* t = PyErr_NewExceptionWithDoc("tessiqpy._tessiqpy.FatalError", FATAL_ERROR_DOC,
                                            PyExc_BaseException, nullptr);
    if (!t) throw nb::python_error();
    return nb::steal(t);
}

void install_exception_translator(nb::handle fatal_type) {
    fatal_error_type = fatal_type.inc_ref().ptr();  // held for the process
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const tessiq::FatalError& e) {
            const char* what = e.what();
            PyErr_SetString(fatal_error_type, (what && *what) ? what : FATAL_ERROR_GENERIC);
        } catch (const tessiq::Error& e) {
            PyObject* type = PyExc_OSError;
            if (e.kind() == tessiq::ErrorKind::InvalidInput) type = PyExc_ValueError;
            if (e.kind() == tessiq::ErrorKind::InvalidType) type = PyExc_TypeError;
            PyErr_SetString(type, e.what());
        }
    });
}

void Group::append_to_all(const char* name) {
    nb::object all;
    if (nb::hasattr(m_, "__all__")) {
        all = nb::getattr(m_, "__all__");
    } else {
        all = nb::list();
        nb::setattr(m_, "__all__", all);
    }
    nb::cast<nb::list>(all).append(nb::str(name));
}

void Group::report(const char* name, nb::python_error& e) {
    nb::print(nb::str("Error adding {}: {}").format(name, nb::str(e.value())));
}

std::string signature_doc(const char* signature, const char* body) {
    return std::string(signature) + "\n--\n\n" + body;
}

std::string_view as_bytes(nb::handle obj, const char* arg) {
    if (!PyBytes_Check(obj.ptr()))
        raise(PyExc_TypeError,
              std::string("argument '") + arg + "': expected bytes, got " + py_type_name(obj));
    return {PyBytes_AS_STRING(obj.ptr()), static_cast<size_t>(PyBytes_GET_SIZE(obj.ptr()))};
}

uint64_t as_u64(nb::handle obj, const char* arg) {
    if (!PyLong_Check(obj.ptr()))
        raise(PyExc_TypeError,
              std::string("argument '") + arg + "': expected int, got " + py_type_name(obj));
    const unsigned long long v = PyLong_AsUnsignedLongLong(obj.ptr());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        // CPython reports negative and too large values as OverflowError.
        throw nb::python_error();
    }
    return v;
}

uint32_t as_u32(nb::handle obj, const char* arg) {
    const uint64_t v = as_u64(obj, arg);
    if (v > UINT32_MAX)
        raise(PyExc_OverflowError, std::string("argument '") + arg + "': int too big to convert");
    return static_cast<uint32_t>(v);
}

bool as_bool(nb::handle obj, const char* arg) {
    if (!PyBool_Check(obj.ptr()))
        raise(PyExc_TypeError,
              std::string("argument '") + arg + "': expected bool, got " + py_type_name(obj));
    return obj.ptr() == Py_True;
}

std::string as_str(nb::handle obj, const char* arg) {
    if (!PyUnicode_Check(obj.ptr()))
        raise(PyExc_TypeError,
              std::string("argument '") + arg + "': expected str, got " + py_type_name(obj));
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj.ptr(), &size);
    if (!data) throw nb::python_error();
    return {data, static_cast<size_t>(size)};
}

std::string as_path(nb::handle obj, const char* arg, bool require_utf8) {
    nb::object fs = nb::steal(PyOS_FSPath(obj.ptr()));
    if (!fs.is_valid() || !PyUnicode_Check(fs.ptr())) {
        PyErr_Clear();
        raise(PyExc_TypeError, std::string("argument '") + arg +
                                   "': expected str or os.PathLike returning str, got " +
                                   (fs.is_valid() ? py_type_name(fs) : py_type_name(obj)));
    }
    nb::object encoded = nb::steal(PyUnicode_EncodeFSDefault(fs.ptr()));
    if (!encoded.is_valid()) {
        if (!require_utf8) throw nb::python_error();
        PyErr_Clear();
        raise(PyExc_ValueError, "Invalid path string");
    }
    std::string path(PyBytes_AS_STRING(encoded.ptr()),
                     static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr())));
    if (require_utf8) {
        PyObject* check = PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()),
                                               "strict");
        if (!check) {
            PyErr_Clear();
            raise(PyExc_ValueError, "Invalid path string");
        }
        Py_DECREF(check);
    }
    return path;
}

PairList as_pair_list(nb::handle obj, const char* arg) {
    const std::string prefix = std::string("argument '") + arg + "': ";
    if (PyUnicode_Check(obj.ptr()))
        raise(PyExc_TypeError, prefix + "a str cannot be taken as a list of (bytes, bytes) pairs");
    if (!PySequence_Check(obj.ptr()))
        raise(PyExc_TypeError,
              prefix + "expected a sequence of (bytes, bytes) tuples, got " + py_type_name(obj));
    // A private list: the caller's list may change while the lock is released.
    PairList out;
    out.owner = nb::steal(PySequence_List(obj.ptr()));
    if (!out.owner.is_valid()) throw nb::python_error();
    const Py_ssize_t n = PyList_GET_SIZE(out.owner.ptr());
    out.items.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        nb::handle item = PyList_GET_ITEM(out.owner.ptr(), i);
        if (!PyTuple_Check(item.ptr()))
            raise(PyExc_TypeError,
                  prefix + "expected a sequence of (bytes, bytes) tuples, got an element of type " +
                      py_type_name(item));
        const Py_ssize_t len = PyTuple_GET_SIZE(item.ptr());
        if (len != 2)
            raise(PyExc_ValueError, "expected tuple of length 2, but got tuple of length " +
                                        std::to_string(len));
        out.items.emplace_back(as_bytes(PyTuple_GET_ITEM(item.ptr(), 0), arg),
                               as_bytes(PyTuple_GET_ITEM(item.ptr(), 1), arg));
    }
    return out;
}

std::string decode_name(std::string_view bytes) { return tessiq::utf8_lossy(bytes); }

SharedHold::SharedHold(AccessGuard& g) : g_(g) {
    if (!g_.try_shared()) raise(PyExc_RuntimeError, "Already mutably borrowed");
}

ExclusiveHold::ExclusiveHold(AccessGuard& g) : g_(g) {
    if (!g_.try_exclusive()) raise(PyExc_RuntimeError, "Already borrowed");
}

}  // namespace tessiqpy

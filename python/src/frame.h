// The module frame: member registration, argument conversion, the fatal-error
// exception and the per-object access guard. Every binding unit uses these
// helpers so that all classes convert and fail the same way.
#pragma once

#include <nanobind/nanobind.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessiqpy {

namespace nb = nanobind;

// ---- errors ---------------------------------------------------------------

// Sets a Python exception and unwinds to the binding layer.
[[noreturn]] void raise(PyObject* type, const std::string& message);

// The BaseException subclass that fatal core errors become.
nb::object create_fatal_error_type();
// Maps core exceptions to Python ones: FatalError to `fatal_type`, Error to
// OSError, ValueError or TypeError by its kind. Called by each extension
// module; the private test module passes the main module's class.
void install_exception_translator(nb::handle fatal_type);

// ---- registration ---------------------------------------------------------

// Adds members to the module in order: each name is appended to __all__
// before the member itself is created, and the first failure stops the group.
class Group {
public:
    Group(nb::module_& m, bool report_failures) : m_(m), report_(report_failures) {}

    // `make` creates the member and binds it on the module under `name`.
    template <typename F>
    void add(const char* name, F&& make) {
        append_to_all(name);
        try {
            make(m_);
        } catch (nb::python_error& e) {
            if (report_) report(name, e);
            throw;
        }
    }
    // Adds an already created object.
    void add_object(const char* name, nb::handle obj) {
        add(name, [&](nb::module_& m) { nb::setattr(m, name, obj); });
    }

private:
    void append_to_all(const char* name);
    static void report(const char* name, nb::python_error& e);
    nb::module_& m_;
    bool report_;
};

// The four member groups, in the order the module adds them. Each lives in
// its own unit; a group adds nothing until its classes exist.
void register_align(nb::module_& m);
void register_sketch(nb::module_& m);
void register_fasta(nb::module_& m);
void register_options(nb::module_& m);

// Docstring with the text signature in front, so help() shows it.
std::string signature_doc(const char* signature, const char* body);

// ---- argument conversion --------------------------------------------------

// A bytes object (or subclass) read in place; str and others raise TypeError.
std::string_view as_bytes(nb::handle obj, const char* arg);

// An int in 0..2^64-1 (OverflowError outside, TypeError if not an int).
uint64_t as_u64(nb::handle obj, const char* arg);
uint32_t as_u32(nb::handle obj, const char* arg);
bool as_bool(nb::handle obj, const char* arg);
// A str; TypeError otherwise.
std::string as_str(nb::handle obj, const char* arg);

// A str or os.PathLike giving str, encoded with the file-system encoding.
// With require_utf8, encoded bytes that are not UTF-8 raise ValueError
// "Invalid path string". bytes paths raise TypeError.
std::string as_path(nb::handle obj, const char* arg, bool require_utf8);

// A sequence of (bytes, bytes) pairs, kept alive by `owner` while the views
// are used (also with the interpreter lock released).
struct PairList {
    nb::object owner;
    std::vector<std::pair<std::string_view, std::string_view>> items;
};
PairList as_pair_list(nb::handle obj, const char* arg);

// Bytes to text, replacing invalid UTF-8 with U+FFFD; never fails.
std::string decode_name(std::string_view bytes);

// ---- access guard ---------------------------------------------------------

// Shared holds for readers, one exclusive hold for writers. A conflicting
// request fails at once with RuntimeError instead of waiting.
class AccessGuard {
public:
    bool try_shared() {
        int64_t s = state_.load(std::memory_order_relaxed);
        do {
            if (s < 0) return false;
        } while (!state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire));
        return true;
    }
    bool try_exclusive() {
        int64_t expected = 0;
        return state_.compare_exchange_strong(expected, -1, std::memory_order_acquire);
    }
    void release_shared() { state_.fetch_sub(1, std::memory_order_release); }
    void release_exclusive() { state_.store(0, std::memory_order_release); }

private:
    std::atomic<int64_t> state_{0};  // > 0: shared holds, -1: exclusive
};

class SharedHold {
public:
    explicit SharedHold(AccessGuard& g);
    ~SharedHold() { g_.release_shared(); }
    SharedHold(const SharedHold&) = delete;
    SharedHold& operator=(const SharedHold&) = delete;

private:
    AccessGuard& g_;
};

class ExclusiveHold {
public:
    explicit ExclusiveHold(AccessGuard& g);
    ~ExclusiveHold() { g_.release_exclusive(); }
    ExclusiveHold(const ExclusiveHold&) = delete;
    ExclusiveHold& operator=(const ExclusiveHold&) = delete;

private:
    AccessGuard& g_;
};

// Base of every bound class: the guard travels with the instance.
struct Guarded {
    mutable AccessGuard guard;
};

}  // namespace tessiqpy

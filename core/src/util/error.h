// Error types shared by every core unit.
//
// Two kinds of failure exist. A broken invariant (bad sketch parameters, a
// kernel assertion, scratch allocation failure) throws FatalError: it aborts
// the current call, never the process. Failures of input data or files carry
// an ErrorKind and a message that the Python layer turns into the matching
// built-in exception with the message unchanged.
#pragma once

#include <stdexcept>
#include <string>

#define TESSIQ_API __attribute__((visibility("default")))

namespace tessiq {

class TESSIQ_API FatalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class ErrorKind {
    Io,            // file or stream failure, also corrupt file contents
    InvalidInput,  // a value the caller passed is not acceptable
    InvalidType,   // an argument of the wrong kind
};

class TESSIQ_API Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& message)
        : std::runtime_error(message), kind_(kind) {}
    ErrorKind kind() const noexcept { return kind_; }

private:
    ErrorKind kind_;
};

// Throws FatalError with `message` when `ok` is false.
inline void fatal_check(bool ok, const char* message) {
    if (!ok) throw FatalError(message);
}

}  // namespace tessiq

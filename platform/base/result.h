// One way for our own code to report failure: a value, or an error with a message that a person
// can read. The platform API keeps its HRESULTs and LSTATUS codes; everything else returns this.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace base {

// What kind of failure an error is, so that a caller acts on its kind, never on its text or on a
// number that means one thing here and another there.
enum class ErrorKind {
    kPlain,          // the message is all there is
    kSystem,         // a system call failed: errno_value says why (ENOENT, EACCES, EINVAL, ...)
    kFile,           // a file operation failed at file_step; errno_value when a system call said
                     // why (0 when the file itself was refused: not a regular file, too large)
    kPortRefused,    // the port cannot be had: in use by another program, or its backend will
                     // not open or has stopped answering
    kNotRegistered,  // COM, the class registry or the Pinbus control cannot be used
    kRegistry,       // the class registry's file failed: status holds the LSTATUS
};

// The step of a file operation that failed (ErrorKind::kFile).
enum class FileStep { kNone, kMissing, kOpen, kRead, kWrite, kTooLarge };

struct Error {
    std::string message;
    ErrorKind kind = ErrorKind::kPlain;
    int errno_value = 0;                   // kSystem, and kFile when a system call failed
    FileStep file_step = FileStep::kNone;  // kFile
    long status = 0;                       // kRegistry

    bool Is(ErrorKind k) const { return kind == k; }
    bool Is(FileStep step) const { return kind == ErrorKind::kFile && file_step == step; }
    // The same failure said with another message (a caller's context added).
    Error Reworded(std::string text) const {
        Error e = *this;
        e.message = std::move(text);
        return e;
    }
};

// Builds an error for `return Fail("...")` in any Result-returning function: one of the plain
// kind, or of a kind with what goes with it.
inline Error Fail(std::string message) { return Error{std::move(message)}; }
inline Error FailSystem(std::string message, int errno_value) {
    return Error{std::move(message), ErrorKind::kSystem, errno_value};
}
inline Error FailFile(FileStep step, std::string message, int errno_value = 0) {
    return Error{std::move(message), ErrorKind::kFile, errno_value, step};
}
inline Error FailPortRefused(std::string message) {
    return Error{std::move(message), ErrorKind::kPortRefused};
}
inline Error FailNotRegistered(std::string message) {
    return Error{std::move(message), ErrorKind::kNotRegistered};
}
inline Error FailRegistry(std::string message, long status) {
    return Error{std::move(message), ErrorKind::kRegistry, 0, FileStep::kNone, status};
}

template <typename T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& {
        assert(ok());
        return std::get<0>(state_);
    }
    T& value() & {
        assert(ok());
        return std::get<0>(state_);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(state_));
    }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    const Error& error() const {
        assert(!ok());
        return std::get<1>(state_);
    }
    const std::string& message() const { return error().message; }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const {
        assert(failed_);
        return error_;
    }
    const std::string& message() const { return error().message; }

private:
    Error error_;
    bool failed_ = false;
};

}  // namespace base

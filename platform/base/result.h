// One way for our own code to report failure: a value, or an error with a message that a person
// can read. The platform API keeps its HRESULTs and LSTATUS codes; everything else returns this.
#pragma once

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace base {

struct Error {
    std::string message;
    // An optional number the caller may act on (an errno, an exit status, an HRESULT), 0 when the
    // message is all there is.
    long code = 0;
};

// Builds an error for `return Fail("...")` in any Result-returning function.
inline Error Fail(std::string message, long code = 0) { return Error{std::move(message), code}; }

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

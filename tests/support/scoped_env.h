// An environment variable set (or removed) for a scope and put back as it was when the scope ends,
// however it ends: a failed ASSERT returns from the test early and must not leave the change to
// the tests after it.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>

namespace test_support {

class ScopedEnv {
public:
    // Sets `name` to `value`, or removes it when `value` is empty (std::nullopt).
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace test_support

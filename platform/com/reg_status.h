// How the class registry's functions fail: an LSTATUS for the caller and the full text in the
// thread's error object. Internal to the registry's files.
#pragma once

#include <string>
#include <vector>

#include "platform/com/registry.h"

namespace reg {

using Names = std::vector<std::string>;

// Sets the thread's error object to `text` and answers `status`.
LSTATUS Fail(LSTATUS status, std::string text);
// A failed system call: access refusals as ERROR_ACCESS_DENIED, the rest as an I/O failure.
LSTATUS FailErrno(int err, const std::string& what);
LSTATUS NotRegular(const std::string& path);
LSTATUS KeyDeleted(const Names& names);
LSTATUS NotFound(const Names& names);

// "A\B\C".
std::string JoinNames(const Names& names);

}  // namespace reg

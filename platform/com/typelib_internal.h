// Shared between the type-library sources of platform/com; not part of the library's interface.
#pragma once

#include <string>

namespace typelib_internal {
// Sets the text TypeLibLastErrorText() returns in this thread.
void SetLastErrorText(std::string text);
}  // namespace typelib_internal

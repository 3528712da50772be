// The registry-text parser in the shape the cases are written in: true, else the message.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/reg_file.h"

namespace reg {

inline bool ParseRegistryText(std::string_view text, Key* root, std::string* error) {
    const base::Result<> parsed = ParseRegistryText(text, root);
    if (!parsed) *error = parsed.message();
    return parsed.ok();
}

}  // namespace reg

// Settings files: the panel's seven number fields and four option groups as `key = value`
// lines (the keys and values of panel/settings.h), `#` starting a comment; one UTF-8 byte-order
// mark at the start is skipped. Loading is all or nothing: any fault is reported as
// "FILE:LINE: what" and nothing of the file is applied.
#pragma once

#include <string>
#include <string_view>

#include "panel/form_state.h"
#include "panel/settings.h"
#include "platform/base/result.h"

namespace panel {

// Parses a file's text; `file` names it in the errors.
base::Result<Settings> ParseSettings(std::string_view text, const std::string& file);
// The form's settings as a file's text. A field that does not hold a value the settings take is
// written as a comment, so that the file still loads; blanks around a field's number are left
// out.
std::string FormatSettings(const FormState& state);

base::Result<Settings> LoadSettingsFile(const std::string& path);
base::Result<> SaveSettingsFile(const std::string& path, const FormState& state);

}  // namespace panel

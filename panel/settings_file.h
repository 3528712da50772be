// Settings files: the panel's seven number fields and four option groups as `key = value`
// lines, `#` starting a comment. Loading is all or nothing: any fault is reported as
// "FILE:LINE: what" and nothing of the file is applied.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "panel/form_state.h"
#include "platform/base/result.h"

namespace panel {

// One setting: a number field (TextN) or an option group (OptionN) and the item it selects.
struct SettingValue {
    int field = 0;     // 1..7 for a number field, else 0
    int group = 0;     // 1..4 for an option group, else 0
    int item = 0;      // the group's item, 0 or 1
    std::string text;  // the field's text
};

// The value of one key ("exposure", "gamma", ...) from its text, e.g. for `lensbay set`. The
// error says what the key takes.
base::Result<SettingValue> ParseSetting(std::string_view key, std::string_view value);

// The keys, in the order they are written.
inline constexpr std::array<const char*, 11> kSettingKeys = {
    "exposure",  "gain",    "divider", "gamma",   "mirror", "mode",
    "backlight", "h_start", "h_end",   "v_start", "v_end"};

// What a file names, each key at most once.
struct Settings {
    std::array<std::optional<std::string>, kMarkedFieldCount + 1> fields;  // index 1..7
    std::array<std::optional<int>, kOptionGroupCount + 1> options;         // index 1..4
};

// Parses a file's text; `file` names it in the errors.
base::Result<Settings> ParseSettings(std::string_view text, const std::string& file);
// The form's settings as a file's text. A field that does not hold a number is written as a
// comment, so that the file still loads.
std::string FormatSettings(const FormState& state);

// As if the user clicked each named field and typed its value, then selected each named option
// with the mouse; what the file does not name stays as it is.
void ApplySettings(const Settings& settings, FormState& state);

base::Result<Settings> LoadSettingsFile(const std::string& path);
base::Result<> SaveSettingsFile(const std::string& path, const FormState& state);

}  // namespace panel

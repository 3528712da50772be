// The panel's settings by name, as scripts and settings files give them: keys exposure, gain,
// divider, h_start, h_end, v_start, v_end (the number fields Text1..Text7, checked the way Set
// Register converts them) and gamma (0.45 or 1.0), mirror (on/off), mode (indoor/outdoor),
// backlight (on/off) (the option groups Option1..Option4).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/form_state.h"
#include "platform/base/result.h"

namespace panel {

// What a list of settings changes: the text typed into a field, the item selected in a group.
struct SettingsChanges {
    std::array<std::optional<std::string>, kMarkedFieldCount + 1> field;  // 1..7
    std::array<std::optional<int>, kOptionGroupCount + 1> option;         // 1..4: item 0 or 1
    bool empty() const;
};

// The key names in the order their fields and groups are applied.
extern const std::array<const char*, 11> kSettingKeys;

// Adds one setting. Fails with a message naming the key (unknown key, a value that is not a
// number the field takes or not one of the words, a key given twice).
base::Result<> AddSetting(std::string_view key, std::string_view value, SettingsChanges* changes);

// "KEY=VALUE" arguments, all checked before anything is applied.
base::Result<SettingsChanges> ParseAssignments(const std::vector<std::string>& args);

// Applies the changes as the user would: each named field clicked and its value typed, in field
// order, then each named option selected with the mouse, in group order.
void ApplySettings(const SettingsChanges& changes, FormState& state);

}  // namespace panel

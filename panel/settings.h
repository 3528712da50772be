// The panel's settings by name, with one rule wherever they are given (`lensbay set KEY=VALUE`,
// settings files): the chip's controls exposure, gain, divider, h_start, h_end, v_start, v_end
// (Text1..Text7) and the option groups gamma (0.45/1.0), mirror (on/off), mode (indoor/outdoor)
// and backlight (on/off) (Option1..Option4), as typed ChipSettings.
//
// Blanks around a key or a value are ignored. Keys are exact; option words are taken in any
// case. A number is a whole number within its control's range as the chip's description gives it
// (the range `lensbay status` shows and the element takes): exposure 300 or divider 2.5 is
// refused. The window's fields stay free text; only these settings are checked.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/chip_settings.h"
#include "panel/form_state.h"
#include "platform/base/result.h"

namespace panel {

struct SettingKey {
    const char* key;
    int field;                     // TextN for a number field, else 0
    int group;                     // OptionN for an option group, else 0
    const char* const* words;      // an option group's item 0 and item 1; null for a number
    const chip::Control* control;  // the chip's control it sets
};

// The keys, in the order a settings file lists them: the chip's controls, each with its field
// or option group.
constexpr std::array<SettingKey, chip::kControlCount - 1> MakeSettingKeys() {
    std::array<SettingKey, chip::kControlCount - 1> keys{};
    for (int i = 0; i < chip::kControlCount - 1; ++i) {
        const chip::Control& c = chip::kControls[i];
        SettingKey k{c.name, 0, 0, c.kind == chip::ControlKind::kOption ? c.words : nullptr, &c};
        for (int n = 1; n <= kMarkedFieldCount; ++n)
            if (FieldControl(n) == i) k.field = n;
        for (int g = 1; g <= kOptionGroupCount; ++g) {
            if (GroupControl(g) == i) k.group = g;
        }
        keys[static_cast<std::size_t>(i)] = k;
    }
    return keys;
}
inline constexpr std::array<SettingKey, chip::kControlCount - 1> kSettingKeys = MakeSettingKeys();
static_assert(chip::kControls[chip::kControlCount - 1].kind == chip::ControlKind::kReset);

// What a list of settings names, each key at most once.
using Settings = ChipSettings;

// The key's entry, or null.
const SettingKey* FindSettingKey(std::string_view key);

// Adds one setting. Fails with a message that starts with the key (or says "unknown key"): a
// value that is no number, no whole number, outside the control's range (RangeFault's message),
// not one of the group's words, a key given twice.
base::Result<> AddSetting(std::string_view key, std::string_view value, Settings* settings);

// "KEY=VALUE" arguments, all checked before anything is applied.
base::Result<Settings> ParseAssignments(const std::vector<std::string>& args);

// The value a field is saved as, or nothing when its text is not one the settings take (an empty
// field, no number, no whole number, outside the range).
std::optional<int> SavedFieldValue(int field, const std::string& text);

// As if the user clicked each named field and typed its value, in field order, then selected
// each named option with the mouse, in group order; what is not named stays as it is. (The form
// is the window's: its fields hold text.)
void ApplySettings(const Settings& settings, FormState& state);

// A key or value as a message shows it: quoted, cut short when long, every byte that is not
// printable ASCII (control characters, a byte-order mark) written as \xNN.
std::string ShownSettingText(std::string_view text);

}  // namespace panel

// The panel's settings by name, with one rule wherever they are given (`lensbay set KEY=VALUE`,
// settings files): the number fields exposure, gain, divider, h_start, h_end, v_start, v_end
// (Text1..Text7) and the option groups gamma (0.45/1.0), mirror (on/off), mode (indoor/outdoor)
// and backlight (on/off) (Option1..Option4).
//
// Blanks around a key or a value are ignored. Keys are exact; option words are taken in any
// case. A number is taken when Set Register would convert it (the integer value, or the real
// value scaled and rounded, each within a 32-bit integer); the register's own range is not
// checked, so exposure 300 is taken and written as its low 8 bits, as the window's field is.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
        SettingKey k{c.name, 0, 0, nullptr, &c};
        for (int n = 1; n <= kMarkedFieldCount; ++n)
            if (FieldControl(n) == i) k.field = n;
        for (int g = 1; g <= kOptionGroupCount; ++g) {
            if (GroupControl(g) == i) {
                k.group = g;
                k.words = c.words;
            }
        }
        keys[static_cast<std::size_t>(i)] = k;
    }
    return keys;
}
inline constexpr std::array<SettingKey, chip::kControlCount - 1> kSettingKeys = MakeSettingKeys();
static_assert(chip::kControls[chip::kControlCount - 1].kind == chip::ControlKind::kReset);

// What a list of settings names, each key at most once: the text typed into a field, the item
// selected in a group.
struct Settings {
    std::array<std::optional<std::string>, kMarkedFieldCount + 1> fields;  // index 1..7
    std::array<std::optional<int>, kOptionGroupCount + 1> options;         // index 1..4
    bool empty() const;
};

// The key's entry, or null.
const SettingKey* FindSettingKey(std::string_view key);

// Adds one setting. Fails with a message that starts with the key (or says "unknown key"): a
// value that is no number the field takes, not one of the group's words, a key given twice.
base::Result<> AddSetting(std::string_view key, std::string_view value, Settings* settings);

// "KEY=VALUE" arguments, all checked before anything is applied.
base::Result<Settings> ParseAssignments(const std::vector<std::string>& args);

// The text a field is saved as: its text without the blanks around it, or nothing when that is
// not a value the settings take (an empty field, no number, a number Set Register cannot
// convert).
std::optional<std::string> SavedFieldText(int field, const std::string& text);

// As if the user clicked each named field and typed its value, in field order, then selected
// each named option with the mouse, in group order; what is not named stays as it is.
void ApplySettings(const Settings& settings, FormState& state);

// A key or value as a message shows it: quoted, cut short when long, every byte that is not
// printable ASCII (control characters, a byte-order mark) written as \xNN.
std::string ShownSettingText(std::string_view text);

}  // namespace panel

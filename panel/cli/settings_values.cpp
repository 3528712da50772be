#include "panel/cli/settings_values.h"

#include <algorithm>
#include <cctype>

#include "panel/field_numbers.h"

namespace panel {
namespace {

// The number fields and how Set Register converts each one's text.
enum class Conversion { kInteger, kReal };
struct FieldKey {
    const char* key;
    int field;
    Conversion conversion;
};
constexpr FieldKey kFieldKeys[] = {
    {"exposure", 1, Conversion::kInteger}, {"gain", 2, Conversion::kInteger},
    {"divider", 3, Conversion::kReal},     {"h_start", 4, Conversion::kReal},
    {"h_end", 5, Conversion::kInteger},    {"v_start", 6, Conversion::kReal},
    {"v_end", 7, Conversion::kInteger}};

// The option groups: the word of item 0, then of item 1.
struct OptionKey {
    const char* key;
    int group;
    const char* words[2];
};
constexpr OptionKey kOptionKeys[] = {{"gamma", 1, {"0.45", "1.0"}},
                                     {"mirror", 2, {"on", "off"}},
                                     {"mode", 3, {"indoor", "outdoor"}},
                                     {"backlight", 4, {"on", "off"}}};

bool SameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// A value as a message shows it: quoted, control characters escaped, cut short when long.
std::string Shown(std::string_view value) {
    std::string out = "\"";
    for (const char c : value.substr(0, 40)) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out + (value.size() > 40 ? "...\"" : "\"");
}

}  // namespace

const std::array<const char*, 11> kSettingKeys = {"exposure", "gain",    "divider",  "h_start",
                                                  "h_end",    "v_start", "v_end",    "gamma",
                                                  "mirror",   "mode",    "backlight"};

bool SettingsChanges::empty() const {
    return std::none_of(field.begin(), field.end(), [](const auto& f) { return f.has_value(); }) &&
           std::none_of(option.begin(), option.end(), [](const auto& o) { return o.has_value(); });
}

base::Result<> AddSetting(std::string_view key, std::string_view value, SettingsChanges* changes) {
    for (const FieldKey& k : kFieldKeys) {
        if (key != k.key) continue;
        if (changes->field[k.field]) return base::Fail(std::string(k.key) + " is given twice");
        const std::string text(value);
        HRESULT hr = S_OK;
        if (k.conversion == Conversion::kInteger) {
            LONG v = 0;
            hr = TextToInteger(text, &v);
        } else {
            double d = 0;
            hr = TextToReal(text, &d);
        }
        if (FAILED(hr)) {
            return base::Fail(
                std::string(k.key) + "=" + Shown(value) + ": " +
                (hr == DISP_E_OVERFLOW ? "the number is out of range" : "not a number") + " (" +
                FieldDescription(k.field) + ")");
        }
        changes->field[k.field] = text;
        return {};
    }
    for (const OptionKey& k : kOptionKeys) {
        if (key != k.key) continue;
        if (changes->option[k.group]) return base::Fail(std::string(k.key) + " is given twice");
        for (int item = 0; item < 2; ++item) {
            if (SameWord(value, k.words[item])) {
                changes->option[k.group] = item;
                return {};
            }
        }
        return base::Fail(std::string(k.key) + "=" + Shown(value) + ": must be " + k.words[0] +
                          " or " + k.words[1]);
    }
    std::string known;
    for (const char* name : kSettingKeys) known += std::string(known.empty() ? "" : ", ") + name;
    return base::Fail("unknown key " + Shown(key) + " (keys: " + known + ")");
}

base::Result<SettingsChanges> ParseAssignments(const std::vector<std::string>& args) {
    SettingsChanges changes;
    for (const std::string& arg : args) {
        const auto eq = arg.find('=');
        if (eq == std::string::npos || eq == 0)
            return base::Fail("\"" + arg + "\" is not KEY=VALUE");
        if (auto added = AddSetting(std::string_view(arg).substr(0, eq),
                                    std::string_view(arg).substr(eq + 1), &changes);
            !added) {
            return added.error();
        }
    }
    if (changes.empty()) return base::Fail("no KEY=VALUE given");
    return changes;
}

void ApplySettings(const SettingsChanges& changes, FormState& state) {
    for (int n = 1; n <= kMarkedFieldCount; ++n) {
        if (!changes.field[n]) continue;
        ClickField(state, n);
        state.text[n] = *changes.field[n];
    }
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        if (changes.option[g]) SelectOption(state, g, *changes.option[g]);
    }
}

}  // namespace panel

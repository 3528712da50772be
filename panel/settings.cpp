#include "panel/settings.h"

#include <algorithm>
#include <cmath>

#include "panel/field_numbers.h"
#include "platform/base/text.h"

namespace panel {
namespace {

bool SameWord(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// A number setting's value: a whole number within the control's range. A text a settings file
// could not hold (a line break, a comment sign, any control character) is no number either.
base::Result<int> NumberOf(const chip::Control& c, std::string_view value) {
    const auto fail = [&](const char* why) {
        return base::Fail(std::string(c.name) + ": " + ShownSettingText(value) + why);
    };
    bool plain = !value.empty();
    for (const char ch : value) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x20 || b == 0x7F || ch == '#') plain = false;
    }
    double d = 0;
    const HRESULT hr = plain ? TextToReal(std::string(value), &d) : DISP_E_TYPEMISMATCH;
    if (hr == DISP_E_OVERFLOW) return fail(" is out of range");
    if (FAILED(hr)) return fail(" is not a number");
    if (d != std::nearbyint(d)) return fail(" is not a whole number");
    if (d < c.min || d > c.max || !InRange(c, static_cast<int>(d)))
        return base::Fail(RangeFault(c, c.name, value));
    return static_cast<int>(d);
}

}  // namespace

const SettingKey* FindSettingKey(std::string_view key) {
    for (const SettingKey& k : kSettingKeys) {
        if (key == k.key) return &k;
    }
    return nullptr;
}

std::string ShownSettingText(std::string_view text) {
    constexpr std::size_t kMax = 40;
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text.substr(0, kMax)) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F) {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out + (text.size() > kMax ? "...\"" : "\"");
}

base::Result<> AddSetting(std::string_view key, std::string_view value, Settings* settings) {
    key = base::Trim(key);
    value = base::Trim(value);
    const SettingKey* k = FindSettingKey(key);
    if (!k) {
        std::string known;
        for (const SettingKey& each : kSettingKeys) {
            known += std::string(known.empty() ? "" : ", ") + each.key;
        }
        return base::Fail("unknown key " + ShownSettingText(key) + " (the keys are " + known + ")");
    }
    const std::string name = k->key;
    const int control = static_cast<int>(k->control - chip::kControls);
    if (settings->Given(control)) return base::Fail(name + " is given twice");
    if (k->words == nullptr) {
        base::Result<int> v = NumberOf(*k->control, value);
        if (!v) return v.error();
        return settings->Set(control, *v);
    }
    for (int item = 0; item < 2; ++item) {
        if (SameWord(value, k->words[item])) return settings->Set(control, item);
    }
    return base::Fail(name + ": " + ShownSettingText(value) + " is neither " + k->words[0] +
                      " nor " + k->words[1]);
}

base::Result<Settings> ParseAssignments(const std::vector<std::string>& args) {
    Settings settings;
    for (const std::string& arg : args) {
        const auto eq = arg.find('=');
        if (eq == std::string::npos || base::Trim(std::string_view(arg).substr(0, eq)).empty()) {
            return base::Fail(ShownSettingText(arg) + " is not KEY=VALUE");
        }
        const std::string_view text(arg);
        if (auto added = AddSetting(text.substr(0, eq), text.substr(eq + 1), &settings); !added) {
            return added.error();
        }
    }
    if (settings.empty()) return base::Fail("no KEY=VALUE given");
    return settings;
}

std::optional<int> SavedFieldValue(int field, const std::string& text) {
    const int control = FieldControl(field);
    if (control < 0) return std::nullopt;
    base::Result<int> v = NumberOf(chip::kControls[control], base::Trim(text));
    return v ? std::optional<int>(*v) : std::nullopt;
}

void ApplySettings(const Settings& settings, FormState& state) {
    for (int n = 1; n <= kMarkedFieldCount; ++n) {
        const std::optional<int>& value = settings.Get(FieldControl(n));
        if (!value) continue;
        ClickField(state, n);
        state.text[static_cast<std::size_t>(n)] = std::to_string(*value);
    }
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        const std::optional<int>& item = settings.Get(GroupControl(g));
        if (item) SelectOption(state, g, *item);
    }
}

}  // namespace panel

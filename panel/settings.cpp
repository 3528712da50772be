#include "panel/settings.h"

#include <algorithm>

#include "panel/registers.h"
#include "platform/base/text.h"

namespace panel {
namespace {

bool SameWord(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// A field's value as Set Register would convert it; a text a settings file could not hold
// (a line break, a comment sign, any control character) is no number either.
HRESULT CheckNumber(int field, std::string_view value) {
    if (value.empty()) return DISP_E_TYPEMISMATCH;
    for (const char c : value) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '#') return DISP_E_TYPEMISMATCH;
    }
    LONG v = 0;
    return ConvertField(field, std::string(value), &v);
}

}  // namespace

bool Settings::empty() const {
    return std::none_of(fields.begin(), fields.end(),
                        [](const auto& f) { return f.has_value(); }) &&
           std::none_of(options.begin(), options.end(),
                        [](const auto& o) { return o.has_value(); });
}

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
    if (k->field != 0) {
        auto& slot = settings->fields[static_cast<std::size_t>(k->field)];
        if (slot) return base::Fail(name + " is given twice");
        const HRESULT hr = CheckNumber(k->field, value);
        if (FAILED(hr)) {
            return base::Fail(name + ": " + ShownSettingText(value) +
                              (hr == DISP_E_OVERFLOW ? " is out of range" : " is not a number"));
        }
        slot = std::string(value);
        return {};
    }
    auto& slot = settings->options[static_cast<std::size_t>(k->group)];
    if (slot) return base::Fail(name + " is given twice");
    for (int item = 0; item < 2; ++item) {
        if (SameWord(value, k->words[item])) {
            slot = item;
            return {};
        }
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

std::optional<std::string> SavedFieldText(int field, const std::string& text) {
    const std::string_view value = base::Trim(text);
    if (FAILED(CheckNumber(field, value))) return std::nullopt;
    return std::string(value);
}

void ApplySettings(const Settings& settings, FormState& state) {
    for (int n = 1; n <= kMarkedFieldCount; ++n) {
        const auto& text = settings.fields[static_cast<std::size_t>(n)];
        if (!text) continue;
        ClickField(state, n);
        state.text[static_cast<std::size_t>(n)] = *text;
    }
    for (int g = 1; g <= kOptionGroupCount; ++g) {
        const auto& item = settings.options[static_cast<std::size_t>(g)];
        if (item) SelectOption(state, g, *item);
    }
}

}  // namespace panel

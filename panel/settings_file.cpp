#include "panel/settings_file.h"

#include "panel/field_numbers.h"
#include "panel/image_files.h"
#include "platform/base/shown.h"

namespace panel {
namespace {

// Files larger than this are not settings files.
constexpr std::size_t kMaxSettingsSize = 64 * 1024;

struct KeyInfo {
    const char* key;
    int field;             // TextN, or 0 for an option group
    int group;             // OptionN, or 0
    const char* words[2];  // the group's item 0 and item 1
};

constexpr KeyInfo kKeys[] = {
    {"exposure", 1, 0, {}},
    {"gain", 2, 0, {}},
    {"divider", 3, 0, {}},
    {"gamma", 0, 1, {"0.45", "1.0"}},
    {"mirror", 0, 2, {"on", "off"}},
    {"mode", 0, 3, {"indoor", "outdoor"}},
    {"backlight", 0, 4, {"on", "off"}},
    {"h_start", 4, 0, {}},
    {"h_end", 5, 0, {}},
    {"v_start", 6, 0, {}},
    {"v_end", 7, 0, {}},
};

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// At most this many characters of the user's text in a message.
std::string Quote(std::string_view s) { return QuoteFieldText(std::string(s)); }

const KeyInfo* FindKey(std::string_view key) {
    for (const KeyInfo& k : kKeys) {
        if (key == k.key) return &k;
    }
    return nullptr;
}

}  // namespace

base::Result<SettingValue> ParseSetting(std::string_view key, std::string_view value) {
    const KeyInfo* k = FindKey(key);
    if (!k) {
        return base::Fail("unknown key " + Quote(key) +
                          " (the keys are exposure, gain, divider, gamma, mirror, mode, "
                          "backlight, h_start, h_end, v_start, v_end)");
    }
    SettingValue v;
    if (k->field != 0) {
        double number = 0;
        if (value.empty() || FAILED(TextToReal(std::string(value), &number))) {
            return base::Fail(std::string(k->key) + ": " + Quote(value) + " is not a number");
        }
        v.field = k->field;
        v.text = std::string(value);
        return v;
    }
    for (int item = 0; item < 2; ++item) {
        if (value == k->words[item]) {
            v.group = k->group;
            v.item = item;
            return v;
        }
    }
    return base::Fail(std::string(k->key) + ": " + Quote(value) + " is neither " + k->words[0] +
                      " nor " + k->words[1]);
}

base::Result<Settings> ParseSettings(std::string_view text, const std::string& file) {
    Settings out;
    std::array<int, kMarkedFieldCount + 1> field_line{};
    std::array<int, kOptionGroupCount + 1> group_line{};
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        auto fail = [&](const std::string& what) {
            return base::Fail(file + ":" + std::to_string(number) + ": " + what);
        };
        if (line.find('\0') != std::string_view::npos) return fail("a NUL byte in the line");
        if (const auto hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        line = Trim(line);
        if (line.empty()) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) return fail("expected key = value, got " + Quote(line));
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        base::Result<SettingValue> v = ParseSetting(key, value);
        if (!v.ok()) return fail(v.message());
        int& seen = v->field != 0 ? field_line[static_cast<std::size_t>(v->field)]
                                  : group_line[static_cast<std::size_t>(v->group)];
        if (seen != 0) {
            return fail(std::string(key) + " is set twice (first on line " + std::to_string(seen) +
                        ")");
        }
        seen = number;
        if (v->field != 0) {
            out.fields[static_cast<std::size_t>(v->field)] = v->text;
        } else {
            out.options[static_cast<std::size_t>(v->group)] = v->item;
        }
    }
    return out;
}

std::string FormatSettings(const FormState& state) {
    std::string out = "# Lensbay settings\n";
    for (const KeyInfo& k : kKeys) {
        if (k.field != 0) {
            const std::string& text = state.text[static_cast<std::size_t>(k.field)];
            double number = 0;
            const bool plain = text.find_first_of("#\n\r") == std::string::npos &&
                               Trim(text) == text && !text.empty();
            if (plain && SUCCEEDED(TextToReal(text, &number))) {
                out += std::string(k.key) + " = " + text + "\n";
            } else {
                out += "# " + std::string(k.key) + ": the field holds no number, not saved\n";
            }
        } else {
            const int item = state.selected[static_cast<std::size_t>(k.group)] == 0 ? 0 : 1;
            out += std::string(k.key) + " = " + k.words[item] + "\n";
        }
    }
    return out;
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

base::Result<Settings> LoadSettingsFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    const base::Result<> r = ReadWholeFile(path, &bytes);
    if (!r.ok() && r.error().code == kFileMissing)
        return base::Fail(base::Shown(path) + ": no such file");
    if (!r.ok()) return base::Fail(base::Shown(path) + ": can't read: " + r.message());
    if (bytes.size() > kMaxSettingsSize) {
        return base::Fail(base::Shown(path) + ": too large for a settings file (" +
                          std::to_string(bytes.size()) + " bytes)");
    }
    return ParseSettings(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
}

base::Result<> SaveSettingsFile(const std::string& path, const FormState& state) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return base::Fail("bad settings file name " + Quote(path));
    }
    const std::string text = FormatSettings(state);
    const base::Result<> r =
        WriteWholeFile(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (!r.ok()) return base::Fail(base::Shown(path) + ": can't write: " + r.message());
    return {};
}

}  // namespace panel

#include "panel/settings_file.h"

#include <array>

#include "panel/field_numbers.h"
#include "panel/file_io.h"
#include "platform/base/shown.h"
#include "platform/base/text.h"

namespace panel {
namespace {

// Files larger than this are not settings files.
constexpr std::size_t kMaxSettingsSize = 64 * 1024;

// At most this many characters of the user's text in a message.
std::string Quote(std::string_view s) { return QuoteFieldText(std::string(s)); }

}  // namespace

base::Result<Settings> ParseSettings(std::string_view text, const std::string& file) {
    constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        text.remove_prefix(kByteOrderMark.size());
    }
    Settings out;
    std::array<int, kSettingKeys.size()> seen_on{};  // the line of each key, by its place
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
        line = base::Trim(line, " \t\r");
        if (line.empty()) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            return fail("expected key = value, got " + ShownSettingText(line));
        }
        const std::string_view key = base::Trim(line.substr(0, eq), " \t\r");
        if (const SettingKey* k = FindSettingKey(key)) {
            int& seen = seen_on[static_cast<std::size_t>(k - kSettingKeys.data())];
            if (seen != 0) {
                return fail(std::string(k->key) + " is set twice (first on line " +
                            std::to_string(seen) + ")");
            }
            seen = number;
        }
        if (base::Result<> added = AddSetting(key, line.substr(eq + 1), &out); !added) {
            return fail(added.message());
        }
    }
    return out;
}

std::string FormatSettings(const FormState& state) {
    std::string out = "# Lensbay settings\n";
    for (const SettingKey& k : kSettingKeys) {
        if (k.field == 0 && k.group == 0) continue;  // a control the window does not show
        if (k.field != 0) {
            const std::optional<int> value =
                SavedFieldValue(k.field, state.text[static_cast<std::size_t>(k.field)]);
            if (value) {
                out += std::string(k.key) + " = " + std::to_string(*value) + "\n";
            } else {
                out += "# " + std::string(k.key) + ": the field holds no whole number of " +
                       std::to_string(k.control->min) + ".." + std::to_string(k.control->max) +
                       ", not saved\n";
            }
        } else {
            const int item = state.selected[static_cast<std::size_t>(k.group)] == 0 ? 0 : 1;
            out += std::string(k.key) + " = " + k.words[item] + "\n";
        }
    }
    return out;
}

base::Result<Settings> LoadSettingsFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    const base::Result<> r = ReadWholeFile(path, &bytes, kMaxSettingsSize);
    if (!r.ok() && r.error().Is(base::FileStep::kMissing))
        return base::Fail(base::Shown(path) + ": no such file");
    if (!r.ok() && r.error().Is(base::FileStep::kTooLarge))
        return base::Fail(base::Shown(path) + ": too large for a settings file (" + r.message() +
                          ")");
    if (!r.ok()) return base::Fail(base::Shown(path) + ": can't read: " + r.message());
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

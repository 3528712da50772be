#include "panel/register_record.h"

#include <ctime>

namespace panel {
namespace {

constexpr const char* kNames[kChipRegisterCount] = {"FCTL", "EXCTL", "GCTL", "FRCTL",
                                                    "MCTL", "HWCTL", "VWCTL"};

}  // namespace

const char* RegisterName(ChipRegister r) { return kNames[static_cast<int>(r)]; }

std::optional<ChipRegister> RegisterByName(std::string_view name) {
    for (int i = 0; i < kChipRegisterCount; ++i) {
        if (name == kNames[i]) return static_cast<ChipRegister>(i);
    }
    return std::nullopt;
}

void RegisterRecord::Written(ChipRegister r, std::uint8_t value, Clock::time_point when) {
    entries_[static_cast<std::size_t>(r)] = Entry{Entry::kValue, value, when};
}

void RegisterRecord::Reset(Clock::time_point when) {
    for (Entry& e : entries_) e = Entry{Entry::kDefault, 0, when};
}

std::string RegisterRecord::Text(ChipRegister r) const {
    const Entry& e = Get(r);
    switch (e.state) {
        case Entry::kValue:
            return std::to_string(e.value);
        case Entry::kDefault:
            return "default";
        default:
            return "unknown";
    }
}

std::string Iso8601(RegisterRecord::Clock::time_point when) {
    const std::time_t t = RegisterRecord::Clock::to_time_t(when);
    std::tm tm{};
    if (!::gmtime_r(&t, &tm)) return "1970-01-01T00:00:00Z";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return "";
    return text;
}

}  // namespace panel

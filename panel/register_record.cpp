#include "panel/register_record.h"

#include <cstdio>
#include <ctime>

namespace panel {
namespace {

constexpr const char* kNames[kChipRegisterCount] = {"FCTL", "EXCTL", "GCTL", "FRCTL",
                                                    "MCTL", "HWCTL", "VWCTL"};
constexpr const char* kAddresses[kChipRegisterCount] = {"0001", "0010", "0011", "0100",
                                                        "0101", "0110", "0111"};

}  // namespace

const char* RegisterName(ChipRegister r) { return kNames[static_cast<int>(r)]; }

const char* RegisterAddress(ChipRegister r) { return kAddresses[static_cast<int>(r)]; }

std::uint8_t RegisterResetValue(ChipRegister r) { return r == ChipRegister::kExctl ? 0x40 : 0; }

std::optional<ChipRegister> RegisterByName(std::string_view name) {
    for (int i = 0; i < kChipRegisterCount; ++i) {
        if (name == kNames[i]) return static_cast<ChipRegister>(i);
    }
    return std::nullopt;
}

void RegisterRecord::Written(ChipRegister r, std::uint8_t value, Clock::time_point when) {
    entries_[static_cast<std::size_t>(r)] = Entry{Entry::kValue, value, when, writer_};
    if (mirror_) mirror_->Written(r, value, when);
    Changed();
}

void RegisterRecord::Reset(Clock::time_point when) {
    for (Entry& e : entries_) e = Entry{Entry::kDefault, 0, when, writer_};
    if (mirror_) mirror_->Reset(when);
    Changed();
}

void RegisterRecord::Clear() {
    entries_ = {};
    if (mirror_) mirror_->Clear();
    Changed();
}

void RegisterRecord::Changed() {
    if (on_change_) on_change_();
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

std::optional<std::uint8_t> RegisterRecord::Holds(ChipRegister r) const {
    const Entry& e = Get(r);
    if (e.state == Entry::kValue) return e.value;
    if (e.state == Entry::kDefault) return RegisterResetValue(r);
    return std::nullopt;
}

std::string Iso8601(RegisterRecord::Clock::time_point when) {
    const std::time_t t = RegisterRecord::Clock::to_time_t(when);
    std::tm tm{};
    if (!::gmtime_r(&t, &tm)) return "1970-01-01T00:00:00Z";
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) return "";
    return text;
}

std::string Iso8601Millis(RegisterRecord::Clock::time_point when) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const auto since = duration_cast<milliseconds>(when.time_since_epoch()).count();
    // The whole seconds below the time (floor, also before 1970), then the milliseconds.
    const long long ms = ((since % 1000) + 1000) % 1000;
    std::string text = Iso8601(RegisterRecord::Clock::time_point(milliseconds(since - ms)));
    if (text.size() < 2) return text;
    char part[8];
    std::snprintf(part, sizeof part, ".%03lld", ms);
    return text.insert(text.size() - 1, part);
}

}  // namespace panel

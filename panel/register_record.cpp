#include "panel/register_record.h"

#include <cstdio>
#include <ctime>

namespace panel {

const char* RegisterName(ChipRegister r) { return chip::Info(r).name; }

const char* RegisterAddress(ChipRegister r) {
    // One text per register, made once from the description.
    static const auto texts = [] {
        std::array<chip::AddressBits, kChipRegisterCount> t{};
        for (int i = 0; i < kChipRegisterCount; ++i)
            t[static_cast<std::size_t>(i)] = chip::AddressText(chip::kRegisters[i].address);
        return t;
    }();
    return texts[static_cast<std::size_t>(r)].text;
}

std::uint8_t RegisterResetValue(ChipRegister r) { return chip::Info(r).reset; }

std::optional<ChipRegister> RegisterByName(std::string_view name) {
    for (const chip::RegisterInfo& r : chip::kRegisters) {
        if (name == r.name) return r.id;
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

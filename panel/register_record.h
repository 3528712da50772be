// What this session wrote to each of the chip's control registers (they cannot be read back):
// the last register value written (before bit reversal) and when, "default" after Default
// Setting's reset, "unknown" before either.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace panel {

// In the order the record is listed.
enum class ChipRegister { kFctl, kExctl, kGctl, kFrctl, kMctl, kHwctl, kVwctl };
constexpr int kChipRegisterCount = 7;

const char* RegisterName(ChipRegister r);
// By name (FCTL, EXCTL, ...); nullopt for anything else.
std::optional<ChipRegister> RegisterByName(std::string_view name);

class RegisterRecord {
public:
    using Clock = std::chrono::system_clock;
    struct Entry {
        enum State { kUnknown, kValue, kDefault } state = kUnknown;
        std::uint8_t value = 0;    // with kValue
        Clock::time_point when{};  // with kValue and kDefault
    };

    // `value` reached the register (its strobe went out).
    void Written(ChipRegister r, std::uint8_t value, Clock::time_point when = Clock::now());
    // The chip was reset: every register holds its default.
    void Reset(Clock::time_point when = Clock::now());

    const Entry& Get(ChipRegister r) const { return entries_[static_cast<std::size_t>(r)]; }
    // "0".."255", "default" or "unknown".
    std::string Text(ChipRegister r) const;

private:
    std::array<Entry, kChipRegisterCount> entries_{};
};

// A time as ISO 8601 in UTC with seconds, e.g. "2026-12-08T03:40:54Z".
std::string Iso8601(RegisterRecord::Clock::time_point when);

}  // namespace panel

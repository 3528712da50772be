// What was written to each of the chip's control registers (they cannot be read back): the last
// register value written (before bit reversal), when and by which program, "default" after
// Default Setting's reset, "unknown" before either. A panel keeps one for its own session; the
// board's record (board_record.h) keeps one for every program that writes to the board.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/chip/sx540.h"

namespace panel {

// The chip's registers (platform/chip/sx540.h), in the order the record lists them.
using ChipRegister = chip::Register;
constexpr int kChipRegisterCount = chip::kRegisterCount;

const char* RegisterName(ChipRegister r);
// By name (FCTL, EXCTL, ...); nullopt for anything else.
std::optional<ChipRegister> RegisterByName(std::string_view name);
// The A[3:0] switch setting that selects the register, A3 first ("0010" for EXCTL).
const char* RegisterAddress(ChipRegister r);
// The value the chip holds after power-on and after Default Setting's reset (EXCTL 64, with
// automatic exposure on; every other register 0).
std::uint8_t RegisterResetValue(ChipRegister r);

class RegisterRecord {
public:
    using Clock = std::chrono::system_clock;
    struct Entry {
        enum State { kUnknown, kValue, kDefault } state = kUnknown;
        std::uint8_t value = 0;    // with kValue
        Clock::time_point when{};  // with kValue and kDefault
        std::string by;            // the program that wrote it ("" when not said)
    };

    RegisterRecord() = default;
    // A copy is the entries and the writer's name alone: neither the mirror nor the listener.
    RegisterRecord(const RegisterRecord& other)
        : entries_(other.entries_), writer_(other.writer_) {}
    RegisterRecord& operator=(const RegisterRecord& other) {
        entries_ = other.entries_;
        writer_ = other.writer_;
        return *this;
    }

    // `value` reached the register (its strobe went out).
    void Written(ChipRegister r, std::uint8_t value, Clock::time_point when = Clock::now());
    // The chip was reset: every register holds its default.
    void Reset(Clock::time_point when = Clock::now());
    // The chip was powered off and on: nothing is known to be written.
    void Clear();
    // Puts an entry as it is (a record read back from its file).
    void Put(ChipRegister r, const Entry& entry) { entries_[static_cast<std::size_t>(r)] = entry; }

    const Entry& Get(ChipRegister r) const { return entries_[static_cast<std::size_t>(r)]; }
    // "0".."255", "default" or "unknown".
    std::string Text(ChipRegister r) const;
    // The value the chip holds as far as the record tells: the value written, the reset value
    // after a reset; nullopt when unknown.
    std::optional<std::uint8_t> Holds(ChipRegister r) const;

    // The name entries written from now on carry in `by` ("lensbay set").
    void SetWriter(std::string writer) { writer_ = std::move(writer); }
    const std::string& Writer() const { return writer_; }
    // Every change is made in `also` as well (not owned; null: none), under its own writer's name.
    void Mirror(RegisterRecord* also) { mirror_ = also; }
    // Called after each change (Written, Reset, Clear).
    void OnChange(std::function<void()> listener) { on_change_ = std::move(listener); }

private:
    void Changed();
    std::array<Entry, kChipRegisterCount> entries_{};
    std::string writer_;
    RegisterRecord* mirror_ = nullptr;
    std::function<void()> on_change_;
};

// A time as ISO 8601 in UTC with seconds, e.g. "2026-12-08T03:40:54Z".
std::string Iso8601(RegisterRecord::Clock::time_point when);
// The same with milliseconds, e.g. "2026-12-08T03:40:54.120Z".
std::string Iso8601Millis(RegisterRecord::Clock::time_point when);

}  // namespace panel

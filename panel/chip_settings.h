// The chip's controls as typed values: each number within its control's range, each option its
// item (0: the word that sets the bit, 1: the one that clears it), any control absent (not to be
// written). Checked against the chip's description (platform/chip/sx540.h) here and nowhere else,
// with one set of messages; `lensbay set`, `reset` and `capture`, settings files, the console and
// the element all speak it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/result.h"
#include "platform/chip/sx540.h"

namespace panel {

class ChipSettings {
public:
    // Gives the control (its place in chip::kControls) a value. Fails, the control unchanged,
    // with RangeFault's message when the value lies outside the control's range.
    base::Result<> Set(int control, int value);
    void Clear(int control) { values_[static_cast<std::size_t>(control)].reset(); }
    const std::optional<int>& Get(int control) const {
        return values_[static_cast<std::size_t>(control)];
    }
    bool Given(int control) const { return Get(control).has_value(); }
    // Whether any control of the register is given.
    bool Touches(chip::Register reg) const;
    bool empty() const;

    // The register value that the given controls of `reg` make: each one's bits, those not given
    // clear (so an option not given is its second word, a window half not given block 0).
    std::uint8_t RegisterValue(chip::Register reg) const;

private:
    std::array<std::optional<int>, chip::kControlCount> values_{};
};

// Whether `value` lies in the control's range (and on its step).
bool InRange(const chip::Control& control, int value);
// "exposure = 200 is outside 0..127", the control named as `shown` ("h-start" for the element's
// property, the settings key elsewhere).
std::string RangeFault(const chip::Control& control, std::string_view shown, int value);
// The same with the value as it was typed ("exposure = 1e3 is outside 0..127").
std::string RangeFault(const chip::Control& control, std::string_view shown,
                       std::string_view value);

}  // namespace panel

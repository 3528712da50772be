#include "panel/chip_settings.h"

#include <algorithm>

namespace panel {

bool InRange(const chip::Control& c, int value) {
    return value >= c.min && value <= c.max && (value - c.min) % c.step == 0;
}

std::string RangeFault(const chip::Control& c, std::string_view shown, std::string_view value) {
    std::string text = std::string(shown) + " = " + std::string(value) + " is outside " +
                       std::to_string(c.min) + ".." + std::to_string(c.max);
    if (c.step != 1) text += " step " + std::to_string(c.step);
    return text;
}

std::string RangeFault(const chip::Control& c, std::string_view shown, int value) {
    return RangeFault(c, shown, std::to_string(value));
}

base::Result<> ChipSettings::Set(int control, int value) {
    const chip::Control& c = chip::kControls[control];
    if (c.kind == chip::ControlKind::kReset || !InRange(c, value))
        return base::Fail(RangeFault(c, c.name, value));
    values_[static_cast<std::size_t>(control)] = value;
    return {};
}

bool ChipSettings::Touches(chip::Register reg) const {
    for (int i = 0; i < chip::kControlCount; ++i)
        if (chip::kControls[i].reg == reg && Given(i)) return true;
    return false;
}

bool ChipSettings::empty() const {
    return std::none_of(values_.begin(), values_.end(),
                        [](const auto& v) { return v.has_value(); });
}

std::uint8_t ChipSettings::RegisterValue(chip::Register reg) const {
    std::uint8_t value = 0;
    for (int i = 0; i < chip::kControlCount; ++i) {
        if (chip::kControls[i].reg == reg && Given(i))
            value = static_cast<std::uint8_t>(value | chip::PartOf(chip::kControls[i], *Get(i)));
    }
    return value;
}

}  // namespace panel

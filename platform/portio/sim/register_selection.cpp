// The switch setting named in a register-selection prompt ("Please select EXCTL register
// A[3:0]=0010"), which the simulated board's switches follow. The panel's prompts carry the
// marker by contract (docs/architecture.md); this is the only place that reads it.
#include <string_view>

#include "platform/portio/sim/board_operator.h"

namespace sim {

bool ParseRegisterSelection(const std::string& text, std::uint8_t* a) {
    constexpr std::string_view kMarker = "A[3:0]=";
    const std::string_view view(text);
    const auto at = view.find(kMarker);
    if (at == std::string_view::npos || a == nullptr) return false;
    const std::string_view digits = view.substr(at + kMarker.size());
    if (digits.size() < 4) return false;
    std::uint8_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = digits[i];
        if (c != '0' && c != '1') return false;
        value = static_cast<std::uint8_t>((value << 1) | (c - '0'));
    }
    // "=00101" names no four-bit setting.
    if (digits.size() > 4 && digits[4] >= '0' && digits[4] <= '9') return false;
    *a = value;
    return true;
}

}  // namespace sim

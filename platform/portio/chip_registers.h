// The camera chip's control registers as the evaluation board selects them on its A[3:0]
// switches: each register's address and name, in address order. The simulated board and the
// panel's records name registers from here.
#pragma once

#include <cstdint>

namespace portio {

struct ChipRegisterName {
    std::uint8_t address;  // on A[3:0]
    const char* name;
};
inline constexpr ChipRegisterName kChipRegisters[] = {
    {0x1, "FCTL"}, {0x2, "EXCTL"}, {0x3, "GCTL"},  {0x4, "FRCTL"},
    {0x5, "MCTL"}, {0x6, "HWCTL"}, {0x7, "VWCTL"},
};
inline constexpr int kChipRegisterCount = sizeof kChipRegisters / sizeof kChipRegisters[0];

// The name of the register at `address` on A[3:0]; null for an address that selects none.
constexpr const char* ChipRegisterAt(unsigned address) {
    for (const ChipRegisterName& r : kChipRegisters)
        if (r.address == address) return r.name;
    return nullptr;
}

}  // namespace portio

// The parallel port the evaluation board is wired to: its base address and its registers, as
// every backend, the simulated board, Pinbus's default address and the panel name them. The
// port's name in messages and lock files is its base address (PortName(): "0x378").
#pragma once

#include <cstdint>
#include <string>

namespace portio {

inline constexpr std::uint16_t kPortBase = 0x378;
inline constexpr std::uint16_t kDataPort = kPortBase;         // data lines D0..D7
inline constexpr std::uint16_t kStatusPort = kPortBase + 1;   // status lines (read only)
inline constexpr std::uint16_t kControlPort = kPortBase + 2;  // control lines, data direction
inline constexpr std::uint16_t kEcrPort = kPortBase + 0x402;  // the extended control register

// The port as messages and lock files name it: "0x378".
inline std::string PortName(unsigned long base = kPortBase) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    do {
        hex.insert(hex.begin(), kDigits[base & 0xF]);
        base >>= 4;
    } while (base != 0);
    return "0x" + hex;
}

}  // namespace portio

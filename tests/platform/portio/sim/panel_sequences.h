// The port sequences the panel drives the board with, written straight onto a Board.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/portio/sim/board.h"

namespace simtest {

inline void StartUp(sim::Board& b) {
    b.Write(sim::kEcrPort, 0x20);
    b.Write(sim::kControlPort, 0x20);
    b.Write(sim::kControlPort, 0x27);
}

// One register write cycle with the user setting the switches at the prompt, then back to VPORT.
inline void SetRegister(sim::Board& b, sim::Register r, std::uint8_t chip_value) {
    b.Write(sim::kControlPort, r == sim::FRCTL ? 0x00 : 0x08);
    b.SetSwitches(r);
    b.Write(sim::kDataPort, sim::ReverseBits(chip_value));
    b.Write(sim::kControlPort, 0x09);
    b.Write(sim::kControlPort, 0x08);
    b.Write(sim::kControlPort, 0x28);
    b.SetSwitches(sim::VPORT);
    b.Write(sim::kControlPort, 0x22);
}

inline void DefaultSetting(sim::Board& b) {
    b.Write(sim::kControlPort, 0x08);
    b.Write(sim::kDataPort, 0x80);
    b.SetSwitches(sim::FCTL);
    b.Write(sim::kControlPort, 0x09);
    b.Write(sim::kControlPort, 0x00);
    b.Write(sim::kDataPort, 0x00);
    b.Write(sim::kControlPort, 0x09);
    b.Write(sim::kControlPort, 0x08);
    b.SetSwitches(sim::VPORT);
    b.Write(sim::kControlPort, 0x22);
}

// A frame read as the panel does it: `count` bytes, each stored bit-reversed back.
inline std::vector<std::uint8_t> ReadFrame(sim::Board& b, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(count);
    b.Write(sim::kControlPort, 0x27);
    b.Write(sim::kControlPort, 0x2F);
    b.Write(sim::kControlPort, 0x2B);
    for (std::size_t i = 0; i < count; ++i) {
        bytes.push_back(sim::ReverseBits(b.Read(sim::kDataPort)));
        b.Write(sim::kControlPort, 0x2A);
        b.Write(sim::kControlPort, 0x2B);
    }
    b.Write(sim::kControlPort, 0x27);
    return bytes;
}

}  // namespace simtest

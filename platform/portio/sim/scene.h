// The picture the simulated sensor sees: a deterministic synthetic scene of 384 x 288 pixels,
// rendered through the chip's exposure, gain and tone settings.
#pragma once

#include <cstdint>

#include "platform/portio/sim/board.h"

namespace sim {

// The chip settings the picture depends on (chip register values).
struct SceneSettings {
    bool agc = true;
    std::uint8_t exposure = 0x40;  // EXCTL, bits 6..0 used
    std::uint8_t gain = 0;         // GCTL, bits 2..0 used
    std::uint8_t divider = 0;      // FRCTL: frame-rate divider minus one
    std::uint8_t mctl = 0;         // MCTL bits 7..4
};

// The settings the board's chip works with now.
SIM_EXPORT SceneSettings SettingsOf(const Board& board);

// Renders the whole sensor at scene time `time` into pixels[row * kSensorWidth + column]
// (kSensorWidth * kSensorHeight bytes), row 0 being the bottom row of the picture.
// The same settings and time always give the same pixels.
SIM_EXPORT void RenderScene(const SceneSettings& settings, std::uint64_t time,
                            std::uint8_t* pixels);

}  // namespace sim

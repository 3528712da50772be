#include "sim/scene.h"

namespace sim {

SceneSettings SettingsOf(const Board& board) {
    SceneSettings s;
    s.agc = board.Agc();
    s.exposure = board.RegisterValue(EXCTL);
    s.gain = board.RegisterValue(GCTL);
    s.divider = board.RegisterValue(FRCTL);
    s.mctl = board.RegisterValue(MCTL);
    return s;
}

void RenderScene(const SceneSettings& settings, std::uint64_t time, std::uint8_t* pixels) {
    (void)settings;
    for (int row = 0; row < kSensorHeight; ++row) {
        for (int column = 0; column < kSensorWidth; ++column) {
            pixels[row * kSensorWidth + column] =
                static_cast<std::uint8_t>((column + row + time) & 0xFF);
        }
    }
}

}  // namespace sim

#include "panel/monitor.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "panel/bitmap_file.h"
#include "panel/file_io.h"
#include "platform/base/little_endian.h"

namespace panel {
namespace {

// 16 twips per bitmap pixel, kept within int for headers that hold anything at all.
int Twips(std::int32_t pixels) {
    const std::int64_t twips = static_cast<std::int64_t>(pixels) * 16;
    return static_cast<int>(std::clamp<std::int64_t>(twips, INT_MIN, INT_MAX));
}

}  // namespace

void LoadMonitor(MonitorWindow& monitor, UserInterface& ui, const std::string& path) {
    std::uint8_t header[kHeightOffset + 4] = {};
    std::size_t got = 0;
    std::int32_t width = 0, height = 0;
    if (ReadFileStart(path, header, sizeof header, &got).ok() && got == sizeof header) {
        width = static_cast<std::int32_t>(base::GetLe32(header + kWidthOffset));
        height = static_cast<std::int32_t>(base::GetLe32(header + kHeightOffset));
    }
    monitor.SetHeightTwips(Twips(height));
    monitor.SetWidthTwips(Twips(width));
    if (!monitor.LoadPicture(path)) ui.MessageBox(kMonitorMessageTitle, kMonitorMessage);
}

}  // namespace panel

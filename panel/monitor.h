// The monitor window's load step: its size from the header of "image.bmp", then the picture.
#pragma once

#include <string>

#include "panel/user_interface.h"

namespace panel {

inline constexpr char kMonitorMessage[] = "Couldn't find the .BMP file.";
inline constexpr char kMonitorMessageTitle[] = "SX540 Camera Control Panel";

// Reads the width W (offset 18) and height H (offset 22) of the bitmap, sets the window's height
// to 16 * H twips, then its width to 16 * W twips, and loads the file as the picture. When the
// picture does not load, a box says so and the window keeps its size with no picture. A file
// too short to hold the two fields (or missing) gives the size 0 x 0.
void LoadMonitor(MonitorWindow& monitor, UserInterface& ui, const std::string& path = "image.bmp");

}  // namespace panel

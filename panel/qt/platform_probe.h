// Whether Qt can start a window platform in a Wayland session. Qt ends the process when no
// platform plugin it tries can start (Wayland's plugin missing or the compositor unreachable, and
// no X display to fall back on), so the program asks first and runs the console instead.
#pragma once

#include <string>

namespace panel {

// "" when the window may go ahead (or the session is not a Wayland one: QT_QPA_PLATFORM names no
// Wayland platform and, when unset, WAYLAND_DISPLAY is not set); else why no platform can start.
std::string WaylandPlatformProblem();

}  // namespace panel

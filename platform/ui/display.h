// Whether Qt can reach a display, decided from the environment alone (no Qt needed).
#pragma once

#include <functional>

#ifndef UI_EXPORT
#define UI_EXPORT __attribute__((visibility("default")))
#endif

namespace ui {

// Reads one environment variable (std::getenv, or a test's table).
using EnvLookup = std::function<const char*(const char*)>;

// QT_QPA_PLATFORM names a platform that needs no display (offscreen, vnc, eglfs, ...), or the
// X11/Wayland platform it names (or Qt's default when unset) finds DISPLAY/WAYLAND_DISPLAY set.
// A list of platforms ("a;b") is available when any of them is.
UI_EXPORT bool DisplayAvailable(const EnvLookup& getenv);
// The same, from the process's environment.
UI_EXPORT bool DisplayAvailable();

}  // namespace ui

// ocxhost's own window, in which `activate` places the object: a top-level window where a display
// exists (GUI builds), none otherwise.
#pragma once

#include <memory>

#include "platform/com/windef.h"

namespace ocxhost {

class HostWindow {
public:
    // A window whose client area is `width` x `height` pixels; null where no window can be
    // shown (no display, or a build without the GUI).
    static std::unique_ptr<HostWindow> Create(int width, int height);
    virtual ~HostWindow() = default;
    virtual HWND Handle() const = 0;
    // Lets the window (and the object's, inside it) handle what is pending: paints, resizes.
    virtual void ProcessEvents() = 0;
};

}  // namespace ocxhost

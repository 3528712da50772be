// ocxhost's own window, in which `activate` places the object: a top-level window where a display
// exists (GUI builds), none otherwise.
#pragma once

#include <memory>
#include <string>

#include "platform/com/oleidl.h"

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

    // The object's picture through its view (IViewObject::Draw, the content aspect) over a
    // transparent `width` x `height` image, written to `path` as PNG. The view's answer, or
    // E_NOTIMPL without the GUI, or E_FAIL with *why when the file cannot be written.
    static HRESULT DrawToFile(IViewObject* view, int width, int height, const std::string& path,
                              std::string* why);
};

}  // namespace ocxhost

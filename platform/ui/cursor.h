// The application's wait cursor (the hourglass), kept balanced: setting it twice needs only one
// reset, and a reset without a set does nothing.
#pragma once

#define UI_EXPORT __attribute__((visibility("default")))

namespace ui {

// Shows the wait cursor over the application's windows while `wait` is true. Does nothing
// without a QGuiApplication.
UI_EXPORT void SetWaitCursor(bool wait);
UI_EXPORT bool WaitCursorShown();

// Shows the wait cursor for its lifetime.
class WaitCursor {
public:
    WaitCursor() { SetWaitCursor(true); }
    ~WaitCursor() { SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace ui

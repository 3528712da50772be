// What the panel's logic needs of a front end: modal boxes, the wait cursor and the monitor
// window. The Qt window, the console front end and the tests each implement it.
#pragma once

#include <string>

namespace panel {

// The monitor window that shows "image.bmp". Capture closes it, loads it afresh and shows it.
class MonitorWindow {
public:
    virtual ~MonitorWindow() = default;
    // Closes (unloads) the window when it is open; harmless otherwise.
    virtual void Close() = 0;
    // Sets the window's height, then its width, in twips (15 twips per pixel).
    virtual void SetHeightTwips(int twips) = 0;
    virtual void SetWidthTwips(int twips) = 0;
    // Loads the file as the window's background picture; false when it is missing or no picture.
    virtual bool LoadPicture(const std::string& path) = 0;
    // Shows the window, not modal.
    virtual void Show() = 0;
};

// The monitor of a front end that shows none (the camera object, the element, the frame loop,
// the benchmarks): nothing is shown, and LoadPicture answers `picture_loads`.
class NoMonitorWindow : public MonitorWindow {
public:
    explicit NoMonitorWindow(bool picture_loads = true) : picture_loads_(picture_loads) {}
    void Close() override {}
    void SetHeightTwips(int) override {}
    void SetWidthTwips(int) override {}
    bool LoadPicture(const std::string&) override { return picture_loads_; }
    void Show() override {}

private:
    bool picture_loads_;
};

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A modal box with the title, the text, an OK button only and no icon. Returns when the user
    // has pressed OK or closed the box.
    virtual void MessageBox(const std::string& title, const std::string& text) = 0;
    // The main window's mouse pointer: the hourglass while true, the default otherwise.
    virtual void SetWaitCursor(bool wait) = 0;
    virtual MonitorWindow& Monitor() = 0;
    // The form state changed outside a handler's end (Default Setting's reset, before its
    // prompt): a window shows the fields and options now.
    virtual void FormChanged() {}
};

}  // namespace panel

// Lensbay's Qt front end: the main window, its message boxes, wait cursor and monitor window,
// and with the simulated board, the board's own window.
#pragma once

#include "panel/qt/monitor_window.h"
#include "panel/user_interface.h"

struct IDispatch;

namespace portio {
class BoardOperator;
}

namespace panel::qt {

// What the panel needs of the Qt front end.
class QtUserInterface : public UserInterface {
public:
    void MessageBox(const std::string& title, const std::string& text) override;
    void SetWaitCursor(bool wait) override;
    MonitorWindow& Monitor() override { return monitor_; }
    QtMonitorWindow& QtMonitor() { return monitor_; }

private:
    QtMonitorWindow monitor_;
};

}  // namespace panel::qt

// Creates the QApplication when there is none, runs the window's load handler (whose
// "Operation Notice" prompt comes before the window appears), shows the main window and runs
// the event loop until it is closed. With a board operator (null for none), the board's switches
// follow the prompts from the very first one and its window opens beside the main window.
// Returns the exit code.
__attribute__((visibility("default"))) int RunQtFrontEnd(int argc, char** argv, IDispatch* pinbus1,
                                                         IDispatch* pinbus2,
                                                         portio::BoardOperator* board);

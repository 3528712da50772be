// Lensbay's Qt front end: the main window, its message boxes, wait cursor and monitor window,
// and with the simulated board, the board's own window.
#pragma once

#include <functional>

#include "panel/qt/monitor_window.h"
#include "panel/user_interface.h"

struct IDispatch;

namespace portio {
class BoardOperator;
}
namespace panel {
class KeptBoardRecord;
}

namespace panel::qt {

// What the panel needs of the Qt front end.
class QtUserInterface : public UserInterface {
public:
    void MessageBox(const std::string& title, const std::string& text) override;
    void SetWaitCursor(bool wait) override;
    MonitorWindow& Monitor() override { return monitor_; }
    QtMonitorWindow& QtMonitor() { return monitor_; }
    void FormChanged() override {
        if (on_form_changed) on_form_changed();
    }
    // Shows the form state in the main window (set once the window exists).
    std::function<void()> on_form_changed;

private:
    QtMonitorWindow monitor_;
};

class MainWindow;
// The window shows the form as soon as the panel says it changed (Default Setting's reset,
// before its prompt).
void ConnectFormChanges(QtUserInterface& ui, MainWindow& window);

}  // namespace panel::qt

// Creates the QApplication when there is none, runs the window's load handler (whose
// "Operation Notice" prompt comes before the window appears), shows the main window and runs
// the event loop until it is closed. With a board operator (null for none), the board's switches
// follow the prompts from the very first one and its window opens beside the main window.
// With --live or --inspector among the arguments, the live view or the inspector opens
// beside the main window. The panel's writes are noted in `record` (the board's record, not
// owned; null: none), which the registers window shows. Returns the exit code.
__attribute__((visibility("default"))) int RunQtFrontEnd(int argc, char** argv, IDispatch* pinbus1,
                                                         IDispatch* pinbus2,
                                                         portio::BoardOperator* board,
                                                         panel::KeptBoardRecord* record = nullptr);

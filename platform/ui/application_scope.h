// Internal to the ui library: makes sure a QApplication is there for a window to be shown.
#pragma once

#include <QApplication>
#include <memory>

namespace ui {

// Uses the running QApplication; when there is none and a display (or an explicit Qt platform)
// is available, creates a temporary one for the scope's life. ok() is false when no window can
// be shown: no display, a non-widget application object, or a call from another thread.
class ApplicationScope {
public:
    ApplicationScope();
    ~ApplicationScope();
    ApplicationScope(const ApplicationScope&) = delete;
    ApplicationScope& operator=(const ApplicationScope&) = delete;
    bool ok() const { return ok_; }

private:
    std::unique_ptr<QApplication> temporary_;
    bool ok_ = false;
};

// A new QApplication when there is none and a display (or an explicit Qt platform) is
// available; null otherwise.
std::unique_ptr<QApplication> CreateApplication();

// Whether modal windows are shown (SetModalWindowsShown).
bool ModalWindowsShown();

// Runs the test hook (if any) on the widget once its event loop has started.
void ScheduleShownHook(QWidget* widget);

}  // namespace ui

// ocxhost's window in a GUI build: a plain widget, through the handles platform/ui gives widgets.
#include <QCoreApplication>
#include <QWidget>

#include "platform/ui/window_handles.h"
#include "tools/ocxhost/host_window.h"

namespace ocxhost {
namespace {

class QtHostWindow : public HostWindow {
public:
    QtHostWindow(int width, int height) {
        widget_.setObjectName(QStringLiteral("ocxhost"));
        widget_.setWindowTitle(QStringLiteral("ocxhost"));
        widget_.resize(width, height);
        widget_.show();
    }
    HWND Handle() const override { return ui::HandleOfWidget(const_cast<QWidget*>(&widget_)); }
    void ProcessEvents() override { QCoreApplication::processEvents(); }

private:
    QWidget widget_;
};

}  // namespace

std::unique_ptr<HostWindow> HostWindow::Create(int width, int height) {
    // The window (and the object's) stays open between commands: the application must too.
    if (!ui::KeepApplication()) return nullptr;
    return std::make_unique<QtHostWindow>(width, height);
}

}  // namespace ocxhost

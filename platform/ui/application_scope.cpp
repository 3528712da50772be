#include "platform/ui/application_scope.h"

#include <QThread>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <utility>

#include "platform/ui/dialogs.h"

namespace ui {
namespace {

bool DisplayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

std::function<void(void*)>& ShownHook() {
    static std::function<void(void*)> hook;
    return hook;
}

}  // namespace

ApplicationScope::ApplicationScope() {
    QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr) {
        // Widgets need a QApplication and its own thread.
        ok_ = qobject_cast<QApplication*>(app) != nullptr &&
              QThread::currentThread() == app->thread();
        return;
    }
    if (!DisplayAvailable()) return;
    // QApplication keeps references to argc and argv for its whole life.
    static int argc = 1;
    static char name[] = "lensbay";
    static char* argv[] = {name, nullptr};
    temporary_ = std::make_unique<QApplication>(argc, argv);
    ok_ = true;
}

ApplicationScope::~ApplicationScope() = default;

void ScheduleShownHook(QWidget* widget) {
    if (!ShownHook()) return;
    // Queued so that it runs inside the dialog's own event loop, where closing it ends exec().
    QTimer::singleShot(0, widget, [widget] {
        if (auto hook = ShownHook()) hook(widget);
    });
}

void SetDialogShownHookForTesting(std::function<void(void* widget)> hook) {
    ShownHook() = std::move(hook);
}

}  // namespace ui

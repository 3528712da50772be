#include "platform/ui/cursor.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>

namespace ui {
namespace {
bool g_shown = false;
}

void SetWaitCursor(bool wait) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        g_shown = false;
        return;
    }
    if (wait && !g_shown) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        g_shown = true;
        // The caller is about to run without returning to the event loop: let the window system
        // see the new cursor now, without taking any user input.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    } else if (!wait && g_shown) {
        QGuiApplication::restoreOverrideCursor();
        g_shown = false;
    }
}

bool WaitCursorShown() { return g_shown; }

}  // namespace ui

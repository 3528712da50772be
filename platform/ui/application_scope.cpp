#include "platform/ui/application_scope.h"

#include <QThread>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "platform/ui/dialogs.h"
#include "platform/ui/display.h"

namespace ui {
namespace {

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
    temporary_ = CreateApplication();
    ok_ = temporary_ != nullptr;
}

ApplicationScope::~ApplicationScope() = default;

std::unique_ptr<QApplication> CreateApplication() {
    if (!DisplayAvailable()) return nullptr;
    // A display that is named but cannot be reached (no server, no permission) makes Qt abort
    // when its platform is the only choice. With "minimal" behind it as a fallback Qt comes up
    // on that instead, which shows nothing: then no window can be shown here.
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    std::string platforms = chosen != nullptr && *chosen != '\0' ? chosen
                            : std::getenv("DISPLAY") != nullptr && *std::getenv("DISPLAY") != '\0'
                                ? "xcb"
                                : "wayland";
    const bool minimal_asked = platforms.find("minimal") != std::string::npos;
    platforms += ";minimal";
    // QApplication keeps references to argc and argv for its whole life, and takes the options
    // it reads out of argv: both are set anew for each temporary application.
    static int argc;
    static char name[] = "lensbay";
    static char option[] = "-platform";
    static std::string platform_arg;
    static char* argv[4];
    platform_arg = platforms;
    argc = 3;
    argv[0] = name;
    argv[1] = option;
    argv[2] = platform_arg.data();
    argv[3] = nullptr;
    auto app = std::make_unique<QApplication>(argc, argv);
    if (!minimal_asked && QGuiApplication::platformName() == QLatin1String("minimal"))
        return nullptr;
    return app;
}

void ScheduleShownHook(QWidget* widget) {
    if (!ShownHook()) return;
    // Queued so that it runs inside the dialog's own event loop, where closing it ends exec().
    QTimer::singleShot(0, widget, [widget] {
        if (auto hook = ShownHook()) hook(widget);
    });
}

namespace {
std::atomic<bool> g_modalWindowsShown{true};
}  // namespace

void SetModalWindowsShown(bool shown) { g_modalWindowsShown.store(shown); }

bool ModalWindowsShown() { return g_modalWindowsShown.load(); }

bool PlatformShowsNothing() {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if (chosen == nullptr || *chosen == '\0') return false;
    // A list ("offscreen;xcb") shows something when any of its platforms can.
    std::string_view rest = chosen;
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        std::string_view platform = rest.substr(0, semicolon);
        if (const std::size_t colon = platform.find(':'); colon != std::string_view::npos)
            platform = platform.substr(0, colon);  // "offscreen:option=value"
        if (platform != "offscreen" && platform != "minimal") return false;
        rest =
            semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    }
    return true;
}

void SetDialogShownHookForTesting(std::function<void(void* widget)> hook) {
    ShownHook() = std::move(hook);
}

}  // namespace ui

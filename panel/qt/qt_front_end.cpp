#include "panel/qt/qt_front_end.h"

#include <dlfcn.h>

#include <QApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "panel/panel.h"
#include "panel/png/qt_png_encoder.h"
#include "panel/qt/analysis_window.h"
#include "panel/qt/app_icon.h"
#include "panel/qt/live_window.h"
#include "panel/qt/main_window.h"
#include "panel/qt/platform_probe.h"
#include "panel/qt/workbench.h"
#include "panel/startup.h"
#include "panel/window_front_end.h"
#include "platform/portio/board_operator.h"
#include "platform/portio/ending.h"
#include "platform/ui/cursor.h"
#include "platform/ui/message_box.h"

namespace panel::qt {

void QtUserInterface::MessageBox(const std::string& title, const std::string& text) {
    ui::ShowMessageBox(title, text);
}

void QtUserInterface::SetWaitCursor(bool wait) { ui::SetWaitCursor(wait); }

void ConnectFormChanges(QtUserInterface& ui, MainWindow& window) {
    ui.on_form_changed = [&window] { window.Refresh(); };
}

namespace {

// Qt's X11 platform ends the process when it cannot reach the X server, so a stale DISPLAY (a
// closed session, a login without forwarding) is checked first, through the same client library
// the platform loads. "" when the window may go ahead, else why it cannot.
std::string XServerProblem(const std::string& display) {
    if (display.empty()) return "DISPLAY is not set";
    void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) return "";  // no X client library: Qt says what it finds
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
    const auto has_error = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
    std::string problem;
    if (connect && has_error && disconnect) {
        // A failed connect still returns an object that reports the error and must be freed.
        void* connection = connect(display.c_str(), nullptr);
        if (!connection || has_error(connection) != 0)
            problem = "cannot connect to the X display '" + display + "'";
        if (connection) disconnect(connection);
    }
    ::dlclose(xcb);
    return problem;
}

// The port of the window running now, for an exit the window did not choose.
std::atomic<panel::PortArbiter*> g_window_port{nullptr};

// Qt's X11 platform ends the process with exit() when the connection to the X server breaks,
// from inside the event loop: possibly in a box of Set Register with the data lines driven, or
// with the live view inside a frame. The port is left idle on the way out, once the window's
// thread holds it (the live view's frame ends at its next cycle).
extern "C" void LeavePortIdleAtExit() {
    panel::PortArbiter* port = g_window_port.load();
    if (port == nullptr) return;
    portio::AnnounceExitEnding();
    panel::PortArbiter::Exclusive hold(*port);
    portio::EndForExit();
}

// A signal's ending on the window's thread, made as soon as the window holds the port: at once
// inside a handler's box, after the frame under way otherwise (which usually makes it first).
class SignalEnding {
public:
    explicit SignalEnding(panel::PortArbiter& port) {
        if (portio::WakeFd() < 0) return;
        notifier_ = std::make_unique<QSocketNotifier>(portio::WakeFd(), QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [&port] {
            panel::PortArbiter::Exclusive hold(port);
            portio::EndIfPending();
        });
        g_window_port.store(&port);
        static const bool registered = std::atexit(LeavePortIdleAtExit) == 0;
        if (!registered) std::fputs("lensbay: cannot register the exit ending\n", stderr);
    }
    ~SignalEnding() { g_window_port.store(nullptr); }
    SignalEnding(const SignalEnding&) = delete;
    SignalEnding& operator=(const SignalEnding&) = delete;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

class QtWindowFrontEnd final : public WindowFrontEnd {
public:
    QtWindowFrontEnd() : plan_(PlanDisplay(std::getenv)) {}

    std::string DisplayProblem() override {
        if (!plan_.available) {
            return "no display found; running the console front end (set DISPLAY or "
                   "WAYLAND_DISPLAY for the window)";
        }
        if (!plan_.check_x_server) {
            // A Wayland session where neither Wayland nor X can start would end in Qt's abort.
            const std::string wayland = WaylandPlatformProblem();
            return wayland.empty() ? "" : wayland + "; running the console front end";
        }
        const std::string problem = XServerProblem(plan_.display);
        if (problem.empty()) return "";
        return problem +
               "; running the console front end (check DISPLAY and that the X server runs)";
    }

    void ShowStartFailure(int argc, char** argv, const std::string& message) override {
        // A box nobody can see (offscreen platforms) would only hang the start.
        if (!plan_.boxes_visible) return;
        QApplication app(argc, argv);
        ui::ShowMessageBox("Lensbay", message);
    }

    int Run(int argc, char** argv, IDispatch* pinbus1, IDispatch* pinbus2,
            portio::BoardOperator* board, KeptBoardRecord* record) override {
        return RunQtFrontEnd(argc, argv, pinbus1, pinbus2, board, record);
    }

private:
    DisplayPlan plan_;
};

}  // namespace

}  // namespace panel::qt

std::unique_ptr<panel::WindowFrontEnd> panel::MakeWindowFrontEnd() {
    return std::make_unique<panel::qt::QtWindowFrontEnd>();
}

int RunQtFrontEnd(int argc, char** argv, IDispatch* pinbus1, IDispatch* pinbus2,
                  portio::BoardOperator* board, panel::KeptBoardRecord* record) {
    using namespace panel::qt;
    // QApplication keeps a reference to argc: it lives in this frame, as does the application.
    std::unique_ptr<QApplication> own;
    if (QCoreApplication::instance() == nullptr) {
        own = std::make_unique<QApplication>(argc, argv);
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "lensbay: the window needs a widget application\n");
        return 1;
    }
    // Windows without an icon of their own (the board's) show Lensbay's.
    QApplication::setWindowIcon(LensbayIcon());

    QtUserInterface ui;
    panel::Panel panel(pinbus1, pinbus2, ui);
    panel::QtPngEncoder png;
    panel.SetPngEncoder(&png);
    panel.SetBoardRecord(record, "lensbay window");
    // Before the first port cycle, so that a signal in the start-up notice is seen too.
    SignalEnding signal_ending(panel.Port());
    MainWindow window(panel);
    ConnectFormChanges(ui, window);
    Workbench workbench(
        window, panel, &png, [&window] { window.Refresh(); }, board);
    bool open_live = false, open_inspector = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        open_live = open_live || arg == "--live";
        open_inspector = open_inspector || arg == "--inspector";
    }

    // The board's switches follow the prompts from the very first one.
    std::unique_ptr<portio::BoardOperator::PromptWatch> watch;
    if (board) watch = board->WatchPrompts();

    panel.FormLoad();  // the port set-up and the "Operation Notice" prompt
    window.show();
    std::unique_ptr<portio::BoardOperator::Window> boardWindow;
    if (board) {
        const QPoint at = window.frameGeometry().topRight() + QPoint(8, 0);
        boardWindow = board->OpenWindow(at.x(), at.y());
        window.activateWindow();
        window.raise();
    }
    // Beside the main window and the board's, covering neither.
    std::vector<QWidget*> beside;
    if (open_live) beside.push_back(&workbench.OpenLive());
    if (open_inspector) beside.push_back(&workbench.OpenInspector());
    Workbench::PlaceBesideOthers(beside);
    const int status = QApplication::exec();
    ui.on_form_changed = nullptr;
    return status;
}

// lensbay: the SX540 camera control panel. The Qt window where a display is available, the
// console front end with --console or without a display.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "panel/console/console_front_end.h"
#include "panel/startup.h"
#include "platform/com/combase.h"
#include "platform/com/registry.h"
#include "platform/portio/portio.h"

#ifdef LENSBAY_HAVE_PNG
#include "panel/png/qt_png_encoder.h"
#endif

#ifdef LENSBAY_HAVE_QT_FRONT_END
#include <QApplication>

#include "panel/qt/qt_front_end.h"
#include "platform/ui/message_box.h"
#endif

#ifndef LENSBAY_PINBUS_DIR
#define LENSBAY_PINBUS_DIR "../lib/lensbay"
#endif

namespace {

// PINBUS.OCX as the start-up hint names it: beside the program in the build tree, in the
// private library folder once installed ("" when neither has it).
std::string FindPinbus() {
    std::string beside = panel::PinbusBesideExecutable();
    if (!beside.empty()) return beside;
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    std::string dir(exe, static_cast<std::size_t>(n));
    dir.erase(dir.rfind('/') + 1);
    char resolved[PATH_MAX];
    const std::string candidate = dir + LENSBAY_PINBUS_DIR "/PINBUS.OCX";
    struct stat st {};
    if (!::realpath(candidate.c_str(), resolved) || ::stat(resolved, &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return "";
    }
    return resolved;
}

#ifdef LENSBAY_HAVE_QT_FRONT_END
// Qt's X11 platform ends the process when it cannot reach the X server, so a stale DISPLAY (a
// closed session, a login without forwarding) is checked first, through the same client library
// the platform loads. "" when the window may go ahead, else why it cannot.
std::string XServerProblem() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string name = platform ? platform : "";
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    // Lists of platforms fall back by themselves; Wayland sessions are Qt's own business.
    if (name.empty() ? (wayland && *wayland) : name.substr(0, name.find(':')) != "xcb") return "";
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return "DISPLAY is not set";
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
        void* connection = connect(display, nullptr);
        if (!connection || has_error(connection) != 0)
            problem = "cannot connect to the X display '" + std::string(display) + "'";
        if (connection) disconnect(connection);
    }
    ::dlclose(xcb);
    return problem;
}
#endif

constexpr char kUsage[] =
    "Usage: lensbay [--console] [--help] [--version]\n"
    "       lensbay [--live] [--inspector]\n"
    "  The SX540 camera control panel. Opens the main window; with --console, or when no display\n"
    "  is found, runs the console front end on standard input and output instead.\n"
    "  --live and --inspector open the live view and the inspector beside the main window\n"
    "  (F5 and F6 there, or its context menu).\n"
    "  Environment: PORTIO (sim, direct or ppdev:/dev/parportN), PORTIO_TRACE (FILE or -),\n"
    "  OLE_REGISTRY (the class registry file where PINBUS.OCX is registered).\n"
    "  Exit status: 0 after the window is closed, 1 for a bad option, 2 when the Pinbus port\n"
    "  objects cannot be created, 3 when the port backend cannot be opened.\n\n";

// Says what stops the start, on standard error and, in the window front end, in a box.
void ReportStartFailure(const std::string& message, bool window, int argc, char** argv) {
    std::fprintf(stderr, "lensbay: %s\n", message.c_str());
#ifdef LENSBAY_HAVE_QT_FRONT_END
    // A box nobody can see (offscreen platforms) would only hang the start.
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string name = platform ? platform : "";
    if (window && name.rfind("offscreen", 0) != 0 && name.rfind("minimal", 0) != 0) {
        QApplication app(argc, argv);
        ui::ShowMessageBox("Lensbay", message);
    }
#else
    (void)window;
    (void)argc;
    (void)argv;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    bool console = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--console") {
            console = true;
        } else if (arg == "--live" || arg == "--inspector") {
            // The window front end opens them; the console has `live` and `inspect`.
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(panel::console::kConsoleHelp, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("lensbay %s\n", LENSBAY_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "lensbay: unknown option '%s'\n%s", arg.c_str(), kUsage);
            return 1;
        }
    }

    bool window = !console;
#ifdef LENSBAY_HAVE_QT_FRONT_END
    if (window && !panel::DisplayAvailable(std::getenv)) {
        std::fprintf(stderr,
                     "lensbay: no display found; running the console front end "
                     "(set DISPLAY or WAYLAND_DISPLAY for the window)\n");
        window = false;
    }
    if (window) {
        const std::string problem = XServerProblem();
        if (!problem.empty()) {
            std::fprintf(stderr,
                         "lensbay: %s; running the console front end (check DISPLAY and "
                         "that the X server runs)\n",
                         problem.c_str());
            window = false;
        }
    }
#else
    if (window) {
        std::fprintf(stderr,
                     "lensbay: built without the Qt front end; running the console front end\n");
        window = false;
    }
#endif

    // The port objects do every port access; this only makes sure the backend opens, so that a
    // refusal is said plainly before anything else happens. It executes no port cycle.
    std::string error;
    if (!portio::Initialize(&error)) {
        ReportStartFailure(error, window, argc, argv);
        return 3;
    }
    const HRESULT init = CoInitialize(nullptr);
    if (FAILED(init)) {
        ReportStartFailure("COM initialisation failed (" + HresultToString(init) + ")", window,
                           argc, argv);
        return 2;
    }
    if (const std::string problem = RegistryProblem(); !problem.empty()) {
        ReportStartFailure(problem, window, argc, argv);
        CoUninitialize();
        return 2;
    }
    int status = 2;
    {
        panel::PortObjects objects;
        if (!panel::CreatePortObjects(&objects, FindPinbus(), &error)) {
            ReportStartFailure(error, window, argc, argv);
        } else if (window) {
#ifdef LENSBAY_HAVE_QT_FRONT_END
            status = RunQtFrontEnd(argc, argv, objects.pinbus1.Get(), objects.pinbus2.Get());
#endif
        } else {
            panel::console::ConsoleOptions options;
            options.in = &std::cin;
            options.interactive = ::isatty(STDIN_FILENO) == 1;
#ifdef LENSBAY_HAVE_PNG
            panel::QtPngEncoder png;
            options.png_encoder = &png;
#endif
            status = panel::console::RunConsoleFrontEnd(objects.pinbus1.Get(),
                                                        objects.pinbus2.Get(), options);
        }
    }
    CoUninitialize();
    return status;
}

// lensbay: the SX540 camera control panel. The Qt window where a display is available, the
// console front end with --console or without a display.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "panel/console/console_front_end.h"
#include "panel/startup.h"
#include "platform/com/combase.h"
#include "platform/portio/portio.h"

#ifdef LENSBAY_HAVE_QT_FRONT_END
#include <QApplication>

#include "panel/qt/qt_front_end.h"
#include "platform/ui/message_box.h"
#endif

namespace {

constexpr char kUsage[] =
    "Usage: lensbay [--console] [--help] [--version]\n"
    "  The SX540 camera control panel. Opens the main window; with --console, or when no display\n"
    "  is found, runs the console front end on standard input and output instead.\n"
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
        std::fprintf(stderr, "lensbay: no display found; running the console front end\n");
        window = false;
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
    int status = 2;
    {
        panel::PortObjects objects;
        if (!panel::CreatePortObjects(&objects, panel::PinbusBesideExecutable(), &error)) {
            ReportStartFailure(error, window, argc, argv);
        } else if (window) {
#ifdef LENSBAY_HAVE_QT_FRONT_END
            status = RunQtFrontEnd(argc, argv, objects.pinbus1.Get(), objects.pinbus2.Get());
#endif
        } else {
            panel::console::ConsoleOptions options;
            options.in = &std::cin;
            options.interactive = ::isatty(STDIN_FILENO) == 1;
            status = panel::console::RunConsoleFrontEnd(objects.pinbus1.Get(),
                                                        objects.pinbus2.Get(), options);
        }
    }
    CoUninitialize();
    return status;
}

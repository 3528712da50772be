// lensbay: the SX540 camera control panel. The Qt window where a display is available, the
// console front end with --console or without a display.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "panel/cli/subcommands.h"
#include "panel/console/console_front_end.h"
#include "panel/startup.h"
#include "panel/window_front_end.h"
#include "platform/base/shown.h"
#include "platform/com/combase.h"
#include "platform/com/registry.h"
#include "platform/portio/portio.h"

#ifdef LENSBAY_HAVE_PNG
#include "panel/png/qt_png_encoder.h"
#endif

#ifndef LENSBAY_PINBUS_DIR
#define LENSBAY_PINBUS_DIR "../lib/lensbay"
#endif

namespace {

constexpr char kUsage[] =
    "Usage: lensbay [--console] [--help] [--version]\n"
    "       lensbay [--live] [--inspector]\n"
    "       lensbay set KEY=VALUE... | reset | capture [...]   (each with --help)\n"
    "  The SX540 camera control panel. Opens the main window; with --console, or when no display\n"
    "  is found, runs the console front end on standard input and output instead.\n"
    "  --live and --inspector open the live view and the inspector beside the main window\n"
    "  (F5 and F6 there, or its context menu).\n"
    "  Environment: PORTIO (sim, direct or ppdev:/dev/parportN), PORTIO_TRACE (FILE or -),\n"
    "  OLE_REGISTRY (the class registry file where PINBUS.OCX is registered).\n"
    "  Exit status: 0 after the window is closed, 1 for a bad option, 2 when the Pinbus port\n"
    "  objects cannot be created, 3 when the port backend cannot be opened.\n\n";

// A port cycle that cannot be done ends the program: the panel must not go on with a board it
// cannot reach.
[[noreturn]] void ExitOnPortFault(const base::Error& fault) {
    std::fprintf(stderr, "%s\n", fault.message.c_str());
    std::exit(3);
}

// Says what stops the start, on standard error and, in the window front end, in a box.
void ReportStartFailure(const std::string& message, panel::WindowFrontEnd* window, int argc,
                        char** argv) {
    std::fprintf(stderr, "lensbay: %s\n", message.c_str());
    if (window) window->ShowStartFailure(argc, argv, message);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && panel::cli::IsSubcommand(argv[1]))
        return panel::cli::RunSubcommand(argc, argv, panel::FindPinbus(LENSBAY_PINBUS_DIR));
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
            // Echoed safely: control characters escaped, a runaway argument cut.
            std::fprintf(stderr, "lensbay: unknown option %s\n%s", base::Shown(arg).c_str(),
                         kUsage);
            return 1;
        }
    }

    // The window front end, unless the console was asked for or cannot be avoided.
    std::unique_ptr<panel::WindowFrontEnd> window;
    if (!console) {
        window = panel::MakeWindowFrontEnd();
        if (!window) {
            std::fprintf(stderr,
                         "lensbay: built without the Qt front end; running the console front "
                         "end\n");
        } else if (const std::string problem = window->DisplayProblem(); !problem.empty()) {
            std::fprintf(stderr, "lensbay: %s\n", problem.c_str());
            window.reset();
        }
    }

    // The port objects do every port access; this only makes sure the backend opens, so that a
    // refusal is said plainly before anything else happens. It executes no port cycle.
    portio::SetFaultHandler(ExitOnPortFault);
    if (const base::Result<> opened = portio::Initialize(); !opened) {
        ReportStartFailure(opened.message(), window.get(), argc, argv);
        return 3;
    }
    // The board's operator side (its switches and window) when the backend has one.
    portio::BoardOperator* const board = portio::Operator();
    const HRESULT init = CoInitialize(nullptr);
    if (FAILED(init)) {
        ReportStartFailure("COM initialisation failed (" + HresultToString(init) + ")",
                           window.get(), argc, argv);
        return 2;
    }
    if (const base::Result<> registry = CheckClassRegistry(); !registry) {
        ReportStartFailure(registry.message(), window.get(), argc, argv);
        CoUninitialize();
        return 2;
    }
    int status = 2;
    {
        base::Result<panel::PortObjects> created =
            panel::CreatePortObjects(panel::FindPinbus(LENSBAY_PINBUS_DIR));
        const panel::PortObjects* objects = created ? &*created : nullptr;
        if (!objects) {
            ReportStartFailure(created.message(), window.get(), argc, argv);
        } else if (window) {
            status = window->Run(argc, argv, objects->pinbus1.Get(), objects->pinbus2.Get(), board);
        } else {
            panel::console::ConsoleOptions options;
            options.in = &std::cin;
            options.interactive = ::isatty(STDIN_FILENO) == 1;
            options.board = board;
#ifdef LENSBAY_HAVE_PNG
            panel::QtPngEncoder png;
            options.png_encoder = &png;
#endif
            status = panel::console::RunConsoleFrontEnd(objects->pinbus1.Get(),
                                                        objects->pinbus2.Get(), options);
        }
    }
    CoUninitialize();
    return status;
}

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
#include "panel/session.h"
#include "panel/startup.h"
#include "panel/window_front_end.h"
#include "platform/base/output.h"
#include "platform/base/shown.h"
#include "platform/portio/backend_registry.h"
#include "platform/portio/portio.h"

#ifdef LENSBAY_HAVE_PNG
#include "panel/png/qt_png_encoder.h"
#endif

#ifndef LENSBAY_PINBUS_DIR
#define LENSBAY_PINBUS_DIR "../lib/lensbay"
#endif

namespace {

// The subcommands' lines come from their table, the backends' from the port service's table.
constexpr char kUsageHead[] =
    "Usage: lensbay [--console] [--help] [--version]\n"
    "       lensbay [--live] [--inspector]\n";
constexpr char kUsageAbout[] =
    "  The SX540 camera control panel. Opens the main window; with --console, or when no display\n"
    "  is found, runs the console front end on standard input and output instead.\n"
    "  --live and --inspector open the live view and the inspector beside the main window\n"
    "  (F5 and F6 there, or its context menu).\n";
constexpr char kUsageBody[] =
    "  Environment: PORTIO, the port backend, one of\n"
    "%s"
    "  PORTIO_TRACE (FILE or -), OLE_REGISTRY (the class registry file where PINBUS.OCX is\n"
    "  registered), LENSBAY_SIM_STATE (the file that keeps the simulated board between programs;\n"
    "  default $XDG_RUNTIME_DIR/lensbay/sim-board, else /tmp/lensbay-UID/sim-board; set to\n"
    "  nothing, a fresh board in each program).\n"
    "  Exit status: 0 after the window is closed (the console: 0, or 1 when a command gave an\n"
    "  error event), 1 for a bad option or a word that names no subcommand, 2 when the Pinbus\n"
    "  port objects cannot be created, 3 when the port cannot be had (the backend cannot be\n"
    "  opened, or another program holds the port).\n\n";

void PrintUsage(std::FILE* out) {
    std::fputs(kUsageHead, out);
    std::fputs(panel::cli::SubcommandUsage().c_str(), out);
    std::fputs(kUsageAbout, out);
    std::fputs(panel::cli::SubcommandList().c_str(), out);
    std::fprintf(out, kUsageBody, portio::BackendHelp(4).c_str());
}

// Says what stops the start, on standard error and, in the window front end, in a box.
void ReportStartFailure(const std::string& message, panel::WindowFrontEnd* window, int argc,
                        char** argv) {
    std::fprintf(stderr, "lensbay: %s\n", message.c_str());
    if (window) window->ShowStartFailure(argc, argv, message);
}

int Run(int argc, char** argv) {
#ifdef LENSBAY_HAVE_PNG
    panel::QtPngEncoder png_encoder;
    panel::PngEncoder* const png = &png_encoder;
#else
    panel::PngEncoder* const png = nullptr;
#endif
    if (argc > 1 && panel::cli::IsSubcommand(argv[1]))
        return panel::cli::RunSubcommand(argc, argv, {panel::FindPinbus(LENSBAY_PINBUS_DIR), png});
    bool console = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--console") {
            console = true;
        } else if (arg == "--live" || arg == "--inspector") {
            // The window front end opens them; the console has `live` and `inspect`.
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            std::fputs(panel::console::ConsoleHelp().c_str(), stdout);
            return panel::kExitOk;
        } else if (arg == "--version") {
            std::printf("lensbay %s\n", LENSBAY_VERSION);
            return panel::kExitOk;
        } else {
            // Echoed safely: control characters escaped, a runaway argument cut.
            std::fprintf(stderr, "lensbay: unknown option %s\n", base::Shown(arg).c_str());
            PrintUsage(stderr);
            return panel::kExitFailed;
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

    // A port cycle that cannot be done ends the program; a refused backend, COM or registry
    // problem and a Pinbus that will not load are said plainly before any port cycle.
    base::Result<std::unique_ptr<panel::Session>> session =
        panel::OpenSession(panel::FindPinbus(LENSBAY_PINBUS_DIR), panel::ExitOnPortFault);
    if (!session) {
        ReportStartFailure(session.message(), window.get(), argc, argv);
        return panel::ExitStatusFor(session.error());
    }
    const panel::Session& s = **session;
    if (window)
        return window->Run(argc, argv, s.Pinbus1(), s.Pinbus2(), s.Board(), &s.BoardRecord());
    panel::console::ConsoleOptions options;
    options.in = &std::cin;
    options.interactive = ::isatty(STDIN_FILENO) == 1;
    options.board = s.Board();
    options.png_encoder = png;
    options.board_record = &s.BoardRecord();
    return panel::console::RunConsoleFrontEnd(s.Pinbus1(), s.Pinbus2(), options);
}

}  // namespace

int main(int argc, char** argv) {
    base::GuardStandardStreams();
    // Output that could not be written fails the program, whatever it did besides.
    return base::FinishOutput(Run(argc, argv));
}

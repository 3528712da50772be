// ocxhost: a control test container. It creates one object at a time through the class
// registry and drives it from standard input, one command a line, the way a form-based host
// does: automation by name or DISPID, stream persistence, and the control's own status.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/base/result.h"
#include "platform/com/combase.h"
#include "platform/com/guid_text.h"
#include "platform/com/registry.h"
#include "platform/com/variant_format.h"
#include "platform/portio/portio.h"
#include "tools/ocxhost/host.h"

#ifndef LENSBAY_VERSION
#define LENSBAY_VERSION "unknown"
#endif

#ifdef OCXHOST_WITH_UI
#include <QWidget>

#include "platform/ui/dialogs.h"
#endif

using ocxhost::Host;

int main(int argc, char** argv) {
    bool closeDialogs = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << Host::HelpText();
            return 0;
        }
        if (arg == "--version") {
            std::cout << "ocxhost " << LENSBAY_VERSION << '\n';
            return 0;
        }
        if (arg == "--close-dialogs") {
            closeDialogs = true;
            continue;
        }
        std::cerr << "ocxhost: unknown option " << arg << "\n" << Host::HelpText();
        return 1;
    }
#ifdef OCXHOST_WITH_UI
    if (closeDialogs) {
        ui::SetDialogShownHookForTesting([](void* widget) {
            auto* w = static_cast<QWidget*>(widget);
            std::cout << "dialog " << w->windowTitle().toStdString() << '\n' << std::flush;
            w->close();
        });
    } else if (ui::PlatformShowsNothing()) {
        // On a platform nobody sees (QT_QPA_PLATFORM=offscreen) a dialog would wait forever for
        // an answer: dialogs are treated as where there is no display.
        ui::SetModalWindowsShown(false);
    }
#else
    (void)closeDialogs;  // without the GUI layer no dialog is ever shown
#endif
    // A port cycle a control cannot do (an unusable PORTIO, a refused port) ends the session.
    portio::SetFaultHandler([](const base::Error& fault) {
        std::fprintf(stderr, "%s\n", fault.message.c_str());
        std::exit(3);
    });
    // Every object comes from the class registry: a broken one ends the session before it starts.
    if (const base::Result<> registry = CheckClassRegistry(); !registry) {
        std::cerr << "ocxhost: " << registry.message() << '\n';
        return 1;
    }
    if (const HRESULT hr = CoInitialize(nullptr); FAILED(hr)) {
        std::cerr << "ocxhost: COM initialisation failed (" << HresultToString(hr) << ")\n";
        return 1;
    }
    {
        Host host;
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!host.Execute(line)) break;
        }
    }
    CoUninitialize();
    return 0;
}

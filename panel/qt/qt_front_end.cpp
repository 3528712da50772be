#include "panel/qt/qt_front_end.h"

#include <QApplication>
#include <cstdio>
#include <memory>

#include "panel/panel.h"
#include "panel/png/qt_png_encoder.h"
#include "panel/qt/board_window.h"
#include "panel/qt/inspector_window.h"
#include "panel/qt/live_window.h"
#include "panel/qt/main_window.h"
#include "panel/qt/workbench.h"
#include "platform/portio/portio.h"
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

}  // namespace panel::qt

int RunQtFrontEnd(int argc, char** argv, IDispatch* pinbus1, IDispatch* pinbus2) {
    using namespace panel::qt;
    // QApplication keeps a reference to argc: it lives in this frame, as does the application.
    std::unique_ptr<QApplication> own;
    if (QCoreApplication::instance() == nullptr) {
        own = std::make_unique<QApplication>(argc, argv);
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "lensbay: the window needs a widget application\n");
        return 1;
    }

    QtUserInterface ui;
    panel::Panel panel(pinbus1, pinbus2, ui);
    panel::QtPngEncoder png;
    panel.SetPngEncoder(&png);
    MainWindow window(panel);
    ConnectFormChanges(ui, window);
    Workbench workbench(window, panel, &png, [&window] { window.Refresh(); });
    bool open_live = false, open_inspector = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        open_live = open_live || arg == "--live";
        open_inspector = open_inspector || arg == "--inspector";
    }

    // With the simulated board: its window, and its switches following the prompts from the
    // very first one.
    std::unique_ptr<BoardWindow> boardWindow;
    std::unique_ptr<PromptFollower> follower;
    if (sim::Board* board = portio::SimulatedBoard()) {
        follower = std::make_unique<PromptFollower>(*board);
        boardWindow = std::make_unique<BoardWindow>(*board);
    }

    panel.FormLoad();  // the port set-up and the "Operation Notice" prompt
    window.show();
    if (boardWindow) {
        boardWindow->adjustSize();
        boardWindow->move(window.frameGeometry().topRight() + QPoint(8, 0));
        boardWindow->show();
        window.activateWindow();
        window.raise();
    }
    if (open_live) {
        LiveWindow& live = workbench.OpenLive();
        live.move(window.frameGeometry().bottomLeft() + QPoint(0, 8));
    }
    if (open_inspector) {
        InspectorWindow& inspector = workbench.OpenInspector();
        inspector.move(window.frameGeometry().topRight() + QPoint(8, 40));
    }
    const int status = QApplication::exec();
    ui.on_form_changed = nullptr;
    return status;
}

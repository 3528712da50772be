#include "panel/qt/qt_front_end.h"

#include <QApplication>
#include <cstdio>
#include <memory>

#include "panel/panel.h"
#include "panel/qt/board_window.h"
#include "panel/qt/main_window.h"
#include "platform/portio/portio.h"
#include "platform/ui/cursor.h"
#include "platform/ui/message_box.h"

namespace panel::qt {

void QtUserInterface::MessageBox(const std::string& title, const std::string& text) {
    ui::ShowMessageBox(title, text);
}

void QtUserInterface::SetWaitCursor(bool wait) { ui::SetWaitCursor(wait); }

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
    MainWindow window(panel);

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
    return QApplication::exec();
}

#include "platform/ui/message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <optional>

#include "platform/ui/application_scope.h"

namespace ui {

void ShowMessageBox(const std::string& title, const std::string& text) {
    if (auto handler = MessageBoxHandlerForTesting()) {
        handler(title, text);
        NotifyMessageBoxAcknowledged(title, text);
        return;
    }
    std::optional<ApplicationScope> app;
    if (ModalWindowsShown()) app.emplace();
    if (!app || !app->ok()) {
        // No window can be shown: say it where the user can still read it, and go on as the
        // console front end does when no one can answer.
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        std::fflush(stderr);
        NotifyMessageBoxAcknowledged(title, text);
        return;
    }
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QString::fromStdString(title));
    box.setTextFormat(Qt::PlainText);  // the text is shown as it stands, never as markup
    box.setText(QString::fromStdString(text));
    box.setIcon(QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);  // Escape and the close box answer OK
    ScheduleShownHook(&box);
    box.exec();
    NotifyMessageBoxAcknowledged(title, text);
}

}  // namespace ui

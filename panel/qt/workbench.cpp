#include "panel/qt/workbench.h"

#include <QAction>
#include <QFileDialog>
#include <QWidget>

#include "panel/qt/analysis_window.h"
#include "panel/qt/live_window.h"
#include "panel/qt/registers_window.h"
#include "platform/ui/message_box.h"

namespace panel::qt {

Workbench::Workbench(QWidget& main_window, Panel& panel, PngEncoder* encoder,
                     std::function<void()> refresh)
    : main_(main_window), panel_(panel), encoder_(encoder), refresh_(std::move(refresh)) {
    // The background's context menu lists the actions with their shortcuts.
    main_.setContextMenuPolicy(Qt::ActionsContextMenu);
    AddAction("live", QStringLiteral("&Live view"), QKeySequence(Qt::Key_F5),
              [this] { OpenLive(); });
    AddAction("inspector", QStringLiteral("&Inspector"), QKeySequence(Qt::Key_F6),
              [this] { OpenInspector(); });
    AddAction("registers", QStringLiteral("&Registers"), QKeySequence(Qt::Key_F7),
              [this] { OpenRegisters(); });
    AddAction("save", QStringLiteral("&Save settings..."), QKeySequence(Qt::CTRL | Qt::Key_S),
              [this] { SaveSettings(); });
    AddAction("load", QStringLiteral("L&oad settings..."), QKeySequence(Qt::CTRL | Qt::Key_O),
              [this] { LoadSettings(); });
}

Workbench::~Workbench() {
    if (live_) live_->Stop();
}

QAction* Workbench::AddAction(const char* name, const QString& text, const QKeySequence& keys,
                              std::function<void()> run) {
    auto* action = new QAction(text, &main_);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(keys);
    action->setShortcutVisibleInContextMenu(true);
    // Also from the workbench's own windows.
    action->setShortcutContext(Qt::ApplicationShortcut);
    connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
    main_.addAction(action);
    return action;
}

QAction* Workbench::Action(const char* name) const {
    return main_.findChild<QAction*>(QString::fromLatin1(name));
}

LiveWindow& Workbench::OpenLive() {
    if (!live_) {
        live_ = std::make_unique<LiveWindow>(panel_, encoder_);
        live_->on_frame = [this](const Picture& p) {
            if (inspector_) inspector_->LiveFrame(p);
        };
    }
    live_->show();
    live_->raise();
    live_->Start();
    return *live_;
}

InspectorWindow& Workbench::OpenInspector() {
    if (!inspector_) {
        inspector_ = std::make_unique<InspectorWindow>();
        if (live_ && live_->Running()) {
            inspector_->SetSource(InspectorWindow::kLivePicture);
        } else {
            inspector_->LoadMonitorPicture();
        }
    } else if (inspector_->CurrentSource() == InspectorWindow::kMonitorPicture) {
        inspector_->LoadMonitorPicture();
    }
    inspector_->show();
    inspector_->raise();
    return *inspector_;
}

RegistersWindow& Workbench::OpenRegisters() {
    if (!registers_) {
        registers_ = std::make_unique<RegistersWindow>(panel_.Registers());
        // Beside the main window, below where the board's window goes.
        registers_->move(main_.frameGeometry().topRight() + QPoint(8, 320));
    }
    registers_->show();
    registers_->raise();
    return *registers_;
}

base::Result<> Workbench::SaveSettingsTo(const std::string& path) {
    base::Result<> r = SaveSettingsFile(path, panel_.State());
    if (!r.ok()) ui::ShowMessageBox("Lensbay", r.message());
    return r;
}

base::Result<> Workbench::LoadSettingsFrom(const std::string& path) {
    const base::Result<Settings> s = LoadSettingsFile(path);
    if (!s.ok()) {
        ui::ShowMessageBox("Lensbay", s.message());
        return s.error();
    }
    panel_.Apply(*s);
    if (refresh_) refresh_();
    return {};
}

void Workbench::SaveSettings() {
    const QString path = QFileDialog::getSaveFileName(
        &main_, QStringLiteral("Save settings"), QStringLiteral("lensbay-settings.txt"),
        QStringLiteral("Settings (*.txt *.cfg);;All files (*)"));
    if (!path.isEmpty()) (void)SaveSettingsTo(path.toStdString());
}

void Workbench::LoadSettings() {
    const QString path =
        QFileDialog::getOpenFileName(&main_, QStringLiteral("Load settings"), QString(),
                                     QStringLiteral("Settings (*.txt *.cfg);;All files (*)"));
    if (!path.isEmpty()) (void)LoadSettingsFrom(path.toStdString());
}

}  // namespace panel::qt

#include "panel/qt/workbench.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QScreen>
#include <QWidget>

#include "panel/qt/analysis_window.h"
#include "panel/qt/live_window.h"
#include "panel/qt/registers_window.h"
#include "panel/qt/window_placement.h"
#include "platform/ui/message_box.h"

namespace panel::qt {

Workbench::Workbench(QWidget& main_window, Panel& panel, PngEncoder* encoder,
                     std::function<void()> refresh, portio::BoardOperator* board)
    : main_(main_window),
      panel_(panel),
      encoder_(encoder),
      refresh_(std::move(refresh)),
      board_(board) {
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
        registers_ = std::make_unique<RegistersWindow>([this] {
            return BuildChipStatus(panel_.BoardRegisters(), PortBackendName(),
                                   panel_.BoardRecordPath(), board_ != nullptr, board_);
        });
        registers_->show();
        PlaceBesideOthers({registers_.get()});
    }
    registers_->show();
    registers_->raise();
    return *registers_;
}

void Workbench::PlaceBesideOthers(const std::vector<QWidget*>& windows) {
    if (windows.empty()) return;
    std::vector<QRect> taken;
    QWidget* anchor = nullptr;  // a window of the program already placed
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || std::find(windows.begin(), windows.end(), w) != windows.end())
            continue;
        taken.push_back(w->frameGeometry());
        if (!anchor) anchor = w;
    }
    QScreen* screen = (anchor ? anchor : windows.front())->screen();
    if (!screen) return;
    // A frame that the window manager has not drawn yet is taken to be as thick as an anchor's.
    const QSize frame =
        anchor ? anchor->frameGeometry().size() - anchor->geometry().size() : QSize();
    std::vector<QSize> sizes;
    for (QWidget* w : windows) sizes.push_back(w->size() + frame);
    const std::vector<QPoint> at = PlaceBeside(screen->availableGeometry(), taken, sizes);
    for (std::size_t i = 0; i < windows.size(); ++i) windows[i]->move(at[i]);
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

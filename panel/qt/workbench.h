// The workbench windows around the main window: the live view, the inspector, the register
// record and settings files, reached from the main window's context menu and shortcuts (F5,
// F6, F7, Ctrl+S, Ctrl+O). The main window's own layout is left as it is.
#pragma once

#include <QObject>
#include <memory>
#include <string>

#include "panel/panel.h"

class QAction;
class QWidget;

namespace portio {
class BoardOperator;
}

namespace panel::qt {

class InspectorWindow;
class LiveWindow;
class RegistersWindow;

class Workbench : public QObject {
public:
    // `refresh` shows the form state in the main window after settings were loaded; `board` is
    // the simulated board's operator side (null: none), whose chip the registers window shows.
    Workbench(QWidget& main_window, Panel& panel, PngEncoder* encoder,
              std::function<void()> refresh, portio::BoardOperator* board = nullptr);
    ~Workbench() override;

    LiveWindow& OpenLive();  // shows the live view and starts it
    InspectorWindow& OpenInspector();
    RegistersWindow& OpenRegisters();
    // The file dialogs, then the files; problems are shown in a box.
    void SaveSettings();
    void LoadSettings();
    base::Result<> SaveSettingsTo(const std::string& path);
    base::Result<> LoadSettingsFrom(const std::string& path);

    QAction* Action(const char* name) const;  // "live", "inspector", "registers", "save", "load"

    // Moves `windows` (shown already) beside the program's other visible windows (the main
    // window, the board's), covering none of them where the screen has room (window_placement.h).
    static void PlaceBesideOthers(const std::vector<QWidget*>& windows);

private:
    QAction* AddAction(const char* name, const QString& text, const QKeySequence& keys,
                       std::function<void()> run);

    QWidget& main_;
    Panel& panel_;
    PngEncoder* encoder_;
    std::function<void()> refresh_;
    portio::BoardOperator* board_;
    std::unique_ptr<LiveWindow> live_;
    std::unique_ptr<InspectorWindow> inspector_;
    std::unique_ptr<RegistersWindow> registers_;
};

}  // namespace panel::qt

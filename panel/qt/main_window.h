// Form1, the panel's main window: the fields, option groups and buttons at their places in
// twips (15 per pixel), each wired to its Panel handler.
#pragma once

#include <QWidget>
#include <array>

#include "panel/panel.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace panel::qt {

class MainWindow : public QWidget {
public:
    explicit MainWindow(Panel& panel, QWidget* parent = nullptr);

    // Shows every widget as the panel's form state says, without running any handler.
    void Refresh();

    QLineEdit* Field(int n) const { return fields_.at(n); }  // n = 1..8
    QRadioButton* Option(int group, int item) const {        // group 1..4, item 0..1
        return options_.at(group).at(item);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Tab and Shift+Tab follow this window's own order through every stop, option items
    // included (Qt would pass over the items of a group).
    bool focusNextPrevChild(bool next) override;

private:
    void Build();
    // An arrow key in an option group selects the group's other item, as a mouse click would.
    bool ArrowInGroup(QObject* watched, int key);
    // Runs a handler, then shows its effects.
    template <typename Handler>
    void Run(Handler handler);

    Panel& panel_;
    std::array<QLineEdit*, kFieldCount + 1> fields_{};
    std::array<std::array<QRadioButton*, 2>, kOptionGroupCount + 1> options_{};
    std::array<QWidget*, 20> tabOrder_{};
};

}  // namespace panel::qt

// The chip's state as a table (chip_status.h): each control with its register, range and
// default, what Lensbay's programs last wrote to it, when and by which, and on the simulated
// board what its chip holds; a value the board holds otherwise is marked.
#pragma once

#include <QWidget>
#include <functional>

#include "panel/chip_status.h"

class QLabel;
class QTableWidget;
class QTimer;

namespace panel::qt {

class RegistersWindow : public QWidget {
public:
    // `status` gives the state as it is now; it is asked again while the window is shown.
    explicit RegistersWindow(std::function<ChipStatus()> status, QWidget* parent = nullptr);
    void Refresh();
    QTableWidget* Table() const { return table_; }
    QLabel* Note() const { return note_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    std::function<ChipStatus()> status_;
    QLabel* note_;
    QTableWidget* table_;
    QTimer* timer_;
};

}  // namespace panel::qt

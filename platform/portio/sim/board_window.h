// The simulated evaluation board's own small window: the A[3:0] switches (settable by hand),
// the registers latched so far and whether the switches follow the panel's prompts.
#pragma once

#include <QWidget>
#include <array>

#include "platform/portio/board_operator.h"
#include "platform/portio/sim/board.h"

class QCheckBox;
class QLabel;

namespace sim {

// Without its own icon it shows the application's.
class SIM_EXPORT BoardWindow : public QWidget, public portio::BoardOperator::Window {
public:
    explicit BoardWindow(Board& board, QWidget* parent = nullptr);
    ~BoardWindow() override;

    // Shows the board's switches, latched registers and follow setting.
    void Refresh();

    QCheckBox* Switch(int bit) const { return switches_.at(bit); }          // A0 .. A3
    QLabel* Register(int address) const { return registers_.at(address); }  // FCTL 1 .. VWCTL 7
    QCheckBox* Follow() const { return follow_; }

private:
    Board& board_;
    std::array<QCheckBox*, 4> switches_{};
    std::array<QLabel*, 8> registers_{};
    QCheckBox* follow_ = nullptr;
};

}  // namespace sim

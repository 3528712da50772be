// The simulated evaluation board's own small window: the A[3:0] switches (settable by hand),
// the registers latched so far and whether the switches follow the panel's prompts.
#pragma once

#include <QWidget>
#include <array>

class QCheckBox;
class QLabel;

namespace sim {
class Board;
}

namespace panel::qt {

class BoardWindow : public QWidget {
public:
    explicit BoardWindow(sim::Board& board, QWidget* parent = nullptr);
    ~BoardWindow() override;

    // Shows the board's switches, latched registers and follow setting.
    void Refresh();

    QCheckBox* Switch(int bit) const { return switches_.at(bit); }          // A0 .. A3
    QLabel* Register(int address) const { return registers_.at(address); }  // FCTL 1 .. VWCTL 7
    QCheckBox* Follow() const { return follow_; }

private:
    sim::Board& board_;
    std::array<QCheckBox*, 4> switches_{};
    std::array<QLabel*, 8> registers_{};
    QCheckBox* follow_ = nullptr;
};

// While alive, the board's switches follow every acknowledged register-selection prompt
// ("... A[3:0]=0010"), as long as the board's follow setting is on.
class PromptFollower {
public:
    explicit PromptFollower(sim::Board& board);
    ~PromptFollower();
    PromptFollower(const PromptFollower&) = delete;
    PromptFollower& operator=(const PromptFollower&) = delete;

private:
    int handle_ = 0;
};

}  // namespace panel::qt

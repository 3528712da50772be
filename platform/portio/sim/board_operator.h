// The simulated board's operator side: its switches, whether they follow the panel's prompts,
// what a prompt's text selects, and its window.
#pragma once

#include <cstdint>
#include <string>

#include "platform/portio/board_operator.h"
#include "platform/portio/sim/board.h"

namespace sim {

// Reads the switch setting a register-selection prompt names, "A[3:0]=dddd" with four binary
// digits (A3 first), into *a (0..15). False, *a untouched, when the text names none.
SIM_EXPORT bool ParseRegisterSelection(const std::string& text, std::uint8_t* a);

class SIM_EXPORT SimBoardOperator final : public portio::BoardOperator {
public:
    explicit SimBoardOperator(Board& board) : board_(board) {}

    std::uint8_t Switches() const override { return board_.Switches(); }
    void SetSwitches(std::uint8_t a) override { board_.SetSwitches(a); }
    bool FollowsPrompts() const override { return board_.FollowsPrompts(); }
    void SetFollowsPrompts(bool on) override { board_.SetFollowsPrompts(on); }
    void PowerCycle() override { board_.PowerCycle(); }
    void PromptAcknowledged(const std::string& text) override;
    std::unique_ptr<PromptWatch> WatchPrompts() override;
    const std::array<std::optional<std::uint8_t>, 16>& Latched() const override {
        return board_.Latched();
    }
    std::unique_ptr<Window> OpenWindow(int left, int top) override;

    sim::Board& SimulatedBoard() { return board_; }

private:
    sim::Board& board_;
};

}  // namespace sim

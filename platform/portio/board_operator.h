// The operator's side of the board behind the port backend: what a person at the bench can see
// and set on it, apart from the port cycles. Only a backend with such a side hands one out (the
// simulated board: its A[3:0] switches, its window); a real port has none. Front ends get it
// from the program's start-up code and never learn which backend is behind it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/result.h"
#include "platform/portio/portio.h"

namespace portio {

// What a person at the bench sees of a board: its A[3:0] switches (A0 in bit 0), whether they
// follow the prompts, and the register values latched so far (by address).
struct BoardView {
    std::uint8_t switches = 0;
    bool follows_prompts = false;
    std::array<std::optional<std::uint8_t>, 16> latched{};
};

class BoardOperator {
public:
    // An open board window; closing it is destroying this.
    class Window {
    public:
        virtual ~Window() = default;
    };
    // While alive, every acknowledged message box is handed to PromptAcknowledged.
    class PromptWatch {
    public:
        virtual ~PromptWatch() = default;
    };

    virtual ~BoardOperator() = default;

    // The A[3:0] switches, A0 in bit 0.
    virtual std::uint8_t Switches() const = 0;
    virtual void SetSwitches(std::uint8_t a) = 0;
    // Whether the switches follow the panel's register-selection prompts.
    virtual bool FollowsPrompts() const = 0;
    virtual void SetFollowsPrompts(bool on) = 0;
    // Off and on again: the chip back in its reset state; the switches stay as set.
    virtual void PowerCycle() = 0;
    // A message box with this text was acknowledged: a register-selection prompt
    // ("... A[3:0]=0010") sets the switches while they follow the prompts; other texts do nothing.
    virtual void PromptAcknowledged(const std::string& text) = 0;
    virtual std::unique_ptr<PromptWatch> WatchPrompts() = 0;
    // The register values latched so far (by address), for display.
    virtual const std::array<std::optional<std::uint8_t>, 16>& Latched() const = 0;
    // Shows the board's window with its top-left corner at (left, top) on the screen; null in a
    // build without windows. Needs the application's widget machinery to be running.
    virtual std::unique_ptr<Window> OpenWindow(int left, int top) = 0;
};

inline BoardView ViewOf(const BoardOperator& board) {
    return {board.Switches(), board.FollowsPrompts(), board.Latched()};
}

// The simulated board as its state file keeps it, read without opening the port (another program
// may hold it) and without running a cycle; a board just powered on where the environment names
// no state file or the file is missing. Defined with the sim backend.
PORTIO_EXPORT base::Result<BoardView> ReadSimBoardState();

}  // namespace portio

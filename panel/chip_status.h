// The chip's state at a glance: every control of the camera chip (each register, and each option
// and window half within one) with its register, range and default, what Lensbay's programs last
// wrote to it (board_record.h), when and by whom, and, on the simulated board, what its chip
// holds, so that a register latched elsewhere (a switch set wrong by hand) shows. `lensbay
// status`, the console's `status` and the registers window all show this.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "panel/register_record.h"
#include "platform/base/result.h"
#include "platform/portio/board_operator.h"

namespace panel {

struct ControlStatus {
    const char* name = "";                   // the settings key ("exposure"), or "reset" for FCTL
    const chip::Control* control = nullptr;  // its description
    ChipRegister reg = ChipRegister::kFctl;  // the register that holds it
    std::string range;                       // RangeText ("0..127")
    std::string fallback;                    // the value after power-on and Default Setting ("64")
    // What the record says: the control's value ("40", "0.45", "on") or, unwritten, empty.
    std::string written;
    RegisterRecord::Entry::State state = RegisterRecord::Entry::kUnknown;
    std::string when;  // ISO 8601, UTC; empty when unwritten
    std::string by;
    std::optional<std::string> board;  // the simulated board's chip, where known
    bool differs = false;              // the board holds another value than was written
};

struct ChipStatus {
    std::string backend;         // PORTIO as chosen ("sim")
    std::string record_path;     // "" for a fresh simulated board
    bool simulated = false;      // the board's own registers are shown
    std::string board_problem;   // why the simulated board could not be read, if so
    std::string record_problem;  // why the board's record could not be read, if so
    std::string switches;        // the simulated board's A[3:0], A3 first
    bool follows_prompts = false;
    std::vector<ControlStatus> controls;
};

// The status from the record and, where there is one, the simulated board's chip (`latched`, by
// register address, and its switches, from `board`). `simulated` says whether the backend is the
// simulated board (then an unwritten control is "not written since power-on").
ChipStatus BuildChipStatus(const RegisterRecord& record, const std::string& backend,
                           const std::string& record_path, bool simulated,
                           const std::optional<portio::BoardView>& board);
// The same with the board's operator side, where the program has it open.
ChipStatus BuildChipStatus(const RegisterRecord& record, const std::string& backend,
                           const std::string& record_path, bool simulated,
                           const portio::BoardOperator* board);

// The status as `lensbay status` shows it, read without claiming or opening the port (so while
// another program holds it): the board's record and, on the simulated board, its state file. A
// record or board state that cannot be read is said in `record_problem` or `board_problem`. Fails
// (of the kind kPortRefused) when PORTIO names no port backend.
base::Result<ChipStatus> ReadChipStatus();

// A control's range as the table shows it: "0..127", "0..15 blocks", "0.45|1.0".
std::string RangeText(const chip::Control& control);

// What an unwritten control's "last written" says: "not written since power-on" on the simulated
// board, "not written since the record began" on a real one.
std::string UnwrittenText(const ChipStatus& status);
// The record's control text with its state: "40", "64 (Default Setting)", or UnwrittenText.
std::string WrittenText(const ChipStatus& status, const ControlStatus& control);

// A table for people, with a few lines on what the columns mean.
std::string FormatStatusText(const ChipStatus& status);
// The same for scripts, as one JSON object: a number control's range as numbers ({"min", "max",
// "step", "default"}) and its values as numbers, an option's range as the list of its words and
// its values as words.
std::string FormatStatusJson(const ChipStatus& status);

}  // namespace panel
